#!/bin/bash
# A GlusterFS cluster of several nodes on this one machine, for the tests that
# need more than one node: every node is a network namespace of its own (with
# its own mount and UTS namespace) on a bridge that only the nodes use. Run as
# root.
#
#   scripts/gluster-cluster.sh up [N]                N nodes (default 3), the volumes, mounts
#   scripts/gluster-cluster.sh down                  everything away, also after a partial up
#   scripts/gluster-cluster.sh status                nodes, daemons, peers, volumes
#   scripts/gluster-cluster.sh pid K                 node K's holder PID
#   scripts/gluster-cluster.sh exec K CMD...         CMD in node K, with its exit status
#   scripts/gluster-cluster.sh isolate K             node K off the network
#   scripts/gluster-cluster.sh rejoin K              back on it, peer connected again
#   scripts/gluster-cluster.sh kill-brick K VOLUME   SIGKILL the brick of VOLUME on node K
#   scripts/gluster-cluster.sh start-volume VOLUME   start force, bricks online, mounts answer
#   scripts/gluster-cluster.sh restart-glusterd K    stop and start node K's glusterd
#   scripts/gluster-cluster.sh remount K VOLUME      mount VOLUME afresh in node K
#
# Node K has the address 10.77.0.K/24 and the host name tarn-nodeK; its state
# lives in /var/lib/tarn-cluster/nodeK (holder.pid, and the directories that
# its mount namespace shows at /var/lib/glusterd, /var/log/glusterfs,
# /etc/glusterfs and /mnt). Volumes, sharded (4MB) with a 3 s change-log
# rollover, bricks in /var/lib/tarn-cluster/nodeK/bricks/VOLUME:
#   tarn-c3   replica 3 over nodes 1-3
#   tarn-c3a  replica 3 arbiter 1 over nodes 1-3
# both mounted with aux-gfid-mount at /mnt/VOLUME in node 1 and node 2 (from
# the node's own address). From the root namespace a node's mount is reached
# as /proc/$(scripts/gluster-cluster.sh pid K)/root/mnt/VOLUME. Everything
# else (/tmp, /root, the bricks) is the machine's own file system, shared by
# all nodes.
#
# A node off the network (`isolate`) stalls writes through the mounts until
# the clients give up on its bricks: network.ping-timeout, 42 s by default,
# is 5 s on the rig's volumes so that the tests need not wait that long.
#
# The machine's own glusterd (scripts/gluster-rig.sh) and its volumes are
# never touched: the nodes' daemons are told apart by their namespaces.

# "A && B || C" stands here for: C when A or B fails.
# shellcheck disable=SC2015
set -euo pipefail

readonly STATE_DIR=/var/lib/tarn-cluster
readonly SWITCH_NS=tarn-csw
readonly BRIDGE=tarn-br
readonly SUBNET=10.77.0
readonly VOLUMES=(tarn-c3 tarn-c3a)
readonly MOUNT_NODES=(1 2)
SCRIPT_DIR=$(cd "$(dirname "$0")" && pwd)
readonly SCRIPT_DIR

log() { echo "gluster-cluster: $*" >&2; }
die() { log "$*"; exit 1; }

now_tenths() { local t=${EPOCHREALTIME/./}; echo $((t / 100000)); }

# Waits up to $1 tenths of a second (by the clock: a check itself may take a
# while) for the command that follows to succeed.
wait_for() {
  local deadline
  deadline=$(($(now_tenths) + $1))
  shift
  while true; do
    if "$@" >/dev/null 2>&1; then return 0; fi
    [ "$(now_tenths)" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# A killed process stays a zombie until PID 1 reaps it (a second or two here);
# glusterd takes a brick whose PID still shows in /proc for a running one.
process_gone() { ! [ -d "/proc/$1" ]; }
all_gone() { local p; for p; do process_gone "$p" || return 1; done; }

node_ns() { echo "tarn-node$1"; }
node_addr() { echo "$SUBNET.$1"; }
node_dir() { echo "$STATE_DIR/node$1"; }
switch_port() { echo "tarn-n$1"; }
brick_dir() { echo "$(node_dir "$1")/bricks/$2"; }

node_count() {
  if [ -s "$STATE_DIR/nodes" ]; then cat "$STATE_DIR/nodes"; else echo 0; fi
}

# Every node the machine still shows: the ones recorded and any namespace
# left by an interrupted run.
known_nodes() {
  {
    local k n
    n=$(node_count)
    for ((k = 1; k <= n; k++)); do echo "$k"; done
    ip netns list 2>/dev/null | awk '{print $1}' | sed -n 's/^tarn-node\([0-9][0-9]*\)$/\1/p'
    for k in "$STATE_DIR"/node*; do
      [ -d "$k" ] && echo "${k##*/node}"
    done
  } | grep -E '^[0-9]+$' | sort -nu
}

ns_exists() { ip netns list 2>/dev/null | awk '{print $1}' | grep -qx "$1"; }

# The holder PID of node $1, when that process lives and sits in the node's
# network namespace (a recycled PID does not).
holder_pid() {
  local file pid
  file=$(node_dir "$1")/holder.pid
  [ -s "$file" ] || return 1
  pid=$(cat "$file")
  [ -n "$pid" ] && [ -d "/proc/$pid" ] || return 1
  [ "$(ip netns identify "$pid" 2>/dev/null)" = "$(node_ns "$1")" ] || return 1
  echo "$pid"
}

require_holder() {
  holder_pid "$1" || die "node $1 is not up (no holder; run: $0 up)"
}

# Runs "$@" in node $1: its network, mount and UTS namespaces.
in_node() {
  local k=$1 pid
  shift
  pid=$(require_holder "$k")
  nsenter -t "$pid" -m -n -u -- "$@"
}

# Daemons outlive this script: they must not hold on to descriptors of
# whoever called it (a test runner's lock, a pipe it waits on).
detached() {
  (
    for fd in /proc/self/fd/*; do
      fd=${fd##*/}
      [ "$fd" -gt 2 ] && eval "exec $fd>&-" 2>/dev/null
    done
    exec "$@"
  )
}

# in_node for a command that leaves a daemon behind.
in_node_detached() {
  local k=$1 pid
  shift
  pid=$(require_holder "$k")
  detached nsenter -t "$pid" -m -n -u -- "$@"
}

gcli() { local k=$1; shift; in_node "$k" timeout -k 5 90 gluster --mode=script "$@"; }

# --- network ---------------------------------------------------------------

ensure_switch() {
  ns_exists "$SWITCH_NS" || ip netns add "$SWITCH_NS"
  ip -n "$SWITCH_NS" link set lo up
  ip -n "$SWITCH_NS" link show "$BRIDGE" >/dev/null 2>&1 ||
    ip -n "$SWITCH_NS" link add "$BRIDGE" type bridge
  ip -n "$SWITCH_NS" link set "$BRIDGE" up
}

ensure_node_network() {
  local k=$1 ns port
  ns=$(node_ns "$k")
  port=$(switch_port "$k")
  ns_exists "$ns" || ip netns add "$ns"
  if ! ip -n "$SWITCH_NS" link show "$port" >/dev/null 2>&1; then
    ip -n "$ns" link del eth0 2>/dev/null || true
    ip -n "$SWITCH_NS" link add "$port" type veth peer name eth0 netns "$ns"
  fi
  ip -n "$SWITCH_NS" link set "$port" master "$BRIDGE" up
  ip -n "$ns" link set lo up
  ip -n "$ns" addr show dev eth0 | grep -q "inet $(node_addr "$k")/" ||
    ip -n "$ns" addr add "$(node_addr "$k")/24" dev eth0
  ip -n "$ns" link set eth0 up
}

link_state() {
  local k=$1 node_side switch_side
  node_side=$(ip -n "$(node_ns "$k")" -br link show eth0 2>/dev/null | awk '{print $2}')
  switch_side=$(ip -n "$SWITCH_NS" -br link show "$(switch_port "$k")" 2>/dev/null | awk '{print $2}')
  echo "node side ${node_side:-missing}, switch side ${switch_side:-missing}"
}

# --- the node's namespaces and daemons -------------------------------------

# Something is mounted on $2 in the mount namespace of process $1; with $3,
# a bind mount of that directory (a path that ends so), or with "source=$3"
# a file system of that source.
is_mounted_in() {
  awk -v m="$2" -v want="${3:-}" '
    $5 != m {next}
    want == "" {found = 1; next}
    {
      for (i = 7; $i != "-"; i++) {}
      source = $(i + 2)
      if (want ~ /^source=/) { if ("source=" source == want) found = 1 }
      else if (substr($4, length($4) - length(want) + 1) == want) found = 1
    }
    END {exit !found}' "/proc/$1/mountinfo"
}

# The node's copy of /etc/glusterfs: glusterd (and through it the bricks and
# the self-heal daemon) bound to the node's address.
make_node_config() {
  local k=$1 etc
  etc=$(node_dir "$k")/etc
  [ -f "$etc/glusterd.vol" ] && grep -q "bind-address $(node_addr "$k")\$" "$etc/glusterd.vol" && return 0
  rm -rf "$etc"
  cp -a /etc/glusterfs "$etc"
  sed -i '/transport.socket.bind-address/d' "$etc/glusterd.vol"
  sed -i "s|^\(\s*type mgmt/glusterd\)\$|\1\n    option transport.socket.bind-address $(node_addr "$k")|" \
    "$etc/glusterd.vol"
  grep -q "bind-address $(node_addr "$k")\$" "$etc/glusterd.vol" ||
    die "cannot add the bind address to $etc/glusterd.vol"
}

start_holder() {
  local k=$1 dir ns pid
  dir=$(node_dir "$k")
  ns=$(node_ns "$k")
  # Whatever still runs in the namespace lost its mount namespace with the
  # old holder.
  stop_node_processes "$k"
  mkdir -p "$dir"
  rm -f "$dir/holder.pid"
  # shellcheck disable=SC2016
  detached setsid -f ip netns exec "$ns" unshare --mount --propagation private --uts -- \
    sh -c 'echo $$ >"$1.new" && mv "$1.new" "$1" && exec sleep infinity' tarn-holder "$dir/holder.pid" \
    </dev/null >/dev/null 2>&1
  wait_for 100 holder_pid "$k" || die "node $k: the namespace holder did not start"
  pid=$(holder_pid "$k")
  nsenter -t "$pid" -u hostname "tarn-node$k"
  drop_inherited_mounts "$pid"
}

# A new mount namespace starts as a copy of this one: it would keep the
# machine's GlusterFS mounts (and so their clients, after the machine's rig
# unmounts them) and the bind mounts of named network namespaces alive.
drop_inherited_mounts() {
  local pid=$1 target
  awk '{for (i = 7; $i != "-"; i++) {}
        if ($(i + 1) ~ /^fuse\.glusterfs$/ || ($(i + 1) == "nsfs" && $5 ~ /^\/run\/netns\//)) print $5}' \
    "/proc/$pid/mountinfo" | sort -r | while read -r target; do
    nsenter -t "$pid" -m umount -l "$target" || log "cannot unmount $target in the node"
  done
}

ensure_node_mounts() {
  local k=$1 dir pid
  dir=$(node_dir "$k")
  pid=$(holder_pid "$k")
  mkdir -p "$dir/glusterd/glusterfind/.keys" "$dir/log" "$dir/mnt" "$dir/bricks"
  # The package's volume option groups (`volume set V group virt`); not its
  # hooks, which would act on the machine's files.
  [ -d /var/lib/glusterd/groups ] && [ ! -d "$dir/glusterd/groups" ] &&
    cp -a /var/lib/glusterd/groups "$dir/glusterd/groups"
  make_node_config "$k"
  is_mounted_in "$pid" /run "source=tarn-node$k-run" ||
    nsenter -t "$pid" -m mount -t tmpfs -o mode=0755,size=64m "tarn-node$k-run" /run
  local what target
  for what in glusterd:/var/lib/glusterd log:/var/log/glusterfs etc:/etc/glusterfs mnt:/mnt; do
    target=${what#*:}
    is_mounted_in "$pid" "$target" "/tarn-cluster/node$k/${what%%:*}" ||
      nsenter -t "$pid" -m mount --bind "$dir/${what%%:*}" "$target"
  done
}

# PID from a pid file inside node $1's mount namespace, if that process lives
# in the node's network namespace.
node_pidfile_pid() {
  local k=$1 file=$2 holder pid
  holder=$(holder_pid "$k") || return 1
  pid=$(cat "/proc/$holder/root$file" 2>/dev/null) || return 1
  [ -n "$pid" ] && [ -d "/proc/$pid" ] || return 1
  [ "$(ip netns identify "$pid" 2>/dev/null)" = "$(node_ns "$k")" ] || return 1
  echo "$pid"
}

glusterd_pid() { node_pidfile_pid "$1" /run/glusterd.pid; }
sshd_pid() { node_pidfile_pid "$1" /run/sshd.pid; }
glusterd_answers() { gcli "$1" pool list >/dev/null 2>&1; }

# Starts node $1's glusterd unless it runs; without waiting for it to answer.
launch_glusterd() {
  local k=$1
  glusterd_pid "$k" >/dev/null && return 0
  in_node_detached "$k" /usr/sbin/glusterd -p /run/glusterd.pid
  wait_for 100 glusterd_pid "$k" || die "node $k: glusterd did not start"
}

start_glusterd() {
  launch_glusterd "$1"
  wait_for 300 glusterd_answers "$1" || die "node $1: glusterd does not answer"
}

stop_glusterd() {
  local k=$1 pid
  pid=$(glusterd_pid "$k") || return 0
  kill "$pid"
  wait_for 150 process_gone "$pid" || kill -9 "$pid" 2>/dev/null || true
  wait_for 100 process_gone "$pid" || log "node $k: glusterd $pid has not ended"
}

start_sshd() {
  local k=$1
  sshd_pid "$k" >/dev/null && return 0
  [ -f /etc/ssh/ssh_host_ed25519_key ] || ssh-keygen -A >/dev/null
  in_node "$k" mkdir -p -m 0755 /run/sshd
  in_node_detached "$k" /usr/sbin/sshd -o "ListenAddress=$(node_addr "$k")" -o PidFile=/run/sshd.pid
  wait_for 100 sshd_pid "$k" || die "node $k: sshd did not start"
}

# Node $1 with its daemons started; its glusterd may not answer yet.
ensure_node() {
  local k=$1
  ensure_node_network "$k"
  holder_pid "$k" >/dev/null || start_holder "$k"
  ensure_node_mounts "$k"
  launch_glusterd "$k"
  start_sshd "$k"
}

# Processes in network namespace $1 other than $2.
ns_others() { ip netns pids "$1" 2>/dev/null | grep -vx "$2" || true; }
no_ns_others() { [ -z "$(ns_others "$1" "$2")" ]; }

# Ends every process in node $1's network namespace but the holder: all of
# them were started here (daemons, bricks, clients, ssh sessions).
stop_node_processes() {
  local k=$1 ns holder pids
  ns=$(node_ns "$k")
  ns_exists "$ns" || return 0
  holder=$(holder_pid "$k" || echo none)
  pids=$(ns_others "$ns" "$holder")
  [ -n "$pids" ] || return 0
  # shellcheck disable=SC2086
  kill $pids 2>/dev/null || true
  if ! wait_for 100 no_ns_others "$ns" "$holder"; then
    pids=$(ns_others "$ns" "$holder")
    # shellcheck disable=SC2086
    [ -z "$pids" ] || kill -9 $pids 2>/dev/null || true
    wait_for 50 no_ns_others "$ns" "$holder" ||
      log "node $k: processes left in $ns: $(ns_others "$ns" "$holder" | tr '\n' ' ')"
  fi
}

# Pids of every process in the nodes' network namespaces; with "others",
# the holders left out.
nodes_pids() {
  local k ns holder
  for k in $(known_nodes); do
    ns=$(node_ns "$k")
    ns_exists "$ns" || continue
    if [ "${1:-}" = others ]; then
      holder=$(holder_pid "$k" || echo none)
      ns_others "$ns" "$holder"
    else
      ip netns pids "$ns" 2>/dev/null || true
    fi
  done
}
no_nodes_pids() { [ -z "$(nodes_pids "$@")" ]; }

# Ends every node at once: all processes in the nodes' network namespaces
# (daemons, bricks, clients, ssh sessions: all started here), then the
# holders, then the namespaces. A process that has left its namespace's
# list but is not yet reaped is no obstacle.
stop_nodes() {
  local pids k ns all
  all=$(nodes_pids)
  pids=$(nodes_pids others)
  # shellcheck disable=SC2086
  [ -z "$pids" ] || kill $pids 2>/dev/null || true
  if ! wait_for 100 no_nodes_pids others; then
    pids=$(nodes_pids others)
    # shellcheck disable=SC2086
    [ -z "$pids" ] || kill -9 $pids 2>/dev/null || true
  fi
  pids=$(nodes_pids)
  # shellcheck disable=SC2086
  [ -z "$pids" ] || kill -9 $pids 2>/dev/null || true
  wait_for 100 no_nodes_pids || die "processes left in the nodes' namespaces: $(nodes_pids | tr '\n' ' ')"
  for k in $(known_nodes); do
    ns=$(node_ns "$k")
    ! ns_exists "$ns" || ip netns del "$ns"
  done
  # Until PID 1 has reaped them, the ended processes still show (as zombies)
  # to pgrep and ps.
  # shellcheck disable=SC2086
  wait_for 100 all_gone $all || log "not reaped yet: $(for p in $all; do [ -d "/proc/$p" ] && echo "$p"; done | tr '\n' ' ')"
}

# --- peers -----------------------------------------------------------------

# Node $2 is "Peer in Cluster (Connected)" as seen from node $1.
peer_connected() {
  gcli "$1" peer status 2>/dev/null | awk -v h="$(node_addr "$2")" '
    /^Hostname:/ {host = $2}
    /^State:/ && host == h && /Peer in Cluster \(Connected\)/ {found = 1}
    END {exit !found}'
}

# Every other node is connected as seen from node $1.
peers_connected_from() {
  local k=$1 j n
  n=$(node_count)
  for ((j = 1; j <= n; j++)); do
    [ "$j" -eq "$k" ] && continue
    peer_connected "$k" "$j" || return 1
  done
}

probe_peers() {
  local n j
  n=$(node_count)
  for ((j = 2; j <= n; j++)); do
    peer_connected 1 "$j" || gcli 1 peer probe "$(node_addr "$j")" >/dev/null
  done
  wait_for 600 peers_connected_from 1 || {
    gcli 1 peer status >&2 || true
    die "peers are not connected"
  }
}

# --- volumes ---------------------------------------------------------------

volume_exists() { gcli 1 volume info "$1" >/dev/null 2>&1; }

# One line per brick of volume $1 as node $2 sees it: host path online port pid.
brick_table() {
  local volume=$1 k=${2:-1}
  gcli "$k" volume status "$volume" --xml 2>/dev/null | python3 -c '
import sys, xml.etree.ElementTree as ET
try:
    root = ET.fromstring(sys.stdin.read())
except ET.ParseError:
    sys.exit(1)
for node in root.iter("node"):
    path = node.findtext("path") or ""
    if not path.startswith("/"):
        continue
    print(node.findtext("hostname"), path, node.findtext("status"),
          node.findtext("port"), node.findtext("pid"))
'
}

bricks_online() {
  local volume=$1 table
  table=$(brick_table "$volume") || return 1
  [ "$(echo "$table" | awk 'NF == 5' | wc -l)" -eq 3 ] || return 1
  echo "$table" | awk '$3 != "1" || $4 !~ /^[0-9]+$/ || $4 == "0" {bad = 1} END {exit bad}'
}

create_volume() {
  local volume=$1 k bricks=()
  for k in 1 2 3; do
    mkdir -p "$(brick_dir "$k" "$volume")"
    bricks+=("$(node_addr "$k"):$(brick_dir "$k" "$volume")")
  done
  case "$volume" in
    tarn-c3) gcli 1 volume create "$volume" replica 3 "${bricks[@]}" force >/dev/null ;;
    tarn-c3a) gcli 1 volume create "$volume" replica 3 arbiter 1 "${bricks[@]}" force >/dev/null ;;
    *) die "unknown volume $volume" ;;
  esac
  log "created volume $volume"
}

configure_volume() {
  local volume=$1
  gcli 1 volume set "$volume" features.shard on >/dev/null
  gcli 1 volume set "$volume" features.shard-block-size 4MB >/dev/null
  gcli 1 volume set "$volume" changelog.rollover-time 3 >/dev/null
  gcli 1 volume set "$volume" storage.build-pgfid on >/dev/null
  gcli 1 volume set "$volume" network.ping-timeout 5 >/dev/null
}

# Starts the volume (force also brings back bricks that died) and waits until
# every brick is online with a port; a brick that stays offline gets another
# start.
start_volume() {
  local volume=$1 attempt
  for attempt in 1 2 3; do
    gcli 1 volume start "$volume" force >/dev/null || true
    wait_for 200 bricks_online "$volume" && return 0
    log "$volume: a brick is not online after a start (attempt $attempt)"
  done
  brick_table "$volume" >&2 || true
  die "$volume: bricks are not online"
}

# A listing of the top directory needs the bricks; the .gfid directory exists
# only on an aux-gfid mount.
mount_answers() {
  # shellcheck disable=SC2016
  in_node "$1" timeout -k 2 10 sh -c 'ls "$1" >/dev/null && stat "$1/.gfid" >/dev/null' mnt "/mnt/$2"
}

mounted_in_node() {
  local pid
  pid=$(holder_pid "$1") || return 1
  is_mounted_in "$pid" "/mnt/$2"
}

unmount_in_node() {
  local k=$1 volume=$2
  mounted_in_node "$k" "$volume" || return 0
  in_node "$k" timeout -k 2 20 umount "/mnt/$volume" 2>/dev/null ||
    in_node "$k" umount -l "/mnt/$volume"
}

mount_in_node() {
  local k=$1 volume=$2 attempt
  for attempt in 1 2 3; do
    if ! mounted_in_node "$k" "$volume"; then
      in_node "$k" mkdir -p "/mnt/$volume"
      in_node_detached "$k" timeout -k 5 60 \
        mount -t glusterfs -o aux-gfid-mount "$(node_addr "$k"):/$volume" "/mnt/$volume" ||
        log "node $k: mount of $volume failed (attempt $attempt)"
    fi
    wait_for 300 mount_answers "$k" "$volume" && return 0
    unmount_in_node "$k" "$volume"
  done
  die "node $k: /mnt/$volume does not answer"
}

# The mount's client is connected to every brick: the client translators'
# state in the mount's .meta directory.
mount_connected() {
  # shellcheck disable=SC2016
  in_node "$1" timeout -k 2 10 sh -c '
    set -- "$1"/.meta/graphs/active/"$2"-client-*/private
    [ -f "$1" ] || exit 1
    for f; do grep -q "^connected = 1" "$f" || exit 1; done' check "/mnt/$2" "$2"
}

# A mount whose volume restarted can ask for a brick's old port for a while
# (a replica mount still answers meanwhile, through the other bricks); one
# that does not answer, or with $3 = connected is not connected to every
# brick, soon is mounted afresh.
ensure_mount() {
  local k=$1 volume=$2 want=${3:-answers} attempt
  for attempt in 1 2; do
    if mounted_in_node "$k" "$volume"; then
      if wait_for 300 mount_answers "$k" "$volume" &&
         { [ "$want" != connected ] || wait_for 300 mount_connected "$k" "$volume"; }; then
        return 0
      fi
      log "node $k: /mnt/$volume does not answer or is not connected to every brick; mounting it again"
      unmount_in_node "$k" "$volume"
    fi
    mount_in_node "$k" "$volume"
  done
  [ "$want" != connected ] || wait_for 300 mount_connected "$k" "$volume" ||
    die "node $k: /mnt/$volume is not connected to every brick"
}

# --- commands --------------------------------------------------------------

cmd_up() {
  local n=${1:-3} k volume started=$SECONDS
  [[ "$n" =~ ^[0-9]+$ ]] && [ "$n" -ge 3 ] && [ "$n" -le 200 ] || die "N must be 3 to 200"
  [ "$(node_count)" -eq 0 ] || [ "$(node_count)" -eq "$n" ] ||
    die "a cluster of $(node_count) nodes is up; run: $0 down"
  "$SCRIPT_DIR/install-deps.sh"
  mkdir -p "$STATE_DIR"
  echo "$n" >"$STATE_DIR/nodes"
  ensure_switch
  for ((k = 1; k <= n; k++)); do ensure_node "$k"; done
  for ((k = 1; k <= n; k++)); do
    wait_for 300 glusterd_answers "$k" || die "node $k: glusterd does not answer"
  done
  probe_peers
  for volume in "${VOLUMES[@]}"; do
    volume_exists "$volume" || create_volume "$volume"
    configure_volume "$volume"
    start_volume "$volume"
  done
  for volume in "${VOLUMES[@]}"; do
    for k in "${MOUNT_NODES[@]}"; do ensure_mount "$k" "$volume" connected; done
  done
  log "$n nodes up ($SUBNET.1-$n), volumes ${VOLUMES[*]} mounted at /mnt/VOLUME in nodes ${MOUNT_NODES[*]} ($((SECONDS - started)) s)"
}

# The public keys of the cluster's glusterfind sessions: each session's own
# (in its directory on the node that created it) and the copies in every
# node's .keys. A second `create` of a session on another node replaces the
# copies, so the session directories are needed too: read them before any
# `glusterfind delete` removes them.
session_keys() {
  find "$STATE_DIR" -path "$STATE_DIR/node*/glusterd/glusterfind/*" -name '*_secret.pem.pub' \
    -type f -exec cat {} + 2>/dev/null | sed '/^$/d' | sort -u
}

# Takes out of root's authorized_keys the keys $1 (lines) that the sessions
# put there on every node (`glusterfind delete` leaves them).
forget_session_keys() {
  local keys=/root/.ssh/authorized_keys kept
  [ -n "$1" ] && [ -f "$keys" ] || return 0
  kept=$(grep -vxF -f <(printf '%s\n' "$1") "$keys" || true)
  printf '%s\n' "$kept" | sed '/^$/d' >"$keys"
}

# ssh from the nodes records the nodes' host keys.
forget_host_keys() {
  local known=/root/.ssh/known_hosts had_old=0 k
  [ -f "$known" ] || return 0
  [ -e "$known.old" ] && had_old=1
  for k in $(known_nodes); do
    ssh-keygen -R "$(node_addr "$k")" -f "$known" >/dev/null 2>&1 || true
  done
  [ "$had_old" -eq 1 ] || rm -f "$known.old"
  [ -s "$known" ] || rm -f "$known"
}

delete_volumes() {
  local volume session k
  glusterd_pid 1 >/dev/null && glusterd_answers 1 || {
    log "node 1's glusterd does not answer; volumes go with the nodes' state"
    return 0
  }
  for volume in "${VOLUMES[@]}"; do
    volume_exists "$volume" || continue
    for k in $(known_nodes); do
      glusterd_pid "$k" >/dev/null || continue
      for session in $(in_node "$k" timeout -k 5 60 glusterfind list --volume "$volume" 2>/dev/null |
                       awk -v v="$volume" '$2 == v {print $1}'); do
        in_node "$k" timeout -k 5 120 glusterfind delete "$session" "$volume" </dev/null >/dev/null 2>&1 ||
          log "glusterfind delete $session $volume on node $k failed"
      done
    done
    gcli 1 volume stop "$volume" force >/dev/null 2>&1 || true
    gcli 1 volume delete "$volume" >/dev/null 2>&1 || log "volume delete $volume failed"
  done
}

cmd_down() {
  local k volume started=$SECONDS keys
  if [ -z "$(known_nodes)" ] && ! ns_exists "$SWITCH_NS" && ! [ -e "$STATE_DIR" ]; then
    log "no cluster is up"
    return 0
  fi
  keys=$(session_keys)
  # Back on the network first, so that sessions can be deleted on every node.
  for k in $(known_nodes); do
    ns_exists "$(node_ns "$k")" && ip -n "$(node_ns "$k")" link set eth0 up 2>/dev/null || true
    ns_exists "$SWITCH_NS" && ip -n "$SWITCH_NS" link set "$(switch_port "$k")" up 2>/dev/null || true
  done
  for k in $(known_nodes); do
    holder_pid "$k" >/dev/null || continue
    for volume in "${VOLUMES[@]}"; do unmount_in_node "$k" "$volume" || true; done
  done
  delete_volumes
  forget_session_keys "$keys$(printf '\n%s' "$(session_keys)")"
  forget_host_keys
  stop_nodes
  ns_exists "$SWITCH_NS" && ip netns del "$SWITCH_NS"
  # Nothing is mounted below the state in this namespace; stay on its file
  # system all the same.
  rm -rf --one-file-system "$STATE_DIR"
  log "cluster down ($((SECONDS - started)) s)"
}

cmd_status() {
  local k n pid volume
  n=$(node_count)
  if [ "$n" -eq 0 ] && [ -z "$(known_nodes)" ]; then
    echo "cluster: down"
    return 0
  fi
  echo "cluster: $n node(s) recorded; switch namespace $SWITCH_NS $(ns_exists "$SWITCH_NS" && echo present || echo missing)"
  for k in $(known_nodes); do
    if pid=$(holder_pid "$k"); then
      echo "node $k ($(node_addr "$k"), $(node_ns "$k")): holder $pid; glusterd $(glusterd_pid "$k" || echo down);" \
        "sshd $(sshd_pid "$k" || echo down); link: $(link_state "$k")"
    else
      echo "node $k ($(node_ns "$k")): no holder"
    fi
  done
  if glusterd_pid 1 >/dev/null 2>&1; then
    echo "--- peers as node 1 sees them"
    gcli 1 peer status 2>&1 || true
    for volume in "${VOLUMES[@]}"; do
      volume_exists "$volume" || { echo "--- $volume: not created"; continue; }
      echo "--- $volume"
      gcli 1 volume status "$volume" 2>&1 || true
      for k in "${MOUNT_NODES[@]}"; do
        if mounted_in_node "$k" "$volume"; then
          echo "node $k: /mnt/$volume mounted$(mount_answers "$k" "$volume" >/dev/null 2>&1 || echo ', not answering')"
        else
          echo "node $k: /mnt/$volume not mounted"
        fi
      done
    done
  fi
}

require_node() {
  [[ "${1:-}" =~ ^[0-9]+$ ]] && [ "$1" -ge 1 ] || die "no node number given"
  [ "$1" -le "$(node_count)" ] || die "node $1 is not part of the cluster"
}

require_volume() {
  local v
  for v in "${VOLUMES[@]}"; do [ "$v" = "${1:-}" ] && return 0; done
  die "unknown volume '${1:-}' (one of: ${VOLUMES[*]})"
}

# Both ends of the node's link go down. The other nodes forget its link-layer
# address: with the address cached, a connection to the node (glusterfind's
# ssh) fails only after a minute or more of retries, with it forgotten after
# about 3 s of address resolution ("No route to host").
cmd_isolate() {
  local k=$1 j
  ip -n "$SWITCH_NS" link set "$(switch_port "$k")" down
  ip -n "$(node_ns "$k")" link set eth0 down
  for j in $(known_nodes); do
    [ "$j" -eq "$k" ] && continue
    ns_exists "$(node_ns "$j")" && ip -n "$(node_ns "$j")" neigh flush to "$(node_addr "$k")" 2>/dev/null || true
  done
  log "node $k is off the network"
}

cmd_rejoin() {
  local k=$1
  ip -n "$(node_ns "$k")" link set eth0 up
  ip -n "$SWITCH_NS" link set "$(switch_port "$k")" up
  if [ "$k" -eq 1 ]; then
    wait_for 1200 peers_connected_from 1 || die "node 1 does not see its peers connected"
  else
    wait_for 1200 peer_connected 1 "$k" || die "node 1 does not see node $k connected"
  fi
  log "node $k is back, connected"
}

cmd_kill_brick() {
  local k=$1 volume=$2 path pid file
  path=$(brick_dir "$k" "$volume")
  pid=$(brick_table "$volume" "$k" | awk -v h="$(node_addr "$k")" -v p="$path" \
    '$1 == h && $2 == p && $5 ~ /^[0-9]+$/ && $5 > 0 {print $5}')
  if [ -z "$pid" ]; then
    # glusterd does not answer: the brick's pid file in the node's /run.
    for file in "/proc/$(require_holder "$k")/root/run/gluster/vols/$volume/"*.pid; do
      [ -s "$file" ] && pid=$(cat "$file")
    done
  fi
  [ -n "$pid" ] && [ -d "/proc/$pid" ] || die "node $k: no brick process of $volume"
  [ "$(ip netns identify "$pid")" = "$(node_ns "$k")" ] && grep -q glusterfsd "/proc/$pid/cmdline" ||
    die "node $k: $pid is not a brick process of that node"
  kill -9 "$pid"
  wait_for 150 process_gone "$pid" || die "node $k: brick process $pid has not ended"
  log "node $k: killed brick process $pid of $volume"
}

cmd_start_volume() {
  local volume=$1 k
  start_volume "$volume"
  for k in "${MOUNT_NODES[@]}"; do ensure_mount "$k" "$volume" connected; done
  log "$volume: every brick online, mounts answer and are connected to every brick"
}

cmd_restart_glusterd() {
  local k=$1
  stop_glusterd "$k"
  start_glusterd "$k"
  wait_for 1200 peers_connected_from "$k" || die "node $k does not see its peers connected"
  [ "$k" -eq 1 ] || wait_for 600 peer_connected 1 "$k" || die "node 1 does not see node $k connected"
  log "node $k: glusterd $(glusterd_pid "$k") answers, peers connected"
}

cmd_remount() {
  local k=$1 volume=$2
  unmount_in_node "$k" "$volume"
  mount_in_node "$k" "$volume"
  log "node $k: /mnt/$volume mounted again"
}

main() {
  [ "$(id -u)" -eq 0 ] || die "run as root"
  local command=${1:-}
  shift || true
  case "$command" in
    up) cmd_up "$@" ;;
    down) cmd_down ;;
    status) cmd_status ;;
    pid) require_node "${1:-}"; require_holder "$1" ;;
    exec)
      require_node "${1:-}"
      [ $# -ge 2 ] || die "usage: $0 exec K CMD..."
      in_node "$@"
      ;;
    isolate) require_node "${1:-}"; cmd_isolate "$1" ;;
    rejoin) require_node "${1:-}"; cmd_rejoin "$1" ;;
    kill-brick) require_node "${1:-}"; require_volume "${2:-}"; cmd_kill_brick "$1" "$2" ;;
    start-volume) require_volume "${1:-}"; cmd_start_volume "$1" ;;
    restart-glusterd) require_node "${1:-}"; cmd_restart_glusterd "$1" ;;
    remount)
      require_node "${1:-}"; require_volume "${2:-}"
      cmd_remount "$1" "$2"
      ;;
    *) die "usage: $0 up [N]|down|status|pid K|exec K CMD...|isolate K|rejoin K|kill-brick K VOLUME|start-volume VOLUME|restart-glusterd K|remount K VOLUME" ;;
  esac
}

main "$@"
