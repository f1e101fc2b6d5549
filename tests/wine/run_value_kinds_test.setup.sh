# Run values of every kind the registry cleanup meets, written with Wine's
# reg tool as an installer or a worm would write them: long, binary,
# unterminated, expandable, numbers and multi-strings, with the outcomes the
# native table of tests/unit/RegistryCleanupTest.cpp gives the same kinds.
# The infected file the test program makes is D:\Kinds\evil.exe; the
# environment references are set by the test program too.
#
# Every value is listed in C:\run-kinds.txt, one a line:
#   hive|name|type|goes or stays|label of its line (- when it stays)[|unterminated]
# The test program checks each before the scan and the check hook after it.
# Rows marked "unterminated" are strings without their terminator, which
# reg add cannot write (it always stores one): the test program writes them
# with RegSetValueExA, given the length without the terminator.
kinds_manifest="$DRIVE_C/run-kinds.txt"
kinds_run='Software\Microsoft\Windows\CurrentVersion\Run'
: > "$kinds_manifest"

# The values go into one batch, written by one call of the reg tool.
wine_reg_batch run-kinds-batch.reg

kinds_repeat() { head -c "$2" /dev/zero | tr '\0' "$1"; }
kinds_hex() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n'; }
kinds_note() { local IFS='|'; printf '%s\n' "$*" >> "$kinds_manifest"; }
# kinds_add HIVE NAME TYPE OUTCOME LABEL DATA
kinds_add() {
    wine_reg_batch_add run-kinds-batch.reg "$1\\$kinds_run" "$2" "$3" "$6" ||
        { echo "setup: cannot add $1 $2 ($3)" >&2; return 1; }
    kinds_note "$1" "$2" "$3" "$4" "$5"
}

# Worm rules, in rule order (the order of their lines), in kinds the
# infected-scan scenario does not write.
kinds_add HKCU d3dupdate.exe REG_BINARY goes W32/Bagle.A.Worm \
    "$(kinds_hex "$(kinds_repeat y 980)system32\\bbeagle.exe")"          # 1000 bytes, no terminator
kinds_add HKCU au.exe REG_BINARY goes W32/Bagle.B.Worm "$(kinds_hex 'c:\system\au.exe')"
kinds_add HKCU gigabit.exe REG_EXPAND_SZ goes W32/Bagle.U.Worm '%SystemRoot%\System32\gigabit.exe'
kinds_add HKCU drvddll.exe REG_MULTI_SZ goes W32/Bagle.Aa.Worm 'system\drvddll.exe\0other'
kinds_add HKCU win_upd2.exe REG_SZ goes W32/Bagle.Aq.Worm \
    "c:\\windows\\system\\windirect.exe $(kinds_repeat y 967)"           # 999 characters and the terminator
kinds_add HKLM win_upd2.exe REG_SZ stays - \
    "c:\\windows\\system\\windirect.exe $(kinds_repeat y 968)"           # one byte more than the rules read
kinds_add HKCU drvsys.exe REG_BINARY stays - \
    "$(kinds_hex "$(kinds_repeat y 982)system32\\drvsys.exe")"           # 1001 bytes
kinds_add HKCU winupd.exe REG_BINARY stays - "787800$(kinds_hex 'system\winupd.exe')"  # the match lies after a zero
kinds_add HKCU sysinfo.exe REG_DWORD stays - 1

# The Run-value scan for D:\Kinds\evil.exe, in both hives.
kinds_path='D:\KINDS\Evil.exe'
kinds_import="$DRIVE_C/run-kinds.reg"
printf 'REGEDIT4\r\n' > "$kinds_import"
for hive in HKLM HKCU; do
    kinds_add "$hive" LongCommand REG_SZ goes W32/MurkEl.Trojan "$kinds_path $(kinds_repeat y 32000)"
    kinds_add "$hive" LongOtherCommand REG_SZ stays - "c:\\run.exe $kinds_path $(kinds_repeat y 32000)"
    kinds_add "$hive" BinaryPath REG_BINARY goes W32/MurkEl.Trojan "$(kinds_hex "$kinds_path")"
    kinds_add "$hive" BinaryOf265Bytes REG_BINARY goes W32/MurkEl.Trojan \
        "$(kinds_hex "$kinds_path $(kinds_repeat x 247)")"
    kinds_add "$hive" BinaryLong REG_BINARY goes W32/MurkEl.Trojan "$(kinds_hex "$kinds_path $(kinds_repeat x 15000)")"
    kinds_add "$hive" BinaryZeroFirst REG_BINARY stays - "00$(kinds_hex "$kinds_path")"
    kinds_add "$hive" ExpandedBeforeLongArguments REG_EXPAND_SZ goes W32/MurkEl.Trojan \
        "%QUELLOR_KINDS%\\evil.exe $(kinds_repeat y 30000)"
    kinds_add "$hive" ExpansionTooLong REG_EXPAND_SZ goes W32/MurkEl.Trojan \
        "$kinds_path %QUELLOR_HUGE%%QUELLOR_HUGE%"
    kinds_add "$hive" ExpansionIsTheCommand REG_EXPAND_SZ goes W32/MurkEl.Trojan '%QUELLOR_EVIL_COMMAND%'
    kinds_add "$hive" ExpandedBackup REG_EXPAND_SZ stays - '%QUELLOR_KINDS%\evil.exe.bak'
    kinds_add "$hive" Number REG_DWORD stays - 16
    kinds_add "$hive" MultiFirst REG_MULTI_SZ goes W32/MurkEl.Trojan "$kinds_path\\0other"
    kinds_add "$hive" MultiSecond REG_MULTI_SZ stays - "other\\0$kinds_path"
    kinds_note "$hive" UnterminatedString REG_SZ goes W32/MurkEl.Trojan unterminated
    # Longer than a command line (32,767 characters) holds: imported from a file.
    case $hive in HKLM) root=HKEY_LOCAL_MACHINE ;; *) root=HKEY_CURRENT_USER ;; esac
    printf '\r\n[%s\\%s]\r\n"LongerThanACommandLine"="%s %s"\r\n' "$root" "$kinds_run" \
        'D:\\KINDS\\Evil.exe' "$(kinds_repeat y 70000)" >> "$kinds_import"
    kinds_note "$hive" LongerThanACommandLine REG_SZ goes W32/MurkEl.Trojan
done
wine_reg_batch_import run-kinds-batch.reg || { echo "setup: reg import of the batch failed" >&2; false; }
quellor_reg import 'C:\run-kinds.reg' || { echo "setup: reg import failed" >&2; false; }
