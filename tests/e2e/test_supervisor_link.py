"""spotwarden's talkback loop when the upstream path to the operator breaks
and comes back: the portal switched offline and online with the heartbeat,
and the operator told so by the shipped alerting rules (Prometheus,
Alertmanager, a webhook; or vmagent, VictoriaMetrics and vmalert) where
the collector is built. Two faults below IP:
the WAN interface taken down in the router (its routes go, every send fails
at once) and the WAN carrier lost (sends go out, nothing comes back)."""

import time
import unittest

from tests.e2e import fault_kit
from sandbox import alerting
from sandbox import hotspot as kit
from sandbox import sandbox

# Also run on the emulated router image (ctest -L image, scripts/test-image):
# these tests of the module, or all of them when empty.
IMAGE_SCENARIO = "UpstreamLossTest.test_lost_heartbeat_switches_offline_with_r001_and_back_online"

R001 = "/www/zelvanet_R001.html"
R002 = "/www/zelvanet_R002.html"
# The heartbeat's target lies beyond the router's gateway, as the operator's
# host does on the Internet: the router reaches it by its default route only.
HEARTBEAT = "198.18.2.1"
# strerror(ENETUNREACH) as the router's C library words it: glibc, musl.
UNREACHABLE = ("Network is unreachable", "Network unreachable")


class UpstreamLossTest(unittest.TestCase):
    def test_lost_heartbeat_switches_offline_with_r001_and_back_online(self):
        self.scenario("prometheus")

    def test_the_same_alerted_through_vmagent_victoriametrics_and_vmalert(self):
        if not alerting.available():
            self.skipTest("no collector in this build: the first test is the same scenario")
        self.scenario("victoriametrics")

    def scenario(self, stack):
        spot = self.enterContext(kit.Hotspot())
        emulated = spot.router.system is not None
        spot.operator.host.run("ip", "addr", "add", HEARTBEAT + "/32", "dev", "lo")
        spot.router.host.run("ip", "route", "add", "default", "via", spot.net.OPERATOR)
        alerts = None
        if alerting.available():
            alerts = alerting.Alerting(spot.operator, stack=stack)
            self.addCleanup(alerts.cleanup)
        spot.start_online(kit.settings_file(webping_interval=2, icmpping_host=HEARTBEAT), kit.portal_file())
        sandbox.wait_for(lambda: len(spot.requests("/ping")) >= 2, timeout=20, what="web pings")
        if alerts:
            alerts.wait_fleet(2)  # this router and the other collector's
        # Under a user-mode emulator the process and its CPU time are the emulator's.
        supervisor = fault_kit.spotwarden_pids(spot.router)[0] if not (emulated or sandbox.EMULATOR) else None

        spot.net.wan(False)
        t_down = time.time()
        cpu_down = fault_kit.cpu_seconds(supervisor) if supervisor is not None else 0
        sandbox.wait_for(lambda: "SIGUSR1" in spot.signal_names(), timeout=15, what="SIGUSR1")
        self.assertEqual(R001, spot.router.link_target())
        spot.wait_logged("router offline - can't ping " + HEARTBEAT, timeout=5)
        # Several failed heartbeats (each logs why): web pings and a refresh
        # fall due meanwhile.
        lost = fault_kit.count_logged(spot, "test_ping: ")
        fault_kit.wait_logged_more(spot, "test_ping: ", lost + 2, timeout=40)
        down = ("firing", "SpotwardenRouterDown", kit.NASID)
        if alerts:
            alerts.wait_notice(down)
        pings_offline = len(spot.requests("/ping"))
        refreshes_offline = len(spot.requests("/config/chilli.conf"))

        spot.net.wan(True)
        # Each send failed at once, yet the loop kept its pace: a failed
        # heartbeat every other tick (failure wait 1 s), no spinning.
        outage = time.time() - t_down
        failed = fault_kit.count_logged(spot, tuple("test_ping: sendto() failed: " + t for t in UNREACHABLE))
        self.assertLessEqual(failed, outage / 2 + 2, "%d failed heartbeats in %.1f s" % (failed, outage))
        if supervisor is not None:
            busy = fault_kit.cpu_seconds(supervisor) - cpu_down
            self.assertLess(busy, 0.1 * outage, "%.2f s of CPU in %.1f s" % (busy, outage))
        # The link is back but its default route not yet (the router's
        # network scripts restore it): still no way to the operator.
        unreachable = fault_kit.count_logged(spot, UNREACHABLE)
        fault_kit.wait_logged_more(spot, UNREACHABLE, unreachable + 1, timeout=10)
        self.assertEqual(1, spot.signal_names().count("SIGUSR1"))
        spot.router.execute("ip route add default via " + spot.net.OPERATOR)
        t_up = time.time()
        sandbox.wait_for(lambda: spot.signal_names().count("SIGUSR2") == 2, timeout=15, what="SIGUSR2")
        spot.wait_logged("router online - successful ping to " + HEARTBEAT, timeout=5)
        self.assertIsNone(spot.router.link_target())
        sandbox.wait_for(lambda: len([p for p in spot.requests("/ping") if p[0] > t_up]) >= 2, timeout=20,
                         what="web pings after the return")

        if alerts:
            # The notices the operator got: down while cut off, then resolved,
            # and nothing else (the collector had the router before the cut).
            alerts.wait_notice(("resolved",) + down[1:])
            self.assertEqual([down, ("resolved",) + down[1:]], alerts.notices())
            status = alerts.collector.process_status()
            self.assertEqual(("65534", "0000000000000000", "0000000000000000"),
                             (status["Uid"].split()[1], status["CapEff"], status["CapAmb"]))
        # Nothing reached the operator while offline, and nothing was made up
        # afterwards: the pings after the return keep the 2 s grid.
        pings = spot.requests("/ping")
        self.assertEqual(0, len([p for p in pings if t_down + 1 < p[0] < t_up]))
        after = [p[0] for p in pings if p[0] > t_up]
        self.assertGreaterEqual(len(after), 2)
        self.assertEqual(len(after), len(set(round(t) for t in after)), "no ping twice in a tick")
        # The grid (pinned by the fake-clock unit tests) is 2 s: no burst.
        for a, b in zip(after, after[1:]):
            self.assertGreater(b - a, 1.0, after)
        self.assertGreaterEqual(pings_offline, 2)
        self.assertLessEqual(refreshes_offline, len(spot.requests("/config/chilli.conf")))

        # The carrier lost (the far end of the WAN cable down): the routes
        # stay, the heartbeats go out and no reply comes. Cut as a tick's jobs
        # have ended: a wget cut off mid-transfer holds the loop to its 60 s limit.
        refreshed = fault_kit.count_logged(spot, "no update required")
        fault_kit.wait_logged_more(spot, "no update required", refreshed, timeout=10)
        spot.net.carrier(False)
        sandbox.wait_for(lambda: spot.signal_names().count("SIGUSR1") == 2, timeout=15, what="second SIGUSR1")
        self.assertEqual(R001, spot.router.link_target())
        silent = fault_kit.count_logged(spot, "no reply received for ping packet to " + HEARTBEAT)
        fault_kit.wait_logged_more(spot, "no reply received for ping packet to " + HEARTBEAT, silent + 1,
                                   timeout=20)
        spot.net.carrier(True)
        sandbox.wait_for(lambda: spot.signal_names().count("SIGUSR2") == 3, timeout=15, what="third SIGUSR2")
        fault_kit.wait_logged_more(spot, "router online - successful ping to " + HEARTBEAT, 1, timeout=5)
        self.assertIsNone(spot.router.link_target())
        sandbox.wait_for(lambda: spot.watcher.targets()[-1] is None, timeout=5, what="the watcher seeing no link")

        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2", "SIGUSR1", "SIGUSR2", "SIGUSR1", "SIGUSR2"],
                         spot.signal_names())
        self.assertEqual([R002, None, R001, None, R001, None], kit.without_blips(spot.watcher.changes))


if __name__ == "__main__":
    unittest.main()
