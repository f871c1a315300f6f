"""Every format end to end: `tolvak indicator --format X` on a pseudo-terminal, read back by
`tolvak read --format X --json`. All cases run at once; each reads the truck profile from its
start: the empty bridge (stable) for two seconds, then the truck driving on (in motion).
And captures of each family's frames through `tolvak detect`, then `replay` with what it says."""
import json
import signal
import subprocess
import sys
import time

TOOL = sys.argv[1]
SECONDS = 3.5
PATTERN = r"(?<status>ST|US),(?<mode>GS|NT),(?<value>[-+][\d.]+)(?<unit>kg)\r"

# (name, indicator args, read args, what every reading has, flags seen over the run)
CASES = [
    ("control", [], ["--format", "control"], {"raw": str}, None),
    ("line", ["--format", "line", "--places", "1", "--tare", "100"], ["--format", "line"],
     {"unit": "kg"}, None),
    ("status", ["--format", "status", "--tare", "100"], ["--format", "status"],
     {"unit": "kg", "mode": "net"}, {True, False}),
    ("toledo", ["--format", "toledo", "--places", "2", "--tare", "100"], ["--format", "toledo"],
     {"unit": "kg", "mode": "net", "tare": 100}, {True, False}),
    ("toledo-checksum", ["--format", "toledo-checksum", "--tare", "100"],
     ["--format", "toledo-checksum"], {"unit": "kg", "mode": "net", "tare": 100}, {True, False}),
    ("stx-etx", ["--format", "stx-etx", "--tare", "100"], ["--format", "stx-etx"], {}, None),
    ("regex", ["--format", "status", "--tare", "100"], ["--format", "regex", "--pattern", PATTERN],
     {"unit": "kg", "mode": "net"}, {True, False}),
    ("request", ["--format", "stx-etx", "--on-request", r"W\r", "--tare", "100"],
     ["--format", "stx-etx", "--poll", r"W\r", "--every", "100ms"], {}, None),
    ("stream", ["--format", "stream", "--places", "1", "--tare", "100"], ["--format", "stream"],
     {"unit": "kg", "mode": "net"}, {True, False}),
    ("line-xor", ["--format", "line-xor", "--tare", "100"], ["--format", "line-xor"],
     {"unit": "kg", "mode": "net"}, None),
    ("sma", ["--format", "sma", "--places", "2", "--tare", "100"], ["--format", "sma"],
     {"unit": "kg", "mode": "net"}, {True, False}),
    ("balance", ["--format", "balance", "--on-request", r"SI\r\n", "--tare", "100"],
     ["--format", "balance", "--poll", r"SI\r\n", "--every", "100ms"], {"unit": "kg"},
     {True, False}),
    ("pos", ["--format", "pos", "--on-request", r"W\r", "--places", "2", "--tare", "100"],
     ["--format", "pos", "--poll", r"W\r", "--every", "100ms"], {"unit": "kg"}, {True, False}),
]


def start(case):
    name, indicator_args, read_args = case[:3]
    indicator = subprocess.Popen([TOOL, "indicator", "--quiet", "--baud", "9600", "--rate", "20",
                                  *indicator_args], stdout=subprocess.PIPE, text=True)
    path = indicator.stdout.readline().strip()
    read = subprocess.Popen([TOOL, "read", "--quiet", "--device", path, "--baud", "9600", "--json",
                             *read_args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True)
    return indicator, read


def replay_drops_a_bad_frame():
    """A capture with noise and a bad checksum: replay prints the readings and an error line."""
    capture = b"\x02+0012502" b"1F\x03zz\x02+0012502" b"1E\x03\x02-0001203" b"1D\x03"
    run = subprocess.run([TOOL, "replay", "-", "--format", "stx-etx", "--json", "--chunk-size",
                          "5"], input=capture, capture_output=True, timeout=10)
    lines = [json.loads(line) for line in run.stdout.decode().splitlines()]
    got = [line.get("weight", line.get("error", {}).get("number")) for line in lines]
    return [] if got == ["12.50", 8030, "-0.120"] else ["replay: %r" % got]


def weights():
    """A weight that climbs in motion to 375, then stands: (weight, moving) pairs."""
    return [(min(i, 30) * 12.5, i < 32) for i in range(45)]


def xor(body):
    x = 0
    for c in body:
        x ^= c
    return body + b"%02X" % x


def parity(data):
    """7E1 characters as an 8-bit capture keeps them: bit 7 the even parity of the others."""
    return bytes(c | (bin(c).count("1") % 2) << 7 for c in data)


# Frames of each family as the makers' descriptions give them: (name, capture, extra replay
# options, what the last reading has, whether readings in motion say so).
CAPTURES = [
    ("words", b"".join(b"%9.3f kg   %sG\r\n" % (w / 100, b"?" if m else b" ")
                       for w, m in weights()), [], {"value": 3.75, "unit": "kg", "mode": "gross"}, 1),
    ("label", b"".join(b"Net:%9.1f lb  %s\r\n" % (w, b"US" if m else b"ST") for w, m in weights()),
     [], {"value": 375, "unit": "lb", "mode": "net"}, 1),
    ("status-id", b"".join(b"%s,GS,1%c+%08.2fkg\r\n" % (b"US" if m else b"ST", 0xB0 + i % 9, w)
                           for i, (w, m) in enumerate(weights())), [],
     {"value": 375, "unit": "kg", "mode": "gross"}, 1),
    ("status-short", b"".join(b"%s,+%08.2f,kg\r\n" % (b"US" if m else b"ST", w)
                              for w, m in weights()), [], {"value": 375, "unit": "kg"}, 1),
    ("balance-7e1", parity(b"".join(b"S %s %10.2f g\r\n" % (b"D" if m else b"S", w)
                                    for w, m in weights())), [], {"value": 375, "unit": "g"}, 1),
    ("stream", b"".join(b"\x02%8.1fKG%s\r\n" % (w, b"M" if m else b" ") for w, m in weights()), [],
     {"value": 375, "unit": "kg", "mode": "gross"}, 1),
    ("stream-cr", b"".join(b"\r%+08.0f.  lb %s  \x03" % (w, b"n") for w, m in weights()), [],
     {"value": 375, "unit": "lb", "mode": "net"}, 0),
    ("sma", b"".join(b"\n 1G%s %10.3flb \r" % (b"M" if m else b" ", w) for w, m in weights()), [],
     {"value": 375, "unit": "lb", "mode": "gross"}, 1),
    ("pos-lf", b"".join(b"\n%07.2flb\r\n%s0\r\x03" % (w, b"1" if m else b"0")
                        for w, m in weights()), [], {"value": 375, "unit": "lb"}, 1),
    ("pos-stx", b"".join(b"\x02?1\r" if m else b"\x02%06.3f\r" % (w / 100) for w, m in weights()),
     [], {"value": 3.75}, 0),
    ("checksum", b"".join(xor(b"WN%07.3fkg" % (w / 100)) + b"\r\n" for w, m in weights()), [],
     {"value": 3.75, "unit": "kg", "mode": "net"}, 0),
    ("implied", b"".join(b"\x02  %04d  99999  79999\x03" % (w * 10) for w, m in weights()),
     ["--decimals", "4"], {"value": 0.375}, 0),
]


def detect_then_replay():
    """Each capture through detect --json, then replay with the options detect gave."""
    failures = []
    for name, capture, extra, last, motion in CAPTURES:
        run = subprocess.run([TOOL, "detect", "--file", "-", "--json"], input=capture,
                             capture_output=True, timeout=30)
        guess = json.loads(run.stdout)
        if run.returncode != 0:
            failures.append("%s: detect %r" % (name, guess))
            continue
        run = subprocess.run([TOOL, "replay", "-", "--json", *guess["options"], *extra],
                             input=capture, capture_output=True, timeout=30)
        readings = [json.loads(line) for line in run.stdout.decode().splitlines()]
        readings = [r for r in readings if "error" not in r]
        wrong = {k: v for k, v in last.items() if not readings or readings[-1].get(k) != v}
        moving = sum(r.get("indicatorStable") is False for r in readings)
        if wrong or run.returncode != 0 or readings[-1].get("indicatorStable") is False or \
                (motion and moving < 20):
            failures.append("%s: %s, last %r, %d in motion" % (
                name, guess["options"], readings[-1] if readings else None, moving))
    return failures


def main():
    runs = [start(case) for case in CASES]
    time.sleep(SECONDS)
    failures = replay_drops_a_bad_frame() + detect_then_replay()
    for case, (indicator, read) in zip(CASES, runs):
        name, _, _, fields, flags = case
        read.send_signal(signal.SIGINT)
        out, err = read.communicate(timeout=10)
        indicator.send_signal(signal.SIGTERM)
        indicator.wait(timeout=10)
        readings = [json.loads(line) for line in out.splitlines()]
        problems = []
        if len(readings) < 10 or any("error" in r for r in readings) or err:
            problems.append("%d readings, stderr %r" % (len(readings), err))
        if name != "control" and readings and readings[0].get("value") != -100:
            problems.append("first value %r, not the net -100" % readings[0].get("value"))
        for key, want in fields.items():
            bad = [r for r in readings if not (isinstance(r.get(key), want) if isinstance(want, type)
                                               else r.get(key) == want)]
            if bad:
                problems.append("%s: %r" % (key, bad[0]))
        seen = {r.get("indicatorStable") for r in readings}
        if flags and seen != flags:
            problems.append("indicatorStable seen: %r" % seen)
        if flags and any(r["stable"] != r["indicatorStable"] for r in readings):
            problems.append("stable does not follow the indicator")
        if problems:
            failures.append("%s: %s" % (name, "; ".join(problems)))
    for f in failures:
        print("FAIL", f)
    print("%d of %d formats and captures read end to end" % (
        len(CASES) + len(CAPTURES) - len(failures), len(CASES) + len(CAPTURES)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
