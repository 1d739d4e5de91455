#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one briefly over its
# committed seed corpus; fails when an input crashes a target. New inputs that
# a run finds go to a temporary folder, so the committed corpus stays as it is.
#   LARKSPIN_FUZZ_DIR      build tree (default build/fuzz)
#   LARKSPIN_FUZZ_SECONDS  time per target (default 10)
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${LARKSPIN_FUZZ_DIR:-build/fuzz}
seconds=${LARKSPIN_FUZZ_SECONDS:-10}
targets=(envelope_decoder link_resolver image_header scheme_path)

CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DLARKSPIN_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLARKSPIN_WERROR=ON >/dev/null
cmake --build "$dir"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for target in "${targets[@]}"; do
    echo "== fuzz $target (${seconds}s)"
    mkdir -p "$work/$target"
    "$dir/fuzz/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=4096 -print_final_stats=1 -artifact_prefix="$work/" \
        "$work/$target" "fuzz/corpus/$target" 2>"$work/$target.log" || {
        cat "$work/$target.log" >&2
        echo "fuzz: $target found a crashing input" >&2
        exit 1
    }
    grep -E '^stat::number_of_executed_units|^Done' "$work/$target.log" || true
done
echo "== fuzzing passed"
