#!/bin/bash
# Builds the benchmarks in release mode, generates the benchmark cases, runs
# every benchmark in a process of its own (so that peak memory belongs to one
# case) and prints the tables; the results section of bench/RESULTS.md is
# replaced with them. Run as root: the generator sets trusted.gfid attributes.
#
#   scripts/bench.sh [CASE...]     cases: lines-100000 lines-1000000 wide-1000000
#                                  (default: all three)
# The cases live on a journaled ext4 file system in an image file
# (build/bench-ext4.img, 4 GiB sparse, loop-mounted at build/bench-ext4 for the
# run), the way ext4 is usually made: this machine's root file system has no
# journal, and ext4 without one scans the inode table past every inode freed
# in the last minutes whenever it allocates one, which makes every file a run
# creates cost more the more files were removed shortly before.
#
# The machine may be shared: the tables take the fastest of several
# repetitions (TARN_BENCH_REPS for the 100,000-line case, default 5;
# TARN_BENCH_REPS_LARGE for whole runs of the larger ones, default 3; their
# step-by-step runs go once).
#
# Environment: TARN_BENCH_DATA=DIR puts the cases in DIR instead (no image),
# TARN_BENCH_JOBS (build jobs, default 2), TARN_BENCH_NO_RESULTS=1
# to leave bench/RESULTS.md alone, TARN_BENCH_GLUSTER=1 to also time the copy
# step into a real GlusterFS volume (scripts/gluster-rig.sh brings the volume
# tarn-bench up for it and down again).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

results_dir=build/bench-results
build=build/bench
jobs=${TARN_BENCH_JOBS:-2}
reps=${TARN_BENCH_REPS:-5}
reps_large=${TARN_BENCH_REPS_LARGE:-3}

echo "== release build of the benchmarks"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTARN_BUILD_TESTS=OFF \
  -DTARN_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j"$jobs" >/dev/null

# name: generator arguments. The 100,000 and 1,000,000-line cases have the
# same proportions, so that their times compare; the wide case spreads its
# pieces over 10,000 applications and runs twice on one scanner.
declare -A case_args=(
  [lines-100000]="--lines 100000 --apps 100 --owners 400 --pieces 40000 --hot-share 0.5"
  [lines-1000000]="--lines 1000000 --apps 1000 --owners 4000 --pieces 400000 --hot-share 0.5"
  [wide-1000000]="--lines 1000000 --apps 10000 --owners 4000 --pieces 400000 --hot-share 0.1 --runs 2"
)
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(lines-100000 lines-1000000 wide-1000000)

if [ -n "${TARN_BENCH_DATA:-}" ]; then
  data=$TARN_BENCH_DATA
else
  image=build/bench-ext4.img
  mnt=build/bench-ext4
  mkdir -p "$mnt"
  if ! mountpoint -q "$mnt"; then
    if [ ! -f "$image" ]; then
      truncate -s 4G "$image"
      mkfs.ext4 -q -F "$image"
    fi
    mount -o loop "$image" "$mnt"
    # Unmounting frees the loop device too (mount sets autoclear).
    trap 'umount "$mnt"' EXIT
  fi
  data=$mnt/data
fi

echo "== generating cases in $data"
mkdir -p "$data" "$results_dir"
for c in "${cases[@]}"; do
  args=${case_args[$c]:-}
  [ -n "$args" ] || { echo "bench.sh: unknown case $c" >&2; exit 2; }
  stamp="$data/$c.args"
  want="$args --seed 9 $(sha1sum bench/gen/gen_volume.py | cut -c1-12)"
  if [ -f "$data/$c/manifest" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$want" ]; then
    echo "$c: up to date"
    continue
  fi
  # shellcheck disable=SC2086
  python3 bench/gen/gen_volume.py --out "$data/$c" $args --seed 9
  echo "$want" > "$stamp"
done

echo "== running"
TARN_BENCH_LOAD_START=$(cut -d' ' -f1-3 /proc/loadavg)
export TARN_BENCH_LOAD_START
outputs=()
for c in "${cases[@]}"; do
  for kind in scan steps; do
    r=$reps
    if [ "$c" != lines-100000 ]; then
      r=1
      [ "$kind" != scan ] || r=$reps_large
    fi
    out="$results_dir/$kind-$c.json"
    "$build/bench/tarn_bench" --data="$data" --benchmark_filter="^$kind/$c/" \
      --benchmark_repetitions="$r" --benchmark_out="$out" --benchmark_out_format=json \
      --benchmark_display_aggregates_only=true
    outputs+=("$out")
  done
done

if [ "${TARN_BENCH_GLUSTER:-0}" = 1 ]; then
  echo "== copy into GlusterFS"
  scripts/gluster-rig.sh up tarn-bench
  out="$results_dir/copy-glusterfs.json"
  mkdir -p "$data/gluster-copy"
  status=0
  TARN_BENCH_GLUSTER_VOLUME=tarn-bench "$build/bench/tarn_bench" --data="$data/gluster-copy" \
    --benchmark_filter='^copy_to_glusterfs/' --benchmark_out="$out" \
    --benchmark_out_format=json || status=$?
  scripts/gluster-rig.sh down tarn-bench
  [ "$status" -eq 0 ] || exit "$status"
  outputs+=("$out")
fi

echo "== results"
report=(python3 bench/report.py --data "$data" "${outputs[@]}")
if [ "${TARN_BENCH_NO_RESULTS:-0}" != 1 ]; then report+=(--results bench/RESULTS.md); fi
"${report[@]}"
