#!/bin/sh
# find_package.test.sh BUILD_DIR SOURCE_DIR TOOL
# Installs the build into a temporary prefix, builds examples/read_weight.cpp against the
# installed package only (CMake's find_package and pkg-config), and runs both builds against the
# tool's simulated indicator on a pseudo-terminal.
set -eu
build=$1
source=$2
tool=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/tolvak-package.XXXXXX")
indicator=
cleanup() {
    if [ -n "$indicator" ]; then kill "$indicator" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

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

# Against the installed package only: a separate project, no path into the source tree.
cmake -S "$source/examples" -B "$work/build" -DCMAKE_PREFIX_PATH="$prefix" \
    >"$work/configure.log" 2>&1 || fail "configure: $(cat "$work/configure.log")"
cmake --build "$work/build" >"$work/build.log" 2>&1 || fail "build: $(cat "$work/build.log")"
pc=$(find "$prefix" -name tolvak.pc)
[ -n "$pc" ] || fail "no tolvak.pc installed"
flags=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs tolvak)
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

for program in "$work/build/read_weight" "$work/read_weight_pc"; do
    timeout 30 "$program" "$device" 2400 3 >"$work/out" 2>"$work/err" ||
        fail "$program exited $?: $(cat "$work/err")"
    expected=$(printf '1234.5\n1234.5\n1234.5')
    [ "$(cat "$work/out")" = "$expected" ] ||
        fail "$program printed: $(cat "$work/out") / $(cat "$work/err")"
done
echo "ok: installed package built by CMake and pkg-config, read $device"
