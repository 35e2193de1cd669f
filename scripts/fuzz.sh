#!/bin/sh
# Runs every fuzz target of a QUILLON_FUZZ build for FUZZ_SECONDS each and
# fails if any of them finds something (crash, leak, sanitizer report,
# timeout, or a wrong result caught by the target's own checks).
#   scripts/fuzz.sh BUILD_DIR [target...]
# The corpus grows in BUILD_DIR/fuzz/corpus/<target>, seeded from
# fuzz/corpus/<target>; findings land in BUILD_DIR/fuzz/findings/.
set -u
build=${1:?build folder}
shift
seconds=${FUZZ_SECONDS:-30}
list="$build/fuzz/targets.txt"
[ -f "$list" ] || { echo "fuzz: $list missing (configure with -DQUILLON_FUZZ=ON)"; exit 1; }
work="$build/fuzz"
mkdir -p "$work/findings" "$work/tmp"
failed=""
while read -r name binary seeds; do
    if [ $# -gt 0 ]; then
        case " $* " in *" $name "*) ;; *) continue ;; esac
    fi
    corpus="$work/corpus/$name"
    mkdir -p "$corpus"
    [ -d "$seeds" ] || seeds=""
    printf 'fuzz: %-22s %ss ... ' "$name" "$seconds"
    # Scratch files of the targets go to a folder of our own.
    TMPDIR="$work/tmp" "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$work/findings/$name-" "$corpus" $seeds >"$work/$name.log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log")
    cov=$(grep -o 'cov: [0-9]*' "$work/$name.log" | tail -1)
    if [ $rc -eq 0 ]; then
        echo "ok, $runs runs, $cov"
    else
        echo "FOUND SOMETHING (exit $rc), see $work/$name.log"
        failed="$failed $name"
    fi
done <"$list"
rm -rf "$work/tmp"
if [ -n "$failed" ]; then
    echo "fuzz: findings in:$failed"
    exit 1
fi
