#!/usr/bin/env bash
# The surface's child windows under Wine's null display driver: once at the prefix's own
# resolution, once at 144 dpi so that the twips-to-pixels conversion is really exercised.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../wine/com_lib.sh"
key='HKCU\Control Panel\Desktop'

com_run platform_surface

saved=$(timeout 60 "$TOLVAK_WINE" reg query "$key" /v LogPixels 2>/dev/null | awk '/LogPixels/ {print $3}' || true)
restore() {
    if [ -n "$saved" ]; then
        timeout 60 "$TOLVAK_WINE" reg add "$key" /v LogPixels /t REG_DWORD /d "$((saved))" /f >/dev/null
    else
        timeout 60 "$TOLVAK_WINE" reg delete "$key" /v LogPixels /f >/dev/null 2>&1 || true
    fi
    timeout 60 wineserver -w || true
}
trap restore EXIT
timeout 60 "$TOLVAK_WINE" reg add "$key" /v LogPixels /t REG_DWORD /d 144 /f >/dev/null
com_run platform_surface 144
