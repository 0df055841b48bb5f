#!/usr/bin/env bash
# Hash benchmark: lists a UNIF image whose ROM data is SIZE_MIB of random
# bytes (a PRG0 block of all but 8 KiB, and an 8 KiB CHR0), with every hash
# unifinfo computes, and compares the time with md5sum, sha1sum, sha256sum
# and a zlib CRC-32 run one after another on the same image, alternating
# which goes first. Prints each run, the medians and their ratio, and
# unifinfo's peak resident memory.
#
#   bench/hashes.sh [SIZE_MIB] [RUNS]     (defaults: 512 MiB, 7 runs)
#
# Needs GNU time (/usr/bin/time, Debian package "time") for the memory
# figure, and python3 for the zlib CRC-32 (its zlib module calls zlib's
# crc32 on 1 MiB pieces).
set -euo pipefail
cd "$(dirname "$0")/.."

size_mib=${1:-512}
runs=${2:-7}

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench -j 2 >/dev/null
tool=$PWD/build-bench/unifinfo

work=$(mktemp -d "${TMPDIR:-/tmp}/unifinfo-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
chr=8192
prg=$((size_mib * 1024 * 1024 - chr))
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"; }
{
    printf 'UNIF'; le32 7; head -c 24 /dev/zero
    printf 'MAPR'; le32 13; printf 'NES-NROM-128\0'
    printf 'PRG0'; le32 "$prg"; head -c "$prg" /dev/urandom
    printf 'CHR0'; le32 "$chr"; head -c "$chr" /dev/urandom
} > image.unf

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc -l; }

crc32() {
    python3 -c '
import sys, zlib
crc = 0
with open(sys.argv[1], "rb") as f:
    while piece := f.read(1 << 20):
        crc = zlib.crc32(piece, crc)
print("%08X" % crc)' "$1"
}

time_tool() {
    local start
    start=$(now)
    "$tool" image.unf > listing.txt
    t_tool=$(elapsed "$start" "$(now)")
}
time_tools() {
    local start
    start=$(now)
    md5sum image.unf > /dev/null
    sha1sum image.unf > /dev/null
    sha256sum image.unf > /dev/null
    crc32 image.unf > /dev/null
    t_tools=$(elapsed "$start" "$(now)")
}

# The listing's hashes must be those of the same bytes by other tools.
tail -c +"$((32 + 21 + 8 + 1))" image.unf | head -c "$prg" > prg.bin
"$tool" image.unf > listing.txt
grep -q "MD5      $(md5sum < prg.bin | cut -d' ' -f1)" listing.txt || { echo "PRG MD5 differs" >&2; exit 1; }
grep -q "SHA-256  $(sha256sum < prg.bin | cut -d' ' -f1)" listing.txt || { echo "PRG SHA-256 differs" >&2; exit 1; }
grep -q "CRC-32   $(crc32 prg.bin)" listing.txt || { echo "PRG CRC-32 differs" >&2; exit 1; }
rm prg.bin

/usr/bin/time -f %M -o rss.txt "$tool" image.unf > /dev/null
peak_kib=$(cat rss.txt)
tool_times=()
tools_times=()
ratios=()
for i in $(seq "$runs"); do
    if (( i % 2 )); then
        time_tool; time_tools
    else
        time_tools; time_tool
    fi
    tool_times+=("$t_tool")
    tools_times+=("$t_tools")
    ratios+=("$(echo "$t_tool / $t_tools" | bc -l)")
    printf 'run %d: unifinfo %.3f s, md5sum+sha1sum+sha256sum+crc32 %.3f s\n' "$i" "$t_tool" "$t_tools"
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
printf 'image: %d MiB of ROM data, %d runs\n' "$size_mib" "$runs"
printf 'median: unifinfo %.3f s, md5sum+sha1sum+sha256sum+crc32 %.3f s\n' \
    "$(median "${tool_times[@]}")" "$(median "${tools_times[@]}")"
printf 'median ratio unifinfo/(the four tools): %.2f\n' "$(median "${ratios[@]}")"
printf 'peak resident memory of unifinfo: %d KiB\n' "$peak_kib"
