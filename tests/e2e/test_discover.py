"""`updater -D` against simulated modules: the TCP/IP listing, the scan of
the modules behind a router, an empty USB bus, and a module that answers
discovery but refuses the connection."""

import re
import socket
import struct
import threading

import wfharness
from test_wfsim import Sim

HEADER = "    Device    Module   Router  Model          Firmware Version (Build)"


def tcp_module(serial, model, address, version, build, **extra):
    description = {"serial": serial, "model": model, "address": address, "version": version, "build": build,
                   "transports": [{"type": "tcp", "address": "127.0.0.1", "discovery": {"interface": "198.51.100.1"}}]}
    description.update(extra)
    return description


class LegacyResponder:
    """Answers one legacy discovery request with a module whose TCP port has
    no listener: discovery finds it, connecting fails."""

    def __init__(self, serial, address, model):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("", 9888))
        membership = socket.inet_aton("232.2.2.2") + socket.inet_aton("198.51.100.2")
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, membership)
        self.sock.settimeout(20)
        closed = socket.socket()
        closed.bind(("127.0.0.1", 0))
        port = closed.getsockname()[1]
        closed.close()
        self.reply = bytes([0, address]) + struct.pack("<HI", port, serial) + bytes(4) + bytes([model, 0, 0, 0])
        self.thread = threading.Thread(target=self._answer, daemon=True)
        self.thread.start()

    def _answer(self):
        try:
            _, sender = self.sock.recvfrom(16)
            self.sock.sendto(self.reply, (sender[0], 9889))
        except OSError:
            pass

    def close(self):
        self.thread.join(timeout=30)
        self.sock.close()


class DiscoverScenario(wfharness.Scenario):
    def discover(self, *args):
        run = self.updater("-D", "-i", self.scratch, *args)
        self.assertEqual(run.status, 0, run.err)
        self.assertEqual(run.err, "")
        lines = run.out.splitlines()
        self.assertEqual(lines[0], "Updater (Version: 2.11.2 Apr 29 2025)")
        return lines[1:]

    def test_tcpip_lists_every_module_with_its_address(self):
        Sim(self, {"modules": [tcp_module("40F5849A", "HubFour", 6, "2.11.2", 1234, router=4),
                               tcp_module("2181F0EE", "NetIO", 8, "3.1.4", 99)]})
        lines = self.discover("-t", "TCPIP")
        self.assertEqual(lines[:3], ["Searching for Wrenfield devices", "Discovered Devices: (TCPIP)",
                                     HEADER + "   [IP address]"])
        self.assertEqual(sorted(lines[3:]), [
            "    2181F0EE  08       00      NetIO          3.1.4 (99) [127.0.0.1]",
            "    40F5849A  06       04      HubFour        2.11.2 (1234) [127.0.0.1]",
        ])

    def test_router_scan_lists_the_modules_behind_it(self):
        subs = [{"serial": "40F5849B", "model": "SwitchDual", "address": 8, "version": "1.2.3", "build": 77},
                {"serial": "40F5849C", "model": "IOModule", "address": 10, "build": 5}]
        sim = Sim(self, {"modules": [tcp_module("D272031D", "RouterI2C", 4, "2.0.0", 1, submodules=subs)]})
        lines = self.discover("-r", "D272031D", "-t", "TCPIP")
        self.assertEqual(lines, [
            "Searching for Wrenfield Network devices connected to D272031D",
            "Discovered Devices: (TCPIP)",
            HEADER + "   [IP address]",
            "    40F5849B  08       04      SwitchDual     1.2.3 (77) [127.0.0.1]",
            "    40F5849C  0A       04      IOModule       0.0.0 (5) [127.0.0.1]",
        ])
        report = sim.command("router")[0]
        probed = re.search(r"probed=(\S+)", report).group(1).split(",")
        self.assertEqual(probed, ["%02X" % a for a in range(2, 253, 2) if a != 4])
        self.assertIn("routetome=01,00", report)

        # Without a transport the router is looked for on USB, then TCP/IP.
        lines = self.discover("-r", "D272031D")
        self.assertEqual(lines[1], "Discovered Devices: (Unknown)")
        self.assertEqual(len(lines), 5)

    def test_router_with_nothing_behind_it_and_unknown_router(self):
        Sim(self, {"modules": [tcp_module("D272031D", "RouterI2C", 4, "2.0.0", 1, submodules=[])]})
        for router in ("D272031D", "12345678"):
            self.assertEqual(self.discover("-r", router, "-t", "TCPIP")[1:],
                             ["Discovered Devices: (TCPIP)", "    No devices found."])

    def test_empty_transports(self):
        self.assertEqual(self.discover(), ["Searching for Wrenfield devices", "Discovered Devices: (USB)",
                                           "    No devices found."])
        self.assertEqual(self.discover("-t", "TCP")[1:], ["Discovered Devices: (TCPIP)", "    No devices found."])

    def test_a_module_that_refuses_the_connection_is_listed_with_zeros(self):
        responder = LegacyResponder(0x0BADCAFE, 0x0C, 4)
        try:
            lines = self.discover("-t", "TCPIP")
        finally:
            responder.close()
        self.assertEqual(len(lines), 4, lines)
        self.assertRegex(lines[3], r"^    0BADCAFE  0C       0C      HubFour        0\.0\.0 \(0\) \[198\.51\.100\.\d\]$")

    def test_usb_listing_in_simulation_mode_and_a_module_held_elsewhere(self):
        socket_path = self.scratch + "/vbus.sock"
        usb = {"type": "usb"}
        sim = Sim(self, {"virtual_bus": {"socket": socket_path}, "modules": [
            {"serial": "5A3C0001", "model": "HubEight", "address": 2, "version": "2.12.0", "build": 1240,
             "transports": [usb]},
            {"serial": "5A3C0002", "model": "PowerIO", "address": 4, "version": "2.9.10", "build": 1199,
             "transports": [usb]}]})
        sim.command("usb busy 5A3C0002 on")
        run = self.updater("-D", "-i", self.scratch, env=self.env(WRENFIELD_VIRTUAL_BUS=socket_path))
        self.assertEqual(run.status, 0, run.err)
        lines = run.out.splitlines()[2:]
        self.assertEqual(lines[:2], ["Discovered Devices: (USB)", HEADER])
        self.assertEqual(sorted(lines[2:])[0], "    5A3C0001  02       00      HubEight       2.12.0 (1240)")
        self.assertRegex(sorted(lines[2:])[1],
                         r"^    5A3C0002  \[Error \(\d+\): Is someone else connected to this device\?\]$")


if __name__ == "__main__":
    wfharness.main()
