#!/usr/bin/env bash
# The surface's child windows under Wine's null display driver.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/platform_lib.sh"
run_platform_program platform_surface
