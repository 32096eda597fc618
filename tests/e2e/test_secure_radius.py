"""A RADIUS server that demands a Message-Authenticator, and the secrets kept
out of the system log and out of files others can read: spotwarden against
FreeRADIUS with require_message_authenticator for the sandbox's client."""

import os
import unittest

from sandbox import hotspot as kit
from sandbox import sandbox
from sandbox.radius import FreeRadius

R005 = "/www/zelvanet_R005.html"
UAM_SECRET = "uam-secret-4711"
SETTINGS_SECRET = "settings-secret-0815"
NO_REPLY = ("user.debug", "test_radius: no reply received for radius packet")


class MessageAuthenticatorTest(unittest.TestCase):
    def reboot(self, spot):
        """Stops the router's programs and empties its /var/run and log."""
        spot.router.stop()
        run = os.path.dirname(spot.router.root.path("/var/run/offline-reason"))
        for name in os.listdir(run):
            os.unlink(os.path.join(run, name))
        open(spot.router.root.path("/var/log/messages"), "w").close()

    def test_plain_probe_is_dropped_for_ever_then_the_signed_one_goes_online_and_secrets_stay_private(self):
        spot = self.enterContext(kit.Hotspot(radius=False))
        spot.radius = FreeRadius(spot.operator.host, sandbox.Network.OPERATOR, kit.SECRET,
                                 require_message_authenticator=True)
        spot.radius.start()
        spot.operator.start_http()
        settings = dict(radiussecret=SETTINGS_SECRET)

        # Without the key: accounting passes, every Access-Request is dropped,
        # the portal shows R005 round after round and never goes online.
        spot.serve(settings=kit.settings_file(**settings), portal=kit.portal_file())
        spot.start()

        def stat(path):
            return os.stat(spot.router.root.path(path))

        spot.wait_logged("radius accounting test to [198.18.0.1] successful", timeout=40)
        sandbox.wait_for(lambda: spot.messages().count(NO_REPLY) >= 8, timeout=40,
                         what="two rounds of unanswered Access-Requests")
        sandbox.wait_for(lambda: spot.router.link_target() == R005, timeout=5, what="R005")
        self.assertFalse(spot.logged("radius authentication test"))
        self.assertFalse(spot.logged("chilli is online"))
        self.assertNotIn("SIGUSR2", spot.signal_names())
        # No portal configuration before start-up: the downloaded one (with
        # the secret) is as private as the offline one it replaced.
        self.assertEqual(0o600, stat("/var/run/chilli.conf").st_mode & 0o7777)

        # With it (after a reboot, as new settings need): online.
        self.reboot(spot)
        spot.serve(settings=kit.settings_file(radiuscheck_message_authenticator=1, **settings))
        # The firmware left a portal configuration for the portal's group.
        firmware_conf = spot.router.root.path("/var/run/chilli.conf")
        with open(firmware_conf, "w") as f:
            f.write("# left by the firmware\n")
        os.chmod(firmware_conf, 0o640)
        os.chown(firmware_conf, 0, 65534)
        spot.router.start("/sbin/spotwarden %s --uamsecret %s" % (kit.ARGS, UAM_SECRET))
        spot.wait_logged("config download and radius checks complete, chilli is online", timeout=40)
        sandbox.wait_for(lambda: "SIGUSR2" in spot.signal_names(), timeout=10, what="SIGUSR2")
        self.assertTrue(spot.logged("test_radius_auth: radius authentication test to [198.18.0.1] successful"))
        self.assertIsNone(spot.router.link_target())

        # The settings copy is private; the installed portal configuration
        # (which holds the appended secret) kept the firmware's mode and group
        # through the offline one and the download.
        self.assertEqual(0o600, stat("/var/run/spotwarden.conf").st_mode & 0o7777)
        conf = stat("/var/run/chilli.conf")
        self.assertEqual((0o640, 65534), (conf.st_mode & 0o7777, conf.st_gid))
        with open(spot.router.root.path("/var/run/chilli.conf")) as f:
            self.assertIn("radiussecret " + kit.SECRET + "\n", f.read())

        # No secret in the system log; the portal's command line is logged masked.
        with open(spot.router.root.path("/var/log/messages"), errors="replace") as f:
            log = f.read()
        for secret in (kit.SECRET, UAM_SECRET, SETTINGS_SECRET):
            self.assertNotIn(secret, log)
        self.assertIn(("user.debug", "executing: chilli --uamsecret ******** --dns1 198.18.1.1 "
                                     "--dns2 198.18.1.1 --conf /var/run/chilli.conf "), spot.messages())
        self.assertIn(("user.debug", "spotwarden_conf_parse: radiussecret => ********"), spot.messages())


if __name__ == "__main__":
    unittest.main()
