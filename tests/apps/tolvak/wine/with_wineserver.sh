#!/usr/bin/env bash
# Runs a command with a wineserver of its own for $WINEPREFIX whose notes go nowhere: it dumps its
# objects when a line it holds hangs up (an unplugged pseudo-terminal), and that must not land in
# (and fill) the pipes of the program that happened to start it.
. "$(dirname "$0")/../../../../scripts/wine-env.sh" "${TOLVAK_WIN_ARCH:?win32 or win64}"
timeout 60 wineserver -k 2>/dev/null
timeout 1800 wineserver -f -p >/dev/null 2>&1 &
"$@"
status=$?
timeout 60 wineserver -k 2>/dev/null
exit "$status"
