#!/usr/bin/python3
"""Accuracy of linkgauge's estimate on the shaped sandbox path.

    bench/linkgauge_accuracy.py [RUNS]     (root; build first: SW_BUILD_DIR or build/)

For each upstream rate, shapes the router's upstream with tc tbf, runs the
real linkgauge RUNS times (default 1) and prints the estimate (units of 1024
bit/s) against the configured rate, the relative error and the run time.
Re-runs itself inside sandbox/run-in-sandbox.
"""

import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
RATES = [256000, 1000000, 4000000, 16000000]  # bit/s

if not os.environ.get("LINKGAUGE_BENCH_INSIDE"):
    os.environ["LINKGAUGE_BENCH_INSIDE"] = "1"
    os.environ.setdefault("SW_SOURCE_DIR", SOURCE)
    os.environ.setdefault("SW_BUILD_DIR", os.path.join(SOURCE, "build"))
    os.chdir(SOURCE)
    os.execv(os.path.join(SOURCE, "sandbox", "run-in-sandbox"),
             ["run-in-sandbox", sys.executable, "-m", "bench.linkgauge_accuracy"] + sys.argv[1:])

from sandbox import chain  # noqa: E402  (only inside the sandbox)


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 1
    print("%-10s %8s %9s %10s %9s %8s %7s" % ("rate", "burst B", "expected", "estimate", "error", "size B",
                                            "time s"))
    for rate in RATES:
        for _ in range(runs):
            c = chain.Chain()
            try:
                burst = c.shape(rate)
                start = time.monotonic()
                c.run_linkgauge()
                took = time.monotonic() - start
                result = c.file("/var/tmp/bandwidth_result.txt")
                probe = c.file("/var/tmp/ping_gw_second.txt") or ""
                size = ""
                if "data bytes" in probe:
                    size = str(int(probe.split("): ")[1].split()[0]) + 54)
            finally:
                c.cleanup()
            expected = rate / 1024.0
            err = "%+.1f%%" % ((int(result) / expected - 1) * 100) if result and result != "0" else "-"
            label = "%g kbit/s" % (rate / 1000) if rate < 1000000 else "%g Mbit/s" % (rate / 1e6)
            print("%-10s %8d %9.1f %10s %9s %8s %7.1f" % (label, burst, expected, result, err, size, took),
                  flush=True)


main()
