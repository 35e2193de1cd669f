#!/bin/sh
# Installs the Debian packages the build, the tests, the screenshots and the
# package (and its checks) need.
# Quiet and fast when everything is already present.
set -e
PKGS="cmake ninja-build g++ make pkg-config qt6-base-dev libgl-dev libudev-dev libgtest-dev libgmock-dev \
zlib1g-dev libcli11-dev srecord binutils xxd xvfb xauth fonts-noto-cjk imagemagick qt6-translations-l10n \
clang libclang-rt-14-dev libbpf-dev bpftool libelf-dev ccache \
dpkg-dev file lintian appstream librsvg2-bin man-db groff-base bash-completion desktop-file-utils libqcustomplot-dev"
missing=""
for p in $PKGS; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "bootstrap: installing$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
