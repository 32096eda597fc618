"""The operator's view of the fleet: the real spotwarden sends heartbeats,
heartbeat-collector receives them on the operator's host and a real
Prometheus server scrapes it. Forged heartbeats from the router's namespace
count a reboot and bring bad input: wrong lengths, an identifier without its
terminator, non-UTF-8 identifiers, and floods of foreign ICMP. Also the
router's own status file while this goes on."""

import os
import random
import struct
import subprocess
import unittest

from sandbox import hotspot as kit
from sandbox import sandbox
from sandbox.collector import PROGRAM as collector_program
from sandbox.collector import Collector, Prometheus, heartbeat, send_icmp
from sandbox.icmp_peer import with_checksum

STALE_AFTER = 6
UP = 'spotwarden_router_up{nasid="%s"}' % kit.NASID


def status_file(router):
    with open(router.root.path("/var/run/spotwarden.status")) as f:
        return dict(line.split("=", 1) for line in f.read().splitlines())


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
        collector = Collector(op, "127.0.0.1:9595", "--stale-after", str(STALE_AFTER))
        self.addCleanup(collector.cleanup)
        prometheus = Prometheus(op, ["127.0.0.1:9595"])
        self.addCleanup(prometheus.cleanup)

        # Only the raw socket was needed, and it is open: no privilege is left.
        status = collector.process_status()
        self.assertEqual("65534", status["Uid"].split()[1])
        self.assertEqual("0000000000000000", status["CapEff"])
        self.assertEqual("0000000000000000", status["CapPrm"])

        spot.start()
        spot.wait_logged("chilli is online", timeout=40)
        sandbox.wait_for(lambda: prometheus.value(UP) == 1, timeout=30, what="router up in Prometheus")
        [(labels, _)] = prometheus.query(UP)
        self.assertEqual("198.18.0.2", labels["address"])
        # Telemetry as the router's own /proc tells it.
        sandbox.wait_for(lambda: os.path.exists(spot.router.proc_path("uptime")), what="the router's /proc")
        with open(spot.router.proc_path("uptime")) as f:
            uptime = float(f.read().split()[0])
        self.assertAlmostEqual(uptime, prometheus.value('spotwarden_router_uptime_seconds{nasid="%s"}' % kit.NASID),
                               delta=30)
        self.assertEqual(meminfo_total(spot.router), prometheus.value("spotwarden_router_memory_total_bytes"))
        self.assertGreater(prometheus.value("spotwarden_router_processes"), 0)

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

        # Bad input: none of it makes a record, each counts as rejected.
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
        rejected_before = prometheus.value("spotwarden_heartbeats_rejected_total")
        send_icmp(router, "198.18.0.1", bad + [heartbeat(n) for n in odd])
        sandbox.wait_for(lambda: prometheus.value("spotwarden_heartbeats_rejected_total") >= rejected_before + len(bad),
                         timeout=15, what="bad heartbeats rejected")
        sandbox.wait_for(lambda: len(prometheus.query("spotwarden_router_up")) == 3, timeout=15,
                         what="the two odd identifiers in Prometheus")
        names = sorted(labels["nasid"] for labels, _ in prometheus.query("spotwarden_router_up"))
        self.assertEqual([kit.NASID, r'bad\xff\xfe"id', r"cr\x5clf\x0a"], names)
        self.assertEqual(1, prometheus.value('up{job="collector"}'), "every scrape parsed")

        # A flood of foreign ICMP: plain pings, short and garbled echo
        # requests, echo replies and unreachables (which the socket's filter
        # keeps out).
        rnd = random.Random(14)
        flood, requests = [], 0
        for i in range(3000):
            kind = i % 4
            if kind == 0:
                flood.append(with_checksum(struct.pack("!BBHHH", 8, 0, 0, 7, i) + os.urandom(rnd.randrange(56))))
            elif kind == 1:
                flood.append(with_checksum(struct.pack("!BBHHH", 8, 0, 0, 7, i) + b"\1\0\0\x2cZELV" +
                                           os.urandom(rnd.randrange(90))))
            elif kind == 2:
                flood.append(with_checksum(struct.pack("!BBHHH", 0, 0, 0, 7, i) + b"\1\0\0\x2cZELV"))
            else:
                flood.append(with_checksum(bytes([3, 1]) + bytes(6) + bytes([0x45]) + os.urandom(27)))
            requests += kind < 2
        rejected_before = prometheus.value("spotwarden_heartbeats_rejected_total")
        send_icmp(router, "198.18.0.1", flood)
        sandbox.wait_for(lambda: prometheus.value("spotwarden_heartbeats_rejected_total") >= rejected_before + requests,
                         timeout=20, what="the flood counted")
        self.assertEqual(3, len(collector.routers()))
        self.assertEqual(1, prometheus.value(UP))
        self.assertEqual(1, prometheus.value('up{job="collector"}'))

        # The link goes: down once the last heartbeat is older than --stale-after.
        spot.net.wan(False)
        sandbox.wait_for(lambda: prometheus.value(UP) == 0, timeout=STALE_AFTER + 20, what="router down")
        self.assertIsNotNone(collector.router(kit.NASID))
        sandbox.wait_for(lambda: status_file(spot.router)["state"] == "offline", timeout=15,
                         what="offline in the status file")
        self.assertEqual("/www/zelvanet_R001.html", status_file(spot.router)["page"])


if __name__ == "__main__":
    unittest.main()
