#!/usr/bin/env bash
# serve under systemd's socket activation (systemd-socket-activate holds the port as the socket
# unit does): it answers on the socket handed over, and refuses one that is not its --listen.
#   socket_activation.test.sh TOLVAK
set -uo pipefail
tolvak=$1
command -v systemd-socket-activate > /dev/null || { echo "skipped: no systemd-socket-activate"; exit 77; }
dir=$(mktemp -d)
trap 'kill $(jobs -p) 2> /dev/null; wait; rm -rf "$dir"' EXIT
failures=0
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

"$tolvak" indicator --baud 9600 --rate 20 --weight 1234 > "$dir/pty" 2> /dev/null &
until [ -s "$dir/pty" ]; do sleep 0.05; done
pty=$(head -n1 "$dir/pty")

# CASE: --listen's port (the socket's, or another), then what a client and serve's errors show.
for case in "same 1234 -" "other - match --listen to it"; do
  read -r listen weight error <<< "$case"
  port=$(free_port)
  serve_port=$port
  [ "$listen" = same ] || serve_port=$(free_port)
  timeout 60 systemd-socket-activate -l "127.0.0.1:$port" "$tolvak" serve --device "$pty" \
    --baud 9600 --listen "127.0.0.1:$serve_port" > /dev/null 2> "$dir/err" &
  activator=$!
  got=- said=-
  for _ in $(seq 100); do # the first connection starts serve
    answer=$(curl -s -m 5 "http://127.0.0.1:$port/api/weight")
    [[ $answer =~ \"weight\":\"([0-9]+)\" ]] && got=${BASH_REMATCH[1]} && break
    [ "$error" != - ] && grep -qF -- "$error" "$dir/err" && said=$error && break
    sleep 0.1
  done
  if [ "$got $said" = "$weight $error" ]; then echo "ok   --listen $listen"; else
    echo "FAIL --listen $listen: weight $got, error '$said'; serve said: $(cat "$dir/err")"
    failures=$((failures + 1))
  fi
  kill "$activator" 2> /dev/null
  wait "$activator" 2> /dev/null
done
echo "socket_activation: $failures failure(s)"
[ "$failures" -eq 0 ]
