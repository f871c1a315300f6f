#!/usr/bin/env bash
# Golden type library: the registered library, read back by Wine's oleaut32, against the core's
# method table.
set -euo pipefail
. "$(dirname "$0")/../wine/com_lib.sh"
com_run com_typelib
