#!/usr/bin/env bash
# The control from VBScript through Wine's cscript, created by ProgID.
set -euo pipefail
. "$(dirname "$0")/../wine/com_lib.sh"
script=$(com_winpath "$(dirname "$0")/com_script.vbs")
status=0
out=$(timeout 120 "$TOLVAK_WINE" cscript //nologo "$script" 2>&1) || status=$?
timeout 60 wineserver -w || true
echo "$out"
# cscript exits 0 on a runtime error: the script's own last line must be there.
grep -q "^com_script: 0 failures" <<<"$out" || { [ "$status" -ne 0 ] || status=1; }
exit "$status"
