"""linkgauge with what a deployed router meets: manufacturer hosts with long
DNS names, trace tools that print bare addresses, and readers of the result
files while a run replaces them."""

import os
import unittest

from sandbox import chain

RESULT = "/var/tmp/bandwidth_result.txt"
COPY = "/var/tmp/bandwidth_tmp.txt"
# 253 characters, the longest DNS name: three 63-character labels and a last one.
LONGEST_NAME = ".".join(["a" * 63, "b" * 63, "c" * 63, "d" * 57]) + ".com"


class LinkgaugeFieldTest(unittest.TestCase):
    def setUp(self):
        self.chain = chain.Chain()
        self.addCleanup(self.chain.cleanup)

    def run_gauge(self):
        lines, _ = self.chain.run_linkgauge()
        self.assertEqual(["parent exit 0", "daemon exit 0"], lines)

    def test_manufacturer_hosts_with_long_dns_names_are_pinged_and_traced(self):
        c = self.chain
        self.assertEqual(253, len(LONGEST_NAME))
        for host in ("support.manufacturer-name.com", LONGEST_NAME):
            with self.subTest(host=host[:40]):
                c.router.root.write_hosts({chain.TRACE_TARGET: c.TARGET, host: c.VENDOR_ADDR})
                c.router.root.set_nvram({"wan_eth": "wan0", "manufacturer_url": "https://%s/support/faq" % host})
                for k in (2, 3, 4):
                    c.silence(k)  # no pair qualifies: the run ends after the trace
                for name in ("ping_manufacturer_host.txt", "tracegw.txt"):
                    path = c.router.root.path("/var/tmp/" + name)
                    if os.path.exists(path):
                        os.unlink(path)
                self.run_gauge()
                pinged = c.file("/var/tmp/ping_manufacturer_host.txt")
                self.assertIsNotNone(pinged, "the manufacturer host was never pinged")
                self.assertIn(host, pinged)
                self.assertNotIn(" 100% packet loss", pinged)
                self.assertIsNotNone(c.file("/var/tmp/tracegw.txt"))
                self.assertEqual("0", c.file(RESULT))

    def test_bare_gateway_addresses_keep_their_last_digit_and_results_are_replaced_whole(self):
        c = self.chain
        earlier = []
        for path in (RESULT, COPY):
            with open(c.router.root.path(path), "w") as f:
                f.write("77")
            # A reader that opened the earlier result keeps reading it whole.
            earlier.append(open(c.router.root.path(path)))
            self.addCleanup(earlier[-1].close)
        c.use_trace([" %d  gw%d %s" % (n, n, a) for n, a in enumerate(c.GATEWAYS, 1)])
        for k in (2, 3, 4):
            c.silence(k)
        self.run_gauge()
        self.assertEqual(" 4  gw4 198.18.13.2", c.file("/var/tmp/tracegw.txt").splitlines()[-1])
        for name, address in zip(("second", "third", "fourth"), c.GATEWAYS[1:]):
            out = c.file("/var/tmp/ping_gw_%s.txt" % name)
            self.assertIn("PING %s " % address, out)
            self.assertIn(" 100% packet loss", out)
        for path, reader in zip((RESULT, COPY), earlier):
            self.assertEqual("0", c.file(path))
            self.assertEqual("77", reader.read(), path)
        self.assertEqual([], [n for n in os.listdir(c.router.root.path("/var/tmp/")) if n.endswith(".NEW")])


if __name__ == "__main__":
    unittest.main()
