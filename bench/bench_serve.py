#!/usr/bin/env python3
"""tolvak serve: latency of a reading from the pseudo-terminal to a WebSocket client, beside
`tolvak read` on the same stream; then CPU and memory of serve with many clients.

    bench/bench_serve.py TOLVAK [--frames N] [--rate R] [--clients C] [--seconds S]
                                [--load-rate R] [--scales N] [--no-latency] [--mqtt]
                                [--sample-every S]

Several scales: --scales 4 --clients 100 --load-rate 20 (four indicators, each a --scale).
For a high reading rate: --clients 100 --load-rate 1000 (the indicator runs at 115200 baud, so
that its line rate does not cap the frames).
With the broker: --mqtt starts Debian's mosquitto on a free loopback port (a configuration of
this script's own) and gives serve --mqtt to it, every reading published; a mosquitto_sub reads
them all meanwhile, so that the broker's side is a real subscriber's.

With $TOLVAK_SERVER (and $TOLVAK_SERVER_PORTS) set, as for tests/serve, both `serve` and `read`
are that command's (tolvak.exe under Wine), reaching the pseudo-terminals as COM19 and COM20;
CPU and memory are then those of the server's process and its children (Wine's process).

Latency: each frame is written into two pseudo-terminals, one read by `tolvak serve` (a
WebSocket client waits for the message) and one by `tolvak read` (its stdout line is awaited),
in alternating order; the time runs from the return of the write of the frame's last byte to
the message or line arriving in this process. Both paths carry this script's own overhead alike.
"""

import argparse
import contextlib
import os
import select
import statistics
import subprocess
import sys
import tempfile
import time
import tty

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "serve"))
import json  # noqa: E402

from serve_client import (Indicator, Server, SseClient, WsClient, device_for,  # noqa: E402
                          http_get, server_command)


def serial_device(path, name):
    """The --device by which the server reaches the pseudo-terminal at path."""
    device, link = device_for(path)
    if link != path:
        device, link = name.upper(), os.path.join(os.path.dirname(link), name)
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(path, link)
    return device


def process_tree(pid):
    """pid and its descendants (the wrapper's Wine process)."""
    pids = [pid]
    for p in pids:
        try:
            pids += [int(c) for c in open("/proc/%d/task/%d/children" % (p, p)).read().split()]
        except OSError:
            pass
    return pids


def frame(weight):
    # The indicator's default frame: "=" then the 7 display characters least significant first
    # and a sign slot.
    return ("=" + str(weight).rjust(7, "0")[::-1] + "0").encode()


def raw_pty():
    master, slave = os.openpty()
    tty.setraw(slave)
    path = os.ttyname(slave)
    os.close(slave)
    return master, path


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]


def reading_waiter(client, parse):
    """A function that waits for the client's next reading message (parse turns received bytes
    into messages) and returns when it came."""
    client.sock.setblocking(False)

    def wait():
        while True:
            try:
                data = client.sock.recv(65536)
            except BlockingIOError:
                select.select([client.sock], [], [], 5)
                continue
            if any(m.get("type") == "reading" for m in parse(data)):
                return time.perf_counter()
    return wait


def line_waiter(stream):
    """A function that waits for the stream's next line and returns when it came."""
    pending = [b""]

    def wait():
        while b"\n" not in pending[0]:
            select.select([stream], [], [], 5)
            pending[0] += os.read(stream.fileno(), 65536)
        pending[0] = pending[0].split(b"\n", 1)[1]
        return time.perf_counter()
    return wait


def latency(tool, frames, rate):
    serve_master, serve_path = raw_pty()
    read_master, read_path = raw_pty()
    server = Server(tool, ["--device", serial_device(serve_path, "com19"), "--baud", "9600",
                           "--format", "control"])
    reader = subprocess.Popen([*server_command(tool), "read", "--device",
                               serial_device(read_path, "com20"), "--baud", "9600",
                               "--format", "control"],
                              stdout=subprocess.PIPE, bufsize=0)
    ws = WsClient(server.port)
    time.sleep(1.5)
    wait_ws = reading_waiter(ws, ws.feed)
    wait_read = line_waiter(reader.stdout)

    # Drain what the openings produced.
    ws.feed(b"")
    serve_ms, read_ms = [], []
    period = 1.0 / rate
    for i in range(frames):
        data = frame(1000 + i % 9000)
        order = [(serve_master, wait_ws, serve_ms), (read_master, wait_read, read_ms)]
        if i % 2:
            order.reverse()
        for master, wait, out in order:
            os.write(master, data + b"=")  # the trailing separator ends the frame
            t0 = time.perf_counter()
            t1 = wait()
            if i >= 10:  # warm-up
                out.append((t1 - t0) * 1000)
        time.sleep(period)
    reader.terminate()
    reader.wait()
    server.stop()
    ws.close()
    os.close(serve_master)
    os.close(read_master)
    return serve_ms, read_ms


def cpu_ticks(pid):
    total = 0
    for p in process_tree(pid):
        fields = open("/proc/%d/stat" % p).read().rsplit(")", 1)[1].split()
        total += int(fields[11]) + int(fields[12])
    return total


def wineserver_ticks():
    """CPU ticks of the running wineservers: under Wine the server's I/O passes through them too
    (0 without Wine)."""
    total = 0
    for entry in os.listdir("/proc"):
        try:
            if entry.isdigit() and open("/proc/%s/comm" % entry).read().startswith("wineserver"):
                total += cpu_ticks(int(entry))
        except OSError:
            pass
    return total


def rss_kib(pid):
    total = 0
    for p in process_tree(pid):
        for line in open("/proc/%d/status" % p):
            if line.startswith("VmRSS:"):
                total += int(line.split()[1])
    return total


def load(tool, clients, seconds, rate, scales=0, mqtt=None, sample_every=10):
    """scales: that many indicators, each a scale of its own (--scale), every client following
    all of them as the page does; 0 for the one indicator given the old way. mqtt: serve's
    --mqtt... arguments, or None."""
    indicators = [Indicator(tool, ["--rate", str(rate), "--baud", "115200"])
                  for _ in range(max(scales, 1))]
    if scales:
        args, path = [], "?scale=*"
        for i, ind in enumerate(indicators):
            args += ["--scale", "s%d=%s,baud=115200" % (i, serial_device(ind.path, "com%d" % (19 + i)))]
    else:
        args = ["--device", serial_device(indicators[0].path, "com19"), "--baud", "115200"]
        path = ""
    server = Server(tool, [*args, "--max-clients", str(clients + 10), *(mqtt or [])])
    conns = [SseClient(server.port, path="/api/events" + path) if i % 2
             else WsClient(server.port, path="/ws" + path) for i in range(clients)]
    for c in conns:
        c.sock.setblocking(False)
    received = [0]

    def pump(until):
        while time.monotonic() < until:
            ready, _, _ = select.select(conns, [], [], 0.5)
            for c in ready:
                try:
                    data = c.sock.recv(65536)
                except BlockingIOError:
                    continue
                received[0] += len(data)

    pump(time.monotonic() + 3)
    hz = os.sysconf("SC_CLK_TCK")
    def seqs():
        if not scales:
            return json.loads(http_get(server.port, "/api/weight")[2])["seq"]
        return sum(s["seq"] or 0 for s in json.loads(http_get(server.port, "/api/scales")[2])["scales"])
    seq0 = seqs()
    c0, w0, t0 = cpu_ticks(server.proc.pid), wineserver_ticks(), time.monotonic()
    samples = [rss_kib(server.proc.pid)]
    end = t0 + seconds
    while time.monotonic() < end:
        pump(min(end, time.monotonic() + sample_every))
        samples.append(rss_kib(server.proc.pid))
    c1, w1, t1 = cpu_ticks(server.proc.pid), wineserver_ticks(), time.monotonic()
    seq1 = seqs()
    status, _ = server.stop()
    for indicator in indicators:
        indicator.stop()
    for c in conns:
        c.close()
    return (100.0 * (c1 - c0) / hz / (t1 - t0), samples, received[0], status,
            (seq1 - seq0) / (t1 - t0), 100.0 * (w1 - w0) / hz / (t1 - t0))


@contextlib.contextmanager
def broker():
    """Debian's mosquitto on a free loopback port, with a subscriber to every reading: yields
    serve's --mqtt arguments and a list that holds, once the context is left, the number of
    readings the subscriber got."""
    from test_mqtt import Broker, free_port
    with tempfile.TemporaryDirectory() as dir:
        port = free_port()
        mosquitto = Broker(dir, port)
        out = open(os.path.join(dir, "sub.txt"), "w+b")
        sub = subprocess.Popen(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port), "-t",
                                "tolvak/bench/+/reading"], stdout=out, stderr=subprocess.DEVNULL)
        count = []
        try:
            yield (["--mqtt", "mqtt://127.0.0.1:%d" % port, "--mqtt-site", "bench",
                    "--mqtt-store", os.path.join(dir, "store")], count)
        finally:
            sub.terminate()
            sub.wait()
            mosquitto.stop()
            out.seek(0)
            count.append(sum(1 for _ in out))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("tool")
    ap.add_argument("--frames", type=int, default=2000)
    ap.add_argument("--rate", type=float, default=100)
    ap.add_argument("--clients", type=int, default=200)
    ap.add_argument("--seconds", type=float, default=60)
    ap.add_argument("--load-rate", type=float, default=20)
    ap.add_argument("--no-latency", action="store_true", help="only the load")
    ap.add_argument("--mqtt", action="store_true",
                    help="the load with serve publishing every reading to a mosquitto of its own")
    ap.add_argument("--sample-every", type=float, default=10, help="seconds between RSS samples")
    ap.add_argument("--scales", type=int, default=0,
                    help="the load from this many indicators at --load-rate each, as scales of "
                         "one server, every client following all of them")
    args = ap.parse_args()

    if not args.no_latency:
        serve_ms, read_ms = latency(args.tool, args.frames, args.rate)
        print("Latency, %d frames at %g frames/s (first 10 left out):" %
              (len(serve_ms) + 10, args.rate))
        for name, values in (("tolvak serve -> WebSocket", serve_ms),
                             ("tolvak read -> stdout", read_ms)):
            print("  %-26s median %.3f ms  p99 %.3f ms" %
                  (name, statistics.median(values), percentile(values, 99)))
        print("  serve adds at the median: %.3f ms" %
              (statistics.median(serve_ms) - statistics.median(read_ms)))

    with contextlib.ExitStack() as stack:
        mqtt, published = None, [0]
        if args.mqtt:
            mqtt, published = stack.enter_context(broker())
        cpu, rss, received, status, rate, wine_cpu = load(
            args.tool, args.clients, args.seconds, args.load_rate, args.scales, mqtt,
            args.sample_every)
    print("Load: %d clients (half SSE, half WebSocket), %s%g frames/s asked, %.0f readings/s "
          "served, %g s%s:" % (args.clients, "%d scales x " % args.scales if args.scales else "",
                               args.load_rate, rate, args.seconds,
                               ", every reading to the broker" if args.mqtt else ""))
    print("  CPU of serve %.2f %% of one core; RSS %s KiB (every %g s); %d bytes to clients" %
          (cpu, " ".join(str(s) for s in rss), args.sample_every, received))
    if args.mqtt:
        print("  the broker's subscriber got %d readings over the whole run" % published[-1])
    if os.environ.get("TOLVAK_SERVER"):
        print("  CPU of the wineserver meanwhile %.2f %% of one core" % wine_cpu)


if __name__ == "__main__":
    main()
