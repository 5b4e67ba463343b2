#!/bin/bash
# A fault soak with a restore check, on the one-node rig: writers change the
# volume while scans run, faults strike between and during scans, and after
# every successful scan the reference consumer (tarn-scan consume) brings a
# mirror up to date from the lists alone. At the end the writers stop, the
# change log is let catch up, one more incremental scan and consume run, and
# every regular file of the volume is compared with its mirror, 4 MB block by
# 4 MB block. Exit status 0 when no block differs.
#
#   tests/soak/soak.sh TARN_SCAN [SECONDS [SEED]]
#
# TARN_SCAN: the tarn-scan program. SECONDS (default 150) of writes, scans
# and faults; SEED (default: the time) replays a run. The rig volume
# (TARN_SOAK_VOLUME, default tarn-soak) is brought up, and down at the end.
# Run as root.
set -euo pipefail
tarn_scan=$(realpath "${1:?usage: soak.sh TARN_SCAN [SECONDS [SEED]]}")
seconds=${2:-150}
seed=${3:-$(date +%s)}
cd "$(dirname "$0")/../.."
volume=${TARN_SOAK_VOLUME:-tarn-soak}
mnt=/mnt/$volume
session=soak
work=$(mktemp -d /var/tmp/tarn-soak.XXXXXX)
RANDOM=$seed
declare -A faults=()
scans=0 failed_scans=0 written=0 locked_in_a_row=0

say() { echo "soak: $*" >&2; }
finish() {
  local status=$?
  scripts/gluster-rig.sh down "$volume" >/dev/null 2>&1 || true
  if [ "$status" = 0 ] && [ -z "${TARN_SOAK_KEEP:-}" ]; then rm -rf "$work"; else say "kept $work (logs, mirror)"; fi
  exit "$status"
}
trap finish EXIT

scripts/gluster-rig.sh down "$volume" >/dev/null 2>&1 || true
scripts/gluster-rig.sh up "$volume" >/dev/null

scan_args() {
  args=(--volume "$volume" --mount "$mnt" --session "$session" --output-dir "$work/out"
        --post --with-files --log-file "$work/library.log" "$@")
}
scan() {  # scan ARGS...; its exit status
  scan_args "$@"
  "$tarn_scan" "${args[@]}" >>"$work/scans.log" 2>&1
}
consume() {
  "$tarn_scan" consume --volume "$volume" --mount "$mnt" --session "$session" \
    --mirror "$work/mirror" --log-file "$work/library.log" >>"$work/consume.log" 2>&1
}
scan_and_consume() {
  local status=0
  scan "$@" || status=$?
  scans=$((scans + 1))
  [ "$status" = 16 ] || locked_in_a_row=0
  if [ "$locked_in_a_row" -ge 5 ]; then
    say "the session stayed locked for 5 scans: $(grep '^tarn-scan:' "$work/scans.log" | tail -1)"
    exit 1
  fi
  case $status in
    0|3) consume || { say "consume failed: $(tail -1 "$work/consume.log")"; exit 1; } ;;
    *) failed_scans=$((failed_scans + 1))
       if [ "$status" = 16 ]; then locked_in_a_row=$((locked_in_a_row + 1)); fi ;;
  esac
  return 0
}

# Names that glusterfind garbles or that a shell would split.
names=("plain.txt" "with space.txt" "comma,in,name.txt" "caf$(printf '\xc3\xa9').txt"
       "quote'd.txt" "tab$(printf '\t')name.txt" "percent%20.txt")
small() { echo "$mnt/docs/${names[RANDOM % ${#names[@]}]}"; }

# One random change; adds the bytes it wrote to $written.
write_one() {
  local img=$mnt/vm/disk$((RANDOM % 3)).img size mb f g
  case $((RANDOM % 9)) in
    0|1|2)  # in place, anywhere in the image (its first block included)
      size=$(stat -c %s "$img"); mb=$((RANDOM % (size / 1048576)))
      dd if=/dev/urandom of="$img" bs=1M count=1 seek="$mb" conv=notrunc status=none
      written=$((written + 1048576)) ;;
    3)  # append
      mb=$((1 + RANDOM % 3))
      dd if=/dev/urandom of="$img" bs=1M count="$mb" oflag=append conv=notrunc status=none
      written=$((written + mb * 1048576)) ;;
    4)  # truncate to a smaller size, not always on a block boundary
      size=$(stat -c %s "$img")
      [ "$size" -gt 8388608 ] && truncate -s $((size - RANDOM * 64)) "$img" ;;
    5)  # a new or rewritten small file
      f=$(small); head -c $((RANDOM % 5000 + 1)) /dev/urandom >"$f"
      written=$((written + 5000)) ;;
    6)  # removed
      f=$(small); rm -f "$f" ;;
    7)  # renamed
      f=$(small); g=$(small); [ -e "$f" ] && [ "$f" != "$g" ] && mv -f "$f" "$g" 2>/dev/null || true ;;
    8)  # hard-linked, then changed through the link
      f=$(small); g=$(small)
      if [ -f "$f" ] && [ "$f" != "$g" ]; then
        ln -f "$f" "$g" && echo "through the link" >>"$g"
      fi ;;
  esac
  return 0
}

brick_pid() { pgrep -f "glusterfsd.*--volfile-id $volume\." | head -1; }

# A fault between scans, or one that strikes during a scan.
strike() {
  local kind pid status
  case $((RANDOM % 4)) in
    0) kind=brick_killed
       pid=$(brick_pid) && kill -9 "$pid"
       for _ in $(seq 100); do [ -d "/proc/$pid" ] || break; sleep 0.1; done
       scripts/gluster-rig.sh up "$volume" >/dev/null ;;
    1) kind=volume_restarted
       gluster --mode=script volume stop "$volume" >/dev/null
       scripts/gluster-rig.sh up "$volume" >/dev/null ;;
    2|3) kind=$([ $((RANDOM % 2)) = 0 ] && echo scan_killed || echo scan_terminated)
       scan_args --incremental
       "$tarn_scan" "${args[@]}" >>"$work/scans.log" 2>&1 &
       pid=$!
       sleep "0.$((RANDOM % 10))$((RANDOM % 10))"
       kill "-$([ "$kind" = scan_killed ] && echo KILL || echo TERM)" "$pid" 2>/dev/null || true
       wait "$pid" || true
       scans=$((scans + 1))
       # A killed run leaves its lock for the next start's unlock, as the unit
       # does. Killed between the lock's create and its record, it leaves a
       # lock that names no holder, which unlock leaves alone: the soak
       # reaped the run and runs one at a time, so it removes it, as an
       # operator would once sure.
       if ! "$tarn_scan" unlock --volume "$volume" --session "$session" >>"$work/scans.log" 2>&1; then
         "$tarn_scan" unlock --force --volume "$volume" --session "$session" >>"$work/scans.log" 2>&1
         faults[anonymous_lock_removed]=$((${faults[anonymous_lock_removed]:-0} + 1))
       fi ;;
  esac
  faults[$kind]=$((${faults[$kind]:-0} + 1))
  return 0
}

say "seed $seed, ${seconds} s, volume $volume, work $work"
mkdir -p "$mnt/vm" "$mnt/docs"
for i in 0 1 2; do head -c $(((12 + 4 * i) * 1048576)) /dev/urandom >"$mnt/vm/disk$i.img"; done
for n in "${names[@]}"; do echo "$n" >"$mnt/docs/$n"; done
scan_and_consume --full
deadline=$((SECONDS + seconds))
while [ "$SECONDS" -lt "$deadline" ]; do
  for _ in $(seq $((1 + RANDOM % 6))); do write_one; done
  [ $((RANDOM % 3)) = 0 ] && strike
  scan_and_consume --incremental
done

# Every regular file against its mirror, 4 MB block by 4 MB block, and its
# size; sets blocks, mismatched and compared, and names what differs.
compare() {
  blocks=0 mismatched=0 compared=0
  local f gfid copy size b
  while IFS= read -r -d '' f; do
    gfid=$(getfattr --only-values -n glusterfs.gfid.string "$f" 2>/dev/null || true)
    copy=$work/mirror/$gfid
    size=$(stat -c %s "$f")
    for ((b = 0; b * 4194304 < size || b == 0; b++)); do
      blocks=$((blocks + 1))
      if ! cmp -s <(dd if="$f" bs=4M skip=$b count=1 status=none) \
                  <(dd if="$copy" bs=4M skip=$b count=1 status=none 2>/dev/null); then
        mismatched=$((mismatched + 1)); echo "${f#$mnt/} block $b"
      fi
    done
    if [ ! -f "$copy" ] || [ "$(stat -c %s "$copy")" != "$size" ]; then
      mismatched=$((mismatched + 1)); echo "${f#$mnt/} size"
    fi
    compared=$((compared + size))
  done < <(find "$mnt/vm" "$mnt/docs" -type f -print0)
  return 0
}

# The writers have stopped. A change is listed once the change log has
# rolled it over (3 s on the rig): the last passes run until the mirror
# holds everything, five at most; a change that no pass lists stays a
# mismatch.
say "writes stopped; the last scans"
for attempt in 1 2 3 4 5; do
  [ "$attempt" = 1 ] || sleep 2
  scan_and_consume --incremental
  compare >"$work/mismatches"
  [ "$mismatched" = 0 ] && break
done
sed 's/^/soak: MISMATCH: /' "$work/mismatches" >&2

kinds=""
for k in "${!faults[@]}"; do kinds+=" $k=${faults[$k]}"; done
echo "soak: seed=$seed seconds=$seconds scans=$scans failed_scans=$failed_scans faults:${kinds:- none}"
echo "soak: bytes_written=$written bytes_compared=$compared blocks=$blocks mismatched_blocks=$mismatched"
[ "$mismatched" = 0 ]
