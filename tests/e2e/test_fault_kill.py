"""spotwarden killed with SIGKILL at random moments of portal configuration
updates, over and over: afterwards the configuration is always the old file
or the new one, whole. Four hotspots run side by side to get fifty kills in
reasonable time."""

import os
import random
import signal
import threading
import time
import unittest

from tests.e2e import fault_kit
from sandbox import hotspot as kit
from sandbox import sandbox

HOTSPOTS = 4
KILLS_EACH = 13
CONF = "/var/run/chilli.conf"
ARGS = "--radiusnasid %s -c %s --radiussecret %s" % (kit.NASID, CONF, kit.SECRET)
SETTINGS = kit.settings_file(radiuscheck=0, telemetry_setuptime=0, chilliconf_update_interval=1,
                             icmpping_interval=600, webping_interval=600)


def portal(variant):
    """Two large configurations that differ only in their last line, so the
    comparison of one with the other reads them through."""
    body = "".join("# operator's note %06d ..........................................\n" % n
                   for n in range(8192))
    return kit.portal_file(server1="198.18.0.1", server2="198.18.0.1", extra=body) + \
        "uamhomepage https://%s/%s\n" % (sandbox.OPERATOR_HOST, variant)


VARIANTS = {v: portal(v) for v in ("a", "b")}
INSTALLED = {v: (text + "radiussecret " + kit.SECRET + "\n").encode() for v, text in VARIANTS.items()}


class KillScenario:
    """A hotspot of its own (the names differ from the standard network's,
    the addresses are the same), spotwarden started again and again, and the
    outcome of every kill."""

    def __init__(self, spot, seed):
        self.router = spot.router
        self.operator = spot.operator
        # A shaped link stretches the download, so that the kills spread
        # over the whole update instead of landing after it.
        self.operator.host.run("tc", "qdisc", "add", "dev", "up0", "root", "tbf", "rate", "16mbit",
                               "burst", "32kb", "latency", "400ms")
        self.operator.serve("spotwarden.conf", SETTINGS)
        self.operator.start_http()
        self.rnd = random.Random(seed)
        self.variant = "a"
        self.offline = None
        self.window = {}
        self.outcomes = []  # (kind, "old" or "new")
        self.error = None

    # --- one run of spotwarden ------------------------------------------------

    def serve(self, variant):
        self.variant = variant
        self.operator.serve("chilli.conf", VARIANTS[variant])

    def flip(self):
        self.serve("b" if self.variant == "a" else "a")

    def portal_requests(self):
        return [r for r in self.operator.requests() if r[3].startswith("/config/chilli.conf")]

    def hups(self):
        return [e[0] for e in self.router.chilli_journal() if e[1] == "signal" and e[3] == "SIGHUP"]

    def current(self):
        with open(self.router.root.path(CONF), "rb") as f:
            return f.read()

    def start(self):
        self.requests_before = len(self.portal_requests())
        self.hups_before = len(self.hups())
        self.router.start("/sbin/spotwarden " + ARGS)
        return sandbox.wait_for(lambda: fault_kit.spotwarden_pids(self.router)[0], timeout=10,
                                what="spotwarden's process")

    def nth_request(self, n, timeout=20):
        """Time of the n-th portal configuration request of this run."""
        got = sandbox.wait_for(lambda: len(self.portal_requests()) >= self.requests_before + n and
                               self.portal_requests(), timeout=timeout, interval=0.002,
                               what="portal configuration request %d" % n)
        return got[self.requests_before + n - 1][0]

    def nth_hup(self, n, timeout=10):
        got = sandbox.wait_for(lambda: len(self.hups()) >= self.hups_before + n and self.hups(),
                               timeout=timeout, interval=0.002, what="reload %d" % n)
        return got[self.hups_before + n - 1]

    def kill(self, pid):
        os.kill(pid, signal.SIGKILL)
        # The supervisor is the first process of the router's pid namespace:
        # with it go the keeper, chilli and any wget in flight.
        self.router.proc.wait(timeout=10)
        self.router.proc = None
        # A killed process of the old run may still be exiting (slowly under a
        # sanitizer); the next run must not take it for its own supervisor.
        sandbox.wait_for(lambda: not fault_kit.spotwarden_processes(self.router), timeout=30,
                         what="the killed run's processes gone")

    # --- the scenario -----------------------------------------------------------

    def warm_up(self):
        """One run without a kill: learns the offline file and how long an
        update takes, from the request to chilli's reload."""
        self.serve("a")
        pid = self.start()
        self.nth_request(1)
        self.offline = self.current()
        self.window["cycle"] = self.nth_hup(1) - self.nth_request(1)
        self.flip()
        self.window["refresh"] = self.nth_hup(2) - self.nth_request(2)
        self.kill(pid)

    def kill_once(self, kind):
        if kind == "cycle":
            self.flip()
            old, new = self.offline, INSTALLED[self.variant]
            pid = self.start()
            self.nth_request(1)
        else:
            pid = self.start()
            self.nth_request(1)
            self.nth_hup(1)
            old = self.current()
            self.flip()
            new = INSTALLED[self.variant]
            self.nth_request(2)
        time.sleep(self.rnd.uniform(0, 2 * self.window[kind]))
        self.kill(pid)
        after = self.current()
        if after not in (old, new):
            raise AssertionError("after a kill in a %s update: %d bytes, neither the old (%d) nor the new (%d) file"
                                 % (kind, len(after), len(old), len(new)))
        self.outcomes.append((kind, "old" if after == old else "new"))

    def finish(self):
        """A last run left alone installs the served file and leaves no side
        file, whatever the kills left behind."""
        self.flip()
        self.start()
        self.nth_hup(1)
        sandbox.wait_for(lambda: not os.path.exists(self.router.root.path(CONF + ".NEW")), timeout=5,
                         what="no side file")
        if self.current() != INSTALLED[self.variant]:
            raise AssertionError("the last update did not install the served file")
        self.router.stop()

    def run(self):
        try:
            self.warm_up()
            for _ in range(KILLS_EACH):
                self.kill_once(self.rnd.choice(("cycle", "refresh")))
            self.finish()
        except Exception as e:  # handed to the test's thread
            self.error = e


class KillDuringUpdateTest(unittest.TestCase):
    def test_fifty_kills_during_updates_leave_the_old_or_the_new_file_whole(self):
        spots = []
        for i in range(HOTSPOTS):
            spot = self.enterContext(kit.Hotspot(radius=False, suffix=str(i + 1)))
            spots.append(KillScenario(spot, seed=100 + i))
        threads = [threading.Thread(target=s.run) for s in spots]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for s in spots:
            if s.error:
                raise s.error

        outcomes = [o for s in spots for o in s.outcomes]
        self.assertGreaterEqual(len(outcomes), 50)
        # The kills fell on both sides of the swap, in both kinds of update.
        for kind in ("cycle", "refresh"):
            for result in ("old", "new"):
                self.assertGreaterEqual(outcomes.count((kind, result)), 2, (kind, result, outcomes))


if __name__ == "__main__":
    unittest.main()
