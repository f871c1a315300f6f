#!/usr/bin/env bash
# Builds libmosquitto (the MQTT client library alone, static, without TLS) for Windows with the
# MinGW-w64 posix compilers, from Debian's source package with Debian's patches, and prints the
# folder it is installed in (include/, lib/, and libmosquitto-LICENSE.txt, which goes beside
# tolvak.exe). tolvak.exe links it for serve --mqtt.
#
#   scripts/build-mosquitto-mingw.sh [x86_64|i686]     (default x86_64)
#
# The source comes through apt, which checks it against Debian's signed index; nothing is taken
# from elsewhere. The result is kept in $TOLVAK_CACHE_DIR (default ~/.cache/tolvak) as
# mosquitto-VERSION-ARCH: once there, a run does nothing and needs no network. Exit status 1,
# with the reason on stderr, when the source cannot be had or the build fails: the caller then
# builds tolvak.exe without MQTT.
set -euo pipefail
arch=${1:-x86_64}
case "$arch" in
  x86_64 | i686) ;;
  *) echo "usage: $0 [x86_64|i686]" >&2; exit 64 ;;
esac
suite=${TOLVAK_MOSQUITTO_SUITE:-bookworm}
cache=${TOLVAK_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tolvak}
mkdir -p "$cache"

built() { # prints the newest finished build for this arch
  local dir found=""
  for dir in "$cache"/mosquitto-*-"$arch"; do
    [ -f "$dir/lib/libmosquitto_static.a" ] && [ -f "$dir/libmosquitto-LICENSE.txt" ] && found=$dir
  done
  [ -n "$found" ] && echo "$found"
}
if dir=$(built); then echo "$dir"; exit 0; fi

# Two builds at once (two worktrees, a parallel ctest) take turns; the second finds the first's.
exec 9> "$cache/mosquitto-$arch.lock"
flock 9
if dir=$(built); then echo "$dir"; exit 0; fi

for tool in apt-get dpkg-source cmake "$arch-w64-mingw32-gcc-posix"; do
  command -v "$tool" > /dev/null ||
    { echo "build-mosquitto-mingw: $tool is missing (scripts/setup.sh windows)" >&2; exit 1; }
done

work=$(mktemp -d "$cache/mosquitto-work.XXXXXX")
trap 'rm -rf "$work"' EXIT
# An apt of its own: only Debian's source index, in this folder, with no root needed.
mkdir -p "$work/apt/lists/partial" "$work/apt/archives/partial"
printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
  "${TOLVAK_DEBIAN_MIRROR:-http://deb.debian.org/debian}" "$suite" \
  /usr/share/keyrings/debian-archive-keyring.gpg > "$work/apt/debian.sources"
apt_opts=(-q -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work/apt"
  -o Dir::State::Lists="$work/apt/lists" -o Dir::Cache="$work/apt"
  -o APT::Sandbox::User="$(id -un)")
if ! apt-get "${apt_opts[@]}" update > "$work/apt.log" 2>&1 ||
  ! (cd "$work" && apt-get "${apt_opts[@]}" source --download-only mosquitto >> "$work/apt.log" 2>&1); then
  echo "build-mosquitto-mingw: cannot fetch Debian's mosquitto source ($suite):" >&2
  tail -n 3 "$work/apt.log" >&2
  exit 1
fi
dsc=$(ls "$work"/mosquitto_*.dsc)
# Unpacks and applies Debian's patches; the .dsc's checksums of the tarballs are checked too.
dpkg-source -x "$dsc" "$work/src" > "$work/unpack.log" 2>&1 ||
  { echo "build-mosquitto-mingw: cannot unpack $dsc" >&2; tail -n 3 "$work/unpack.log" >&2; exit 1; }
version=$(basename "$dsc" .dsc)
version=${version#mosquitto_}

# Only the library: no broker, clients, plugins, C++ wrapper, documentation, TLS or cJSON. Its
# threading uses MinGW's winpthreads (the posix compilers), the lock of a client that two threads
# use. Its own Windows link line names a pthreads-win32 that is not here, so only the static
# library is built and installed by hand.
prefix=$arch-w64-mingw32
cmake -S "$work/src" -B "$work/build" -DCMAKE_SYSTEM_NAME=Windows \
  -DCMAKE_C_COMPILER="$prefix-gcc-posix" -DCMAKE_CXX_COMPILER="$prefix-g++-posix" \
  -DCMAKE_RC_COMPILER="$prefix-windres" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_FLAGS="-D_WIN32_WINNT=0x0600" \
  -DWITH_TLS=OFF -DWITH_STATIC_LIBRARIES=ON -DWITH_THREADING=ON -DWITH_BROKER=OFF \
  -DWITH_CLIENTS=OFF -DWITH_APPS=OFF -DWITH_PLUGINS=OFF -DWITH_LIB_CPP=OFF -DDOCUMENTATION=OFF \
  -DWITH_CJSON=OFF -DWITH_SRV=OFF > "$work/build.log" 2>&1 &&
  cmake --build "$work/build" -j2 --target libmosquitto_static >> "$work/build.log" 2>&1 ||
  { echo "build-mosquitto-mingw: the build failed:" >&2; tail -n 20 "$work/build.log" >&2; exit 1; }

stage=$work/install
mkdir -p "$stage/include" "$stage/lib"
cp "$work/src/include/mosquitto.h" "$work/src/include/mqtt_protocol.h" "$stage/include/"
cp "$(find "$work/build" -name libmosquitto_static.a -print -quit)" "$stage/lib/"
# What is shipped beside tolvak.exe: the library's licence, its choice of terms and both texts.
{
  printf 'tolvak.exe contains libmosquitto %s, built from Debian'"'"'s source package.\n\n' "$version"
  for f in LICENSE.txt epl-v20 edl-v10; do cat "$work/src/$f"; printf '\n\n'; done
} > "$stage/libmosquitto-LICENSE.txt"
echo "$version" > "$stage/VERSION"
dest=$cache/mosquitto-$version-$arch
rm -rf "$dest"
mv "$stage" "$dest"
echo "build-mosquitto-mingw: built libmosquitto $version for $arch in $dest" >&2
echo "$dest"
