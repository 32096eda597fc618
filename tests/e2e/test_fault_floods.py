"""Hostile replies to the probes: an ICMP flood of foreign echo replies and
destination-unreachable messages while the heartbeat runs, and RADIUS
replies of 0 and 4096 bytes."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import fault_kit  # noqa: E402
import hotspot_kit as kit  # noqa: E402
from hotspot_kit import sandbox  # noqa: E402

# Runs in the operator's namespace. Floods the router with ICMP that is not
# an answer to its probe: echo replies with other identifiers (half of them
# carrying the probe's magic), short and long ones, destination-unreachable
# and time-exceeded messages. Every probe it sees is answered at once with a
# burst of unreachables quoting it and an echo reply with its identifier
# inverted. Identifiers of probes seen are never used.
FLOODER = r"""
import os, random, socket, struct, sys, threading, time
sys.path.insert(0, sys.argv[1])
from sandbox.icmp_peer import with_checksum
router, rate, log = sys.argv[2], int(sys.argv[3]), open(sys.argv[4], "a", buffering=1)
seen = set()
out = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
rnd = random.Random(8)

def send(message):
    out.sendto(with_checksum(message), (router, 0))

def foreign_id():
    while True:
        i = rnd.randrange(65536)
        if i not in seen:
            return i

def answer_probes():
    cap = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(0x0800))
    cap.bind(("up0", 0))
    while True:
        frame, info = cap.recvfrom(65535)
        ip = frame[14:]
        ihl = (ip[0] & 15) * 4
        if info[2] != socket.PACKET_HOST or ip[9] != 1 or len(ip) < ihl + 8 or ip[ihl] != 8:
            continue
        icmp = ip[ihl:]
        ident = struct.unpack("!H", icmp[4:6])[0]
        seen.add(ident)
        for code in range(4):
            send(bytes([3, code]) + bytes(6) + ip[:ihl + 8])
        send(b"\0\0\0\0" + struct.pack("!H", ident ^ 0xFFFF) + icmp[6:])
        log.write("probe %d\n" % ident)

threading.Thread(target=answer_probes, daemon=True).start()
log.write("ready\n")
sent = 0
while True:
    for _ in range(rate // 100):
        kind = rnd.randrange(6)
        head = b"\0\0\0\0" + struct.pack("!HH", foreign_id(), rnd.randrange(65536))
        if kind == 0:
            send(head)
        elif kind == 1:
            send(head + b"\1\0\0\x2cZELV" + os.urandom(rnd.randrange(60)))
        elif kind == 2:
            send(head + os.urandom(1400))
        elif kind == 3:
            send(b"\3\3" + bytes(6) + bytes([0x45]) + os.urandom(27))
        elif kind == 4:
            send(b"\x0b\0" + bytes(6) + bytes([0x45]) + os.urandom(27))
        else:
            send(head + b"\1\0\0\x2cZELV")
        sent += 1
    log.write("sent %d\n" % sent)
    time.sleep(0.01)
"""

class Flooder:
    def __init__(self, net, rate):
        fd, self.path = sandbox.tempfile.mkstemp(prefix="swflood.")
        os.close(fd)
        self.proc = net.operator.host.popen(["/usr/bin/python3", "-c", FLOODER, sandbox.SOURCE_DIR,
                                             net.ROUTER_WAN, str(rate), self.path])
        sandbox.wait_for(lambda: self.lines()[:1] == ["ready"], what="ICMP flooder")

    def lines(self):
        with open(self.path) as f:
            return f.read().splitlines()

    def sent(self):
        counts = [int(line.split()[1]) for line in self.lines() if line.startswith("sent ")]
        return counts[-1] if counts else 0

    def probes_seen(self):
        return sum(line.startswith("probe ") for line in self.lines())

    def stop(self):
        sandbox.stop(self.proc)

    def cleanup(self):
        self.stop()
        os.unlink(self.path)


class IcmpFloodTest(unittest.TestCase):
    def test_foreign_replies_never_pass_for_the_heartbeat_and_the_loop_survives(self):
        spot = kit.Hotspot(self)
        spot.serve(settings=kit.settings_file(icmpping_interval=1, icmpping_failure_wait=1, webping_interval=60),
                   portal=kit.portal_file())
        spot.operator.start_http()
        spot.start()
        spot.wait_logged("chilli is online", timeout=40)
        icmp = kit.IcmpCapture(spot.operator.host)
        self.addCleanup(icmp.cleanup)
        sandbox.wait_for(lambda: len(icmp.times()) >= 2, timeout=15, what="heartbeats")
        supervisor, _ = fault_kit.spotwarden_pids(spot.router)
        fds = fault_kit.fd_count(supervisor)

        # Only the flood answers now.
        flood = Flooder(spot.net, 2000)
        self.addCleanup(flood.cleanup)
        spot.operator.host.run("sysctl", "-qw", "net.ipv4.icmp_echo_ignore_all=1")
        sandbox.wait_for(lambda: "SIGUSR1" in spot.signal_names(), timeout=15, what="SIGUSR1")
        spot.wait_logged("router offline - can't ping portal.example.com", timeout=5)
        heard = flood.probes_seen()
        sandbox.wait_for(lambda: flood.probes_seen() >= heard + 6, timeout=30, what="probes under the flood")
        flood.stop()
        self.assertGreater(flood.sent(), 5000)
        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2", "SIGUSR1"], spot.signal_names())
        self.assertEqual("/www/zelvanet_R001.html", spot.router.link_target())
        rejected = spot.messages().count(("user.debug", "test_ping: incorrect length or magic in ping response"))
        self.assertGreaterEqual(rejected, 6)
        # No datagram of the flood ended a wait early: each ran to its timeout.
        self.assertTrue(spot.logged("no reply received for ping packet"))

        # The real answers are back: online again, nothing left open.
        spot.operator.host.run("sysctl", "-qw", "net.ipv4.icmp_echo_ignore_all=0")
        sandbox.wait_for(lambda: spot.signal_names().count("SIGUSR2") == 2, timeout=15, what="SIGUSR2")
        spot.wait_logged("router online - successful ping to portal.example.com", timeout=5)
        self.assertIsNone(spot.router.link_target())
        self.assertTrue(fault_kit.alive(supervisor))
        sandbox.wait_for(lambda: fault_kit.fd_count(supervisor) == fds, timeout=5, what="descriptors as before")


class RadiusReplySizeTest(unittest.TestCase):
    def test_empty_and_4096_byte_replies_both_prove_the_server_alive(self):
        spot = kit.Hotspot(self, radius=False)
        peer = kit.RadiusPeer(spot.net, "sizes")
        self.addCleanup(peer.cleanup)
        address = kit.RadiusPeer.ADDRESS
        spot.serve(settings=kit.settings_file(), portal=kit.portal_file(server1=address, server2=address))
        spot.operator.start_http()
        spot.start()
        spot.wait_logged("chilli is online", timeout=40)
        sandbox.wait_for(lambda: "SIGUSR2" in spot.signal_names(), timeout=10, what="SIGUSR2")

        # One request each, answered at the first try.
        self.assertEqual([1813, 1812], [p for _, p in peer.datagrams()])
        self.assertTrue(spot.logged("radius accounting test to [%s] successful" % address))
        self.assertTrue(spot.logged("radius authentication test to [%s] successful" % address))
        self.assertEqual(["/www/zelvanet_R002.html", None], kit.without_blips(spot.watcher.changes))
        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2"], spot.signal_names())
        self.assertTrue(fault_kit.alive(fault_kit.spotwarden_pids(spot.router)[0]))


if __name__ == "__main__":
    unittest.main()
