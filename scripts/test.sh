#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit tests in an optimised build and
# again under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

echo "== source rules"
python3 scripts/check-source.py
python3 scripts/check_source_tests.py

echo "== docs name what exists"
python3 scripts/check-docs.py
python3 scripts/check_docs_tests.py

echo "== desktop files"
desktop-file-validate data/dev.corvantel.larkspin.desktop
appstreamcli validate --no-net data/dev.corvantel.larkspin.metainfo.xml

echo "== renderer page"
scripts/build-renderer.sh
(cd renderer && npm test --silent)

build_and_test() {
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja -DLARKSPIN_WERROR=ON "$@"
    cmake --build "$dir"
    # One Xvfb serves every test that needs a display.
    xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
        ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
}

echo "== optimised build"
build_and_test build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== sanitizer build"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
build_and_test build/asan -DCMAKE_BUILD_TYPE=Debug -DLARKSPIN_SANITIZE=ON -DLARKSPIN_BUILD_BENCH=OFF

echo "== fuzzing"
scripts/fuzz.sh

echo "== all tests passed"
