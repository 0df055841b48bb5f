#!/usr/bin/env bash
# Extraction benchmark: packs a large data file as one PRG0 block, then
# times `unifinfo --extract` against cat copying the image, in the same run,
# on the same disk. Checks that the extracted data file is the packed one,
# and prints each run, the median ratio (unifinfo / cat) and unifinfo's peak
# resident memory.
#
#   bench/extract.sh [SIZE_MIB] [RUNS]     (defaults: 512 MiB, 5 runs)
#
# Needs GNU time (/usr/bin/time, Debian package "time") for the memory figure.
set -euo pipefail
cd "$(dirname "$0")/.."

size_mib=${1:-512}
runs=${2:-5}

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench -j 2 >/dev/null
pack=$PWD/build-bench/unifpack
info=$PWD/build-bench/unifinfo

work=$(mktemp -d "${TMPDIR:-/tmp}/unifinfo-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > data.bin
printf 'TALVORIN\nimage.unf\nPRG0 data.bin\n' > bench.mk
"$pack" bench.mk > /dev/null
rm data.bin  # only the image stays: the page cache holds one copy

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc -l; }
settle() { rm -rf out copy.unf; sync; }

cat image.unf > /dev/null  # warm the page cache
settle
/usr/bin/time -f %M -o rss.txt "$info" --extract out image.unf > /dev/null
peak_kib=$(cat rss.txt)
cmp -s <(tail -c +41 image.unf) out/prg0.bin || { echo "out/prg0.bin differs from the packed data" >&2; exit 1; }

info_times=()
cat_times=()
ratios=()
for i in $(seq "$runs"); do
    # Alternate which one goes first, so neither always meets the other's
    # writeback.
    if (( i % 2 )); then
        settle; start=$(now); "$info" --extract out image.unf > /dev/null; t_info=$(elapsed "$start" "$(now)")
        settle; start=$(now); cat image.unf > copy.unf; t_cat=$(elapsed "$start" "$(now)")
    else
        settle; start=$(now); cat image.unf > copy.unf; t_cat=$(elapsed "$start" "$(now)")
        settle; start=$(now); "$info" --extract out image.unf > /dev/null; t_info=$(elapsed "$start" "$(now)")
    fi
    info_times+=("$t_info")
    cat_times+=("$t_cat")
    ratios+=("$(echo "$t_info / $t_cat" | bc -l)")
    printf 'run %d: unifinfo --extract %.3f s, cat %.3f s\n' "$i" "$t_info" "$t_cat"
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
printf 'image: one %d MiB PRG0 block, %d runs\n' "$size_mib" "$runs"
printf 'median: unifinfo --extract %.3f s, cat %.3f s\n' "$(median "${info_times[@]}")" "$(median "${cat_times[@]}")"
printf 'median ratio unifinfo/cat: %.2f\n' "$(median "${ratios[@]}")"
printf 'peak resident memory of unifinfo --extract: %d KiB\n' "$peak_kib"
