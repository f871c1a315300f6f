#!/usr/bin/env bash
# tolvak.exe ports and service under Wine's own tools. A port registered the way serial drivers
# register theirs is listed, plain and as JSON. The service is installed, started (Wine's sc sees
# it running), serves its two scales (one on a COM port, the demo's truck) with /api/weight and
# /healthz for the first, is stopped (its log says exit status 0) and removed. Run through
# tests/wine/own_wineserver.sh.
set -uo pipefail
. "$(dirname "$0")/tool_lib.sh"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
name=TolvakTest$$
log=$WINEPREFIX/drive_c/ProgramData/Tolvak/$name.log
get() { python3 - "$1" <<'PY'
import sys, urllib.request
try:
    print(urllib.request.urlopen("http://127.0.0.1:" + sys.argv[1], timeout=5).read().decode())
except Exception as e:
    print("no answer:", e)
PY
}

timeout 60 "$TOLVAK_WINE" reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\TolvakVirtual5' \
    /d COM5 /f >/dev/null
check "ports lists a registered port" 1 "$(exe ports | grep -c '^COM5 ')"
check "ports --json lists it" COM5 \
    "$(exe ports --json | python3 -c 'import json,sys; print(*[p["name"] for p in json.load(sys.stdin) if p["name"] == "COM5"])')"

plug --weight 4321
# Both cores kept busy while the service runs: a loaded PC must not drop its scale.
busy=()
for _ in 1 2; do (while :; do :; done) & busy+=($!); done
trap 'kill "${busy[@]}" 2>/dev/null; unplug; rm -rf "$dir"' EXIT
scales=(--scale in=COM5,baud=9600 --scale demo=simulate)
exe service install --name "$name" "${scales[@]}" --listen "127.0.0.1:$port" >/dev/null
check "service install" 0 $?
status=$(exe service status --name "$name" | tr -d '\r')
check "it runs as an account of its own" "as:      NT SERVICE\\$name" "$(grep '^as:' <<<"$status")"
check "it is given the token made for it" "1 1" "$(grep -c -- "--token-file=C:.ProgramData.Tolvak.$name.token" \
    <<<"$status") $(grep -c '^[0-9a-f]\{64\}$' "${log%.log}.token")"
# Its folder planted as a link elsewhere: refused by start and by the service's own run.
mv "${log%/*}" "$dir/folder" && ln -s "$dir" "${log%/*}"
for action in start run; do
    opts=() && [ $action = run ] && opts=("${scales[@]}") # run takes serve's options, as installed
    said=$(exe service $action --name "$name" "${opts[@]}" 2>&1)
    check "service $action refuses a linked folder" "1 1" "$? $(grep -c 'Tolvak is a link' <<<"$said")"
done
rm "${log%/*}" && mv "$dir/folder" "${log%/*}"
check "service start" "service $name running" "$(exe service start --name "$name" | tr -d '\r')"
check "sc sees it running" 1 "$(timeout 60 "$TOLVAK_WINE" sc query "$name" | grep -c RUNNING)"
for _ in $(seq 300); do get "$port/api/scales/in/weight" | grep -q '"weight":"4321"' && break; sleep 0.2; done
check "the service serves its COM port's scale" 1 "$(get "$port/api/scales/in/weight" | grep -c '"weight":"4321"')"
check "and lists both scales" "in,demo" "$(get "$port/api/scales" |
    python3 -c 'import json,sys; print(",".join(s["name"] for s in json.load(sys.stdin)["scales"]))')"
check "the first is the default scale" 1 "$(get "$port/api/weight" | grep -c '"weight":"4321"')"
check "the service is healthy" 1 "$(get "$port/healthz" | grep -c '"state":"connected"')"
check "service stop" "service $name stopped" "$(exe service stop --name "$name" | tr -d '\r')"
check "stopped, it no longer answers" 1 "$(get "$port/healthz" | grep -c 'no answer')"
check "its log tells of the device and a clean end" "in: COM5: connected,exit status 0" \
    "$(grep -o 'tolvak serve: in: COM5: connected\|exit status 0' "$log" | sed 's/tolvak serve: //' | paste -sd,)"
mkdir -m 777 "$dir/open" && cp "$TOLVAK_EXE" "$dir/open/"
check "install refuses a program ordinary users can replace" 1 "$(timeout 60 "$TOLVAK_WINE" \
    "$dir/open/tolvak.exe" service install --name "$name.2" --device COM5 2>&1 |
    grep -c 'changed by ordinary users')"
kill "${busy[@]}"
check "service uninstall" "service $name removed" "$(exe service uninstall --name "$name" | tr -d '\r')"
exe service status --name "$name" >/dev/null 2>&1
check "status of a removed service exits" 1 $?
finish
