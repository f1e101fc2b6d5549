# Shell helpers for running our Win32 programs under Wine. Sourced, not run.
#
# Every prefix is 32-bit, keeps no z: drive (Wine maps the whole Linux root
# there) and no user shell folder linked into a real home folder, so that a
# program that deletes what it detects can only ever reach the folders a test
# made for it.

export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

# Runs a wine command for the current WINEPREFIX with a home folder of the
# prefix's own, so nothing Wine creates points into the caller's home.
wine_home_of() { printf '%s\n' "$1/.home"; }

quellor_wine() {
    HOME="$(wine_home_of "$WINEPREFIX")" wine "$@"
}

# wine_check_32bit [PREFIX]: fails, saying why, when Wine cannot run a
# 32-bit program here. Asks Wine's loader for its version, which needs no
# prefix (the 32-bit loader fails at once on a kernel without 32-bit
# support); given a made 32-bit PREFIX it also runs a trivial command there,
# since a Wine without its 32-bit half may answer --version with its 64-bit
# loader.
wine_check_32bit() {
    local prefix=${1:-} out
    if ! command -v wine >/dev/null; then
        echo "Wine is not installed (scripts/setup.sh installs it)" >&2
        return 1
    fi
    if ! out=$(wine --version 2>&1); then
        echo "this machine cannot run 32-bit programs: 'wine --version' failed: $out" >&2
        return 1
    fi
    [ -n "$prefix" ] || return 0
    out=$(WINEPREFIX=$prefix HOME="$(wine_home_of "$prefix")" wine cmd /c echo wine-runs-32-bit 2>&1 | tr -d '\r') ||
        true
    if ! grep -qx wine-runs-32-bit <<<"$out"; then
        echo "this machine cannot run 32-bit programs under Wine: a trivial command in the 32-bit prefix" \
             "$prefix failed: $out" >&2
        return 1
    fi
}

# wine_make_prefix DIR: a new prefix in DIR, made safe to scan.
wine_make_prefix() {
    local prefix=$1
    rm -rf "$prefix"
    mkdir -p "$(wine_home_of "$prefix")"
    export WINEPREFIX=$prefix
    HOME="$(wine_home_of "$prefix")" wineboot -i >"$prefix.boot.log" 2>&1 || true
    wineserver -w
    [ -f "$prefix/system.reg" ] || { echo "wineboot did not make $prefix" >&2; cat "$prefix.boot.log" >&2; return 1; }
    rm -f "$prefix/dosdevices/z:"
    # Shell folders are links into the home folder; make them plain folders.
    local link
    find "$prefix/drive_c/users" -maxdepth 2 -type l | while read -r link; do
        rm -f "$link" && mkdir -p "$link"
    done
    quellor_wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wineserver -w
}

# wine_set_version win98|winxp|win7...: the Windows version Wine reports.
wine_set_version() {
    quellor_wine reg add 'HKCU\Software\Wine' /v Version /d "$1" /f >/dev/null 2>&1
}

# wine_map_drive LETTER FOLDER: maps a drive letter to a Linux folder as a
# fixed disk.
wine_map_drive() {
    local letter=$1 folder=$2
    mkdir -p "$folder" &&
        ln -sfn "$folder" "$WINEPREFIX/dosdevices/$letter:" &&
        quellor_wine reg add 'HKLM\Software\Wine\Drives' /v "$letter:" /d hd /f >/dev/null 2>&1
}

# wine_run_check HOOK: sources a check hook in a subshell with `set -e` in
# force and leaves its exit status in hook_status. A hook run on the left of
# || or as an if condition would have `set -e` turned off inside, and a
# failing check in it would go unnoticed. Leaves `set -e` on.
wine_run_check() {
    set +e
    (
        set -euo pipefail
        source "$1"
    )
    hook_status=$?
    set -e
}

# Exit status of a Wine test that could not run on this machine; ctest
# reports it as skipped, never as passed.
wine_skip_status=77

# wine_unavailable_reason: prints why Wine cannot run our 32-bit programs on
# this machine and succeeds, or prints nothing and fails when it can.
wine_unavailable_reason() {
    local reason
    reason=$(wine_check_32bit 2>&1) && return 1
    printf '%s\n' "$reason"
}

# wine_skip_unless_runnable: ends the calling script with wine_skip_status
# and a line on standard error when Wine cannot run here. With
# QUELLOR_REQUIRE_WINE=1 that is a failure instead.
wine_skip_unless_runnable() {
    local reason
    reason=$(wine_unavailable_reason) || return 0
    if [ "${QUELLOR_REQUIRE_WINE:-0}" = 1 ]; then
        echo "FAILED: Wine is required but cannot run: $reason" >&2
        exit 1
    fi
    echo "SKIPPED: $reason" >&2
    exit "$wine_skip_status"
}

# wine_stop: ends the wineserver of the current prefix (and so every Wine
# process of that prefix, all of them ours).
wine_stop() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
}
