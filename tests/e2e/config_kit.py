"""Shared set-up of the configuration-file end-to-end tests: the standard
network with the operator's HTTP server running and the test driver
`swconf` installed in the router."""

import os
import subprocess
import unittest

from sandbox import sandbox

SWCONF = os.path.join(sandbox.BUILD_DIR, "tools", "swconf")
CONF = "/var/run/chilli.conf"
QUERY = "?nasid=00-1A-2B-3C-4D-5E&model=GX4410&fwrev=GX4410-3.01-1.0.0"
PORTAL_URL = "%s://%s/config/chilli.conf%s" % (sandbox.OPERATOR_SCHEME, sandbox.OPERATOR_HOST, QUERY)
SETTINGS_URL = "%s://%s/config/spotwarden.conf%s" % (sandbox.OPERATOR_SCHEME, sandbox.OPERATOR_HOST, QUERY)
SYSLOG = sandbox.START_SYSLOG


def host_mount(*args):
    subprocess.run(["mount"] + list(args), check=True)


class ConfigTestCase(unittest.TestCase):
    def setUp(self):
        self.net = sandbox.Network()
        self.addCleanup(self.net.cleanup)
        self.router = self.net.router
        self.op = self.net.operator
        self.op.start_http()
        self.router.root.install(SWCONF)

    # --- running the driver -------------------------------------------------

    def in_router(self, command, timeout=120):
        """Runs `command` in the router next to a running chilli stand-in and
        the syslog daemon; returns (rc, stdout, stderr) of the command. chilli
        ends with SIGTERM, after any signal the command sent it."""
        script = (SYSLOG + "n=$(grep -c start /var/run/chilli.journal); chilli & c=$!; " +
                  sandbox.until('[ "$(grep -c start /var/run/chilli.journal)" -gt "${n:-0}" ]') + command +
                  "; rc=$?; killall -15 chilli; wait $c; " + sandbox.DRAIN_SYSLOG + "exit $rc")
        return self.router.run(script, timeout=timeout)

    def update(self, secret=None, path=CONF):
        cmd = "swconf update '%s' %s" % (PORTAL_URL, path)
        if secret is not None:
            cmd += " '%s'" % secret
        rc, _, err = self.in_router(cmd)
        self.assertIn(rc, (0, 1), err)
        return rc

    def param(self, key, path=CONF):
        rc, out, _ = self.in_router("swconf param %s %s" % (path, key))
        return out.rstrip("\n") if rc == 0 else None

    # --- the router's files -------------------------------------------------

    def write_current(self, content, path=CONF):
        with open(self.router.root.path(path), "wb") as f:
            f.write(content.encode() if isinstance(content, str) else content)

    def current(self, path=CONF):
        with open(self.router.root.path(path), "rb") as f:
            return f.read()

    def side_files(self, path=CONF):
        d = os.path.dirname(self.router.root.path(path))
        return [n for n in os.listdir(d) if n.endswith(".NEW")]

    def hups(self):
        return [e for e in self.router.chilli_journal() if e[1] == "signal" and e[3] == "SIGHUP"]

    def logged(self, priority, text):
        return any(p == priority and text in m for p, m in self.router.log_lines())

    def assertLogged(self, priority, text):
        self.assertTrue(self.logged(priority, text),
                        "no %s message with %r in:\n%s" % (priority, text, "\n".join(
                            "%s %s" % pm for pm in self.router.log_lines())))

    def assertUntouched(self, before, path=CONF):
        """The update failed cleanly: current file intact, no side file, no reload."""
        self.assertEqual(before, self.current(path))
        self.assertEqual([], self.side_files(path))
        self.assertEqual([], self.hups())
