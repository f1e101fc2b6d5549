#!/usr/bin/env bash
# wine-prefix.sh base WINEDIR
# Makes the test run's Wine prefix WINEDIR/base once (of the kind
# QUELLOR_WINE_ARCH names); scenarios copy it. A 64-bit prefix for PE32
# programs (QUELLOR_WINE_PROGRAM_ARCH=win32) is made where the 32-bit loader
# runs too, so that its WoW64 half is set up.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-lib.sh"

[ "${1:-}" = base ] && [ -n "${2:-}" ] || { echo "usage: $0 base WINEDIR" >&2; exit 2; }
winedir=$2
wine_require_arch
if [ -n "${QUELLOR_WINE_PROGRAM_ARCH:-}" ]; then wine_require_arch "$QUELLOR_WINE_PROGRAM_ARCH"; fi
wine_enter_emulation "$0" "$@"
mkdir -p "$winedir"
exec 9>"$winedir/.lock"
flock 9
if [ -f "$winedir/base/.ready" ]; then exit 0; fi
wine_make_prefix "$winedir/base"
wine_stop
touch "$winedir/base/.ready"
echo "made $(wine_pass_name) Wine prefix $winedir/base$([ -z "${QUELLOR_WINE_EMULATED:-}" ] || echo ' under user-mode emulation')"
