#!/bin/bash
# Installs the build into a temporary prefix, builds examples/host.cc with
# nothing but pkg-config, and checks two results on a local-directory volume:
# 14 for an empty session name, 16 while the session's lock file exists.
set -euo pipefail
build_dir=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig:$work/prefix/lib/x86_64-linux-gnu/pkgconfig"
# shellcheck disable=SC2046
g++ -o "$work/host" "$source_dir/examples/host.cc" $(pkg-config --cflags --libs tarn-scanner)

mkdir -p "$work/volumes/vol1"
export TARN_LOCAL_VOLUME_ROOT="$work/volumes" TARN_LOG_FILE="$work/log"
out=$("$work/host" vol1 "$work/out" "$work/volumes/vol1" "" || true)
[ "${out%% *}" = 14 ] || { echo "empty session: expected 14, got: $out"; exit 1; }
touch "$work/volumes/vol1/vol1.lock.nightly"
out=$("$work/host" vol1 "$work/out" "$work/volumes/vol1" nightly || true)
[ "${out%% *}" = 16 ] || { echo "locked session: expected 16, got: $out"; exit 1; }
grep -q "Failed to acquire lock for session nightly" "$work/log"
echo "installed host program: 14 and 16 as expected"

# The command-line host and its manual page come with the library.
"$work/prefix/bin/tarn-scan" --version | grep -q '^tarn-scan '
test -f "$work/prefix/share/man/man1/tarn-scan.1"
set +e
"$work/prefix/bin/tarn-scan" --volume vol1 >/dev/null 2>&1
status=$?
set -e
[ "$status" = 2 ] || { echo "installed tarn-scan: expected status 2 for missing options, got $status"; exit 1; }
echo "installed tarn-scan: runs, has its manual page"

# The helper program for exclusive creates on GlusterFS lies where the
# library looks for it: <libdir>/../libexec/tarn.
libdir=$(pkg-config --variable=libdir tarn-scanner)
helper="$libdir/../libexec/tarn/tarn-create-exclusive"
[ -x "$helper" ] || { echo "installed helper missing: $helper"; exit 1; }
set +e
"$helper" >/dev/null 2>&1
status=$?
set -e
[ "$status" = 2 ] || { echo "installed helper: expected status 2 without arguments, got $status"; exit 1; }
echo "installed helper program: in place"
