"""Clients of `tolvak serve` for the tests and the benchmark: HTTP, Server-Sent Events and
WebSocket over loopback, from Python's standard library only, and a running server fed by
`tolvak indicator` on a pseudo-terminal behind a symlink."""

import base64
import json
import os
import shlex
import signal
import socket
import subprocess
import tempfile
import threading
import time


class Indicator:
    """`tolvak indicator` on a fresh pseudo-terminal; `link` points at it when given."""

    def __init__(self, tool, args, link=None):
        self.proc = subprocess.Popen([tool, "indicator", *args], stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True)
        self.path = self.proc.stdout.readline().strip()
        self.link = link
        if link:
            tmp = link + ".new"
            if os.path.lexists(tmp):
                os.unlink(tmp)
            os.symlink(self.path, tmp)
            os.replace(tmp, link)  # atomically, as udev does
            # One that ends by itself (--count, --seconds) takes its name along too.
            threading.Thread(target=self._unlink_when_ended, daemon=True).start()

    def _unlink_when_ended(self):
        self.proc.wait()
        self._unlink()

    def _unlink(self):
        try:
            if os.readlink(self.link) == self.path:
                os.unlink(self.link)
        except OSError:
            pass

    def stop(self):
        """Ends it as a USB adapter goes: the name goes too, so that nobody reaches a
        pseudo-terminal that another test gets later under the same number."""
        if self.link:
            self._unlink()
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=10)


def server_command(tool):
    """How to run the tool that serves: $TOLVAK_SERVER (a command, e.g. tolvak.exe under Wine)
    when set, else the tool itself."""
    wrapper = os.environ.get("TOLVAK_SERVER")
    return shlex.split(wrapper) if wrapper else [tool]


def device_for(link, com_name="com19"):
    """The --device that reaches what link points at. With $TOLVAK_SERVER_PORTS (Wine's
    dosdevices) the server finds its serial ports there by name: COM19 is the link com19."""
    ports = os.environ.get("TOLVAK_SERVER_PORTS")
    if not ports:
        return link, link
    # One name for every test: one left behind by an earlier test must not lead to its line.
    com = os.path.join(ports, com_name)
    if os.path.lexists(com):
        os.unlink(com)
    return com_name.upper(), com


class Server:
    """`tolvak serve` on 127.0.0.1 and a port of its own choosing."""

    def __init__(self, tool, args):
        self.proc = subprocess.Popen([*server_command(tool), "serve", "--listen", "127.0.0.1:0",
                                      *args],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if not line.startswith("tolvak serve: http://"):
            self.proc.kill()
            raise RuntimeError("serve did not start: " + line + self.proc.stderr.read())
        self.port = int(line.rsplit(":", 1)[1].strip().strip("/"))
        self.host = "127.0.0.1:%d" % self.port

    def stop(self):
        """Stops it as a user would and returns (exit status, stderr)."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            err = self.proc.communicate(timeout=20)[1]
        except subprocess.TimeoutExpired:
            self.proc.kill()
            err = self.proc.communicate()[1]
        return self.proc.returncode, err


def connect(port, timeout=10, rcvbuf=None):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    if rcvbuf:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    s.settimeout(timeout)
    s.connect(("127.0.0.1", port))
    return s


def request_bytes(path, host, headers=None, method="GET"):
    lines = ["%s %s HTTP/1.1" % (method, path)]
    if host is not None:
        lines.append("Host: " + host)
    for name, value in (headers or {}).items():
        lines.append("%s: %s" % (name, value))
    return ("\r\n".join(lines) + "\r\n\r\n").encode()


def read_head(sock, buffer=b""):
    """Reads a response head; returns (status, headers, bytes after the head)."""
    while b"\r\n\r\n" not in buffer:
        chunk = sock.recv(65536)
        if not chunk:
            raise ConnectionError("closed before the response head")
        buffer += chunk
    head, rest = buffer.split(b"\r\n\r\n", 1)
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split()[1])
    headers = {}
    for line in lines[1:]:
        name, value = line.split(":", 1)
        headers[name.strip().lower()] = value.strip()
    return status, headers, rest


def http_get(port, path, host=None, headers=None, method="GET"):
    """One request on its own connection: (status, headers, body)."""
    with connect(port) as s:
        s.sendall(request_bytes(path, host if host is not None else "127.0.0.1:%d" % port,
                                headers, method))
        status, hdrs, body = read_head(s)
        length = int(hdrs.get("content-length", "0"))
        while len(body) < length:
            chunk = s.recv(65536)
            if not chunk:
                break
            body += chunk
        return status, hdrs, body


class SseClient:
    def __init__(self, port, headers=None, rcvbuf=None, path="/api/events"):
        self.sock = connect(port, rcvbuf=rcvbuf)
        self.sock.sendall(request_bytes(path, "127.0.0.1:%d" % port, headers))
        self.status, self.headers, self.buffer = read_head(self.sock)

    def fileno(self):
        return self.sock.fileno()

    def feed(self, data):
        """Takes received bytes; returns the complete events as (type, json)."""
        self.buffer += data
        events = []
        while b"\n\n" in self.buffer:
            block, self.buffer = self.buffer.split(b"\n\n", 1)
            kind, data_line = None, None
            for line in block.decode().split("\n"):
                if line.startswith("event: "):
                    kind = line[7:]
                elif line.startswith("data: "):
                    data_line = line[6:]
            if kind and data_line is not None:
                events.append((kind, json.loads(data_line)))
        return events

    def close(self):
        self.sock.close()


class WsClient:
    """A WebSocket client that reads text messages (the server sends nothing else to us)."""

    def __init__(self, port, origin=None, host=None, rcvbuf=None, after_head=b"", path="/ws"):
        self.sock = connect(port, rcvbuf=rcvbuf)
        key = base64.b64encode(os.urandom(16)).decode()
        headers = {"Upgrade": "websocket", "Connection": "Upgrade",
                   "Sec-WebSocket-Key": key, "Sec-WebSocket-Version": "13"}
        if origin:
            headers["Origin"] = origin
        self.control = []  # (opcode, payload) of the frames that are not text
        self.parse = json.loads  # what a text message's payload becomes
        # after_head: frames sent in the same packet as the upgrade request.
        self.sock.sendall(request_bytes(path, host or "127.0.0.1:%d" % port, headers) + after_head)
        self.status, self.headers, self.buffer = read_head(self.sock)

    def fileno(self):
        return self.sock.fileno()

    def feed(self, data):
        """Takes received bytes; returns the complete text messages, parsed."""
        self.buffer += data
        messages = []
        while len(self.buffer) >= 2:
            opcode = self.buffer[0] & 0x0F
            length = self.buffer[1] & 0x7F
            offset = 2
            if length == 126:
                if len(self.buffer) < 4:
                    break
                length = int.from_bytes(self.buffer[2:4], "big")
                offset = 4
            elif length == 127:
                if len(self.buffer) < 10:
                    break
                length = int.from_bytes(self.buffer[2:10], "big")
                offset = 10
            if len(self.buffer) < offset + length:
                break
            payload = self.buffer[offset:offset + length]
            self.buffer = self.buffer[offset + length:]
            if opcode == 1:
                messages.append(self.parse(payload))
            else:
                self.control.append((opcode, payload))
        return messages

    def next_messages(self):
        messages = self.feed(b"")
        while not messages:
            chunk = self.sock.recv(65536)
            if not chunk:
                return []
            messages = self.feed(chunk)
        return messages

    def close(self):
        self.sock.close()


def client_frame(opcode, payload):
    """A whole frame as a client sends it: masked, payload under 126 bytes."""
    mask = os.urandom(4)
    return (bytes([0x80 | opcode, 0x80 | len(payload)]) + mask +
            bytes(b ^ mask[i % 4] for i, b in enumerate(payload)))


def temp_dir():
    return tempfile.mkdtemp(prefix="tolvak-serve-test-")
