#!/usr/bin/env python3
"""tolvak serve --mqtt: the latency publishing adds, and memory over a run.

    bench/bench_mqtt.py TOLVAK [--frames N] [--seconds S]

Latency: each frame is written into the pseudo-terminal serve reads; the time runs from the
return of the write to the reading's arrival here, by Server-Sent Events from serve and by
mosquitto_sub from Debian's mosquitto on loopback (both read by this script alike). Memory: the
truck profile at 50 frames a second for S seconds, every reading and weighing published; the
server's RSS after the first 3 s and at the end."""

import argparse
import os
import select
import statistics
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "serve"))
sys.path.insert(0, here)
from bench_serve import (frame, line_waiter, percentile, raw_pty, reading_waiter,  # noqa: E402
                         rss_kib, serial_device)
from serve_client import Indicator, Server, SseClient  # noqa: E402
from test_mqtt import Broker, free_port  # noqa: E402


def mqtt_args(port, store):
    return ["--mqtt", "mqtt://127.0.0.1:%d" % port, "--mqtt-site", "bench", "--mqtt-store", store]


def latency(tool, port, store, frames):
    master, path = raw_pty()
    server = Server(tool, ["--device", serial_device(path, "com19"), "--baud", "9600",
                           *mqtt_args(port, store)])
    sub = subprocess.Popen(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port), "-t",
                            "tolvak/bench/scale/reading"], stdout=subprocess.PIPE, bufsize=0)
    sse = SseClient(server.port)
    time.sleep(1.5)
    wait_sse = reading_waiter(sse, lambda data: [obj for _, obj in sse.feed(data)])
    wait_mqtt = line_waiter(sub.stdout)

    sse_ms, mqtt_ms = [], []
    for i in range(frames):
        os.write(master, frame(1000 + i % 9000) + b"=")
        t0 = time.perf_counter()
        # Both wait on the same frame: whichever comes first is taken first.
        got = {}
        while len(got) < 2:
            ready, _, _ = select.select([sse.sock, sub.stdout], [], [], 5)
            if sse.sock in ready and "sse" not in got:
                got["sse"] = wait_sse()
            if sub.stdout in ready and "mqtt" not in got:
                got["mqtt"] = wait_mqtt()
        if i >= 10:
            sse_ms.append((got["sse"] - t0) * 1000)
            mqtt_ms.append((got["mqtt"] - t0) * 1000)
        time.sleep(0.05)
    sub.terminate()
    server.stop()
    os.close(master)
    return sse_ms, mqtt_ms


def memory(tool, port, store, seconds):
    indicator = Indicator(tool, ["--rate", "50", "--baud", "9600"])
    server = Server(tool, ["--device", serial_device(indicator.path, "com19"), "--baud", "9600",
                           *mqtt_args(port, store)])
    time.sleep(3)
    start = rss_kib(server.proc.pid)
    time.sleep(seconds)
    end = rss_kib(server.proc.pid)
    server.stop()
    indicator.stop()
    return start, end


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tool")
    parser.add_argument("--frames", type=int, default=300)
    parser.add_argument("--seconds", type=int, default=120)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as dir:
        port = free_port()
        broker = Broker(dir, port)
        try:
            sse_ms, mqtt_ms = latency(args.tool, port, os.path.join(dir, "store"), args.frames)
            for name, ms in (("SSE", sse_ms), ("MQTT", mqtt_ms)):
                print("%-5s latency: median %.2f ms, p95 %.2f ms (%d frames)"
                      % (name, statistics.median(ms), percentile(ms, 95), len(ms)))
            print("added by MQTT at the median: %.2f ms"
                  % (statistics.median(mqtt_ms) - statistics.median(sse_ms)))
            start, end = memory(args.tool, port, os.path.join(dir, "store"), args.seconds)
            print("RSS: %d KiB after 3 s, %d KiB after %d s more" % (start, end, args.seconds))
        finally:
            broker.stop()


if __name__ == "__main__":
    main()
