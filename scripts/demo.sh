#!/bin/bash
# The main job: builds the project and runs one scan of a local-directory
# volume with the stand-in glusterfind, then shows what the run left.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j"$(nproc)" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/volumes/demo/app1" "$work/state"
printf 'NEW app1\nNEW app1/a.txt\nMODIFY app1/b.txt\n' > "$work/state/changelist"
export TARN_LOCAL_VOLUME_ROOT="$work/volumes" FAKE_GLUSTERFIND_DIR="$work/state"
export PATH="$PWD/tests/fakes:$PATH"
# The headers in the tree under their installed names.
mkdir -p "$work/include/tarn"
ln -s "$PWD/scanner" "$work/include/tarn/scanner"
g++ -std=c++17 -I. -I"$work/include" -o "$work/host" examples/host.cc \
  -Lbuild/release/scanner -Lbuild/release/core -ltarnscanner -ltarncore \
  -Wl,-rpath,"$PWD/build/release/scanner:$PWD/build/release/core"
"$work/host" demo "$work/out" "$work/volumes/demo" nightly
find "$work/volumes/demo" -path '*/.tarn/*' -type f | sed "s|$work/volumes/demo/||"
