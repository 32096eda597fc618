"""One Prometheus holding a fleet, inside sandbox/run-in-sandbox: a sender
namespace sends one heartbeat for each of ROUTERS made-up routers to a
collector, and a Prometheus with the shipped rules scrapes it every 10 s.
After SCRAPES scrapes, reports the series Prometheus holds, its memory, the
scrape's duration and the time the fleet's recording rules take.

    python3 -m bench.prometheus_load ROUTERS [SCRAPES]   (from the source folder)"""

import os
import sys
import time

from sandbox import sandbox
from sandbox.alerting import RULES
from sandbox.collector import Collector, Prometheus

SENDER = os.path.join(sandbox.BUILD_DIR, "tools", "heartbeat_sender")


def own_metric(prometheus, name):
    """A value of Prometheus's own /metrics: the first line starting `name`."""
    text = prometheus.host.run("wget", "-qO-", "http://%s/metrics" % prometheus.listen)
    return float(next(line.split()[-1] for line in text.splitlines() if line.startswith(name)))


def main():
    routers = int(sys.argv[1])
    scrapes = int(sys.argv[2]) if len(sys.argv) > 2 else 12
    sender = sandbox.Host("sender")
    home = sandbox.Host("collector")
    sandbox.link(sender, "s0", "198.18.0.1/24", home, "c0", "198.18.0.2/24")
    collector = Collector(home, "127.0.0.1:9595", "--stale-after", "3600")
    prometheus = None
    try:
        sender.run(SENDER, "198.18.0.2", str(routers), "1")
        prometheus = Prometheus(home, ["127.0.0.1:9595"], rules=RULES, interval="10s")
        sandbox.wait_for(lambda: prometheus.value("spotwarden:routers:count"), timeout=600, interval=1,
                         what="the first scrape and rule evaluation")
        started = time.time()
        sandbox.wait_for(lambda: time.time() - started >= scrapes * 10, timeout=scrapes * 10 + 60, interval=1,
                         what="%d scrapes" % scrapes)
        series = own_metric(prometheus, "prometheus_tsdb_head_series ")
        rss = own_metric(prometheus, "process_resident_memory_bytes ")
        heap = own_metric(prometheus, "go_memstats_heap_inuse_bytes ")
        rules = own_metric(prometheus, 'prometheus_rule_group_last_duration_seconds{rule_group="%s;spotwarden-fleet"}'
                           % RULES)
        print("%d routers (fleet count %s), %d scrapes every 10 s:"
              % (routers, prometheus.value("spotwarden:routers:count"), scrapes))
        print("  Prometheus: %d head series (%.1f a router), RSS %.0f MB, heap in use %.0f MB (%.0f bytes a series)"
              % (series, series / routers, rss / 1e6, heap / 1e6, heap / series))
        print("  scrape %.2f s, fleet recording rules %.2f s"
              % (prometheus.value('scrape_duration_seconds{job="collector"}'), rules))
    finally:
        if prometheus:
            prometheus.cleanup()
        collector.cleanup()
        sender.delete()
        home.delete()


if __name__ == "__main__":
    main()
