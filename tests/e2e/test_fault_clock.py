"""The router's clock stepped while the hotspot is online, through
libfaketime in the router only: a day forward, an hour back, and forward
again. Jobs that fell due fire once and then keep their period; none runs
twice in a tick; a clock set back holds every job until it catches up."""

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

    def assert_fires_once_then_keeps_period(self, step, settle):
        """After a step at `step`: web pings go on, the overdue one once, then
        no closer than every WEBPING seconds; refreshes never closer than a
        tick. (Which tick each fires at is the fake-clock unit tests'.)"""
        pings = self.pings(step)
        self.assertGreaterEqual(len(pings), settle // WEBPING, pings)
        gaps = [b - a for a, b in zip(pings, pings[1:])]
        self.assertTrue(all(g > 0.9 for g in gaps), gaps)
        self.assertTrue(all(g > WEBPING - 1.2 for g in gaps[1:]), gaps)
        refreshes = self.refreshes(step)
        self.assertTrue(refreshes)
        self.assertTrue(all(b - a > 0.9 for a, b in zip(refreshes, refreshes[1:])), refreshes)

    def test_clock_a_day_forward_an_hour_back_and_forward_again(self):
        self.spot = spot = self.enterContext(kit.Hotspot())
        spot.serve(settings=kit.settings_file(telemetry_setuptime=1, icmpping_interval=2, webping_interval=WEBPING,
                                              chilliconf_update_interval=4),
                   portal=kit.portal_file())
        spot.operator.start_http()
        self.set_offset(0)
        spot.start(env={"LD_PRELOAD": LIBFAKETIME, "FAKETIME_TIMESTAMP_FILE": OFFSET_FILE,
                                   "FAKETIME_NO_CACHE": "1", "FAKETIME_DONT_FAKE_MONOTONIC": "1"})
        spot.wait_logged("chilli is online", timeout=40)
        sandbox.wait_for(lambda: len(self.pings(0)) >= 3, timeout=20, what="web pings on real time")
        supervisor, _ = fault_kit.spotwarden_pids(spot.router)

        # A day forward, right after a ping: its next deadline is two ticks
        # away in real time, yet the step makes every job overdue.
        last = len(self.pings(0))
        sandbox.wait_for(lambda: len(self.pings(0)) > last, timeout=10, interval=0.01, what="a ping")
        forward = self.set_offset(86400)
        time.sleep(10)
        self.assert_fires_once_then_keeps_period(forward, 10)

        # An hour back: every deadline lies an hour ahead, so nothing runs
        # (a request already under way may still arrive for a while).
        back = self.set_offset(86400 - 3600)
        time.sleep(10)
        self.assertEqual([], [t for t in self.pings(back) if t > back + 4])
        self.assertEqual([], [t for t in self.refreshes(back) if t > back + 4])

        # Forward by the hour again: each job fires once, then its period.
        again = self.set_offset(86400)
        time.sleep(10)
        self.assert_fires_once_then_keeps_period(again, 10)

        self.assertTrue(fault_kit.alive(supervisor))
        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2"], spot.signal_names())
        self.assertFalse(spot.logged("router offline"))
        self.assertFalse(spot.logged("web ping failed"))


if __name__ == "__main__":
    unittest.main()
