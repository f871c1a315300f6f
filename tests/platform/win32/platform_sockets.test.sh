#!/usr/bin/env bash
# Host name, IPv4 and MAC address through Winsock 1.1 and SendARP under Wine.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../wine/com_lib.sh"
com_run platform_sockets
