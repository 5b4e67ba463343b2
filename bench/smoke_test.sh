#!/bin/bash
# A small case through both benchmarks: every run of the pipeline must leave
# exactly the pieces of the listed owners in the volume (tarn_bench checks it
# and exits 1 otherwise). Arguments: the tarn_bench program. Needs root.
set -euo pipefail
bench=$1
here=$(cd "$(dirname "$0")" && pwd)
data=$(mktemp -d "${TMPDIR:-/tmp}/tarn-bench-smoke-XXXXXX")
trap 'rm -rf "$data"' EXIT
python3 "$here/gen/gen_volume.py" --out "$data/smoke" --lines 6000 --apps 40 --owners 30 \
  --pieces 3000 --hot-share 0.5 --runs 2 >/dev/null
"$bench" --data="$data"
