#!/usr/bin/env bash
# boot-test.sh IMAGE SCANNER MAKE_DISK: starts the rescue stick's image
# under QEMU (no KVM needed) twice, with test disks made here, and checks
# what it did from outside once the emulated PC has switched itself off.
#
# 1. UEFI with Secure Boot enforced (Debian's OVMF with Microsoft's keys),
#    the stick on USB (xHCI), QUELLOR/AUTO.TXT saying quellor.auto=clean:
#    - SATA: a GPT disk with an NTFS Windows (tests' hive maker: machine and
#      two users with start-up values, the 32-bit view; infected files and
#      clean look-alikes): cleaned exactly, every original in the stick's
#      quarantine, the log and the results on the stick;
#    - SATA: the same Windows hibernated (hiberfil.sys as Windows leaves it):
#      named, reported on, not one byte written;
#    - virtio: a disk with an NTFS partition without Windows, a BitLocker
#      volume (both named and left alone) and a FAT Windows 98 (cleaned).
# 2. Legacy BIOS (SeaBIOS), the stick's boot menu given quellor.auto=report
#    on the kernel's command line: the Windows disk is the same bytes
#    afterwards, and the report names what it found. Then the screen, on the
#    serial line, and a person's keys (serial-keys.py): choose the Windows,
#    Clean, Yes; the results screen; power off. The disk is cleaned exactly.
# The serial console must show that Secure Boot was on and that the system
# started. Exit 77 (skipped) where the machine lacks what the test needs.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
image=$(realpath "$1") scanner=$(realpath "$2") make_disk=$(realpath "$3")
work=${RESCUE_TEST_DIR:-$(dirname "$image")/boot-test}
export MTOOLS_SKIP_CHECK=1 LC_ALL=C
status=0
fail() { echo "FAILED: $*"; status=1; }
ok() { echo "ok: $*"; }

skip_unless() {  # skip_unless WHAT TEST...
    local what=$1
    shift
    "$@" >/dev/null 2>&1 || { echo "SKIPPED: $what"; exit 77; }
}
ovmf=/usr/share/OVMF
skip_unless "no qemu-system-x86_64" command -v qemu-system-x86_64
skip_unless "no OVMF with Microsoft's keys ($ovmf)" test -f $ovmf/OVMF_CODE_4M.ms.fd -a -f $ovmf/OVMF_VARS_4M.ms.fd
skip_unless "no mkntfs or ntfs-3g" command -v mkntfs ntfs-3g
skip_unless "no mtools" command -v mcopy mdir
skip_unless "no sfdisk" command -v sfdisk
skip_unless "no /dev/fuse: the NTFS test disks cannot be written or read" test -c /dev/fuse -a -w /dev/fuse
skip_unless "not root: ntfs-3g mounts need it" test "$(id -u)" = 0
[ -f "$image" ] || { echo "FAILED: no image $image"; exit 1; }

rm -rf "$work"
mkdir -p "$work/mnt"
cd "$work"

# ntfs-3g's own process ends after the unmount; only then is all written.
ntfs_unmount() {
    umount "$1"
    for _ in $(seq 100); do pgrep -x ntfs-3g >/dev/null || return 0; sleep 0.1; done
}
# make_ntfs IMAGE MEGABYTES TREE: an NTFS file system holding TREE.
make_ntfs() {
    truncate -s "$2M" "$1"
    mkntfs -q -F -Q -L "$(basename "$1" .fs)" -p 2048 -H 255 -S 63 "$1" >/dev/null 2>&1 || return 1
    ntfs-3g "$1" mnt || return 1
    cp -a "$3/." mnt/
    ntfs_unmount mnt
}
# read_ntfs IMAGE OFFSET TREE: copies the files of the NTFS at OFFSET.
read_ntfs() {
    dd if="$1" of=part.fs bs=1M skip=$(( $2 / 1048576 )) status=none
    ntfs-3g -o ro part.fs mnt || return 1
    rm -rf "$3"
    mkdir -p "$3"
    cp -a mnt/. "$3/"
    ntfs_unmount mnt
    rm -f part.fs
}
# disk IMAGE LABEL PARTITION-FILES...: a disk of partitions (each 1 MiB
# aligned) with the given contents; LABEL is dos or gpt.
disk() {
    local image=$1 label=$2 start=2048 table sectors
    shift 2
    table="label: $label\nunit: sectors\n"
    for part in "$@"; do
        sectors=$(( $(stat -c %s "$part") / 512 ))
        table+="$start,$sectors,$( [ "$label" = gpt ] && echo EBD0A0A2-B9E5-4433-87C0-68B6B72699C7 || echo 7 )\n"
        start=$(( start + sectors ))
    done
    truncate -s $(( (start + 2048) * 512 )) "$image"
    printf "$table" | sfdisk -q "$image" || return 1
    start=2048
    for part in "$@"; do
        dd if="$part" of="$image" bs=512 seek=$start conv=notrunc status=none
        start=$(( start + $(stat -c %s "$part") / 512 ))
    done
}

echo "== test disks"
"$make_disk" windows tree-win || exit 1
cp -a tree-win tree-hib
{ printf 'HIBR'; head -c 65532 /dev/zero; } >tree-hib/hiberfil.sys
mkdir -p tree-data/Documents && echo "no Windows here" >tree-data/Documents/notes.txt
"$make_disk" nine tree-nine || exit 1
make_ntfs win.fs 96 tree-win || fail "cannot make the NTFS Windows"
make_ntfs hib.fs 80 tree-hib || fail "cannot make the hibernated NTFS Windows"
make_ntfs data.fs 40 tree-data || fail "cannot make the NTFS without Windows"
# A BitLocker volume's first sector: its signature where NTFS has its own.
truncate -s 8M bitlocker.fs
printf -- '-FVE-FS-' | dd of=bitlocker.fs bs=1 seek=3 conv=notrunc status=none
printf '\x55\xaa' | dd of=bitlocker.fs bs=1 seek=510 conv=notrunc status=none
truncate -s 48M nine.fs
mkfs.fat -F 32 -n WIN98 nine.fs >/dev/null
(cd tree-nine && for entry in *; do mcopy -s -Q -i ../nine.fs "$entry" ::/; done)
disk win.img gpt win.fs && disk hib.img dos hib.fs && disk other.img dos data.fs bitlocker.fs nine.fs ||
    { echo "FAILED: cannot make the test disks"; exit 1; }
rm -f win.fs hib.fs data.fs bitlocker.fs
cp win.img win-before.img && cp hib.img hib-before.img && cp other.img other-before.img

# boot NAME FIRMWARE-ARGS... -- DISK-ARGS: one boot, its serial console in
# NAME.serial; the emulated PC must switch itself off.
boot() {
    local name=$1 started took
    local serial=(-serial "file:$name.serial")
    shift
    [[ " $* " != *" -chardev socket,id=serial,"* ]] || serial=(-serial chardev:serial)
    started=$(date +%s)
    timeout "${RESCUE_BOOT_TIMEOUT:-900}" qemu-system-x86_64 -m 768 -smp 1 -display none -monitor none \
        "${serial[@]}" -pidfile "$name.pid" -no-reboot "$@" >"$name.qemu" 2>&1
    local result=$?
    took=$(( $(date +%s) - started ))
    echo "boot $name: $took s"
    echo "$name $took" >>boot-times
    [ "$result" = 0 ] || fail "boot $name: QEMU ended with $result (124: it did not switch off in time)"
    grep -aq 'quellor-rescue: started' "$name.serial" || fail "boot $name: the rescue system did not start"
}
stick_copy() {  # stick_copy NAME: a fresh copy of the image, boot menu without waiting
    cp --sparse=always "$image" "$1.img"
    mcopy -o -i "$1.img@@1M" ::/boot/grub/grub.cfg grub.cfg
    sed -i 's/^set timeout=.*/set timeout=1/' grub.cfg
}

echo "== boot 1: UEFI, Secure Boot, unattended clean"
stick_copy stick-uefi
mcopy -o -i stick-uefi.img@@1M grub.cfg ::/boot/grub/grub.cfg
printf 'quellor.auto=clean\r\n' >auto.txt
mcopy -o -i stick-uefi.img@@1M auto.txt ::/QUELLOR/AUTO.TXT
cp $ovmf/OVMF_VARS_4M.ms.fd vars.fd
boot uefi -machine q35,smm=on -global driver=cfi.pflash01,property=secure,value=on \
    -drive if=pflash,format=raw,unit=0,file=$ovmf/OVMF_CODE_4M.ms.fd,readonly=on \
    -drive if=pflash,format=raw,unit=1,file=vars.fd \
    -device qemu-xhci -drive if=none,id=stick,format=raw,file=stick-uefi.img -device usb-storage,drive=stick \
    -drive if=none,id=win,format=raw,file=win.img -device ide-hd,drive=win,bus=ide.0 \
    -drive if=none,id=hib,format=raw,file=hib.img -device ide-hd,drive=hib,bus=ide.1 \
    -drive if=virtio,format=raw,file=other.img
grep -aq 'secureboot: Secure boot enabled' uefi.serial && ok "Secure Boot was on" || fail "Secure Boot was not on"
grep -aq 'lockdown: none \[integrity\]' uefi.serial && ok "the kernel runs locked down" ||
    fail "the kernel is not locked down"

results() {  # results NAME: the stick's QUELLOR folder, copied out
    rm -rf "$1-stick"
    mkdir -p "$1-stick"
    mcopy -s -n -i "$1.img@@1M" ::/QUELLOR "$1-stick/" || fail "cannot read the stick's QUELLOR folder"
}
results stick-uefi
said() {  # said FILE PATTERN WHAT: FILE holds a line matching PATTERN
    grep -aqE "$2" "$1" && ok "$3" || fail "$3: no line /$2/ in $1"
}
for place in uefi.serial stick-uefi-stick/QUELLOR/RESULTS.TXT; do
    said $place 'quellor-rescue: sd[a-z]1 cleaned: .*Windows NT 6.1 \(build 7601\); users: alice, Bob' \
        "$place: the NTFS Windows cleaned"
    said $place 'quellor-rescue: sd[a-z]1 not written: Windows is hibernated' "$place: the hibernated Windows not written"
    hibernated=$(sed -n 's/.*quellor-rescue: \(sd[a-z]1\) not written: .*/\1/p' $place | head -n1)
    said $place "quellor-rescue: ${hibernated:-none} found: [0-9]+ files scanned, 3 infected files found" \
        "$place: the hibernated Windows reported on"
    said $place 'quellor-rescue: vda1 left alone: no Windows' "$place: the partition without Windows left alone"
    said $place 'quellor-rescue: vda2 not usable: BitLocker' "$place: the BitLocker volume named"
    said $place 'quellor-rescue: vda3 cleaned: .*Windows 95/98/ME' "$place: the Windows 98 cleaned"
    said $place 'quellor-rescue: finished, all done' "$place: the run finished"
done

echo "-- the cleaned NTFS Windows"
read_ntfs win.img 1048576 after-win || fail "cannot read the cleaned NTFS"
"$make_disk" check tree-win after-win || fail "the NTFS Windows was not cleaned exactly"
echo "-- the hibernated Windows and the other disk"
cmp -s hib.img hib-before.img && ok "the hibernated Windows' disk is the same bytes" ||
    fail "the hibernated Windows' disk was written"
nine_at=$(sfdisk -d other.img | awk -F'[=,]' '/other.img3/ {print $2 * 512}')
cmp -s -n "$nine_at" other.img other-before.img && ok "the partitions without a usable Windows are the same bytes" ||
    fail "the disk without Windows or the BitLocker volume was written"
rm -rf after-nine && mkdir after-nine
mcopy -s -n -i "other.img@@$nine_at" '::/*' after-nine/ || fail "cannot read the Windows 98 partition"
"$make_disk" check tree-nine after-nine || fail "the Windows 98 was not cleaned exactly"

echo "-- the stick: log and quarantine"
log=stick-uefi-stick/QUELLOR/quellor.log
said $log '^=== Quellor run' "a run log on the stick"
said $log 'windows/system32/evil.exe +W32/Murkel.A.Trojan removed' "the log names a removal"
said $log 'Kept in the quarantine as [0-9A-F]{8} before its first change' "the log names a hive kept"
quarantine=stick-uefi-stick/QUELLOR/QUARANTINE
"$scanner" --quarantine "$quarantine" --quarantine-list >quarantine.txt || fail "the quarantine cannot be listed"
cat quarantine.txt
# Each original comes back byte for byte from the stick's quarantine.
for original in windows/system32/evil.exe "Program Files (x86)/Tool/helper.exe" Users/Alice/Downloads/photos.zip \
                windows/system32/Config/software Users/Alice/NTUSER.DAT Users/BOB/ntuser.dat; do
    id=$(grep -F "/$original" quarantine.txt | awk '{print $1}' | head -n1)
    rm -rf restored && mkdir restored
    if [ -z "$id" ]; then
        fail "no quarantine entry for $original"
    elif "$scanner" --quarantine "$quarantine" --restore "$id" --to restored >/dev/null &&
         cmp -s "restored/$(basename "$original")" "tree-win/$original"; then
        ok "the quarantine gives back $original"
    else
        fail "the quarantine does not give back $original ($id)"
    fi
done
grep -q 'setup.exe' quarantine.txt && ok "the Windows 98 file is in the quarantine" ||
    fail "the Windows 98 file is not in the quarantine"
[ "$(wc -l <quarantine.txt)" = 7 ] && ok "7 entries in the quarantine" ||
    fail "$(wc -l <quarantine.txt) entries in the quarantine, not 7"

echo "== boot 2: legacy BIOS; unattended report from the kernel's command line, then a person cleans"
# The report runs unattended, then the screen stays (quellor.after=stay) on
# the serial line (quellor.screen=ttyS0), where serial-keys.py is the person.
cp win-before.img win.img
stick_copy stick-bios
sed -i '0,/linux \/boot\/vmlinuz/s//& quellor.auto=report quellor.after=stay quellor.screen=ttyS0/' grub.cfg
mcopy -o -i stick-bios.img@@1M grub.cfg ::/boot/grub/grub.cfg
: >bios.serial
QEMU_PIDFILE=bios.pid "$here/serial-keys.py" serial.sock bios.serial \
    'quellor-rescue: finished=>' \
    "!cmp -s win.img win-before.img" \
    'Enter: choose=>\r' '2: clean=>2' 'Y: yes, clean it=>y' 'Enter: back to the list=>p' >keys.log 2>&1 &
keys=$!
boot bios -machine pc \
    -chardev socket,id=serial,path=serial.sock,server=on,wait=on \
    -device qemu-xhci -drive if=none,id=stick,format=raw,file=stick-bios.img -device usb-storage,drive=stick,bootindex=0 \
    -drive if=ide,index=0,format=raw,file=win.img
wait "$keys" && ok "a person's keys: report, then clean, then switch off" || fail "at the screen: $(cat keys.log)"
results stick-bios
for place in bios.serial stick-bios-stick/QUELLOR/RESULTS.TXT; do
    said $place 'quellor-rescue: sd[a-z]1 found: [0-9]+ files scanned, 3 infected files found' \
        "$place: the report names what it found"
done
grep -q 'check failed: cmp -s win.img' keys.log && fail "the reported Windows' disk was written" ||
    ok "the reported Windows' disk was the same bytes after the report"
said bios.serial.screens 'Cleaned: Disk sd[a-z] .*partition 1' "the results screen after cleaning"
said bios.serial.screens '3 files removed, the registry entries removed' "the results screen says what was removed"
said bios.serial.screens 'The log is QUELLOR.quellor.log on the stick, the quarantine QUELLOR.QUARANTINE' \
    "the results screen says where the log and the quarantine are"
read_ntfs win.img 1048576 after-bios || fail "cannot read the NTFS cleaned at the screen"
"$make_disk" check tree-win after-bios || fail "the Windows cleaned at the screen was not cleaned exactly"
said stick-bios-stick/QUELLOR/quellor.log 'not disinfected as per user.s selection' "the report's log on the stick"
said stick-bios-stick/QUELLOR/quellor.log 'evil.exe +W32/Murkel.A.Trojan removed' "the cleaning's log on the stick"

echo "boot times: $(paste -sd' ' boot-times | sed 's/ \([0-9]*\) / \1 s, /g') s"
[ "$status" = 0 ] && echo "rescue boot tests: all passed" || echo "rescue boot tests: FAILED"
exit "$status"
