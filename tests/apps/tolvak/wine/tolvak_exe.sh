#!/usr/bin/env bash
# Runs tolvak.exe ($TOLVAK_EXE) under Wine as if it were the Linux tool, for the suites that take
# a command for the server (tests/serve, tests/browser). A stop request (SIGTERM, SIGINT) reaches
# it as the console's Ctrl-C; its exit status is tolvak.exe's.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../../../scripts/wine-env.sh" "${TOLVAK_WIN_ARCH:?win32 or win64}"
"$TOLVAK_WINE" "${TOLVAK_EXE:?tolvak.exe}" "$@" &
child=$!
trap 'kill -INT "$child" 2>/dev/null' INT TERM
while true; do
    wait "$child"
    status=$?
    # A trapped signal ends wait early (status above 128) while the child still runs.
    kill -0 "$child" 2>/dev/null || exit "$status"
done
