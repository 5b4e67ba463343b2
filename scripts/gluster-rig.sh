#!/bin/bash
# A GlusterFS volume on this machine, on loopback only, for the end-to-end
# tests, benchmarks and demonstrations. Run as root.
#
#   scripts/gluster-rig.sh up [VOLUME]          one brick, sharded (4MB), mounted
#   scripts/gluster-rig.sh distribute [VOLUME]  the same with two bricks (distribute)
#   scripts/gluster-rig.sh replica [VOLUME]     the same as replica 3 (three bricks, default tarn-rep)
#   scripts/gluster-rig.sh down [VOLUME]        unmount, delete sessions and volume
#   scripts/gluster-rig.sh status [VOLUME]      what is up
#
# VOLUME defaults to tarn-e2e; it is mounted at /mnt/VOLUME with aux-gfid-mount.
# Every command is idempotent. glusterd is started when it is not running and
# stopped by `down` only when this script started it and no volume is left.
# Only the machine's own glusterd counts: the glusterds of the nodes of
# scripts/gluster-cluster.sh share the process table but live in network
# namespaces of their own.
set -euo pipefail

readonly STATE_DIR=/var/lib/tarn-rig
readonly GLUSTERD_VOL=/etc/glusterfs/glusterd.vol
readonly GLUSTERD_PID=/var/run/glusterd.pid
readonly STARTED_MARK=$STATE_DIR/glusterd.started   # holds the PID we started
readonly HOST_ALIAS=tarn-rig-brick
readonly SCRIPT_DIR=$(cd "$(dirname "$0")" && pwd)

log() { echo "gluster-rig: $*" >&2; }
die() { log "$*"; exit 1; }
gcli() { gluster --mode=script "$@"; }

# Waits up to $1 tenths of a second for the command that follows to succeed.
wait_for() {
  local tenths=$1
  shift
  for ((i = 0; i < tenths; i++)); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  return 1
}

# Process $1 shares this script's network namespace.
in_this_netns() {
  [ "$(readlink "/proc/$1/ns/net" 2>/dev/null)" = "$(readlink /proc/self/ns/net)" ]
}

glusterd_pid() {
  local pid
  [ -s "$GLUSTERD_PID" ] || return 1
  pid=$(cat "$GLUSTERD_PID")
  [ -n "$pid" ] && [ -d "/proc/$pid" ] && grep -q glusterd "/proc/$pid/cmdline" 2>/dev/null || return 1
  in_this_netns "$pid" || return 1
  echo "$pid"
}

# glusterd processes of this machine (this network namespace) other than the
# one in the pid file.
other_glusterds() {
  local pid own
  own=$(glusterd_pid || true)
  for pid in $(pgrep -x glusterd || true); do
    [ "$pid" = "$own" ] && continue
    in_this_netns "$pid" || continue
    grep -q '^State:.Z' "/proc/$pid/status" 2>/dev/null && continue
    echo "$pid"
  done
}

# Keeps glusterd, and through it the bricks, on 127.0.0.1.
bind_to_loopback() {
  grep -q 'transport.socket.bind-address' "$GLUSTERD_VOL" && return 0
  sed -i 's|^\(\s*type mgmt/glusterd\)$|\1\n    option transport.socket.bind-address 127.0.0.1|' \
    "$GLUSTERD_VOL"
  grep -q 'transport.socket.bind-address 127.0.0.1' "$GLUSTERD_VOL" ||
    die "cannot add the bind address to $GLUSTERD_VOL"
}

start_glusterd() {
  if glusterd_pid >/dev/null; then
    wait_for 100 gluster pool list || die "glusterd does not answer"
    return 0
  fi
  if [ -n "$(other_glusterds)" ]; then
    die "a glusterd runs without $GLUSTERD_PID (pid $(other_glusterds | tr '\n' ' ')); refusing to start a second one"
  fi
  bind_to_loopback
  # The daemon outlives this script: it must not hold on to descriptors of
  # whoever called it (a test runner's lock, a pipe it waits on).
  (
    for fd in /proc/self/fd/*; do
      fd=${fd##*/}
      [ "$fd" -gt 2 ] && eval "exec $fd>&-" 2>/dev/null
    done
    exec /usr/sbin/glusterd -p "$GLUSTERD_PID"
  )
  wait_for 100 glusterd_pid || die "glusterd did not start"
  glusterd_pid >"$STARTED_MARK"
  wait_for 150 gluster pool list || die "glusterd does not answer"
  log "started glusterd (pid $(cat "$STARTED_MARK"))"
}

stop_glusterd() {
  [ -s "$STARTED_MARK" ] || { log "glusterd was not started here; left running"; return 0; }
  local pid
  pid=$(cat "$STARTED_MARK")
  if [ "$(glusterd_pid || true)" != "$pid" ]; then
    log "glusterd $pid is gone already"
    rm -f "$STARTED_MARK"
    return 0
  fi
  if [ -n "$(gcli volume list 2>/dev/null | grep -v '^No volumes present' || true)" ]; then
    log "other volumes remain; glusterd left running"
    return 0
  fi
  kill "$pid"
  wait_for 100 bash -c "! [ -d /proc/$pid ]" || kill -9 "$pid"
  rm -f "$STARTED_MARK"
  log "stopped glusterd (pid $pid)"
}

# A brick host name that resolves to 127.0.0.1 (the CLI refuses 127.0.0.1
# and localhost themselves).
brick_host() {
  local h
  h=$(hostname)
  if [ "$(getent ahostsv4 "$h" | awk 'NR==1{print $1}')" = 127.0.0.1 ]; then
    echo "$h"
    return
  fi
  grep -qw "$HOST_ALIAS" /etc/hosts || echo "127.0.0.1 $HOST_ALIAS" >>/etc/hosts
  echo "$HOST_ALIAS"
}

volume_exists() { gcli volume info "$1" >/dev/null 2>&1; }

# $3, when given, is the layout ahead of the bricks ("replica 3").
create_volume() {
  local volume=$1 bricks=$2 layout=${3:-} host brick_list=()
  host=$(brick_host)
  for ((b = 1; b <= bricks; b++)); do
    mkdir -p "$STATE_DIR/bricks/$volume/b$b"
    brick_list+=("$host:$STATE_DIR/bricks/$volume/b$b")
  done
  # shellcheck disable=SC2086
  gcli volume create "$volume" $layout "${brick_list[@]}" force >/dev/null
  log "created volume $volume (${layout:+$layout, }${bricks} brick(s) on $host)"
}

configure_volume() {
  local volume=$1
  gcli volume set "$volume" features.shard on >/dev/null
  gcli volume set "$volume" features.shard-block-size 4MB >/dev/null
  gcli volume set "$volume" changelog.rollover-time 3 >/dev/null
  # Parent links from the first file on (glusterfind create turns them on
  # too, but files made before then lack them): the mount can then name
  # every owner of a piece with all its paths.
  gcli volume set "$volume" storage.build-pgfid on >/dev/null
}

mount_answers() { ls "$1" >/dev/null && stat "$1/.gfid" >/dev/null; }

is_mounted() { awk -v m="$1" '$2 == m {found = 1} END {exit !found}' /proc/self/mounts; }

mount_volume() {
  local volume=$1 mnt=/mnt/$1
  # A mount whose volume was stopped answers ENOTCONN until its client has
  # reconnected (seconds after the start, at times a minute); one that does
  # not recover soon is mounted afresh. Only a listing of the top directory
  # tells: the .gfid directory answers without the bricks.
  if is_mounted "$mnt" && ! wait_for 150 mount_answers "$mnt"; then
    umount "$mnt" 2>/dev/null || umount -l "$mnt"
  fi
  if ! is_mounted "$mnt"; then
    mkdir -p "$mnt"
    mount -t glusterfs -o aux-gfid-mount "127.0.0.1:/$volume" "$mnt"
  fi
  # The .gfid directory exists only on an aux-gfid mount.
  wait_for 100 mount_answers "$mnt" || die "$mnt is not an aux-gfid mount of $volume"
}

cmd_up() {
  local volume=$1 bricks=$2 layout=${3:-}
  "$SCRIPT_DIR/install-deps.sh" run
  mkdir -p "$STATE_DIR" /var/lib/glusterd/glusterfind/.keys
  start_glusterd
  volume_exists "$volume" || create_volume "$volume" "$bricks" "$layout"
  configure_volume "$volume"
  # force also restarts bricks that died; a no-op for a healthy volume.
  gcli volume start "$volume" force >/dev/null
  mount_volume "$volume"
  log "volume $volume is up, mounted at /mnt/$volume"
}

# `glusterfind create` adds a key per session to root's authorized_keys and
# `delete` leaves it there; take out the keys of this volume's sessions.
forget_session_keys() {
  local volume=$1 keys=/root/.ssh/authorized_keys pub kept
  for pub in /var/lib/glusterd/glusterfind/.keys/*_"${volume}"_secret.pem.pub; do
    [ -f "$pub" ] || continue
    if [ -f "$keys" ]; then
      kept=$(grep -vxF "$(cat "$pub")" "$keys" || true)
      printf '%s\n' "$kept" | sed '/^$/d' >"$keys"
    fi
    rm -f "$pub"
  done
}

cmd_down() {
  local volume=$1 mnt=/mnt/$1 session
  if is_mounted "$mnt"; then
    umount "$mnt" 2>/dev/null || umount -l "$mnt"
  fi
  rmdir "$mnt" 2>/dev/null || true
  # A volume is deleted through glusterd, also after a test stopped it.
  if [ -d "/var/lib/glusterd/vols/$volume" ] && ! glusterd_pid >/dev/null; then
    start_glusterd
  fi
  if glusterd_pid >/dev/null && volume_exists "$volume"; then
    for session in $(glusterfind list --volume "$volume" 2>/dev/null |
                     awk -v v="$volume" '$2 == v {print $1}'); do
      glusterfind delete "$session" "$volume" </dev/null >/dev/null 2>&1 ||
        log "glusterfind delete $session failed"
    done
    gcli volume stop "$volume" force >/dev/null 2>&1 || true
    gcli volume delete "$volume" >/dev/null
    log "deleted volume $volume"
  fi
  # glusterfind keeps per-volume state that outlives the volume.
  rm -rf /var/lib/glusterd/glusterfind/*/"$volume"
  forget_session_keys "$volume"
  rm -rf "${STATE_DIR:?}/bricks/$volume"
  stop_glusterd
}

cmd_status() {
  local volume=$1
  if pid=$(glusterd_pid); then
    echo "glusterd: running (pid $pid$([ -s "$STARTED_MARK" ] && echo ', started by the rig'))"
  else
    echo "glusterd: not running"
  fi
  volume_exists "$volume" 2>/dev/null && gcli volume status "$volume" 2>/dev/null || true
  if is_mounted "/mnt/$volume"; then echo "mounted: /mnt/$volume"; else echo "not mounted"; fi
}

main() {
  [ "$(id -u)" -eq 0 ] || die "run as root"
  local command=${1:-}
  local volume=${2:-tarn-e2e}
  case "$command" in
    up) cmd_up "$volume" 1 ;;
    distribute) cmd_up "$volume" 2 ;;
    replica) cmd_up "${2:-tarn-rep}" 3 "replica 3" ;;
    down) cmd_down "$volume" ;;
    status) cmd_status "$volume" ;;
    *) die "usage: $0 up|distribute|replica|down|status [VOLUME]" ;;
  esac
}

main "$@"
