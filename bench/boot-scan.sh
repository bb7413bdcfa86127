#!/usr/bin/env bash
# Boot-record scan throughput against a plain sequential read of the same bytes (cat), which is
# the limit. Usage: bench/boot-scan.sh [SIZE_GIB] (default 4). Builds a Release corvello-cli.
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-4}
build=build/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVELLO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target corvello-cli >/dev/null
img=$(mktemp /tmp/corvello-bench.XXXXXX)
trap 'rm -f "$img"' EXIT
# Random bytes (so the page cache holds real data, not holes) with the damaged-table disk at its start.
head -c $((size * 1024 * 1024 * 1024)) /dev/urandom >"$img"
zstd -q -d -c tests/fixtures/images/damaged-table.img.zst | dd of="$img" conv=notrunc status=none
cat "$img" >/dev/null  # warm the page cache for both runs
t() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N); echo "$e - $s" | bc; }
tcat=$(t cat "$img")
tscan=$(t "$build/src/corvello-cli" partitions "$img" --advanced --no-skip)
printf 'size %d GiB\ncat            %6.2f s  %7.0f MiB/s\nboot scan      %6.2f s  %7.0f MiB/s  (%.2f x cat)\n' \
  "$size" "$tcat" "$(echo "$size * 1024 / $tcat" | bc -l)" "$tscan" "$(echo "$size * 1024 / $tscan" | bc -l)" \
  "$(echo "$tscan / $tcat" | bc -l)"
