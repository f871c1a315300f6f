#!/usr/bin/env bash
# Builds every file of a release of this tree into OUTDIR, on any x86-64 Debian host (after
# scripts/setup.sh), with the project's own scripts, and writes SHA256SUMS. Two runs on one
# commit give the same bytes (see docs/release.md).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: scripts/release.sh [--only STEPS] VERSION OUTDIR
  VERSION  the version of this tree (CMakeLists.txt), checked
  STEPS    some of win,deb,msi,zip,lib, comma-separated (default: all of them)
    win  cross-build both controls, tolvak.exe and the MinGW library (scripts/build-ocx.sh)
    deb  the Debian packages (scripts/package.sh; \$TOLVAK_PACKAGE_BUILD_DIR, default build-package)
    msi  the Windows installer (packaging/msi/build-msi.sh)
    zip  Tolvak-VERSION-windows.zip: both Tolvak.ocx, tolvak.exe and the licences
    lib  libtolvak-VERSION-mingw-w64-x86_64.zip: headers, library, CMake package
  The Windows steps use the cross build in \$TOLVAK_WIN_BUILD_DIR (default build-win) and out/."
die() { echo "release.sh: $*" >&2; exit 64; }
steps=win,deb,msi,zip,lib
while [ $# -gt 0 ]; do
  case "$1" in
    --only) [ $# -ge 2 ] || die "--only needs STEPS"; steps=$2; shift ;;
    -h | --help) echo "$usage"; exit 0 ;;
    -*) die "unknown option $1" ;;
    *) break ;;
  esac
  shift
done
[ $# -eq 2 ] || { echo "$usage" >&2; exit 64; }
version=$1
outdir=$(realpath -m "$2")
tree_version=$(sed -n 's/^project(Tolvak VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ "$version" = "$tree_version" ] || die "this tree is version $tree_version, not $version"
for step in ${steps//,/ }; do
  case "$step" in win | deb | msi | zip | lib) ;; *) die "unknown step '$step' (win,deb,msi,zip,lib)" ;; esac
done
want() { [[ ",$steps," == *",$1,"* ]]; }

# Every time written into a file is the last commit's.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct) || die "not a git work tree: set SOURCE_DATE_EPOCH"
fi
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
# ccache's base folder makes the header paths the compiler records (in assertion texts) relative,
# so that a build with it and one without would differ.
unset CCACHE_BASEDIR
win_build=${TOLVAK_WIN_BUILD_DIR:-$root/build-win}
mkdir -p "$outdir"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
made=()

# A zip of FOLDER's files into OUTDIR/NAME.zip, as FOLDER's name: fixed times and modes, sorted
# entries, no extra fields.
pack() { # FOLDER NAME
  local folder=$1 name=$2
  find "$folder" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
  find "$folder" -name '*.exe' -exec chmod 755 {} +
  find "$folder" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  rm -f "$outdir/$name.zip"
  (cd "$(dirname "$folder")" && find "$(basename "$folder")" -type f | sort |
    zip -q -X -D -9 "$outdir/$name.zip" -@)
  made+=("$name.zip")
}

# The Debian copyright file of the package that holds FILE.
copyright_of() {
  local package
  package=$(dpkg -S "$(realpath "$1")" | head -n1 | cut -d: -f1)
  echo "/usr/share/doc/$package/copyright"
}

if want win; then
  TOLVAK_WIN_BUILD_DIR="$win_build" "$root/scripts/build-ocx.sh" > /dev/null
fi
if want deb; then
  deb_build=${TOLVAK_PACKAGE_BUILD_DIR:-$root/build-package}
  # A tree configured before takes the changelog's date from this configure.
  [ ! -f "$deb_build/CMakeCache.txt" ] || cmake "$deb_build" > /dev/null
  "$root/scripts/package.sh" "$deb_build" > /dev/null
  for deb in "$deb_build"/packages/*.deb; do
    cp "$deb" "$outdir/"
    made+=("$(basename "$deb")")
  done
fi
if want msi; then
  msi=$(TOLVAK_WIN_BUILD_DIR="$win_build" "$root/packaging/msi/build-msi.sh" "$root/out")
  cp "$msi" "$outdir/"
  made+=("$(basename "$msi")")
fi
if want zip; then
  dir=$work/Tolvak-$version-windows
  mkdir -p "$dir/x86" "$dir/x64" "$dir/licenses"
  cp "$root/out/win32/Tolvak.ocx" "$dir/x86/"
  cp "$root/out/win64/Tolvak.ocx" "$root/out/win64/tolvak.exe" "$dir/x64/"
  cp "$root/LICENSE" "$dir/LICENSE.txt"
  # What the controls and the tool link in: the MinGW-w64 runtime and C++ library (statically),
  # and the header libraries the tool is built with.
  cxx=x86_64-w64-mingw32-g++-posix
  for part in "libstdc++:$($cxx -print-file-name=libstdc++.a)" \
              "winpthreads:$($cxx -print-file-name=libwinpthread.a)" \
              "boost:/usr/include/boost/version.hpp" "nlohmann-json:/usr/include/nlohmann/json.hpp" \
              "cli11:/usr/include/CLI/CLI.hpp"; do
    cp "$(copyright_of "${part#*:}")" "$dir/licenses/${part%%:*}.txt"
  done
  pack "$dir" "Tolvak-$version-windows"
fi
if want lib; then
  dir=$work/libtolvak-$version-mingw-w64-x86_64
  cmake --install "$win_build/win64" --prefix "$dir" --component dev > /dev/null
  pack "$dir" "libtolvak-$version-mingw-w64-x86_64"
fi

(cd "$outdir" && sha256sum "${made[@]}" | sort -k2 > SHA256SUMS)
cat "$outdir/SHA256SUMS"
