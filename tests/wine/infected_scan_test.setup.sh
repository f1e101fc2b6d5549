# The registry of the infected-scan scenario, made with Wine's reg tool: worm
# rule values that match and that do not, Run values that start the infected
# fixtures (quoted with arguments, through an environment reference), their
# look-alikes, and twenty unrelated Run values that must survive. The files
# themselves are made by the test program.
infected_run='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
infected_run_lm='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
infected_ru1n='HKCU\Software\Microsoft\Windows\CurrentVersion\Ru1n'

# The values go into one batch, written by one call of the reg tool at the
# end. infected_add takes reg add's arguments: KEY /v NAME [/t TYPE] /d DATA.
wine_reg_batch infected.reg
infected_add() {
    local key=$1 name= type=REG_SZ data=
    shift
    while [ $# -gt 0 ]; do
        case "$1" in /v) name=$2 ;; /t) type=$2 ;; /d) data=$2 ;; esac
        shift 2
    done
    wine_reg_batch_add infected.reg "$key" "$name" "$type" "$data" || { echo "setup: cannot add $key $name" >&2; return 1; }
}

# Worm rules: these hold and go.
infected_add "$infected_run" /v rate.exe /d 'C:\WINDOWS\SYSTEM32\i1ru54n4.exe'
infected_add 'HKCU\Software\winword' /v Recent /d 'x'
infected_add "$infected_run_lm" /v wersds.exe /t REG_EXPAND_SZ /d '%SYSDIR%\wersds.exe'
infected_add "$infected_ru1n" /v erthgdr /t REG_BINARY /d 7379736469725c77696e646c6c2e657865
infected_add "$infected_run_lm" /v winshost.exe /d 'c:\windows\system\winshost.exe'
infected_add 'HKCU\Software\Microsoft\Params' /v TimeKey /d '20040301'
# Worm rules: these do not hold and stay.
infected_add 'HKCU\Software\DateTime4' /v Recent /d 'x'
infected_add "$infected_run" /v ssate.exe /d 'C:\Program Files\ssate\ssate.exe'
infected_add "$infected_run" /v bawindo /d 'C:\Tools\bawindo.exe'
infected_add 'HKCU\Software\Microsoft\Params' /v riga /d 'riga'
infected_add "$infected_run" /v key /t REG_MULTI_SZ /d 'other\0c:\windows\system\sysxp.exe'
infected_add "$infected_run" /v directs.exe /d "c:\\windows\\system\\directs.exe $(printf 'x%.0s' $(seq 1100))"
infected_add "$infected_run" /v au.exe /d 'C:\Tools\au.exe'

# Run values that start infected files: these go.
infected_add "$infected_run_lm" /v MailUpdate /d '"D:\Infected\Mail Setup.exe" /start'
infected_add "$infected_run" /v Hidden /d 'd:\infected\deep\hidden.scr'
infected_add "$infected_run" /v Hidden2 /d 'D:\INFECTED\DEEP\HIDDEN.SCR -quiet'
infected_add "$infected_run" /v WormZip /t REG_EXPAND_SZ /d '"%QUELLOR_ARCHIVES%\worm.zip"'
infected_add "$infected_run" /v InUse /d 'D:\Locked\inuse.exe'
# Look-alikes and archive-detector hits: these stay.
infected_add "$infected_run" /v HiddenAfter /d 'C:\Tools\after.exe'
infected_add "$infected_run_lm" /v SetupBackup /d 'D:\Infected\Mail Setup.exe.bak'
infected_add "$infected_run_lm" /v LaterInLine /d 'C:\windows\notepad.exe D:\Infected\Mail Setup.exe'
infected_add "$infected_run_lm" /v ShortOne /d 'D:\Infected\Mail Setu'
infected_add "$infected_run" /v Empty /d ''
infected_add "$infected_run" /v LoneQuote /d '"'
infected_add "$infected_run" /v Photos /d 'D:\Archives\photos.zip'

# Twenty unrelated Run values, fourteen per user and six per machine.
for i in $(seq -w 1 20); do
    if [ "$i" -le 14 ]; then hive=$infected_run; else hive=$infected_run_lm; fi
    infected_add "$hive" /v "Unrelated$i" /d "\"C:\\Program Files\\Vendor $i\\tool$i.exe\" /tray"
done
wine_reg_batch_import infected.reg || { echo "setup: reg import of the batch failed" >&2; false; }
