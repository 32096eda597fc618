"""The portal configuration update against the operator's HTTP server, with
real wget, real killall and the chilli stand-in."""

import unittest

from tests.e2e.config_kit import CONF, ConfigTestCase

OFFLINE = "offline\nuamanydns\n"
PORTAL = ("# chilli.conf for 00-1A-2B-3C-4D-5E\n"
          "radiusserver1 198.18.0.1\n"
          "radiusserver2 198.18.0.1\n"
          "uamserver https://login.example.com/hotspot\n")


class UpdateFlowTest(ConfigTestCase):
    def test_changed_download_replaces_file_and_chilli_reloads_once(self):
        self.write_current(OFFLINE)
        self.op.serve("chilli.conf", PORTAL)
        self.assertEqual(0, self.update(secret="s3cret"))
        self.assertEqual((PORTAL + "radiussecret s3cret\n").encode(), self.current())
        self.assertEqual([], self.side_files())
        self.assertEqual(1, len(self.hups()), self.router.chilli_journal())
        self.assertLogged("user.notice", "spotwarden: attempting to update chillispot config file")
        self.assertLogged("user.notice", "spotwarden: chillispot config file updated")
        self.assertLogged("user.notice", "spotwarden: uamserver = https://login.example.com/hotspot")
        self.assertLogged("user.debug", "looks OK!")
        self.assertTrue(self.op.requests()[0][3].startswith("/config/chilli.conf?nasid=00-1A-2B-3C-4D-5E"))
        self.assertEqual("198.18.0.1", self.param("radiusserver2"))

        # The same download again equals the completed file: no second reload.
        self.assertEqual(0, self.update(secret="s3cret"))
        self.assertEqual(1, len(self.hups()))
        self.assertEqual([], self.side_files())
        self.assertLogged("user.debug", "spotwarden: chillispot config file unchanged, no update required")

    def test_unchanged_download_sends_no_signal_and_leaves_no_side_file(self):
        self.write_current(PORTAL)
        self.op.serve("chilli.conf", PORTAL)
        self.assertEqual(0, self.update())
        self.assertUntouched(PORTAL.encode())
        self.assertLogged("user.debug", "no update required")

    def test_operators_secret_even_bare_is_never_overridden(self):
        self.write_current(OFFLINE)
        served = PORTAL + "radiussecret\n"
        self.op.serve("chilli.conf", served)
        self.assertEqual(0, self.update(secret="ours"))
        self.assertEqual(served.encode(), self.current())
        self.assertEqual("", self.param("radiussecret"))

    def test_null_secret_installs_download_unchanged(self):
        self.write_current(OFFLINE)
        self.op.serve("chilli.conf", PORTAL)
        self.assertEqual(0, self.update())
        self.assertEqual(PORTAL.encode(), self.current())
        self.assertEqual(1, len(self.hups()))
        self.assertIsNone(self.param("radiussecret"))

    def test_secret_goes_on_its_own_line_after_a_file_without_final_newline(self):
        self.write_current(OFFLINE)
        self.op.serve("chilli.conf", PORTAL + "uamhomepage http://x/")
        self.assertEqual(0, self.update(secret="k"))
        self.assertEqual((PORTAL + "uamhomepage http://x/\nradiussecret k\n").encode(), self.current())
        self.assertEqual("k", self.param("radiussecret"))
        self.assertEqual("http://x/", self.param("uamhomepage"))

    def test_missing_uamserver_is_warned_about_but_file_installed(self):
        self.write_current(OFFLINE)
        served = "# chilli.conf\nradiusserver1 198.18.0.1\n"
        self.op.serve("chilli.conf", served)
        self.assertEqual(0, self.update())
        self.assertEqual(served.encode(), self.current())
        self.assertLogged("user.notice", "spotwarden: warning, uamserver not found in '%s'!" % CONF)


if __name__ == "__main__":
    unittest.main()
