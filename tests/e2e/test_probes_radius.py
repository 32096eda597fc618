"""The RADIUS probes against a real FreeRADIUS and against a silent or
absent server on the operator's host."""

import hashlib
import unittest

from sandbox import probe_driver, radius, sandbox

NASID = "00-1A-2B-3C-4D-5E"
DEFAULT_SECRET = "kestrelmoss9"
SECOND = "198.18.0.3"


class RadiusProbeTest(unittest.TestCase):
    def setUp(self):
        self.net = sandbox.Network(hosts={"radius.example.com": [sandbox.Network.OPERATOR, SECOND],
                                          "twin.example.com": [SECOND, sandbox.Network.OPERATOR]})
        self.addCleanup(self.net.cleanup)
        self.net.operator.host.run("ip", "addr", "add", SECOND + "/24", "dev", "up0")
        probe_driver.install(self.net.router)

    def probe(self, *args):
        return probe_driver.run(self.net.router, [str(a) for a in args])

    def silent(self, address, port):
        listener = radius.SilentUdp(self.net.operator.host, address, port)
        self.addCleanup(listener.cleanup)
        return listener

    def test_real_server_answers_right_and_default_secret_and_drops_a_wrong_one(self):
        server = radius.FreeRadius(self.net.operator.host, sandbox.Network.OPERATOR, DEFAULT_SECRET)
        self.addCleanup(server.cleanup)
        server.start()
        for kind, secret, what in (("acct", DEFAULT_SECRET, "accounting"), ("acct", "-", "accounting"),
                                   ("auth", "-", "authentication")):
            run = self.probe(kind, "198.18.0.1", NASID, secret, 0, 4)
            self.assertEqual((0, "result 0\n"), (run.rc, run.out), (kind, secret, run.log))
            self.assertIn("spotwarden: test_radius_%s: radius %s test to [198.18.0.1] successful" % (kind, what),
                          run.messages("user.notice"))

        run = self.probe("acct", "198.18.0.1", NASID, "not-the-secret", 1, 1)
        self.assertEqual("result -1\n", run.out)
        self.assertEqual(["spotwarden: test_radius: no reply received for radius packet"] * 2,
                         run.messages("user.debug"))
        self.assertEqual([], run.messages("user.notice"))
        sandbox.wait_for(lambda: server.log().count("Shared secret is incorrect") == 2, timeout=5,
                         what="both sends rejected for their authenticator")

    def test_silent_server_gets_retries_plus_one_identical_datagrams_timeout_apart(self):
        listener = self.silent(sandbox.Network.OPERATOR, 1813)
        run = self.probe("acct", "198.18.0.1", NASID, "-", 2, 2)
        self.assertEqual("result -1\n", run.out)
        got = listener.datagrams()
        self.assertEqual(3, len(got))
        self.assertEqual(1, len({data for _, _, data in got}), "every send repeats the same bytes")
        for earlier, later in zip(got, got[1:]):
            self.assertTrue(1.8 < later[0] - earlier[0] < 6.0, got)  # no resend before the timeout
        # The authenticator checks out with the default secret (RFC 2866).
        packet = got[0][2]
        self.assertEqual((4, 55), (packet[0], len(packet)))
        blank = packet[:4] + bytes(16) + packet[20:]
        self.assertEqual(hashlib.md5(blank + DEFAULT_SECRET.encode()).digest(), packet[4:20])
        self.assertEqual(NASID.encode(), packet[38:])
        self.assertEqual(3, run.messages("user.debug").count(
            "spotwarden: test_radius: no reply received for radius packet"))

    def test_closed_port_ends_the_probe_at_once(self):
        run = self.probe("auth", "198.18.0.1", NASID, "-", 3, 5)
        self.assertEqual("result -1\n", run.out)
        # Four waits of 5 s would take 20 s; a run takes about one on a quiet machine.
        self.assertLess(run.elapsed, 12, "the probe must not wait after the port unreachable")
        self.assertEqual(["spotwarden: test_radius: recv(): Connection refused"], run.messages("user.notice"))
        self.assertEqual([], run.messages("user.debug"))

    def test_unknown_host_is_logged_and_nothing_sent(self):
        run = self.probe("acct", "nosuchhost.example.com", NASID, "-", 0, 1)
        self.assertEqual("result -1\n", run.out)
        self.assertEqual(["spotwarden: fill_sockaddr: unknown host: nosuchhost.example.com",
                          "spotwarden: test_radius: failed to create radius socket"],
                         run.messages("user.notice"))

    def test_host_with_several_addresses_gets_only_its_first_one_probed(self):
        first = self.silent(sandbox.Network.OPERATOR, 1812)
        second = self.silent(SECOND, 1812)
        self.assertEqual("result -1\n", self.probe("auth", "radius.example.com", NASID, "-", 1, 1).out)
        self.assertEqual((2, 0), (len(first.datagrams()), len(second.datagrams())))
        self.assertEqual("result -1\n", self.probe("auth", "twin.example.com", NASID, "-", 0, 1).out)
        self.assertEqual((2, 1), (len(first.datagrams()), len(second.datagrams())))

    def test_nasid_of_64_characters_sends_nothing(self):
        listener = self.silent(sandbox.Network.OPERATOR, 1813)
        run = self.probe("acct", "198.18.0.1", "N" * 64, "-", 0, 1)
        self.assertEqual("result -1\n", run.out)
        self.assertEqual(["spotwarden: test_radius_acct: nasid too long, giving up"], run.messages("user.notice"))
        self.assertEqual([], listener.datagrams())


if __name__ == "__main__":
    unittest.main()
