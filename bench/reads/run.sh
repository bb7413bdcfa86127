#!/usr/bin/env bash
# Reading large volumes, beside the peers a user would pick instead, in one run: corvello-cli
# list, list --mode deep, partitions --advanced and save beside The Sleuth Kit's `fls -r -p` and
# `tsk_recover -e`, a plain read of the same image (`cat`, the limit of a scan) and a plain copy
# of the tree save wrote (`cp -a` of that folder on the same file system, from the page cache).
# Prints every command's median wall time over READS_RUNS runs after one untimed run (warm
# cache), its peak memory (ru_maxrss, as `/usr/bin/time -f %M`), the bytes it read (rchar of
# /proc/PID/io) and, under `strace -f -c`, its read calls per listed record; then the ratios with
# their goals, and how memory and time grow with the number of records (ext4).
#   bench/reads/run.sh [ntfs] [fat] [ext] [sparse]        (default: all; run as root)
# Environment: READS_BENCH_DIR (the inputs, kept between runs, and the saved trees; default
# /tmp/corvello-reads-bench), READS_RUNS (5), READS_TIMEOUT (seconds for a scan of the 1 TiB
# sparse images, 300), READS_BUILD (build/bench), and those of inputs.sh for the volumes' sizes.
# Debian packages: ntfs-3g dosfstools mtools e2fsprogs fdisk sleuthkit strace python3.
set -euo pipefail
cd "$(dirname "$0")/../.."
here=bench/reads
dir=${READS_BENCH_DIR:-/tmp/corvello-reads-bench}
runs=${READS_RUNS:-5}
timeout=${READS_TIMEOUT:-300}
build=${READS_BUILD:-build/bench}
sections=("$@")
[ ${#sections[@]} -gt 0 ] || sections=(ntfs fat ext sparse)
py=$(command -v python3)
[ -x /usr/bin/python3 ] && py=/usr/bin/python3

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVELLO_BUILD_TESTS=OFF -DCORVELLO_BUILD_UI=OFF >/dev/null
cmake --build "$build" -j 2 --target corvello-cli >/dev/null
cli=$(cd "$build/src" && pwd)/corvello-cli
"$here/inputs.sh" "$dir" "${sections[@]}"

stamp=$(date +%Y%m%d-%H%M%S)
results=$dir/results-$stamp.jsonl
logs=$dir/logs-$stamp
out=$dir/out
mkdir -p "$logs" "$out"
: >"$results"
# m LABEL [measure options] -- CMD...: times CMD; its stderr goes to logs/LABEL.err.
m() {
  local label=$1
  shift
  "$py" "$here/measure.py" run "$results" "$label" --runs "$runs" --log "$logs/$label.err" "$@"
}
# s LABEL -- CMD...: counts CMD's system calls under strace.
s() {
  local label=$1
  shift
  "$py" "$here/measure.py" strace "$results" "$label" --log "$logs/$label.strace.err" "$@"
}
warm() { cat "$@" >/dev/null; }
size_of() { stat -c %s "$1"; }
allocated() { du -B1 "$1" | cut -f1; }
info=()
note() { info+=("$*"); echo "$*" >&2; }

note "commit $(git rev-parse --short HEAD) ($(git log -1 --format=%s | cut -c1-60)...), $(nproc) cores, $(uname -r)"
note "load before: $(uptime)"

# compare_save PREFIX IMAGE: save, tsk_recover -e and cp -a of the tree save wrote.
compare_save() {
  local p=$1 img=$2
  m "$p.save" --before "rm -rf '$out/$p-save'" -- "$cli" save "$img" --out "$out/$p-save"
  m "$p.tsk_recover" --before "rm -rf '$out/$p-tsk' && mkdir '$out/$p-tsk'" -- tsk_recover -e "$img" "$out/$p-tsk"
  m "$p.cp" --before "rm -rf '$out/$p-cp'" -- cp -a "$out/$p-save" "$out/$p-cp"
  note "$p: save wrote $(find "$out/$p-save" -type f | wc -l) files, $(du -sb "$out/$p-save" | cut -f1) bytes;" \
    "tsk_recover -e $(find "$out/$p-tsk" -type f | wc -l) files, $(du -sb "$out/$p-tsk" | cut -f1) bytes"
  rm -rf "$out/$p-cp" "$out/$p-tsk"
}

for section in "${sections[@]}"; do
  case $section in
    ntfs)
      img=$dir/ntfs-100k.img
      note "ntfs: $img, $(size_of "$img") bytes, $(allocated "$img") allocated"
      warm "$img"
      m ntfs.cat -- cat "$img"
      m ntfs.fls --records -- fls -r -p "$img"
      m ntfs.list --records -- "$cli" list "$img"
      m ntfs.deep --records -- "$cli" list "$img" --mode deep
      m ntfs.bootscan -- "$cli" partitions "$img" --advanced --no-skip
      s ntfs.fls -- fls -r -p "$img"
      s ntfs.list -- "$cli" list "$img"
      s ntfs.deep -- "$cli" list "$img" --mode deep
      compare_save ntfs "$img"
      ;;
    fat)
      img=$dir/fat32-50k.img
      note "fat: $img, $(size_of "$img") bytes, $(allocated "$img") allocated"
      warm "$img"
      m fat.cat -- cat "$img"
      m fat.fls --records -- fls -r -p "$img"
      m fat.list --records -- "$cli" list "$img"
      m fat.bootscan -- "$cli" partitions "$img" --advanced --no-skip
      s fat.fls -- fls -r -p "$img"
      s fat.list -- "$cli" list "$img"
      compare_save fat "$img"
      ;;
    ext)
      read -r -a sizes <<<"$(tr ' ' '\n' <<<"${READS_EXT_FILES:-250000 500000 1000000}" | grep . | sort -n | tr '\n' ' ')"
      for n in "${sizes[@]}"; do
        img=$dir/ext4-$n.img
        warm "$img"
        m "ext4-$n.fls" --records -- fls -r -p "$img"
        m "ext4-$n.list" --records -- "$cli" list "$img"
      done
      s "ext4-$n.fls" -- fls -r -p "$img"
      s "ext4-$n.list" -- "$cli" list "$img"
      note "ext: ext4-$n.img, $(size_of "$img") bytes, $(allocated "$img") allocated"
      ;;
    sparse)
      # What a scan must not read: the images are 1 TiB of which a few MiB were ever written, so
      # the bytes each command read (rchar) beside those allocated say how much of the holes it
      # went through. cat shows how fast reading the holes themselves goes.
      disk=$dir/disk-1t.img huge=$dir/ntfs-1t.img
      note "sparse: $disk, $(size_of "$disk") bytes, $(allocated "$disk") allocated; $huge, $(allocated "$huge") allocated"
      m sparse.partitions --runs 1 -- "$cli" partitions "$disk"
      m sparse.bootscan --runs 0 --timeout "$timeout" --total "$(size_of "$disk")" -- "$cli" partitions "$disk" --advanced
      m sparse.list --runs 1 --records -- "$cli" list "$huge"
      m sparse.fls --runs 1 --records -- fls -r -p "$huge"
      m sparse.deep --runs 0 --records --timeout "$timeout" --total "$(size_of "$huge")" -- "$cli" list "$huge" --mode deep
      m sparse.cat --runs 0 --timeout "$timeout" --total "$(size_of "$huge")" -- cat "$huge"
      ;;
    *) echo "run.sh: no section \"$section\" (ntfs, fat, ext, sparse)" >&2; exit 2 ;;
  esac
done
note "load after: $(uptime)"

compare=(
  "ntfs.list ntfs.fls 0.3 2" "ntfs.deep ntfs.cat 1.43 -" "ntfs.bootscan ntfs.cat 1.43 -"
  "ntfs.save ntfs.cp 1.0 -" "ntfs.save ntfs.tsk_recover - -"
  "fat.list fat.fls 0.3 2" "fat.bootscan fat.cat 1.43 -" "fat.save fat.cp 1.0 -" "fat.save fat.tsk_recover - -"
  "sparse.list sparse.fls - -"
)
scale_list="" scale_fls=""
for n in ${sizes[@]+"${sizes[@]}"}; do
  compare+=("ext4-$n.list ext4-$n.fls - 2")
  scale_list+=" ext4-$n.list" scale_fls+=" ext4-$n.fls"
done
args=()
for c in "${compare[@]}"; do args+=(--compare "$c"); done
{
  printf '%s\n' "${info[@]}"
  echo "times: median of $runs runs after one untimed run, warm page cache; sparse scans: one run, cut at $timeout s"
  echo "ratios: time and peak memory of the first over the second; a speed goal of 0.7x cat is a time ratio of 1.43"
  echo
  "$py" "$here/measure.py" report "$results" "${args[@]}" --scale "$scale_list" --scale "$scale_fls"
} | tee "$dir/report-$stamp.txt"
echo "(kept in $dir/report-$stamp.txt; each command's stderr in $logs)" >&2
