"""A new user's first-day mistakes, against the real tool on pseudo-terminals: each must give
the message that says what is wrong, and the exit status."""
import json
import os
import random
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

TOOL = sys.argv[1]
NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] if os.getuid() == 0 else []


def line(chunk):
    """A pseudo-terminal that keeps receiving chunk() until the test ends; its path."""
    master, slave = os.openpty()
    def send():
        while True:
            try:
                os.write(master, chunk())
            except OSError:
                return
            time.sleep(0.02)
    threading.Thread(target=send, daemon=True).start()
    return os.ttyname(slave)


def noise():
    return bytes(random.randrange(256) for _ in range(60))


def kg_lines():
    return b"    12.50 kg\r\n"


def forbidden():
    path = line(kg_lines)
    os.chmod(path, 0)
    return path


HOLDERS = []


def held():
    path = line(kg_lines)
    holder = subprocess.Popen([TOOL, "read", "--device", path, "--format", "line"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    holder.stdout.readline()  # a reading: it holds the port
    HOLDERS.append(holder)
    return path


def taken_port():
    """A port another program listens on: serve's own port taken."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    s.listen()
    HOLDERS.append(s)
    return s.getsockname()[1]


def from_unknown_page(run):
    """A page of another origin asks serve for the weight."""
    url = run.stdout.readline().split()[-1]
    request = urllib.request.Request(url + "api/weight", headers={"Origin": "http://shop.example"})
    try:
        urllib.request.urlopen(request)
    except urllib.error.HTTPError:
        pass


SERVE = ["serve", "--listen", "127.0.0.1:0", "--format", "line"]

# (what, the device, the options (read's unless a command is named), exit status, what stderr
# must say[, what the test does once it runs])
CASES = [
    ("no device", None, [], 64, "--device is needed: tolvak ports lists the serial ports"),
    ("a bad option", lambda: "/dev/null", ["--parity", "x"], 64, "--parity: 'x' is not n, e"),
    ("wrong device", lambda: "/dev/tolvak-none", ["--once"], 2,
     "cannot open /dev/tolvak-none: No such file or directory (error 8002)"),
    ("not a serial port", lambda: tempfile.mkstemp()[1], ["--once"], 2, "is not a serial port"),
    ("no permission", forbidden, ["--once"], 2, "not allowed to use"),
    ("busy", held, ["--format", "line", "--once"], 2, "in use by another program"),
    # These go on after saying it: stopped then (SIGTERM), they exit 0.
    ("missing, following", lambda: "/dev/tolvak-none", ["--follow"], 0,
     "waiting for the device: /dev/tolvak-none: No such file"),
    ("wrong baud, auto", lambda: line(noise), [], 0, "no weight reads from them: the baud rate"),
    ("wrong baud, format given", lambda: line(noise), ["--format", "control"], 0,
     "(tolvak detect --device /dev/pts/"),
    ("12.50 kg lines, defaults", lambda: line(kg_lines), ["--once"], 0, ", format line ("),
    ("serve's port taken", lambda: line(kg_lines),
     ["serve", "--listen", "127.0.0.1:%d" % taken_port()], 1, "cannot listen on 127.0.0.1:"),
    ("a page of an unknown origin", lambda: line(kg_lines), SERVE, 0,
     "refused a page from http://shop.example (not an allowed origin; --allow-origin "
     "http://shop.example allows it)", from_unknown_page),
]


def run_case(case):
    what, device, options, status, message, *then = case
    command = [] if options[:1] == ["serve"] else ["read"]
    args = [TOOL, *command, *options] + (["--device", device()] if device else [])
    run = subprocess.Popen(NOBODY + args if what == "no permission" else args, text=True,
                           stdout=subprocess.PIPE if then else subprocess.DEVNULL,
                           stderr=subprocess.PIPE)
    for act in then:
        act(run)
    said = ""
    # A message that never comes fails the case, not the suite's time.
    watchdog = threading.Timer(120, run.kill)
    watchdog.start()
    for said_line in run.stderr:
        said += said_line
        if message in said_line and status == 0 and "--once" not in options:
            run.terminate()
    watchdog.cancel()
    wrong = run.wait() != status or message not in said or "错误" in said
    return f"{what}: status {run.returncode}, said:\n{said}" if wrong else None


def serve_diagnosis():
    """serve says the same in /healthz."""
    server = subprocess.Popen([TOOL, "serve", "--device", line(noise), "--format", "control",
                               "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE, text=True,
                              stderr=subprocess.DEVNULL)
    url = server.stdout.readline().split()[-1]
    try:
        for _ in range(600):
            try:
                port = json.load(urllib.request.urlopen(url + "healthz"))["port"]
            except urllib.error.HTTPError as e:
                port = json.load(e)["port"]
            if port.get("diagnosis"):
                return None
            time.sleep(0.1)
        return f"serve: no diagnosis in /healthz: {port}"
    finally:
        server.terminate()
        server.wait()


results = [run_case(c) for c in CASES] + [serve_diagnosis()]
for holder in HOLDERS:
    holder.close() if isinstance(holder, socket.socket) else holder.terminate()
for fault in filter(None, results):
    print("FAIL", fault)
print(f"{len(results)} cases, {sum(map(bool, results))} failed")
sys.exit(1 if any(results) else 0)
