#!/bin/sh
# Rebuild hello.prg and hello.chr from hello.s and make_chr.py.
# Needs ca65/ld65 (cc65) and python3.  Object files go to a temporary
# directory, so only the two ROM files are written here.
set -eu

cd "$(dirname "$0")"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

ca65 -o "$tmp/hello.o" hello.s
ld65 -C nrom.cfg -o hello.prg "$tmp/hello.o"
python3 make_chr.py hello.chr

echo "hello.prg: $(wc -c < hello.prg) bytes"
echo "hello.chr: $(wc -c < hello.chr) bytes"
echo "now run: ../build/unifpack hello.mk"
