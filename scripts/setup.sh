#!/usr/bin/env bash
# Installs what building and testing Tolvak needs, from Debian's packages. Safe to run again:
# packages already present are left alone. Pass "native" to skip the Windows cross tools.
# 32-bit Wine is installed only where this host can run 32-bit programs; both controls are still
# built everywhere, and 64-bit Wine tests the 64-bit one.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
updated=0

install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
     ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    updated=0
  fi
  echo "setup: installing ${missing[*]}"
  [ "$updated" = 1 ] || { $SUDO apt-get update -q; updated=1; }
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
}

install_missing cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev python3 \
  python3-serial nlohmann-json3-dev libcli11-dev libboost-dev
# readelf and nm: the package test reads the shared library's soname and exported symbols.
install_missing binutils
# The sanitizer build and fuzz targets (clang, libFuzzer) and the valgrind runs of the tests.
install_missing clang libclang-rt-dev valgrind
# The browser test of tolvak serve: the system's Chromium driven by playwright-core from npm
# (which never downloads a browser of its own).
install_missing chromium nodejs
command -v npm > /dev/null || install_missing npm # NodeSource's nodejs brings its own
if [ ! -d "$here/../tests/browser/node_modules/playwright-core" ]; then
  (cd "$here/../tests/browser" && npm ci --no-audit --no-fund)
fi
[ "${1:-all}" = native ] && exit 0

install_missing g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64
# The Windows installer: wixl builds it, msibuild and msiinfo finish and read its tables.
install_missing wixl msitools
if "$here/host-runs-32bit.sh"; then
  install_missing wine32:i386
else
  echo "setup: this host runs no 32-bit programs (or TOLVAK_SKIP_WIN32=1): no 32-bit Wine" >&2
fi
