#!/usr/bin/env bash
# Exports, resources, version information, class factory and unloading of Tolvak.ocx.
set -euo pipefail
. "$(dirname "$0")/../wine/com_lib.sh"
com_run com_server "$(com_winpath "$TOLVAK_OCX")"
