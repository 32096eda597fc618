"""heartbeat-collector under load, inside sandbox/run-in-sandbox: a sender
namespace joined to the collector's by a veth pair sends ROUTERS made-up
routers' heartbeats ROUNDS times as fast as it can. Reports how many the
collector decoded, its CPU time and so its rate on one core, the kernel's
drops, its memory per router, the time of one Prometheus scrape (plain,
gzip, and asking for brotli) and of eight at once, and its peak memory; last,
the fresh gzip scrape's time over that of zlib at level 1 compressing the
same body once in one process here, the yardstick of the gzip path.

    python3 -m bench.collector_load ROUTERS ROUNDS [PROGRAM]   (from the source folder)

PROGRAM is another build of heartbeat-collector to measure (an older one,
for a before and after); it is given the options it knows."""

import gzip
import json
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import zlib

from sandbox import sandbox
from sandbox.collector import PROGRAM, Collector

SENDER = os.path.join(sandbox.BUILD_DIR, "tools", "heartbeat_sender")


def proc_status(pid, field):
    with open("/proc/%d/status" % pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith(field + ":"))


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def raw_drops(host):
    """Drops of the raw ICMP sockets of `host` (last column of /proc/net/raw)."""
    lines = host.run("cat", "/proc/net/raw").splitlines()[1:]
    return sum(int(line.split()[-1]) for line in lines)


def timed_get(host, path, encoding=None, into="/dev/null"):
    """(seconds, bytes) of one GET from inside `host`, its body written to `into`."""
    args = ["curl", "-s", "-o", into, "-w", "%{time_total} %{size_download}"]
    if encoding:
        args += ["-H", "Accept-Encoding: " + encoding]
    t, size = host.run(*args, "http://127.0.0.1:9595" + path).split()
    return float(t), int(size)


def zlib_level1_seconds(body):
    """The median of three times of zlib compressing `body` at level 1 into a
    gzip stream, in one call as a single process would."""
    times = []
    for _ in range(3):
        t = time.perf_counter()
        z = zlib.compressobj(1, zlib.DEFLATED, 31)
        z.compress(body)
        z.flush()
        times.append(time.perf_counter() - t)
    return statistics.median(times)


def without_process_lines(text):
    return b"\n".join(line for line in text.split(b"\n") if not line.startswith(b"process_"))


def compare_with_zlib(gzipped, plain, scrape_seconds):
    """Checks that the fresh gzip scrape decompresses, with gzip -dc and with
    Python, to the plain copy of the same render, and prints its time over
    that of zlib level 1 on its body."""
    body = gzip.decompress(gzipped.read())
    unzipped = subprocess.run(["gzip", "-dc", gzipped.name], check=True, capture_output=True).stdout
    # An older build may render the plain copy anew: only the process's own
    # figures may differ then.
    if unzipped != body or without_process_lines(plain.read()) != without_process_lines(body):
        raise SystemExit("the gzip scrape does not decompress to the plain text of its render")
    level1 = zlib_level1_seconds(body)
    print("fresh gzip scrape %.2f s; zlib level 1 on its %.1f MB body %.3f s; ratio %.2f"
          % (scrape_seconds, len(body) / 1e6, level1, scrape_seconds / level1))


def main():
    routers, rounds = int(sys.argv[1]), int(sys.argv[2])
    program = sys.argv[3] if len(sys.argv) > 3 and sys.argv[3] else PROGRAM
    bounded = "--max-routers" in subprocess.run([program, "--help"], capture_output=True, text=True).stdout
    options = ["--stale-after", "3600"]
    if bounded:  # one sender brings every router: no cap or rate in the way
        options += ["--max-routers", str(routers * 2), "--new-per-source", "1000000000"]
    sender = sandbox.Host("sender")
    home = sandbox.Host("collector")
    sandbox.link(sender, "s0", "198.18.0.1/24", home, "c0", "198.18.0.2/24")
    collector = Collector(home, "127.0.0.1:9595", *options, program=program)
    try:
        pid = collector.proc.pid
        rss0, cpu0 = proc_status(pid, "VmRSS"), cpu_seconds(pid)
        print(program + (" (bounded)" if bounded else " (unbounded)"))
        print(sender.run(SENDER, "198.18.0.2", str(routers), "1").strip())
        time.sleep(2)
        print("after the first round: kernel drops %d" % raw_drops(home))
        started = time.time()
        print(sender.run(SENDER, "198.18.0.2", str(routers), str(rounds)).strip())
        time.sleep(2)  # the receive queue drains
        wall = time.time() - started
        cpu = cpu_seconds(pid) - cpu0
        rss1 = proc_status(pid, "VmRSS")
        records = json.loads(home.run("curl", "-s", "http://127.0.0.1:9595/routers"))
        decoded = sum(r["heartbeats"] for r in records["routers"])
        count = len(records["routers"])
        sent = routers * (rounds + 1)
        print("routers %d, heartbeats sent %d, decoded %d, kernel drops %d"
              % (count, sent, decoded, raw_drops(home)))
        print("collector CPU %.2f s for all of them: %.0f heartbeats decoded per CPU second "
              "(one core); %.0f per second of wall time in the timed rounds"
              % (cpu, decoded / cpu if cpu else 0, routers * rounds / wall))
        print("memory: %.0f bytes per router (RSS %d KiB -> %d KiB for %d records)"
              % ((rss1 - rss0) * 1024 / count, rss0, rss1, count))
        time.sleep(1.1)  # past a cached body's interval: the next scrape renders
        # An unbounded build compresses brotli at its slowest, minutes for a
        # large fleet: it is asked only for plain and gzip.
        asked = "br" if bounded else None
        gzipped = tempfile.NamedTemporaryFile(prefix="swmetrics.", suffix=".gz")
        plain = tempfile.NamedTemporaryFile(prefix="swmetrics.")
        for encoding in (None, "gzip") + (("br",) if bounded else ()):
            t, size = timed_get(home, "/metrics", encoding, gzipped.name if encoding == "gzip" else "/dev/null")
            print("one /metrics scrape, Accept-Encoding %s: %.1f MB in %.2f s" % (encoding, size / 1e6, t))
            if encoding == "gzip":
                gzip_scrape = t
                # Asked within the second: the plain copy of the same render.
                timed_get(home, "/metrics", None, plain.name)
            time.sleep(1.1)
        if not bounded and count > 100000:
            # Eight renders at once, each holding its own copy: several GB.
            print("eight concurrent scrapes: not tried, each would render its own copy")
            print("peak memory: %d MB" % (proc_status(pid, "VmHWM") // 1024))
            compare_with_zlib(gzipped, plain, gzip_scrape)
            return
        results = []
        threads = [threading.Thread(target=lambda: results.append(timed_get(home, "/metrics", asked)))
                   for _ in range(8)]
        t = time.time()
        for th in threads:
            th.start()
        for th in threads:
            th.join()
        print("eight concurrent scrapes, Accept-Encoding %s: all done in %.2f s, slowest %.2f s"
              % (asked, time.time() - t, max(r[0] for r in results)))
        print("peak memory: %d MB (%.0f bytes per router)"
              % (proc_status(pid, "VmHWM") // 1024, proc_status(pid, "VmHWM") * 1024 / count))
        compare_with_zlib(gzipped, plain, gzip_scrape)
    finally:
        collector.cleanup()
        sender.delete()
        home.delete()


if __name__ == "__main__":
    main()
