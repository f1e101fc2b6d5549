#!/usr/bin/env bash
# check-imports.sh PROGRAM ALLOWLIST
# Lists every function PROGRAM imports (objdump -p) and fails on any that is
# not in ALLOWLIST ("DLL function" per line, '#' starts a comment; DLL names
# compare without regard to case). The list holds only functions exported by
# Windows 98 SE and NT 4.0, so a new import that would stop the program from
# loading there is caught here.
set -euo pipefail
program=$1 allowlist=$2
objdump=i686-w64-mingw32-objdump

imports=$("$objdump" -p "$program" | awk '
    /^\tDLL Name: / { dll = toupper($3); next }
    /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ { if (dll != "") print dll, $3; next }
    /^ *$/ { }')
[ -n "$imports" ] || { echo "no imports found in $program" >&2; exit 1; }

allowed=$(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$allowlist" | awk '{ print toupper($1), $2 }')

unknown=$(comm -23 <(printf '%s\n' "$imports" | sort -u) <(printf '%s\n' "$allowed" | sort -u))
count=$(printf '%s\n' "$imports" | sort -u | wc -l)
if [ -n "$unknown" ]; then
    echo "imports not known to exist on Windows 98 SE and NT 4.0:"
    printf '%s\n' "$unknown" | sed 's/^/  /'
    exit 1
fi
echo "all $count imports of $(basename "$program") are on the allow list"
