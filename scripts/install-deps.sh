#!/bin/bash
# Installs every package the project needs to build, test and run against a
# local GlusterFS volume, from Debian's archive. Does nothing when all are
# present already.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libboost-dev libboost-system-dev libboost-thread-dev libboost-program-options-dev
  nlohmann-json3-dev
  uuid-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
  libglusterfs-dev glusterfs-server glusterfs-client
  attr python3-pyxattr openssh-client procps
  clang libclang-rt-14-dev
  dpkg-dev file lintian systemd
)

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
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
