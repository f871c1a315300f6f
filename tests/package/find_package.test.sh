#!/bin/sh
# find_package.test.sh static|shared BUILD_DIR SOURCE_DIR TOOL VERSION [CMAKE_ARG...]
# Installs the libtolvak of BUILD_DIR, of the kind named, into a temporary prefix, builds
# examples/read_weight.cpp against the installed package only (CMake's find_package and
# pkg-config), and runs both builds against the tool's simulated indicator on a pseudo-terminal.
# With CMAKE_ARGs, first configures and builds BUILD_DIR as a build of the library alone, of
# that kind (kept between runs, so that a second run only rebuilds what changed). VERSION is the
# project's version as CMake has it: the shared library's file names and soname come from it.
set -eu
mode=$1
build=$2
source=$3
tool=$4
version=$5
shift 5
case $mode in
static | shared) ;;
*)
    echo "usage: $0 static|shared BUILD_DIR SOURCE_DIR TOOL VERSION [CMAKE_ARG...]" >&2
    exit 64
    ;;
esac
major=${version%%.*}

work=$(mktemp -d "${TMPDIR:-/tmp}/tolvak-package.XXXXXX")
indicator=
cleanup() {
    if [ -n "$indicator" ]; then kill "$indicator" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL ($mode): $*" >&2
    exit 1
}

if [ $# -gt 0 ]; then
    shared=OFF
    [ "$mode" = shared ] && shared=ON
    cmake -S "$source" -B "$build" -DTOLVAK_SHARED=$shared -DTOLVAK_BUILD_APPS=OFF \
        -DTOLVAK_BUILD_TESTS=OFF -DTOLVAK_BUILD_BENCH=OFF "$@" >"$work/lib-configure.log" 2>&1 ||
        fail "configure the library: $(cat "$work/lib-configure.log")"
    cmake --build "$build" -j2 >"$work/lib-build.log" 2>&1 ||
        fail "build the library: $(cat "$work/lib-build.log")"
fi

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || fail "install: $(cat "$work/install.log")"

# Headers: include/tolvak and nothing else, and no header of an operating system in them. A
# standard C++ header has neither a dot nor a slash in its name.
others=$(cd "$prefix/include" && find . -type f ! -path './tolvak/*')
[ -z "$others" ] || fail "installed outside include/tolvak: $others"
[ -f "$prefix/include/tolvak/scale.h" ] || fail "include/tolvak/scale.h not installed"
bad=$(grep -h '^[[:space:]]*#[[:space:]]*include' "$prefix"/include/tolvak/*.h |
      sed 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*//' |
      grep -v -E '^<[a-z_]+>$|^[<"]tolvak/[a-z_]+\.h[>"]$' || true)
[ -z "$bad" ] || fail "installed headers include: $bad"

pc=$(find "$prefix" -name tolvak.pc)
[ -n "$pc" ] || fail "no tolvak.pc installed"
pcdir=$(dirname "$pc")
libdir=$(dirname "$pcdir")
pcversion=$(PKG_CONFIG_PATH=$pcdir pkg-config --modversion tolvak)
[ "$pcversion" = "$version" ] || fail "tolvak.pc says version $pcversion, the project $version"

# The library files: an archive alone, or the real file with the soname's and the linker's
# symlinks in front of it.
libs=$(cd "$libdir" && ls -d libtolvak* 2>/dev/null | tr '\n' ' ')
if [ "$mode" = static ]; then
    [ "$libs" = "libtolvak.a " ] || fail "installed libraries: $libs (want libtolvak.a)"
    # Every name the archive defines for the linker is in namespace tolvak (with its type
    # information, vtables, thunks and guards), or a weak instance of the standard library's
    # templates that every program may carry: a program's own names never clash with it.
    leaks=$(nm -g --defined-only "$libdir/libtolvak.a" | awk 'NF == 3 {
        if ($3 ~ /^_Z(T[ISV]|GV|T[hv]n?[0-9]+_(n?[0-9]+_)?)?Z?N?K?6tolvak/) next
        if ($2 ~ /^[WVu]$/ && $3 ~ /^(_Z(T[ISV]|GV)?Z?N?K?S[ta]|_ZN9__gnu_cxx|DW\.ref\.)/) next
        print $2, $3 }')
    [ -z "$leaks" ] || fail "libtolvak.a defines names outside tolvak::: $(echo "$leaks" | c++filt)"
else
    want="libtolvak.so libtolvak.so.$major libtolvak.so.$version "
    [ "$libs" = "$want" ] || fail "installed libraries: $libs (want $want)"
    [ -f "$libdir/libtolvak.so.$version" ] && [ ! -L "$libdir/libtolvak.so.$version" ] ||
        fail "libtolvak.so.$version is not the library itself"
    [ "$(readlink "$libdir/libtolvak.so.$major")" = "libtolvak.so.$version" ] ||
        fail "libtolvak.so.$major does not link to libtolvak.so.$version"
    [ "$(readlink "$libdir/libtolvak.so")" = "libtolvak.so.$major" ] ||
        fail "libtolvak.so does not link to libtolvak.so.$major"
    soname=$(readelf -d "$libdir/libtolvak.so.$version" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
    [ "$soname" = "libtolvak.so.$major" ] || fail "SONAME is '$soname', want libtolvak.so.$major"
    # Exported: the API only, tolvak::Scale's members and tolvak::formatNames(). Nothing of the
    # internals (the rest of namespace tolvak, Scale::Impl), nor the standard library's template
    # code its objects carry.
    extra=$(nm -D --defined-only "$libdir/libtolvak.so.$version" |
            awk '$3 ~ /^_ZNK?6tolvak5Scale4Impl/ ||
                 ($3 !~ /^_ZNK?6tolvak5Scale/ && $3 !~ /^_ZN6tolvak11formatNames/) { print $3 }')
    [ -z "$extra" ] || fail "exports more than the API: $(echo "$extra" | c++filt)"
fi

# Against the installed package only: a separate project, no path into the source tree.
cmake -S "$source/examples" -B "$work/build" -DCMAKE_PREFIX_PATH="$prefix" \
    >"$work/configure.log" 2>&1 || fail "configure: $(cat "$work/configure.log")"
cmake --build "$work/build" >"$work/build.log" 2>&1 || fail "build: $(cat "$work/build.log")"
flags=$(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs tolvak)
c++ -std=c++17 -o "$work/read_weight_pc" "$source/examples/read_weight.cpp" $flags ||
    fail "build with pkg-config flags: $flags"

# The simulated indicator prints its pseudo-terminal, then sends =5.432100 (1234.5) over and over.
"$tool" indicator --weight 1234.5 --places 1 --seconds 120 >"$work/indicator.out" \
    2>"$work/indicator.err" &
indicator=$!
# A loaded machine (the suite runs beside this) may take a while to start it.
tries=0
until [ -s "$work/indicator.out" ]; do
    kill -0 "$indicator" 2>/dev/null || fail "the indicator ended: $(cat "$work/indicator.err")"
    tries=$((tries + 1))
    [ $tries -lt 600 ] || fail "the indicator printed no device: $(cat "$work/indicator.err")"
    sleep 0.1
done
device=$(head -n 1 "$work/indicator.out")

# The CMake build finds a shared library through its RPATH; the pkg-config one, which has none,
# through LD_LIBRARY_PATH. Each must load the installed libtolvak (static: none at all).
for program in "$work/build/read_weight" "$work/read_weight_pc"; do
    path=
    [ "$program" = "$work/read_weight_pc" ] && path=$libdir
    loaded=$(LD_LIBRARY_PATH=$path ldd "$program" | awk '$1 ~ /^libtolvak/ { print $3 }')
    if [ "$mode" = static ]; then
        [ -z "$loaded" ] || fail "$program loads $loaded"
    else
        [ -n "$loaded" ] && [ "$(readlink -f "$loaded")" = "$(readlink -f "$libdir/libtolvak.so")" ] ||
            fail "$program loads '$loaded', not the installed library"
    fi
    LD_LIBRARY_PATH=$path timeout 30 "$program" "$device" 2400 3 >"$work/out" 2>"$work/err" ||
        fail "$program exited $?: $(cat "$work/err")"
    expected=$(printf '1234.5\n1234.5\n1234.5')
    [ "$(cat "$work/out")" = "$expected" ] ||
        fail "$program printed: $(cat "$work/out") / $(cat "$work/err")"
done
# Ten frames in one write reach the example in one read: it still stops after COUNT.
burst=$(LD_LIBRARY_PATH=$libdir timeout 30 python3 - "$work/build/read_weight" <<'EOF'
import os, pty, subprocess, sys, time, tty
master, slave = pty.openpty()
tty.setraw(slave)
program = subprocess.Popen([sys.argv[1], os.ttyname(slave), "9600", "3"], stdout=subprocess.PIPE)
# What waits in the port before the open is dropped: a burst every half second until it ends.
for _ in range(40):
    os.write(master, b"=" + b"05.21000=" * 10)
    if program.poll() is not None:
        break
    time.sleep(0.5)
sys.stdout.write(program.communicate(timeout=20)[0].decode())
EOF
) || fail "the burst run failed"
[ "$burst" = "$(printf '12.5\n12.5\n12.5')" ] || fail "COUNT 3 on a burst printed: $burst"
echo "ok: installed $mode package built by CMake and pkg-config, read $device"
