#!/usr/bin/env bash
# The Debian packages.  build: scripts/package.sh makes them (in BUILD_DIR/deb, a build of its
# own) and lintian passes them.  install: they are installed on this machine, used, and purged
# with nothing left; as that changes the machine, only as root with CI or TOLVAK_TEST_INSTALL=1.
#   deb.test.sh build|install BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
mode=$1 build=$2/deb source=$3 version=$4
fail() { echo "FAIL: $*" >&2; exit 1; }
debs=("$build"/packages/*.deb)

if [ "$mode" = build ]; then
  "$source/scripts/package.sh" "$build"
  debs=("$build"/packages/*.deb)
  names=$(for d in "${debs[@]}"; do dpkg-deb -f "$d" Package; done | sort | tr '\n' ' ')
  [ "$names" = "libtolvak-dev tolvak " ] || [ "$names" = "libtolvak-dev libtolvak1 tolvak " ] ||
    fail "packages: $names"
  command -v lintian > /dev/null || fail "lintian not found: scripts/setup.sh test installs it"
  lintian --fail-on error,warning --info "${debs[@]}"
  # The service as packaged, confined: systemd's own rating at most 2.0 of 10 ("OK").
  unpacked=$(mktemp -d)
  trap 'rm -rf "$unpacked"' EXIT
  dpkg-deb -x "$(ls "$build"/packages/tolvak_*.deb)" "$unpacked"
  for kind in service socket; do
    cp "$unpacked/lib/systemd/system/tolvak-serve@.$kind" "$unpacked/tolvak-serve@ttyS0.$kind"
  done
  rating=$(systemd-analyze security --offline=yes --threshold=20 \
    "$unpacked/tolvak-serve@ttyS0.service" 2>&1) || fail "systemd-analyze security: $rating"
  grep -q 'Overall exposure level.* OK' <<< "$rating" || fail "systemd-analyze security: $rating"
  exit 0
fi

if [ "$(id -u)" != 0 ] || [ -z "${CI:-}${TOLVAK_TEST_INSTALL:-}" ]; then
  echo "skipped: installs the packages on this machine; runs as root with CI or" \
    "TOLVAK_TEST_INSTALL=1 set"
  exit 77
fi
mapfile -t pkgs < <(for d in "${debs[@]}"; do dpkg-deb -f "$d" Package; done)
for p in "${pkgs[@]}"; do
  ! dpkg-query -W "$p" > /dev/null 2>&1 || fail "$p is installed already"
done
had_user=no
getent passwd tolvak > /dev/null && had_user=yes

person=no
cleanup() {
  dpkg --purge "${pkgs[@]}" > /dev/null 2>&1 || true
  [ $person = no ] || userdel tolvak-serve 2> /dev/null || true
}
trap cleanup EXIT
# A person's account named as the service's user stops the configuration, not adopted.
if ! getent passwd tolvak-serve > /dev/null; then
  useradd --no-create-home tolvak-serve && person=yes
  ! dpkg -i "${debs[@]}" > /dev/null 2>&1 || fail "installed beside a person's account tolvak-serve"
  userdel tolvak-serve && person=no
  dpkg --configure -a
fi
[ "$(dpkg-query -W -f '${Status}' tolvak)" = "install ok installed" ] || dpkg -i "${debs[@]}"
files=$(dpkg -L "${pkgs[@]}" | while read -r f; do [ -d "$f" ] || echo "$f"; done)

[ "$(/usr/bin/tolvak --version)" = "tolvak $version" ] || fail "tolvak --version: $(tolvak --version)"
out=$(printf '=00023000=00053000' | /usr/bin/tolvak replay -)
grep -qx 'display 32000' <<< "$out" || fail "tolvak replay: $out"
[ $had_user = yes ] || ! getent passwd tolvak > /dev/null || fail "a user tolvak was made"
[ "$(stat -c '%U %a' /etc/tolvak/token)" = "root 600" ] || fail "/etc/tolvak/token: $(stat -c '%U %a' /etc/tolvak/token)"
[ "$(pkg-config --modversion tolvak)" = "$version" ] || fail "pkg-config: no tolvak $version"
# shellcheck disable=SC2046 # the flags are words of their own
g++ -std=c++17 -o "$build/read_weight.installed" "$source/examples/read_weight.cpp" \
  $(pkg-config --cflags --libs tolvak) || fail "examples/read_weight.cpp against the package"

# The unit as an instance; systemd-analyze needs no running systemd for it.
unit=/lib/systemd/system/tolvak-serve@.service
[ -f "$unit" ] || fail "no $unit"
if command -v systemd-analyze > /dev/null; then
  verify=$(systemd-analyze verify --man=no tolvak-serve@ttyS0.service tolvak-serve@ttyS0.socket 2>&1) ||
    fail "systemd-analyze verify: $verify"
  [ -z "$verify" ] || fail "systemd-analyze verify: $verify"
else
  fail "systemd-analyze not found: scripts/setup.sh test installs systemd"
fi

trap - EXIT
dpkg --purge "${pkgs[@]}"
left=$(for f in $files /etc/tolvak /var/lib/tolvak; do [ ! -e "$f" ] || echo "$f"; done)
[ -z "$left" ] || fail "left after purge: $left"
if [ $had_user = yes ]; then
  getent passwd tolvak > /dev/null || fail "purge removed a user tolvak that was there before"
else
  ! getent passwd tolvak > /dev/null || fail "purge left the user tolvak"
  ! getent group tolvak > /dev/null || fail "purge left the group tolvak"
fi
echo "installed, used and purged: ${debs[*]##*/}"
