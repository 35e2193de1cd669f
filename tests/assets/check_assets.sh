#!/bin/bash
# Checks of what is installed beside the programs: manual pages, AppStream
# entry, desktop entry, change log and bash completion.
#   check_assets.sh CHECK SOURCE_DIR QUILLON_CLI PROJECT_VERSION
# CHECK: man | metadata | version | cli-docs | completion
set -u
check=$1 src=$2 cli=$3 version=$4
assets=$src/assets
failed=0
complain() {
    echo "FAIL: $*"
    failed=1
}
need() { command -v "$1" >/dev/null || { complain "$1 is not installed (scripts/bootstrap.sh)"; exit 1; }; }

pages=("$assets/quillon.1" "$assets/quillon-cli.1" "$assets/quillon-portmon.8")

# The manual page's text (hyphens unescaped) of one .SS section, up to the next.
man_section() {
    sed 's/\\-/-/g' "$assets/quillon-cli.1" |
        awk -v name="$1" '/^\.S[SH] / { on = ($2 == name) } on'
}

# What the completion offers for a command line; the last word is completed.
complete_words() {
    (
        # shellcheck disable=SC1091
        source /usr/share/bash-completion/bash_completion
        source "$assets/quillon-cli.bash-completion"
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        COMP_LINE="$*"
        COMP_POINT=${#COMP_LINE}
        COMPREPLY=()
        _quillon_cli quillon-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf '%s\n' "${COMPREPLY[@]}"
    )
}

offers() { # offers WORD LINE...: the completion of LINE includes WORD
    local want=$1
    shift
    complete_words "$@" | grep -qxF -- "$want"
}

# Commands and options as quillon-cli's help gives them.
cli_commands() { "$cli" --help | awk '/^Subcommands:/ { on = 1; next } on && NF == 0 { exit } on { print $1 }'; }
cli_options() {
    "$cli" "$@" --help | grep -oE '^ +-[-a-zA-Z0-9,]+' | tr ',' '\n' | tr -d ' ' | grep -vxE -- '-h|--help'
}

case $check in
man)
    need man
    for page in "${pages[@]}"; do
        for locale in C C.UTF-8; do
            warnings=$(LC_ALL=$locale MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
            [ -z "$warnings" ] || complain "$(basename "$page") ($locale): $warnings"
        done
        LC_ALL=C.UTF-8 man -l "$page" 2>/dev/null | grep -q '^NAME' || complain "$(basename "$page") renders no NAME"
    done
    ;;
metadata)
    need appstreamcli
    need desktop-file-validate
    appstreamcli validate --no-net "$assets/org.quillon.Quillon.metainfo.xml" || complain "metainfo does not validate"
    out=$(desktop-file-validate "$assets/quillon.desktop" 2>&1) || complain "desktop entry: $out"
    [ -z "$out" ] || complain "desktop entry: $out"
    grep -qxF '<launchable type="desktop-id">quillon.desktop</launchable>' \
        <(sed 's/^ *//' "$assets/org.quillon.Quillon.metainfo.xml") || complain "metainfo does not launch quillon.desktop"
    ;;
version)
    # Everything that names a version names the project's.
    got=$(sed -n '1s/^quillon (\([^)]*\)).*/\1/p' "$assets/changelog")
    [ "$got" = "$version" ] || complain "changelog's newest entry is '$got', the project is $version"
    got=$(grep -o '<release version="[^"]*"' "$assets/org.quillon.Quillon.metainfo.xml" | head -1 | cut -d'"' -f2)
    [ "$got" = "$version" ] || complain "metainfo's newest release is '$got', the project is $version"
    for page in "${pages[@]}"; do
        grep -q "^\.TH .* \"Quillon $version\"" "$page" || complain "$(basename "$page"): .TH does not name Quillon $version"
    done
    got=$("$cli" --version)
    [ "$got" = "quillon-cli $version" ] || complain "quillon-cli --version says '$got'"
    ;;
cli-docs)
    # Every command and option quillon-cli has is in its manual page and is
    # offered by the completion.
    need man
    commands=$(cli_commands)
    [ -n "$commands" ] || complain "no commands in quillon-cli --help"
    for option in $(cli_options); do
        man_section "GLOBAL" | grep -qF -- "$option" || complain "manual page: global option $option"
        offers "$option" quillon-cli "${option:0:2}" || complain "completion: global option $option"
    done
    for command in $commands; do
        offers "$command" quillon-cli "" || complain "completion: command $command"
        section=$(man_section "$command")
        [ -n "$section" ] || complain "manual page: no section for $command"
        grep -q '^\.EX' <<<"$section" || complain "manual page: no example for $command"
        for option in $(cli_options "$command"); do
            grep -qE -- "(^|[^-a-z])$option([^-a-z]|$)" <<<"$section" ||
                complain "manual page: $command $option"
            offers "$option" quillon-cli "$command" "${option:0:2}" || complain "completion: $command $option"
        done
    done
    man_section "EXIT" | grep -q '^\.B 2' || complain "manual page: exit status"
    ;;
completion)
    need bash
    [ -f /usr/share/bash-completion/bash_completion ] || complain "bash-completion is not installed"
    expect() { # expect "WORDS OFFERED" LINE...
        local want=$1
        shift
        got=$(complete_words "$@" | sort | tr '\n' ' ')
        [ "$got" = "$want " ] || complain "completing '$*': '$got', expected '$want'"
    }
    expect "bands bin2hex" quillon-cli b
    expect "bands bin2hex" quillon-cli --max-size 1M b
    expect "ccitt crc16 crc32" quillon-cli hex2bin --crc ""
    expect "14 16 7" quillon-cli led --type ""
    expect "ccitt crc16 crc32" quillon-cli crc --type ""
    expect "kohm mohm ohm" quillon-cli bands --unit ""
    expect "gold gray green" quillon-cli bands brown g
    expect "" quillon-cli rt --beta ""
    expect "--no-reads --no-writes" quillon-cli monitor /dev/ttyS0 --no
    # File arguments and outputs complete file names.
    dir=$(mktemp -d)
    trap 'rm -rf "$dir"' EXIT
    touch "$dir/app.hex" "$dir/app.bin"
    expect "$dir/app.bin $dir/app.hex" quillon-cli hex2bin "$dir/app"
    expect "$dir/app.bin $dir/app.hex" quillon-cli array in.bin -o "$dir/a"
    # Ports for monitor: serial and parallel ports, and pty slaves; never the
    # pty master, consoles or the controlling terminal.
    script -qfc 'sleep 20' /dev/null </dev/null >/dev/null 2>&1 &
    holder=$!
    for _ in $(seq 50); do
        pty=$(ls -t /dev/pts 2>/dev/null | grep -x '[0-9]*' | head -1)
        [ -n "$pty" ] && break
        sleep 0.1
    done
    ports=$(complete_words quillon-cli monitor "" | sort)
    if [ -n "$pty" ]; then
        grep -qxF "/dev/pts/$pty" <<<"$ports" || complain "monitor: /dev/pts/$pty not offered"
    fi
    kill "$holder" 2>/dev/null
    for p in /dev/ttyS0 /dev/ttyUSB0 /dev/ttyACM0 /dev/lp0 /dev/parport0; do
        if [ -e "$p" ]; then grep -qxF "$p" <<<"$ports" || complain "monitor: $p not offered"; fi
    done
    bad=$(grep -xE '/dev/(tty|console|ptmx|pts/ptmx|tty[0-9]+)' <<<"$ports")
    [ -z "$bad" ] || complain "monitor offers $bad"
    if [ -n "$ports" ] && grep -qvE '^/dev/(ttyS|ttyUSB|ttyACM|ttyAMA|pts/[0-9]|lp[0-9]|parport|serial/by-id/)' <<<"$ports"; then
        complain "monitor offers what is no port: $ports"
    fi
    expect "" quillon-cli monitor /dev/null-not-a-port
    ;;
*)
    complain "unknown check $check"
    ;;
esac
[ "$failed" -eq 0 ] || exit 1
echo "$check: passed"
