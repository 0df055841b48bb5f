#!/bin/sh
# Run by ctest after the tests (CTestCustom.cmake in the build directory):
# prints why each test of this run was skipped, as the test said it (the
# test support writes one file per skip into the directory given), so that
# a skip says why in ctest's plain output, not only in its log.
dir="$1"
[ -d "$dir" ] || exit 0
for file in "$dir"/*; do
    [ -f "$file" ] || continue
    printf 'Skipped %s: %s\n' "${file##*/}" "$(tr '\n' ' ' < "$file" | sed 's/ *$//')"
done
rm -rf "$dir"
