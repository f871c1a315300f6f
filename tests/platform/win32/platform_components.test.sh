#!/usr/bin/env bash
# The Win32 components that need no serial line, under Wine.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../wine/com_lib.sh"
rm -f "$WINEPREFIX/dosdevices/com9"
com_run platform_components
