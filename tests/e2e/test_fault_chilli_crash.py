"""chilli crashes a second after every start for a minute: the keeper
restarts it ten seconds after each crash, and neither the supervisor nor the
keeper gains memory or descriptors meanwhile. Whatever else dies, the keeper
or spotwarden itself, one chilli runs again, never two."""

import signal
import time
import unittest

from tests.e2e import fault_kit
from sandbox import hotspot as kit
from sandbox import sandbox

# Also run on the emulated router image (ctest -L image, scripts/test-image):
# these tests of the module, or all of them when empty.
IMAGE_SCENARIO = "CrashingPortalTest.test_one_chilli_comes_back_after_the_keeper_or_spotwarden_is_killed"

# Pages a process may touch for the first time late in its life (a deeper
# stack, a code page) without leaking anything.
RSS_SLACK_KB = 16
RESPAWN = "sh -c 'while :; do \"$@\"; done' init "  # BusyBox init's respawn


def footprint(pid, samples=10):
    """(VmRSS kB, open descriptors), each the least of a few samples: a probe
    or download in flight holds a descriptor for a moment."""
    rss, fds = [], []
    for _ in range(samples):
        rss.append(fault_kit.memory_kb(pid, "VmRSS"))
        fds.append(fault_kit.fd_count(pid))
        time.sleep(0.1)
    return min(rss), min(fds)


class CrashingPortalTest(unittest.TestCase):
    def test_keeper_restarts_a_crashing_chilli_every_ten_seconds_while_nothing_grows(self):
        spot = self.enterContext(kit.Hotspot())
        spot.start_online(kit.settings_file(icmpping_interval=1, webping_interval=2, chilliconf_update_interval=3),
                          kit.portal_file(), env={"CHILLI_EXIT_AFTER": "1", "CHILLI_EXIT_HOW": "crash"})
        spot.wait_logged("chillispot config file unchanged", timeout=20)
        supervisor, keeper = fault_kit.spotwarden_pids(spot.router)
        self.assertIsNotNone(keeper)
        before = {pid: footprint(pid) for pid in (supervisor, keeper)}
        def crash_count():
            return len([e for e in spot.router.chilli_journal() if e[1] == "crash"])
        crashes_before = crash_count()

        # A minute at least, and five crashes, however slow the machine.
        time.sleep(60)
        sandbox.wait_for(lambda: crash_count() - crashes_before >= 5, timeout=60, what="five crashes")

        self.assertEqual((supervisor, keeper), fault_kit.spotwarden_pids(spot.router))
        after = {pid: footprint(pid) for pid in (supervisor, keeper)}
        for pid, who in ((supervisor, "supervisor"), (keeper, "keeper")):
            self.assertEqual(before[pid][1], after[pid][1], "descriptors of the " + who)
            if not fault_kit.SANITIZED:
                self.assertLessEqual(after[pid][0] - before[pid][0], RSS_SLACK_KB, "VmRSS of the " + who)

        journal = spot.router.chilli_journal()
        starts = [e[0] for e in journal if e[1] == "start"]
        crashes = [e[0] for e in journal if e[1] == "crash"]
        self.assertGreaterEqual(len(crashes) - crashes_before, 5)
        # Each chilli lives its second; the next one comes ten seconds after,
        # never sooner (one pause per death: the keeper's unit test).
        for start, crash in zip(starts, crashes):
            self.assertGreater(crash - start, 0.9, (start, crash))
        for crash, restart in zip(crashes, starts[1:]):
            self.assertGreater(restart - crash, 9.9, (crash, restart))
        msgs = spot.messages()
        died = msgs.count(("user.notice", "chillispot has died, pausing before restart."))
        self.assertGreaterEqual(died, len(crashes))
        self.assertIn(("user.debug", "child 'chilli' exited with status: 139"), msgs)

        # The supervisor went on with its own work all along.
        pings = [r for r in spot.requests("/ping") if r[0] > time.time() - 60]
        self.assertGreaterEqual(len(pings), 20)
        self.assertFalse(spot.logged("router offline"))
        self.assertIsNone(spot.router.link_target())

    def test_one_chilli_comes_back_after_the_keeper_or_spotwarden_is_killed(self):
        spot = self.enterContext(kit.Hotspot())
        # The image's own init respawns its services.
        spot.start_online(kit.settings_file(), kit.portal_file(), launcher="" if spot.router.system else RESPAWN)
        supervisor, keeper = fault_kit.spotwarden_pids(spot.router)
        [(orphan, _)] = fault_kit.processes(spot.router, "chilli")
        def after_a_web_ping(lives):
            fault_kit.wait_logged_more(spot, "web ping ", fault_kit.count_logged(spot, "web ping "), 10)
            self.assertEqual(lives, [e[1] for e in spot.router.chilli_journal() if e[1] in ("start", "exit")])
            self.assertEqual(1, len([s for _, s in fault_kit.processes(spot.router, "chilli") if s != "Z"]))
            self.assertNotIn("Z", [state for _, state in fault_kit.processes(spot.router, "spotwarden")])

        # Killed as the OOM killer kills: the new keeper waits out the old chilli.
        fault_kit.kill(spot.router, keeper, signal.SIGKILL)
        spot.wait_logged("portal keeper has died, starting a new one", timeout=10)
        spot.wait_logged("chillispot already running, waiting for it to exit", timeout=10)
        fault_kit.kill(spot.router, orphan, signal.SIGTERM)
        fault_kit.wait_logged_more(spot, "starting chillispot...", 1, timeout=10)
        after_a_web_ping(["start", "exit", "start"])

        # Killed, then started again by init: the old keeper takes its chilli along.
        fault_kit.kill(spot.router, supervisor, signal.SIGKILL)
        fault_kit.wait_logged_more(spot, "chilli is online", 1, timeout=40)
        after_a_web_ping(["start", "exit"] * 2 + ["start"])
        sandbox.wait_for(lambda: all(fault_kit.spotwarden_pids(spot.router)), timeout=10, what="the old keeper gone")


if __name__ == "__main__":
    unittest.main()
