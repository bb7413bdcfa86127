#!/usr/bin/env bash
# Carving throughput on a 1 GiB image read from the page cache, as a ratio to `cat` of the same
# file, beside foremost and photorec where they are installed.
#   bench/carve/run.sh [BUILD_DIR]     (a Release build; default build-release)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build-release}
if [ ! -x "$build/tools/corvello-carve-bench" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVELLO_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j 2 >/dev/null
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/corvello-carve-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
img=$work/noise.img

# 1 GiB of noise with the fixture's files laid at sector boundaries every 64 MiB.
head -c $((1 << 30)) /dev/urandom >"$img"
zstd -q -d -f tests/fixtures/images/carve.img.zst -o "$work/fixture.img"
for i in $(seq 0 15); do
  dd if="$work/fixture.img" of="$img" bs=512 seek=$((i * 131072 + 8)) conv=notrunc status=none
done
cat "$img" >/dev/null  # into the page cache

now() { date +%s.%N; }
min() { printf '%s\n' "$@" | sort -g | head -1; }
# The best of five runs each: the machine may be shared.
cat_runs=() corvello_runs=()
for _ in 1 2 3 4 5; do
  t0=$(now); cat "$img" >/dev/null; t1=$(now)
  cat_runs+=("$(echo "$t1 - $t0" | bc -l)")
  result=$("$build/tools/corvello-carve-bench" "$img" "$build/data/FileSetting.txt")
  corvello_runs+=("$(echo "$result" | awk -F'\t' '$1=="seconds"{print $2}')")
done
cat_s=$(min "${cat_runs[@]}")
corvello_s=$(min "${corvello_runs[@]}")
echo "cat:        ${cat_s} s"
echo "corvello:   ${corvello_s} s, $(echo "$result" | awk -F'\t' '$1=="files"{print $2}') files"
printf 'ratio to cat (throughput): %.2f\n' "$(echo "$cat_s / $corvello_s" | bc -l)"

if command -v foremost >/dev/null; then
  t0=$(now); foremost -q -i "$img" -o "$work/foremost" >/dev/null 2>&1 || true; t1=$(now)
  printf 'foremost:   %.3f s (ratio to cat %.2f)\n' "$(echo "$t1 - $t0" | bc -l)" "$(echo "$cat_s / ($t1 - $t0)" | bc -l)"
  rm -rf "$work/foremost"
fi
if command -v photorec >/dev/null; then
  mkdir -p "$work/photorec"
  t0=$(now); (cd "$work/photorec" && photorec /d "$work/photorec/out" /cmd "$img" partition_none,options,paranoid,wholespace,search >/dev/null 2>&1) || true; t1=$(now)
  printf 'photorec:   %.3f s (ratio to cat %.2f)\n' "$(echo "$t1 - $t0" | bc -l)" "$(echo "$cat_s / ($t1 - $t0)" | bc -l)"
fi
