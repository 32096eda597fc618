"""Huge and binary downloads of the portal configuration, seen through the
running supervisor: memory stays bounded, a rejected file leaves the current
one alone, and a file that passes the first-line check is installed whole
and read afterwards without harm."""

import os
import random
import unittest

from tests.e2e import fault_kit
from sandbox import hotspot as kit
from sandbox import sandbox

CONF = "/var/run/chilli.conf"
MB = 1 << 20
# Growth of the supervisor's peak resident set that a streaming update may
# cause: a few stdio buffers and pages first touched, far below the file.
HWM_GROWTH_KB = 1024


def junk(seed, size):
    return random.Random(seed).randbytes(size)


class HugeDownloadTest(unittest.TestCase):
    def test_50_megabytes_of_junk_then_a_marked_50_megabyte_file(self):
        spot = self.enterContext(kit.Hotspot())
        spot.serve(settings=kit.settings_file(chilliconf_update_interval=3, webping_interval=60),
                   portal=kit.portal_file())
        spot.operator.start_http()
        spot.start()
        spot.wait_logged("chillispot config file unchanged", timeout=60)
        supervisor, _ = fault_kit.spotwarden_pids(spot.router)
        hwm_before = fault_kit.memory_kb(supervisor, "VmHWM")
        with open(spot.router.root.path(CONF), "rb") as f:
            current = f.read()

        # 50 MB of binary junk without the marker line: refused.
        failures = fault_kit.count_logged(spot, "config file download failed")
        spot.serve(portal=b"\0" + junk(1, 50 * MB))
        fault_kit.wait_logged_more(spot, "config file download failed", failures, timeout=60)
        with open(spot.router.root.path(CONF), "rb") as f:
            self.assertEqual(current, f.read())
        # The next refresh may be writing its side file already: none stays.
        sandbox.wait_for(lambda: not os.path.exists(spot.router.root.path(CONF + ".NEW")), what="no side file")
        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2"], spot.signal_names())

        # The marker line, then 50 MB of junk with a uamserver line inside:
        # the check is all that is asked of it, so it is installed whole.
        served = (b"# chilli.conf of junk\n" + junk(2, 25 * MB) + b"\nuamserver https://junk.example.com/\n" +
                  junk(3, 25 * MB))
        self.assertFalse(served.endswith(b"\n"))
        updates = fault_kit.count_logged(spot, "chillispot config file updated")
        spot.serve(portal=served)
        fault_kit.wait_logged_more(spot, "chillispot config file updated", updates, timeout=60)
        spot.wait_logged("uamserver = https://junk.example.com/", timeout=10)
        with open(spot.router.root.path(CONF), "rb") as f:
            self.assertEqual(served + b"\nradiussecret " + kit.SECRET.encode() + b"\n", f.read())
        sandbox.wait_for(lambda: not os.path.exists(spot.router.root.path(CONF + ".NEW")), what="no side file")
        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2", "SIGHUP"], spot.signal_names())

        # The next refresh compares the 50 MB with the same download: equal.
        unchanged = fault_kit.count_logged(spot, "chillispot config file unchanged")
        fault_kit.wait_logged_more(spot, "chillispot config file unchanged", unchanged, timeout=60)
        self.assertEqual(4, len(spot.signal_names()))
        self.assertTrue(fault_kit.alive(supervisor))
        if not fault_kit.SANITIZED:
            self.assertLess(fault_kit.memory_kb(supervisor, "VmHWM") - hwm_before, HWM_GROWTH_KB)

    def test_junk_server_names_are_read_and_probed_without_harm(self):
        spot = self.enterContext(kit.Hotspot())
        # radiusserver1 is 500 bytes of junk (no line end, NUL bytes and all),
        # radiusserver2 the real server, both among megabytes of junk.
        name = b"j\xff" + junk(4, 500).replace(b"\n", b"x").replace(b"\r", b"x")
        served = (b"# chilli.conf\n" + junk(5, 2 * MB) + b"\nradiusserver1 " + name +
                  b"\nradiusserver2 198.18.0.1\n" + junk(6, 2 * MB) + b"\n")
        spot.start_online(kit.settings_file(), served, timeout=60)
        sandbox.wait_for(lambda: "SIGUSR2" in spot.signal_names(), timeout=10, what="SIGUSR2")

        with open(spot.router.root.path(CONF), "rb") as f:
            self.assertEqual(served + b"radiussecret " + kit.SECRET.encode() + b"\n", f.read())
        self.assertTrue(spot.logged("fill_sockaddr: unknown host: "))
        self.assertTrue(spot.logged("radius accounting test to [198.18.0.1] successful"))
        self.assertTrue(spot.logged("radius authentication test to [198.18.0.1] successful"))
        # Server 2 answered at once: no failure page was ever shown.
        self.assertEqual(["/www/zelvanet_R002.html", None],
                         kit.without_blips(spot.watcher.changes))
        self.assertTrue(fault_kit.alive(fault_kit.spotwarden_pids(spot.router)[0]))


if __name__ == "__main__":
    unittest.main()
