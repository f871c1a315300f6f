"""Every format end to end: `tolvak indicator --format X` on a pseudo-terminal, read back by
`tolvak read --format X --json`. All cases run at once; each reads the truck profile from its
start: the empty bridge (stable) for two seconds, then the truck driving on (in motion)."""
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
    ("control", [], [], {"raw": str}, None),
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
    indicator = subprocess.Popen([TOOL, "indicator", "--baud", "9600", "--rate", "20",
                                  *indicator_args], stdout=subprocess.PIPE, text=True)
    path = indicator.stdout.readline().strip()
    read = subprocess.Popen([TOOL, "read", "--device", path, "--baud", "9600", "--json",
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


def main():
    runs = [start(case) for case in CASES]
    time.sleep(SECONDS)
    failures = replay_drops_a_bad_frame()
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
    print("%d of %d formats read end to end" % (len(CASES) - len(failures), len(CASES)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
