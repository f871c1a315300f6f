#!/usr/bin/python3
"""Frame-to-display latency and wake-ups of Windows serial readers under 64-bit Wine.

A pseudo-terminal stands in for COM5. For each reader, frames ("=" and eight digits, last digit
first, the reading being the frame's number) are written at a steady rate, and the moment each
write returned (CLOCK_REALTIME) is set against the moment the reader saw the reading
(GetSystemTimePreciseAsFileTime, which Wine takes from the same clock). Then, with the port open
and the line silent, the reader process's wake-ups are counted from /proc/PID/task/*/schedstat.

  bench_wine_latency.py --exe bench_ocx_latency.exe [--ocx NAME=PATH]... [--bare]
                        [--frames N] [--rate PER_S] [--rounds N] [--silent SECONDS]
The readers take turns, --rounds times, so that a busy moment of the machine falls on all alike.
Needs WINEPREFIX (a 64-bit prefix) and the Wine environment of scripts/wine-env.sh win64.
"""
import argparse
import glob
import os
import pty
import statistics
import subprocess
import sys
import time
import tty

FILETIME_UNIX_EPOCH = 116444736000000000


def frame(n):
    return b"=" + ("%08d" % n)[::-1].encode()


def start(wine, exe, args):
    p = subprocess.Popen([wine, exe] + args, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL,
                         text=True)
    line = p.stdout.readline().strip()
    if line != "ready":
        p.kill()
        sys.exit("reader did not start: %r" % line)
    return p


def latency(wine, exe, reader, master, frames, rate):
    p = start(wine, exe, reader + ["--frames", str(frames)])
    time.sleep(0.5)
    sent = {}
    t0 = time.monotonic()
    for n in range(1, frames + 1):
        delay = t0 + n / rate - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        os.write(master, frame(n))
        sent[n] = time.time_ns()
    out, _ = p.communicate(timeout=120)
    shown = {}
    for line in out.splitlines():
        reading, filetime = line.split()
        shown.setdefault(int(reading), (int(filetime) - FILETIME_UNIX_EPOCH) * 100)
    return sorted((shown[n] - sent[n]) / 1e6 for n in shown if n in sent)


def runs(pid):
    total = 0
    for stat in glob.glob("/proc/%d/task/*/schedstat" % pid):
        try:
            total += int(open(stat).read().split()[2])
        except (OSError, IndexError):
            pass
    return total


def wakeups(wine, exe, reader, seconds):
    p = start(wine, exe, reader + ["--silent", str(seconds + 3)])
    time.sleep(1.5)
    before = runs(p.pid)
    time.sleep(seconds)
    after = runs(p.pid)
    p.communicate(timeout=60)
    return after - before


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--ocx", action="append", default=[], help="NAME=PATH of a Tolvak.ocx")
    parser.add_argument("--bare", action="store_true", help="also the bare blocking reader")
    parser.add_argument("--bare-overlapped", action="store_true",
                        help="also the bare reader with overlapped reads")
    parser.add_argument("--frames", type=int, default=1000)
    parser.add_argument("--rate", type=float, default=100)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--silent", type=int, default=30)
    args = parser.parse_args()
    wine = os.environ.get("TOLVAK_WINE", "/usr/lib/wine/wine64")
    exe = subprocess.run([wine, "winepath", "-w", args.exe], capture_output=True, text=True,
                         check=True).stdout.strip()
    readers = [("bare ReadFile reader", ["--bare"])] if args.bare else []
    if args.bare_overlapped:
        readers.append(("bare overlapped reader", ["--bare-overlapped"]))
    for item in args.ocx:
        name, path = item.split("=", 1)
        win = subprocess.run([wine, "winepath", "-w", path], capture_output=True, text=True,
                             check=True).stdout.strip()
        readers.append(("Tolvak.ocx " + name, ["--ocx", win]))

    master, slave = pty.openpty()
    tty.setraw(slave)
    link = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "com5")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(os.ttyname(slave), link)
    try:
        print("Frame to display, %d frames at %g/s in %d rounds (ms after the write of the last "
              "byte):" % (args.frames, args.rate, args.rounds))
        results = {name: [] for name, _ in readers}
        for _ in range(args.rounds):
            for name, reader in readers:
                results[name] += latency(wine, exe, reader, master, args.frames // args.rounds,
                                         args.rate)
        for name, _ in readers:
            lat = sorted(results[name])
            if not lat:
                print("  %-28s no readings seen" % name)
                continue
            p99 = lat[min(len(lat) - 1, int(len(lat) * 0.99))]
            print("  %-28s median %6.3f  p99 %6.3f  max %7.3f  (%d readings)"
                  % (name, statistics.median(lat), p99, lat[-1], len(lat)), flush=True)
        print("Wake-ups with the port open and the line silent, %d s:" % args.silent)
        for name, reader in readers:
            n = wakeups(wine, exe, reader, args.silent)
            print("  %-28s %6d  (%.1f/s)" % (name, n, n / args.silent), flush=True)
    finally:
        subprocess.run(["timeout", "60", "wineserver", "-w"], check=False)
        os.close(master)
        os.close(slave)
        os.remove(link)


if __name__ == "__main__":
    main()
