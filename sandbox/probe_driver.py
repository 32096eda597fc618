"""Runs the probe test driver (build-dir/tools/swprobe) inside the router
with a syslog daemon, so each run yields its result, its duration and the
messages it logged with their facility.priority."""

import os
import time

from sandbox import sandbox

DRIVER = os.path.join(sandbox.BUILD_DIR, "tools", "swprobe")

_WITH_SYSLOG = sandbox.START_SYSLOG + "%s; rc=$?; " + sandbox.DRAIN_SYSLOG + "exit $rc"


class ProbeRun:
    def __init__(self, rc, out, err, elapsed, log):
        # elapsed includes the syslog daemon's start and drain.
        self.rc, self.out, self.err, self.elapsed, self.log = rc, out, err, elapsed, log

    def messages(self, priority=None):
        """Texts logged by the probe (without the "ident:" tag), optionally
        of one priority only."""
        return [text.split(": ", 1)[1] if ": " in text else text
                for prio, text in self.log
                if prio == priority or (priority is None and prio.startswith("user."))]


def install(router):
    """Puts the driver into the router's /sbin. Also lets glibc's resolver
    return every /etc/hosts line of a name, as the router's resolver does;
    without "multi on" gethostbyname() stops at the first."""
    router.root.install(DRIVER)
    with open(router.root.path("/etc/host.conf"), "w") as f:
        f.write("multi on\n")


def run(router, args, prefix="", timeout=120):
    """Runs `swprobe ARGS` in the router; `prefix` goes in front of the
    command (e.g. "setpriv ..."). The log starts empty for every run."""
    messages = router.root.path("/var/log/messages")
    if os.path.exists(messages):
        os.unlink(messages)
    command = (prefix + " " if prefix else "") + "/sbin/swprobe " + " ".join(args)
    start = time.monotonic()
    rc, out, err = router.run(_WITH_SYSLOG % command, timeout=timeout)
    return ProbeRun(rc, out, err, time.monotonic() - start, router.log_lines())


class IcmpPeer(sandbox.Recorder):
    """sandbox/icmp_peer.py on `host`'s up0, in `mode`."""

    def __init__(self, host, mode):
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icmp_peer.py")
        super().__init__(host, ["/usr/bin/python3", script, "up0", "{log}", mode], "ICMP peer")

    def requests(self):
        """Echo requests seen: (time, source, destination, ICMP bytes)."""
        out = []
        for line in self.lines():
            t, src, dst, data = line.split()
            out.append((float(t), src, dst, bytes.fromhex(data)))
        return out
