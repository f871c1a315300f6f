#!/usr/bin/env bash
# tolvak.exe read under Wine: COM5 is a pseudo-terminal fed by the Linux tool's indicator. For
# each row, the Linux tool reads the same indicator first and both must print the same lines and
# exit alike.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../../../scripts/wine-env.sh" "${TOLVAK_WIN_ARCH:?win32 or win64}"
: "${WINEPREFIX:?}" "${TOLVAK_TOOL:?the Linux tool}" "${TOLVAK_EXE:?tolvak.exe}"
export WINEPREFIX
link=$WINEPREFIX/dosdevices/com5
dir=$(mktemp -d)
failures=0
# A wineserver of the test's own, whose notes (it dumps its objects when a line it holds hangs
# up) stay out of what tolvak.exe writes.
timeout 900 wineserver -f -p >/dev/null 2>&1 &
trap 'unplug; timeout 60 wineserver -k; rm -rf "$dir"' EXIT

check() { # NAME EXPECTED ACTUAL
    if [ "$2" = "$3" ]; then echo "ok   $1"; else
        printf 'FAIL %s\n  expected: %s\n  got:      %s\n' "$1" "$2" "$3"
        failures=$((failures + 1))
    fi
}
plug() { # indicator options
    : >"$dir/pty"
    "$TOLVAK_TOOL" indicator --baud 9600 --rate 20 "$@" >"$dir/pty" 2>/dev/null &
    indicator=$!
    until [ -s "$dir/pty" ]; do sleep 0.05; done
    ln -sfn "$(head -n1 "$dir/pty")" "$link"
}
unplug() { # as a USB adapter going: the name goes, the line hangs up
    rm -f "$link"
    [ -n "${indicator:-}" ] && kill "$indicator" 2>/dev/null && wait "$indicator" 2>/dev/null
    indicator=
}
exe() { timeout 60 "$TOLVAK_WINE" "$TOLVAK_EXE" "$@"; }
# The time of a reading is the only thing that may differ.
same() { sed -e 's/"time":"[^"]*"/"time":T/' -e 's/\r$//'; }

# indicator options | read options | the Windows device (the Linux tool reads the pty)
rows=(
    "--weight 1234|--once|COM5"
    "--weight 12.5 --places 1|--once --json|\\\\.\\COM5"
    "--weight -20|--changes --once|com5"
    "--weight 3.25 --places 2|--once --json --stable --stable-window 0.3|COM5"
)
for row in "${rows[@]}"; do
    IFS='|' read -r ind opts device <<<"$row"
    plug $ind
    linux=$(timeout 30 "$TOLVAK_TOOL" read --baud 9600 --device "$(head -n1 "$dir/pty")" $opts 2>"$dir/linux.err" | same)
    linux_status=$?
    unplug
    plug $ind
    windows=$(exe read --baud 9600 --device "$device" $opts 2>"$dir/win.err" | same)
    windows_status=$?
    unplug
    check "read $opts ($ind) prints" "$linux" "$windows"
    check "read $opts ($ind) exits" "$linux_status" "$windows_status"
    check "read $opts ($ind) says" "$(same <"$dir/linux.err")" "$(same <"$dir/win.err")"
done

# A port that is not there: the open fails with the control's box (status 2).
exe read --device COM9 --once >/dev/null 2>"$dir/win.err"
check "read from a missing port exits" 2 $?
check "read from a missing port says" 1 "$(grep -c 'COM9' "$dir/win.err")"
exe read --device /dev/ttyS0 --once >/dev/null 2>"$dir/win.err"
check "read from a device that is no COM port exits" 2 $?

echo "tool_read: $failures failure(s)"
[ "$failures" -eq 0 ]
