#!/bin/bash
# By hand, not in CI: a scan of a change list of several hundred megabytes,
# to show that filtering streams it. Runs tarn-scan with the stand-in
# glusterfind on a local-directory volume, first on a list of SIZE_MB (default
# 300) in which few entries are kept, then on one a tenth of that size, and
# prints the peak resident memory of each: when filtering streams, the two
# are about the same. A third run keeps every entry of a small list: the kept
# entries are what a run holds (sorted) in memory.
#
#   scripts/large-changelist.sh [SIZE_MB]      (TMPDIR picks the disk; default /var/tmp)
set -euo pipefail
cd "$(dirname "$0")/.."
size_mb=${1:-300}

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j"$(nproc)" --target tarn-scan >/dev/null
tarn_scan=$PWD/build/release/tools/tarn-scan/tarn-scan

work=$(mktemp -d "${TMPDIR:-/var/tmp}/tarn-large-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/volumes/vol1" "$work/state/sessions"
: > "$work/state/sessions/s1@vol1"
export TARN_LOCAL_VOLUME_ROOT="$work/volumes" FAKE_GLUSTERFIND_DIR="$work/state"
export PATH="$PWD/tests/fakes:$PATH" TARN_LOG_FILE="$work/log"

# A change list of about $1 MB; one entry in $2 is a NEW file that is kept,
# the others are deletions, renames and excluded paths.
make_list() {
  awk -v bytes=$(($1 * 1024 * 1024)) -v every="$2" 'BEGIN {
    for (i = 0; n < bytes; i++) {
      if (i % every == 0) line = sprintf("NEW app%d/dir/file-%09d.img", i % 7, i)
      else if (i % 3 == 0) line = sprintf("DELETE app%d/dir/gone-%09d.img", i % 7, i)
      else if (i % 3 == 1) line = sprintf("RENAME app%d/a-%09d app%d/b-%09d", i % 7, i, i % 7, i)
      else line = sprintf("MODIFY app%d/.snaps/snap-%09d/file.img", i % 7, i)
      print line
      n += length(line) + 1
    }
  }' > "$work/state/changelist"
}

# Peak resident memory (MB) of one tarn-scan run.
peak_rss() {
  python3 - "$tarn_scan" "$work" <<'PY'
import resource, subprocess, sys
scan, work = sys.argv[1], sys.argv[2]
subprocess.run([scan, "--volume", "vol1", "--output-dir", work + "/out", "--mount",
                work + "/volumes/vol1", "--session", "s1", "--full"],
               check=True, stdout=subprocess.DEVNULL)
print("%.1f" % (resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024.0))
PY
}

run() {
  make_list "$1" "$2"
  local list_mb kept rss
  list_mb=$(du -m "$work/state/changelist" | cut -f1)
  kept=$(grep -c '^NEW ' "$work/state/changelist" || true)
  rss=$(peak_rss)
  rm -rf "$work/volumes/vol1/.tarn"
  printf '%-34s %6s MB, %9s entries kept: peak RSS %7s MB\n' "$3" "$list_mb" "$kept" "$rss"
}

run "$size_mb" 1000 "large list, few entries kept"
run $((size_mb / 10)) 1000 "a tenth of it, few entries kept"
run $((size_mb / 10)) 1 "a tenth of it, every entry kept"
