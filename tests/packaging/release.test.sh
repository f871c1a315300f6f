#!/usr/bin/env bash
# scripts/release.sh twice on the trees already built (the Debian packages' and the cross
# build): the same files (debs, MSI, zips), byte for byte, and each zip holds what it should. The builds are not
# repeated here (see docs/release.md for a whole run).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
version=$(sed -n 's/^project(Tolvak VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for run in 1 2; do
  "$root/scripts/release.sh" --only deb,msi,zip,lib "$version" "$work/$run" > /dev/null
done
diff "$work/1/SHA256SUMS" "$work/2/SHA256SUMS"
(cd "$work/2" && sha256sum --quiet -c SHA256SUMS)
[ "$(wc -l < "$work/1/SHA256SUMS")" = 5 ] || { echo "FAIL: made $(cat "$work/1/SHA256SUMS")"; exit 1; }
listing=$(cd "$work/1" && unzip -Z1 "Tolvak-$version-windows.zip" && unzip -Z1 "libtolvak-$version-mingw-w64-x86_64.zip")
for f in x86/Tolvak.ocx x64/Tolvak.ocx x64/tolvak.exe LICENSE.txt licenses/libstdc++.txt \
         include/tolvak/scale.h lib/libtolvak.a lib/cmake/Tolvak/TolvakConfig.cmake; do
  grep -q "/$f\$" <<< "$listing" || { echo "FAIL: no $f in the zips"; exit 1; }
done
echo "release: two runs made the same $(wc -l < "$work/1/SHA256SUMS") files"
