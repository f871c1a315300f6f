#!/usr/bin/env bash
# Builds the Debian packages (tolvak, libtolvak-dev; libtolvak1 as well with --shared) with CPack
# into BUILD_DIR/packages and prints their paths; with --msi, also the Windows installer
# out/Tolvak-<version>-x64.msi (cross-builds tolvak.exe and both controls first).
#
#   scripts/package.sh [--shared] [--msi] [BUILD_DIR]     (default build-package)
#
# BUILD_DIR is a Release build of the tool and the library alone, installed under /usr (so the
# library and tolvak.pc go to Debian's multiarch directory); one configured before is reused.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
shared=OFF msi=0
while [ $# -gt 0 ]; do
  case "$1" in
    --shared) shared=ON ;;
    --msi) msi=1 ;;
    -*) echo "package.sh: unknown option $1" >&2; exit 64 ;;
    *) break ;;
  esac
  shift
done
build=$(realpath -m "${1:-$root/build-package}")

if [ ! -f "$build/CMakeCache.txt" ]; then
  launcher=()
  command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DTOLVAK_SHARED=$shared -DTOLVAK_BUILD_TESTS=OFF -DTOLVAK_BUILD_BENCH=OFF "${launcher[@]}" \
    > /dev/null
fi
cmake --build "$build" -j"$(nproc)" --target tolvak tolvak_lib tolvak_deb_docs tolvak_man
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB > "$build/cpack.log") || { cat "$build/cpack.log" >&2; exit 1; }
# CPack runs ldconfig from the shared library's maintainer scripts; Debian asks for its trigger.
for lib in "$build"/packages/libtolvak[0-9]*.deb; do
  [ -e "$lib" ] || continue
  tree=$(mktemp -d)
  dpkg-deb -R "$lib" "$tree"
  rm -f "$tree/DEBIAN/postinst" "$tree/DEBIAN/postrm"
  echo "activate-noawait ldconfig" > "$tree/DEBIAN/triggers"
  dpkg-deb --root-owner-group -b "$tree" "$lib" > /dev/null
  rm -rf "$tree"
done
ls "$build"/packages/*.deb
if [ "$msi" = 1 ]; then
  "$root/scripts/build-ocx.sh" > /dev/null
  "$root/packaging/msi/build-msi.sh"
fi
