#!/usr/bin/env python3
"""Plays a weighbridge indicator on a pseudo-terminal linked as a Wine COM port.

Usage: pty_indicator.py LINK -- COMMAND...

Opens a pseudo-terminal, links LINK (e.g. $WINEPREFIX/dosdevices/com5) to its slave side and runs
COMMAND. The command steers the indicator through its standard output, one line each:
  SEND <text>   write <text> over and over (every 100 ms) until the next line
  STOP          write nothing
Other lines are echoed. When the command ends, waits for the wineserver before closing the
master side, and exits with the command's status.
"""
import os
import pty
import select
import subprocess
import sys
import time
import tty


def main():
    if len(sys.argv) < 4 or sys.argv[2] != "--":
        print(__doc__, file=sys.stderr)
        return 2
    link, command = sys.argv[1], sys.argv[3:]
    master, slave = pty.openpty()
    tty.setraw(slave)
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(os.ttyname(slave), link)
    child = subprocess.Popen(command, stdout=subprocess.PIPE, bufsize=0)
    sending = None
    pending = b""
    deadline = time.monotonic() + 240
    try:
        while time.monotonic() < deadline:
            ready, _, _ = select.select([child.stdout], [], [], 0.1)
            if ready:
                data = os.read(child.stdout.fileno(), 4096)
                if not data:
                    break
                pending += data
                while b"\n" in pending:
                    line, pending = pending.split(b"\n", 1)
                    text = line.decode("utf-8", "replace").rstrip("\r")
                    print(text, flush=True)
                    if text.startswith("SEND "):
                        sending = text[5:].encode("latin-1")
                    elif text == "STOP":
                        sending = None
            if sending:
                os.write(master, sending)
            # Keep the slave's input from filling up while nobody reads it.
            while select.select([master], [], [], 0)[0]:
                if not os.read(master, 4096):
                    break
        else:
            print("pty_indicator: the command took too long", flush=True)
            child.kill()
        status = child.wait(timeout=60)
    finally:
        subprocess.run(["timeout", "60", "wineserver", "-w"], check=False)
        os.close(master)
        os.close(slave)
        if os.path.islink(link):
            os.unlink(link)
    return status


if __name__ == "__main__":
    sys.exit(main())
