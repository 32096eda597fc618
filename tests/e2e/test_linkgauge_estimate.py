"""linkgauge over the shaped multi-hop path: a whole run to an estimate."""

import unittest

from sandbox import chain

RATE = 4000000  # bit/s: 3906.25 units of 1024 bit/s


class LinkgaugeEstimateTest(unittest.TestCase):
    def setUp(self):
        self.chain = chain.Chain()
        self.addCleanup(self.chain.cleanup)

    def test_estimate_of_the_shaped_link_lands_in_both_files(self):
        c = self.chain
        c.shape(RATE)
        c.silence(2)  # the first pair is skipped: gateways 2 and 3 are measured
        lines, out = c.run_linkgauge()
        self.assertEqual(["parent exit 0", "daemon exit 0"], lines)
        self.assertEqual("", out)
        result = c.file("/var/tmp/bandwidth_result.txt")
        self.assertEqual(result, c.file("/var/tmp/bandwidth_tmp.txt"))
        self.assertRegex(result, r"^[1-9][0-9]*$")
        # Far looser than the method's error; catches a wrong unit or factor.
        self.assertTrue(RATE / 1024 / 3 < int(result) < RATE / 1024 * 3, result)
        self.assertIn("round-trip min/avg/max", c.file("/var/tmp/ping_gw_third.txt"))
        self.assertIsNone(c.file("/var/tmp/ping_gw_fourth.txt"))
        self.assertEqual("SIGHUP\n", c.file("/var/run/timer.journal"))


if __name__ == "__main__":
    unittest.main()
