"""The router's wall clock stepped while the hotspot is online, through
libfaketime in the router only: a day forward, an hour back, and forward
again. The jobs count on the monotonic clock: each keeps its period through
every step, none fires early, none is held, the heartbeat goes on; the status
file shows the stepped wall clock."""

import glob
import os
import time
import unittest

from tests.e2e import fault_kit
from sandbox import hotspot as kit
from sandbox import sandbox

LIBFAKETIME = (glob.glob("/usr/lib/*/faketime/libfaketime.so.1") + [None])[0]
OFFSET_FILE = "/var/run/faketime"
WEBPING = 3
REFRESH = 4


@unittest.skipIf(LIBFAKETIME is None, "libfaketime (package faketime) is not installed")
@unittest.skipIf(fault_kit.SANITIZED, "libfaketime cannot be preloaded ahead of the sanitizer runtime")
class ClockStepTest(unittest.TestCase):
    def set_offset(self, seconds):
        """Steps the router's clock to real time plus `seconds`."""
        path = self.spot.router.root.path(OFFSET_FILE)
        with open(path + ".tmp", "w") as f:
            f.write("%+d\n" % seconds)
        os.replace(path + ".tmp", path)
        return time.time()

    def pings(self, since):
        return [r[0] for r in self.spot.requests("/ping") if r[0] > since]

    def refreshes(self, since):
        return [r[0] for r in self.spot.requests("/config/chilli.conf") if r[0] > since]

    def heartbeat_shown(self):
        """last_heartbeat_ok of the status file, in the router's wall time."""
        with open(self.spot.router.root.path("/var/run/spotwarden.status")) as f:
            return int(dict(line.split("=", 1) for line in f.read().split())["last_heartbeat_ok"])

    def assert_keeps_period(self, step):
        """Across a step at `step`: web pings and refreshes go on, none closer
        than its period (less a tick's jitter) to the one before."""
        pings = self.pings(step - 2 * WEBPING)
        gaps = [b - a for a, b in zip(pings, pings[1:])]
        self.assertTrue(all(g > WEBPING - 1.2 for g in gaps), gaps)
        refreshes = self.refreshes(step - 2 * REFRESH)
        self.assertTrue(all(b - a > REFRESH - 1.2 for a, b in zip(refreshes, refreshes[1:])), refreshes)

    def test_clock_a_day_forward_an_hour_back_and_forward_again(self):
        self.spot = spot = self.enterContext(kit.Hotspot())
        spot.serve(settings=kit.settings_file(telemetry_setuptime=1, icmpping_interval=2, webping_interval=WEBPING,
                                              chilliconf_update_interval=REFRESH),
                   portal=kit.portal_file())
        spot.operator.start_http()
        self.set_offset(0)
        spot.start(env={"LD_PRELOAD": LIBFAKETIME, "FAKETIME_TIMESTAMP_FILE": OFFSET_FILE,
                                   "FAKETIME_NO_CACHE": "1", "FAKETIME_DONT_FAKE_MONOTONIC": "1"})
        spot.wait_logged("chilli is online", timeout=40)
        sandbox.wait_for(lambda: len(self.pings(0)) >= 3, timeout=20, what="web pings on real time")
        supervisor, _ = fault_kit.spotwarden_pids(spot.router)

        # A day forward, an hour back, forward by the hour again: the
        # status file shows each step, the jobs follow none of them (set
        # back, they once held still for the hour).
        for offset in (86400, 86400 - 3600, 86400):
            step = self.set_offset(offset)
            sandbox.wait_for(lambda: len(self.pings(step)) >= 3 and self.refreshes(step) and
                             self.heartbeat_shown() > step + offset, timeout=30,
                             what="pings, a refresh and a heartbeat after the step to %+d" % offset)
            self.assert_keeps_period(step)

        self.assertTrue(fault_kit.alive(supervisor))
        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2"], spot.signal_names())
        self.assertFalse(spot.logged("router offline"))
        self.assertFalse(spot.logged("web ping failed"))


if __name__ == "__main__":
    unittest.main()
