"""tolvak serve end to end over loopback: every client gets every reading in order, the stable
flags, refusals of other hosts and origins, bad and oversized requests, a client that never
reads, many clients at once, and a device unplugged and plugged in again behind a symlink.

Usage: test_serve.py TOLVAK [unittest arguments]
TOLVAK drives the simulated indicators; $TOLVAK_SERVER, when set, is the server instead (see
serve_client.py), e.g. tolvak.exe under Wine."""

import json
import os
import selectors
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time
import unittest

from serve_client import (Indicator, Server, SseClient, WsClient, client_frame, connect,
                          device_for, http_get, read_head, request_bytes, server_command,
                          temp_dir)

TOOL = None


class Rig:
    """A server on a symlinked device; the indicator is started by the test."""

    def __init__(self, serve_args=()):
        self.dir = temp_dir()
        self.device, self.link = device_for(os.path.join(self.dir, "scale"))
        self.indicator = None
        # The format given: these tests time the readings from the moment the device is there.
        self.server = Server(TOOL, ["--device", self.device, "--baud", "9600", "--format",
                                    "control", *serve_args])

    def plug(self, *args):
        self.indicator = Indicator(TOOL, ["--baud", "9600", *args], link=self.link)

    def unplug(self):
        self.indicator.stop()
        self.indicator = None

    def close(self):
        if self.indicator:
            self.indicator.stop()
        status, err = self.server.stop()
        shutil.rmtree(self.dir, ignore_errors=True)
        return status, err


def collect(clients, until, deadline=60):
    """Reads from all clients until until(messages_per_client) is true; messages are the parsed
    JSON objects each client has had so far, in arrival order. Raises on timeout."""
    sel = selectors.DefaultSelector()
    for c in clients:
        if not hasattr(c, "got"):
            c.got = []
    got = {c: c.got for c in clients}
    for c in clients:
        c.sock.setblocking(False)
        sel.register(c.sock, selectors.EVENT_READ, c)
        got[c].extend(obj for obj in _parse(c, b""))
    end = time.monotonic() + deadline
    while not until(got):
        if time.monotonic() > end:
            raise AssertionError("clients did not get what was expected in time")
        for key, _ in sel.select(timeout=1):
            c = key.data
            try:
                data = c.sock.recv(65536)
            except BlockingIOError:
                continue
            if not data:
                sel.unregister(c.sock)
                continue
            got[c].extend(_parse(c, data))
    sel.close()
    for c in clients:
        c.sock.setblocking(True)
    return got


def _parse(client, data):
    if isinstance(client, SseClient):
        return [obj for _, obj in client.feed(data)]
    return client.feed(data)


def readings(messages):
    return [m for m in messages if m["type"] == "reading"]


class ServeTest(unittest.TestCase):
    def setUp(self):
        self.rig = None

    def tearDown(self):
        if self.rig:
            # However the test went, the server must stop cleanly: no crash, no sanitizer report.
            status, err = self.rig.close()
            self.assertEqual(status, 0, err)

    def assert_in_order_none_lost(self, rs):
        seqs = [r["seq"] for r in rs]
        self.assertEqual(seqs, list(range(seqs[0], seqs[0] + len(seqs))), "gaps or disorder")

    def test_every_client_gets_every_reading_in_order_with_stable_flags(self):
        self.rig = Rig(["--stable-window", "0.5"])
        port = self.rig.server.port
        clients = [SseClient(port) for _ in range(3)] + [WsClient(port) for _ in range(3)]
        for c in clients:
            self.assertIn(c.status, (200, 101))
        # The truck profile: empty bridge, driving on, settling, standing (20 s in all); 8 s
        # covers the empty bridge and the drive on.
        self.rig.plug("--rate", "50", "--seconds", "8")
        got = collect(clients, lambda g: all(
            any(m["type"] == "port" and m["state"] == "waiting" for m in ms)
            and len(readings(ms)) >= 300
            for ms in g.values()))
        # After the run, the server's latest reading closes every client's sequence.
        self.rig.indicator.proc.wait(timeout=20)
        time.sleep(0.5)
        status, _, body = http_get(port, "/api/weight")
        self.assertEqual(status, 200)
        last = json.loads(body)["seq"]
        got = collect(clients, lambda g: all(readings(ms)[-1]["seq"] == last for ms in g.values()))
        first_seqs = set()
        for c, ms in got.items():
            rs = readings(ms)
            self.assert_in_order_none_lost(rs)
            first_seqs.add(rs[0]["seq"])
            self.check_stable_flags(rs, window=0.5)
        # All joined before the first reading: all saw the same readings.
        self.assertEqual(first_seqs, {1})
        weights = [[r["weight"] for r in readings(ms)] for ms in got.values()]
        for w in weights[1:]:
            self.assertEqual(w, weights[0])
        self.assertIn("0", weights[0])
        self.assertGreater(len(set(weights[0])), 5, "the weight should change as the truck drives on")

    def check_stable_flags(self, rs, window):
        times = [time_of(r) for r in rs]
        for i, r in enumerate(rs):
            if r["value"] is None:
                self.assertFalse(r["stable"])
            # A change from the reading just before (20 ms earlier) is motion.
            if i > 0 and rs[i - 1]["value"] != r["value"]:
                self.assertFalse(r["stable"], r)
            # The same value for well over the window is standing.
            j = i
            while j > 0 and rs[j - 1]["value"] == r["value"]:
                j -= 1
            if times[i] - times[j] > window + 0.3:
                self.assertTrue(r["stable"], r)

    def test_commands_reach_the_indicator_only_when_allowed(self):
        # A status-line indicator that obeys a tare 0.3 s late: the reply is the frame that shows
        # the tare (net), not the gross frame sent meanwhile. The token and the origins allowed
        # commands decide who may send one; concurrent callers each get a frame of their own.
        token_file = os.path.join(temp_dir(), "token")
        subprocess.run([TOOL, "token", token_file], check=True, capture_output=True)
        self.rig = Rig(["--format", "status", "--allow-commands", "--token-file", token_file,
                        "--allow-origin", "http://read.example",
                        "--allow-commands-from", "http://cmd.example/"])
        self.rig.plug("--format", "status", "--weight", "1500", "--rate", "5",
                      "--obey-after", "0.3")
        port = self.rig.server.port
        deadline = time.time() + 20
        while time.time() < deadline:
            weight = json.loads(http_get(port, "/api/weight")[2])
            if weight["weight"] is not None:
                break
            time.sleep(0.1)
        self.assertEqual((weight["unit"], weight["mode"], weight["indicatorStable"]),
                         ("kg", "gross", True))

        def bearer(path="/api/print", token=None, **headers):
            with open(token_file) as f:
                headers["Authorization"] = "Bearer " + (token or f.read().strip())
            return http_get(port, path, headers=headers, method="POST")

        for name, call, expected in [
                ("no token", lambda: http_get(port, "/api/print", method="POST"), 401),
                ("a wrong token", lambda: bearer(token="0" * 64), 401),
                ("a page allowed to read only", lambda: bearer(Origin="http://read.example"), 403),
                ("another site", lambda: bearer(Origin="http://evil.example"), 403),
                ("a page allowed commands", lambda: bearer(Origin="http://cmd.example"), 200),
                ("a program", bearer, 200),
                ("a command the format lacks", lambda: bearer("/api/nothing"), 405)]:
            with self.subTest(name):
                self.assertEqual(call()[0], expected)
        status, _, body = bearer("/api/tare")
        self.assertEqual(status, 200, body)
        self.assertEqual([json.loads(body)["reply"][k] for k in ("mode", "value")], ["net", 0])
        # Preflights: POST and the token's header only for an origin allowed commands.
        for origin, methods in [("http://read.example", "GET"), ("http://cmd.example", "GET, POST")]:
            hdrs = http_get(port, "/api/tare", method="OPTIONS", headers={
                "Origin": origin, "Access-Control-Request-Method": "POST",
                "Access-Control-Request-Headers": "authorization"})[1]
            self.assertEqual(hdrs["access-control-allow-methods"], methods)
            self.assertIn("Authorization", hdrs["access-control-allow-headers"])
        # Callers at once: one at a time on the line, each answered by a frame of its own, and
        # those beyond the queue turned away.
        results = [None] * 8
        threads = [threading.Thread(target=lambda i=i: results.__setitem__(i, bearer()))
                   for i in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        answered = [json.loads(r[2])["reply"]["time"] for r in results if r[0] == 200]
        self.assertGreaterEqual(len(answered), 2)
        self.assertEqual(len(set(answered)), len(answered), "two callers got the same frame")
        self.assertIn(429, [r[0] for r in results])
        # A renewed token takes effect at once.
        with open(token_file) as f:
            old = f.read().strip()
        subprocess.run([TOOL, "token", token_file], check=True, capture_output=True)
        self.assertEqual(bearer(token=old)[0], 401)
        self.assertEqual(bearer()[0], 200)
        # Without --allow-commands no command is taken; on a network not without a token.
        self.rig.close()
        self.rig = Rig(["--format", "status"])
        self.assertEqual(http_get(self.rig.server.port, "/api/tare", method="POST")[0], 405)
        refused = subprocess.run([*server_command(TOOL), "serve", "--device", self.rig.device,
                                  "--listen", "0.0.0.0:0", "--allow-commands"],
                                 capture_output=True, text=True, timeout=30)
        self.assertEqual(refused.returncode, 64)
        self.assertIn("--token-file", refused.stderr)

    def test_commands_an_indicator_never_answers_let_go_of_their_clients(self):
        # The indicator sends frames of another format and obeys no command: each command gets
        # 504 in time, and clients that gave up leave no place taken behind them.
        self.rig = Rig(["--format", "status", "--allow-commands", "--max-clients", "2"])
        self.rig.plug("--rate", "2")
        port = self.rig.server.port
        deadline = time.time() + 20
        while http_get(port, "/healthz")[0] != 200 and time.time() < deadline:
            time.sleep(0.1)
        statuses = []
        for _ in range(30):
            with connect(port, timeout=0.2) as s:
                s.sendall(request_bytes("/api/zero", "127.0.0.1:%d" % port, method="POST"))
                try:
                    statuses.append(read_head(s)[0])
                except (socket.timeout, ConnectionError):
                    statuses.append(None)  # gave up waiting
        self.assertIn(None, statuses)
        self.assertIn(429, statuses)
        # Once there is room at the desk, a command waits its turn and gets its 504 in time.
        status = 429
        while status == 429 and time.time() < deadline + 60:
            with connect(port, timeout=30) as s:
                s.sendall(request_bytes("/api/zero", "127.0.0.1:%d" % port, method="POST"))
                status = read_head(s)[0]
            time.sleep(0.2)
        self.assertEqual(status, 504)
        self.assertEqual(http_get(port, "/healthz")[0], 200)

    def test_refuses_other_hosts_and_origins(self):
        self.rig = Rig(["--allow-origin", "http://app.example:8080"])
        port = self.rig.server.port
        own = "http://127.0.0.1:%d" % port
        cases = [
            # (path, Host, headers, expected status)
            ("/api/weight", None, {}, 200),
            ("/api/weight", "localhost:%d" % port, {}, 200),
            ("/api/weight", "evil.example:%d" % port, {}, 403),
            ("/", "rebind.evil.example", {}, 403),
            ("/api/weight", None, {"Origin": "http://evil.example"}, 403),
            ("/api/weight", None, {"Origin": own}, 200),
            ("/api/weight", None, {"Origin": "http://app.example:8080"}, 200),
            ("/api/weight", None, {"Origin": "null"}, 403),
            ("/healthz", None, {}, 503),  # no device yet: the status code says so
            ("/nothing-here", None, {}, 404),
            ("/ws", None, {}, 426),
        ]
        for path, host, headers, expected in cases:
            with self.subTest(path=path, host=host, headers=headers):
                status, hdrs, _ = http_get(port, path, host, headers)
                self.assertEqual(status, expected)
                if expected == 200 and "Origin" in headers:
                    self.assertEqual(hdrs.get("access-control-allow-origin"), headers["Origin"])
        # Without a Host header at all, or with a second Host (allowed or not): a bad request. A
        # second Origin, even the page's own: refused.
        head = request_bytes("/api/weight", "127.0.0.1:%d" % port)[:-2]
        for data, expected in [(b"GET /api/weight HTTP/1.1\r\n\r\n", 400),
                               (head + b"Host: evil.example\r\n\r\n", 400),
                               (head + b"Host: localhost\r\n\r\n", 400),
                               (head + ("Origin: %s\r\nOrigin: %s\r\n\r\n" % (own, own)).encode(),
                                403)]:
            with self.subTest(request=data), connect(port) as s:
                s.sendall(data)
                self.assertEqual(read_head(s)[0], expected)
        # A method other than GET.
        self.assertEqual(http_get(port, "/api/weight", method="POST")[0], 405)
        # A CORS preflight from an allowed origin, and from another.
        status, hdrs, _ = http_get(port, "/api/weight", headers={
            "Origin": "http://app.example:8080", "Access-Control-Request-Method": "GET"},
            method="OPTIONS")
        self.assertEqual(status, 204)
        self.assertEqual(hdrs.get("access-control-allow-origin"), "http://app.example:8080")
        status, _, _ = http_get(port, "/api/weight", headers={"Origin": "http://evil.example"},
                                method="OPTIONS")
        self.assertEqual(status, 403)
        # WebSocket upgrades: the page's own origin and the allowed one; not another site's,
        # not another host name.
        for origin, host, expected in [(own, None, 101), ("http://app.example:8080", None, 101),
                                       ("http://evil.example", None, 403),
                                       (None, "evil.example:%d" % port, 403)]:
            with self.subTest(origin=origin, host=host):
                ws = WsClient(port, origin=origin, host=host)
                self.assertEqual(ws.status, expected)
                if expected == 101:
                    first = ws.next_messages()[0]
                    self.assertEqual(first["type"], "port")
                ws.close()
        # An SSE stream from another site's page.
        sse = SseClient(port, headers={"Origin": "http://evil.example"})
        self.assertEqual(sse.status, 403)

    def test_a_refused_origin_is_logged_once(self):
        self.rig = Rig()
        for _ in range(2):
            self.assertEqual(http_get(self.rig.server.port, "/api/weight",
                                      headers={"Origin": "http://x.example:3000"})[0], 403)
        status, err = self.rig.close()
        self.rig = None
        self.assertEqual(status, 0, err)
        self.assertEqual(err.count("--allow-origin http://x.example:3000 allows it"), 1, err)

    def test_bad_and_oversized_requests_get_4xx_or_closed_and_others_carry_on(self):
        self.rig = Rig()
        port = self.rig.server.port
        watcher = SseClient(port)
        self.assertEqual(watcher.status, 200)
        big_header = request_bytes("/api/weight", "127.0.0.1:%d" % port,
                                   {"X-Padding": "a" * 20000})
        many_headers = request_bytes("/api/weight", "127.0.0.1:%d" % port,
                                     {"X-H%d" % i: "v" for i in range(200)})
        huge_line = b"GET /" + b"a" * 30000 + b" HTTP/1.1\r\nHost: x\r\n\r\n"
        cases = [
            ("oversized header", big_header, (431,)),
            ("too many header fields", many_headers, (431,)),
            ("oversized request line", huge_line, (431, 400)),
            ("garbage", b"\x00\x01\x02 not http at all\r\n\r\n", (400,)),
            ("a body where none belongs", b"GET /api/weight HTTP/1.1\r\nHost: 127.0.0.1\r\n"
             b"Content-Length: 100000\r\n\r\n", (413,)),
        ]
        for name, data, statuses in cases:
            with self.subTest(name):
                with connect(port) as s:
                    try:
                        s.sendall(data)
                        status = read_head(s)[0]
                    except (ConnectionError, OSError):
                        status = None  # a closed connection is an answer too
                    if status is not None:
                        self.assertIn(status, statuses)
                    # Nothing more comes on this connection.
                    try:
                        rest = s.recv(65536)
                        while rest:
                            rest = s.recv(65536)
                    except (ConnectionError, OSError):
                        pass
        # A client that opens a connection and sends half a request holds up nobody.
        idle = connect(port)
        idle.sendall(b"GET /api/weight HTTP/1.1\r\nHost: 127.0.0.1\r\n")
        self.assertEqual(http_get(port, "/api/weight")[0], 200)
        self.rig.plug("--weight", "1500", "--rate", "20", "--count", "40")
        got = collect([watcher], lambda g: len(readings(g[watcher])) >= 10)
        self.assertEqual(readings(got[watcher])[0]["weight"], "1500")
        idle.close()

    def test_a_client_that_never_reads_is_dropped_and_the_others_lose_nothing(self):
        self.rig = Rig(["--client-buffer", "16"])
        port = self.rig.server.port
        stalled = WsClient(port, rcvbuf=4096)
        self.assertEqual(stalled.status, 101)
        # The reader keeps up by design, not by a quiet machine: at 100 frames a second of
        # 130-byte messages its socket buffers hold several seconds of them, while the stalled
        # client's small buffers and its 16 KiB queue fill within seconds. A count, not a
        # duration, so that a busy machine that sends more slowly still sends them all.
        reader = SseClient(port, rcvbuf=1 << 20)
        self.rig.plug("--baud", "115200", "--rate", "100", "--count", "1500")
        got = collect([reader], lambda g: len(readings(g[reader])) >= 1200, deadline=150)
        self.assert_in_order_none_lost(readings(got[reader]))
        # The stalled client's connection has been closed by the server: draining it ends.
        stalled.sock.settimeout(20)
        drained = 0
        try:
            while True:
                chunk = stalled.sock.recv(65536)
                if not chunk:
                    break
                drained += len(chunk)
        except ConnectionResetError:
            pass
        stalled.close()
        self.assertEqual(http_get(port, "/api/weight")[0], 200)

    def test_a_client_that_reads_late_gets_everything_intact(self):
        # Its socket buffers fill while it does not read, so the server's writes to it are cut
        # short and finish later: the messages must still arrive whole and in order.
        self.rig = Rig()
        port = self.rig.server.port
        late = [WsClient(port, rcvbuf=4096), SseClient(port, rcvbuf=4096)]
        # A busy machine may lose frames on the line: the clients must have every reading the
        # server had, up to the last one, however many that was.
        self.rig.plug("--baud", "115200", "--rate", "600", "--count", "3000")
        time.sleep(5)
        self.rig.indicator.proc.wait(timeout=60)
        time.sleep(0.5)
        last = json.loads(http_get(port, "/api/weight")[2])["seq"]
        self.assertGreater(last, 1000)
        got = collect(late, lambda g: all(readings(ms) and readings(ms)[-1]["seq"] == last
                                          for ms in g.values()))
        for ms in got.values():
            self.assertEqual(readings(ms)[0]["seq"], 1)
            self.assert_in_order_none_lost(readings(ms))

    def test_two_hundred_clients_at_once(self):
        self.rig = Rig(["--max-clients", "250"])
        port = self.rig.server.port
        clients = [SseClient(port) if i % 2 else WsClient(port) for i in range(200)]
        for c in clients:
            self.assertIn(c.status, (200, 101))
        self.rig.plug("--rate", "20", "--weight", "777")
        got = collect(clients, lambda g: all(len(readings(ms)) >= 20 for ms in g.values()),
                      deadline=90)
        for ms in got.values():
            rs = readings(ms)
            self.assert_in_order_none_lost(rs)
            self.assertEqual(rs[0]["weight"], "777")
        for c in clients:
            c.close()

    def test_max_clients_turns_the_next_one_away(self):
        self.rig = Rig(["--max-clients", "5"])
        port = self.rig.server.port
        held = [SseClient(port) for _ in range(5)]
        for c in held:
            self.assertEqual(c.status, 200)
        # The streams are full: another is turned away, while short requests are still answered.
        self.assertEqual(SseClient(port).status, 503)
        self.assertEqual(WsClient(port).status, 503)
        for path, expected in (("/healthz", 503), ("/api/weight", 200)):  # no device: 503
            self.assertEqual(http_get(port, path)[0], expected)
        # Idle keep-alive connections and slowly sent requests take the few places left for
        # short requests; the oldest of them is let go for whoever comes next.
        idle = []
        for i in range(30):
            s = connect(port)
            if i % 2:
                s.sendall(request_bytes("/api/weight", "127.0.0.1:%d" % port))
                self.assertEqual(read_head(s)[0], 200)
            else:
                s.sendall(b"GET /api/weight HTTP/1.1\r\n")  # and never the rest
            idle.append(s)
        self.assertEqual(http_get(port, "/api/weight")[0], 200)
        idle[0].settimeout(10)
        self.assertEqual(idle[0].recv(100), b"", "the oldest idle connection is closed")
        for s in idle:
            s.close()
        held.pop().close()
        time.sleep(0.3)
        self.assertEqual(SseClient(port).status, 200)

    def test_frames_sent_with_the_upgrade_are_handled(self):
        self.rig = Rig()
        port = self.rig.server.port
        # A ping and a close in the same packet as the upgrade, then the client's FIN: the pong
        # and the closing answer come, and the server closes its side at once.
        ws = WsClient(port, after_head=client_frame(0x9, b"p1") + client_frame(0x8, b"\x03\xe8"))
        ws.sock.shutdown(socket.SHUT_WR)
        self.assertEqual(ws.status, 101)
        while ws.next_messages():
            pass
        self.assertEqual(ws.control, [(0xA, b"p1"), (0x8, b"\x03\xe8")])

    def test_unplugged_and_plugged_in_again_behind_a_symlink(self):
        self.rig = Rig()
        port = self.rig.server.port
        sse, ws = SseClient(port), WsClient(port)
        clients = [sse, ws]
        self.rig.plug("--weight", "100", "--rate", "20")
        got = collect(clients, lambda g: all(
            any(r["weight"] == "100" and r["stable"] for r in readings(ms)) for ms in g.values()))
        self.rig.unplug()
        got = collect(clients, lambda g: all(
            ms and ms[-1]["type"] == "port" and ms[-1]["state"] == "waiting" and
            ms[-1]["message"] == "waiting for the device" for ms in g.values()))
        # The weight kept from before is no longer stable, and the health check says so.
        status, _, body = http_get(port, "/api/weight")
        self.assertEqual((json.loads(body)["port"]["state"], json.loads(body)["stable"]),
                         ("waiting", False))
        self.assertEqual(http_get(port, "/healthz")[0], 503)
        self.rig.plug("--weight", "200", "--rate", "20")
        got = collect(clients, lambda g: all(
            any(r["weight"] == "200" for r in readings(ms)) for ms in g.values()))
        for ms in got.values():
            states = [m["state"] for m in ms if m["type"] == "port"]
            # Told of every change, on the same connection: up, gone, up again.
            first_up = states.index("connected")
            gone = states.index("waiting", first_up)
            self.assertIn("connected", states[gone:])
            self.assertEqual(states[-1], "connected")
        self.assertEqual(http_get(port, "/healthz")[0], 200)

    def test_two_scales_one_stalled_then_unplugged(self):
        # While one indicator stalls (its line open and silent) and is then unplugged, the other
        # scale's clients get every one of its readings in order; the old paths stay the first
        # scale's, as a single-scale server has them; each scale has its own commands.
        d = temp_dir()
        (dev_in, link_in), (dev_out, link_out) = (device_for(os.path.join(d, "in")),
                                                  device_for(os.path.join(d, "out"), "com18"))
        server = Server(TOOL, ["--scale", "in=%s,baud=9600,format=control" % dev_in,
                               "--allow-commands",
                               "--scale", "out=%s,baud=9600,format=status" % dev_out])
        ind = [Indicator(TOOL, ["--baud", "9600", *args], link=link) for link, args in [
            (link_in, ["--weight", "100", "--rate", "20"]),
            (link_out, ["--format", "status", "--weight", "1500", "--rate", "20"])]]
        self.addCleanup(lambda: [i.stop() for i in ind] and shutil.rmtree(d, True))
        port = server.port
        old, both = SseClient(port), WsClient(port, path="/ws?scale=*")
        outs = [SseClient(port, path="/api/events?scale=out"), WsClient(port, path="/ws?scale=out")]

        def of(ms, scale):
            return [m for m in readings(ms) if m.get("scale") == scale]
        collect([old, both], lambda g: readings(g[old]) and of(g[both], "out"))
        os.kill(ind[0].proc.pid, signal.SIGSTOP)
        got = collect(outs, lambda g: all(len(readings(ms)) >= 40 for ms in g.values()))
        os.kill(ind[0].proc.pid, signal.SIGCONT)
        ind[0].stop()
        got = collect(outs + [both], lambda g: any(
            m.get("state") == "waiting" and m["scale"] == "in" for m in g[both]) and all(
            len(of(g[c], "out")) >= 80 for c in outs))
        for c in outs + [both]:
            self.assert_in_order_none_lost(of(got[c], "out"))
        self.assertEqual({m["scale"] for c in outs for m in got[c]}, {"out"})
        self.assertEqual({(r["weight"], "scale" in r) for r in readings(old.got)}, {("100", False)})
        scales = json.loads(http_get(port, "/api/scales")[2])["scales"]
        self.assertEqual([(s["name"], s["port"]["state"], s["weight"]) for s in scales],
                         [("in", "waiting", "100"), ("out", "connected", "1500")])
        self.assertEqual(json.loads(http_get(port, "/api/weight")[2])["stable"], False)
        # The control format of "in" has no commands; the status format of "out" tares.
        self.assertEqual(http_get(port, "/api/tare", method="POST")[0], 405)
        status, _, body = http_get(port, "/api/scales/out/tare", method="POST")
        self.assertEqual((status, json.loads(body)["reply"]["mode"]), (200, "net"))
        self.assertEqual(server.stop()[0], 0)

    def test_idle_and_half_sent_requests_are_closed_in_time(self):
        self.rig = Rig()
        port = self.rig.server.port
        silent = connect(port, timeout=60)
        half = connect(port, timeout=60)
        half.sendall(b"GET /api/weight HTTP/1.1\r\nHost: 127.0.0.1\r\n")
        kept = connect(port, timeout=60)  # keep-alive: one answer, then silence
        kept.sendall(request_bytes("/api/weight", "127.0.0.1:%d" % port))
        status, headers, body = read_head(kept)
        self.assertEqual(status, 200)
        for s in (silent, half, kept):
            with self.subTest(sock=s.getsockname()):
                data = b""
                while True:  # the server's request timeout closes it: the read ends
                    chunk = s.recv(65536)
                    if not chunk:
                        break
                    data += chunk
                self.assertNotIn(b"HTTP/1.1 200", data)
                s.close()

    def test_a_port_in_use_is_an_error_not_a_hang(self):
        self.rig = Rig()
        taken = [self.rig.server.host]
        try:  # an IPv6 address is told in brackets, as in a URL
            holder = socket.socket(socket.AF_INET6)
            holder.bind(("::1", 0))
            holder.listen()
            taken.append("[::1]:%d" % holder.getsockname()[1])
        except OSError:
            holder = None  # no IPv6 loopback on this machine
        for listen in taken:
            with self.subTest(listen=listen):
                second = subprocess.run([*server_command(TOOL), "serve", "--device",
                                         self.rig.device, "--listen", listen],
                                        capture_output=True, text=True, timeout=30)
                self.assertEqual(second.returncode, 1)
                self.assertIn("cannot listen on " + listen + ":", second.stderr)
        if holder:
            holder.close()
        self.assertEqual(http_get(self.rig.server.port, "/api/weight")[0], 200)

    def test_stops_cleanly_with_clients_connected(self):
        self.rig = Rig()
        port = self.rig.server.port
        clients = [SseClient(port), WsClient(port)]
        self.rig.plug("--rate", "20")
        collect(clients, lambda g: all(readings(ms) for ms in g.values()))
        status, err = self.rig.close()
        self.rig = None
        self.assertEqual(status, 0, err)
        self.assertIn("connected", err)

    def test_simulate_serves_the_demo_truck_without_an_indicator(self):
        # No device at all: the truck's readings through the same server, a tare obeyed.
        server = Server(TOOL, ["--simulate", "--allow-commands"])
        try:
            deadline = time.time() + 60
            while time.time() < deadline:
                weight = json.loads(http_get(server.port, "/api/weight")[2])
                if (weight["value"] or 0) > 0:
                    break
                time.sleep(0.1)
            self.assertEqual((weight["port"]["state"], weight["mode"]), ("connected", "gross"))
            status, _, body = http_get(server.port, "/api/tare", method="POST")
            self.assertEqual(status, 200, body)
            self.assertEqual(json.loads(body)["reply"]["mode"], "net")
        finally:
            status, err = server.stop()
        self.assertEqual(status, 0, err)


def time_of(reading):
    from datetime import datetime
    return datetime.strptime(reading["time"], "%Y-%m-%dT%H:%M:%S.%fZ").timestamp()


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0], *sys.argv[2:]], verbosity=2)
