#!/usr/bin/env bash
# Builds both images twice more, each from a fresh copy of the sources in a
# folder of its own, and compares them byte for byte with the images of the
# main build: the same source must give the same files, wherever it lies.
# Usage: check_reproducible.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
for copy in a b; do
    tree="$work/tree-$copy"
    mkdir -p "$tree"
    cp -r "$source_dir"/{CMakeLists.txt,CMakePresets.json,cmake,src,res} "$tree/"
    for arch in x86 x64; do
        (cd "$tree" && cmake --preset "$arch" -DQUILLMARSH_TESTS=OFF >/dev/null &&
            cmake --build --preset "$arch" --target Quillmarsh >/dev/null)
        if cmp "$source_dir/build/$arch/Quillmarsh.exe" "$tree/build/$arch/Quillmarsh.exe"; then
            echo "$arch image from tree $copy: identical ($(stat -c %s "$tree/build/$arch/Quillmarsh.exe") bytes)"
        else
            echo "FAIL $arch image from tree $copy differs from the main build's"
            failed=$((failed + 1))
        fi
    done
done
[ $failed = 0 ]
