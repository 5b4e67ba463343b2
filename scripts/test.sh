#!/bin/bash
# The whole test suite: installs what it needs, builds, runs the unit tests
# plainly, under AddressSanitizer with UndefinedBehaviorSanitizer and under
# ThreadSanitizer, fuzzes the change-list filter for a bounded time
# (TARN_FUZZ_SECONDS, 30), then runs the end-to-end tests on local GlusterFS volumes
# (scripts/gluster-rig.sh), a fault soak with a restore check (tests/soak) and the cluster tests on three nodes in network
# namespaces (scripts/gluster-cluster.sh) and a one-node replica volume, all
# torn down afterwards whatever the tests did. Needs root for the volumes;
# TARN_SKIP_E2E=1 leaves the end-to-end and cluster tests out.
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
cmake --build build/asan -j"$jobs" --target tarn_unit_tests
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan -L unit -j"$jobs" --output-on-failure

echo "== ThreadSanitizer build and unit tests"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DTARN_INSTALL_TEST=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" >/dev/null
cmake --build build/tsan -j"$jobs" --target tarn_unit_tests
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan -L unit -j"$jobs" --output-on-failure

echo "== libFuzzer: the change-list filter for ${TARN_FUZZ_SECONDS:-30} s"
cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DTARN_BUILD_TESTS=OFF -DTARN_BUILD_FUZZERS=ON -DTARN_FUZZ_SECONDS="${TARN_FUZZ_SECONDS:-30}" \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
  >/dev/null
cmake --build build/fuzz -j"$jobs" --target filter_fuzzer
ctest --test-dir build/fuzz -L fuzz --output-on-failure

if [ "${TARN_SKIP_E2E:-0}" = 1 ]; then
  echo "== end-to-end tests skipped (TARN_SKIP_E2E=1)"
  exit 0
fi
echo "== end-to-end tests on a local GlusterFS volume"
[ "$(id -u)" -eq 0 ] || { echo "the end-to-end tests need root (or TARN_SKIP_E2E=1)"; exit 1; }
# A single-brick volume for every test, and a two-brick distribute volume
# for the lock races (a contended create behaves differently there).
volume=tarn-e2e
dist_volume=tarn-dist
replica_volume=tarn-rep
tear_down() {
  scripts/gluster-cluster.sh down || true
  scripts/gluster-rig.sh down "$replica_volume" || true
  scripts/gluster-rig.sh down tarn-soak || true
  scripts/gluster-rig.sh down "$dist_volume" || true
  scripts/gluster-rig.sh down "$volume"
}
trap tear_down EXIT
scripts/gluster-rig.sh up "$volume"
scripts/gluster-rig.sh distribute "$dist_volume"
TARN_E2E_VOLUME=$volume TARN_E2E_MOUNT=/mnt/$volume \
  TARN_E2E_DIST_VOLUME=$dist_volume TARN_E2E_DIST_MOUNT=/mnt/$dist_volume \
  ctest --test-dir build/release -L e2e --output-on-failure

echo "== fault soak with a restore check, ${TARN_SOAK_SECONDS:-150} s (seed ${TARN_SOAK_SEED:-1})"
tests/soak/soak.sh build/release/tools/tarn-scan/tarn-scan "${TARN_SOAK_SECONDS:-150}" \
  "${TARN_SOAK_SEED:-1}"

echo "== cluster tests: three nodes in network namespaces, and a one-node replica volume"
scripts/gluster-rig.sh replica "$replica_volume"
scripts/gluster-cluster.sh up
ctest --test-dir build/release -L cluster --output-on-failure
