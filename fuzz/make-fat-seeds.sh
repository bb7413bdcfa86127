#!/usr/bin/env bash
# Builds the seed volumes of the FAT-family fuzz targets (run as root: exFAT goes through
# exfat-fuse on a loop device). Small volumes with long names, a deleted file and a subfolder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/corvello-fat-seeds.XXXXXX)
trap 'umount "$work/mnt" 2>/dev/null || true; [ -n "${dev:-}" ] && losetup -d "$dev"; rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 TZ=UTC
mkdir -p "$work/c/Sub folder" "$here/corpus/fat16" "$here/corpus/fat32" "$here/corpus/exfat"
printf 'hello\n' >"$work/c/short.txt"
printf 'a file with a long name\n' >"$work/c/A file with a long name.txt"
printf 'Ünïcödé\n' >"$work/c/Sub folder/Ünïcödé name.txt"
head -c 3000 /dev/zero | tr '\0' 'x' >"$work/c/Sub folder/three clusters.bin"
printf 'gone\n' >"$work/c/deleted file.txt"

fat_seed() {  # NAME SECTORS MKFS_OPTIONS
  truncate -s $(($2 * 512)) "$work/$1"
  # shellcheck disable=SC2086
  mkfs.fat $3 "$work/$1" >/dev/null 2>&1
  mcopy -s -i "$work/$1" "$work/c"/* ::/
  mdel -i "$work/$1" "::/deleted file.txt"
}
fat_seed fat12.img 1000 "-F 12 -s 1 -r 64"
fat_seed fat16.img 8400 "-F 16 -s 1 -r 64"
# Seeds keep only the start of each volume, where its structures lie; the rest reads as zeros.
# mtools takes a FAT32 volume for one only from 65,525 clusters up: the seed is the start of a
# 34 MB volume (boot sector, FATs, root and first folders); the rest reads as zeros.
fat_seed fat32.img 69632 "-F 32 -s 1 -f 1"
cp "$work/fat12.img" "$here/corpus/fat16/fat12.img"
head -c 131072 "$work/fat16.img" >"$here/corpus/fat16/fat16.img"
head -c 400000 "$work/fat32.img" >"$here/corpus/fat32/fat32.img"

truncate -s 1M "$work/exfat.img"
mkfs.exfat -c 512 -b 4K "$work/exfat.img" >/dev/null
dev=$(losetup -f --show "$work/exfat.img")
mkdir -p "$work/mnt"
mount.exfat-fuse "$dev" "$work/mnt"
cp -r "$work/c"/. "$work/mnt"/
rm "$work/mnt/deleted file.txt"
umount "$work/mnt"
head -c 262144 "$work/exfat.img" >"$here/corpus/exfat/exfat.img"
