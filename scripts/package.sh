#!/bin/bash
# Builds the Debian packages libtarnscanner1, libtarnscanner-dev and tarn-scan
# from a release build for /usr (build/package) into build/package/debs (or
# the directory given as the first argument). Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=build/package
out=${1:-$build/debs}
# Debian's build flags, hardening included (fortify, stack protector, relro
# and bind now); the libraries lie in the linker's own path, so no RPATH.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DTARN_PACKAGING=ON -DTARN_BUILD_TESTS=OFF -DCMAKE_SKIP_INSTALL_RPATH=ON >/dev/null
cmake --build "$build" -j"${TARN_JOBS:-$(nproc)}"
rm -rf "$build/_CPack_Packages"
mkdir -p "$out"
rm -f "$out"/*.deb
(cd "$build" && cpack -G DEB -B "$PWD/cpack" >/dev/null)
mv "$build"/cpack/*.deb "$out"/
ls -1 "$out"/*.deb
