#!/usr/bin/env bash
# The control hosted in place, rendered to a picture. With TOLVAK_UPDATE_SCREENSHOT=1 the picture
# replaces docs/tolvak-wine.png.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine/com_lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
com_run com_screenshot "$(com_winpath "$work/tolvak.bmp")"
python3 "$here/../wine/bmp_to_png.py" "$work/tolvak.bmp" "$work/tolvak-wine.png"
if [ "${TOLVAK_UPDATE_SCREENSHOT:-0}" = 1 ]; then
    cp "$work/tolvak-wine.png" "$TOLVAK_SOURCE/docs/tolvak-wine.png"
fi
