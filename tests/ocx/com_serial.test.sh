#!/usr/bin/env bash
# End to end: frames on a pseudo-terminal linked as COM5 reach getTolvakValue through Tolvak.ocx.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine/com_lib.sh"
exe=$(com_exe com_serial)
timeout 300 python3 "$here/../wine/pty_indicator.py" "$WINEPREFIX/dosdevices/com5" -- timeout 240 "$TOLVAK_WINE" "$exe"
