#!/usr/bin/env bash
# Speed benchmark: builds a Release unifpack and the floor program
# (bench/floor.c: the same image bytes and messages, written with large
# buffers and nothing else), checks that both write byte-identical images,
# messages and exit statuses for each makefile below, then times them in
# alternating order and prints, for each row, the median of the per-run
# wall-time ratios and unifpack's peak resident memory:
#
#   1. 1,000,000 "NAME abcdefghij" lines                  unifpack / floor
#   2. 1,000,000 "TVCI 2" lines                           unifpack / floor
#   3. 200,000 PRG0 lines, each naming a 16-byte file     unifpack / floor
#   4. a typical cartridge (MAPR, NAME, TVCI, MIRR, BATR, 32 KiB PRG0,
#      8 KiB CHR0), built LOOP_BUILDS times in a loop     unifpack / cat of
#      the two files, and a loop of `true` / cat for the cost of a process
#   5. one BIG_MIB MiB PRG0 file                          unifpack / cat
#
# Messages go to /dev/null. Before each timed run the previous image is
# removed and the disk synced, untimed, so no run meets another's writeback
# (the loop of row 4 overwrites its image, as repeated builds do).
#
#   bench/speed.sh
#   RUNS=7 LOOP_BUILDS=1000 LOOP_ROUNDS=3 BIG_MIB=512 bench/speed.sh   (the defaults)
#
# Needs a C compiler, CMake and GNU time (/usr/bin/time, Debian package
# "time") for the memory figures.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-7}
loop_builds=${LOOP_BUILDS:-1000}
loop_rounds=${LOOP_ROUNDS:-3}
big_mib=${BIG_MIB:-512}

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench -j 2 --target unifpack >/dev/null
tool=$PWD/build-bench/unifpack
work=$(mktemp -d "${TMPDIR:-/tmp}/unifpack-speed.XXXXXX")
trap 'rm -rf "$work"' EXIT
floor=$work/floor
cc -O2 -o "$floor" bench/floor.c
cd "$work"

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { print a / b }'; }
since() { awk -v start="$1" -v now="$EPOCHREALTIME" 'BEGIN { print now - start }'; }
peak_kib() { /usr/bin/time -f %M -o rss.txt "$@" >/dev/null 2>&1; cat rss.txt; }
settle() { rm -f out.unf cart.unf copy.bin; sync; }

# Seconds one command takes, messages to /dev/null.
elapsed() {
    local start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1 || true
    since "$start"
}

# Both programs on a makefile: status, messages and image must be the same.
same_output() {
    local mk=$1 image=$2 status
    settle
    status=0; "$tool" "$mk" >tool.out 2>tool.err || status=$?
    echo "$status" >>tool.out
    mv "$image" tool.unf
    status=0; "$floor" "$mk" >floor.out 2>floor.err || status=$?
    echo "$status" >>floor.out
    if ! cmp -s tool.out floor.out || ! cmp -s tool.err floor.err || ! cmp -s tool.unf "$image"; then
        echo "$mk: unifpack and the floor differ" >&2
        exit 1
    fi
    rm -f tool.unf
}

# One row: unifpack against the floor on a makefile.
against_floor() {
    local what=$1 mk=$2 image=$3 tool_times=() floor_times=() ratios=() i t f
    same_output "$mk" "$image"
    for i in $(seq "$runs"); do
        if (( i % 2 )); then
            settle; t=$(elapsed "$tool" "$mk"); settle; f=$(elapsed "$floor" "$mk")
        else
            settle; f=$(elapsed "$floor" "$mk"); settle; t=$(elapsed "$tool" "$mk")
        fi
        tool_times+=("$t"); floor_times+=("$f"); ratios+=("$(ratio "$t" "$f")")
    done
    settle
    printf '%-44s %6.3f s %6.3f s %6.2fx %8d KiB\n' "$what" "$(median "${tool_times[@]}")" \
        "$(median "${floor_times[@]}")" "$(median "${ratios[@]}")" "$(peak_kib "$tool" "$mk")"
}

# The makefiles.
lines() { awk -v n="$1" -v line="$2" 'BEGIN { print "TALVORIN"; print "out.unf"; for (i = 0; i < n; i++) printf line "\n", i % 1000 }'; }
lines 1000000 'NAME abcdefghij' > names.mk
lines 1000000 'TVCI 2' > tvci.mk
lines 200000 'PRG0 p%d.bin' > prg.mk
for i in $(seq 0 999); do printf '%016d' "$i" > "p$i.bin"; done
head -c 32768 /dev/urandom > cart.prg
head -c 8192 /dev/urandom > cart.chr
printf 'TALVORIN\ncart.unf\nMAPR NES-NROM-256\nNAME Benchmark Cartridge\nTVCI 0\nMIRR 1\nBATR 0\nPRG0 cart.prg\nCHR0 cart.chr\n' > cart.mk
head -c "$((big_mib * 1024 * 1024))" /dev/urandom > big.bin
printf 'TALVORIN\nout.unf\nPRG0 big.bin\n' > big.mk

echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg); $runs runs per row, alternating"
printf '%-44s %8s %8s %7s %12s\n' "makefile" "unifpack" "floor" "ratio" "peak memory"
against_floor "1,000,000 NAME lines" names.mk out.unf
against_floor "1,000,000 TVCI lines" tvci.mk out.unf
against_floor "200,000 PRG0 lines of 16-byte files" prg.mk out.unf

# Row 4: whole loops, alternating which goes first.
same_output cart.mk cart.unf
loop() {
    local start=$EPOCHREALTIME i
    for ((i = 0; i < loop_builds; i++)); do "$@"; done
    since "$start"
}
cat_both() { cat cart.prg cart.chr > cart.unf; }
tool_cart() { "$tool" cart.mk > /dev/null; }
tool_loops=(); cat_loops=(); true_loops=(); tool_ratios=(); true_ratios=()
for i in $(seq "$loop_rounds"); do
    settle
    if (( i % 2 )); then
        t=$(loop tool_cart); c=$(loop cat_both); n=$(loop /bin/true)
    else
        n=$(loop /bin/true); c=$(loop cat_both); t=$(loop tool_cart)
    fi
    tool_loops+=("$t"); cat_loops+=("$c"); true_loops+=("$n")
    tool_ratios+=("$(ratio "$t" "$c")"); true_ratios+=("$(ratio "$n" "$c")")
done
printf '%-44s %6.3f s %6.3f s %6.2fx %8d KiB   (cat: second column)\n' \
    "typical cartridge, $loop_builds builds" "$(median "${tool_loops[@]}")" \
    "$(median "${cat_loops[@]}")" "$(median "${tool_ratios[@]}")" "$(peak_kib "$tool" cart.mk)"
printf '%-44s %6.3f s %6.3f s %6.2fx\n' "  /bin/true, $loop_builds times" \
    "$(median "${true_loops[@]}")" "$(median "${cat_loops[@]}")" "$(median "${true_ratios[@]}")"

# Row 5: the large copy against cat, both with the data file in the page
# cache.
copy_with_cat() {
    local start=$EPOCHREALTIME
    cat big.bin > copy.bin
    since "$start"
}
cmp -s <("$tool" big.mk >/dev/null; tail -c +41 out.unf) big.bin ||
    { echo "big.mk: the image does not hold the data file" >&2; exit 1; }
cat big.bin > /dev/null
tool_times=(); cat_times=(); ratios=()
for i in $(seq "$runs"); do
    if (( i % 2 )); then
        settle; t=$(elapsed "$tool" big.mk); settle; c=$(copy_with_cat)
    else
        settle; c=$(copy_with_cat); settle; t=$(elapsed "$tool" big.mk)
    fi
    tool_times+=("$t"); cat_times+=("$c"); ratios+=("$(ratio "$t" "$c")")
done
settle
printf '%-44s %6.3f s %6.3f s %6.2fx %8d KiB   (cat: second column)\n' \
    "one $big_mib MiB PRG0 file" "$(median "${tool_times[@]}")" "$(median "${cat_times[@]}")" \
    "$(median "${ratios[@]}")" "$(peak_kib "$tool" big.mk)"
