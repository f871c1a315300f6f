# Shared by the tolvak.exe scripts: the Wine environment, a row check, and an indicator of the
# Linux tool on a pseudo-terminal that COM5 (and $dir/lnk, for the Linux tool) points at.
. "$(dirname "${BASH_SOURCE[0]}")/../../../../scripts/wine-env.sh" "${TOLVAK_WIN_ARCH:?win32 or win64}"
: "${WINEPREFIX:?}" "${TOLVAK_TOOL:?the Linux tool}" "${TOLVAK_EXE:?tolvak.exe}"
export WINEPREFIX
link=$WINEPREFIX/dosdevices/com5
dir=$(mktemp -d)
failures=0
indicator=

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
    ln -sfn "$(head -n1 "$dir/pty")" "$dir/lnk"
}
unplug() { # as a USB adapter going: the name goes, the line hangs up
    rm -f "$link" "$dir/lnk"
    [ -n "$indicator" ] && kill "$indicator" 2>/dev/null && wait "$indicator" 2>/dev/null
    indicator=
}
exe() { timeout 60 "$TOLVAK_WINE" "$TOLVAK_EXE" "$@"; }
wait_for() { # FILE PATTERN: up to 30 s
    for _ in $(seq 300); do grep -q -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
    return 1
}
finish() { # the script's last word and status
    echo "$(basename "$0" .sh): $failures failure(s)"
    [ "$failures" -eq 0 ]
}
trap 'unplug; rm -rf "$dir"' EXIT
