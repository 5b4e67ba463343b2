#!/bin/bash
# The whole test suite: installs what it needs, builds, runs the unit tests
# plainly and under AddressSanitizer with UndefinedBehaviorSanitizer, then
# fuzzes the change-list filter for a bounded time (TARN_FUZZ_SECONDS, 30).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)

echo "== release build and unit tests"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j"$jobs"
ctest --test-dir build/release -L 'unit|install' -j"$jobs" --output-on-failure

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and unit tests"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DTARN_INSTALL_TEST=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined" \
  >/dev/null
cmake --build build/asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan -L unit -j"$jobs" --output-on-failure

echo "== libFuzzer: the change-list filter for ${TARN_FUZZ_SECONDS:-30} s"
cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DTARN_BUILD_TESTS=OFF -DTARN_BUILD_FUZZERS=ON -DTARN_FUZZ_SECONDS="${TARN_FUZZ_SECONDS:-30}" \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
  >/dev/null
cmake --build build/fuzz -j"$jobs" --target filter_fuzzer
ctest --test-dir build/fuzz -L fuzz --output-on-failure
