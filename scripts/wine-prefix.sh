#!/usr/bin/env bash
# wine-prefix.sh base WINEDIR
# Makes the test run's Wine prefix WINEDIR/base once (of the kind
# QUELLOR_WINE_ARCH names); scenarios copy it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-lib.sh"

[ "${1:-}" = base ] && [ -n "${2:-}" ] || { echo "usage: $0 base WINEDIR" >&2; exit 2; }
winedir=$2
wine_require_arch
mkdir -p "$winedir"
exec 9>"$winedir/.lock"
flock 9
if [ -f "$winedir/base/.ready" ]; then exit 0; fi
wine_make_prefix "$winedir/base"
wine_stop
touch "$winedir/base/.ready"
echo "made $(wine_pass_name) Wine prefix $winedir/base"
