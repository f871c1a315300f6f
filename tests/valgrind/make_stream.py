#!/usr/bin/env python3
"""Writes an indicator stream of SIZE bytes to stdout: '=' then 8 characters, last first, of
weights in every form a display can take (plain, with a point, negative, exponent, not a number).
Prints the number of frames on stderr. The same SIZE gives the same bytes."""
import random
import sys


def frame(rng):
    kind = rng.randrange(6)
    if kind == 0:
        text = f"{rng.randrange(10**8):08d}"
    elif kind == 1:
        digits = f"{rng.randrange(10**7):07d}"
        at = rng.randrange(1, 7)
        text = digits[:at] + "." + digits[at:]
    elif kind == 2:
        text = f"-{rng.randrange(10**5):05d}.{rng.randrange(10):d}"
    elif kind == 3:
        text = f"{rng.randrange(1, 10)}.{rng.randrange(100):02d}E{rng.choice('+-')}{rng.randrange(100):02d}"
    elif kind == 4:
        text = f"{rng.randrange(10**7):07d}O"  # a letter where a digit belongs: shows 0
    else:
        text = "00000000"
    assert len(text) == 8, text
    return "=" + text[::-1]


def main():
    size = int(sys.argv[1])
    rng = random.Random(8)
    out, frames, written = [], 0, 0
    while written + 9 <= size:
        out.append(frame(rng))
        frames += 1
        written += 9
    sys.stdout.write("".join(out))
    print(frames, file=sys.stderr)


main()
