#!/usr/bin/python3
"""A minimal pyserial reader with the control's framing, for comparison with tolvak.

Prints "ready" once the port is open, then one line "<weight> <CLOCK_MONOTONIC ns>" per decoded
frame. Modes: careful (read what waits, split at '=' like the control) and read_until (the
common ser.read_until(b'=') idiom).
"""
import argparse
import sys
import time

import serial


def careful(ser, frames, out):
    """Appends (weight, CLOCK_MONOTONIC ns) to out for every frame decoded."""
    buffer = b""
    seen = 0
    while seen < frames:
        buffer += ser.read(ser.in_waiting or 1)
        pieces = buffer.split(b"=")
        if len(pieces) < 2:
            continue
        now = time.monotonic_ns()
        last = pieces[-1]
        complete = pieces[1:-1] + ([last] if len(last) >= 8 else [])
        for piece in complete:
            if len(piece) >= 8:
                out.append((float(piece[::-1]), now))
                seen += 1
        buffer = b"" if len(last) >= 8 else b"=" + last


def read_until(ser, frames, out):
    seen = 0
    while seen < frames:
        piece = ser.read_until(b"=")[:-1]
        if len(piece) >= 8:
            out.append((float(piece[::-1]), time.monotonic_ns()))
            seen += 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", required=True)
    parser.add_argument("--baud", type=int, default=9600)
    parser.add_argument("--frames", type=int, default=1000)
    parser.add_argument("--mode", choices=["careful", "read_until"], default="careful")
    args = parser.parse_args()
    ser = serial.Serial(args.port, args.baud, timeout=None, exclusive=True)
    sys.stdout.write("ready\n")
    sys.stdout.flush()
    decoded = []  # printed at the end: writing while reading would add to the latency
    try:
        (careful if args.mode == "careful" else read_until)(ser, args.frames, decoded)
    except KeyboardInterrupt:
        pass
    sys.stdout.write("".join("%s %d\n" % (weight, ns) for weight, ns in decoded))
    sys.stdout.flush()


if __name__ == "__main__":
    main()
