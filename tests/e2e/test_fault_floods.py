"""Hostile replies to the probes: an ICMP flood of foreign echo replies and
destination-unreachable messages while the heartbeat runs, and RADIUS
replies of 0 and 4096 bytes."""

import os
import unittest

from tests.e2e import fault_kit
from sandbox import hotspot as kit
from sandbox import sandbox

FLOODER = os.path.join(sandbox.SOURCE_DIR, "sandbox", "icmp_flooder.py")


class Flooder:
    def __init__(self, net, rate):
        fd, self.path = sandbox.tempfile.mkstemp(prefix="swflood.")
        os.close(fd)
        self.proc = net.operator.host.popen(["/usr/bin/python3", FLOODER, net.ROUTER_WAN, str(rate),
                                             self.path])
        sandbox.wait_for(lambda: self.lines()[:1] == ["ready"], what="ICMP flooder")

    def lines(self):
        return sandbox.complete_lines(self.path)

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
        spot = self.enterContext(kit.Hotspot())
        spot.start_online(kit.settings_file(icmpping_interval=1, icmpping_failure_wait=1, webping_interval=60),
                          kit.portal_file())
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
        spot.wait_logged("router offline - can't ping " + sandbox.OPERATOR_HOST, timeout=5)
        heard = flood.probes_seen()
        sandbox.wait_for(lambda: flood.probes_seen() >= heard + 6 and flood.sent() > 5000, timeout=30,
                         what="probes under a flood of 5000, however slowly the flooder sends")
        flood.stop()
        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2", "SIGUSR1"], spot.signal_names())
        self.assertEqual("/www/zelvanet_R001.html", spot.router.link_target())
        rejected = spot.messages().count(("user.debug", "test_ping: incorrect length or magic in ping response"))
        self.assertGreaterEqual(rejected, 6)
        # No datagram of the flood ended a wait early: each ran to its timeout.
        self.assertTrue(spot.logged("no reply received for ping packet"))

        # The real answers are back: online again, nothing left open.
        spot.operator.host.run("sysctl", "-qw", "net.ipv4.icmp_echo_ignore_all=0")
        sandbox.wait_for(lambda: spot.signal_names().count("SIGUSR2") == 2, timeout=15, what="SIGUSR2")
        spot.wait_logged("router online - successful ping to " + sandbox.OPERATOR_HOST, timeout=5)
        self.assertIsNone(spot.router.link_target())
        self.assertTrue(fault_kit.alive(supervisor))
        sandbox.wait_for(lambda: fault_kit.fd_count(supervisor) == fds, timeout=5, what="descriptors as before")


class RadiusReplySizeTest(unittest.TestCase):
    def test_empty_and_4096_byte_replies_both_prove_the_server_alive(self):
        spot = self.enterContext(kit.Hotspot(radius=False))
        peer = kit.RadiusPeer(spot.net, "sizes")
        self.addCleanup(peer.cleanup)
        address = kit.RadiusPeer.ADDRESS
        spot.start_online(kit.settings_file(), kit.portal_file(server1=address, server2=address))
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
