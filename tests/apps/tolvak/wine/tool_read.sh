#!/usr/bin/env bash
# tolvak.exe read under Wine: COM5 is a pseudo-terminal fed by the Linux tool's indicator. For
# each row, the Linux tool reads the same indicator first and both must print the same lines and
# exit alike; then the device goes away under both while they read, with and without --follow.
# Run through tests/wine/own_wineserver.sh.
set -uo pipefail
. "$(dirname "$0")/tool_lib.sh"
# The time of a reading and the device's name are the only things that may differ.
same() { sed -e 's/"time":"[^"]*"/"time":T/' -e 's/\r$//' -e 's/^\(tolvak read: \)[^ ]*: /\1DEV: /'; }

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
    linux=$(timeout 30 "$TOLVAK_TOOL" read --quiet --baud 9600 --device "$dir/lnk" $opts 2>"$dir/linux.err" | same)
    linux_status=$?
    unplug
    plug $ind
    windows=$(exe read --quiet --baud 9600 --device "$device" $opts 2>"$dir/win.err" | same)
    windows_status=$?
    unplug
    check "read $opts ($ind) prints" "$linux" "$windows"
    check "read $opts ($ind) exits" "$linux_status" "$windows_status"
    check "read $opts ($ind) says" "$(same <"$dir/linux.err")" "$(same <"$dir/win.err")"
done

# A port that is not there: the open fails, said in English (status 2).
exe read --device COM9 --once >/dev/null 2>"$dir/win.err"
check "read from a missing port exits" 2 $?
check "read from a missing port says" 1 "$(grep -c 'cannot open COM9: .* (error 8002)' "$dir/win.err")"
exe read --device /dev/ttyS0 --once >/dev/null 2>"$dir/win.err"
check "read from a device that is no COM port exits" 2 $?

# Unplugged while reading: without --follow it ends (status 1); with --follow it waits for the
# device, reads on when it is back, and Ctrl-C ends it (status 0). What happened, in one line per
# run, must be the expected one and the same for both tools. timeout runs them in the foreground:
# otherwise it passes the Ctrl-C on twice (to the tool and to its process group), and the second
# may come after the tool has given Ctrl-C its default course back for its way out.
unplugged() { # FOLLOW TOOL...
    local follow=$1 reader
    shift
    plug --weight 1000
    "$@" --baud 9600 --changes $follow >"$dir/out" 2>"$dir/err" &
    reader=$!
    wait_for "$dir/out" '^1000'
    unplug
    if [ -n "$follow" ]; then
        wait_for "$dir/err" 'waiting for the device'
        plug --weight 2000
        wait_for "$dir/out" '^2000'
        kill -INT "$reader"
    fi
    wait "$reader"
    echo "status $? read $(tr -d '\r' <"$dir/out" | paste -sd,)" \
        "closed $(grep -c 'the port closed' "$dir/err")" \
        "waited $(grep -q 'waiting for the device' "$dir/err" && echo yes || echo no)" \
        "back $(grep -c 'the device is back' "$dir/err")"
    [ -n "$follow" ] && unplug
}
for follow in "" --follow; do
    if [ -n "$follow" ]; then expected="status 0 read 1000,2000 closed 0 waited yes back 1"
    else expected="status 1 read 1000 closed 1 waited no back 0"; fi
    check "read $follow unplugged (Linux)" "$expected" \
        "$(unplugged "$follow" timeout --foreground 60 "$TOLVAK_TOOL" read --device "$dir/lnk")"
    check "read $follow unplugged (Windows)" "$expected" \
        "$(unplugged "$follow" timeout --foreground 60 "$TOLVAK_WINE" "$TOLVAK_EXE" read \
            --device COM5)"
done
finish
