#!/usr/bin/env python3
"""tolvak serve beside the serial-to-WebSocket bridges users write: the latency from the write
of a line into the indicator's pseudo-terminal to a WebSocket client's message.

    bench/bench_bridges.py TOLVAK [--frames N] [--runs R] [--rate R] [--node-modules DIR]

Three paths, each with a pseudo-terminal of its own and one WebSocket client: `tolvak serve
--format status`, bench/bridges/serial_ws.js (node, serialport + ws from npm, installed into
DIR, default build/bridges-node, never into the repository) and bench/bridges/serial_ws.py
(Debian's python3-serial and python3-websockets). Every frame is a status line
("ST,GS,+0012.50kg" and CR LF) written into each path's terminal in turn, the first path
rotating from frame to frame, then a pause that makes R frames a second on each path. The time
runs from the return of the write to the message's arrival here, the same for all three. Each
run starts all three afresh; the first 10 frames of a run are left out as warm-up. Printed: the
median and p99 of each path per run and over all runs, their CPU, and the machine's load.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "serve"))
sys.path.insert(0, here)
from bench_serve import cpu_ticks, percentile, raw_pty, reading_waiter  # noqa: E402
from serve_client import Server, WsClient  # noqa: E402

BAUD = 9600


def node_modules(folder):
    """serialport and ws installed into folder (once); returns its node_modules."""
    modules = os.path.join(folder, "node_modules")
    if not os.path.isdir(os.path.join(modules, "serialport")):
        os.makedirs(folder, exist_ok=True)
        subprocess.run(["npm", "install", "--prefix", folder, "--no-audit", "--no-fund",
                        "serialport", "ws"], check=True, stdout=subprocess.DEVNULL)
    return modules


class Bridge:
    """A bridge process on the pseudo-terminal at path, listening on a port of its own."""

    def __init__(self, command, env=None):
        self.proc = subprocess.Popen(command, stdout=subprocess.PIPE, text=True,
                                     env={**os.environ, **(env or {})})
        line = self.proc.stdout.readline()
        if not line.startswith("listening "):
            self.proc.kill()
            raise RuntimeError("%s did not start: %r" % (command[1], line))
        self.port = int(line.split()[1])

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


def status_line(weight):
    return b"ST,GS,+%07.2fkg\r\n" % weight


def run(tool, modules, frames, rate):
    paths = []
    for name in ("serve", "node", "python"):
        master, device = raw_pty()
        if name == "serve":
            proc = Server(tool, ["--device", device, "--baud", str(BAUD), "--format", "status",
                                 "--quiet"])
            client = WsClient(proc.port)
            wait = reading_waiter(client, client.feed)
        else:
            command = (["node", os.path.join(here, "bridges", "serial_ws.js")] if name == "node"
                       else ["/usr/bin/python3", os.path.join(here, "bridges", "serial_ws.py")])
            proc = Bridge([*command, device, str(BAUD)], {"NODE_PATH": modules})
            client = WsClient(proc.port, path="/")
            client.parse = lambda payload: {"type": "reading", "line": payload.decode()}
            wait = reading_waiter(client, client.feed)
        paths.append({"name": name, "master": master, "proc": proc, "client": client,
                      "wait": wait, "ms": []})
    time.sleep(1.5)
    ticks = [cpu_ticks(p["proc"].proc.pid) for p in paths]
    start = time.monotonic()
    period = 1.0 / rate
    for i in range(frames):
        data = status_line(100 + (i % 9000) / 100)
        for k in range(len(paths)):
            p = paths[(i + k) % len(paths)]
            os.write(p["master"], data)
            t0 = time.perf_counter()
            t1 = p["wait"]()
            if i >= 10:
                p["ms"].append((t1 - t0) * 1000)
        time.sleep(period)
    seconds = time.monotonic() - start
    hz = os.sysconf("SC_CLK_TCK")
    for p, t in zip(paths, ticks):
        p["cpu"] = 100.0 * (cpu_ticks(p["proc"].proc.pid) - t) / hz / seconds
        p["client"].close()
        p["proc"].stop()
        os.close(p["master"])
    return paths


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("tool")
    ap.add_argument("--frames", type=int, default=2000, help="frames per run")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--rate", type=float, default=100, help="frames a second on each path")
    ap.add_argument("--node-modules", default=os.path.join(here, "..", "build", "bridges-node"),
                    help="where serialport and ws are installed from npm")
    args = ap.parse_args()
    modules = node_modules(os.path.abspath(args.node_modules))

    pooled = {}
    for r in range(args.runs):
        load = os.getloadavg()[0]
        paths = run(args.tool, modules, args.frames, args.rate)
        print("Run %d: %d frames at %g/s on each path, load average %.2f to %.2f" %
              (r + 1, args.frames, args.rate, load, os.getloadavg()[0]))
        for p in paths:
            pooled.setdefault(p["name"], []).extend(p["ms"])
            print("  %-7s median %.3f ms  p99 %.3f ms  max %.2f ms  CPU %.2f %%" %
                  (p["name"], statistics.median(p["ms"]), percentile(p["ms"], 99), max(p["ms"]),
                   p["cpu"]))
        sys.stdout.flush()
    print("All %d runs:" % args.runs)
    for name, ms in pooled.items():
        print("  %-7s median %.3f ms  p99 %.3f ms  (%d frames)" %
              (name, statistics.median(ms), percentile(ms, 99), len(ms)))


if __name__ == "__main__":
    main()
