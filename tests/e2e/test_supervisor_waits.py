"""spotwarden's control cycle while it cannot go online: the operator's server
down, RADIUS servers silent, and the pages and waits that go with them."""

import os
import unittest

from tests.e2e import fault_kit
from sandbox import hotspot as kit
from sandbox import sandbox

R002, R003, R004, R005 = ("/www/zelvanet_R%03d.html" % n for n in (2, 3, 4, 5))


class OperatorDownTest(unittest.TestCase):
    def test_failed_series_show_r003_and_wait_then_online_once_files_are_served(self):
        spot = self.enterContext(kit.Hotspot())
        spot.start()  # nothing listens on the operator's host yet
        spot.wait_logged("starting chillispot", timeout=15)
        fault_kit.wait_logged_more(spot, "attempting to download spotwarden config file", 1, timeout=30)
        spot.serve(settings=kit.settings_file())  # settings only: chilli.conf is 404
        spot.operator.start_http()
        sandbox.wait_for(lambda: len(spot.requests("/config/chilli.conf")) >= 4, timeout=40,
                         what="two failed series")
        self.assertEqual(R003, spot.router.link_target())
        spot.serve(portal=kit.portal_file())
        spot.wait_logged("chilli is online", timeout=40)
        sandbox.wait_for(lambda: "SIGUSR2" in spot.signal_names(), timeout=10, what="SIGUSR2")

        # Settings retried until served; each failed copy removed.
        self.assertTrue(spot.logged("retrieved spotwarden config file"))
        self.assertGreaterEqual(sum(m == "attempting to download spotwarden config file"
                                    for _, m in spot.messages()), 2)
        # Within a series tries are at least 1 s apart; between series 1 + 3 s.
        times = [r[0] for r in spot.requests("/config/chilli.conf")]
        gaps = [b - a for a, b in zip(times, times[1:])]
        self.assertTrue(gaps[0] > 0.8 and gaps[1] > 3.8 and gaps[2] > 0.8, times)
        self.assertEqual([404] * 4, [r[4] for r in spot.requests("/config/chilli.conf")][:4])
        self.assertTrue(spot.logged("config file download failed, will retry later..."))
        self.assertEqual([R002, R003, R002, None], kit.without_blips(spot.watcher.changes))
        self.assertEqual(["SIGHUP", "SIGPWR", "SIGUSR2"], spot.signal_names())
        self.assertFalse(os.path.exists(spot.router.root.path("/var/run/chilli.conf.NEW")))


class RadiusTest(unittest.TestCase):
    def start(self, mode, server1, server2):
        spot = self.enterContext(kit.Hotspot())
        peer = kit.RadiusPeer(spot.net, mode)
        self.addCleanup(peer.cleanup)
        spot.serve(settings=kit.settings_file(), portal=kit.portal_file(server1=server1, server2=server2))
        spot.operator.start_http()
        spot.start()
        return spot, peer

    def test_silent_first_server_and_answering_second_goes_online_without_failure_page(self):
        spot, peer = self.start("silent", kit.RadiusPeer.ADDRESS, "198.18.0.1")
        spot.wait_logged("chilli is online", timeout=40)
        sandbox.wait_for(lambda: kit.without_blips(spot.watcher.changes)[-1:] == [None], timeout=5,
                         what="link removed")
        sent = peer.datagrams()
        # retries 1: two sends to the silent server per check, 1 s apart.
        self.assertEqual([1813, 1813, 1812, 1812], [p for _, p in sent])
        self.assertGreater(sent[1][0] - sent[0][0], 0.8)
        self.assertEqual([R002, None], kit.without_blips(spot.watcher.changes))
        self.assertTrue(spot.logged("radius accounting test to [198.18.0.1] successful"))
        self.assertTrue(spot.logged("radius authentication test to [198.18.0.1] successful"))

    def test_no_accounting_answer_shows_r004_and_retries_after_the_failure_wait(self):
        spot, peer = self.start("silent", kit.RadiusPeer.ADDRESS, kit.RadiusPeer.ADDRESS)
        sandbox.wait_for(lambda: len(peer.datagrams()) >= 6, timeout=40, what="second round")
        sent = peer.datagrams()
        self.assertEqual([1813] * 6, [p for _, p in sent[:6]])
        # Round: 4 sends 1 s apart (server 1 twice, server 2 twice), then the 3 s wait.
        self.assertGreater(sent[4][0] - sent[3][0], 3.8, sent)
        self.assertEqual(R004, spot.router.link_target())
        self.assertEqual([R002, R004], kit.without_blips(spot.watcher.changes)[:2])
        self.assertEqual(["SIGHUP"], spot.signal_names())
        self.assertTrue(spot.logged("no reply received for radius packet"))

    def test_accounting_answered_but_not_authentication_shows_r005(self):
        spot, peer = self.start("acct-only", kit.RadiusPeer.ADDRESS, kit.RadiusPeer.ADDRESS)
        sandbox.wait_for(lambda: kit.without_blips(spot.watcher.changes)[-1:] == [R005], timeout=40, what="R005")
        self.assertEqual([1813, 1812, 1812, 1812, 1812], [p for _, p in peer.datagrams()][:5])
        self.assertEqual([R002, R005], kit.without_blips(spot.watcher.changes)[-2:])
        self.assertEqual(["SIGHUP"], spot.signal_names())
        self.assertFalse(spot.logged("chilli is online"))


if __name__ == "__main__":
    unittest.main()
