#!/usr/bin/env bash
# Sets up the machine as the test command does, builds Larkspin and starts it
# on the given files (this repository's README.md when none are given).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"

# The files are named from the caller's folder.
files=()
for file in "$@"; do
    files+=("$(realpath -m -- "$file")")
done
if [ ${#files[@]} -eq 0 ]; then
    files=("$root/README.md")
fi

cd "$root"
scripts/setup.sh
scripts/build-renderer.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target larkspin
exec build/release/larkspin "${files[@]}"
