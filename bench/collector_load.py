"""heartbeat-collector under load, inside sandbox/run-in-sandbox: a sender
namespace joined to the collector's by a veth pair sends ROUTERS made-up
routers' heartbeats ROUNDS times as fast as it can. Reports how many the
collector decoded, its CPU time and so its rate on one core, the kernel's
drops, its memory per router and the time one Prometheus scrape takes.

    python3 -m bench.collector_load ROUTERS ROUNDS     (from the source folder)"""

import json
import os
import sys
import time

from sandbox import sandbox
from sandbox.collector import Collector, fetch

SENDER = os.path.join(sandbox.BUILD_DIR, "tools", "heartbeat_sender")


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def raw_drops(host):
    """Drops of the raw ICMP sockets of `host` (last column of /proc/net/raw)."""
    lines = host.run("cat", "/proc/net/raw").splitlines()[1:]
    return sum(int(line.split()[-1]) for line in lines)


def main():
    routers, rounds = int(sys.argv[1]), int(sys.argv[2])
    sender = sandbox.Host("sender")
    home = sandbox.Host("collector")
    sandbox.link(sender, "s0", "198.18.0.1/24", home, "c0", "198.18.0.2/24")
    collector = Collector(home, "127.0.0.1:9595", "--stale-after", "3600")
    try:
        pid = collector.proc.pid
        rss0, cpu0 = rss_kib(pid), cpu_seconds(pid)
        print(sender.run(SENDER, "198.18.0.2", str(routers), "1").strip())
        time.sleep(2)
        print("after the first round: kernel drops %d" % raw_drops(home))
        started = time.time()
        print(sender.run(SENDER, "198.18.0.2", str(routers), str(rounds)).strip())
        time.sleep(2)  # the receive queue drains
        wall = time.time() - started
        cpu = cpu_seconds(pid) - cpu0
        rss1 = rss_kib(pid)
        t = time.time()
        metrics = fetch(home, "http://127.0.0.1:9595/metrics")
        scrape = time.time() - t
        records = json.loads(fetch(home, "http://127.0.0.1:9595/routers"))
        decoded = sum(r["heartbeats"] for r in records["routers"])
        sent = routers * (rounds + 1)
        print("routers %d, heartbeats sent %d, decoded %d, kernel drops %d, rejected %d"
              % (len(records["routers"]), sent, decoded, raw_drops(home), records["heartbeats_rejected"]))
        print("collector CPU %.2f s for all of them: %.0f heartbeats decoded per CPU second "
              "(one core); %.0f per second of wall time in the timed rounds"
              % (cpu, decoded / cpu if cpu else 0, routers * rounds / wall))
        count = len(records["routers"])
        print("memory: %.0f bytes per router (RSS %d KiB -> %d KiB for %d records)"
              % ((rss1 - rss0) * 1024 / count, rss0, rss1, count))
        print("one /metrics scrape: %.1f MB in %.2f s" % (len(metrics) / 1e6, scrape))
        need = 100000 / 60 * 10
        print("aim: 100,000 routers at one heartbeat a minute with 10x headroom = %.0f/s, under 1024 bytes per router"
              % need)
    finally:
        collector.cleanup()
        sender.delete()
        home.delete()


if __name__ == "__main__":
    main()
