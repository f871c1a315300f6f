#!/usr/bin/env bash
# The 32-bit control's type library checked where 32-bit programs may not run: the 64-bit golden
# test reads it out of out/win32/Tolvak.ocx, and building it again in a fresh prefix gives the
# same bytes (the library does not depend on the host or prefix that made it).
set -euo pipefail
: "${TOLVAK_WIN_BUILD_DIR:?parent of the cross build folders}" "${TOLVAK_SOURCE:?source folder}"
. "$TOLVAK_SOURCE/scripts/wine-env.sh" win64
work=$(mktemp -d "${TMPDIR:-/tmp}/tolvak-across.XXXXXX")
export WINEPREFIX="$work/prefix"
cleanup() {
  timeout 60 wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
failures=0

timeout 180 "$TOLVAK_WINE" wineboot -i >/dev/null 2>&1
reader="$TOLVAK_WIN_BUILD_DIR/win64/tests/ocx/com_typelib.exe"
[ -f "$reader" ] || { echo "FAIL $reader not found (scripts/build-ocx.sh --tests builds it)"; exit 1; }
ocx32=$(timeout 30 "$TOLVAK_WINE" winepath -w "$TOLVAK_SOURCE/out/win32/Tolvak.ocx")
echo "golden test, 64-bit reader, library inside out/win32/Tolvak.ocx:"
timeout 300 "$TOLVAK_WINE" "$reader" win32 "$ocx32" || failures=$((failures + 1))
timeout 60 wineserver -w || true

builder=$(find "$TOLVAK_WIN_BUILD_DIR/win64" -name tolvak_build_typelib.exe -print -quit)
built="$TOLVAK_WIN_BUILD_DIR/win32/src/ocx"
(cd "$work" && "$TOLVAK_SOURCE/src/ocx/typelib/run_builder.sh" "$builder" win32 \
  again.tlb iid.bin srciid.bin)
for f in Tolvak.tlb:again.tlb iid_tolvak.bin:iid.bin srciid_tolvak.bin:srciid.bin; do
  if cmp "$built/${f%%:*}" "$work/${f#*:}"; then
    echo "rebuilt ${f%%:*}: same bytes"
  else
    echo "FAIL rebuilt ${f%%:*} differs"
    failures=$((failures + 1))
  fi
done
echo "typelib_across: $failures failures"
exit "$failures"
