"""spotwarden's whole life in the sandbox, the paths that end online: the
happy path with the refresh, and the paths on which no RADIUS probe is sent."""

import os
import unittest

from tests.e2e import fault_kit
from sandbox import hotspot as kit
from sandbox import sandbox

# Also run on the emulated router image (ctest -L image, scripts/test-image):
# these tests of the module, or all of them when empty.
IMAGE_SCENARIO = "HappyPathTest"

R002 = "/www/zelvanet_R002.html"


class HappyPathTest(unittest.TestCase):
    def test_offline_start_settings_swap_probes_online_heartbeat_webping_and_refresh(self):
        spot = self.enterContext(kit.Hotspot())
        spot.serve(settings=kit.settings_file(), portal=kit.portal_file())
        spot.operator.start_http()
        icmp = kit.IcmpCapture(spot.operator.host)
        self.addCleanup(icmp.cleanup)
        spot.start()

        spot.wait_logged("config download and radius checks complete, chilli is online", timeout=40)
        sandbox.wait_for(lambda: spot.requests("/ping"), timeout=20, what="first web ping")
        sandbox.wait_for(lambda: icmp.times(), timeout=10, what="first heartbeat")

        # Settings first, then the portal configuration, both with the identity.
        paths = [r[3] for r in spot.operator.requests()]
        self.assertEqual("/config/spotwarden.conf?" + kit.IDENTITY, paths[0])
        self.assertEqual("/config/chilli.conf?" + kit.IDENTITY, paths[1])

        # Swap (reload), then power-on and online, 2 s after the checks.
        signals = spot.signals()
        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2"], [s for _, s in signals][:3])
        t_hup, t_pwr, t_usr2 = (t for t, _ in signals[:3])
        self.assertGreaterEqual(t_pwr - t_hup, 2.0)

        # The secret was completed in the installed portal configuration. On
        # an emulated router the image's own boot script ran, and the secret
        # came from nvram in the board's flash and nowhere else.
        with open(spot.router.root.path("/var/run/chilli.conf")) as f:
            installed = f.read()
        self.assertEqual(kit.portal_file() + "radiussecret " + kit.SECRET + "\n", installed)
        if spot.router.system:
            self.assertFalse(os.path.exists(spot.router.root.path("/etc/rc.services")))

        # The link: start-up page while updating and checking, gone once online.
        self.assertEqual([R002, None], kit.without_blips(spot.watcher.changes))
        self.assertLess(spot.watcher.changes[-1][0], t_pwr)

        # First heartbeat and web ping come no sooner than the set-up time
        # after going online (the fake-clock unit tests pin the exact tick).
        first_ping = spot.requests("/ping")[0]
        self.assertEqual("/ping?" + kit.IDENTITY + "&ssid=ZELVANET+Cafe+Hotspot&channel=6", first_ping[3])
        for t in (first_ping[0], icmp.times()[0]):
            self.assertGreaterEqual(t - t_usr2, 3.0)

        msgs = spot.messages()
        notices = [m for p, m in msgs if p == "user.notice"]
        for line in ("retrieved spotwarden config file", "attempting to update chillispot config file",
                     "chillispot config file updated", "uamserver = https://%s/login" % sandbox.OPERATOR_HOST,
                     "radius accounting test to [198.18.0.1] successful",
                     "radius authentication test to [198.18.0.1] successful"):
            self.assertTrue(any(line in m for m in notices), line)
        self.assertIn(("user.debug", "starting web talkback"), msgs)
        self.assertFalse(spot.logged("router offline"))

        # First refresh (6 s after the first jobs): unchanged, no reload.
        spot.wait_logged("chillispot config file unchanged, no update required", timeout=20)
        self.assertEqual(1, spot.signal_names().count("SIGHUP"))

        # A changed file on the server is swapped in at the next refresh: one reload.
        spot.serve(portal=kit.portal_file(uamserver="https://%s/new-login" % sandbox.OPERATOR_HOST))
        spot.wait_logged("uamserver = https://%s/new-login" % sandbox.OPERATOR_HOST, timeout=20)
        unchanged = fault_kit.count_logged(spot, "chillispot config file unchanged")
        fault_kit.wait_logged_more(spot, "chillispot config file unchanged", unchanged, timeout=30)
        self.assertEqual(2, spot.signal_names().count("SIGHUP"))
        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2", "SIGHUP"], spot.signal_names())
        self.assertGreaterEqual(spot.messages().count(("user.debug", "chillispot config file unchanged, "
                                                                    "no update required")), 2)
        self.assertIsNone(spot.router.link_target())


class NoProbeTest(unittest.TestCase):
    def run_without_probes(self, settings, portal):
        spot = self.enterContext(kit.Hotspot(radius=False))
        peer = kit.RadiusPeer(spot.net, "silent")
        self.addCleanup(peer.cleanup)
        spot.start_online(settings, portal)
        sandbox.wait_for(lambda: "SIGUSR2" in spot.signal_names(), timeout=10, what="SIGUSR2")
        self.assertEqual([], peer.datagrams())
        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2"], spot.signal_names())
        self.assertIsNone(spot.router.link_target())
        return spot

    def test_radiuscheck_0_goes_online_without_probing(self):
        spot = self.run_without_probes(kit.settings_file(radiuscheck=0),
                                       kit.portal_file(server1=kit.RadiusPeer.ADDRESS, server2=kit.RadiusPeer.ADDRESS))
        self.assertTrue(spot.logged("radius checks disabled in spotwarden.conf"))

    def test_portal_config_without_second_server_skips_the_checks(self):
        spot = self.run_without_probes(kit.settings_file(),
                                       kit.portal_file(server1=kit.RadiusPeer.ADDRESS, server2=None))
        self.assertTrue(spot.logged("couldn't read radius servers, skipping radius checks!"))


if __name__ == "__main__":
    unittest.main()
