#!/usr/bin/env bash
# rescue-image.sh: builds the rescue stick's image, build/rescue/quellor-rescue.img,
# and the statically linked scanner beside it, build/rescue/quellor-scan-linux-x86_64.
#
# Everything in the image comes from Debian's packages (fetched with
# apt-get download, unpacked into the build folder, never installed on
# this machine) or from this tree:
# - UEFI: Debian's signed shim as EFI/BOOT/BOOTX64.EFI, Debian's signed GRUB
#   for removable media beside it as grubx64.efi, reading boot/grub/grub.cfg
#   (the prefix built into it), and Debian's signed kernel: it starts with
#   Secure Boot on, with no keys of our own;
# - legacy BIOS: GRUB's boot.img in the master boot record and a core.img of
#   GRUB's modules after it, reading the same grub.cfg;
# - an initramfs: busybox, the kernel's modules for disks, keyboards and file
#   systems (from the same kernel build, which signed them), ntfs-3g, and
#   quellor-scan and quellor-rescue linked statically (build/static).
# One FAT32 partition holds it all and is the stick's writable data: the
# log, the quarantine and the results go to its QUELLOR folder.
#
# SOURCE_DATE_EPOCH (default: the commit's time) fixes every time stamp;
# the volume id and the partition table's id are fixed: two builds of one
# commit with the same packages give the same bytes.
# RESCUE_OUT and RESCUE_STATIC_BUILD choose other folders (a second build
# to compare). RESCUE_IMAGE_MB sets the image's size (default 1024: room for the
# registry hives of a recent Windows in the quarantine).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${RESCUE_OUT:-$root/build/rescue}
static=${RESCUE_STATIC_BUILD:-$root/build/static}
work=$out/work
jobs=${JOBS:-$(nproc)}
size_mb=${RESCUE_IMAGE_MB:-1024}
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)}
export MTOOLS_SKIP_CHECK=1 LC_ALL=C TZ=UTC
started=$(date +%s)

# The drivers the rescue system loads, with what they need: USB (xHCI,
# EHCI, OHCI, UHCI) sticks, disks and keyboards; SATA (AHCI and older
# Intel), NVMe (also behind Intel's VMD), SD cards, virtual machines'
# disks; NTFS through FUSE, FAT with its character sets.
modules=(
    xhci-pci ehci-pci ohci-pci uhci-hcd usb-storage uas usbhid hid-generic
    ahci ata_piix ata_generic sd_mod nvme vmd sdhci-pci mmc_block
    virtio_pci virtio_blk virtio_scsi
    fuse vfat nls_cp437 nls_ascii nls_iso8859-1 nls_utf8
)
# Busybox commands the init script and a person at a shell use.
applets=(sh mount umount insmod dmesg sleep poweroff reboot cat echo ls mkdir sync uname)
packages=(shim-signed shim-helpers-amd64-signed grub-efi-amd64-signed grub-pc-bin busybox-static ntfs-3g
          libntfs-3g89 libc6)

step() { echo "== rescue image ($(( $(date +%s) - started )) s): $*"; }

step "static programs (build/static)"
cmake -S "$root" -B "$static" -DCMAKE_BUILD_TYPE=Release -DQUELLOR_STATIC=ON \
    -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$root=." >/dev/null
cmake --build "$static" --target quellor-scan quellor-rescue -j "$jobs" >/dev/null
mkdir -p "$out"
strip -o "$out/quellor-scan-linux-x86_64" "$static/quellor-scan"

step "Debian packages"
kernel=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
if [ -z "$kernel" ]; then
    apt-get update -q >/dev/null
    kernel=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
fi
rm -rf "$work"
mkdir -p "$work/debs" "$work/unpacked"
download() {
    (cd "$work/debs" && apt-get download -q "$kernel" "${packages[@]}" 2>&1) |
        { grep -v '^W: Download is performed unsandboxed' || true; }
}
# Lists older than the archive name packages it no longer has: once more
# with fresh lists.
if ! download; then
    apt-get update -q >/dev/null
    kernel=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
    rm -f "$work"/debs/*.deb
    download
fi
for deb in "$work"/debs/*.deb; do
    dpkg-deb -x "$deb" "$work/unpacked"
    dpkg-deb -f "$deb" Package Version | paste -sd' ' >>"$work/packages.txt"
done
x=$work/unpacked
version=${kernel#linux-image-}
vmlinuz=$x/boot/vmlinuz-$version
[ -f "$vmlinuz" ] || { echo "rescue image: no kernel in $kernel"; exit 1; }

step "initramfs"
initramfs=$work/initramfs
mkdir -p "$initramfs"/{bin,lib/modules,proc,sys,dev,run,tmp}
cp "$x/bin/busybox" "$initramfs/bin/busybox"
for applet in "${applets[@]}"; do ln -s busybox "$initramfs/bin/$applet"; done
install -m 0755 "$root/rescue/init" "$initramfs/init"
install -m 0755 "$static/quellor-rescue" "$initramfs/bin/quellor-rescue"
strip "$initramfs/bin/quellor-rescue"
install -m 0755 "$out/quellor-scan-linux-x86_64" "$initramfs/bin/quellor-scan"
# ntfs-3g and the libraries it loads, from the packages.
install -m 0755 "$x/bin/ntfs-3g" "$initramfs/bin/ntfs-3g"
needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }
mkdir -p "$initramfs/lib/x86_64-linux-gnu" "$initramfs/lib64"
for library in $(needed "$x/bin/ntfs-3g") $(needed "$x/lib/x86_64-linux-gnu/libntfs-3g.so.89") ld-linux-x86-64.so.2; do
    cp -L "$x/lib/x86_64-linux-gnu/$library" "$initramfs/lib/x86_64-linux-gnu/$library"
done
ln -s ../lib/x86_64-linux-gnu/ld-linux-x86-64.so.2 "$initramfs/lib64/ld-linux-x86-64.so.2"

# Each module after the modules it depends on, as its .modinfo names them.
moddir=$x/lib/modules/$version
declare -A module_path=() loaded=()
while read -r path; do
    name=${path##*/}
    name=${name%.ko}
    module_path[${name//-/_}]=$path
done < <(cd "$moddir" && find kernel -name '*.ko' | sort)
add_module() {
    local name=${1//-/_} path depends dependency
    [ -z "${loaded[$name]:-}" ] || return 0
    path=${module_path[$name]:-}
    if [ -z "$path" ]; then
        grep -q "/${1}.ko\$\|/${name}.ko\$" "$moddir/modules.builtin" && return 0
        echo "rescue image: module $1 is neither in $kernel nor built in"; exit 1
    fi
    loaded[$name]=1
    depends=$(objcopy -O binary --only-section=.modinfo "$moddir/$path" /dev/stdout | tr '\0' '\n' |
              sed -n 's/^depends=//p')
    for dependency in ${depends//,/ }; do add_module "$dependency"; done
    cp "$moddir/$path" "$initramfs/lib/modules/"
    echo "${path##*/}" >>"$initramfs/lib/modules/load"
}
for module in "${modules[@]}"; do add_module "$module"; done

find "$initramfs" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
(cd "$initramfs" && find . | sort | cpio --quiet -o -H newc --reproducible -R 0:0) | gzip -n -9 >"$work/initrd.img"

step "boot loaders"
grub_pc=$x/usr/lib/grub/i386-pc
grub-mkimage -d "$grub_pc" -O i386-pc -o "$work/core.img" -c "$root/rescue/bios-grub.cfg" -p /boot/grub \
    biosdisk part_msdos fat search search_fs_file configfile normal linux serial terminal test echo
core_sectors=$(( ($(stat -c %s "$work/core.img") + 511) / 512 ))
# The core lies between the master boot record and the partition.
[ "$core_sectors" -lt 2047 ] || { echo "rescue image: core.img too large"; exit 1; }

step "file system"
stick=$work/stick
mkdir -p "$stick"/{EFI/BOOT,boot/grub,QUELLOR}
cp "$x/usr/lib/shim/shimx64.efi.signed" "$stick/EFI/BOOT/BOOTX64.EFI"
cp "$x/usr/lib/shim/mmx64.efi.signed" "$stick/EFI/BOOT/mmx64.efi"
cp "$x/usr/lib/grub/x86_64-efi-signed/gcdx64.efi.signed" "$stick/EFI/BOOT/grubx64.efi"
cp "$root/rescue/grub.cfg" "$stick/boot/grub/grub.cfg"
cp "$vmlinuz" "$stick/boot/vmlinuz"
cp "$work/initrd.img" "$stick/boot/initrd.img"
# Read on Windows too: CR LF.
sed 's/$/\r/' "$root/rescue/RESCUE.TXT" >"$stick/QUELLOR/RESCUE.TXT"
find "$stick" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

image=$out/quellor-rescue.img
fat=$work/fat.img
fat_sectors=$(( size_mb * 2048 - 2048 ))
rm -f "$image" "$fat"
mkfs.fat -F 32 -n QUELLOR -i 51554C52 --invariant -h 2048 -S 512 -s 8 -C "$fat" $(( fat_sectors / 2 )) >/dev/null
(cd "$stick" && for entry in *; do mcopy -s -m -Q -i "$fat" "$entry" ::/; done)
truncate -s "${size_mb}M" "$image"
printf 'label: dos\nlabel-id: 0x51554c52\nunit: sectors\n2048,%d,c,*\n' "$fat_sectors" | sfdisk -q "$image"
dd if="$grub_pc/boot.img" of="$image" bs=440 count=1 conv=notrunc status=none
dd if="$work/core.img" of="$image" bs=512 seek=1 conv=notrunc status=none
dd if="$fat" of="$image" bs=1M seek=1 conv=notrunc,sparse status=none
rm -f "$fat"

echo "rescue image: $image ($size_mb MiB; kernel $version, initramfs $(stat -c %s "$work/initrd.img") bytes," \
     "used $(du -sk "$stick" | cut -f1) KiB) in $(( $(date +%s) - started )) s"
echo "static scanner: $out/quellor-scan-linux-x86_64 ($(stat -c %s "$out/quellor-scan-linux-x86_64") bytes)"
