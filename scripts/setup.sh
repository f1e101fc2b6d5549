#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test Quellor.
# Quick when everything is present; uses sudo only when not run as root.
#
# Where the kernel runs no 32-bit program, the PE32 programs run under
# user-mode emulation (scripts/wine-lib.sh): qemu-user, taken from the
# release's backports suite (its own qemu-user mishandles Wine's address
# space reservations). That suite is added from the Debian archive the
# machine already installs from, and only qemu-user is taken from it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

packages=(
    cmake g++ make googletest libgtest-dev python3 zip unzip
    pkg-config libhivex-dev ntfs-3g
    clang libclang-rt-14-dev
    g++-mingw-w64-i686 binutils-mingw-w64-i686
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    wine wine64 wine32:i386
    xvfb xauth xdotool imagemagick
    qemu-system-x86 ovmf ntfs-3g mtools dosfstools fdisk cpio grub-common procps
)

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)

installed() {  # installed PACKAGE
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q '^install ok installed$'
}

missing=()
for package in "${packages[@]}"; do
    installed "$package" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        "${as_root[@]}" dpkg --add-architecture i386
    fi
    echo "installing: ${missing[*]}"
    "${as_root[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

source "$here/wine-lib.sh"
wine_kernel_refuses_32bit >/dev/null || exit 0
wine_emulator_usable >/dev/null && exit 0

# The backports suite of this release, from the archive and with the options
# of the machine's own entry for the release (either form of entry).
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || { echo "setup.sh: /etc/os-release names no release" >&2; exit 1; }
backports=$codename-backports
suites=$(apt-get indextargets --format '$(RELEASE) $(SOURCESENTRY)' 'Created-By: Packages')
if ! awk -v suite="$backports" '$1 == suite { found = 1 } END { exit !found }' <<<"$suites"; then
    entry=$(awk -v suite="$codename" '$1 == suite { print $2; exit }' <<<"$suites")
    [ -n "$entry" ] || { echo "setup.sh: no apt source of Debian's $codename suite to take $backports from" >&2; exit 1; }
    file=${entry%:*} index=${entry##*:}
    case "$file" in
    *.sources)
        # The index-th stanza, its suite and components replaced.
        target=/etc/apt/sources.list.d/quellor-backports.sources
        stanza=$(awk -v want="$index" -v suite="$backports" '
            BEGIN { RS = ""; FS = "\n" }
            {
                entry = 0
                for (i = 1; i <= NF; i++) if ($i !~ /^[ \t]*#/) entry = 1
                if (!entry || ++n != want) next
                for (i = 1; i <= NF; i++) {
                    if ($i ~ /^[ \t]*#/) continue
                    if ($i ~ /^Suites:/) print "Suites: " suite
                    else if ($i ~ /^Components:/) print "Components: main"
                    else print $i
                }
                exit
            }' "$file") ;;
    *)
        # The index-th line: [options] URI suite components.
        target=/etc/apt/sources.list.d/quellor-backports.list
        stanza=$(sed -n "${index}p" "$file" | awk -v suite="$backports" '{
                line = $1; i = 2
                if ($2 ~ /^\[/) { while (i <= NF && $i !~ /\]$/) line = line " " $(i++); line = line " " $(i++) }
                print line " " $i " " suite " main"
            }') ;;
    esac
    grep -q "^Suites: $backports\$\| $backports main\$" <<<"$stanza" ||
        { echo "setup.sh: could not read the apt source entry $entry" >&2; exit 1; }
    echo "adding Debian's $backports suite (for qemu-user only) in $target:"
    echo "$stanza"
    echo "$stanza" | "${as_root[@]}" tee "$target" >/dev/null
fi
echo "installing: qemu-user from $backports (this kernel runs no 32-bit program)"
"${as_root[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "qemu-user/$backports"
wine_emulator_usable >/dev/null || { echo "setup.sh: $(wine_emulator_usable)" >&2; exit 1; }
