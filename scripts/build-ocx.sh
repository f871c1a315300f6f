#!/usr/bin/env bash
# Cross-builds Tolvak.ocx with MinGW-w64, 32-bit into out/win32 and 64-bit into out/win64, and
# tolvak.exe (the tool) beside the 64-bit one, and prints the path of each result. The type library is made under 64-bit Wine by a program of the
# 64-bit build, so the 32-bit control needs that much of the 64-bit build too.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: $0 [--only win32|win64] [--tests]
  Cross-builds Tolvak.ocx for 32-bit (out/win32) and 64-bit (out/win64) Windows hosts, and
  tolvak.exe and the library for 64-bit ones (the cross build's install target installs them).
  --only ARCH  build just one of them
  --tests      also build the Windows test programs (tests/ocx, tests/platform/win32)
  Build folders: \$TOLVAK_WIN_BUILD_DIR/win32 and /win64 (default TOLVAK_WIN_BUILD_DIR: build-win)."
arches=(win64 win32)
tests=OFF
while [ $# -gt 0 ]; do
  case "$1" in
    --tests) tests=ON ;;
    --only)
      [ $# -ge 2 ] && { [ "$2" = win32 ] || [ "$2" = win64 ]; } || { echo "$usage" >&2; exit 2; }
      arches=("$2"); shift ;;
    -h|--help) echo "$usage"; exit 0 ;;
    *) echo "build-ocx.sh: unknown option $1" >&2; echo "$usage" >&2; exit 2 ;;
  esac
  shift
done

build_dir() { echo "${TOLVAK_WIN_BUILD_DIR:-$root/build-win}/$1"; }

configure() { # ARCH TOOLCHAIN [cmake options...]
  local arch=$1 toolchain=$2
  shift 2
  cmake -S "$root" -B "$(build_dir "$arch")" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DTOLVAK_BUILD_TESTS="$tests" "$@" >&2
}

want() { [[ " ${arches[*]} " == *" $1 "* ]]; }

# libmosquitto for tolvak.exe's serve --mqtt; where it cannot be had (no network to Debian's
# mirror), tolvak.exe is built without MQTT and says so.
mosquitto=""
if want win64; then
  mosquitto=$("$root/scripts/build-mosquitto-mingw.sh" x86_64) ||
    { echo "build-ocx.sh: tolvak.exe is built without MQTT (no libmosquitto)" >&2; mosquitto=""; }
fi

# The 64-bit build: the type-library builder always, the control and tests when asked for.
configure win64 mingw-w64-x86_64.cmake -DTOLVAK_MOSQUITTO_DIR="$mosquitto"
if want win64; then
  cmake --build "$(build_dir win64)" -j2 >&2
else
  cmake --build "$(build_dir win64)" -j2 --target tolvak_build_typelib >&2
fi
builder=$(find "$(build_dir win64)" -name tolvak_build_typelib.exe -print -quit)

if want win32; then
  # The tool and the library are built for 64-bit hosts only, for now.
  configure win32 mingw-w64-i686.cmake -DTOLVAK_TYPELIB_BUILDER="$builder" -DTOLVAK_BUILD_APPS=OFF
  cmake --build "$(build_dir win32)" -j2 >&2
fi

for arch in "${arches[@]}"; do
  mkdir -p "$root/out/$arch"
  rm -f "$root/out/$arch/libmosquitto-LICENSE.txt" # none when tolvak.exe has no libmosquitto
  for built in src/ocx/Tolvak.ocx apps/tolvak/tolvak.exe apps/tolvak/libmosquitto-LICENSE.txt; do
    [ -f "$(build_dir "$arch")/$built" ] || continue
    cp "$(build_dir "$arch")/$built" "$root/out/$arch/"
    echo "$root/out/$arch/$(basename "$built")"
  done
done
