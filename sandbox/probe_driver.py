"""Runs the probe test driver (build-dir/tools/swprobe) inside the router
with a syslog daemon, so each run yields its result, its duration and the
messages it logged with their facility.priority."""

import os
import tempfile
import time

from sandbox import sandbox

DRIVER = os.path.join(sandbox.BUILD_DIR, "tools", "swprobe")

_WITH_SYSLOG = ("busybox syslogd -n -O /var/log/messages & "
                "i=0; while [ ! -S /dev/log ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done; "
                "%s; rc=$?; sleep 0.3; exit $rc")


class ProbeRun:
    def __init__(self, rc, out, err, elapsed, log):
        # elapsed includes the syslog daemon's start and a 0.3 s drain.
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


class IcmpPeer:
    """sandbox/icmp_peer.py on `host`'s up0, in `mode`."""

    def __init__(self, host, mode):
        fd, self.path = tempfile.mkstemp(prefix="swicmp.")
        os.close(fd)
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icmp_peer.py")
        self.proc = host.popen(["/usr/bin/python3", script, "up0", self.path, mode])
        sandbox.wait_for(lambda: self._lines()[:1] == ["ready"], timeout=10, what="ICMP peer")

    def _lines(self):
        with open(self.path) as f:
            return f.read().splitlines()

    def requests(self):
        """Echo requests seen: (time, source, destination, ICMP bytes)."""
        out = []
        for line in self._lines()[1:]:
            t, src, dst, data = line.split()
            out.append((float(t), src, dst, bytes.fromhex(data)))
        return out

    def cleanup(self):
        sandbox.stop(self.proc)
        if os.path.exists(self.path):
            os.unlink(self.path)
