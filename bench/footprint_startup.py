"""Starts spotwarden in the simulated router and reports the supervisor's
peak resident memory once start-up is over (its portal keeper running).
    python3 -m bench.footprint_startup     (from the source folder)"""

import sys

from sandbox.hotspot import Hotspot

with Hotspot(radius=False) as spot:
    rc, out, err = spot.router.run(
        "busybox syslogd -n -O /var/log/messages & sleep 0.3; "
        "/sbin/spotwarden --radiusnasif ath0 --lanif lan0 -c /var/run/chilli.conf --foo bar & "
        "sleep 5; grep -E '^Vm(HWM|RSS)' /proc/$!/status; kill $!")
    if rc != 0 or "VmHWM" not in out:
        sys.exit("footprint: start-up did not run: " + err)
    for line in out.splitlines():
        print("  supervisor after start-up: " + " ".join(line.split()))
