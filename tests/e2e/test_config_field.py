"""spotwarden's downloads and waits as the operator's files and server can
make them: zero waits, a transfer cut off mid-file, a current portal
configuration that vanished."""

import os
import time
import unittest

from tests.e2e import fault_kit
from sandbox import hotspot as kit
from sandbox import sandbox

CONF = "/var/run/chilli.conf"


class ZeroWaitTest(unittest.TestCase):
    def test_zero_waits_keep_a_second_between_tries_and_rounds_and_are_logged_once(self):
        spot = self.enterContext(kit.Hotspot())
        spot.serve(settings=kit.settings_file(chilliconf_retry_interval=0, chilliconf_failure_wait=0,
                                              radiuscheck_failure_wait=0))  # chilli.conf is 404
        spot.operator.start_http()
        spot.start()
        sandbox.wait_for(lambda: len(spot.requests("/config/chilli.conf")) >= 5, timeout=40, what="five tries")
        times = [r[0] for r in spot.requests("/config/chilli.conf")]
        self.assertGreater(min(b - a for a, b in zip(times, times[1:])), 0.5, times)
        for key in ("chilliconf_retry_interval", "chilliconf_failure_wait"):
            self.assertEqual(1, fault_kit.count_logged(spot, "control_cycle: %s is 0, using 1 second instead" % key))

        # RADIUS servers whose names do not resolve fail at once: rounds of two
        # such failures, a second apart.
        spot.serve(portal=kit.portal_file(server1="nowhere.invalid", server2="nowhere.invalid"))
        unknown = "fill_sockaddr: unknown host: nowhere.invalid"
        fault_kit.wait_logged_more(spot, unknown, 0, timeout=40)
        first = time.monotonic()
        fault_kit.wait_logged_more(spot, unknown, 5, timeout=20)
        self.assertLessEqual(fault_kit.count_logged(spot, unknown), 2 * (time.monotonic() - first) + 4)
        self.assertEqual(1, fault_kit.count_logged(spot, "radiuscheck_failure_wait is 0, using 1 second instead"))
        self.assertEqual(["SIGHUP"], spot.signal_names())


class CutSettingsTest(unittest.TestCase):
    def test_cut_settings_are_fetched_again_and_a_vanished_portal_configuration_installed_again(self):
        spot = self.enterContext(kit.Hotspot())
        # The router's wget gives up at the first break, as busybox's does.
        with open(spot.router.root.path("/etc/wgetrc"), "w") as f:
            f.write("tries = 1\n")
        settings = kit.settings_file(webping_url=None) + "webping_url http://%s/ping\n" % sandbox.OPERATOR_HOST
        spot.serve(settings=settings, portal=kit.portal_file())
        spot.operator.cut_next("spotwarden.conf", len(settings) - 3)  # ".../pi"
        spot.operator.start_http()
        spot.start()
        spot.wait_logged("chilli is online", timeout=60)
        sandbox.wait_for(lambda: spot.requests("/pi"), timeout=20, what="first web ping")
        self.assertEqual(2, len(spot.requests("/config/spotwarden.conf")))
        self.assertTrue(spot.logged("download of '/var/run/spotwarden.conf' incomplete, wget status"))
        self.assertEqual([], [r[3] for r in spot.requests("/pi") if not r[3].startswith("/ping?")])

        # The current portal configuration deleted while online comes back.
        os.unlink(spot.router.root.path(CONF))
        fault_kit.wait_logged_more(spot, "chillispot config file updated", 1, timeout=30)
        sandbox.wait_for(lambda: spot.signal_names().count("SIGHUP") == 2, timeout=10, what="second SIGHUP")
        with open(spot.router.root.path(CONF)) as f:
            self.assertEqual(kit.portal_file() + "radiussecret " + kit.SECRET + "\n", f.read())
        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2", "SIGHUP"], spot.signal_names())
        self.assertFalse(spot.logged("failed to compare chillispot config file"))


if __name__ == "__main__":
    unittest.main()
