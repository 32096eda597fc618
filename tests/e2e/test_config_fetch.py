"""The settings download retried until the operator's server delivers a
valid file, with real wget and real pauses."""

import subprocess
import unittest

from tests.e2e.config_kit import SETTINGS_URL, ConfigTestCase
from sandbox import sandbox


class SettingsFetchTest(ConfigTestCase):
    def test_retries_through_404_and_unmarked_file_until_valid(self):
        proc = self.router.start("sh -c 'swconf get \"%s\" /var/run/spotwarden.conf; %s'" % (SETTINGS_URL, sandbox.DRAIN_SYSLOG),
                                 stdout=subprocess.PIPE)
        self.addCleanup(self.router.stop)
        sandbox.wait_for(lambda: len(self.op.requests()) >= 1, timeout=20, what="first request")
        self.op.serve("spotwarden.conf", "# settings\nicmpping_interval 5\n")
        sandbox.wait_for(lambda: len(self.op.requests()) >= 2, timeout=20, what="second request")
        self.op.serve("spotwarden.conf", "# spotwarden.conf\nicmpping_interval 45s\n"
                                         "icmpping_host   probe.example.com\nradiussecret hush\n")
        out, _ = proc.communicate(timeout=30)
        settings = dict(line.split("=", 1) for line in out.decode().splitlines())
        self.assertEqual("45", settings["icmpping_interval"])
        self.assertEqual("  probe.example.com", settings["icmpping_host"])
        self.assertEqual("hush", settings["radiussecret"])
        self.assertEqual("3600", settings["webping_interval"])
        self.assertEqual("%s://%s/ping" % (sandbox.OPERATOR_SCHEME, sandbox.OPERATOR_HOST), settings["webping_url"])

        reqs = self.op.requests()
        self.assertEqual([404, 200, 200], [r[4] for r in reqs])
        self.assertTrue(all(r[3] == SETTINGS_URL.split(sandbox.OPERATOR_HOST, 1)[1] for r in reqs))

        with open(self.router.root.path("/var/run/spotwarden.conf")) as f:
            self.assertTrue(f.read().startswith("# spotwarden.conf\n"))
        logs = self.router.log_lines()
        self.assertEqual(3, sum("attempting to download spotwarden config file" in m
                                for p, m in logs if p == "user.debug"))
        self.assertLogged("user.debug", "spotwarden: config file '/var/run/spotwarden.conf' is invalid...")
        self.assertLogged("user.notice", "spotwarden: retrieved spotwarden config file")
        self.assertLogged("user.debug", "spotwarden: spotwarden_conf_parse: radiussecret => ********")
        self.assertFalse(any("hush" in m for _, m in logs))


if __name__ == "__main__":
    unittest.main()
