#!/usr/bin/env bash
# Installs what building and testing Tolvak needs, from Debian's packages. Safe to run again:
# packages already present are left alone. Pass "native" to skip the Windows cross tools.
set -euo pipefail

want=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev python3 python3-serial)
# The sanitizer build and fuzz targets (clang, libFuzzer) and the valgrind runs of the tests.
want+=(clang libclang-rt-dev valgrind)
if [ "${1:-all}" != native ]; then
  want+=(g++-mingw-w64-i686 mingw-w64-tools wine wine32:i386 xvfb)
fi

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  $SUDO dpkg --add-architecture i386
fi
echo "setup: installing ${missing[*]}"
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
