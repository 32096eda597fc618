"""spotwarden's talkback loop when the upstream path to the operator breaks
and comes back: the portal switched offline and online with the heartbeat,
and the operator told so by the shipped alerting rules (Prometheus,
Alertmanager, a webhook) where the collector is built."""

import time
import unittest

from tests.e2e import fault_kit
from sandbox import alerting
from sandbox import hotspot as kit
from sandbox import sandbox

R001 = "/www/zelvanet_R001.html"
R002 = "/www/zelvanet_R002.html"


class UpstreamLossTest(unittest.TestCase):
    def test_lost_heartbeat_switches_offline_with_r001_and_back_online(self):
        spot = self.enterContext(kit.Hotspot())
        alerts = None
        if alerting.available():
            alerts = alerting.Alerting(spot.operator)
            self.addCleanup(alerts.cleanup)
        spot.start_online(kit.settings_file(webping_interval=2), kit.portal_file())
        sandbox.wait_for(lambda: len(spot.requests("/ping")) >= 2, timeout=20, what="web pings")

        spot.net.wan(False)
        t_down = time.time()
        sandbox.wait_for(lambda: "SIGUSR1" in spot.signal_names(), timeout=15, what="SIGUSR1")
        self.assertEqual(R001, spot.router.link_target())
        spot.wait_logged("router offline - can't ping " + sandbox.OPERATOR_HOST, timeout=5)
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
        t_up = time.time()
        sandbox.wait_for(lambda: spot.signal_names().count("SIGUSR2") == 2, timeout=15, what="SIGUSR2")
        spot.wait_logged("router online - successful ping to " + sandbox.OPERATOR_HOST, timeout=5)
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
        names = spot.signal_names()
        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2", "SIGUSR1", "SIGUSR2"], names)
        self.assertEqual([R002, None, R001, None], kit.without_blips(spot.watcher.changes))
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


if __name__ == "__main__":
    unittest.main()
