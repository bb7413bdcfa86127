#!/usr/bin/env bash
# Records what corvello-cli prints for every fixture, and compares two such records, so that a
# change meant to keep the output can be shown to keep it byte for byte.
#
#   tests/cli-output-diff.sh run  CLI OUTDIR [FIXTURE_DIR...]
#   tests/cli-output-diff.sh diff OUTDIR_A OUTDIR_B
#
# run: every command (partitions in each form, list in each format and mode, fat-tables,
# mft-copies, carve, save, cat) on every image of the fixture folders (default: the unpacked
# fixtures of each build tree under build/ and the shared fixtures), on the image as a whole and
# on each volume that `partitions` (with and without --gpt) lists. For each run OUTDIR holds
# NAME.out (stdout), NAME.err (stderr) and NAME.rc (exit status); save and carve add NAME.tree,
# a sha256 manifest of the folder they wrote (with sizes, and the files' times for save); cat
# keeps the sha256 of what it wrote (NAME.sum). Images are reached through a link named after
# them, so the records do not depend on where they lie.
# CLI needs its FileSetting.txt where it looks for it (a build tree's binary has it).
#
# diff: lists the runs that differ (or exist on one side only); exit status 0 when none does.
set -euo pipefail

usage() {
    sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

[ $# -ge 1 ] || usage
mode=$1
shift

if [ "$mode" = diff ]; then
    [ $# -eq 2 ] || usage
    if diff -r "$1" "$2" >/dev/null; then
        echo "identical: $(find "$1" -type f | wc -l) record(s)"
        exit 0
    fi
    diff -r -q "$1" "$2" || true
    exit 1
fi

[ "$mode" = run ] && [ $# -ge 2 ] || usage
cli=$(readlink -f "$1")
out=$(mkdir -p "$2" && cd "$2" && pwd)
shift 2
[ -x "$cli" ] || { echo "not an executable: $cli" >&2; exit 2; }

here=$(cd "$(dirname "$0")/.." && pwd)
folders=("$@")
if [ ${#folders[@]} -eq 0 ]; then
    for d in "$here"/build/*/tests/fixtures; do [ -d "$d" ] && folders+=("$d"); done
    [ -d "$here/../shared/fixtures" ] && folders+=("$here/../shared/fixtures")
fi

# One image of each name: the first folder that has it.
declare -A seen=()
images=()
for d in "${folders[@]}"; do
    for f in "$d"/*.img "$d"/*.raw "$d"/*.E01; do
        [ -f "$f" ] || continue
        name=$(basename "$f")
        [ -n "${seen[$name]:-}" ] && continue
        seen[$name]=1
        images+=("$(readlink -f "$f")")
    done
done
[ ${#images[@]} -gt 0 ] || { echo "no fixture images found" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/cli-output-diff.XXXXXX")
trap 'rm -rf "$work"' EXIT
export TZ=UTC LC_ALL=C

# manifest DIR [times]: one line per entry below DIR, sorted: type, size, mtime, sha256, path.
# The mtime of files only with "times" (save gives files their recorded times; folders, and
# the files carve writes, get the time of the run), else "-".
manifest() {
    (cd "$1" && find . -mindepth 1 -printf '%y\t%s\t%T@\t%p\n' | sort -t$'\t' -k4 |
        while IFS=$'\t' read -r type size mtime path; do
            sum=-
            [ "$type" = f ] && sum=$(sha256sum <"$path" | cut -d' ' -f1)
            [ "$type" = d ] && size=-
            if [ "$type" != f ] || [ "${2:-}" != times ]; then mtime=-; fi
            printf '%s\t%s\t%s\t%s\t%s\n' "$type" "$size" "${mtime%.*}" "$sum" "$path"
        done)
}

# record NAME ARGS...: runs the CLI in the image's folder, keeping stdout, stderr and status.
record() {
    local name=$1
    shift
    local rc=0
    (cd "$work/img" && "$cli" "$@" >"$dest/$name.out" 2>"$dest/$name.err") || rc=$?
    echo "$rc" >"$dest/$name.rc"
}

# record_tree TIMES NAME ARGS...: as record, with --out into a fresh folder, then its manifest.
record_tree() {
    local times=$1 name=$2
    shift 2
    rm -rf "$work/img/saved"
    record "$name" "$@" --out saved
    if [ -d "$work/img/saved" ]; then manifest "$work/img/saved" "$times" >"$dest/$name.tree"; fi
    rm -rf "$work/img/saved"
}

# The runs on one volume: SEL is the volume options ("" for the image as a whole).
volume_runs() {
    local tag=$1 img=$2
    shift 2
    local sel=("$@")
    for format in tsv csv json dfxml body; do record "$tag.list-$format" list "$img" "${sel[@]}" --format "$format"; done
    record "$tag.list-long" list "$img" "${sel[@]}" --long
    record "$tag.list-deep" list "$img" "${sel[@]}" --mode deep
    record "$tag.list-advanced" list "$img" "${sel[@]}" --mode advanced
    record "$tag.list-formatted" list "$img" "${sel[@]}" --formatted
    record "$tag.fat-tables" fat-tables "$img" "${sel[@]}"
    record "$tag.mft-copies" mft-copies "$img" "${sel[@]}"
    record_tree times "$tag.save" save "$img" "${sel[@]}"
    # cat: the first live and the first deleted file that list prints.
    local listing="$dest/$tag.list-tsv.out" path
    for state in live deleted; do
        path=$(awk -F'\t' -v s="$state" '$1 == "f" && $2 == s { print $4; exit }' "$listing")
        [ -n "$path" ] || continue
        record "$tag.cat-$state" cat "$img" "${sel[@]}" "$path"
        sha256sum <"$dest/$tag.cat-$state.out" | cut -d' ' -f1 >"$dest/$tag.cat-$state.sum"
        rm -f "$dest/$tag.cat-$state.out"
    done
}

for path in "${images[@]}"; do
    img=$(basename "$path")
    dest="$out/$img"
    rm -rf "$dest" "$work/img"
    mkdir -p "$dest" "$work/img"
    ln -s "$path" "$work/img/$img"
    # The second segment of a split EnCase image lies beside the first.
    for seg in "${path%.E01}".E0[2-9]; do [ -f "$seg" ] && ln -s "$seg" "$work/img/$(basename "$seg")"; done
    echo "$img" >&2

    record partitions partitions "$img"
    record partitions-gpt partitions "$img" --gpt
    record partitions-advanced partitions "$img" --advanced
    record partitions-advanced-noskip partitions "$img" --advanced --no-skip

    volume_runs whole "$img"
    record_tree - whole.carve carve "$img"
    for gpt in "" --gpt; do
        rows=$(awk -F'\t' 'NF >= 4 { n++ } END { print n + 0 }' "$dest/partitions${gpt:+-gpt}.out")
        for ((n = 0; n < rows; n++)); do
            tag="volume$n${gpt:+-gpt}"
            volume_runs "$tag" "$img" --volume "$n" $gpt
            record_tree - "$tag.carve" carve "$img" --volume "$n" $gpt
        done
    done
done
echo "recorded $(find "$out" -type f | wc -l) file(s) for ${#images[@]} image(s) into $out" >&2
