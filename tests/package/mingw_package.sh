#!/usr/bin/env bash
# The MinGW-w64 package as a Windows project sees it: install the cross build into a fresh
# prefix, build examples/read_weight.cpp against it (find_package), and run that under Wine on
# COM5, a pseudo-terminal fed by the Linux tool's simulated indicator.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/../.." && pwd)
. "$source/scripts/wine-env.sh" "${TOLVAK_WIN_ARCH:?win32 or win64}"
: "${WINEPREFIX:?}" "${TOLVAK_WIN_BUILD:?the cross build}" "${TOLVAK_TOOL:?the Linux tool}"
export WINEPREFIX
toolchain=$source/cmake/mingw-w64-$([ "$TOLVAK_WIN_ARCH" = win64 ] && echo x86_64 || echo i686).cmake
work=$(mktemp -d)
link=$WINEPREFIX/dosdevices/com5
trap 'rm -f "$link"; [ -n "${indicator:-}" ] && kill "$indicator"; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$TOLVAK_WIN_BUILD" --prefix "$work/prefix" >"$work/log" 2>&1 || fail "install: $(cat "$work/log")"
[ -f "$work/prefix/lib/libtolvak.a" ] && [ -f "$work/prefix/lib/pkgconfig/tolvak.pc" ] ||
    fail "installed: $(cd "$work/prefix" && find . -type f)"
cmake -S "$source/examples" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DTolvak_DIR="$work/prefix/lib/cmake/Tolvak" >"$work/log" 2>&1 || fail "configure: $(cat "$work/log")"
cmake --build "$work/build" >"$work/log" 2>&1 || fail "build: $(cat "$work/log")"

"$TOLVAK_TOOL" indicator --weight 1234.5 --places 1 --seconds 120 >"$work/pty" 2>/dev/null &
indicator=$!
until [ -s "$work/pty" ]; do sleep 0.1; done
ln -sfn "$(head -n1 "$work/pty")" "$link"
out=$(timeout 60 "$TOLVAK_WINE" "$work/build/read_weight.exe" COM5 2400 3 | tr -d '\r')
[ "$out" = "$(printf '1234.5\n1234.5\n1234.5')" ] || fail "read_weight.exe printed: $out"
echo "ok: the installed MinGW package built read_weight.exe, which read COM5"
