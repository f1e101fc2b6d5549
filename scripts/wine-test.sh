#!/usr/bin/env bash
# wine-test.sh WINEDIR NAME PROGRAM HOOKDIR [ARGUMENT...]
# Runs one Win32 test program, with the ARGUMENTs given, in a copy of the
# run's Wine prefix (of the kind QUELLOR_WINE_ARCH names: win64 for the x64
# build, win32 for the PE32 one), with d: mapped to an empty scratch
# folder. Where the kernel runs no 32-bit program, a PE32 program (and
# every Wine command of its scenario) runs under user-mode emulation. HOOKDIR/NAME.setup.sh (sourced before
# the run) and HOOKDIR/NAME.check.sh (sourced after it, with the prefix's
# server still up) may prepare the scenario and check what only the Linux
# side can see; a check that fails makes the test fail. Check hooks run with
# `set -e` in force, and each also ends on its own verdict.
#
# A scenario that passed is removed afterwards; a failed one is kept in
# WINEDIR/scenarios/NAME.
#
# The whole scenario runs on a virtual display of its own, so the prefix's
# server and every window it opens live there and never on a real desktop.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-lib.sh"
wine_require_arch
# A PE32 program in a 64-bit prefix (under WoW64) needs the 32-bit loader
# too: QUELLOR_WINE_PROGRAM_ARCH=win32 says so, and skips where it cannot run.
if [ -n "${QUELLOR_WINE_PROGRAM_ARCH:-}" ]; then wine_require_arch "$QUELLOR_WINE_PROGRAM_ARCH"; fi
wine_enter_emulation "$0" "$@"
if [ -z "${QUELLOR_ON_VIRTUAL_DISPLAY:-}" ]; then
    export QUELLOR_ON_VIRTUAL_DISPLAY=1
    exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$@"
fi
winedir=$1 name=$2 program=$3 hookdir=$4
shift 4
[ -f "$winedir/base/.ready" ] || "$here/wine-prefix.sh" base "$winedir"

scenario="$winedir/scenarios/$name"
rm -rf "$scenario"
mkdir -p "$scenario"
cp -a "$winedir/base" "$scenario/prefix"
export WINEPREFIX="$scenario/prefix"
export DRIVE_C="$WINEPREFIX/drive_c"
export DRIVE_D="$scenario/d"
export SCENARIO_DIR="$scenario"
trap wine_stop EXIT
# One server for the scenario: a server left to end by itself between two
# Wine commands of the hooks can be found going away by the next one
# ("recvmsg: Connection reset by peer"). A hook that restarts the server
# (Wine's simulated reboot) gets an ordinary one after that.
quellor_wineserver -p

wine_map_drive d "$DRIVE_D"
mkdir -p "$DRIVE_C/tests"
cp "$program" "$DRIVE_C/tests/"
program_name=$(basename "$program")

if [ -f "$hookdir/$name.setup.sh" ]; then source "$hookdir/$name.setup.sh"; fi

cd "$DRIVE_C"
status=0
HOME="$(wine_home_of "$WINEPREFIX")" timeout 300 "$WINELOADER" "C:\\tests\\$program_name" "$@" || status=$?

if [ "$status" = 0 ] && [ -f "$hookdir/$name.check.sh" ]; then
    wine_run_check "$hookdir/$name.check.sh"
    status=$hook_status
fi
# A prefix copy is large (over a gigabyte): a passed scenario's goes at
# once, a failed one stays for a look (QUELLOR_KEEP_SCENARIOS=1 keeps all).
wine_stop
trap - EXIT
cd "$winedir"
if [ "$status" = 0 ] && [ "${QUELLOR_KEEP_SCENARIOS:-0}" != 1 ]; then rm -rf "$scenario"; fi
exit "$status"
