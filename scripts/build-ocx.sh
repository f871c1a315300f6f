#!/usr/bin/env bash
# Cross-builds Tolvak.ocx with MinGW-w64 (the type library is made under Wine) and copies it to
# out/win32. Prints the path of the result. --tests also builds the Windows test programs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${TOLVAK_WIN_BUILD_DIR:-$root/build-win}"
targets=(--target tolvak_ocx)
case "${1:-}" in
  --tests) targets=() ;;
  "") ;;
  -h|--help) echo "usage: $0 [--tests]   cross-builds Tolvak.ocx into out/win32 (--tests: and the Windows test programs)"; exit 0 ;;
  *) echo "build-ocx.sh: unknown option $1" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >&2
cmake --build "$build" -j2 ${targets[@]+"${targets[@]}"} >&2
ocx="$build/src/control/com/Tolvak.ocx"
mkdir -p "$root/out/win32"
cp "$ocx" "$root/out/win32/Tolvak.ocx"
echo "$root/out/win32/Tolvak.ocx"
