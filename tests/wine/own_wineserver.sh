#!/usr/bin/env bash
# Runs a command with a wineserver of its own in $WINEPREFIX, kept alive between the Wine programs
# the command starts and ended after it. The prefix's services are started first, with nothing of
# the command's open: a service started by the first program would otherwise inherit that
# program's stdout and stderr and hold them open, and whoever waits for their end would wait
# forever. Usage: own_wineserver.sh COMMAND [ARGS...]
. "$(dirname "$0")/../../scripts/wine-env.sh" "${TOLVAK_WIN_ARCH:?win32 or win64}"
: "${WINEPREFIX:?}"
export WINEPREFIX
timeout 60 wineserver -k >/dev/null 2>&1
# Ready before any program starts: a program that found no server would start one of its own,
# which writes into that program's stderr (it lists its objects when a line hangs up), and which
# ends a few seconds after its last client, so that on a busy machine the next program starts yet
# another. This one returns once it serves, and stays up until a minute after its last client.
timeout 120 wineserver -p60 >/dev/null 2>&1 </dev/null
timeout 120 "$TOLVAK_WINE" cmd /c exit >/dev/null 2>&1 </dev/null
"$@"
status=$?
timeout 60 wineserver -k >/dev/null 2>&1
exit "$status"
