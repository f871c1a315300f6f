#!/usr/bin/env bash
# CPU time of `tolvak read` on a 9600-baud stream and its wake-ups on a silent line, side by
# side with a pyserial reader doing the same framing; then the latency figures (bench_latency).
#
#   bench/bench_latency.sh [SECONDS]      (default 60 s per reader; FRAMES=10000 RATE=100)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build-linux}
RUN_SECONDS=${1:-60}
SILENT_SECONDS=${SILENT_SECONDS:-10}
PY=${PYTHON:-/usr/bin/python3}
T=$BUILD/apps/tolvak/tolvak
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$BUILD" -j2 --target tolvak bench_latency > /dev/null

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
wakeups() { awk '/^(non)?voluntary_ctxt_switches/ {n += $2} END {print n}' "/proc/$1/status"; }

# measure NAME COMMAND...: CPU share over RUN_SECONDS after a second of start-up.
measure_cpu() {
    local name=$1 pid c0 c1 t0 t1
    shift
    "$@" > /dev/null &
    pid=$!
    sleep 1
    c0=$(cpu_ticks $pid) t0=$(date +%s.%N)
    sleep "$RUN_SECONDS"
    c1=$(cpu_ticks $pid) t1=$(date +%s.%N)
    kill -TERM $pid
    wait $pid 2> /dev/null || true
    awk -v n="$name" -v c=$((c1 - c0)) -v hz="$(getconf CLK_TCK)" -v t0="$t0" -v t1="$t1" \
        'BEGIN {printf "  %-24s CPU %6.2f s in %5.1f s = %5.2f%% of one core\n", n, c/hz, t1-t0, 100*c/hz/(t1-t0)}'
}

# measure_wakeups NAME COMMAND...: wake-ups over SILENT_SECONDS on a line that says nothing.
measure_wakeups() {
    local name=$1 pid w0 w1
    shift
    "$@" > /dev/null &
    pid=$!
    sleep 1
    w0=$(wakeups $pid)
    sleep "$SILENT_SECONDS"
    w1=$(wakeups $pid)
    kill -TERM $pid
    wait $pid 2> /dev/null || true
    printf '  %-24s %d wake-ups in %d s\n' "$name" $((w1 - w0)) "$SILENT_SECONDS"
}

workdir=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2> /dev/null || true; done
    rm -rf "$workdir"
}
trap cleanup EXIT

echo "CPU of the reader, 9600 baud, frames back to back (tolvak indicator --baud 9600):"
"$T" indicator --baud 9600 > "$workdir/indicator" &
pids+=($!)
sleep 0.5
line=$(head -n1 "$workdir/indicator")
measure_cpu "tolvak read" "$T" read --device "$line" --baud 9600
measure_cpu "pyserial careful" "$PY" bench/bench_latency.py --port "$line" --frames 100000000

echo "Wake-ups with the port open and the line silent:"
"$PY" -c 'import os, sys, time
master, slave = os.openpty()
print(os.ttyname(slave), flush=True)
time.sleep(3600)' > "$workdir/silent" &
pids+=($!)
sleep 0.5
silent=$(head -n1 "$workdir/silent")
measure_wakeups "tolvak read" "$T" read --device "$silent"
measure_wakeups "pyserial careful" "$PY" bench/bench_latency.py --port "$silent" --frames 1

echo
"$BUILD/bench/bench_latency" --frames "${FRAMES:-10000}" --rate "${RATE:-100}" --python "$PY"
