"""spotwarden on a deployed router's traffic and surroundings: a raw socket
that sees foreign ICMP before each heartbeat reply, a parent that hands it
SIGCHLD ignored, and a RADIUS server name that stands for no address."""

import unittest

from sandbox import hotspot as kit
from sandbox import sandbox
from sandbox import probe_driver

R001 = "/www/zelvanet_R001.html"
DEBUG_REFUSED = ("user.debug", "test_ping: incorrect length or magic in ping response")
# Execs spotwarden with SIGCHLD ignored, as some init scripts and shells leave it.
SIGCHLD_IGNORED = ("/usr/bin/python3 -c 'import os, signal, sys; signal.signal(signal.SIGCHLD, signal.SIG_IGN); "
                   "os.execv(sys.argv[1], sys.argv[1:])' ")


def online(spot):
    spot.wait_logged("chilli is online", timeout=60)
    sandbox.wait_for(lambda: "SIGUSR2" in spot.signal_names(), timeout=10, what="SIGUSR2")


class HeartbeatTest(unittest.TestCase):
    def test_foreign_icmp_before_every_reply_keeps_the_router_online_and_an_outage_is_still_seen(self):
        spot = self.enterContext(kit.Hotspot())
        spot.operator.host.run("sysctl", "-qw", "net.ipv4.icmp_echo_ignore_all=1")
        peer = probe_driver.IcmpPeer(spot.operator.host, "foreign-first")
        self.addCleanup(peer.cleanup)
        spot.serve(settings=kit.settings_file(), portal=kit.portal_file())
        spot.operator.start_http()
        spot.start()
        online(spot)

        # Every heartbeat meets an unreachable and a foreign echo reply first.
        sandbox.wait_for(lambda: len(peer.requests()) >= 8, timeout=60, what="eight heartbeats")
        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2"], spot.signal_names())
        self.assertFalse(spot.logged("router offline"))
        self.assertFalse(spot.logged("no reply received for ping packet"))
        # One send per heartbeat, and only the foreign echo reply reaches the
        # probe: the kernel filters the unreachable.
        sends = len(peer.requests())
        self.assertIn(spot.messages().count(DEBUG_REFUSED), (sends - 1, sends, sends + 1))

        # A real outage is still seen within one interval and the passes.
        spot.net.wan(False)
        sandbox.wait_for(lambda: "SIGUSR1" in spot.signal_names(), timeout=15, what="SIGUSR1")
        spot.wait_logged("router offline - can't ping " + sandbox.OPERATOR_HOST, timeout=5)
        self.assertEqual(R001, spot.router.link_target())
        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2", "SIGUSR1"], spot.signal_names())


class StartTest(unittest.TestCase):
    def test_started_with_sigchld_ignored_and_a_radius_name_for_no_address(self):
        spot = self.enterContext(kit.Hotspot())
        spot.router.root.write_hosts({sandbox.OPERATOR_HOST: sandbox.Network.OPERATOR,
                                      "radius-gone.example.com": "0.0.0.0"})
        # Anything on the router's own RADIUS ports would answer.
        itself = kit.RadiusPeer(spot.net, "sizes", on_router=True)
        self.addCleanup(itself.cleanup)
        spot.serve(settings=kit.settings_file(),
                   portal=kit.portal_file(server1="radius-gone.example.com", server2=sandbox.Network.OPERATOR))
        spot.operator.start_http()
        spot.start(launcher=SIGCHLD_IGNORED)
        online(spot)
        # Every exit status is still read...
        self.assertFalse(spot.logged("waitpid()"))
        self.assertIn(("user.debug", "child 'wget' exited with status: 0"), spot.messages())
        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2"], spot.signal_names())
        # ...and the name for no address is never probed on the router itself.
        self.assertEqual([], itself.datagrams())
        self.assertLessEqual(2, sum(m == "new_radius_socket: WARNING: no A records found for [radius-gone.example.com]"
                                for _, m in spot.messages()))
        self.assertTrue(spot.logged("radius accounting test to [198.18.0.1] successful"))
        self.assertTrue(spot.logged("radius authentication test to [198.18.0.1] successful"))


if __name__ == "__main__":
    unittest.main()
