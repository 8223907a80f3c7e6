#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, when they are missing.
# Runs as root, or through sudo.
set -euo pipefail

packages=(
    build-essential cmake g++ clang clang-format clang-tidy libclang-rt-14-dev
    libgtest-dev libgmock-dev googletest
    qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core
    xvfb xdotool x11-apps x11-utils imagemagick
    # The demo's and the screenshots' virtual desktop: a small window manager, and the narrow
    # face of its title bars.
    jwm fonts-dejavu-extra
    tftpd-hpa atftp curl iproute2 time valgrind strace git
    desktop-file-utils appstream man-db dpkg-dev file lintian
    # The README's commands that a normal user runs with sudo run as written by root too.
    sudo
    # setcap and getcap, for the capability of zeb40-arp-clear in its tests and install checks.
    libcap2-bin
    # The Windows build (MinGW-w64 with POSIX threads) and Wine, which runs its tests.
    g++-mingw-w64-x86-64-posix wine wine64
    # Wine's own fonts, among them MS Sans Serif, the Windows window's font.
    fonts-wine
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "setup: run as root or install sudo" >&2; exit 1; }
    as_root=(sudo)
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# The TFTP server is only started by our tests, on loopback ports they pick: keep the package's
# own service from starting during the install.
policy=/usr/sbin/policy-rc.d
made_policy=0
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | "${as_root[@]}" tee "$policy" >/dev/null
    "${as_root[@]}" chmod +x "$policy"
    made_policy=1
fi
trap '[ $made_policy -eq 1 ] && "${as_root[@]}" rm -f "$policy"' EXIT
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
