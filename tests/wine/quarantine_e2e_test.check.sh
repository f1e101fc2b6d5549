# After quarantine_e2e_test: the restored setup.exe is its original byte for
# byte, and no copy in the quarantine holds a 16-byte stretch of any
# original.
quarantine_failed=0
quarantine_fail() { echo "quarantine_e2e check: $*" >&2; quarantine_failed=1; }

cmp -s "$SCENARIO_DIR/originals/Downloads/setup.exe" "$DRIVE_D/Downloads/setup.exe" ||
    quarantine_fail "the restored setup.exe is not its original"
quarantine_store=$(find "$DRIVE_C" -type d -path '*/Quellor/Quarantine' | head -1)
[ -n "$quarantine_store" ] || quarantine_fail "no quarantine folder under $DRIVE_C"
if [ -n "$quarantine_store" ]; then
    python3 - "$SCENARIO_DIR/originals" "$quarantine_store" <<'PY' || quarantine_fail "a copy holds its original's bytes"
import os, sys
originals, store = sys.argv[1], sys.argv[2]
copies = [open(os.path.join(store, n), 'rb').read() for n in os.listdir(store) if n.endswith('.QDT')]
found = 0
for folder, _, names in os.walk(originals):
    for name in names:
        data = open(os.path.join(folder, name), 'rb').read()
        for at in range(0, len(data) - 16, 16):
            chunk = data[at:at + 16]
            if len(set(chunk)) > 1 and any(chunk in copy for copy in copies):
                print(f"{name} at {at} stands in a copy", file=sys.stderr)
                found += 1
                break
sys.exit(1 if found else 0)
PY
fi

[ "$quarantine_failed" = 0 ]
