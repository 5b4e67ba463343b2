#!/bin/bash
# Installs the packages the project needs from Debian's archive: with "run",
# those that build the library and tarn-scan and run them against a local
# GlusterFS volume (scripts/demo.sh); without, also those of the tests
# (GoogleTest, Google Benchmark, clang for the fuzzer and the sanitizers,
# packaging and lintian, sshd for the cluster, Prometheus's tools, qemu-io
# for the soak). Does nothing when all are present already.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libboost-dev libboost-system-dev libboost-thread-dev libboost-program-options-dev
  nlohmann-json3-dev uuid-dev
  libglusterfs-dev glusterfs-server glusterfs-client
  attr python3-pyxattr openssh-client procps iproute2 util-linux
)
if [ "${1:-}" != run ]; then
  packages+=(
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    openssh-server
    clang libclang-rt-14-dev
    dpkg-dev file lintian systemd
    prometheus prometheus-node-exporter curl
    qemu-utils
  )
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
# No service starts from the packages' install scripts: glusterd and sshd run
# only where the rigs start them (a glusterd or sshd in this namespace would be
# one that nothing here stops). Debian's own switch for that is a
# policy-rc.d that answers 101; one that is there already is left as it is.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
  "${sudo_cmd[@]}" chmod 755 "$policy"
  trap '"${sudo_cmd[@]}" rm -f "$policy"' EXIT
fi
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
