#!/usr/bin/env bash
# One fuzz campaign: fuzz/run-campaign.sh TARGET MINUTES [RUNS]
#
# Builds the libFuzzer binary of TARGET (partition, fat16, fat32, exfat, ntfs_volume, lznt1, ext,
# hfsplus, carve) with AddressSanitizer and UndefinedBehaviorSanitizer under clang in
# build/fuzz, then fuzzes it from its seed corpus fuzz/corpus/TARGET with the format's
# dictionary until it has done RUNS runs (10 million unless given) or MINUTES minutes have
# passed, whichever comes first. Everything the campaign keeps goes to build/fuzz/campaign/TARGET:
#   corpus/     the inputs that reached new coverage (seeds included)
#   findings/   crashing, leaking or slow inputs, each replayable with the binary
#   log         libFuzzer's output;  summary  runs, speed, coverage (edges), findings
# With KEEP=1 the new inputs that add coverage and are at most KEEP_MAX_BYTES (64 KiB unless
# given) join the seed corpus, which CI replays (MINUTES 0 does only that, after an earlier
# campaign). Crashing inputs are always copied next to the seeds as crash-* (fix the fault
# first: CI replays them too).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
target=${1:?usage: fuzz/run-campaign.sh TARGET MINUTES [RUNS]}
minutes=${2:?usage: fuzz/run-campaign.sh TARGET MINUTES [RUNS]}
runs=${3:-10000000}
build=${CORVELLO_FUZZ_BUILD:-$root/build/fuzz}
seeds=$here/corpus/$target
[ -f "$here/${target}_fuzz.cpp" ] || { echo "no fuzz target named $target" >&2; exit 2; }
[ -d "$seeds" ] || { echo "no seed corpus in $seeds" >&2; exit 2; }

case $target in
  fat16|fat32) dict=$here/dict/fat.dict ;;
  ntfs_volume) dict=$here/dict/ntfs.dict ;;
  *) dict=$here/dict/$target.dict ;;
esac

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCORVELLO_LIBFUZZER=ON -DCORVELLO_SANITIZE=ON -DCORVELLO_BUILD_UI=OFF -DCORVELLO_BUILD_TESTS=OFF >/dev/null
fi
ninja -C "$build" "${target}_fuzz" >/dev/null
binary=$(find "$build" -name "${target}_fuzz" -type f -perm -u+x | head -n 1)

work=$build/campaign/$target
mkdir -p "$work/corpus" "$work/findings"
largest=$(find "$seeds" -type f -printf '%s\n' | sort -n | tail -n 1)
options=(-max_total_time=$((minutes * 60)) -runs="$runs" -max_len="${largest:-4096}" -timeout=30
         -rss_limit_mb=4096 -malloc_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$work/findings/")
[ -f "$dict" ] && options+=(-dict="$dict")
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

if [ "$minutes" -gt 0 ]; then
echo "fuzzing $target for at most $minutes min or $runs runs; output in $work"
start=$(date +%s)
# libFuzzer stops at the first crash; go on from the corpus kept so far until time or runs are up.
done_runs=0
rounds=0
: >"$work/log"
while [ "$rounds" -lt 8 ]; do
  rounds=$((rounds + 1))
  elapsed=$(($(date +%s) - start))
  left=$((minutes * 60 - elapsed))
  [ "$left" -gt 5 ] && [ "$done_runs" -lt "$runs" ] || break
  options[0]=-max_total_time=$left
  options[1]=-runs=$((runs - done_runs))
  status=0
  "$binary" "${options[@]}" "$work/corpus" "$seeds" >"$work/round.log" 2>&1 || status=$?
  cat "$work/round.log" >>"$work/log"
  # The runs of this round: the final statistics, or after a crash the last status line.
  last=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/round.log" | grep -o '[0-9]*$' | tail -n 1 || true)
  [ -n "$last" ] || last=$(grep -o '^#[0-9]*' "$work/round.log" | tr -d '#' | tail -n 1 || true)
  done_runs=$((done_runs + ${last:-0}))
  [ "$status" -eq 0 ] && break
  echo "finding after $done_runs runs (status $status); going on" | tee -a "$work/log"
done
elapsed=$(($(date +%s) - start))

coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$work/log" | tail -n 1 || true)
peak=$(grep -o 'stat::peak_rss_mb: *[0-9]*' "$work/log" | grep -o '[0-9]*$' | sort -n | tail -n 1 || true)
findings=$(find "$work/findings" -type f | wc -l)
{
  echo "target $target"
  echo "time ${elapsed} s"
  echo "runs $done_runs ($((done_runs / (elapsed > 0 ? elapsed : 1))) per second)"
  echo "coverage ${coverage:-none} (edges, features)"
  echo "corpus $(find "$work/corpus" -type f | wc -l) inputs"
  echo "peak memory ${peak:-?} MB"
  echo "findings $findings"
} | tee "$work/summary"

if [ "$findings" -gt 0 ]; then
  for f in "$work/findings"/*; do cp "$f" "$seeds/crash-$(basename "$f" | sed 's/^[a-z]*-//' | cut -c1-16)"; done
  echo "crashing inputs copied to $seeds as crash-*; replay one with: $binary INPUT"
fi
fi  # MINUTES 0 only keeps what an earlier campaign found
if [ "${KEEP:-0}" = 1 ]; then
  keep=$build/campaign/$target/keep
  rm -rf "$keep" && mkdir -p "$keep"
  # Only what adds coverage over the committed seeds, small enough to live in the repository.
  find "$work/corpus" -type f -size -$((${KEEP_MAX_BYTES:-65536} + 1))c -exec cp {} "$keep/" \;
  before=$(find "$seeds" -type f | wc -l)
  "$binary" -merge=1 -max_len="${largest:-4096}" "$seeds" "$keep" >>"$work/log" 2>&1
  echo "seed corpus: $before -> $(find "$seeds" -type f | wc -l) inputs"
fi
