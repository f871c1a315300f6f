#!/usr/bin/env bash
# The serial component end to end under Wine: COM5 is a pseudo-terminal whose master side this
# script holds, writing what the test program asks for.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../wine/com_lib.sh"
exe=$(com_exe platform_serial)

timeout 300 python3 - "$WINEPREFIX" "$exe" <<'PY'
import os, pty, subprocess, sys, tty

prefix, exe = sys.argv[1], sys.argv[2]
master, slave = pty.openpty()
tty.setraw(slave)
link = os.path.join(prefix, "dosdevices", "com5")
if os.path.lexists(link):
    os.remove(link)
os.symlink(os.ttyname(slave), link)
os.close(slave)

program = subprocess.Popen(["timeout", "240", os.environ["TOLVAK_WINE"], exe], stdout=subprocess.PIPE,
                           stdin=subprocess.DEVNULL, text=True)
for line in program.stdout:
    print(line, end="", flush=True)
    word, _, arg = line.strip().partition(" ")
    if word == "SEND":
        os.write(master, bytes.fromhex(arg))
    elif word == "BURST":
        data = bytes(i % 256 for i in range(int(arg)))
        view = memoryview(data)
        while view:
            view = view[os.write(master, view):]
    elif word == "HANGUP":  # the device is unplugged
        os.close(master)
        master = None
status = program.wait()
# Closing the master while Wine still holds the line brings the wine server down.
subprocess.run(["timeout", "60", "wineserver", "-w"])
if master is not None:
    os.close(master)
os.remove(link)
print("platform_serial exit status", status)
sys.exit(status)
PY
