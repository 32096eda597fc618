"""Starts spotwarden in the simulated router and reports the supervisor's
peak resident memory once start-up is over (its portal keeper running)."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
from sandbox import sandbox  # noqa: E402

net = sandbox.Network()
try:
    net.router.root.install(os.path.join(sandbox.BUILD_DIR, "spotwarden"))
    rc, out, err = net.router.run(
        "busybox syslogd -n -O /var/log/messages & sleep 0.3; "
        "/sbin/spotwarden --radiusnasif ath0 --lanif lan0 -c /var/run/chilli.conf --foo bar & "
        "sleep 5; grep -E '^Vm(HWM|RSS)' /proc/$!/status; kill $!")
    if rc != 0 or "VmHWM" not in out:
        sys.exit("footprint: start-up did not run: " + err)
    for line in out.splitlines():
        print("  supervisor after start-up: " + " ".join(line.split()))
finally:
    net.cleanup()
