"""The ICMP heartbeat probe, seen from the operator's host: the message
field by field, the walk over a host's addresses, replies it must refuse,
and the failures it must log."""

import struct
import unittest

from sandbox import probe_driver, sandbox
from sandbox.icmp_peer import checksum

OPERATOR = sandbox.Network.OPERATOR
SECOND = "198.18.0.3"
MANY = ["198.18.0.%d" % n for n in range(10, 28)]  # 18 addresses


class IcmpProbeTest(unittest.TestCase):
    def setUp(self):
        self.net = sandbox.Network(hosts={"multi.example.com": [OPERATOR, SECOND], "many.example.com": MANY,
                                          "zero.example.com": ["0.0.0.0", OPERATOR]})
        self.addCleanup(self.net.cleanup)
        for address in [SECOND] + MANY:
            self.net.operator.host.run("ip", "addr", "add", address + "/24", "dev", "up0")
        probe_driver.install(self.net.router)

    def peer(self, mode, kernel_answers=False):
        self.net.operator.host.run("sysctl", "-qw", "net.ipv4.icmp_echo_ignore_all=%d" % (0 if kernel_answers else 1))
        peer = probe_driver.IcmpPeer(self.net.operator.host, mode)
        self.addCleanup(peer.cleanup)
        return peer

    def ping(self, host, nasid, passes, timeout, prefix=""):
        return probe_driver.run(self.net.router, ["ping", host, nasid, str(passes), str(timeout)], prefix=prefix)

    def test_message_carries_identity_and_telemetry_for_even_and_odd_lengths(self):
        peer = self.peer("capture", kernel_answers=True)
        for nasid in ("00-1A-2B-3C-4D-5E", "00-1A-2B-3C-4D-5E+"):
            before = len(peer.requests())
            run = self.ping(OPERATOR, nasid, 2, 3)
            # The operator's kernel checks the checksum before it answers.
            self.assertEqual("result 0\n", run.out, run.log)
            self.assertEqual([], run.messages())
            sandbox.wait_for(lambda: len(peer.requests()) > before, what="capture")
            requests = peer.requests()[before:]
            self.assertEqual(1, len(requests))
            _, src, dst, m = requests[0]
            self.assertEqual((sandbox.Network.ROUTER_WAN, OPERATOR), (src, dst))
            self.assertEqual(len(nasid) + 35, len(m))
            self.assertEqual(0, checksum(m), "checksum of a %d-byte message" % len(m))
            self.assertEqual((8, 0), (m[0], m[1]))
            self.assertEqual(0, struct.unpack("!H", m[6:8])[0], "first pass is sequence 0")
            self.assertEqual((1, 0), (m[8], m[9]))
            self.assertEqual(len(m) - 8, struct.unpack("!H", m[10:12])[0])
            self.assertEqual(b"ZELV", m[12:16])
            uptime, load, total, free, procs = struct.unpack("!IIIIH", m[16:34])
            with open("/proc/uptime") as f:
                self.assertLess(abs(float(f.read().split()[0]) - uptime), 60)
            with open("/proc/meminfo") as f:
                mem_total = int(f.readline().split()[1]) * 1024
            self.assertEqual(mem_total & 0xFFFFFFFF, total)
            self.assertLess(0, free)
            self.assertLess(0, procs)
            self.assertLess(load, 1000 * 65536)
            self.assertEqual(nasid.encode() + b"\0", m[34:])

    def test_each_address_in_turn_with_the_pass_as_sequence_number(self):
        peer = self.peer("capture")
        run = self.ping("multi.example.com", "nas", 2, 1)
        self.assertEqual("result -1\n", run.out)
        requests = peer.requests()
        self.assertEqual([(OPERATOR, 0), (SECOND, 0), (OPERATOR, 1), (SECOND, 1)],
                         [(dst, struct.unpack("!H", m[6:8])[0]) for _, _, dst, m in requests])
        self.assertEqual(1, len({m[4:6] for _, _, _, m in requests}), "one identifier per call")
        self.assertEqual(["spotwarden: test_ping: no reply received for ping packet to %s" % a
                          for a in (OPERATOR, SECOND) * 2], run.messages("user.notice"))

    def test_foreign_echo_reply_or_unreachable_never_ends_the_wait(self):
        for mode in ("wrong-id", "unreachable"):
            peer = self.peer(mode)
            run = self.ping("multi.example.com", "nas", 1, 1)
            self.assertEqual("result -1\n", run.out, mode)
            self.assertEqual([OPERATOR, SECOND], [dst for _, _, dst, _ in peer.requests()], mode)
            self.assertGreaterEqual(run.elapsed, 2, "%s: each address waits its whole timeout" % mode)
            # Echo replies reach the probe and are refused; the kernel keeps
            # every other ICMP type from it.
            refused = 2 if mode == "wrong-id" else 0
            self.assertEqual(["spotwarden: test_ping: incorrect length or magic in ping response"] * refused,
                             run.messages("user.debug"), mode)
            self.assertEqual(["spotwarden: test_ping: no reply received for ping packet to %s" % a
                              for a in (OPERATOR, SECOND)], run.messages("user.notice"), mode)
            peer.cleanup()

    def test_genuine_reply_after_foreign_datagrams_is_accepted(self):
        peer = self.peer("foreign-first")
        run = self.ping(OPERATOR, "nas", 1, 5)
        self.assertEqual("result 0\n", run.out)
        self.assertEqual(1, len(peer.requests()))
        self.assertEqual(["spotwarden: test_ping: incorrect length or magic in ping response"],
                         run.messages("user.debug"))
        self.assertEqual([], run.messages("user.notice"))

    def test_at_most_sixteen_addresses_are_probed(self):
        peer = self.peer("wrong-id")
        self.assertEqual("result -1\n", self.ping("many.example.com", "nas", 1, 1).out)
        self.assertEqual(MANY[:16], [dst for _, _, dst, _ in peer.requests()])

    def test_zero_timeout_waits_one_second_instead_of_for_ever(self):
        peer = self.peer("capture")
        run = self.ping(OPERATOR, "nas", 1, 0)
        self.assertEqual("result -1\n", run.out)
        self.assertEqual(1, len(peer.requests()))
        self.assertEqual(["spotwarden: test_ping: no reply received for ping packet to %s" % OPERATOR],
                         run.messages("user.notice"))

    def test_failures_send_nothing_and_log_why(self):
        peer = self.peer("capture", kernel_answers=True)
        nothing = self.ping(OPERATOR, "nas", 0, 1)
        self.assertEqual(("result -1\n", []), (nothing.out, nothing.messages()))

        unknown = self.ping("nosuchhost.example.com", "nas", 1, 1)
        self.assertEqual("result -1\n", unknown.out)
        self.assertEqual(["spotwarden: fill_sockaddr: unknown host: nosuchhost.example.com"],
                         unknown.messages("user.notice"))

        # Even with unprivileged ICMP sockets open to every group, the probe
        # needs a raw socket and so the privilege for it.
        self.net.router.host.run("sysctl", "-qw", "net.ipv4.ping_group_range=0 2147483647")
        unprivileged = self.ping(OPERATOR, "nas", 1, 1, prefix="setpriv --bounding-set=-net_raw")
        self.assertEqual("result -1\n", unprivileged.out, unprivileged.err)
        self.assertEqual(["spotwarden: test_ping: socket(): Operation not permitted"],
                         unprivileged.messages("user.notice"))

        too_big = self.ping(OPERATOR, "N" * 64, 1, 3)
        self.assertEqual("result 0\n", too_big.out)
        self.assertEqual(["spotwarden: test_ping: nasid is too big to send in ICMP!"], too_big.messages("user.notice"))
        self.assertEqual([b"TOOBIG!\0"], [m[34:] for _, _, _, m in peer.requests()])
        self.assertEqual(42, len(peer.requests()[0][3]))

        # 0.0.0.0 is the router itself, whose kernel would answer: never
        # probed, whether named so or among a name's addresses.
        zero = self.ping("0.0.0.0", "nas", 1, 1)
        self.assertEqual("result -1\n", zero.out)
        self.assertEqual(["spotwarden: test_ping: WARNING: no A records found for [0.0.0.0]"],
                         zero.messages("user.notice"))
        self.assertEqual("result 0\n", self.ping("zero.example.com", "nas", 1, 1).out)
        self.assertEqual([OPERATOR, OPERATOR], [dst for _, _, dst, _ in peer.requests()])


if __name__ == "__main__":
    unittest.main()
