#!/usr/bin/env bash
# Message boxes under Wine, read back by a CBT hook in the test program.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../wine/com_lib.sh"
# The missing-port box needs a prefix without COM7.
rm -f "$WINEPREFIX/dosdevices/com7"
com_run platform_msgbox
