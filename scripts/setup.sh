#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test Quellor.
# Quick when everything is present; uses sudo only when not run as root.
set -euo pipefail

packages=(
    cmake g++ make googletest libgtest-dev python3 zip unzip
    pkg-config libhivex-dev
    clang libclang-rt-14-dev
    g++-mingw-w64-i686 binutils-mingw-w64-i686
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    wine wine64 wine32:i386
    xvfb xauth xdotool imagemagick
    qemu-system-x86 ovmf ntfs-3g mtools dosfstools fdisk cpio grub-common procps
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
fi
echo "installing: ${missing[*]}"
"${as_root[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
