"""The simulated hotspot, narrated: the router runs spotwarden with the chilli
stand-in, the operator's host serves the settings and the portal
configuration over HTTP, answers the ICMP heartbeat and runs FreeRADIUS.
Prints one line per event as it happens, cuts the router's upstream link,
shows the hotspot going offline and coming back, ends with the router's
status file and the operator's heartbeat-collector's view of the router, and
exits 0 only when every expected transition was seen. Run inside
sandbox/run-in-sandbox from the source folder: python3 -m sandbox.demo"""

import sys
import time

from sandbox import hotspot, sandbox
from sandbox.collector import Collector

SECRET = "demo-secret"
SETTINGS = """# spotwarden.conf for the demo hotspot
telemetry_setuptime 5
icmpping_interval 3
icmpping_failure_wait 2
icmpping_retry_interval 1
icmpping_retries 2
webping_url http://%s/ping
webping_interval 10
chilliconf_update_interval 20
radiuscheck_retries 1
radiuscheck_retry_interval 2
""" % sandbox.OPERATOR_HOST
PORTAL = """# chilli.conf for the demo hotspot
radiusserver1 198.18.0.1
radiusserver2 198.18.0.1
uamserver https://%s/login
uamsecret demo-uam-secret
""" % sandbox.OPERATOR_HOST
COMMAND = "/sbin/spotwarden " + hotspot.command_args(SECRET)
NOTICE_KEYS = ("retrieved", "chillispot config file updated", "uamserver", "successful",
               "chilli is online", "router offline", "router online", "web ping", "unchanged")


class Narrator:
    """Watches the router and the operator's host and prints what changes."""

    def __init__(self, net):
        self.net = net
        self.t0 = time.time()
        self.link = object()
        self.journal_seen = 0
        self.requests_seen = 0
        self.log_seen = 0
        self.events = []  # (kind, detail) in the order seen

    def say(self, what, t=None):
        print("[%6.1fs] %s" % ((t or time.time()) - self.t0, what), flush=True)

    def poll(self):
        router, op = self.net.router, self.net.operator
        target = router.link_target()
        if target != self.link:
            self.link = target
            if target is None and not self.events:
                self.say("offline-reason link: none yet")
            else:
                self.say("offline-reason link -> %s" % (target or "(none: hotspot online)"))
            self.events.append(("link", target))
        journal = router.chilli_journal()
        for entry in journal[self.journal_seen:]:
            if entry[1] == "signal":
                self.say("chilli received %s" % entry[3], entry[0])
                self.events.append(("signal", entry[3]))
            elif entry[1] == "start":
                self.say("chilli started: chilli %s" % " ".join(entry[3:]), entry[0])
                self.events.append(("start", None))
        self.journal_seen = len(journal)
        reqs = op.requests()
        for t, client, method, path, status in reqs[self.requests_seen:]:
            self.say("operator saw %s %s -> %d" % (method, path, status), t)
            self.events.append(("request", path.split("?")[0]))
        self.requests_seen = len(reqs)
        lines = router.log_lines()
        for prio, text in lines[self.log_seen:]:
            if prio == "user.notice" and any(k in text for k in NOTICE_KEYS):
                self.say("log %s: %s" % (prio, text.split(": ", 1)[-1]))
                self.events.append(("log", text))
        self.log_seen = len(lines)

    def wait(self, predicate, timeout, what):
        deadline = time.time() + timeout
        while time.time() < deadline:
            self.poll()
            if predicate():
                return True
            time.sleep(0.1)
        self.say("MISSING: " + what)
        return False

    def seen(self, kind, detail=None):
        return any(k == kind and (detail is None or (d is not None and detail in d)) for k, d in self.events)

    def count(self, kind, detail):
        return sum(1 for k, d in self.events if k == kind and d is not None and detail in d)


def collector_view(n, collector, nasid):
    """Prints the collector's record of the router; True when it is up."""
    r = collector.router(nasid)
    if r is None:
        n.say("collector: no heartbeat from %s" % nasid)
        return False
    days, rest = divmod(r["uptime_seconds"], 86400)
    n.say("collector: %s at %s %s, uptime %dd %02d:%02d, load %.2f, memory %d MiB free of %d MiB, "
          "%d heartbeats, %d reboots" % (r["nasid"], r["address"], "up" if r["up"] else "DOWN", days,
                                         rest // 3600, rest % 3600 // 60, r["load1"],
                                         r["memory_free_bytes"] >> 20, r["memory_total_bytes"] >> 20,
                                         r["heartbeats"], r["reboots"]))
    return r["up"]


def main():
    with hotspot.Hotspot(secret=SECRET) as spot:
        spot.serve(settings=SETTINGS, portal=PORTAL)
        spot.operator.start_http()
        collector = Collector(spot.operator.host, "127.0.0.1:9595", "--stale-after", "10")
        try:
            ok = narrate(spot, collector)
        finally:
            collector.cleanup()
    if ok:
        print("demo: every expected transition was seen", flush=True)
        return 0
    print("demo: some expected transitions were not seen", flush=True)
    return 1


def narrate(spot, collector):
    """Starts spotwarden, cuts and restores the upstream link and tells what
    it sees; True when every expected transition came."""
    net = spot.net
    ok = True
    n = Narrator(net)
    n.say("operator's host up: HTTP on %s:80, FreeRADIUS on 1812/1813, heartbeat-collector on "
          "127.0.0.1:9595" % net.operator.address)
    n.say("starting: " + COMMAND)
    spot.start()
    steps = [
        (lambda: n.seen("signal", "SIGHUP"), 40, "portal configuration swapped in (SIGHUP)"),
        (lambda: n.seen("log", "chilli is online"), 40, "RADIUS checks passed, chilli online"),
        (lambda: n.seen("signal", "SIGUSR2"), 10, "chilli switched online (SIGPWR, SIGUSR2)"),
        (lambda: n.seen("request", "/ping"), 20, "first web ping"),
    ]
    for predicate, timeout, what in steps:
        ok = n.wait(predicate, timeout, what) and ok
    n.say("--- cutting the router's upstream link (wan0 down) ---")
    net.wan(False)
    ok = n.wait(lambda: n.seen("signal", "SIGUSR1") and n.seen("link", "R001"), 20,
                "hotspot offline (SIGUSR1, page R001)") and ok
    end = time.time() + 6
    while time.time() < end:
        n.poll()
        time.sleep(0.1)
    n.say("--- restoring the upstream link ---")
    net.wan(True)
    ok = n.wait(lambda: n.count("signal", "SIGUSR2") >= 2 and n.link is None and
                n.seen("log", "router online"), 20, "hotspot back online (SIGUSR2, link removed)") and ok
    ok = n.wait(lambda: n.count("request", "/ping") >= 2, 20, "web ping after the return") and ok
    with open(net.router.root.path("/var/run/spotwarden.status")) as f:
        n.say("router: /var/run/spotwarden.status: " + " ".join(f.read().split()[:7]))
    n.say("--- the operator's view (GET /routers of heartbeat-collector, the same as /metrics) ---")
    ok = collector_view(n, collector, hotspot.NASID) and ok
    n.say("--- stopping ---")
    return ok


if __name__ == "__main__":
    sys.exit(main())
