"""wfsim driven directly with raw bytes over TCP and pseudo-terminals: the
module side of the link (address-query answers, force routes, heartbeats and
their answers), the echo, the fault switches and the control commands."""

import json
import os
import queue
import re
import select
import socket
import subprocess
import termios
import threading
import time
import tty

import wfharness

SERIAL = "40F5849A"
TIMEOUT = 10  # generous: the machine may be loaded


def module(**extra):
    description = {"serial": SERIAL, "model": "HubFour", "address": 6, "version": "2.11.2", "build": 1234,
                   "echo_command": 0x7E, "transports": [{"type": "tcp"}]}
    description.update(extra)
    return description


class Sim:
    """A running wfsim: its transport lines, its control channel and its log."""

    def __init__(self, scenario, config):
        self.scenario = scenario
        path = os.path.join(scenario.scratch, "sim%d.json" % len(scenario.background))
        self.log = path + ".log"
        with open(path, "w") as out:
            json.dump(config, out)
        self.proc = subprocess.Popen([wfharness.binary("wfsim"), path, "--log", self.log], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                     env=scenario.env())
        scenario.background.append(self.proc)
        self.lines = queue.Queue()
        self.pump = threading.Thread(target=self._pump, daemon=True)
        self.pump.start()
        scenario.addCleanup(self._close)
        self.transports = []
        while True:
            line = self.line()
            if line == "ready":
                break
            self.transports.append(line.split())

    def _close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
        self.proc.wait(timeout=TIMEOUT)
        self.pump.join(timeout=TIMEOUT)
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            stream.close()

    def _pump(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def line(self):
        try:
            line = self.lines.get(timeout=TIMEOUT)
        except queue.Empty:
            self.scenario.fail("wfsim said nothing")
        if line is None:
            self.scenario.fail("wfsim ended: " + self.proc.stderr.read())
        return line

    def command(self, text):
        """Sends one control command; returns its information lines, failing
        unless it ends with "ok"."""
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()
        info = []
        while True:
            line = self.line()
            if line == "ok":
                return info
            self.scenario.assertFalse(line.startswith("error:"), "%s: %s" % (text, line))
            info.append(line)

    def failing_command(self, text):
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()
        line = self.line()
        self.scenario.assertTrue(line.startswith("error:"), "%s: %s" % (text, line))
        return line

    def connect(self, index=0):
        kind, serial, where = self.transports[index]
        self.scenario.assertEqual((kind, serial), ("tcp", SERIAL))
        host, port = where.rsplit(":", 1)
        sock = socket.create_connection((host, int(port)), timeout=TIMEOUT)
        self.scenario.addCleanup(sock.close)
        return SocketHost(sock)

    def stats(self):
        (line,) = self.command("stats")
        return dict(item.split("=", 1) for item in line.split()[2:])

    def logged(self, pattern):
        """Waits until the log has a line matching the pattern."""
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            with open(self.log) as log:
                for line in log:
                    if re.search(pattern, line):
                        return line
            time.sleep(0.05)
        self.scenario.fail("no log line matches %r" % pattern)


class SocketHost:
    def __init__(self, sock):
        self.sock = sock

    def send(self, data):
        self.sock.sendall(bytes(data))

    def receive(self, count):
        data = b""
        self.sock.settimeout(TIMEOUT)
        while len(data) < count:
            chunk = self.sock.recv(count - len(data))
            if not chunk:
                break
            data += chunk
        return list(data)

    def closed(self):
        self.sock.settimeout(TIMEOUT)
        try:
            return self.sock.recv(16) == b""
        except ConnectionResetError:
            return True


class TerminalHost:
    def __init__(self, path, raw=True):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        if raw:
            tty.setraw(self.fd, termios.TCSANOW)

    def close(self):
        os.close(self.fd)

    def send(self, data):
        os.write(self.fd, bytes(data))

    def receive(self, count):
        data = b""
        while len(data) < count:
            ready, _, _ = select.select([self.fd], [], [], TIMEOUT)
            if not ready:
                break
            try:
                chunk = os.read(self.fd, count - len(data))
            except OSError:  # hung up
                break
            if not chunk:
                break
            data += chunk
        return list(data)

    def hung_up(self):
        ready, _, _ = select.select([self.fd], [], [], TIMEOUT)
        if not ready:
            return False
        try:
            return os.read(self.fd, 16) == b""
        except OSError:
            return True


ADDRESS_QUERY = [0xAD, 0x00]


class LinkSide(wfharness.Scenario):
    def test_address_queries_are_answered_and_force_routes_are_silent(self):
        sim = Sim(self, {"modules": [module()]})
        host = sim.connect()
        host.send(ADDRESS_QUERY * 6)
        self.assertEqual(host.receive(12), [0x06, 0x00] * 6)
        # A force route gets no answer: the next bytes are the query's answer.
        host.send([0xAF, 0x01, 0x01] + ADDRESS_QUERY + [0xAF, 0x01, 0x00] + ADDRESS_QUERY)
        self.assertEqual(host.receive(4), [0x06, 0x00, 0x06, 0x00])
        sim.logged(r"%s tcp note force-route 1$" % SERIAL)
        sim.logged(r"%s tcp note force-route 0$" % SERIAL)
        stats = sim.stats()
        self.assertEqual(stats["forceroutes"], "01,00")
        self.assertEqual(stats["queries"], "8")
        sim.logged(r"%s tcp rx address=0xAD length=0 data=$" % SERIAL)
        sim.logged(r"%s tcp tx address=0x06 length=0 data=$" % SERIAL)

    def test_echo_reaches_the_module_and_its_submodules(self):
        sub = {"serial": "40F5849B", "address": 8, "echo_command": 0x7E}
        sim = Sim(self, {"modules": [module(submodules=[sub])]})
        host = sim.connect()
        request = [0x06, 0x05, 0x7E, 0x01, 0x02, 0x03, 0x04]
        host.send(request)
        self.assertEqual(host.receive(len(request)), request)
        full = [0x08, 28, 0x7E] + list(range(27))
        host.send(full)
        self.assertEqual(host.receive(len(full)), full)
        sim.logged(r"tx address=0x08 length=28 data=7E 00 01")
        # Nobody answers other commands or other addresses; the link goes on.
        host.send([0x06, 0x02, 0x05, 0x00] + [0x0A, 0x01, 0x7E] + ADDRESS_QUERY)
        self.assertEqual(host.receive(2), [0x06, 0x00])
        self.assertEqual(sim.stats()["unhandled"], "2")
        sim.logged(r"note no module at address 0x0A")

    def test_each_tcp_transport_answers_on_its_own_connection(self):
        sim = Sim(self, {"modules": [module(transports=[{"type": "tcp"}, {"type": "tcp"}])]})
        first, second = sim.connect(0), sim.connect(1)
        second.send([0x06, 0x01, 0x7E])
        first.send(ADDRESS_QUERY)
        self.assertEqual(first.receive(2), [0x06, 0x00])
        self.assertEqual(second.receive(3), [0x06, 0x01, 0x7E])

    def test_bytes_outside_packets_are_dropped_and_the_stream_recovers(self):
        sim = Sim(self, {"modules": [module()]})
        host = sim.connect()
        # A 0 cannot start a packet; a length of 29 is impossible.
        host.send([0x00, 0x06, 29] + ADDRESS_QUERY)
        self.assertEqual(host.receive(2), [0x06, 0x00])
        self.assertEqual(sim.stats()["discarded"], "3")
        sim.logged(r"rx raw=00$")
        sim.logged(r"rx raw=06 1D$")

    def test_heartbeats_are_sent_and_the_answers_recorded(self):
        sim = Sim(self, {"modules": [module(heartbeat={"interval_ms": 100, "values": [0, 1]})]})
        host = sim.connect()
        answered = []
        for _ in range(4):
            beat = host.receive(4)
            self.assertEqual(beat[:3], [0x06, 0x02, 0x00])
            answered.append(beat[3] + 2)
            host.send([0x06, 0x02, 0x00, beat[3] + 2])
        self.assertEqual(answered, [2, 3, 2, 3])
        # Answers are recorded in order once they have arrived.
        deadline = time.monotonic() + TIMEOUT
        while True:
            (line,) = sim.command("heartbeats")
            match = re.fullmatch(r"heartbeats %s sent=(\S+) answers=(\S+)" % SERIAL, line)
            self.assertIsNotNone(match, line)
            if match.group(2).count(",") >= 3 or time.monotonic() > deadline:
                break
        self.assertTrue(match.group(1).startswith("00,01,00,01"), line)
        self.assertEqual(match.group(2), "02,03,02,03")

    def test_heartbeat_on_command(self):
        sim = Sim(self, {"modules": [module()]})
        sim.failing_command("heartbeat")  # nobody connected yet
        sim.failing_command("disconnect")
        host = sim.connect()
        host.send(ADDRESS_QUERY)
        self.assertEqual(host.receive(2), [0x06, 0x00])
        sim.command("heartbeat 1")
        sim.command("heartbeat")
        self.assertEqual(host.receive(8), [0x06, 0x02, 0x00, 0x01, 0x06, 0x02, 0x00, 0x00])
        (line,) = sim.command("heartbeats")
        self.assertEqual(line, "heartbeats %s sent=01,00 answers=-" % SERIAL)


class FaultSwitches(wfharness.Scenario):
    def setUp(self):
        super().setUp()
        self.sim = Sim(self, {"modules": [module()]})
        self.host = self.sim.connect()
        # Once the host has an answer, the simulator has taken the connection.
        self.host.send(ADDRESS_QUERY)
        self.assertEqual(self.host.receive(2), [0x06, 0x00])

    def test_garbage_and_out_of_step_bytes_precede_only_the_next_reply(self):
        self.sim.command("garbage 3")
        self.host.send(ADDRESS_QUERY * 2)
        self.assertEqual(self.host.receive(7), [0xFF, 0xFF, 0xFF, 0x06, 0x00, 0x06, 0x00])
        self.sim.command("outofstep")
        self.host.send(ADDRESS_QUERY * 2)
        self.assertEqual(self.host.receive(5), [0x06, 0x06, 0x00, 0x06, 0x00])
        self.sim.command("garbage")
        self.host.send([0x06, 0x02, 0x7E, 0x01])
        self.assertEqual(self.host.receive(8), [0xFF] * 4 + [0x06, 0x02, 0x7E, 0x01])
        self.sim.logged(r"tx raw=FF FF FF$")

    def test_dropped_replies(self):
        self.sim.command("drop 2")
        self.host.send(ADDRESS_QUERY + [0x06, 0x01, 0x7E] + [0x06, 0x01, 0x7E])
        self.assertEqual(self.host.receive(3), [0x06, 0x01, 0x7E])
        self.assertEqual(self.sim.stats()["dropped"], "2")
        self.sim.logged(r"note reply dropped")

    def test_delayed_replies_keep_their_order(self):
        self.sim.command("delay 400")
        started = time.monotonic()
        self.host.send(ADDRESS_QUERY + [0x06, 0x01, 0x7E])
        self.assertEqual(self.host.receive(5), [0x06, 0x00, 0x06, 0x01, 0x7E])
        self.assertGreaterEqual(time.monotonic() - started, 0.35)
        self.sim.command("delay 0")
        self.host.send(ADDRESS_QUERY)
        self.assertEqual(self.host.receive(2), [0x06, 0x00])

    def test_disconnect_drops_the_connection_and_a_new_one_works(self):
        self.sim.command("disconnect")
        self.assertTrue(self.host.closed())
        host = self.sim.connect()
        host.send(ADDRESS_QUERY)
        self.assertEqual(host.receive(2), [0x06, 0x00])
        self.sim.logged(r"note connection dropped")

    def test_inject_sends_bytes_as_they_are(self):
        self.sim.command("inject 06 02 05 00")
        self.sim.command("inject 0601FF")
        self.assertEqual(self.host.receive(7), [0x06, 0x02, 0x05, 0x00, 0x06, 0x01, 0xFF])

    def test_bad_commands_are_refused(self):
        for bad in ("frobnicate", "garbage many", "delay", "delay -5", "inject 6", "inject zz", "select 12345678",
                    "heartbeat 254"):
            self.sim.failing_command(bad)
        self.assertIn("quit", " ".join(self.sim.command("help")))
        self.sim.command("quit")
        self.assertEqual(self.sim.proc.wait(timeout=TIMEOUT), 0)


class Terminals(wfharness.Scenario):
    def test_serial_line_and_usb_node(self):
        nodes = os.path.join(self.scratch, "nodes")
        os.makedirs(nodes)
        node = os.path.join(nodes, "wrenfield." + SERIAL)
        config = {"modules": [module(heartbeat={"interval_ms": 100},
                                     transports=[{"type": "serial"}, {"type": "usb-node", "link": node}])]}
        sim = Sim(self, config)
        (serial_kind, _, serial_path), (node_kind, _, node_path) = sim.transports
        self.assertEqual((serial_kind, node_kind), ("pty", "pty"))
        self.assertEqual(os.path.realpath(node), os.path.realpath(node_path))

        # The USB driver opens the node as it is, setting nothing: the line
        # must already be raw.
        for path, raw in ((serial_path, True), (node, False)):
            host = TerminalHost(path, raw)
            self.addCleanup(host.close)
            host.send(ADDRESS_QUERY * 2)
            received = host.receive(4)
            # A heartbeat may come first once the line is live; the answers follow in order.
            while received[:2] != [0x06, 0x00]:
                self.assertEqual(received[:3], [0x06, 0x02, 0x00])
                received = received[4:] + host.receive(4)
            self.assertEqual(received[:4], [0x06, 0x00, 0x06, 0x00])
            # Bytes a terminal would act on travel unchanged.
            control = [0x06, 0x07, 0x7E, 0x0D, 0x0A, 0x03, 0x11, 0x13, 0x04]
            host.send(control)
            received = host.receive(len(control))
            while received[:2] == [0x06, 0x02]:
                received = received[4:] + host.receive(4)
            self.assertEqual(received, control)
            sim.logged(r"%s (serial|usb-node) note host opened the line" % SERIAL)

        # A hang-up takes the node away; the link follows the fresh terminal.
        sim.command("disconnect")
        self.assertTrue(host.hung_up())
        lines = sim.command("transports")
        new_node_path = lines[1].split()[2]
        self.assertNotEqual(new_node_path, node_path)
        self.assertEqual(os.path.realpath(node), os.path.realpath(new_node_path))
        fresh = TerminalHost(node)
        self.addCleanup(fresh.close)
        fresh.send(ADDRESS_QUERY)
        received = fresh.receive(2)
        self.assertEqual(received, [0x06, 0x00])

        sim.command("quit")
        self.assertEqual(sim.proc.wait(timeout=TIMEOUT), 0)
        self.assertFalse(os.path.lexists(node))


class Configuration(wfharness.Scenario):
    def test_bad_configurations_are_refused(self):
        cases = [
            ({"modules": []}, "modules"),
            ({"modules": [module(address=7)]}, "address"),
            ({"modules": [module(serial="40F5849G")]}, "serial"),
            ({"modules": [module(model="NoSuchModel")]}, "model"),
            ({"modules": [module(transports=[{"type": "carrier-pigeon"}])]}, "type"),
            ({"modules": [module(submodules=[{"serial": "1", "address": 6}])]}, "used twice"),
        ]
        for config, word in cases:
            path = os.path.join(self.scratch, "bad.json")
            with open(path, "w") as out:
                json.dump(config, out)
            run = self.run_program("wfsim", path)
            self.assertEqual(run.status, 2, config)
            self.assertIn(word, run.err)
        run = self.run_program("wfsim", os.path.join(self.scratch, "missing.json"))
        self.assertEqual(run.status, 2)
        run = self.run_program("wfsim")
        self.assertEqual(run.status, 2)
        self.assertIn("usage: wfsim CONFIG.json [--log FILE]", run.err)


if __name__ == "__main__":
    wfharness.main()
