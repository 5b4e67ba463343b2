#!/bin/bash
# Builds the benchmarks in release mode, generates the benchmark cases, runs
# every benchmark in a process of its own (so that peak memory belongs to one
# case) and prints the tables; the results section of bench/RESULTS.md is
# replaced with them. Run as root: the generator sets trusted.gfid attributes.
#
#   scripts/bench.sh [CASE...]     local cases: lines-100000 lines-1000000 wide-1000000
#                                  ("default": these three, also with no CASE),
#                                  lines-10000000 (10M lines, 10,000 applications:
#                                  1.5 minutes to generate, 3-4 minutes to run,
#                                  so not in the default set), lines-100000000
#                                  (100M lines, by hand: see below)
#                                  real volume: rig-100000 (see below), rig-1000
#                                  (the same with 1,000 files and two 40 MiB
#                                  images: a check of the machinery in a minute)
#
#   everything the targets need, in one command:
#   TARN_BENCH_GLUSTER=1 scripts/bench.sh default lines-10000000 rig-100000
#
# The local cases live on a journaled ext4 file system in an image file
# (build/bench-ext4.img, sparse, loop-mounted at build/bench-ext4 for the run;
# 4 GiB, 8 GiB with lines-10000000, 32 GiB with lines-100000000, grown when
# smaller), the way ext4 is usually made: this machine's root file system has no
# journal, and ext4 without one scans the inode table past every inode freed
# in the last minutes whenever it allocates one, which makes every file a run
# creates cost more the more files were removed shortly before.
#
# The machine may be shared: the tables take the fastest of several
# repetitions (TARN_BENCH_REPS for the 100,000-line case, default 5;
# TARN_BENCH_REPS_LARGE for whole runs of the larger ones, default 3; their
# step-by-step runs go once).
#
# lines-10000000 and lines-100000000 run once each (whole run and steps) and
# keep their generated case. On disk, lines-10000000 takes 0.7 GB generated
# and 1.7 GB at the peak of a run; lines-100000000 about ten times that (its
# list alone is 5.8 GB), some 17 GB of the 32 GiB image, and an hour or more
# (15 minutes to generate); run it alone: scripts/bench.sh lines-100000000.
# The image is sparse: it takes what its files take, and keeps it after they
# are removed; remove the image (umount build/bench-ext4 first if mounted) to
# get the space back.
#
# rig-100000 (also added to any run by TARN_BENCH_RIG=1): a real GlusterFS
# volume, tarn-bench-rig, brought up by scripts/gluster-rig.sh (one brick,
# sharded with 4 MB blocks, aux-gfid mount at /mnt/tarn-bench-rig, on
# 127.0.0.1) and filled through the mount by bench/rig/rig_volume.py with 8
# writers: 100 applications x 10 directories x 100 files of 2 KiB, and three
# 1 GiB images in the first two applications (about 2 minutes; skipped when
# the volume holds the case already: build/bench-results/rig-100000.stamp).
# Then a full scan with the real glusterfind, step by step (tarn_bench
# rig/rig-100000/full, files listed), glusterfind post, changes (1,000 files
# rewritten, i.e. 1 %, 100 added, three 64 KiB in-place writes into pieces of
# each image), a wait until the bricks' change log has closed a journal after
# them and an incremental pass reaches it, and an incremental scan. Each scan
# runs in a process of its own and must list every change made (and nothing
# else but directories and entries gone since), or the benchmark fails. About
# 2 minutes to fill, 1.5 minutes to scan. The volume is deleted at the end;
# TARN_BENCH_RIG_KEEP=1 keeps it (and its files) for the next run, and
# TARN_BENCH_RIG_VOLUME=NAME uses another volume (never tarn-e2e or tarn-dist,
# which the end-to-end tests use; only the rig's scans see it). It takes
# about 3.5 GB below /var/lib/tarn-rig. Where others use the rig too, run it
# under their lock, e.g. flock -o /work/rig.lock scripts/bench.sh rig-100000.
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
  # The wide case's proportions (10,000 applications, pieces 40 % of the
  # lines, 100 per owner) at ten and a hundred times the lines.
  [lines-10000000]="--lines 10000000 --apps 10000 --owners 40000 --pieces 4000000 --hot-share 0.1"
  [lines-100000000]="--lines 100000000 --apps 10000 --owners 400000 --pieces 40000000 --hot-share 0.1"
)
default_cases=(lines-100000 lines-1000000 wide-1000000)
cases=()
rig_cases=()
[ $# -gt 0 ] || set -- default
for c in "$@"; do
  case "$c" in
    default) cases+=("${default_cases[@]}") ;;
    rig-100000 | rig-1000) rig_cases+=("$c") ;;
    *)
      [ -n "${case_args[$c]:-}" ] || { echo "bench.sh: unknown case $c" >&2; exit 2; }
      cases+=("$c") ;;
  esac
done
if [ "${TARN_BENCH_RIG:-0}" = 1 ] && [ ${#rig_cases[@]} -eq 0 ]; then rig_cases=(rig-100000); fi

# GiB of image the cases need: the 1,000,000-line cases take at most 0.3 GB
# each while they run, the 10M case 1.7 GB, the 100M one about 17 GB.
image_gib=4
for c in "${cases[@]}"; do
  case "$c" in
    lines-10000000) [ "$image_gib" -ge 8 ] || image_gib=8 ;;
    lines-100000000) image_gib=32 ;;
  esac
done

data=
if [ ${#cases[@]} -eq 0 ]; then
  data=$results_dir
elif [ -n "${TARN_BENCH_DATA:-}" ]; then
  data=$TARN_BENCH_DATA
else
  image=build/bench-ext4.img
  mnt=build/bench-ext4
  mkdir -p "$mnt"
  if [ -f "$image" ] && [ "$(stat -c %s "$image")" -lt $((image_gib << 30)) ]; then
    echo "== growing $image to $image_gib GiB"
    if mountpoint -q "$mnt"; then umount "$mnt"; fi
    truncate -s "${image_gib}G" "$image"
    e2fsck -f -y "$image" >/dev/null || [ $? -le 1 ]
    resize2fs "$image" >/dev/null
  fi
  if ! mountpoint -q "$mnt"; then
    if [ ! -f "$image" ]; then
      truncate -s "${image_gib}G" "$image"
      mkfs.ext4 -q -F "$image"
    fi
    mount -o loop "$image" "$mnt"
    # Unmounting frees the loop device too (mount sets autoclear).
    trap 'umount "$mnt"' EXIT
  fi
  data=$mnt/data
fi

mkdir -p "$data" "$results_dir"
[ ${#cases[@]} -eq 0 ] || echo "== generating cases in $data"
for c in "${cases[@]}"; do
  args=${case_args[$c]}
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
    case "$c" in lines-10000000 | lines-100000000) r=1 ;; esac
    out="$results_dir/$kind-$c.json"
    env -u TARN_BENCH_RIG_VOLUME "$build/bench/tarn_bench" --data="$data" --benchmark_filter="^$kind/$c/" \
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
  env -u TARN_BENCH_RIG_VOLUME TARN_BENCH_GLUSTER_VOLUME=tarn-bench \
    "$build/bench/tarn_bench" --data="$data/gluster-copy" \
    --benchmark_filter='^copy_to_glusterfs/' --benchmark_out="$out" \
    --benchmark_out_format=json || status=$?
  scripts/gluster-rig.sh down tarn-bench
  [ "$status" -eq 0 ] || exit "$status"
  outputs+=("$out")
fi

for c in "${rig_cases[@]}"; do
  bench/rig/run_rig.sh "$build/bench/tarn_bench" "$c" "$results_dir"
  outputs+=("$results_dir/$c-full.json" "$results_dir/$c-incremental.json")
done

echo "== results"
report=(python3 bench/report.py --data "$data" "${outputs[@]}")
if [ "${TARN_BENCH_NO_RESULTS:-0}" != 1 ]; then report+=(--results bench/RESULTS.md); fi
"${report[@]}"
