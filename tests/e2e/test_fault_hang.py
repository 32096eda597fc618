"""The operator's server accepts the web ping and never answers: wget is
killed by its time limit, the ping is logged as failed and the talkback loop
goes on with its other jobs."""

import time
import unittest

from tests.e2e import fault_kit
from sandbox import hotspot as kit
from sandbox import sandbox


class HungServerTest(unittest.TestCase):
    def test_hung_web_ping_is_killed_after_60_seconds_and_the_loop_goes_on(self):
        spot = self.enterContext(kit.Hotspot())
        spot.serve(settings=kit.settings_file(webping_interval=4, chilliconf_update_interval=6),
                   portal=kit.portal_file())
        with open(spot.operator.file("/ping") + ".hang", "w"):
            pass
        spot.operator.start_http()
        spot.start()
        spot.wait_logged("chilli is online", timeout=40)

        hung = sandbox.wait_for(lambda: spot.requests("/ping"), timeout=20, what="first web ping")[0]
        self.assertEqual(0, hung[4], "the server took the request and gave no answer")
        # Later requests are answered; the one taken stays unanswered.
        spot.operator.withdraw("/ping")
        spot.operator.serve("/ping", "pong\n")
        refreshes_before = len(spot.requests("/config/chilli.conf"))

        sandbox.wait_for(lambda: spot.logged("web ping failed"), timeout=75, interval=0.1,
                         what="the web ping's failure")
        waited = time.time() - hung[0]
        self.assertTrue(59.0 < waited < 90.0, waited)  # killed at its limit, not left hanging
        msgs = spot.messages()
        self.assertIn(("user.notice", "web ping failed"), msgs)
        self.assertIn(("user.debug", "child 'wget' exited with status: 137"), msgs)
        # Nothing ran while wget hung: the tick was held up, not skipped over.
        self.assertEqual(refreshes_before, len([r for r in spot.requests("/config/chilli.conf")
                                                if r[0] < hung[0] + 59]))

        # The loop goes on: the overdue refresh, then answered web pings.
        sandbox.wait_for(lambda: len(spot.requests("/config/chilli.conf")) > refreshes_before, timeout=10,
                         what="the refresh after the hang")
        spot.wait_logged("web ping successful", timeout=15)
        answered = [r for r in spot.requests("/ping") if r[0] > hung[0] + 59]
        self.assertTrue(answered)
        self.assertEqual({200}, {r[4] for r in answered})
        self.assertIsNone(spot.router.link_target())
        self.assertTrue(fault_kit.alive(fault_kit.spotwarden_pids(spot.router)[0]))
        self.assertFalse(spot.logged("router offline"))


if __name__ == "__main__":
    unittest.main()
