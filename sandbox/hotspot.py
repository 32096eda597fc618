"""The whole hotspot in the sandbox, for the end-to-end scenarios of
spotwarden, the demo and the benchmarks: the router running spotwarden (with
the chilli stand-in and a syslog daemon), the operator's host serving
spotwarden.conf and chilli.conf over HTTP and answering the ICMP heartbeat,
FreeRADIUS there, and a watcher that records the offline-reason link over
time."""

import os
import threading
import time

from sandbox import sandbox
from sandbox.radius import FreeRadius

HERE = os.path.dirname(os.path.abspath(__file__))

PROGRAM = os.path.join(sandbox.PROGRAM_DIR, "spotwarden")
NASID = "00-1A-2B-3C-4D-5E"
SECRET = "sandbox-secret"
IDENTITY = "nasid=00-1A-2B-3C-4D-5E&model=GX4410&fwrev=GX4410-3.01-1.0.0"


def command_args(secret=SECRET):
    """spotwarden's command line in the hotspot, after the program's path."""
    return "--radiusnasif ath0 --lanif lan0 -c /var/run/chilli.conf --radiussecret " + secret


ARGS = command_args()

# Short intervals so a scenario takes seconds, not hours.
FAST_SETTINGS = {
    "telemetry_setuptime": 3,
    "icmpping_interval": 2,
    "icmpping_failure_wait": 1,
    "icmpping_retry_interval": 1,
    "icmpping_retries": 2,
    "webping_url": "http://%s/ping" % sandbox.OPERATOR_HOST,
    "webping_interval": 4,
    "chilliconf_update_interval": 6,
    "chilliconf_retries": 2,
    "chilliconf_retry_interval": 1,
    "chilliconf_failure_wait": 3,
    "radiuscheck": 1,
    "radiuscheck_retries": 1,
    "radiuscheck_retry_interval": 1,
    "radiuscheck_failure_wait": 3,
}


def settings_file(**overrides):
    values = dict(FAST_SETTINGS)
    values.update(overrides)
    lines = ["# spotwarden.conf for the sandbox hotspot"]
    lines += ["%s %s" % (k, v) for k, v in values.items() if v is not None]
    return "\n".join(lines) + "\n"


def portal_file(server1="198.18.0.1", server2="198.18.0.1", uamserver="https://%s/login" % sandbox.OPERATOR_HOST,
                extra=""):
    lines = ["# chilli.conf served to the sandbox hotspot"]
    if server1:
        lines.append("radiusserver1 " + server1)
    if server2:
        lines.append("radiusserver2 " + server2)
    lines.append("uamserver " + uamserver)
    return "\n".join(lines) + "\n" + extra


class LinkWatcher(threading.Thread):
    """Samples the offline-reason link every 20 ms; keeps its changes as
    (time, target or None)."""

    def __init__(self, router):
        super().__init__(daemon=True)
        self.router = router
        self.changes = []
        self.running = True

    def run(self):
        last = object()
        while self.running:
            target = self.router.link_target()
            if target != last:
                self.changes.append((time.time(), target))
                last = target
            time.sleep(0.02)

    def targets(self):
        """The sequence of link states, repeats folded."""
        return [t for _, t in self.changes]

    def stop(self):
        self.running = False
        self.join()


class Hotspot:
    """The hotspot, built when made (its network named with `suffix`, so
    that several can run side by side) and taken apart when the `with`
    block it serves ends. FreeRADIUS with `secret` runs on the operator's
    host unless `radius` is false; the router's nvram holds the secret."""

    def __init__(self, radius=True, secret=SECRET, suffix=""):
        self.secret = secret
        self.net = sandbox.Network(suffix=suffix)
        self.router = self.net.router
        self.operator = self.net.operator
        self.radius = None
        self.watcher = LinkWatcher(self.router)
        self.started = None
        try:
            self.router.root.set_nvram(dict(self.router.root.nvram, radius_secret=secret))
            self.router.root.install(PROGRAM)
            self.operator.serve("/ping", "pong\n")
            if radius:
                self.radius = FreeRadius(self.operator.host, sandbox.Network.OPERATOR, secret)
                self.radius.start()
        except BaseException:
            self.cleanup()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.cleanup()

    def serve(self, settings=None, portal=None):
        if settings is not None:
            self.operator.serve("spotwarden.conf", settings)
        if portal is not None:
            self.operator.serve("chilli.conf", portal)

    def start(self, args=None, env=None, launcher=""):
        """Starts spotwarden (with command_args() unless `args` are given);
        `env` adds environment for the router's programs, `launcher` a
        command line that execs spotwarden's. An emulated router given none
        of them boots as shipped: its own boot script starts spotwarden."""
        self.watcher.start()
        self.started = time.time()
        if self.router.system and args is None and env is None and not launcher:
            self.router.boot()
            return
        self.router.start(launcher + "/sbin/spotwarden " + (args or command_args(self.secret)), env=env)

    def start_online(self, settings, portal, timeout=40, **start):
        """Serves `settings` and `portal` over HTTP, starts spotwarden (with
        start()'s keywords) and waits until it has brought chilli online."""
        self.serve(settings=settings, portal=portal)
        self.operator.start_http()
        self.start(**start)
        self.wait_logged("chilli is online", timeout=timeout)

    # --- observations -----------------------------------------------------

    def messages(self):
        """spotwarden's log as (facility.priority, text without "spotwarden: ")."""
        out = []
        for prio, text in self.router.log_lines():
            # busybox syslogd shows the identity ("spotwarden: ") before the
            # message, which itself starts with the program name.
            if text.startswith("spotwarden: spotwarden: "):
                out.append((prio, text[len("spotwarden: spotwarden: "):]))
        return out

    def logged(self, text):
        return any(text in m for _, m in self.messages())

    def wait_logged(self, text, timeout=60):
        sandbox.wait_for(lambda: self.logged(text), timeout=timeout, what="log line %r" % text)

    def signals(self):
        """Signals chilli received, as (time, name)."""
        return [(e[0], e[3]) for e in self.router.chilli_journal() if e[1] == "signal"]

    def signal_names(self):
        return [name for _, name in self.signals()]

    def requests(self, path_prefix):
        return [r for r in self.operator.requests() if r[3].startswith(path_prefix)]

    def cleanup(self):
        if self.watcher.is_alive():
            self.watcher.stop()
        self.router.stop()
        try:
            if self.radius:
                self.radius.cleanup()
        finally:
            self.net.cleanup()


def without_blips(changes, gap=1.0):
    """Link states over time with the brief absences of a remove-then-create
    re-point folded away: a list of targets (None = no link). The absence
    before the program made its first link, however long a busy machine
    makes it, is no state of the program's and is left out too."""
    out = []
    for i, (t, target) in enumerate(changes):
        if target is None and not out:
            continue
        if target is None and i + 1 < len(changes) and changes[i + 1][0] - t < gap:
            continue
        if not out or out[-1] != target:
            out.append(target)
    return out


class IcmpCapture:
    """tcpdump on the operator's side of the WAN link: echo requests seen."""

    def __init__(self, host, ifname="up0"):
        fd_path = os.path.join(sandbox.tempfile.gettempdir(), "swicmp.%d" % os.getpid())
        self.path = fd_path
        self.out = open(fd_path, "w")
        self.err = sandbox.tempfile.TemporaryFile(mode="w+")
        self.proc = host.popen(["tcpdump", "-i", ifname, "-n", "-tt", "-l", "icmp[icmptype] == 8"],
                               stdout=self.out, stderr=self.err)
        sandbox.wait_for(self._listening, timeout=30, what="tcpdump listening")

    def _listening(self):
        self.err.seek(0)
        return "listening on" in self.err.read()

    def times(self):
        return [float(line.split()[0]) for line in sandbox.complete_lines(self.path)
                if "ICMP echo request" in line]

    def cleanup(self):
        sandbox.stop(self.proc)
        self.out.close()
        self.err.close()
        os.unlink(self.path)


class RadiusPeer(sandbox.Recorder):
    """A second RADIUS host "radius1" joined to the router at 198.18.3.2, or
    (on_router) a listener on the router's own ports at 0.0.0.0.
    mode "silent": never answers; "acct-only": answers accounting (1813)
    and ignores authentication (1812); "sizes": answers accounting with an
    empty datagram and authentication with 4096 bytes. Records every
    datagram."""

    ADDRESS = "198.18.3.2"

    def __init__(self, net, mode, on_router=False):
        self.own_host = not on_router
        if on_router:
            self.host, address = net.router.host, "0.0.0.0"
        else:
            self.host, address = sandbox.Host("radius1"), self.ADDRESS
            sandbox.link(net.router.host, "rad0", "198.18.3.1/24", self.host, "rad1", self.ADDRESS + "/24")
        super().__init__(self.host, ["/usr/bin/python3", os.path.join(HERE, "radius_peer.py"), mode, "{log}",
                                     address], "RADIUS peer")

    def datagrams(self):
        """(time, port) of each datagram received."""
        return [(float(t), int(p)) for t, p, _ in (line.split() for line in self.lines())]

    def cleanup(self):
        super().cleanup()
        if self.own_host:
            self.host.delete()
