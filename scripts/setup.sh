#!/usr/bin/env bash
# Installs what Tolvak needs from Debian's packages, by sets. Safe to run again: packages already
# present are left alone.
#
#   scripts/setup.sh [SET...]     (no SET: all of them)
#     build     compilers, CMake and the header libraries: building and running the tool
#     test      the tests' tools: GoogleTest, clang and valgrind, Chromium and Node.js for the
#               browser test, the Debian packaging tools (implies build)
#     windows   the MinGW-w64 cross compilers and Wine (implies build)
#     native    build and test (everything but windows)
#
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
  # A mirror in the middle of a sync fails one index or another: the install below says whether
  # what is needed could be had all the same.
  [ "$updated" = 1 ] || { $SUDO apt-get update -q || echo "setup: apt-get update failed in part" >&2; updated=1; }
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
}

set_build() {
  install_missing cmake g++ make pkg-config nlohmann-json3-dev libcli11-dev libboost-dev
  # serve --mqtt publishes with libmosquitto.
  install_missing libmosquitto-dev
}

set_test() {
  install_missing libgtest-dev libgmock-dev libbenchmark-dev python3 python3-serial
  # readelf and nm: the package test reads the shared library's soname and exported symbols.
  install_missing binutils
  # The sanitizer build and fuzz targets (clang, libFuzzer) and the valgrind runs of the tests.
  install_missing clang libclang-rt-dev valgrind
  # The Debian packages: built by CPack (dpkg-shlibdeps finds their dependencies), checked by lintian, their unit checked
  # by systemd-analyze.
  install_missing dpkg-dev lintian systemd
  # The MQTT tests run Debian's broker and its command-line client.
  install_missing mosquitto mosquitto-clients
  # The browser test of tolvak serve: the system's Chromium driven by playwright-core from npm
  # (which never downloads a browser of its own).
  install_missing chromium nodejs
  command -v npm > /dev/null || install_missing npm # NodeSource's nodejs brings its own
  if [ ! -d "$here/../tests/browser/node_modules/playwright-core" ]; then
    (cd "$here/../tests/browser" && npm ci --no-audit --no-fund)
  fi
}

set_windows() {
  install_missing g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64
  # The Windows installer: wixl builds it, msibuild and msiinfo finish and read its tables.
  install_missing wixl msitools
  # scripts/release.sh: the installer's tables written at the last commit's time; the zips.
  install_missing faketime zip
  # tolvak.exe's libmosquitto, built from Debian's source package (scripts/build-mosquitto-mingw.sh):
  # apt fetches it against Debian's keyring, dpkg-source unpacks and patches it.
  install_missing dpkg-dev debian-archive-keyring
  if "$here/host-runs-32bit.sh"; then
    # The 32-bit Wine tests skip, saying so, when it cannot be had (an i386 index out of step).
    install_missing wine32:i386 || echo "setup: 32-bit Wine could not be installed" >&2
  else
    echo "setup: this host runs no 32-bit programs (or TOLVAK_SKIP_WIN32=1): no 32-bit Wine" >&2
  fi
}

[ $# -gt 0 ] || set -- build test windows
sets=()
for name in "$@"; do
  case "$name" in
    build) sets+=(build) ;;
    test | windows) sets+=(build "$name") ;;
    native) sets+=(build test) ;;
    *) echo "setup: unknown set '$name' (build, test, windows, native)" >&2; exit 64 ;;
  esac
done
done_sets=" "
for name in "${sets[@]}"; do
  case "$done_sets" in *" $name "*) continue ;; esac
  "set_$name"
  done_sets+="$name "
done
