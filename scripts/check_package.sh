#!/bin/sh
# Checks the Debian package that `make package` built in BUILD_DIR: its control
# fields, that it holds every file it should, that the unpacked quillon-cli
# runs, and that lintian finds no error (its warnings are kept in
# BUILD_DIR/lintian.txt and shown). Nothing is installed on this machine: the
# package is only unpacked into a temporary folder.
set -eu
build=${1:-build}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
deb="$build/quillon_${version}_${arch}.deb"
[ -f "$deb" ] || { echo "check_package: $deb is missing (make package)"; exit 1; }
failed=0
complain() { echo "check_package: $*"; failed=1; }

# Control fields.
info=$(dpkg-deb --info "$deb")
field() { printf '%s\n' "$info" | sed -n "s/^ $1: //p"; }
[ "$(field Package)" = quillon ] || complain "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || complain "Version is '$(field Version)', the project's is $version"
[ "$(field Architecture)" = "$arch" ] || complain "Architecture is '$(field Architecture)'"
[ "$(field Section)" = electronics ] || complain "Section is '$(field Section)'"
[ "$(field Priority)" = optional ] || complain "Priority is '$(field Priority)'"
case $(field Maintainer) in *@*) ;; *) complain "Maintainer '$(field Maintainer)' has no address" ;; esac
[ -n "$(field Description)" ] || complain "no Description"
printf '%s\n' "$info" | grep -q '^  *[A-Za-z]' || complain "Description has no long text"
depends=$(field Depends)
# From the binaries (dpkg-shlibdeps), then the packages loaded at run time.
for d in libc6 libqt6widgets6 libqt6gui6 libqt6core6 libbpf1 libudev1 \
    qt6-qpa-plugins fonts-noto-cjk qt6-translations-l10n; do
    printf '%s\n' "$depends" | tr ',' '\n' | grep -q "^ *$d\( \|$\)" || complain "Depends lacks $d: $depends"
done

# Contents. Every line is a file the package must hold.
contents=$(dpkg-deb --contents "$deb" | awk '{ print $6 }')
required="
./usr/bin/quillon
./usr/bin/quillon-cli
./usr/bin/quillon-portmon
./usr/share/applications/quillon.desktop
./usr/share/metainfo/org.quillon.Quillon.metainfo.xml
./usr/share/icons/hicolor/scalable/apps/quillon.svg
./usr/share/man/man1/quillon.1.gz
./usr/share/man/man1/quillon-cli.1.gz
./usr/share/man/man8/quillon-portmon.8.gz
./usr/share/bash-completion/completions/quillon-cli
./usr/share/doc/quillon/copyright
./usr/share/doc/quillon/changelog.gz
"
for size in 16 22 24 32 48 64 128 256; do
    required="$required ./usr/share/icons/hicolor/${size}x${size}/apps/quillon.png"
done
# The capture helper's polkit action.
required="$required ./usr/share/polkit-1/actions/org.quillon.portmon.policy"
for f in $required; do
    printf '%s\n' "$contents" | grep -qxF "$f" || complain "the package lacks $f"
done

# Unpacked (never installed), the command-line tool runs and knows its version.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
got=$("$root/usr/bin/quillon-cli" --version) || complain "the unpacked quillon-cli --version failed"
[ "$got" = "quillon-cli $version" ] || complain "the unpacked quillon-cli says '$got'"
for size in 16 22 24 32 48 64 128 256; do
    png="$root/usr/share/icons/hicolor/${size}x${size}/apps/quillon.png"
    [ -f "$png" ] || continue
    file -b "$png" | grep -q "^PNG image data, $size x $size," || complain "$png is not a $size x $size PNG"
done
# pkexec runs the helper only from the path the action names: the packaged one.
policy="$root/usr/share/polkit-1/actions/org.quillon.portmon.policy"
if [ -f "$policy" ]; then
    grep -q '<annotate key="org.freedesktop.policykit.exec.path">/usr/bin/quillon-portmon</annotate>' "$policy" ||
        complain "the polkit action does not name /usr/bin/quillon-portmon"
fi
for page in man1/quillon.1.gz man1/quillon-cli.1.gz man8/quillon-portmon.8.gz; do
    [ -f "$root/usr/share/man/$page" ] || continue
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/$page" 2>&1 >/dev/null) || true
    [ -z "$warnings" ] || complain "man $page: $warnings"
done

# lintian: errors fail, warnings are listed.
command -v lintian >/dev/null || complain "lintian is not installed (scripts/bootstrap.sh)"
lintian --tag-display-limit 0 --display-info "$deb" >"$build/lintian.txt" 2>&1 || true
if grep -q '^E: ' "$build/lintian.txt"; then
    complain "lintian reports errors:"
    grep '^E: ' "$build/lintian.txt"
fi
if grep -q '^[WI]: ' "$build/lintian.txt"; then
    echo "check_package: lintian's warnings and notes ($build/lintian.txt):"
    grep '^[WI]: ' "$build/lintian.txt"
fi

if [ "$failed" -ne 0 ]; then
    echo "check_package: $deb FAILED"
    exit 1
fi
echo "check_package: $deb passed"
