#!/bin/bash
# A fault soak with a restore check: writers change the volume while scans
# run, faults strike between and during scans, and after every successful
# scan the reference consumer (tarn-scan consume) brings a mirror up to date
# from the lists alone. At the end the writers stop, the change log is let
# catch up, one more incremental scan and consume run, and every regular file
# of the volume is compared with its mirror, 4 MB block by 4 MB block. Exit
# status 0 when no block differs.
#
#   tests/soak/soak.sh TARN_SCAN [SECONDS [SEED]]
#
# TARN_SCAN: the tarn-scan program. SECONDS (default 150) of writes, scans
# and faults; SEED (default: the time) replays a run. Run as root.
#
# TARN_SOAK_RIG=node (the default): the one-node rig's volume
# TARN_SOAK_VOLUME (default tarn-soak), brought up and down here.
# TARN_SOAK_RIG=cluster: the replica-3 volume tarn-c3 of the three-node
# cluster (scripts/gluster-cluster.sh, brought up and down here); scans and
# the consumer run in node 1, and nodes go off the network too.
#
# Writers: guest writes into a qcow2 image (qemu-io), dd into raw images
# (first block included), appends, truncates, and small files with hostile
# names made, removed, renamed and hard-linked. Faults: a brick killed, the
# volume stopped and started, glusterd restarted (each also while a scan
# runs), the change log switched off and on with writes in between, tarn-scan
# killed or terminated mid-run, the output directory's file system full, and
# on the cluster a node off the network while writes and a scan go on.
# Before every scan the lock of a dead run is removed, as the unit's
# ExecStartPre does.
set -euo pipefail
tarn_scan=$(realpath "${1:?usage: soak.sh TARN_SCAN [SECONDS [SEED]]}")
seconds=${2:-150}
seed=${3:-$(date +%s)}
cd "$(dirname "$0")/../.."
rig=${TARN_SOAK_RIG:-node}
session=soak
work=$(mktemp -d /var/tmp/tarn-soak.XXXXXX)
RANDOM=$seed
declare -A faults=()
scans=0 failed_scans=0 written=0 locked_in_a_row=0

say() { echo "soak: $*" >&2; }

case $rig in
  node)
    volume=${TARN_SOAK_VOLUME:-tarn-soak}
    mnt=/mnt/$volume       # where the writers and the comparison see the volume
    scan_mnt=$mnt          # where the scanner does
    rig_up() { scripts/gluster-rig.sh down "$volume" >/dev/null 2>&1 || true
               scripts/gluster-rig.sh up "$volume" >/dev/null; }
    rig_down() { scripts/gluster-rig.sh down "$volume" >/dev/null 2>&1 || true; }
    gl() { gluster --mode=script "$@"; }
    ;;
  cluster)
    volume=tarn-c3
    scan_mnt=/mnt/$volume
    rig_up() { scripts/gluster-cluster.sh down >/dev/null 2>&1 || true
               scripts/gluster-cluster.sh up >/dev/null 2>&1; }
    rig_down() { scripts/gluster-cluster.sh down >/dev/null 2>&1 || true; }
    gl() { scripts/gluster-cluster.sh exec 1 gluster --mode=script "$@"; }
    ;;
  *) say "TARN_SOAK_RIG is node or cluster, not '$rig'"; exit 2 ;;
esac
# Runs a command where the scanner runs (node 1 of the cluster). nsenter
# execs it, so a pid taken with $! is the program's own.
in_scanner_node=()
on_scanner() { "${in_scanner_node[@]}" "$@"; }

finish() {
  local status=$?
  on_scanner umount "$work/fs" >/dev/null 2>&1 || true
  rig_down
  if [ "$status" = 0 ] && [ -z "${TARN_SOAK_KEEP:-}" ]; then rm -rf "$work"; else say "kept $work (logs, mirror)"; fi
  exit "$status"
}
trap finish EXIT

rig_up
if [ "$rig" = cluster ]; then
  holder=$(scripts/gluster-cluster.sh pid 1)
  mnt=/proc/$holder/root/mnt/$volume
  in_scanner_node=(nsenter -t "$holder" -m -n -u --)
fi
# The output directory lies on a small file system of its own, which a fault
# fills.
mkdir -p "$work/fs"
on_scanner mount -t tmpfs -o size=64m tarn-soak-out "$work/fs"

scan_args() {
  args=(--volume "$volume" --mount "$scan_mnt" --session "$session" --output-dir "$work/fs/out"
        --post --with-files --log-file "$work/library.log" "$@")
}
unlock() {  # the lock of a dead run of this node, as the unit's ExecStartPre
  on_scanner "$tarn_scan" unlock --volume "$volume" --session "$session" --mount "$scan_mnt" "$@" \
    >>"$work/scans.log" 2>&1
}
# A scan in the background; sets scan_pid.
start_scan() {
  unlock || true
  scan_args "$@"
  "${in_scanner_node[@]}" "$tarn_scan" "${args[@]}" >>"$work/scans.log" 2>&1 &
  scan_pid=$!
}
consume() {
  on_scanner "$tarn_scan" consume --volume "$volume" --mount "$scan_mnt" --session "$session" \
    --mirror "$work/mirror" --log-file "$work/library.log" >>"$work/consume.log" 2>&1
}
# The end of the scan started last: after a success the consumer runs.
end_scan() {
  local status=0
  wait "$scan_pid" || status=$?
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
scan_and_consume() { start_scan "$@"; end_scan; }

# Names that glusterfind garbles or that a shell would split.
names=("plain.txt" "with space.txt" "comma,in,name.txt" "caf$(printf '\xc3\xa9').txt"
       "quote'd.txt" "tab$(printf '\t')name.txt" "percent%20.txt")
small() { echo "$mnt/docs/${names[RANDOM % ${#names[@]}]}"; }

# One random change; adds the bytes it wrote to $written.
write_one() {
  local img=$mnt/vm/disk$((RANDOM % 3)).img size mb f g
  case $((RANDOM % 11)) in
    9|10)  # a guest's writes into its qcow2 image: data clusters and metadata
      mb=$((RANDOM % 60)) size=$((4 + RANDOM % 1020))
      qemu-io -f qcow2 -c "write -P $((RANDOM % 256)) $((mb * 1024 + RANDOM % 1024))k ${size}k" \
        "$mnt/vm/guest.qcow2" >/dev/null
      written=$((written + size * 1024)) ;;
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

count() { faults[$1]=$((${faults[$1]:-0} + 1)); }
pick() { echo "$((1 + RANDOM % $1))"; }

# The platform's faults. Each brings the rig back whole before it returns.
brick_killed() {
  local pid
  if [ "$rig" = cluster ]; then
    scripts/gluster-cluster.sh kill-brick "$(pick 3)" "$volume" >/dev/null 2>&1
    scripts/gluster-cluster.sh start-volume "$volume" >/dev/null 2>&1
  else
    pid=$(pgrep -f "glusterfsd.*--volfile-id $volume\." | head -1) && kill -9 "$pid"
    for _ in $(seq 100); do [ -d "/proc/$pid" ] || break; sleep 0.1; done
    scripts/gluster-rig.sh up "$volume" >/dev/null
  fi
}
volume_restarted() {
  gl volume stop "$volume" >/dev/null 2>&1 || true
  if [ "$rig" = cluster ]; then
    scripts/gluster-cluster.sh start-volume "$volume" >/dev/null 2>&1
  else
    scripts/gluster-rig.sh up "$volume" >/dev/null
  fi
}
glusterd_restarted() {
  local pid
  if [ "$rig" = cluster ]; then
    scripts/gluster-cluster.sh restart-glusterd "$(pick 3)" >/dev/null 2>&1
  else
    pid=$(cat /var/run/glusterd.pid) && kill -TERM "$pid"
    for _ in $(seq 150); do [ -d "/proc/$pid" ] || break; sleep 0.1; done
    scripts/gluster-rig.sh up "$volume" >/dev/null
  fi
}

# A fault between scans, or one that strikes during a scan.
strike() {
  local kind kinds=(brick_killed volume_restarted glusterd_restarted changelog_cycled
                    output_full scan_killed scan_terminated)
  local free node before
  [ "$rig" = cluster ] && kinds+=(node_off_network node_off_network)
  kind=${kinds[RANDOM % ${#kinds[@]}]}
  case $kind in
    brick_killed|volume_restarted|glusterd_restarted)
      if [ $((RANDOM % 2)) = 0 ]; then  # while a scan runs
        start_scan --incremental
        sleep "0.$((RANDOM % 10))"
        "$kind"
        end_scan
      else
        "$kind"
      fi ;;
    changelog_cycled)  # with changes that no journal holds
      gl volume set "$volume" changelog.changelog off >/dev/null
      write_one; write_one
      gl volume set "$volume" changelog.changelog on >/dev/null ;;
    output_full)  # no page left, one or two: the run fails at one step or another
      free=$(on_scanner df --output=avail -B1 "$work/fs" | tail -1)
      on_scanner fallocate -l $((free - RANDOM % 3 * 4096)) "$work/fs/filler" 2>/dev/null || true
      before=$failed_scans
      scan_and_consume --incremental
      [ "$failed_scans" = "$before" ] || count output_full_scan_failed
      on_scanner rm -f "$work/fs/filler" ;;
    node_off_network)  # node 1 scans; one of the others goes away a while
      node=$((2 + RANDOM % 2))
      scripts/gluster-cluster.sh isolate "$node" >/dev/null 2>&1
      write_one; write_one
      scan_and_consume --incremental
      scripts/gluster-cluster.sh rejoin "$node" >/dev/null 2>&1 ;;
    scan_killed|scan_terminated)
      start_scan --incremental
      sleep "0.$((RANDOM % 10))$((RANDOM % 10))"
      kill "-$([ "$kind" = scan_killed ] && echo KILL || echo TERM)" "$scan_pid" 2>/dev/null || true
      wait "$scan_pid" || true
      scans=$((scans + 1))
      # Killed between the lock's create and its record, a run leaves a lock
      # that names no holder, which unlock leaves alone: the soak reaped the
      # run and runs one at a time, so it removes it, as an operator would
      # once sure.
      if ! unlock; then
        unlock --force
        count anonymous_lock_removed
      fi ;;
  esac
  count "$kind"
  return 0
}

say "seed $seed, ${seconds} s, volume $volume, work $work"
mkdir -p "$mnt/vm" "$mnt/docs"
for i in 0 1 2; do head -c $(((12 + 4 * i) * 1048576)) /dev/urandom >"$mnt/vm/disk$i.img"; done
qemu-img create -q -f qcow2 "$mnt/vm/guest.qcow2" 64M
qemu-io -f qcow2 -c "write -P 7 0 8M" "$mnt/vm/guest.qcow2" >/dev/null
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
