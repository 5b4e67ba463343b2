#!/bin/bash
# Builds the Debian packages (scripts/package.sh), installs them with apt-get
# together with what they depend on, checks the installed tree (tarn-scan,
# the helper, a host program built with pkg-config against
# libtarnscanner-dev, the systemd units) and removes again every package the
# test installed, so that the machine is left as it was found.
# Needs root and apt-get; exits 77 (skipped) without them, or when one of
# the packages is installed already (it is not the test's to remove).
set -euo pipefail
source_dir=$(cd "${1:?usage: check_packages.sh SOURCE_DIR}" && pwd)
packages=(libtarnscanner1 libtarnscanner-dev tarn-scan)

installed() {
  dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' 2>/dev/null | awk '$1 ~ /^.i/ {print $2}' | sort
}
if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
  echo "skipped: needs root and apt-get"; exit 77
fi
for p in "${packages[@]}"; do
  if installed | grep -qx "$p"; then
    echo "skipped: $p is installed on this machine already"; exit 77
  fi
done

work=$(mktemp -d)
before=$work/installed.before
installed > "$before"
export DEBIAN_FRONTEND=noninteractive
apt=(apt-get -y -qq -o DPkg::Lock::Timeout=300)
made_policy=0
cleanup() {
  status=$?
  # The packages of this test first, then whatever they pulled in.
  "${apt[@]}" purge "${packages[@]}" >/dev/null 2>&1 || true
  mapfile -t pulled < <(comm -13 "$before" <(installed))
  if [ ${#pulled[@]} -gt 0 ]; then
    echo "removing what the packages pulled in: ${pulled[*]}"
    "${apt[@]}" purge "${pulled[@]}" >/dev/null || status=1
  fi
  if ! cmp -s "$before" <(installed); then
    echo "FAIL: the installed packages differ from before the test:"
    diff "$before" <(installed) || true
    status=1
  fi
  [ "$made_policy" = 0 ] || rm -f /usr/sbin/policy-rc.d
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT

# No service of a pulled-in package may start on this machine.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
  chmod 755 /usr/sbin/policy-rc.d
  made_policy=1
fi

TARN_JOBS=${TARN_JOBS:-2} "$source_dir/scripts/package.sh" "$work/debs" >"$work/package.log" 2>&1 ||
  { cat "$work/package.log"; exit 1; }
debs=("$work"/debs/*.deb)
[ ${#debs[@]} = 3 ] || { echo "expected 3 packages, got: ${debs[*]}"; exit 1; }
# What remains is explained in the packages' lintian overrides.
lintian --fail-on error,warning "${debs[@]}"
"${apt[@]}" install --no-install-recommends "${debs[@]}" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; exit 1; }
echo "installed: $(cd "$work/debs" && echo *.deb)"

# A tree installed by cmake --install into /usr/local would come first in
# the loader's and pkg-config's search: look at the packages' files only.
export LD_LIBRARY_PATH=/usr/lib/x86_64-linux-gnu
export PKG_CONFIG_LIBDIR=/usr/lib/x86_64-linux-gnu/pkgconfig:/usr/lib/pkgconfig:/usr/share/pkgconfig

/usr/bin/tarn-scan --version | grep -q '^tarn-scan '
test -f /usr/share/man/man1/tarn-scan.1.gz
set +e
/usr/libexec/tarn/tarn-create-exclusive >/dev/null 2>&1
status=$?
set -e
[ "$status" = 2 ] || { echo "helper: expected status 2 without arguments, got $status"; exit 1; }
echo "tarn-scan and the helper run"

# The example host against libtarnscanner-dev, with nothing but pkg-config.
# shellcheck disable=SC2046
g++ -o "$work/host" "$source_dir/examples/host.cc" $(pkg-config --cflags --libs tarn-scanner)
mkdir -p "$work/volumes/vol1"
touch "$work/volumes/vol1/vol1.lock.nightly"
out=$(TARN_LOCAL_VOLUME_ROOT="$work/volumes" TARN_LOG_FILE="$work/log" \
      "$work/host" vol1 "$work/out" "$work/volumes/vol1" nightly || true)
[ "${out%% *}" = 16 ] || { echo "host on a locked session: expected 16, got: $out"; exit 1; }
echo "host program built with pkg-config: 16 for a locked session"

# The units: shown by systemctl where systemd runs, else checked offline.
mkdir "$work/units"
for u in service timer; do
  ln -s "/lib/systemd/system/tarn-scan@.$u" "$work/units/tarn-scan@gv0.$u"
done
if [ -d /run/systemd/system ]; then
  systemctl cat tarn-scan@gv0.service | grep -q 'ExecStart=.*/usr/bin/tarn-scan'
  systemctl cat tarn-scan@gv0.timer | grep -q 'Persistent=true'
fi
man_check=()
command -v man >/dev/null || man_check=(--man=no)  # the page was checked above
if ! systemd-analyze verify "${man_check[@]}" "$work/units/tarn-scan@gv0.service" "$work/units/tarn-scan@gv0.timer" \
     >"$work/verify.log" 2>&1 || grep -q 'tarn-scan' "$work/verify.log"; then
  cat "$work/verify.log"; exit 1
fi
echo "systemd units verified"

# The example alert rules, as installed.
rules=/usr/share/doc/tarn-scan/examples/tarn-scan.rules.yml
test -f "$rules"
if command -v promtool >/dev/null; then
  promtool check rules "$rules" >/dev/null
  echo "example alert rules checked with promtool"
fi
