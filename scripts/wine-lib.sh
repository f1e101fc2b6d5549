# Shell helpers for running our Win32 programs under Wine. Sourced, not run.
#
# Two kinds of prefix, chosen by QUELLOR_WINE_ARCH before sourcing (or with
# wine_use_arch afterwards):
# - win64: the x64 build, under Wine's 64-bit loader. Every machine of ours
#   runs it.
# - win32: the PE32 build, under Wine's 32-bit loader. Where the kernel runs
#   it, natively. Some kernels run no 32-bit program at all ("Exec format
#   error"); there, and only there, the 32-bit loader runs under user-mode
#   emulation (qemu-i386), handed to it by a binfmt_misc entry that exists
#   only in a user namespace of the test's own (wine_in_emulation), never
#   for the whole machine. Where that emulation is missing too, this kind is
#   skipped.
# Debian's /usr/bin/wine picks the 32-bit loader whenever wine32 is
# installed, so the loaders are called by their own paths.
#
# Every prefix keeps no z: drive (Wine maps the whole Linux root there) and
# no user shell folder linked into a real home folder, so that a program
# that deletes what it detects can only ever reach the folders a test made
# for it.

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

# The loaders and the server; tests of these scripts point them elsewhere.
QUELLOR_WINE32_LOADER=${QUELLOR_WINE32_LOADER:-/usr/lib/wine/wine}
QUELLOR_WINE64_LOADER=${QUELLOR_WINE64_LOADER:-/usr/lib/wine/wine64}
if [ -z "${QUELLOR_WINESERVER:-}" ]; then
    if [ -x /usr/lib/wine/wineserver64 ]; then QUELLOR_WINESERVER=/usr/lib/wine/wineserver64
    else QUELLOR_WINESERVER=wineserver; fi
fi
export WINESERVER=$QUELLOR_WINESERVER

# Exit status of a Wine test that could not run on this machine; ctest
# reports it as skipped, never as passed.
wine_skip_status=77

# wine_use_arch win32|win64: the kind of prefix and loader used from here on.
wine_use_arch() {
    case "$1" in
        win32) export WINELOADER=$QUELLOR_WINE32_LOADER ;;
        win64) export WINELOADER=$QUELLOR_WINE64_LOADER ;;
        *) echo "unknown Wine architecture '$1' (win32 or win64)" >&2; return 1 ;;
    esac
    export QUELLOR_WINE_ARCH=$1 WINEARCH=$1
}
wine_use_arch "${QUELLOR_WINE_ARCH:-win64}"

# The name a pass goes by in messages.
wine_pass_name() {
    case "${1:-$QUELLOR_WINE_ARCH}" in win32) echo "PE32 (i686)" ;; *) echo "x64" ;; esac
}

# Runs a wine command for the current WINEPREFIX with a home folder of the
# prefix's own, so nothing Wine creates points into the caller's home.
wine_home_of() { printf '%s\n' "$1/.home"; }

quellor_wine() {
    HOME="$(wine_home_of "$WINEPREFIX")" "$WINELOADER" "$@"
}

quellor_wineserver() {
    "$QUELLOR_WINESERVER" "$@"
}

# quellor_reg ARGUMENTS...: a change made with Wine's reg tool (add, copy,
# import, delete) for the current prefix. On a loaded machine one call in a
# long series of them has been seen to fail, now and then, and succeed when
# made again: a failed call is made once more. Each failure prints the end
# of the tool's output on standard error; after two, the tool's status is
# returned. The output goes to a file, not a pipe: a call that starts the
# prefix's services would leave them holding a pipe open.
quellor_reg() {
    local out="$WINEPREFIX/.reg-output" try status=0
    for try in 1 2; do
        quellor_wine reg "$@" >"$out" 2>&1 && { rm -f "$out"; return 0; }
        status=$?
        echo "reg $1 failed (try $try, status $status): $(tail -n 3 "$out" | tr -d '\r' | tr '\n' ' ' | cut -c1-300)" >&2
    done
    rm -f "$out"
    return "$status"
}

# A batch of registry values written by one call of Wine's reg tool (reg
# import) where a series of reg add calls would start a Wine process each,
# which under user-mode emulation takes seconds. Values are written in the
# order they were added, as reg add writes them.
# wine_reg_batch NAME: starts the batch file C:\NAME.
wine_reg_batch() {
    printf 'REGEDIT4\r\n' > "$WINEPREFIX/drive_c/$1"
}

# wine_reg_batch_add NAME KEY VALUE TYPE DATA: adds the value that
# `reg add KEY /v VALUE /t TYPE /d DATA` writes: KEY under HKCU or HKLM; a
# REG_MULTI_SZ's strings parted by \0, a REG_BINARY's bytes as hex digits, a
# REG_DWORD in decimal.
wine_reg_batch_add() {
    local file="$WINEPREFIX/drive_c/$1" key=$2 value=$3 type=$4 data=$5 encoded rest
    case "$key" in
        HKCU\\*) key="HKEY_CURRENT_USER\\${key#*\\}" ;;
        HKLM\\*) key="HKEY_LOCAL_MACHINE\\${key#*\\}" ;;
        *) echo "wine_reg_batch_add: key outside HKCU and HKLM: $key" >&2; return 1 ;;
    esac
    case "$type" in
        REG_SZ) encoded=\"$(wine_reg_quote "$data")\" ;;
        REG_EXPAND_SZ) encoded="hex(2):$(wine_reg_bytes "$data" 00)" ;;
        REG_MULTI_SZ)
            encoded= rest=$data
            while [[ $rest == *'\0'* ]]; do
                encoded+=$(wine_reg_bytes "${rest%%'\0'*}" 00),
                rest=${rest#*'\0'}
            done
            encoded="hex(7):$encoded$(wine_reg_bytes "$rest" 00),00" ;;
        REG_BINARY) encoded="hex:$(sed 's/../&,/g; s/,$//' <<<"$data")" ;;
        REG_DWORD) encoded=$(printf 'dword:%08x' "$data") ;;
        *) echo "wine_reg_batch_add: type $type is not written by batches" >&2; return 1 ;;
    esac
    printf '\r\n[%s]\r\n"%s"=%s\r\n' "$key" "$(wine_reg_quote "$value")" "$encoded" >> "$file"
}
wine_reg_quote() { local text=${1//\\/\\\\}; printf '%s' "${text//\"/\\\"}"; }
wine_reg_bytes() {  # wine_reg_bytes TEXT END: TEXT's bytes as hex, then END
    { printf '%s' "$1" | od -An -tx1 -v | tr -s ' \n' '\n\n' | grep .; echo "$2"; } | paste -sd,
}

# wine_reg_batch_import NAME: writes the batch's values.
wine_reg_batch_import() {
    quellor_reg import "C:\\$1"
}

# The user-mode emulator of 32-bit programs, and the oldest version of it
# known to run Wine's 32-bit loader (older ones take Wine's fixed address
# reservations as hints: every process spends a minute, then fails).
QUELLOR_QEMU_I386=${QUELLOR_QEMU_I386:-/usr/bin/qemu-i386}
wine_emulator_min_version=10.0
# MAGIC:MASK of the programs handed to it, as binfmt_misc reads them: i386
# ELF executables and shared objects.
QUELLOR_WINE_EMULATED_ELF=${QUELLOR_WINE_EMULATED_ELF:-'\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'}

# wine_kernel_refuses_32bit: whether the kernel refuses Wine's 32-bit loader
# as a program of a format it does not run ("Exec format error"), and for no
# other reason. The refusal is left on standard output.
wine_kernel_refuses_32bit() {
    local out status=0
    out=$("$QUELLOR_WINE32_LOADER" --version 2>&1) && return 1
    status=$?
    sed 's/^.*: line [0-9]*: //' <<<"$out"
    [ "$status" = 126 ] && grep -q 'Exec format error' <<<"$out"
}

# wine_emulator_usable: whether the emulator is installed and new enough;
# otherwise why not, on standard output.
wine_emulator_usable() {
    local version
    if [ ! -x "$QUELLOR_QEMU_I386" ]; then
        echo "no user-mode emulator: $QUELLOR_QEMU_I386 is not installed (scripts/setup.sh installs qemu-user)"
        return 1
    fi
    version=$("$QUELLOR_QEMU_I386" --version 2>/dev/null | sed -n '1s/.* version \([0-9][0-9.]*\).*/\1/p')
    if [ -z "$version" ] || ! printf '%s\n%s\n' "$wine_emulator_min_version" "$version" | sort -V -C; then
        echo "the emulator $QUELLOR_QEMU_I386 (version ${version:-unknown}) is older than $wine_emulator_min_version, the oldest known to run Wine's 32-bit loader (scripts/setup.sh installs a newer one)"
        return 1
    fi
}

# What runs in the emulation's namespaces: $1 the binfmt_misc entry, $2 and
# $3 the caller's user and group, then the command. The first namespace maps
# the caller to root, which may mount the namespace's own binfmt_misc (the
# kernel gives each user namespace its own; that of the whole machine is
# never written, also not by root: a new user namespace is made for root
# too) and registers the emulator there. The command runs in a second one,
# nested, as the caller's own user again: Wine then finds its files owned
# by the user it runs as, and its server folder where it is outside. A
# nested namespace without a binfmt_misc of its own uses its parent's.
wine_emulation_inside='
mount -t binfmt_misc quellor-binfmt /proc/sys/fs/binfmt_misc || exit 125
printf "%s" "$1" >/proc/sys/fs/binfmt_misc/register || exit 125
export QUELLOR_WINE_EMULATED=1
uid=$2 gid=$3
shift 3
exec unshare --user --map-user="$uid" --map-group="$gid" -- "$@"
'

# wine_in_emulation COMMAND...: runs COMMAND where i386 programs run under
# the emulator. Status 125, with the reason on standard error, when the
# namespace or its binfmt_misc could not be made.
wine_in_emulation() {
    wine_emulation_command
    "${wine_emulation_argv[@]}" "$@"
}
# wine_emulation_command: the command that wine_in_emulation puts in front
# of its own, in wine_emulation_argv.
wine_emulation_command() {
    wine_emulation_argv=(unshare --user --map-root-user --mount -- bash -c "$wine_emulation_inside" quellor-emulation
        ":quellor-i386:M::${QUELLOR_WINE_EMULATED_ELF}:${QUELLOR_QEMU_I386}:F" "$(id -u)" "$(id -g)")
}

# wine_check_arch [ARCH]: how this machine runs the loader of ARCH.
# Status 0: natively. Status 3: the kernel refuses 32-bit programs and the
# 32-bit loader runs under user-mode emulation. Status 1: the kernel refuses
# them and there is no emulation either. Status 2: anything else, a missing
# or broken Wine (or a broken emulation) included, which a caller must treat
# as a failure. A line on standard output says which and why.
wine_check_arch() {
    local arch=${1:-$QUELLOR_WINE_ARCH} loader out status=0 refusal why
    case "$arch" in
        win32) loader=$QUELLOR_WINE32_LOADER ;;
        win64) loader=$QUELLOR_WINE64_LOADER ;;
        *) echo "unknown Wine architecture '$arch'"; return 2 ;;
    esac
    if [ ! -e "$loader" ]; then
        echo "Wine's $(wine_pass_name "$arch") loader $loader is not installed (scripts/setup.sh installs it)"
        return 2
    fi
    if [ "$arch" = win32 ] && [ -n "${QUELLOR_WINE_EMULATED:-}" ]; then
        # Inside the emulation's namespace: the loader runs only through it.
        out=$("$loader" --version 2>&1) || { echo "Wine's PE32 loader failed under emulation: $out"; return 2; }
        echo "under user-mode emulation ($QUELLOR_QEMU_I386)"
        return 3
    fi
    if [ "$arch" = win32 ] && refusal=$(wine_kernel_refuses_32bit); then
        refusal="this machine's kernel runs no 32-bit program, Wine's 32-bit loader included ($refusal)"
        why=$(wine_emulator_usable) || { echo "$refusal; $why"; return 1; }
        why=$(wine_in_emulation true 2>&1) ||
            { echo "$refusal; user-mode emulation is not available here: ${why:-no private binfmt_misc}"; return 1; }
        out=$(wine_in_emulation "$loader" --version 2>&1) ||
            { echo "$refusal; under user-mode emulation ($QUELLOR_QEMU_I386) it fails too: $out"; return 2; }
        echo "$refusal; it runs under user-mode emulation ($QUELLOR_QEMU_I386)"
        return 3
    fi
    out=$("$loader" --version 2>&1) || status=$?
    [ "$status" = 0 ] && return 0
    echo "Wine's $(wine_pass_name "$arch") loader $loader failed (status $status): $out"
    return 2
}

# wine_mode_name STATUS: the word for a status of wine_check_arch.
wine_mode_name() {
    case "$1" in 0) echo native ;; 3) echo emulated ;; 1) echo skipped ;; *) echo failed ;; esac
}

# wine_pass_required ARCH: the x64 pass always is; the PE32 pass when
# QUELLOR_REQUIRE_WINE names i686 or is "all" (a machine that must show it).
wine_pass_required() {
    [ "$1" = win64 ] && return 0
    case "${QUELLOR_REQUIRE_WINE:-x64}" in all|*i686*) return 0 ;; esac
    return 1
}

# wine_require_arch [ARCH]: returns when the loader runs, natively or under
# emulation (then wine_needs_emulation is 1); otherwise ends the calling
# script: with wine_skip_status where the kernel refuses 32-bit programs and
# no emulation runs them (unless that pass is required), with 1 for
# anything else.
wine_needs_emulation=0
wine_require_arch() {
    local arch=${1:-$QUELLOR_WINE_ARCH} reason status=0
    reason=$(wine_check_arch "$arch") || status=$?
    case "$status" in
        0) return 0 ;;
        3) wine_needs_emulation=1; return 0 ;;
    esac
    if [ "$status" = 1 ] && ! wine_pass_required "$arch"; then
        echo "SKIPPED: $reason" >&2
        exit "$wine_skip_status"
    fi
    echo "FAILED: $reason" >&2
    exit 1
}

# wine_enter_emulation SCRIPT [ARGUMENT...]: where wine_require_arch found
# that the 32-bit loader needs the emulation, runs SCRIPT again inside it,
# in place of the caller; otherwise returns.
wine_enter_emulation() {
    [ "$wine_needs_emulation" = 1 ] && [ -z "${QUELLOR_WINE_EMULATED:-}" ] || return 0
    wine_emulation_command
    exec "${wine_emulation_argv[@]}" "$@"
}

# The Wine passes of a test run (scripts/test.sh): each is a build's ctest
# (its import and hardening checks, then its Wine tests) in fresh prefixes,
# natively or, for the PE32 programs on a kernel that runs no 32-bit
# program, under user-mode emulation. A pass counts as run only when none
# of its tests was skipped; a required pass that was skipped fails.
wine_passes_native=() wine_passes_emulated=() wine_passes_skipped=() wine_passes_failed=0

# wine_pass BUILD_DIR ARCH [JOBS]
wine_pass() {
    local dir=$1 arch=$2 jobs=${3:-1} build log status=0 reason mode started seconds
    build=$(basename "$dir")
    reason=$(wine_check_arch "$arch") || status=$?
    mode=$(wine_mode_name "$status")
    case "$mode" in
        native) echo "== $build: $(wine_pass_name "$arch") programs under Wine, natively" ;;
        emulated) echo "== $build: $(wine_pass_name "$arch") programs under Wine, under user-mode emulation: $reason" ;;
        skipped) echo "== $build: THE $(wine_pass_name "$arch") WINE TESTS WILL BE SKIPPED: $reason" ;;
        *) echo "== $build: FAILED: $reason"; wine_passes_failed=1 ;;
    esac
    rm -rf "$dir/wine"
    log="$dir/ctest.log"
    started=$SECONDS
    (cd "$dir" && ctest --output-on-failure -j "$jobs") 2>&1 | tee "$log" || wine_passes_failed=1
    seconds=$((SECONDS - started))
    echo "== $build: $((seconds / 60)) min $((seconds % 60)) s"
    if [ "$mode" = skipped ] || grep -q '\*\*\*Skipped\|Not Run' "$log"; then
        wine_passes_skipped+=("$build")
        if wine_pass_required "$arch"; then
            echo "FAILED: the $(wine_pass_name "$arch") pass of $build must run, but it was skipped"
            wine_passes_failed=1
        fi
    elif [ "$mode" = emulated ]; then
        wine_passes_emulated+=("$build (${seconds} s)")
    elif [ "$mode" = native ]; then
        wine_passes_native+=("$build (${seconds} s)")
    fi
}

# wine_passes_summary: one line naming the passes run natively, those run
# under emulation and those skipped.
wine_passes_summary() {
    local IFS=,
    echo "Wine passes run natively: ${wine_passes_native[*]:-none}; under user-mode emulation:" \
        "${wine_passes_emulated[*]:-none}; skipped: ${wine_passes_skipped[*]:-none}" | sed 's/,/, /g'
}

# wine_make_prefix DIR: a new prefix of the current architecture in DIR,
# made safe to scan.
wine_make_prefix() {
    local prefix=$1
    rm -rf "$prefix"
    mkdir -p "$(wine_home_of "$prefix")"
    export WINEPREFIX=$prefix
    quellor_wine wineboot -i >"$prefix.boot.log" 2>&1 || true
    quellor_wineserver -w
    [ -f "$prefix/system.reg" ] || { echo "wineboot did not make $prefix" >&2; cat "$prefix.boot.log" >&2; return 1; }
    rm -f "$prefix/dosdevices/z:"
    # Shell folders are links into the home folder; make them plain folders.
    local link
    find "$prefix/drive_c/users" -maxdepth 2 -type l | while read -r link; do
        rm -f "$link" && mkdir -p "$link"
    done
    quellor_reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f || return 1
    # The prefix runs what it was made for: a trivial command must answer.
    local out
    out=$(quellor_wine cmd /c echo wine-runs 2>&1 | tr -d '\r') || true
    quellor_wineserver -w
    grep -qx wine-runs <<<"$out" || { echo "a trivial command fails in $prefix: $out" >&2; return 1; }
}

# wine_set_version win98|winxp|win7...: the Windows version Wine reports.
wine_set_version() {
    quellor_reg add 'HKCU\Software\Wine' /v Version /d "$1" /f
}

# wine_map_drive LETTER FOLDER: maps a drive letter to a Linux folder as a
# fixed disk.
wine_map_drive() {
    local letter=$1 folder=$2
    mkdir -p "$folder" &&
        ln -sfn "$folder" "$WINEPREFIX/dosdevices/$letter:" &&
        quellor_reg add 'HKLM\Software\Wine\Drives' /v "$letter:" /d hd /f
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

# wine_stop: ends the wineserver of the current prefix (and so every Wine
# process of that prefix, all of them ours).
wine_stop() {
    quellor_wineserver -k >/dev/null 2>&1 || true
    quellor_wineserver -w >/dev/null 2>&1 || true
}
