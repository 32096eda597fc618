"""spotwarden's start-up in the simulated router: command line, identity,
offline portal configuration, offline-reason link, portal keeper, log."""

import os
import unittest

from sandbox import sandbox

PROGRAM = os.path.join(sandbox.PROGRAM_DIR, "spotwarden")
DEVICE_QUERY = os.path.join(sandbox.BUILD_DIR, "tools", "device_query")

USAGE = ("Usage: spotwarden <required args> [chillispot args...]\n"
         "  --radiusnasif <ethernet interface used to determine nas id>\n"
         "  --radiusnasid <radius nas id>\n"
         "  --conf | -c   <chillispot config file>\n"
         "  --lanif       <normal LAN interface, used for DNS setup>\n"
         "  Exactly one of --radiusnasif or --radiusnasid must be supplied\n"
         "  Path to the chillispot config file must be supplied\n")

NASID = "00-1A-2B-3C-4D-5E"


OFFLINE_CONF = ("offline\n"
                "radiusnasid %s\n"
                "radiusserver1 127.0.0.1\n"
                "radiusserver2 127.0.0.1\n"
                "domain %s\n"
                "radiussecret kestrelmoss9\n"
                "uamsecret kestrelmoss9\n"
                "uamserver https://127.0.0.1/\n"
                "uamanydns\n") % (NASID, sandbox.OPERATOR_DOMAIN)

WITH_SYSLOG = sandbox.START_SYSLOG


def messages(router):
    """spotwarden's log as (priority, message), syslog's own tag removed."""
    out = []
    for prio, text in router.log_lines():
        if text.startswith("spotwarden: "):
            out.append((prio, text[len("spotwarden: "):]))
    return out


class StartupTest(unittest.TestCase):
    def setUp(self):
        self.net = sandbox.Network()
        self.addCleanup(self.net.cleanup)
        self.router = self.net.router
        self.router.root.install(PROGRAM)

    def run_rejected(self, args):
        rc, out, err = self.router.run(
            WITH_SYSLOG + "/sbin/spotwarden %s; rc=$?; " % args + sandbox.DRAIN_SYSLOG + "exit $rc")
        return rc, out, err

    def test_every_rejection_prints_usage_and_exits_1_touching_nothing(self):
        rejected = [
            "--help",
            "--radiusnasid N -c /var/run/chilli.conf -h",
            "--help --radiusnasid N -c /var/run/chilli.conf",
            "--radiusnasid N --radiusnasif ath0 -c /var/run/chilli.conf",
            "-c /var/run/chilli.conf --foo bar",
            "--radiusnasid N --lanif lan0 --foo",
            "--radiusnasid N -c",
            "-c /var/run/chilli.conf --radiusnasif",
            "--radiusnasid N -c /var/run/chilli.conf --lanif",
            "--radiusnasid N -c /var/run/chilli.conf --radiussecret",
        ]
        for args in rejected:
            with self.subTest(args=args):
                rc, out, err = self.run_rejected(args)
                self.assertEqual(1, rc, err)
                self.assertEqual(USAGE, out)
                self.assertEqual("", err)
        # None of them got past the command line.
        self.assertEqual([("user.notice", "spotwarden: starting up")] * len(rejected), messages(self.router))
        self.assertFalse(os.path.exists(self.router.root.path("/var/run/chilli.conf")))
        self.assertIsNone(self.router.link_target())
        self.assertEqual([], self.router.chilli_journal())

    def test_interface_without_ethernet_address_is_logged_then_rejected(self):
        rc, out, err = self.run_rejected("--radiusnasif lo -c /var/run/chilli.conf")
        self.assertEqual(1, rc)
        self.assertEqual(USAGE, out)
        self.assertEqual("getnasid: lo is not an ethernet interface!\n", err)
        self.assertEqual([("user.notice", "spotwarden: starting up"),
                          ("user.notice", "spotwarden: spotwarden_args_parse: error getting radiusnasid from interface: lo")],
                         messages(self.router))

    def start(self, args, env=None):
        """Starts spotwarden; returns the link target and the portal
        configuration seen as chilli starts, before anything after start-up
        could change them."""
        self.router.start("/sbin/spotwarden " + args, env=env)
        sandbox.wait_for(lambda: self.router.chilli_journal(), timeout=15, what="chilli to start")
        link = self.router.link_target()
        with open(self.router.root.path("/var/run/chilli.conf"), "rb") as f:
            conf = f.read()
        # The supervisor itself goes on living after start-up: its control
        # cycle tries the settings download again after the first failure.
        sandbox.wait_for(lambda: sum(m == "spotwarden: attempting to download spotwarden config file"
                                     for _, m in messages(self.router)) >= 2, timeout=30, what="second download")
        self.assertIsNone(self.router.proc.poll())
        return link, conf

    def test_startup_writes_offline_config_points_link_and_starts_chilli(self):
        link, conf = self.start("--radiusnasif ath0 --lanif lan0 -c /var/run/chilli.conf "
                                "--radiussecret s3cr3t --foo bar")
        journal = self.router.chilli_journal()
        self.assertEqual(["start"], journal[0][1:2])
        self.assertEqual(["--foo", "bar", "--dns1", "198.18.1.1", "--dns2", "198.18.1.1",
                          "--conf", "/var/run/chilli.conf"], journal[0][3:])
        self.assertEqual(OFFLINE_CONF.encode(), conf)
        self.assertEqual("/www/zelvanet_R002.html", link)
        # Start-up's own lines; whatever runs after it logs behind them.
        self.assertEqual([
            ("user.notice", "spotwarden: starting up"),
            ("user.debug", "spotwarden: radius nasid is: " + NASID),
            ("user.debug", "spotwarden: writing offline config"),
            ("user.notice", "spotwarden: starting chillispot..."),
            ("user.debug", "spotwarden: executing: chilli --foo bar --dns1 198.18.1.1 --dns2 198.18.1.1 "
                           "--conf /var/run/chilli.conf "),
        ], messages(self.router)[:5])

    def test_lan_without_address_warns_and_existing_link_is_left_alone(self):
        os.symlink("/www/zelvanet_R004.html", self.router.root.path("/var/run/offline-reason"))
        link, conf = self.start("--radiusnasid my-nas --lanif lan1 --conf /var/run/chilli.conf",
                                env={"CHILLI_EXIT_AFTER": "0"})
        self.assertEqual("/www/zelvanet_R004.html", link)
        self.assertEqual(["--conf", "/var/run/chilli.conf"], self.router.chilli_journal()[0][3:])
        log = messages(self.router)
        self.assertEqual([
            ("user.notice", "spotwarden: starting up"),
            ("user.notice", "spotwarden: spotwarden_args_parse: error getting LAN IP from interface: lan1"),
            ("user.notice", "spotwarden: WARNING: --dns1 argument will not be supplied to chilli"),
            ("user.debug", "spotwarden: radius nasid is: my-nas"),
            ("user.debug", "spotwarden: writing offline config"),
            ("user.notice", "spotwarden: starting chillispot..."),
        ], log[:6])
        # chilli ends at once; the keeper brings it back after its pause.
        sandbox.wait_for(lambda: len([e for e in self.router.chilli_journal() if e[1] == "start"]) >= 2,
                         timeout=20, what="chilli to be restarted")
        starts = [e[0] for e in self.router.chilli_journal() if e[1] == "start"]
        self.assertGreaterEqual(starts[1] - starts[0], 9.5)
        log = messages(self.router)
        died = log.index(("user.notice", "spotwarden: chillispot has died, pausing before restart."))
        self.assertIn(("user.notice", "spotwarden: starting chillispot..."), log[died + 1:])
        self.assertEqual(b"radiusnasid my-nas\n", conf.splitlines(True)[1])


class DeviceQueryTest(unittest.TestCase):
    """The queries against the router's own interfaces and its settings store,
    through the real shell pipeline."""

    def setUp(self):
        self.net = sandbox.Network()
        self.addCleanup(self.net.cleanup)
        self.tool = self.net.router.root.install(DEVICE_QUERY)

    def query(self, nvram):
        self.net.router.root.set_nvram(nvram)
        rc, out, err = self.net.router.run(self.tool + " ath0 lan0")
        self.assertEqual(0, rc, err)
        return dict(line.split(" ", 1) for line in out.splitlines())

    def test_identity_ssid_full_of_n_and_channel(self):
        r = self.query({"zelvanet_ssid": "nnnn Inn nnnNNN", "wlan0_channel": "11"})
        self.assertEqual("0 " + NASID, r["nasid"])
        self.assertEqual("0 198.18.1.1", r["lanip"])
        self.assertEqual("0 [ZELVANET nnnn Inn nnnNNN]", r["ssid"])
        self.assertEqual("0 11", r["channel"])

    def test_ssid_length_rule_and_unreadable_values(self):
        r = self.query({"zelvanet_ssid": "n" * 24})
        self.assertEqual("0 [ZELVANET]", r["ssid"])
        self.assertEqual("-1 -1", r["channel"])
        r = self.query({"zelvanet_ssid": "n" * 23, "wlan0_channel": ""})
        self.assertEqual("0 [ZELVANET %s]" % ("n" * 23), r["ssid"])
        self.assertEqual("-1 -1", r["channel"])
        r = self.query({})
        self.assertEqual("-1 []", r["ssid"])


if __name__ == "__main__":
    unittest.main()
