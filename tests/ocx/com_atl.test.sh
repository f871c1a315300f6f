#!/usr/bin/env bash
# The control hosted by Wine's ATL window, created by ProgID.
set -euo pipefail
. "$(dirname "$0")/../wine/com_lib.sh"
com_run com_atl
