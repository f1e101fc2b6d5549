#!/usr/bin/env bash
# check-imports.sh OBJDUMP "SYSTEMS" PROGRAM ALLOWLIST...
# Lists every function PROGRAM imports (OBJDUMP -p) and fails on any that is
# in none of the ALLOWLISTs ("DLL function" per line, '#' starts a comment;
# DLL names compare without regard to case). The lists hold only functions
# that the oldest systems the program is built for (SYSTEMS, as the message
# names them) export, so a new import that would stop the program from
# loading there is caught here.
set -euo pipefail
objdump=$1 systems=$2 program=$3
shift 3
[ $# -gt 0 ] || { echo "usage: $0 OBJDUMP SYSTEMS PROGRAM ALLOWLIST..." >&2; exit 2; }

imports=$("$objdump" -p "$program" | awk '
    /^\tDLL Name: / { dll = toupper($3); next }
    /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ { if (dll != "") print dll, $3; next }
    /^ *$/ { }')
[ -n "$imports" ] || { echo "no imports found in $program" >&2; exit 1; }

allowed=$(cat "$@" | sed -e 's/#.*//' -e '/^[[:space:]]*$/d' | awk '{ print toupper($1), $2 }')

unknown=$(comm -23 <(printf '%s\n' "$imports" | sort -u) <(printf '%s\n' "$allowed" | sort -u))
count=$(printf '%s\n' "$imports" | sort -u | wc -l)
if [ -n "$unknown" ]; then
    echo "imports not known to exist on $systems:"
    printf '%s\n' "$unknown" | sed 's/^/  /'
    exit 1
fi
echo "all $count imports of $(basename "$program") are on the allow list for $systems"
