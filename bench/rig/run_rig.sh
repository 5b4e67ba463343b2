#!/bin/bash
# The real-volume case of scripts/bench.sh: brings up the volume, fills it
# (once), scans it full, changes it, waits for the change log and scans it
# incrementally, each scan in a process of its own. Run as root.
#
#   bench/rig/run_rig.sh TARN_BENCH CASE RESULTS_DIR
#
# Writes RESULTS_DIR/CASE-full.json and CASE-incremental.json (tarn_bench's
# JSON). TARN_BENCH_RIG_KEEP=1 leaves the volume up for the next run;
# TARN_BENCH_RIG_VOLUME picks another volume name (default tarn-bench-rig).
set -euo pipefail
bench=$(realpath "$1")
name=$2
results=$(realpath "$3")
cd "$(dirname "$0")/../.."

volume=${TARN_BENCH_RIG_VOLUME:-tarn-bench-rig}
case "$volume" in
  tarn-e2e | tarn-dist) echo "run_rig: $volume belongs to the end-to-end tests" >&2; exit 2 ;;
esac
mnt=/mnt/$volume
case "$name" in
  rig-100000) sizes=(--apps 100 --dirs 10 --files 100 --file-bytes 2048 --images 3 --image-mib 1024) ;;
  # A quick check of the machinery: 1,000 files, two images of 40 MiB.
  rig-1000) sizes=(--apps 10 --dirs 5 --files 20 --file-bytes 2048 --images 2 --image-mib 40) ;;
  *) echo "run_rig: unknown case $name" >&2; exit 2 ;;
esac
rig() { python3 bench/rig/rig_volume.py "$1" --mount "$mnt" --volume "$volume" "${sizes[@]}" "${@:2}"; }

echo "== $name: volume $volume"
scripts/gluster-rig.sh up "$volume"
if [ "${TARN_BENCH_RIG_KEEP:-0}" != 1 ]; then
  trap 'scripts/gluster-rig.sh down "$volume"' EXIT
fi
rig populate --stamp "$results/$name.stamp"
rig reset
rig expect-full --out "$results/$name-expect-full"

export TARN_BENCH_RIG_VOLUME=$volume TARN_BENCH_RIG_MOUNT=$mnt TARN_BENCH_RIG_CASE=$name
scan() {
  TARN_BENCH_RIG_SCAN=$1 TARN_BENCH_RIG_EXPECT=$results/$name-expect-$1 \
    "$bench" --data="$results" --benchmark_out="$results/$name-$1.json" \
    --benchmark_out_format=json
}
echo "== $name: full scan"
scan full
# A change right after a full pass may fall in the journal that pass ended
# in; glusterfind needs a couple of seconds between them.
sleep 2
echo "== $name: changes"
since=$(rig change --out "$results/$name-expect-incremental")
rig wait-rollover --since "$since"
echo "== $name: incremental scan"
scan incremental
