#!/usr/bin/env bash
# Builds the read benchmark's volumes with the real tools, once: each image is kept in DIR with
# a note of how it was made and built again only when that changes (filling 100,000 files in
# through ntfs-3g takes minutes). Run as root: loop devices and ntfs-3g.
#   bench/reads/inputs.sh DIR [ntfs] [fat] [ext] [sparse]      (default: all four)
#   ntfs     ntfs-100k.img    2 GiB NTFS (mkntfs, filled through ntfs-3g): READS_NTFS_FILES files
#                             (100,000) in folders of 1,000, 0 to 4 KiB each, every 100th deleted
#   fat      fat32-50k.img    512 MiB FAT32 (mkfs.fat, mcopy -s): READS_FAT_FILES (50,000) the same way
#   ext      ext4-N.img       ext4 (mke2fs -d, inline data) of N tiny files (under 48 bytes) for each N
#                             of READS_EXT_FILES ("250000 500000 1000000"), one tree cut down
#   sparse   disk-1t.img      a 1 TiB sparse disk: an MBR and a 64 MiB NTFS volume at sector 2048
#                             with 1,000 files; the rest was never written
#            ntfs-1t.img      a 1 TiB NTFS volume (mkntfs -Q) with 1,000 files, sparse
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=${1:?usage: inputs.sh DIR [ntfs] [fat] [ext] [sparse]}
shift
sections=("$@")
[ ${#sections[@]} -gt 0 ] || sections=(ntfs fat ext sparse)
ntfs_files=${READS_NTFS_FILES:-100000}
fat_files=${READS_FAT_FILES:-50000}
ext_files=${READS_EXT_FILES:-250000 500000 1000000}
tree=("$(command -v python3)" "$here/tree.py")
[ -x /usr/bin/python3 ] && tree=(/usr/bin/python3 "$here/tree.py")
mkdir -p "$dir"

# Loop devices and mounts made here are undone when the script ends, however it ends.
mnt=$dir/mnt
loops=()
cleanup() {
  mountpoint -q "$mnt" 2>/dev/null && umount "$mnt"
  local dev
  for dev in "${loops[@]}"; do [ -z "$dev" ] || release_loop "$dev"; done
  return 0
}
trap cleanup EXIT
# A FUSE unmount returns before ntfs-3g has closed the device, so detaching is retried.
release_loop() {
  local _
  for _ in $(seq 1 50); do
    losetup -d "$1" 2>/dev/null || true
    losetup "$1" >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  echo "inputs.sh: $1 stays attached" >&2
}
attach() { losetup --show -f "$@"; }

# fresh NAME RECIPE: true when DIR/NAME must be built (missing, or made by another recipe).
fresh() { ! [ -f "$dir/$1" ] || [ "$(cat "$dir/$1.made" 2>/dev/null)" != "$2" ]; }
done_() { echo "$2" >"$dir/$1.made"; }

# fill_ntfs IMAGE DEVICE_ARGS... -- TREE_ARGS...: mounts the NTFS volume through ntfs-3g on a loop
# device and writes the tree into it.
fill_ntfs() {
  local img=$1 dev
  shift
  local loop_args=()
  while [ "$1" != -- ]; do loop_args+=("$1"); shift; done
  shift
  dev=$(attach "${loop_args[@]}" "$img")
  loops+=("$dev")
  mkdir -p "$mnt"
  ntfs-3g "$dev" "$mnt"
  "${tree[@]}" "$mnt" "$@"
  sync
  umount "$mnt"
  release_loop "$dev"
  loops=("${loops[@]/$dev/}")
}

build_ntfs() {
  local name=ntfs-100k.img recipe="mkntfs 2G; $ntfs_files files of 1000 a folder, 0-4095 B, every 100th deleted"
  fresh "$name" "$recipe" || return 0
  echo "inputs.sh: $name ($recipe; several minutes)" >&2
  rm -f "$dir/$name" && truncate -s 2G "$dir/$name.tmp"
  mkntfs -F -Q -q -s 512 -c 4096 -p 0 -H 64 -S 32 -L BENCH "$dir/$name.tmp" >/dev/null 2>&1
  fill_ntfs "$dir/$name.tmp" -- "$ntfs_files" 1000 4096 --delete-every 100
  mv "$dir/$name.tmp" "$dir/$name" && done_ "$name" "$recipe"
}

build_fat() {
  local name=fat32-50k.img recipe="mkfs.fat -F 32 512M; $fat_files files of 1000 a folder, 0-4095 B, every 100th deleted"
  fresh "$name" "$recipe" || return 0
  echo "inputs.sh: $name ($recipe)" >&2
  local stage=$dir/stage-fat
  rm -rf "$stage" "${dir:?}/$name" && mkdir -p "$stage/tree"
  truncate -s 512M "$dir/$name.tmp"
  mkfs.fat -F 32 -n BENCH -i 0b0e0c0d "$dir/$name.tmp" >/dev/null
  "${tree[@]}" "$stage/tree" "$fat_files" 1000 4096 --delete-every 100 --delete-list "$stage/deleted"
  (cd "$stage/tree" && mcopy -s -m -Q -i "$dir/$name.tmp" ./* ::/)
  # The deleted files keep their directory entries (first byte 0xE5) and their clusters' bytes.
  sed 's|^|::/|' "$stage/deleted" | xargs -d '\n' mdel -i "$dir/$name.tmp"
  rm -rf "$stage"
  mv "$dir/$name.tmp" "$dir/$name" && done_ "$name" "$recipe"
}

build_ext() {
  local sizes missing=() n
  read -r -a sizes <<<"$(tr ' ' '\n' <<<"$ext_files" | grep . | sort -rn | tr '\n' ' ')"
  for n in "${sizes[@]}"; do
    fresh "ext4-$n.img" "mke2fs -d inline_data; $n files of 1000 a folder, 0-47 B" && missing+=("$n")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  # One tree of the largest size; each smaller volume is made after moving folders out of it.
  local stage=$dir/stage-ext
  rm -rf "$stage" && mkdir -p "$stage/tree" "$stage/aside"
  echo "inputs.sh: writing a tree of ${sizes[0]} files for ext4" >&2
  "${tree[@]}" "$stage/tree" "${sizes[0]}" 1000 48
  for n in "${sizes[@]}"; do
    local folders=$(((n + 999) / 1000)) f
    for f in "$stage"/tree/d*; do
      [ "$((10#${f##*/d}))" -lt "$folders" ] || mv "$f" "$stage/aside/"
    done
    local name=ext4-$n.img recipe="mke2fs -d inline_data; $n files of 1000 a folder, 0-47 B"
    fresh "$name" "$recipe" || continue
    echo "inputs.sh: $name" >&2
    rm -f "$dir/$name"
    # 256-byte inodes, the files' bytes inline in them; room for the inode tables and folders.
    mke2fs -q -F -t ext4 -b 4096 -I 256 -O inline_data -N $((n + 2048)) -L BENCH \
      -d "$stage/tree" "$dir/$name.tmp" $((256 + n / 2048))M >/dev/null
    mv "$dir/$name.tmp" "$dir/$name" && done_ "$name" "$recipe"
  done
  rm -rf "$stage"
}

build_sparse() {
  local name=disk-1t.img recipe="1T sparse; MBR; 64M NTFS at 2048 with 1000 files"
  if fresh "$name" "$recipe"; then
    echo "inputs.sh: $name" >&2
    rm -f "$dir/$name" && truncate -s 1T "$dir/$name.tmp"
    printf 'label: dos\nstart=2048, size=131072, type=7\n' | sfdisk -q "$dir/$name.tmp"
    local dev
    dev=$(attach -o $((2048 * 512)) --sizelimit $((131072 * 512)) "$dir/$name.tmp")
    loops+=("$dev")
    mkntfs -F -Q -q -s 512 -c 4096 -p 2048 -H 64 -S 32 -L SMALL "$dev" >/dev/null 2>&1
    release_loop "$dev"
    fill_ntfs "$dir/$name.tmp" -o $((2048 * 512)) --sizelimit $((131072 * 512)) -- 1000 100 4096 --delete-every 100
    mv "$dir/$name.tmp" "$dir/$name" && done_ "$name" "$recipe"
  fi
  name=ntfs-1t.img recipe="1T sparse NTFS (mkntfs -Q) with 1000 files"
  if fresh "$name" "$recipe"; then
    echo "inputs.sh: $name" >&2
    rm -f "$dir/$name" && truncate -s 1T "$dir/$name.tmp"
    mkntfs -F -Q -q -s 512 -c 4096 -p 0 -H 64 -S 32 -L HUGE "$dir/$name.tmp" >/dev/null 2>&1
    fill_ntfs "$dir/$name.tmp" -- 1000 100 4096 --delete-every 100
    mv "$dir/$name.tmp" "$dir/$name" && done_ "$name" "$recipe"
  fi
}

for s in "${sections[@]}"; do
  case $s in
    ntfs | fat | ext | sparse) "build_$s" ;;
    *) echo "inputs.sh: no section \"$s\" (ntfs, fat, ext, sparse)" >&2; exit 2 ;;
  esac
done
