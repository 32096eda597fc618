"""linkgauge's runs that end without an estimate, each as a real run in the
router over the multi-hop path."""

import os
import unittest

from sandbox import chain

RESULT = "/var/tmp/bandwidth_result.txt"
COPY = "/var/tmp/bandwidth_tmp.txt"


class LinkgaugeFailureTest(unittest.TestCase):
    def start(self, nvram=None):
        self.chain = chain.Chain(nvram=nvram)
        self.addCleanup(self.chain.cleanup)
        # Left by an earlier run; some outcomes must keep it.
        for path in (RESULT, COPY):
            with open(self.chain.router.root.path(path), "w") as f:
                f.write("77")
        return self.chain

    def run_gauge(self, **kw):
        lines, out = self.chain.run_linkgauge(**kw)
        self.assertEqual(["parent exit 0", "daemon exit 0"], lines)
        return out

    def assert_results(self, text):
        self.assertEqual(text, self.chain.file(RESULT))
        self.assertEqual(text, self.chain.file(COPY))

    def hups(self):
        return (self.chain.file("/var/run/timer.journal") or "").count("SIGHUP")

    def test_link_down_writes_not_estimated_before_any_ping(self):
        c = self.start()
        c.wan(False)
        self.run_gauge()
        self.assert_results("0")
        self.assertIsNone(c.file("/var/tmp/ping_manufacturer_host.txt"))
        self.assertEqual(0, self.hups())

    def test_silent_manufacturer_host_writes_not_estimated(self):
        c = self.start()
        c.silence_vendor()
        self.run_gauge()
        self.assert_results("0")
        self.assertIn(" 100% packet loss", c.file("/var/tmp/ping_manufacturer_host.txt"))
        self.assertIsNone(c.file("/var/tmp/tracegw.txt"))
        self.assertEqual(0, self.hups())

    def test_manufacturer_host_with_port_gives_empty_ping_output(self):
        c = self.start(nvram={"manufacturer_url": "http://%s:8080/support" % chain.Chain.VENDOR_ADDR})
        self.run_gauge()
        self.assert_results("0")
        self.assertEqual("", c.file("/var/tmp/ping_manufacturer_host.txt"))

    def test_manufacturer_url_with_shell_text_is_never_run(self):
        c = self.start(nvram={"manufacturer_url": "http://x;touch$IFS/var/tmp/owned/"})
        self.run_gauge()
        self.assert_results("0")
        self.assertIsNone(c.file("/var/tmp/owned"))
        self.assertIsNone(c.file("/var/tmp/ping_manufacturer_host.txt"))

    def test_unopenable_trace_file_leaves_results_untouched(self):
        c = self.start()
        # The shell cannot create it and linkgauge cannot open it.
        os.symlink("/nonexistent/tracegw.txt", c.router.root.path("/var/tmp/tracegw.txt"))
        self.run_gauge()
        self.assert_results("77")
        self.assertEqual(1, self.hups())
        self.assertIsNone(c.file("/var/tmp/ping_gw_second.txt"))

    def test_no_answering_gateway_writes_not_estimated(self):
        c = self.start()
        for k in (2, 3, 4):
            c.silence(k)
        self.run_gauge()
        self.assert_results("0")
        for name in ("second", "third", "fourth"):
            self.assertIn(" 100% packet loss", c.file("/var/tmp/ping_gw_%s.txt" % name))

    def test_failed_measurement_writes_not_estimated_and_tries_no_other_pair(self):
        c = self.start()
        # Unshaped, no probe ever waits 312.5 ms: ten sizes and no estimate.
        self.run_gauge()
        self.assert_results("0")
        self.assertIn("32714 data bytes", c.file("/var/tmp/ping_gw_second.txt"))
        self.assertIsNone(c.file("/var/tmp/ping_gw_third.txt"))

    def test_sigterm_prints_its_line_exits_zero_and_leaves_results(self):
        c = self.start()
        lines, out = c.run_linkgauge(term_when="/var/tmp/ping_manufacturer_host.txt")
        self.assertEqual(["parent exit 0", "daemon exit 0"], lines)
        self.assertEqual("linkgauge : terminated due to receive SIGTERM !\n", out)
        self.assert_results("77")
        self.assertEqual(0, self.hups())


if __name__ == "__main__":
    unittest.main()
