"""The sandbox itself: namespaces, the router's root, syslog, HTTP, stand-ins."""

import unittest

from sandbox import sandbox


class SandboxTest(unittest.TestCase):
    def setUp(self):
        self.net = sandbox.Network()
        self.addCleanup(self.net.cleanup)

    def test_router_reaches_operator_logs_and_sees_only_its_own_processes(self):
        op = self.net.operator
        op.serve("hello.txt", "hi\n")
        op.start_http()
        rc, out, err = self.net.router.run(
            sandbox.START_SYSLOG + "logger -p user.notice hello-log; wget -q -O /var/tmp/got http://%s/config/"
            "hello.txt?x=1; /bin/nvram get zelvanet_ssid; chilli a b & c=$!; " % sandbox.OPERATOR_HOST +
            sandbox.until("[ -s /var/run/chilli.journal ]") + "killall -1 chilli; " +
            sandbox.until("grep -q SIGHUP /var/run/chilli.journal") + "killall -15 chilli; wait $c; " +
            sandbox.DRAIN_SYSLOG + "ls /proc | grep -c '^[0-9]'")
        self.assertEqual(0, rc, err)
        lines = out.splitlines()
        self.assertEqual("zelvanet_ssid=Cafe Hotspot", lines[0])
        self.assertLess(int(lines[-1]), 10)
        with open(self.net.router.root.path("/var/tmp/got")) as f:
            self.assertEqual("hi\n", f.read())
        self.assertIn(("user.notice", "root: hello-log"), self.net.router.log_lines())
        self.assertEqual("/config/hello.txt?x=1", op.requests()[0][3])
        journal = self.net.router.chilli_journal()
        self.assertEqual(["start", journal[0][2], "a", "b"], journal[0][1:])
        self.assertEqual(["signal", "SIGHUP"], [journal[1][1], journal[1][3]])
        self.assertEqual(["signal", "SIGTERM"], [journal[2][1], journal[2][3]])
        # A later run in the same root ends only once its own lines are
        # written, though the log already holds the first run's marker: its
        # syslog daemon is held stopped while the line is sent.
        rc, out, err = self.net.router.run(
            sandbox.START_SYSLOG + "s=$!; kill -STOP $s; logger -p user.notice late-log; "
            "(sleep 1; kill -CONT $s) & " + sandbox.DRAIN_SYSLOG)
        self.assertEqual(0, rc, err)
        self.assertIn(("user.notice", "root: late-log"), self.net.router.log_lines())


if __name__ == "__main__":
    unittest.main()
