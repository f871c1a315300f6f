"""tolvak serve --mqtt against Debian's mosquitto on loopback, with mosquitto_sub as the office's
client: weighings in order with their JSON, one per settled load; the retained state and the last
will; a broker away for 10 s and a restart of tolvak while it is away lose and repeat nothing; a
refused password is a clear error; several scales publish each under its own name.

Usage: test_mqtt.py TOLVAK [unittest arguments]; with $TOLVAK_SERVER (tolvak.exe under Wine) the
server is that, and the run ends with status 77 when it is built without MQTT."""

import json
import os
import pwd
import signal
import socket
import subprocess
import sys
import threading
import time
import unittest
import zlib

from serve_client import Indicator, Server, device_for, server_command, temp_dir

TOOL = None
BASE = "tolvak/yard/scale/"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Broker:
    """mosquitto on a port of its own; it keeps its sessions on disk across a restart, so that the
    subscriber's queue waits for it."""

    def __init__(self, dir, port, password=None):
        self.port, self.conf = port, os.path.join(dir, "mosquitto.conf")
        # As whoever runs the test: as root it would become the user mosquitto, who cannot
        # write here.
        lines = ["listener %d 127.0.0.1" % port, "persistence true",
                 "persistence_location %s/" % dir, "user " + pwd.getpwuid(os.getuid()).pw_name]
        if password:
            pw = os.path.join(dir, "passwd")
            subprocess.run(["mosquitto_passwd", "-c", "-b", pw, "tolvak", password], check=True)
            lines.append("password_file " + pw)
        else:
            lines.append("allow_anonymous true")
        with open(self.conf, "w") as f:
            f.write("\n".join(lines) + "\n")
        self.start()

    def start(self):
        self.proc = subprocess.Popen(["mosquitto", "-c", self.conf], stderr=subprocess.DEVNULL)
        wait_until(lambda: self.proc.poll() is not None or
                   socket.socket().connect_ex(("127.0.0.1", self.port)) == 0, "no broker")
        if self.proc.poll() is not None:
            raise RuntimeError("mosquitto did not start")

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=30)


class Subscriber:
    """mosquitto_sub on tolvak/#, QoS 1, a lasting session: (topic, JSON) in arrival order."""

    def __init__(self, port):
        self.got = []
        self.proc = subprocess.Popen(
            ["mosquitto_sub", "-p", str(port), "-t", "tolvak/#", "-q", "1", "-v", "-c", "-i",
             "office-%d" % os.getpid()],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            topic, _, payload = line.rstrip("\n").partition(" ")
            if "/command/" not in topic:  # the commands' empty payloads
                self.got.append((topic, json.loads(payload)))

    def of(self, leaf, base=BASE):
        return [p for t, p in list(self.got) if t == base + leaf]

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


def wait_until(test, why, deadline=120):
    end = time.monotonic() + deadline
    while not test():
        if time.monotonic() > end:
            raise AssertionError(why)
        time.sleep(0.2)


def retained_state(port, *login, base=BASE):
    """The retained state of the scale, as a client that comes later sees it."""
    out = subprocess.run(["mosquitto_sub", "-p", str(port), "-t", base + "state",
                          "-C", "1", "-W", "30", *login], capture_output=True, text=True,
                         timeout=60)
    return json.loads(out.stdout)["state"]


def kill_hard(server):
    """Ends the server as a crash would. Under Wine the server is a wrapper's child: end every
    program of the test's own wineserver."""
    if os.environ.get("TOLVAK_SERVER"):
        subprocess.run(["wineserver", "-k"], timeout=60)
    server.proc.send_signal(signal.SIGKILL)
    server.proc.wait()


class MqttTest(unittest.TestCase):
    def setUp(self):
        self.dir = temp_dir()
        self.port = free_port()
        self.device, self.link = device_for(os.path.join(self.dir, "scale"))
        self.store = os.path.join(self.dir, "store")
        self.cleanup = []

    def tearDown(self):
        for stop in reversed(self.cleanup):
            try:
                stop()
            except Exception:
                pass

    def kept(self, part):
        self.cleanup.append(part.stop)
        return part

    def serve(self, *args):
        return self.kept(Server(TOOL, [
            "--device", self.device, "--baud", "9600", "--stable-window", "0.5", "--mqtt",
            "mqtt://127.0.0.1:%d" % self.port, "--mqtt-site", "yard", "--mqtt-store", self.store,
            *args]))

    def truck(self, *args):
        return self.kept(Indicator(TOOL, ["--baud", "9600", "--rate", "50", *args], link=self.link))

    def broker(self, password=None):
        return self.kept(Broker(self.dir, self.port, password))

    def subscriber(self):
        return self.kept(Subscriber(self.port))

    def assert_all_once_in_order(self, weighings, count):
        # Ids count every weighing tolvak made: 1..count, nothing left out, nothing twice.
        self.assertEqual([w["id"] for w in weighings], list(range(1, count + 1)))
        for w in weighings:
            self.assertTrue(w["stable"])
            self.assertEqual(w["value"], 32000)

    def assert_second_tolvak_refused(self):
        # The two would lose each other's lines.
        second = subprocess.run(
            [*server_command(TOOL), "serve", "--listen", "127.0.0.1:0", "--device", self.device,
             "--mqtt", "mqtt://127.0.0.1:%d" % self.port, "--mqtt-store", self.store],
            capture_output=True, text=True, timeout=120)
        self.assertEqual(second.returncode, 1, second.stderr)
        self.assertIn("is in use by another tolvak", second.stderr)

    def test_weighings_readings_state_and_last_will(self):
        self.broker()
        sub = self.subscriber()
        server = self.serve()
        wait_until(lambda: sub.of("state"), "no state")
        self.assert_second_tolvak_refused()
        # The truck comes, stands, leaves, and comes back: two loads settle.
        indicator = self.truck("--seconds", "34")
        indicator.proc.wait(timeout=120)
        wait_until(lambda: len(sub.of("weighing")) >= 2, "two weighings expected")
        # Readings are serve's own messages; one may be dropped under load, never reordered.
        seqs = [r["seq"] for r in sub.of("reading")]
        self.assertEqual(seqs, sorted(set(seqs)))
        self.assertGreater(len(seqs), 500)
        weighings = sub.of("weighing")
        self.assertEqual(len(weighings), 2, "one weighing per settled load, not one per frame")
        self.assert_all_once_in_order(weighings, 2)
        wait_until(lambda: retained_state(self.port) == "waiting", "the indicator is gone")
        kill_hard(server)
        wait_until(lambda: retained_state(self.port) == "offline", "no last will")

    def test_several_scales_publish_each_under_its_own_name(self):
        self.broker()
        sub = self.subscriber()
        server = self.kept(Server(TOOL, [
            "--scale", "in=%s,baud=9600,stable-window=0.5" % self.device, "--scale", "demo=simulate",
            "--mqtt", "mqtt://127.0.0.1:%d" % self.port, "--mqtt-site", "yard", "--mqtt-store",
            self.store]))
        self.truck("--seconds", "20")
        bases = ("tolvak/yard/in/", "tolvak/yard/demo/")
        wait_until(lambda: all(sub.of("weighing", base) for base in bases), "a weighing each")
        for base in bases:
            # Each scale's own numbering and store: nothing of the other's among them.
            seqs = [r["seq"] for r in sub.of("reading", base)]
            self.assertEqual(seqs, sorted(set(seqs)))
            self.assertEqual(sub.of("weighing", base)[0]["id"], 1)
        self.assertEqual(sorted(os.listdir(self.store)), ["demo.weighings", "in.weighings"])
        kill_hard(server)
        # One connection each, so the broker's last will marks every scale offline.
        for base in bases:
            wait_until(lambda: retained_state(self.port, base=base) == "offline", base + " offline")

    def test_broker_away_then_tolvak_restarted_lose_and_repeat_nothing(self):
        broker = self.broker()
        sub = self.subscriber()
        server = self.serve()
        wait_until(lambda: sub.of("state"), "no state")
        indicator = self.truck("--seconds", "34")
        wait_until(lambda: sub.of("reading"), "no reading")
        time.sleep(4)
        broker.stop()  # for 10 s, while the truck settles, stands and drives off
        time.sleep(10)
        broker.start()
        wait_until(lambda: sub.of("weighing"), "the weighing kept is sent")
        # Down again: the second load's weighing waits in the store through a restart of tolvak.
        broker.stop()
        indicator.proc.wait(timeout=120)
        status, err = server.stop()
        self.assertEqual(status, 0, err)
        self.assertIn("cannot be reached", err)
        self.serve()  # started while the broker is still away
        broker.start()
        wait_until(lambda: len(sub.of("weighing")) >= 2, "stored weighings sent after a restart")
        time.sleep(2)  # nothing more comes
        self.assert_all_once_in_order(sub.of("weighing"), 2)

    def test_a_store_written_anew_keeps_its_lock(self):
        # 1000 weighings of which the broker took all but the last: when it takes that one, the
        # store is written anew and renamed over the old.
        os.makedirs(self.store)
        lines = ['W%d {"id":%d,"pad":"%s"}' % (i, i, "x" * 60) for i in range(1, 1001)]
        lines += ["D%d" % i for i in range(1, 1000)]
        with open(os.path.join(self.store, "scale.weighings"), "w") as f:
            f.writelines("%08x %s\n" % (zlib.crc32(b.encode()), b) for b in lines)
        self.broker()
        sub = self.subscriber()
        self.serve()
        wait_until(lambda: sub.of("weighing"), "the stored weighing is sent")
        self.assertEqual([w["id"] for w in sub.of("weighing")], [1000])
        wait_until(lambda: os.path.getsize(os.path.join(self.store, "scale.weighings")) < 100,
                   "the store is not written anew")
        self.assert_second_tolvak_refused()

    def test_commands_from_the_broker_go_through_the_desk(self):
        # An indicator that obeys a tare 0.3 s late: the reply is the frame that shows it.
        self.broker()
        sub = self.subscriber()
        self.serve("--format", "status", "--allow-commands", "--mqtt-commands")
        self.truck("--format", "status", "--weight", "1500", "--rate", "5", "--obey-after", "0.3")
        wait_until(lambda: sub.of("reading"), "no reading")
        for name in ("tare", "nothing"):
            subprocess.run(["mosquitto_pub", "-p", str(self.port), "-q", "1", "-t",
                            BASE + "command/" + name, "-n"], check=True)
            wait_until(lambda: any(r["command"] == name for r in sub.of("reply")), "no reply")
        replies = {r["command"]: r for r in sub.of("reply")}
        self.assertEqual((replies["tare"]["status"], replies["tare"]["reply"]["mode"]), (200, "net"))
        self.assertEqual(replies["nothing"]["status"], 404)

    def test_a_refused_password_is_a_clear_error(self):
        self.broker(password="right")
        for password, refused in (("wrong", True), ("right", False)):
            with open(os.path.join(self.dir, "pw"), "w") as f:
                f.write(password + "\n")
            server = self.serve("--mqtt-user", "tolvak", "--mqtt-password-file",
                                os.path.join(self.dir, "pw"))
            if refused:
                status, err = server.proc.wait(timeout=60), server.proc.stderr.read()
                self.assertEqual(status, 1)
                self.assertIn("refused the user name or password", err)
                self.assertEqual(err.count("refused"), 1, err)
            else:
                login = ("-u", "tolvak", "-P", "right")
                # "closed" comes first, until the port is tried.
                wait_until(lambda: retained_state(self.port, *login) == "waiting", "not waiting")
                status, err = server.stop()
                self.assertEqual(status, 0, err)
                self.assertEqual(retained_state(self.port, *login), "offline")  # said on stopping


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    usage = subprocess.run([*server_command(TOOL), "serve", "--help"], capture_output=True,
                           text=True, timeout=120).stdout
    if "no libmosquitto" in usage:
        print("skipped: this tolvak is built without MQTT (no libmosquitto: "
              "scripts/build-mosquitto-mingw.sh could not build it)")
        sys.exit(77)
    unittest.main()
