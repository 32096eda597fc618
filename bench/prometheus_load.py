"""One Prometheus, or vmagent, VictoriaMetrics and vmalert, holding a fleet,
inside sandbox/run-in-sandbox: one heartbeat for each of ROUTERS made-up
routers, PER_COLLECTOR of them to each collector (each in a namespace of its
own, as each would be a host of its own), scraped every INTERVAL seconds
with the shipped rules evaluated as often. After SCRAPES scrapes, reports the
series held, the memory, the scrape's duration and the time the fleet's
recording rules take.

    python3 -m bench.prometheus_load ROUTERS [SCRAPES [STACK [INTERVAL]]]   (from the source folder)
    STACK: prometheus (default) or victoriametrics"""

import os
import sys
import time

from sandbox import sandbox
from sandbox.alerting import RULES, STACKS
from sandbox.collector import Collector

SENDER = os.path.join(sandbox.BUILD_DIR, "tools", "heartbeat_sender")
# The collector's default --max-routers: one collector's share.
PER_COLLECTOR = 200000
# Past this resident size the run stops: the machine has others to serve.
RSS_LIMIT = 15e9
# The shipped rules' groups: the fleet's records and the alerts.
GROUPS = ("spotwarden-fleet", "spotwarden-alerts")


def shards(routers):
    """The operator's host and one collector a share of `routers`, each in
    its own namespace joined to it; the heartbeats sent (three rounds: at
    full speed the kernel drops some of each). The collectors' ADDR:PORTs
    and everything to clean up, last first."""
    operator = sandbox.Host("operator")
    parts, targets = [operator], []
    for n, first in enumerate(range(0, routers, PER_COLLECTOR)):
        home = sandbox.Host("collector%d" % n)
        parts.append(home)
        sandbox.link(operator, "s%d" % n, "198.18.%d.1/24" % n, home, "c0", "198.18.%d.2/24" % n)
        # One sender address stands for the whole share: no per-source limit.
        parts.append(Collector(home, "198.18.%d.2:9595" % n, "--stale-after", "3600",
                               "--max-routers", str(PER_COLLECTOR), "--new-per-source", "1000000000"))
        targets.append("198.18.%d.2:9595" % n)
        operator.run(SENDER, "198.18.%d.2" % n, str(min(PER_COLLECTOR, routers - first)), "3", "from", str(first))
    return operator, targets, parts


def resident(store, stack):
    """Resident memory by process, stopping the run past RSS_LIMIT."""
    listens = ({"prometheus": store.listen} if stack == "prometheus" else
               {"victoria-metrics": store.listen, "vmagent": store.agent, "vmalert": store.evaluator})
    rss = {name: store.own_metric("process_resident_memory_bytes ", listen) for name, listen in listens.items()}
    if max(rss.values()) > RSS_LIMIT:
        raise RuntimeError("stopped: resident memory %s" % rss)
    return rss


def figures(store, stack):
    """Series held, resident memory (by process), the slowest scrape, the
    time each rule group takes and how many rule evaluations failed."""
    rss = resident(store, stack)
    rules = {}
    if stack == "prometheus":
        series = store.own_metric("prometheus_tsdb_head_series ")
        for group in GROUPS:
            rules[group] = store.own_metric('prometheus_rule_group_last_duration_seconds{rule_group="%s;%s"}'
                                            % (RULES, group))
        failed = sum(store.own_metrics("prometheus_rule_evaluation_failures_total"))
    else:
        series = store.own_metric('vm_cache_entries{type="storage/hour_metric_ids"}')
        for group in GROUPS:
            # The median of the recent evaluations (the first line of the summary).
            rules[group] = store.own_metric('vmalert_iteration_duration_seconds{group="%s"' % group,
                                            store.evaluator)
        failed = sum(store.own_metrics("vmalert_execution_errors_total", store.evaluator))
    return series, rss, store.value("max(scrape_duration_seconds)"), rules, failed


def main():
    routers = int(sys.argv[1])
    scrapes = int(sys.argv[2]) if len(sys.argv) > 2 else 12
    stack = sys.argv[3] if len(sys.argv) > 3 else "prometheus"
    interval = int(sys.argv[4]) if len(sys.argv) > 4 else 10
    operator, targets, parts = shards(routers)
    try:
        # A rule's query may take as long as the interval it has to fit in,
        # rather than VictoriaMetrics' 30 s: the run then tells how long the
        # rules take, not only that they were cut.
        # MEMORY_PERCENT: the share of the host's memory VictoriaMetrics may
        # give its caches (60 by default), for the least it needs.
        limits = ({"query_limit": "%ds" % max(interval, 30), "memory_percent": int(os.environ.get("MEMORY_PERCENT", 60))}
                  if stack == "victoriametrics" else {})
        store = STACKS[stack](operator, targets, rules=RULES, interval="%ds" % interval, **limits)
        parts.append(store)
        sandbox.wait_for(lambda: resident(store, stack) and store.value("spotwarden:routers:count"),
                         timeout=600, interval=5, what="the first scrape and rule evaluation")
        started = time.time()
        sandbox.wait_for(lambda: resident(store, stack) and time.time() - started >= scrapes * interval,
                         timeout=scrapes * interval + 60, interval=5, what="%d scrapes" % scrapes)
        series, rss, scrape, rules, failed = figures(store, stack)
        print("%d routers (fleet count %s) on %d collectors, %s, %d scrapes every %d s:"
              % (routers, store.value("spotwarden:routers:count"), len(targets), stack, scrapes, interval))
        print("  %d series (%.1f a router), RSS %s" % (series, series / routers, ", ".join(
            "%s %.0f MB" % (name, value / 1e6) for name, value in rss.items())))
        if stack == "prometheus":
            heap = store.own_metric("go_memstats_heap_inuse_bytes ")
            print("  heap in use %.0f MB (%.0f bytes a series)" % (heap / 1e6, heap / series))
        print("  slowest scrape %.2f s, rules: %s, %d failed evaluations" % (scrape, ", ".join(
            "%s %.2f s" % (group, seconds) for group, seconds in rules.items()), failed))
    finally:
        for part in reversed(parts):
            (part.delete if isinstance(part, sandbox.Host) else part.cleanup)()


if __name__ == "__main__":
    main()
