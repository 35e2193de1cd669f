#!/bin/sh
# Builds the project with AddressSanitizer + UndefinedBehaviorSanitizer and
# runs the whole test suite, then runs the thread tests that need no Qt under
# ThreadSanitizer (Qt itself is not built for it).
#   scripts/sanitize.sh [ASAN_BUILD_DIR [TSAN_BUILD_DIR]]
set -eu
cd "$(dirname "$0")/.."
asan=${1:-build-sanitize}
tsan=${2:-build-tsan}
launcher=""
if command -v ccache >/dev/null 2>&1; then
    launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$(pwd)")}"
fi
# -O0: the sanitizers need no optimisation, and it builds far quicker; no
# debug information either (reports name functions, not lines: for lines,
# SANITIZE_FLAGS="-O0 -g1"). A unity build parses the Qt and test headers
# once per batch of files instead of once per file.
flags=${SANITIZE_FLAGS:--O0 -g0}
configure() {
    dir=$1
    shift
    # shellcheck disable=SC2086
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$flags" \
        -DCMAKE_C_FLAGS_RELWITHDEBINFO="$flags" -DCMAKE_UNITY_BUILD=ON $launcher "$@" >/dev/null
}
supp="$(pwd)/scripts/sanitize.supp"

configure "$asan" -DQUILLON_SANITIZE=address,undefined
cmake --build "$asan"
(
    cd "$asan"
    QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1 \
        LSAN_OPTIONS="suppressions=$supp:print_suppressions=0" UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --output-on-failure -j2 --timeout 600
)

# The thread tests of the serial core (reader and writer threads on
# pseudo-terminals, stop and join) and of the capture client (a load
# cancelled from another thread).
thread_tests="serial_comm_test monitor_client_test"
configure "$tsan" -DQUILLON_SANITIZE=thread
cmake --build "$tsan" --target $thread_tests
for t in $thread_tests; do
    bin=$(find "$tsan/tests" -name "$t" -type f -perm -u+x | head -1)
    echo "tsan: $t"
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" "$bin" --gtest_brief=1
done
