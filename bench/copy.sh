#!/usr/bin/env bash
# Copy benchmark: packs a large data file as one PRG0 block and compares the
# time with cat copying the same file, in the same run, on the same disk.
# Prints each run, the median ratio (unifpack / cat), the same ratio against
# cat writing after 40 bytes (where the image's data starts), and unifpack's
# peak resident memory.
#
#   bench/copy.sh [SIZE_MIB] [RUNS]     (defaults: 512 MiB, 7 runs)
#
# Needs GNU time (/usr/bin/time, Debian package "time") for the memory figure.
set -euo pipefail
cd "$(dirname "$0")/.."

size_mib=${1:-512}
runs=${2:-7}

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench -j 2 >/dev/null
tool=$PWD/build-bench/unifpack

work=$(mktemp -d "${TMPDIR:-/tmp}/unifpack-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > data.bin
printf 'TALVORIN\nout.unf\nPRG0 data.bin\n' > bench.mk

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc -l; }

time_tool() {
    local start
    start=$(now)
    "$tool" bench.mk > /dev/null
    t_tool=$(elapsed "$start" "$(now)")
    # The image holds the data file unchanged after its 40 bytes of header
    # and block start.
    if [[ -z ${checked:-} ]]; then
        cmp -s <(tail -c +41 out.unf) data.bin || { echo "image differs from the data file" >&2; exit 1; }
        checked=yes
    fi
}
time_cat() {
    local start
    start=$(now)
    cat data.bin > copy.bin
    t_cat=$(elapsed "$start" "$(now)")
}
# The same copy, but after 40 bytes already in the file, as in the image:
# on some file systems an in-kernel copy into a file at a non-zero offset
# costs more than one at offset 0, so this is the like-for-like baseline.
time_cat_after_header() {
    local start
    start=$(now)
    { printf '%040d' 0; cat data.bin; } > copy.bin
    t_cat40=$(elapsed "$start" "$(now)")
}
# Each command starts with no dirty pages of the other's pending: the files
# of the previous run are removed and everything is synced, untimed.
settle() { rm -f out.unf copy.bin; sync; }

tool_times=()
cat_times=()
cat40_times=()
ratios=()
ratios40=()
cat data.bin > /dev/null  # warm the page cache for both
# Peak memory, measured apart from the timed runs.
settle
/usr/bin/time -f %M -o rss.txt "$tool" bench.mk > /dev/null
peak_kib=$(cat rss.txt)
for i in $(seq "$runs"); do
    # Alternate which one goes first, so neither always meets the other's
    # writeback.
    if (( i % 2 )); then
        settle; time_tool; settle; time_cat; settle; time_cat_after_header
    else
        settle; time_cat_after_header; settle; time_cat; settle; time_tool
    fi
    ratio=$(echo "$t_tool / $t_cat" | bc -l)
    ratio40=$(echo "$t_tool / $t_cat40" | bc -l)
    tool_times+=("$t_tool")
    cat_times+=("$t_cat")
    cat40_times+=("$t_cat40")
    ratios+=("$ratio")
    ratios40+=("$ratio40")
    printf 'run %d: unifpack %.3f s, cat %.3f s, cat after 40 bytes %.3f s\n' \
        "$i" "$t_tool" "$t_cat" "$t_cat40"
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
printf 'data file: %d MiB, %d runs\n' "$size_mib" "$runs"
printf 'median: unifpack %.3f s, cat %.3f s, cat after 40 bytes %.3f s\n' \
    "$(median "${tool_times[@]}")" "$(median "${cat_times[@]}")" "$(median "${cat40_times[@]}")"
printf 'median ratio unifpack/cat: %.2f\n' "$(median "${ratios[@]}")"
printf 'median ratio unifpack/(cat after 40 bytes): %.2f\n' "$(median "${ratios40[@]}")"
printf 'peak resident memory of unifpack: %d KiB\n' "$peak_kib"
