#!/usr/bin/env bash
# Adds seeds cut from the real fixture volumes (made by mkfs.fat, mkfs.exfat, mke2fs, mkntfs,
# sfdisk/sgdisk and newfs_hfs) to the fuzz corpora: the start of each volume, where its
# structures lie, so that the campaigns begin from what the real tools write and not only from
# tiny hand-made inputs. Usage: fuzz/make-seeds.sh [FIXTURES_FOLDER]
# (default: the unpacked fixtures of build/dev; the shared reference volumes are taken too).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
fixtures=${1:-$here/../build/dev/tests/fixtures}
shared=$here/../../shared/fixtures
[ -d "$fixtures" ] || { echo "no fixtures in $fixtures (build the tests first)" >&2; exit 1; }

# seed TARGET NAME SOURCE OFFSET LENGTH [PREFIX_HEX]: LENGTH bytes of SOURCE from OFFSET, after
# the optional prefix bytes.
seed() {
  local target=$1 name=$2 source=$3 offset=$4 length=$5 prefix=${6:-}
  [ -f "$source" ] || { echo "skipped $name: $source is missing" >&2; return 0; }
  mkdir -p "$here/corpus/$target"
  {
    [ -n "$prefix" ] && printf "$prefix"
    dd if="$source" bs=64K iflag=skip_bytes,count_bytes skip="$offset" count="$length" status=none
  } >"$here/corpus/$target/real-$name"
}
KiB=1024
MiB=$((1024 * KiB))

# Partition tables and the boot-record scan: the start of each disk (MBR, GPT, extended chains).
seed partition mbr-disk "$fixtures/mbr-disk.img" 0 $MiB
seed partition gpt-disk "$fixtures/gpt-disk.img" 0 $((64 * KiB))
seed partition gpt-volumes "$fixtures/gpt-volumes.img" 0 $MiB
seed partition damaged-table "$fixtures/damaged-table.img" 0 $MiB
seed partition mbr-loop "$fixtures/mbr-loop.img" 0 $MiB
seed partition mbr-extended "$shared/mbr-extended.raw" 0 $MiB

# FAT12/16 and FAT32 volumes: boot sector, both FATs, the root folder and the first clusters.
seed fat16 fat12-floppy "$fixtures/fat12-floppy.img" 0 $((1440 * KiB))
seed fat16 fat12-shortnames "$fixtures/fat12-shortnames.img" 0 $((720 * KiB))
seed fat16 fat16-2k "$fixtures/fat16-2k.img" 0 $MiB
seed fat16 fat16-reformatted "$fixtures/fat16-reformatted.img" 0 $MiB
seed fat32 fat32-512 "$fixtures/fat32-512.img" 0 $((1536 * KiB))
seed fat32 fat32-shortnames "$fixtures/fat32-shortnames.img" 0 $MiB
seed fat32 fat32-reformatted "$fixtures/fat32-reformatted.img" 0 $((1536 * KiB))
# exFAT puts its FAT at 1 MiB and its cluster heap (bitmap, up-case table, root) at 2 MiB.
seed exfat exfat-4k "$fixtures/exfat-4k.img" 0 $((2080 * KiB))
seed exfat exfat-reformatted "$fixtures/exfat-reformatted.img" 0 $((2080 * KiB))

# NTFS: the target places its input at the MFT's start (16 KiB into its volume); the real MFT's
# first 96 records, with the system files, folders, and deleted and resident files.
for name in ntfs-small ntfs-basic ntfs-mftdamaged; do
  [ -f "$fixtures/$name.img" ] || continue
  mft=$(python3 -c "import struct,sys; b=open(sys.argv[1],'rb').read(512); \
print(struct.unpack_from('<Q',b,48)[0]*struct.unpack_from('<H',b,11)[0]*b[13])" "$fixtures/$name.img")
  seed ntfs_volume "$name" "$fixtures/$name.img" "$mft" $((96 * KiB))
done

# ext2/3/4: whole small volumes, and the first groups of the bigger ones.
seed ext ext2-200k "$fixtures/ext2-200k.img" 0 $((200 * KiB))
seed ext ext4-inline "$fixtures/ext4-inline.img" 0 $MiB
seed ext ext4-4k "$fixtures/ext4-4k.img" 0 $MiB
seed ext ext2-1k "$fixtures/ext2-1k.img" 0 $MiB

# HFS+: the reference volume's header, allocation file and catalog.
seed hfsplus hfsplus-raw "$shared/hfsplus.raw" 0 $MiB

# Carving: no settings records (first byte 0), then volumes full of real files of every kind.
seed carve carve-kinds "$fixtures/carve-kinds.img" 0 $MiB '\000'
seed carve carve-fat "$fixtures/carve-fat.img" 0 $MiB '\000'
echo "seeds written under $here/corpus"
