#!/usr/bin/env bash
# Builds the core's tests (everything without a window) with AddressSanitizer and
# UndefinedBehaviorSanitizer in a build directory of their own, and runs them: a memory fault
# or undefined behaviour anywhere in the core fails the run. tools/test.sh runs it after the
# ordinary tests; the news-server tests need INN started as tools/test.sh starts it.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="${QUILLO_SANITIZE_BUILD_DIR:-$here/build-sanitize}"

sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi

# -O1 and line tables only build faster than the usual flags and still give the sanitizers
# readable reports; the benchmarks are not built.
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLO_BUILD_UI=OFF \
    -DQUILLO_BUILD_BENCHES=OFF -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" -DCMAKE_CXX_FLAGS="$sanitizers" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" "${launcher[@]}" >/dev/null
cmake --build "$build" -j2

cd "$build"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --output-on-failure -j2 --timeout 600
