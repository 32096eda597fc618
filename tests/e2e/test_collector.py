"""The operator's view of the fleet: the real spotwarden sends heartbeats,
heartbeat-collector receives them on the operator's host and a real
Prometheus server scrapes it over TLS with basic authentication. Forged
heartbeats from the router's namespace count a reboot and bring bad input:
wrong lengths, an identifier without its terminator, non-UTF-8 identifiers,
floods of foreign ICMP; then hostile traffic: 100,000 forged identifiers from
forged addresses, a flood of malformed heartbeats, slow clients and
concurrent scrapes asking for brotli. The records survive a restart; an
allow list is reread on SIGHUP; the fleet page is drawn by Chromium. Also the
router's own status file while this goes on."""

import json
import os
import random
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import unittest

from sandbox import hotspot as kit
from sandbox import sandbox
from sandbox.collector import PROGRAM as collector_program
from sandbox.collector import Collector, Prometheus, WebConfig, heartbeat, send_icmp, start_scrapers
from sandbox.icmp_peer import with_checksum
from tests.e2e import fault_kit

# Also run on the emulated router image (ctest -L image, scripts/test-image):
# these tests of the module, or all of them when empty.
IMAGE_SCENARIO = ""

STALE_AFTER = 6
UP = 'spotwarden_router_up{nasid="%s"}' % kit.NASID
SENDER = os.path.join(sandbox.BUILD_DIR, "tools", "heartbeat_sender")
MAX_ROUTERS = 3000
# The collector's memory bound as documented: a base and so much per record.
MEMORY_BASE, MEMORY_PER_ROUTER = 64 << 20, 4096
ARTEFACTS = os.path.join(sandbox.BUILD_DIR, "test-artefacts")
CHROMIUM = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync"]


def status_file(router):
    with open(router.root.path("/var/run/spotwarden.status")) as f:
        return dict(line.split("=", 1) for line in f.read().splitlines())


def refused(prometheus, reason):
    return prometheus.value('spotwarden_collector_refused_total{reason="%s"}' % reason) or 0


def chromium(url, *args):
    """Headless Chromium on `url` with a fresh profile: its output."""
    profile = tempfile.mkdtemp(prefix="swchromium.")
    try:
        return subprocess.run(CHROMIUM + ["--user-data-dir=" + profile] + list(args) + [url], check=True,
                              capture_output=True, text=True, timeout=120).stdout
    finally:
        shutil.rmtree(profile, ignore_errors=True)


def meminfo_total(router):
    with open(router.proc_path("meminfo")) as f:
        kib = next(int(line.split()[1]) for line in f if line.startswith("MemTotal:"))
    return (kib * 1024) & 0xFFFFFFFF  # the heartbeat carries the low 32 bits


class CollectorTest(unittest.TestCase):
    def test_prometheus_sees_the_router_up_rebooted_and_down_and_bad_input_never_spoils_it(self):
        # A bad option: the usage text and status 1, nothing opened.
        bad = subprocess.run([collector_program, "--stale-after", "soon"], capture_output=True, text=True)
        self.assertEqual((1, ""), (bad.returncode, bad.stdout))
        self.assertTrue(bad.stderr.startswith("usage: heartbeat-collector [--listen ADDR:PORT]"), bad.stderr)

        spot = self.enterContext(kit.Hotspot())
        spot.serve(settings=kit.settings_file(icmpping_interval=1), portal=kit.portal_file())
        spot.operator.start_http()
        op = spot.operator.host
        web = WebConfig()
        self.addCleanup(web.cleanup)
        scratch = tempfile.mkdtemp(prefix="swcollector-state.")
        self.addCleanup(shutil.rmtree, scratch, ignore_errors=True)
        os.chmod(scratch, 0o777)  # the collector writes it as nobody
        state = os.path.join(scratch, "state")
        options = ("--stale-after", str(STALE_AFTER), "--state-file", state)
        collector = Collector(op, "127.0.0.1:9595", *options, "--max-routers", str(MAX_ROUTERS), web=web)
        self.addCleanup(collector.cleanup)
        prometheus = Prometheus(op, ["127.0.0.1:9595"], web=web)
        self.addCleanup(prometheus.cleanup)
        # Without the password: nothing but a request for it.
        denied = op.run("wget", "-qO-", "--ca-certificate=" + web.ca, "https://127.0.0.1:9595/metrics", check=False)
        self.assertEqual("", denied)
        self.assertIn("starting empty", collector.output())

        # Only the raw socket was needed, and it is open: no privilege is left.
        status = collector.process_status()
        self.assertEqual("65534", status["Uid"].split()[1])
        self.assertEqual("0000000000000000", status["CapEff"])
        self.assertEqual("0000000000000000", status["CapPrm"])

        spot.start()
        spot.wait_logged("chilli is online", timeout=40)
        sandbox.wait_for(lambda: prometheus.value(UP) == 1, timeout=30, what="router up in Prometheus")
        [(labels, _)] = prometheus.query('spotwarden_router_info{nasid="%s"}' % kit.NASID)
        self.assertEqual("198.18.0.2", labels["address"])
        self.assertNotIn("address", prometheus.query(UP)[0][0])
        self.assertEqual(1, prometheus.value('spotwarden_collector_build_info'))
        self.assertEqual(MAX_ROUTERS, prometheus.value("spotwarden_collector_max_routers"))
        # Telemetry as the router's own /proc tells it.
        sandbox.wait_for(lambda: os.path.exists(spot.router.proc_path("uptime")), what="the router's /proc")
        with open(spot.router.proc_path("uptime")) as f:
            uptime = float(f.read().split()[0])
        self.assertAlmostEqual(uptime, prometheus.value('spotwarden_router_uptime_seconds{nasid="%s"}' % kit.NASID),
                               delta=30)
        self.assertEqual(meminfo_total(spot.router), prometheus.value("spotwarden_router_memory_total_bytes"))
        # The kernel's task count, as /proc/loadavg's fourth field ends; the
        # router starts and ends its wget and killall runs meanwhile.
        with open(spot.router.proc_path("loadavg")) as f:
            tasks = int(f.read().split()[3].split("/")[1])
        self.assertAlmostEqual(tasks, prometheus.value("spotwarden_router_processes"), delta=max(10, tasks // 4))

        # The router's status file says the same, and no secret.
        sandbox.wait_for(lambda: int(status_file(spot.router).get("heartbeats_ok", 0)) >= 1, timeout=10,
                         what="a heartbeat in the status file")
        text = status_file(spot.router)
        self.assertEqual("online", text["state"])
        self.assertEqual("none", text["page"])
        self.assertEqual("198.18.0.1", text["radius_server"])
        self.assertEqual("1", text["portal_updates"])
        self.assertEqual("0", text["heartbeats_failed"])
        self.assertNotIn(kit.SECRET, str(text))

        # A heartbeat with the same identifier and a smaller uptime: a reboot.
        # The router's next real heartbeat goes forward again: no second one.
        router = spot.router.host
        real = collector.router(kit.NASID)["heartbeats"]
        send_icmp(router, "198.18.0.1", [heartbeat(kit.NASID.encode() + b"\0", uptime=5)])
        sandbox.wait_for(lambda: prometheus.value("spotwarden_router_reboots_total") == 1, timeout=15,
                         what="a reboot counted")
        sandbox.wait_for(lambda: collector.router(kit.NASID)["heartbeats"] >= real + 3, timeout=15,
                         what="real heartbeats after the forged one")
        self.assertEqual(1, collector.router(kit.NASID)["reboots"])
        if spot.router.system:  # the emulated router really reboots: counted once, back up
            probed = "radius authentication test to [198.18.0.1] successful"
            self.assertEqual(1, fault_kit.count_logged(spot, probed))
            spot.router.system.reboot()
            sandbox.wait_for(lambda: collector.router(kit.NASID)["reboots"] == 2 and prometheus.value(UP) == 1,
                             timeout=60, what="the guest's reboot counted once and the router up again")
            # Its boot script brought it online again with the secret that
            # only the flash's nvram holds: FreeRADIUS answered the probe.
            fault_kit.wait_logged_more(spot, probed, 1, timeout=30)

        # Bad input: none of it makes a record, each counts as refused: a
        # wrong magic as foreign, the rest as malformed heartbeats.
        good_tail = struct.pack("!IIIIH", 1, 2, 3, 4, 5)
        bad = [
            heartbeat(b"short\0")[:34],                               # cut inside the telemetry
            heartbeat(b"lengthfield\0", payload_length=99),          # length field disagrees
            heartbeat(b"x" * 64 + b"\0"),                             # identifier too long
            heartbeat(b"no-terminator"),                              # no terminating zero
            heartbeat(b"two\0zeros\0"),                               # zero inside
            heartbeat(b"checksum\0")[:2] + b"\0\0" + heartbeat(b"checksum\0")[4:],
            with_checksum(bytes([8, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 32]) + b"ZELW" + good_tail + b"magic\0"),
            with_checksum(bytes([8, 0, 0, 0, 0, 1, 0, 0, 2, 0, 0, 32]) + b"ZELV" + good_tail + b"byte8\0"),
        ]
        # Identifiers that are not UTF-8 or carry quotes, backslashes and line
        # feeds: recorded, and escaped so the scrape stays valid.
        odd = [b"bad\xff\xfe\"id\0", b"cr\\lf\n\0"]
        before = refused(prometheus, "malformed"), refused(prometheus, "foreign")
        send_icmp(router, "198.18.0.1", bad + [heartbeat(n) for n in odd])
        sandbox.wait_for(lambda: (refused(prometheus, "malformed"), refused(prometheus, "foreign")) ==
                         (before[0] + len(bad) - 1, before[1] + 1), timeout=15, what="bad heartbeats refused")
        sandbox.wait_for(lambda: len(prometheus.query("spotwarden_router_up")) == 3, timeout=15,
                         what="the two odd identifiers in Prometheus")
        names = sorted(labels["nasid"] for labels, _ in prometheus.query("spotwarden_router_up"))
        self.assertEqual([kit.NASID, r'bad\xff\xfe"id', r"cr\x5clf\x0a"], names)
        self.assertEqual(1, prometheus.value('up{job="collector"}'), "every scrape parsed")

        # A flood of foreign ICMP: plain pings, short and garbled echo
        # requests, echo replies and unreachables (which the socket's filter
        # keeps out). The garbled ones end in 0xff: random bytes that end in
        # a zero are now and then a whole heartbeat of a new router.
        rnd = random.Random(14)
        flood, requests = [], 0
        for i in range(3000):
            kind = i % 4
            if kind == 0:
                flood.append(with_checksum(struct.pack("!BBHHH", 8, 0, 0, 7, i) + rnd.randbytes(rnd.randrange(56))))
            elif kind == 1:
                flood.append(with_checksum(struct.pack("!BBHHH", 8, 0, 0, 7, i) + b"\1\0\0\x2cZELV" +
                                           rnd.randbytes(rnd.randrange(90)) + b"\xff"))
            elif kind == 2:
                flood.append(with_checksum(struct.pack("!BBHHH", 0, 0, 0, 7, i) + b"\1\0\0\x2cZELV"))
            else:
                flood.append(with_checksum(bytes([3, 1]) + bytes(6) + bytes([0x45]) + rnd.randbytes(27)))
            requests += kind < 2
        # Each request is refused, or dropped by a kernel queue that a loaded
        # machine let fill: counted either way, read from the collector itself.
        def counted():
            return sum(collector.sample(s) or 0 for s in (
                'spotwarden_collector_refused_total{reason="foreign"}',
                'spotwarden_collector_refused_total{reason="malformed"}', "spotwarden_collector_kernel_drops_total"))
        before = counted()
        send_icmp(router, "198.18.0.1", flood)
        sandbox.wait_for(lambda: counted() >= before + requests, timeout=20, what="the flood counted")
        self.assertEqual(3, len(collector.routers()))
        self.assertEqual(1, prometheus.value(UP))
        self.assertEqual(1, prometheus.value('up{job="collector"}'))

        self.hostile_traffic(spot, collector, prometheus, web)

        # The link goes: down once the last heartbeat is older than
        # --stale-after; its telemetry is withdrawn, its up stays as 0.
        spot.net.wan(False)
        sandbox.wait_for(lambda: prometheus.value(UP) == 0, timeout=STALE_AFTER + 20, what="router down")
        self.assertIsNotNone(collector.router(kit.NASID))
        self.assertIsNone(collector.sample('spotwarden_router_uptime_seconds{nasid="%s"}' % kit.NASID))
        self.assertIsNotNone(collector.sample('spotwarden_router_boot_time_seconds{nasid="%s"}' % kit.NASID))
        # A web ping in flight when the link went holds the loop until wget's
        # 60-second limit (on the image the guest's wan0 stays up, so its
        # connect hangs rather than fails).
        sandbox.wait_for(lambda: status_file(spot.router)["state"] == "offline", timeout=75,
                         what="offline in the status file")
        self.assertEqual("/www/zelvanet_R001.html", status_file(spot.router)["page"])

        self.restart_with_state_and_allow_list(spot, collector, prometheus, web, options, scratch)

    def hostile_traffic(self, spot, collector, prometheus, web):
        """Forged identifiers from forged addresses, a flood of malformed
        heartbeats, slow clients and scrapes asking for brotli, all at once:
        the real router stays up, scrapes are served, memory stays under the
        bound, and every refusal is counted by reason."""
        router, op = spot.router.host, spot.operator.host
        # New identifiers from the router's own address: at most ten a minute.
        rate_before = refused(prometheus, "rate")
        send_icmp(router, "198.18.0.1", [heartbeat(b"burst-%02d\0" % i) for i in range(25)])
        sandbox.wait_for(lambda: refused(prometheus, "rate") >= rate_before + 5, timeout=15, what="rate refusals")
        # The forged sources are not on the router's link: the collector's
        # host must not drop them as martians before they reach it.
        op.run("sh", "-c", "for f in /proc/sys/net/ipv4/conf/*/rp_filter; do echo 0 > $f; done")
        started = time.monotonic()
        load = start_scrapers(op, collector, seconds=20)
        try:
            sent = 0
            for _ in range(2):
                out = router.run(SENDER, "198.18.0.1", "50000", "1", "forged", "16000")
                sent += int(out.split()[1])
                out = router.run(SENDER, "198.18.0.1", "50000", "1", "malformed")
                sent += int(out.split()[1])
            result = json.loads(load.communicate(timeout=120)[0])
        finally:
            sandbox.stop(load)
        elapsed = time.monotonic() - started
        print("hostile traffic: %d datagrams; %d scrapes, slowest %.2f s; slow clients cut %d times"
              % (sent, len(result["scrapes"]), max(t for *_, t in result["scrapes"]), result["cuts"]))
        # Every scrape served, none in brotli, every one with the real router.
        self.assertGreaterEqual(len(result["scrapes"]), 8)
        for status, encoding, size, _ in result["scrapes"]:
            self.assertEqual((200, None), (status, encoding))
            self.assertGreater(size, 1000)
        self.assertGreater(result["cuts"], 0, "slow clients are cut off")
        # The router stayed up in every scrape Prometheus made meanwhile.
        window = "%ds" % (elapsed + 2)
        sandbox.wait_for(lambda: prometheus.value(UP) == 1, timeout=15, what="router up after the flood")
        self.assertEqual(1, prometheus.value("min_over_time(%s[%s])" % (UP, window)))
        # Held at the cap; the rest refused as over the cap; the malformed
        # counted; whatever the kernel dropped is counted too.
        sandbox.wait_for(lambda: prometheus.value("spotwarden_collector_routers") == MAX_ROUTERS, timeout=15,
                         what="records at the cap")
        self.assertGreater(refused(prometheus, "over-cap"), 0)
        self.assertGreater(refused(prometheus, "malformed"), 0)
        total = ("spotwarden_collector_heartbeats_total + on() spotwarden_collector_kernel_drops_total"
                 " + on() sum(spotwarden_collector_refused_total)")
        sandbox.wait_for(lambda: (prometheus.value(total) or 0) >= sent, timeout=15, what="every datagram counted")
        peak = fault_kit.memory_kb(collector.proc.pid, "VmHWM") * 1024
        print("collector peak memory %.1f MB at %d records" % (peak / 1e6, MAX_ROUTERS))
        if "ASAN_OPTIONS" not in os.environ:  # the bound is the normal build's: ASan's shadow and quarantine are not
            self.assertLess(peak, MEMORY_BASE + MEMORY_PER_ROUTER * MAX_ROUTERS)

    def restart_with_state_and_allow_list(self, spot, collector, prometheus, web, options, scratch):
        """A restart keeps the records: the router that went silent is still
        down. Restarted with an allow list, only its identifiers stay; a
        reread on SIGHUP lets a new one in."""
        state = options[options.index("--state-file") + 1]
        router = spot.router.host
        heartbeats = collector.router(kit.NASID)["heartbeats"]
        self.assertEqual(0, collector.stop())
        allow = os.path.join(scratch, "allow")
        with open(allow, "wb") as f:
            f.write(b"# the fleet\n%s\nbad\xff\xfe\"id\n" % kit.NASID.encode())
        restarted = Collector(spot.operator.host, "127.0.0.1:9595", *options, "--allow", allow, web=web)
        self.addCleanup(restarted.cleanup)
        self.assertIn("2 records read", restarted.output())
        self.assertEqual(heartbeats, restarted.router(kit.NASID)["heartbeats"])
        sandbox.wait_for(lambda: prometheus.value("spotwarden_collector_routers") == 2, timeout=15,
                         what="the restarted collector scraped")
        self.assertEqual(0, prometheus.value(UP))

        # The link is back: the router up again; a new identifier refused
        # until the allow list names it and is reread.
        spot.net.wan(True)
        sandbox.wait_for(lambda: prometheus.value(UP) == 1, timeout=60, what="router up again")
        send_icmp(router, "198.18.0.1", [heartbeat(b"late-comer\0", uptime=86400 * 400)])
        sandbox.wait_for(lambda: refused(prometheus, "not-allowed") >= 1, timeout=15, what="refused as not allowed")
        with open(allow, "ab") as f:
            f.write(b"late-comer\n")
        restarted.signal(signal.SIGHUP)
        sandbox.wait_for(lambda: "3 NAS identifiers allowed" in restarted.output(), timeout=10, what="reread")
        send_icmp(router, "198.18.0.1", [heartbeat(b"late-comer\0", uptime=86400 * 400)])
        sandbox.wait_for(lambda: restarted.router("late-comer"), timeout=15, what="the new identifier allowed")
        self.fleet_page(restarted)

    def fleet_page(self, collector):
        """The page in Chromium: the down router first; by uptime, longest
        first, after two clicks on its header; a screenshot kept under build/."""
        os.makedirs(ARTEFACTS, exist_ok=True)
        page, clicked = os.path.join(ARTEFACTS, "fleet-page.html"), os.path.join(ARTEFACTS, "fleet-page-sorted.html")
        html = collector.get("/")
        twice = '<script>for (let i = 0; i < 2; ++i) document.querySelectorAll("th")[4].click()</script>'
        for path, text in ((page, html), (clicked, html.replace("</body>", twice + "</body>"))):
            with open(path, "w") as f:
                f.write(text)
        rows = lambda path: [row.split('data-k="', 1)[1].split('"', 1)[0]
                             for row in chromium("file://" + path, "--dump-dom").split("<tr class=")[1:]]
        self.assertEqual(['bad\\xff\\xfe&quot;id', kit.NASID, "late-comer"], rows(page))
        self.assertEqual(["late-comer", kit.NASID, 'bad\\xff\\xfe&quot;id'], rows(clicked))
        shot = os.path.join(ARTEFACTS, "fleet-page.png")
        chromium("file://" + page, "--screenshot=" + shot, "--window-size=900,260", "--hide-scrollbars")
        with open(shot, "rb") as f:
            self.assertEqual(b"\x89PNG", f.read(4))

if __name__ == "__main__":
    unittest.main()
