"""wfsim's entities driven with raw packets over TCP: the system entity's
gets, sets and error replies, module information, byte strings in both
directions, a router's I2C bus and the sub-modules behind it, and the legacy
discovery answer over UDP."""

import json
import socket
import struct
import time

import wfharness
from test_wfsim import SERIAL, Sim, TIMEOUT

ADDRESS = 6
SYSTEM = 0x03
I2C = 0x08
INFO = 0x49
GET, SET, SET_REPLY, HOST, ERROR, MORE = 0x40, 0x80, 0xC0, 0x20, 0x80, 0x80
# aErr codes the module answers with
PARAM, IO, PERMISSION, SIZE, PACKET, INDEX_RANGE, INVALID_ENTITY, INVALID_OPTION = 2, 6, 12, 14, 24, 26, 28, 29

SUB_SERIAL = 0x40F5849B


def module(**extra):
    description = {"serial": SERIAL, "model": "HubFour", "address": ADDRESS, "version": "2.11.2", "build": 1234,
                   "router": 4, "transports": [{"type": "tcp"}]}
    description.update(extra)
    return description


def router(**extra):
    subs = [{"serial": "%08X" % SUB_SERIAL, "model": "SwitchDual", "address": 8, "build": 77},
            {"serial": "40F5849C", "model": "IOModule", "address": 10}]
    return module(model="RouterI2C", router=0, submodules=subs, **extra)


class Host:
    """Packets over one TCP connection to the simulator."""

    def __init__(self, sim):
        self.link = sim.connect()

    def send(self, address, data):
        self.link.send([address, len(data)] + list(data))

    def packet(self):
        head = self.link.receive(2)
        if len(head) < 2:
            raise AssertionError("no packet from the simulator")
        return head[0], self.link.receive(head[1])

    def ask(self, address, data):
        self.send(address, data)
        return self.packet()

    def get(self, option, value=(), address=ADDRESS, command=SYSTEM, index=0):
        return self.ask(address, [command, option | GET, index | HOST, *value])

    def set(self, option, value=(), address=ADDRESS, command=SYSTEM, index=0):
        return self.ask(address, [command, option | SET, index | HOST, *value])

    def nothing_pending(self, address=ADDRESS):
        """True when nothing was sent before the answer to an address query."""
        self.send(0xAD, [])
        return self.packet() == (address, [])

    def send_run(self, address, option, payload, sequences=None):
        """A byte-string set as its run of packets: 24 bytes each with a trailer."""
        chunks = [payload[i:i + 24] for i in range(0, len(payload), 24)] or [b""]
        for number, chunk in enumerate(chunks):
            sequence = (sequences[number] if sequences else number) & 0x7F
            trailer = sequence | (MORE if number < len(chunks) - 1 else 0)
            self.send(address, [SYSTEM, option | SET, HOST, *chunk, trailer])

    def receive_run(self, address, option):
        """A byte-string get reply: checks each packet's header and trailer."""
        payload, number = b"", 0
        while True:
            source, data = self.packet()
            if (source, data[:3]) != (address, [SYSTEM, option, 0]):
                raise AssertionError("unexpected packet %r" % ((source, data),))
            payload += bytes(data[3:-1])
            trailer = data[-1]
            if trailer & 0x7F != number % 128:
                raise AssertionError("sequence %d where %d was due" % (trailer & 0x7F, number % 128))
            number += 1
            if not trailer & MORE:
                return payload, number


def be32(value):
    return list(struct.pack(">I", value & 0xFFFFFFFF))


class SystemEntity(wfharness.Scenario):
    def setUp(self):
        super().setUp()
        system = {"27": -5, "45": 0x80000000, "12": 12000, "39": [1, 2, 3, 0xDEADBEEF], "3": None}
        self.sim = Sim(self, {"modules": [module(system=system)]})
        self.host = Host(self.sim)

    def test_gets_answer_bare_option_and_index_with_the_value_by_kind(self):
        cases = [
            (1, [ADDRESS]),  # module address
            (2, [4]),  # router
            (7, be32(0x2B000002)),  # version 2.11.2, packed
            (8, [4]),  # model code of HubFour
            (9, be32(0x40F5849A)),  # serial number
            (12, be32(12000)),  # configured input voltage
            (27, be32(-5)),  # signed temperature
            (43, be32(1234)),  # build
            (45, be32(0x80000000)),  # protocol features: pooled packets
        ]
        for option, value in cases:
            source, data = self.host.get(option)
            self.assertEqual((source, data), (ADDRESS, [SYSTEM, option, 0] + value), option)
        # A subindexed get carries the subindex as its value; the reply holds the bare word.
        self.assertEqual(self.host.get(39, [3]), (ADDRESS, [SYSTEM, 39, 0] + be32(0xDEADBEEF)))
        self.assertEqual(self.host.get(39, [0]), (ADDRESS, [SYSTEM, 39, 0] + be32(1)))

    def test_sets_and_calls_are_answered_recorded_and_logged(self):
        self.assertEqual(self.host.set(2, [8]), (ADDRESS, [SYSTEM, 2 | SET_REPLY, 0]))
        self.assertEqual(self.host.get(2), (ADDRESS, [SYSTEM, 2, 0, 8]))
        self.assertEqual(self.host.set(20, [1]), (ADDRESS, [SYSTEM, 20 | SET_REPLY, 0]))
        self.assertEqual(self.host.set(20, [0]), (ADDRESS, [SYSTEM, 20 | SET_REPLY, 0]))
        self.assertEqual(self.host.set(11), (ADDRESS, [SYSTEM, 11 | SET_REPLY, 0]))  # reset: a call
        self.assertEqual(self.host.set(34, be32(2500)), (ADDRESS, [SYSTEM, 34 | SET_REPLY, 0]))
        self.assertEqual(self.sim.command("sets"), ["sets %s 2=8 20=1 20=0 11=call 34=2500" % SERIAL])
        self.assertEqual(self.sim.command("router"), ["router %s routetome=01,00 probed=- pullups=-" % SERIAL])
        self.sim.logged(r"%s tcp note set system option 20=1$" % SERIAL)
        self.sim.logged(r"%s tcp note set system option 11=call$" % SERIAL)

    def test_error_replies_carry_the_code_after_the_flagged_index(self):
        cases = [
            ("unknown option", [SYSTEM, 5 | GET, HOST], [SYSTEM, 5, ERROR, INVALID_OPTION]),
            ("option left out", [SYSTEM, 3 | GET, HOST], [SYSTEM, 3, ERROR, INVALID_OPTION]),
            ("set of an unknown option", [SYSTEM, 5 | SET, HOST, 1], [SYSTEM, 5 | SET_REPLY, ERROR, INVALID_OPTION]),
            ("read-only option", [SYSTEM, 9 | SET, HOST] + be32(1), [SYSTEM, 9 | SET_REPLY, ERROR, PERMISSION]),
            ("set-only option", [SYSTEM, 20 | GET, HOST], [SYSTEM, 20, ERROR, PERMISSION]),
            ("value of the wrong size", [SYSTEM, 2 | SET, HOST, 0, 8], [SYSTEM, 2 | SET_REPLY, ERROR, SIZE]),
            ("subindex out of range", [SYSTEM, 39 | GET, HOST, 4], [SYSTEM, 39, ERROR, INDEX_RANGE]),
            ("no second system entity", [SYSTEM, 1 | GET, 1 | HOST], [SYSTEM, 1, 1 | ERROR, INVALID_ENTITY]),
            ("unknown entity", [0x30, 2 | GET, 3 | HOST], [0x30, 2, 3 | ERROR, INVALID_ENTITY]),
        ]
        for name, request, reply in cases:
            with self.subTest(name):
                self.assertEqual(self.host.ask(ADDRESS, request), (ADDRESS, reply))
        self.assertEqual(self.sim.command("sets"), ["sets %s -" % SERIAL])


class ByteStrings(wfharness.Scenario):
    def setUp(self):
        super().setUp()
        self.sim = Sim(self, {"modules": [module()]})
        self.host = Host(self.sim)

    def test_name_travels_in_runs_both_ways(self):
        # The default name is the model's name: one packet with trailer 0.
        self.assertEqual(self.host.get(32), (ADDRESS, [SYSTEM, 32, 0] + list(b"HubFour") + [0x00]))
        for size, packets in ((0, 1), (24, 1), (25, 2), (60, 3)):
            with self.subTest(size=size):
                name = bytes(range(0x41, 0x41 + 26)) * 3
                name = name[:size]
                self.host.send_run(ADDRESS, 32, name)
                # One reply, after the last packet of the run.
                self.assertEqual(self.host.packet(), (ADDRESS, [SYSTEM, 32 | SET_REPLY, 0]))
                self.assertTrue(self.host.nothing_pending())
                self.host.send(ADDRESS, [SYSTEM, 32 | GET, HOST])
                self.assertEqual(self.host.receive_run(ADDRESS, 32), (name, packets))
        self.sim.logged(r"set system option 32=4142434445")

    def test_sequence_numbers_wrap_at_128(self):
        words = bytes(range(256)) * 13  # 3328 bytes: 139 packets
        self.host.send_run(ADDRESS, 31, words)
        self.assertEqual(self.host.packet(), (ADDRESS, [SYSTEM, 31 | SET_REPLY, 0]))
        self.host.send(ADDRESS, [SYSTEM, 31 | GET, HOST])
        self.assertEqual(self.host.receive_run(ADDRESS, 31), (words, 139))

    def test_a_broken_run_is_refused_once_at_its_end(self):
        self.host.send_run(ADDRESS, 32, b"x" * 72, sequences=[0, 2, 3])
        self.assertEqual(self.host.packet(), (ADDRESS, [SYSTEM, 32 | SET_REPLY, ERROR, PACKET]))
        self.assertTrue(self.host.nothing_pending())
        # Too long for the module: refused, the old name stays.
        self.host.send_run(ADDRESS, 32, b"y" * 4097)
        self.assertEqual(self.host.packet(), (ADDRESS, [SYSTEM, 32 | SET_REPLY, ERROR, SIZE]))
        self.host.send(ADDRESS, [SYSTEM, 32 | GET, HOST])
        self.assertEqual(self.host.receive_run(ADDRESS, 32), (b"HubFour", 1))
        # A fresh run after an abandoned one starts again at 0.
        self.host.send(ADDRESS, [SYSTEM, 32 | SET, HOST] + [0x61] * 24 + [MORE])
        self.host.send_run(ADDRESS, 32, b"fresh")
        self.assertEqual(self.host.packet(), (ADDRESS, [SYSTEM, 32 | SET_REPLY, 0]))
        self.assertEqual(self.sim.command("sets"), ["sets %s 32=6672657368" % SERIAL])


class ModuleInformation(wfharness.Scenario):
    def test_build_has_uei_class_counts_and_debug_echo(self):
        sim = Sim(self, {"modules": [module(build=0x01020304, entities=[{"command": 0x5F, "options": [10]}])]})
        host = Host(sim)
        self.assertEqual(host.ask(ADDRESS, [INFO, 0xFF]), (ADDRESS, [INFO, 0xFF, 1, 2, 3, 4]))
        has_uei = [
            ((SYSTEM, 9, 0, GET), 0),
            ((SYSTEM, 9, 0, 0), 0),
            ((SYSTEM, 9, 0, SET), PERMISSION),
            ((SYSTEM, 20, 0, SET), 0),
            ((SYSTEM, 20, 0, GET), PERMISSION),
            ((SYSTEM, 11, 0, SET), 0),
            ((SYSTEM, 5, 0, GET), INVALID_OPTION),
            ((SYSTEM, 9, 1, GET), INVALID_ENTITY),
            ((0x5F, 10, 0, SET), 0),  # described in "entities"
            ((0x5F, 11, 0, SET), INVALID_OPTION),
            ((0x30, 1, 0, GET), INVALID_ENTITY),
            ((SYSTEM, 9, 0, GET | SET), PARAM),
        ]
        for (command, option, index, flags), result in has_uei:
            with self.subTest(command=command, option=option, index=index, flags=flags):
                self.assertEqual(host.ask(ADDRESS, [INFO, 1, command, option, index, flags]),
                                 (ADDRESS, [INFO, 1, command, option, index, result]))
        for command, count in ((SYSTEM, 1), (0x5F, 1), (I2C, 0), (0x30, 0)):
            self.assertEqual(host.ask(ADDRESS, [INFO, 4, command]), (ADDRESS, [INFO, 4, command, count]))
        self.assertEqual(host.ask(ADDRESS, [INFO, 5, SYSTEM, 0]), (ADDRESS, [INFO, 5, SYSTEM, 0, 0]))
        self.assertEqual(host.ask(ADDRESS, [INFO, 6, SYSTEM, 0]), (ADDRESS, [INFO, 6, SYSTEM, 0, 0]))
        echo = [0x17] + list(range(27))
        self.assertEqual(host.ask(ADDRESS, echo), (ADDRESS, echo))
        # A malformed query is not answered.
        host.send(ADDRESS, [INFO, 0xFF, 0])
        self.assertTrue(host.nothing_pending())


class Router(wfharness.Scenario):
    def setUp(self):
        super().setUp()
        self.sim = Sim(self, {"modules": [router()]})
        self.host = Host(self.sim)

    def write(self, address, data, speed=3, index=0):
        return self.host.ask(ADDRESS, [I2C, index, address, len(data), speed, *data])

    def test_the_bus_acknowledges_only_where_a_submodule_sits(self):
        self.assertEqual(self.host.set(20, [1]), (ADDRESS, [SYSTEM, 20 | SET_REPLY, 0]))
        for address in range(2, 254, 2):
            if address == ADDRESS:
                continue
            status = 0 if address in (8, 10) else 0x80 | IO
            self.assertEqual(self.write(address, [0, 0]), (ADDRESS, [I2C, 0, address, 0, status]), address)
        self.assertEqual(self.host.set(20, [0]), (ADDRESS, [SYSTEM, 20 | SET_REPLY, 0]))
        (line,) = self.sim.command("router")
        probed = ",".join("%02X" % a for a in range(2, 254, 2) if a != ADDRESS)
        self.assertEqual(line, "router %s routetome=01,00 probed=%s pullups=-" % (SERIAL, probed))
        self.sim.logged(r"note i2c write to 0x08 acknowledged$")
        self.sim.logged(r"note i2c write to 0x0C: nobody there$")

    def test_reads_pullups_and_refused_transfers(self):
        self.assertEqual(self.write(8, [5, 6, 7]), (ADDRESS, [I2C, 0, 8, 0, 0]))
        # A read hands back what was last written, zeros beyond it.
        self.assertEqual(self.host.ask(ADDRESS, [I2C, 0, 9, 5, 3]), (ADDRESS, [I2C, 0, 9, 5, 0, 5, 6, 7, 0, 0]))
        self.assertEqual(self.host.ask(ADDRESS, [I2C, 0, 13, 2, 3]), (ADDRESS, [I2C, 0, 13, 0, 0x80 | IO]))
        self.assertEqual(self.host.ask(ADDRESS, [I2C, 0, 1, 1]), (ADDRESS, [I2C, 0, 1, 1, 0]))
        self.assertEqual(self.host.ask(ADDRESS, [I2C, 0, 1, 0]), (ADDRESS, [I2C, 0, 1, 0, 0]))
        self.assertEqual(self.write(8, list(range(23))), (ADDRESS, [I2C, 0, 8, 0, 0]))
        refused = [
            ([I2C, 0, 8, 24, 3] + [0] * 23, SIZE),  # longer than a packet holds
            ([I2C, 0, 8, 4, 3, 1, 2], SIZE),  # fewer bytes than announced
            ([I2C, 0, 8, 1, 4, 1], PARAM),  # no such speed
            ([I2C, 1, 8, 1, 3, 1], INVALID_ENTITY),  # one bus only
        ]
        for request, code in refused:
            with self.subTest(request=request):
                source, data = self.host.ask(ADDRESS, request)
                self.assertEqual((source, data[:3], data[4]), (ADDRESS, request[:3], 0x80 | code))
        self.assertEqual(self.sim.command("router"),
                         ["router %s routetome=- probed=08,08 pullups=01,00" % SERIAL])
        self.assertEqual(self.host.ask(ADDRESS, [INFO, 4, I2C]), (ADDRESS, [INFO, 4, I2C, 1]))

    def test_submodules_answer_through_the_routers_link(self):
        self.assertEqual(self.host.get(9, address=8), (8, [SYSTEM, 9, 0] + be32(SUB_SERIAL)))
        self.assertEqual(self.host.get(1, address=8), (8, [SYSTEM, 1, 0, 8]))
        self.assertEqual(self.host.get(2, address=8), (8, [SYSTEM, 2, 0, ADDRESS]))  # its router
        self.assertEqual(self.host.get(8, address=10), (10, [SYSTEM, 8, 0, 3]))  # IOModule
        self.assertEqual(self.host.ask(8, [INFO, 0xFF]), (8, [INFO, 0xFF] + be32(77)))
        self.assertEqual(self.host.set(4, [1], address=10), (10, [SYSTEM, 4 | SET_REPLY, 0]))
        # The bus belongs to the router, not to the modules on it.
        self.assertEqual(self.host.ask(8, [INFO, 4, I2C]), (8, [INFO, 4, I2C, 0]))
        self.assertEqual(self.sim.command("sets"),
                         ["sets %s -" % SERIAL, "sets %08X -" % SUB_SERIAL, "sets 40F5849C 4=1"])

    def test_a_module_without_a_bus_does_not_take_i2c_packets(self):
        sim = Sim(self, {"modules": [module()]})
        host = Host(sim)
        host.send(ADDRESS, [I2C, 0, 8, 2, 3, 0, 0])
        self.assertTrue(host.nothing_pending())
        self.assertEqual(sim.stats()["unhandled"], "1")


class LegacyDiscovery(wfharness.Scenario):
    """Other tests in the namespace may run responders and listeners of their
    own at the same time: only replies carrying this test's serial numbers
    count, and a request whose reply another listener took is sent again."""

    ATTEMPTS = 3

    def listen(self):
        listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.addCleanup(listener.close)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("", 9889))
        return listener

    def request(self, interfaces=("198.51.100.1", "198.51.100.2"), payload=bytes([1] + [0] * 15)):
        """Sends the request as hosts do: from every non-loopback interface."""
        for interface in interfaces:
            sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            sender.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(interface))
            sender.sendto(payload, ("232.2.2.2", 9888))
            sender.close()

    def replies(self, listener, serials, wait=2.0):
        """{serial: [(sender address, datagram), ...]} of the replies that name one of the serials."""
        found = {}
        listener.settimeout(wait)
        try:
            while True:
                data, (host, _) = listener.recvfrom(64)
                if len(data) == 16 and struct.unpack("<I", data[4:8])[0] in serials:
                    found.setdefault(struct.unpack("<I", data[4:8])[0], []).append((host, data))
        except socket.timeout:
            return found

    def discover(self, listener, wanted, unwanted=(), interfaces=("198.51.100.1", "198.51.100.2")):
        found = {}
        for _ in range(self.ATTEMPTS):
            self.request(interfaces)
            for serial, replies in self.replies(listener, set(wanted) | set(unwanted)).items():
                found.setdefault(serial, []).extend(replies)
            if set(wanted) <= set(found):
                break
        return found

    def test_reply_names_the_module_and_its_tcp_port(self):
        modules = [module(transports=[{"type": "tcp", "discovery": {"interface": "198.51.100.2"}}]),
                   module(serial="1234ABCD", address=10, model="NetIO",
                          transports=[{"type": "tcp", "address": "198.51.100.2"}]),
                   module(serial="0000BEEF", address=12, transports=[{"type": "tcp"}]),
                   module(serial="0000BEEE", address=14,
                          transports=[{"type": "tcp", "address": "198.51.100.1", "discovery": False}])]
        sim = Sim(self, {"modules": modules})
        ports = {line[1]: int(line[2].rsplit(":", 1)[1]) for line in sim.transports}
        listener = self.listen()
        found = self.discover(listener, wanted=(0x40F5849A, 0x1234ABCD), unwanted=(0x0000BEEF, 0x0000BEEE))
        # A module on loopback answers only where it is told to; one told not to stays silent.
        self.assertEqual(sorted(found), [0x1234ABCD, 0x40F5849A])
        # Each answers from its listen address, which the host will connect to.
        expected = {
            0x40F5849A: ("127.0.0.1", bytes([0, ADDRESS]) + struct.pack("<HI", ports[SERIAL], 0x40F5849A) +
                         bytes(4) + bytes([4, 0, 0, 0])),
            0x1234ABCD: ("198.51.100.2", bytes([0, 10]) + struct.pack("<HI", ports["1234ABCD"], 0x1234ABCD) +
                         bytes(4) + bytes([14, 0, 0, 0])),
        }
        for serial, replies in found.items():
            for reply in replies:
                self.assertEqual(reply, expected[serial])
        sim.logged(r"%s udp note discovery request from 198.51.100.2 answered from 127.0.0.1$" % SERIAL)
        # Anything but the 16-byte request is ignored.
        self.request(payload=bytes([2] + [0] * 15))
        self.assertEqual(self.replies(listener, {0x40F5849A, 0x1234ABCD}, wait=1.0), {})
        sim.logged(r"%s udp note discovery: ignored 16 bytes from" % SERIAL)

    def test_the_interface_can_be_chosen(self):
        transports = [{"type": "tcp", "discovery": {"interface": "198.51.100.1"}}]
        sim = Sim(self, {"modules": [module(transports=transports)]})
        listener = self.listen()
        self.request(interfaces=("198.51.100.2",))
        self.assertEqual(self.replies(listener, {0x40F5849A}, wait=1.0), {})
        found = self.discover(listener, wanted=(0x40F5849A,), interfaces=("198.51.100.1",))
        self.assertEqual({host for host, _ in found[0x40F5849A]}, {"127.0.0.1"})
        sim.logged(r"%s udp note discovery on 198.51.100.1$" % SERIAL)


class Configuration(wfharness.Scenario):
    def test_bad_entity_descriptions_are_refused(self):
        cases = [
            (module(system={"99": 1}), "system.99: no such option"),
            (module(system={"2": 300}), "system.2: expected an integer from 0 to 255"),
            (module(system={"9": 1 << 32}), "system.9: expected a 32-bit integer"),
            (module(system={"32": 5}), "system.32: expected a text or a list of bytes"),
            (module(system={"39": [1, 2]}), "system.39: expected a list of 4 words"),
            (module(system={"11": 1}), "system.11: an action has no value"),
            (module(system=[1]), "system: expected an object"),
            (module(entities=[{"command": 300}]), "entities[0].command"),
            (module(entities=[{"command": 95, "options": [64]}]), "entities[0].options"),
            (module(transports=[{"type": "tcp", "discovery": "yes"}]), "discovery: expected"),
            (module(transports=[{"type": "tcp", "discovery": {"interface": "203.0.113.9"}}]),
             "cannot join 232.2.2.2 on 203.0.113.9"),
        ]
        path = self.scratch + "/bad.json"
        for config, message in cases:
            with self.subTest(message):
                with open(path, "w") as out:
                    json.dump({"modules": [config]}, out)
                run = self.run_program("wfsim", path)
                self.assertEqual(run.status, 2)
                self.assertIn(message, run.err)


if __name__ == "__main__":
    wfharness.main()
