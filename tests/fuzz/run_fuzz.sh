#!/usr/bin/env bash
# Builds the platform-free pieces natively with clang, under AddressSanitizer
# and UndefinedBehaviorSanitizer, and gives each libFuzzer target a bounded
# run. Usage: run_fuzz.sh SOURCE_DIR WORK_DIR [SECONDS_PER_TARGET]
set -euo pipefail
source_dir=$1
work=$2
seconds=${3:-20}
mkdir -p "$work"
flags=(-std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I"$source_dir/src")
failed=0
for target in exe_name settings_path; do
    clang++ "${flags[@]}" "$source_dir/tests/fuzz/fuzz_$target.cpp" "$source_dir/src/trim/$target.cpp" \
        -o "$work/fuzz_$target"
    mkdir -p "$work/corpus_$target"
    if "$work/fuzz_$target" -max_total_time="$seconds" -seed=1 -artifact_prefix="$work/" \
        "$work/corpus_$target" >"$work/fuzz_$target.log" 2>&1; then
        echo "fuzz_$target: $(grep -E '^Done [0-9]+ runs' "$work/fuzz_$target.log"), no fault"
    else
        echo "FAIL fuzz_$target:"
        tail -n 30 "$work/fuzz_$target.log"
        failed=1
    fi
done
exit $failed
