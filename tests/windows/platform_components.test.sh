#!/usr/bin/env bash
# The Win32 components that need no serial line, under Wine.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/platform_lib.sh"
rm -f "$WINEPREFIX/dosdevices/com9"
run_platform_program platform_components
