#!/usr/bin/env bash
# The control hosted by a recording test container.
set -euo pipefail
. "$(dirname "$0")/../wine/com_lib.sh"
com_run com_container
