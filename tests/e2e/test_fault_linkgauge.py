"""linkgauge fed shell metacharacters through the settings store's
manufacturer URL and through the addresses of the trace output: nothing of
it reaches a shell. Each payload is first shown to be live (run through the
shell the way linkgauge builds its commands, it makes its canary file); in
linkgauge's hands no canary may appear."""

import os
import unittest

from sandbox import chain

RESULT = "/var/tmp/bandwidth_result.txt"

# Payloads in the host part of the URL: no "/" (the host ends there), so
# they reach /var/tmp from linkgauge's working directory "/" by cd.
URL_PAYLOADS = {
    "canary_u1": "x;cd var;cd tmp;touch canary_u1;",
    "canary_u2": "$(cd var;cd tmp;touch canary_u2)",
    "canary_u3": "`cd var;cd tmp;touch canary_u3`",
    "canary_u4": "x||cd var&&cd tmp&&touch canary_u4",
    "canary_u5": "x|cd var|touch var/tmp/canary_u5",
}

# Addresses between the parentheses of the trace's hop lines, four per run
# (linkgauge reads the hops of lines 4 to 7).
TRACE_PAYLOADS = [
    {"canary_t1": "198.18.10.1;touch$IFS/var/tmp/canary_t1",
     "canary_t2": "`touch$IFS/var/tmp/canary_t2`",
     "canary_t3": "$(touch$IFS/var/tmp/canary_t3)",
     "canary_t4": "198.18.13.2|touch$IFS/var/tmp/canary_t4"},
    {"canary_t5": "x||touch$IFS/var/tmp/canary_t5",
     "canary_t6": "a$(touch$IFS/var/tmp/canary_t6)",
     "canary_t7": "198.18.12.2;touch /var/tmp/canary_t7",
     "canary_t8": "198.18.13.2 `touch /var/tmp/canary_t8`"},
]


class ShellInjectionTest(unittest.TestCase):
    def start(self, nvram=None):
        self.chain = chain.Chain(nvram=nvram)
        self.addCleanup(self.chain.cleanup)
        return self.chain

    def canaries(self):
        return sorted(n for n in os.listdir(self.chain.router.root.path("/var/tmp/")) if n.startswith("canary"))

    def assert_live(self, canary, host_text):
        """The payload, in a command line like linkgauge's, does run."""
        rc, _, err = self.chain.router.run("cd / && ping -c 1 %s > /var/tmp/control.txt" % host_text)
        self.assertEqual([canary], self.canaries(), err)
        os.unlink(self.chain.router.root.path("/var/tmp/" + canary))

    def run_gauge(self):
        lines, _ = self.chain.run_linkgauge()
        self.assertEqual(["parent exit 0", "daemon exit 0"], lines)
        self.assertEqual("0", self.chain.file(RESULT))

    def test_manufacturer_urls_with_shell_text(self):
        c = self.start()
        for canary, host in URL_PAYLOADS.items():
            with self.subTest(url=host):
                self.assert_live(canary, host)
                c.router.root.set_nvram({"wan_eth": "wan0", "manufacturer_url": "http://%s/support" % host})
                self.run_gauge()
                self.assertEqual([], self.canaries())
                self.assertIsNone(c.file("/var/tmp/ping_manufacturer_host.txt"))

    def test_trace_addresses_with_shell_text(self):
        c = self.start()
        for payloads in TRACE_PAYLOADS:
            with self.subTest(payloads=sorted(payloads)):
                for canary, address in payloads.items():
                    self.assert_live(canary, address)
                hops = ["%2d  hop%d (%s)  0.100 ms" % (n, n, a) for n, a in enumerate(payloads.values(), 1)]
                c.use_trace(hops)
                self.run_gauge()
                self.assertEqual(hops, c.file("/var/tmp/tracegw.txt").splitlines()[3:])
                self.assertEqual([], self.canaries())


if __name__ == "__main__":
    unittest.main()
