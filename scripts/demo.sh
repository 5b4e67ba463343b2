#!/bin/bash
# The main job, end to end on this machine: builds and installs tarn-scanner,
# starts a local GlusterFS volume (sharding on, 4MB pieces), fills it with
# three applications, runs a full scan, changes some files, and runs an
# incremental scan; then changes what no piece holds (an image's first block,
# small files) and scans without and with --with-files. Run as root. Re-runnable: each run starts from a fresh
# volume. `scripts/demo.sh --clean` removes the demo volume.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly VOLUME=tarn-demo
readonly MOUNT=/mnt/$VOLUME
readonly SESSION=demo
readonly OUT=/var/tmp/tarn-demo-out
readonly PREFIX=${TARN_DEMO_PREFIX:-/usr/local}

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

if [ "${1:-}" = --clean ]; then
  scripts/gluster-rig.sh down "$VOLUME"
  rm -rf "$OUT"
  exit 0
fi
[ "$(id -u)" -eq 0 ] || { echo "demo: run as root (it starts glusterd and mounts a volume)"; exit 1; }

say "Building and installing tarn-scanner into $PREFIX"
# Only what the demo runs: the libraries, the helper and tarn-scan (the test
# suite and its packages are scripts/test.sh's).
scripts/install-deps.sh run
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARN_BUILD_TESTS=OFF >/dev/null
cmake --build build/demo -j"$(nproc)" >/dev/null
cmake --install build/demo --prefix "$PREFIX" >/dev/null
scan() { "$PREFIX/bin/tarn-scan" --volume "$VOLUME" --output-dir "$OUT" --mount "$MOUNT" \
           --session "$SESSION" --log-file /var/tmp/tarn-demo.log "$@"; }

say "Starting a fresh GlusterFS volume $VOLUME (one brick on 127.0.0.1, 4MB shards)"
scripts/gluster-rig.sh down "$VOLUME" >/dev/null 2>&1 || true
rm -rf "$OUT" /var/tmp/tarn-demo.log
scripts/gluster-rig.sh up "$VOLUME"

say "Filling it: vms (two sharded disk images), home, db"
mkdir -p "$MOUNT/vms" "$MOUNT/home/alice" "$MOUNT/home/bob" "$MOUNT/db"
head -c 24M /dev/urandom >"$MOUNT/vms/web01.img"   # 6 pieces of 4MB
head -c 10M /dev/urandom >"$MOUNT/vms/db01.img"    # 3 pieces
echo "shopping list" >"$MOUNT/home/alice/notes.txt"
echo "quarterly report" >"$MOUNT/home/bob/report.txt"
echo "INSERT INTO t VALUES (1);" >"$MOUNT/db/dump.sql"
(cd "$MOUNT" && find . -mindepth 1 -not -path './.*' -type f -printf '    %P  (%s bytes)\n' | sort)

say "Full scan (every file of the volume), then glusterfind post"
scan --full --post
cat <<'TXT'
  Each list names the changed .shard pieces of the application's files; a
  file smaller than one piece (4MB) has no pieces, so home and db show none.
TXT

sleep 3   # glusterfind needs the session time to lie behind the changes
say "Changing files: an in-place overwrite inside web01.img, an append to db01.img, new and changed files"
dd if=/dev/urandom of="$MOUNT/vms/web01.img" bs=1M count=1 seek=9 conv=notrunc status=none
head -c 3M /dev/urandom >>"$MOUNT/vms/db01.img"
echo "milk" >>"$MOUNT/home/alice/notes.txt"
echo "new file" >"$MOUNT/home/bob/todo.txt"
echo "waiting 8 s for the volume's change log to roll over"
sleep 8

say "Incremental scan (what changed since the full scan's post), then glusterfind post"
scan --incremental --post
echo "  The lists of vms, the full scan's and this one's:"
for f in "$MOUNT"/.tarn/working/scanner/vms/*; do
  echo "    $(basename "$f"):"
  sed 's/^/        /' "$f"
done
cat <<TXT
  web01.img was overwritten in place: only its piece 2 (bytes 8-12 MB) changed.
  db01.img grew by 3MB: its last piece and a new one are listed.
TXT

# The size of every result file, to show what a later run adds to them.
declare -A SIZES
sizes() { SIZES=(); for f in "$MOUNT"/.tarn/working/scanner/*/*; do SIZES[$f]=$(stat -c %s "$f"); done; }
added() {
  for f in "$MOUNT"/.tarn/working/scanner/*/*; do
    local old=${SIZES[$f]:-0}
    [ "$(stat -c %s "$f")" -gt "$old" ] || continue
    echo "    $(basename "$f") (lines added by this run):"
    tail -c +$((old + 1)) "$f" | sed 's/^/        /'
  done
}

say "Changes no piece holds: the first 4MB of web01.img, small files"
cat <<'TXT'
  With sharding, a file's first 4MB block lies in the file itself; only the
  blocks after it are .shard pieces. A write into the first block, or any
  change to a file of 4MB or less, changes no piece.
TXT
dd if=/dev/urandom of="$MOUNT/vms/web01.img" bs=1M count=1 seek=1 conv=notrunc status=none
echo "eggs" >>"$MOUNT/home/alice/notes.txt"
echo "CREATE TABLE t (id int);" >"$MOUNT/db/schema.sql"
echo "waiting 8 s for the volume's change log to roll over"
sleep 8

say "Incremental scan as before (no --post: the next scan sees the same changes)"
sizes
scan --incremental
added
echo "  No piece changed, so no list gained a line."

say "The same changes with --with-files, then glusterfind post"
sizes
scan --incremental --post --with-files
added
cat <<TXT
  Lines that begin with .shard/ are pieces; every other line is a changed
  file or directory of the application, right before its own pieces (if
  any); the summary above counts the two apart. web01.img is listed
  without a piece: the 1MB written at 1MB lies in its first block.
  notes.txt and schema.sql are smaller than one block.
  Without --with-files none of them is in any list: a backup that copies
  only the listed pieces must copy such files by other means.

  The lists lie in $MOUNT/.tarn/working/scanner/<application>/; the log of
  all runs is in /var/tmp/tarn-demo.log. Remove the demo with
  scripts/demo.sh --clean.
TXT
