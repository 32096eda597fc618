"""The upstream path that linkgauge measures, for its end-to-end tests and
its accuracy benchmark.

    router --wan0-- gw1 -- gw2 -- gw3 -- gw4 -- target (the trace target)
                                          \\-- vendor (vendor.example.com)

One network namespace per box, one /24 of 198.18.0.0/15 per link, IPv4
forwarding on, static routes both ways. The router's upstream veth wan0 is
shaped with tc tbf (shape()); every gateway can be made silent to pings
(silence()). The router is a bubblewrap root (sandbox.Router) with the
platform stand-ins: ping, tracegw and timerd on PATH, libnvram/libvct/
libsutil on LD_LIBRARY_PATH, /sys of its namespace for the link state.
"""

import gzip
import os
import tempfile

from sandbox import sandbox

PLATFORM_LIB = os.path.join(sandbox.BUILD_DIR, "platform", "lib")
SANDBOX_DIR = os.path.join(sandbox.SOURCE_DIR, "sandbox")
TRACE_TARGET = sandbox.TRACE_TARGET
VENDOR = "vendor.example.com"
ETH_HEADER = 14


def kernel_hz(default=250):
    """CONFIG_HZ of the running kernel, which bounds tbf's token refill."""
    try:
        with gzip.open("/proc/config.gz", "rt") as f:
            for line in f:
                if line.startswith("CONFIG_HZ="):
                    return int(line.split("=")[1])
    except OSError:
        pass
    return default


# What linkgauge needs in the router's root on top of the usual.
GAUGE_ROOT = ["--ro-bind", "/sys", "/sys",
              "--ro-bind", PLATFORM_LIB, "/opt/platform-lib",
              "--ro-bind", SANDBOX_DIR, "/opt/sandbox",
              "--setenv", "LD_LIBRARY_PATH", "/opt/platform-lib"]


class Chain:
    """The shaped multi-hop path. Gateway k (1..4) answers traces and pings
    from the address GATEWAYS[k - 1], the one facing the router."""

    GATEWAYS = ["198.18.10.1", "198.18.11.2", "198.18.12.2", "198.18.13.2"]
    TARGET = "198.18.14.2"
    VENDOR_ADDR = "198.18.15.2"
    ROUTER_WAN = "198.18.10.2"

    def __init__(self, nvram=None):
        values = {"wan_eth": "wan0", "manufacturer_url": "http://%s/support" % VENDOR}
        values.update(nvram or {})
        self.router = sandbox.Router("router", hosts={TRACE_TARGET: self.TARGET, VENDOR: self.VENDOR_ADDR},
                                     nvram=values, root_options=GAUGE_ROOT)
        self.gws = [sandbox.Host("gw%d" % k) for k in range(1, 5)]
        self.target = sandbox.Host("target")
        self.vendor = sandbox.Host("vendor")
        r = self.router.host
        sandbox.link(r, "wan0", self.ROUTER_WAN + "/24", self.gws[0], "down0", "198.18.10.1/24")
        for k in range(3):
            net = 11 + k
            sandbox.link(self.gws[k], "up0", "198.18.%d.1/24" % net,
                         self.gws[k + 1], "down0", "198.18.%d.2/24" % net)
        sandbox.link(self.gws[3], "up0", "198.18.14.1/24", self.target, "down0", self.TARGET + "/24")
        sandbox.link(self.gws[3], "up1", "198.18.15.1/24", self.vendor, "down0", self.VENDOR_ADDR + "/24")
        r.run("ip", "route", "add", "default", "via", "198.18.10.1")
        for k, gw in enumerate(self.gws):
            gw.forward()
            if k < 3:
                gw.run("ip", "route", "add", "default", "via", "198.18.%d.2" % (11 + k))
            for back in range(10, 10 + k):
                gw.run("ip", "route", "add", "198.18.%d.0/24" % back, "via", "198.18.%d.1" % (10 + k))
        self.target.run("ip", "route", "add", "default", "via", "198.18.14.1")
        self.vendor.run("ip", "route", "add", "default", "via", "198.18.15.1")
        # Segmentation offloads would hand tbf 64 KB super-packets.
        for host, dev in ((r, "wan0"), (self.gws[0], "down0")):
            host.run("ethtool", "-K", dev, "gso", "off", "gro", "off", "tso", "off", check=False)
        self.burst = None
        self._tracegw = None  # the scripted tracegw of use_trace()

    def shape(self, rate_bit, largest_train=40 * 32768):
        """Shapes the router's upstream to rate_bit bit/s. Returns the tbf
        burst in bytes: max(MTU + 14, rate / HZ), the least that lets tbf
        reach its rate; anything above it leaves the link at veth speed."""
        mtu = int(self.router.host.run("cat", "/sys/class/net/wan0/mtu"))
        self.burst = max(mtu + ETH_HEADER, rate_bit // 8 // kernel_hz())
        # Room for two whole trains with their fragment headers.
        limit = 2 * largest_train * 11 // 10
        self.router.host.run("tc", "qdisc", "replace", "dev", "wan0", "root", "tbf",
                             "rate", "%dbit" % rate_bit, "burst", str(self.burst),
                             "limit", str(limit))
        return self.burst

    def silence(self, k, quiet=True):
        """Makes gateway k (1..4) ignore pings; it still reports its hop."""
        self.gws[k - 1].run("sysctl", "-qw", "net.ipv4.icmp_echo_ignore_all=%d" % (1 if quiet else 0))

    def silence_vendor(self, quiet=True):
        self.vendor.run("sysctl", "-qw", "net.ipv4.icmp_echo_ignore_all=%d" % (1 if quiet else 0))

    def wan(self, up):
        self.router.host.run("ip", "link", "set", "wan0", "up" if up else "down")

    def use_trace(self, hops):
        """From now on tracegw prints the usual three header lines and then
        `hops` (lines without line end), instead of tracing the path."""
        if self._tracegw is None:
            fd, self._tracegw = tempfile.mkstemp(prefix="swtracegw.")
            os.close(fd)
            os.chmod(self._tracegw, 0o755)
            self.router.root.binds.append((self._tracegw, "/opt/platform/tracegw"))
        script = ["#!/bin/sh", "cat <<'EOF'", "tracegw: ICMP route trace to $2",
                  "30 hops max, 3 probes per hop, 1 s wait", "hop  name (address)  times"] + hops + ["EOF"]
        with open(self._tracegw, "w") as f:
            f.write("\n".join(script) + "\n")

    def run_linkgauge(self, term_when=None, ping_wait=2, timeout=300, log=False):
        """Runs linkgauge in the router next to the timer daemon and waits for
        the detached process to end. Returns (report lines, stdout). With
        `log`, a syslog daemon collects the router's log (log_lines()) and the
        run ends only once it has written all of it."""
        root = self.router.root
        program = root.install(os.path.join(sandbox.PROGRAM_DIR, "linkgauge"))
        report = "/var/run/linkgauge.report"
        watch = "python3 /opt/sandbox/daemon_watch.py %s %s-- %s" % (
            report, "--term-when %s " % term_when if term_when else "", program)
        if self.router.system:
            # No Python on the emulated router: its shell waits until the
            # detached process is gone, whose exit status only init sees.
            assert term_when is None, "the emulated router has no daemon watcher"
            # Its inittab runs linkgauge once at boot: that run ends first,
            # or two measurements would share the link and one result file.
            watch = ("while pidof linkgauge >/dev/null; do sleep 0.1; done; "
                     "%s; echo \"parent exit $?\" >%s.tmp; while pidof linkgauge >/dev/null; do sleep 0.1; done; "
                     "echo 'daemon ended' >>%s.tmp; mv %s.tmp %s") % (program, report, report, report, report)
        command = "timerd & " + sandbox.until("[ -s /var/run/timer.pid ]") + watch + "; kill $(cat /var/run/timer.pid)"
        if log:
            command = sandbox.START_SYSLOG + command + "; " + sandbox.DRAIN_SYSLOG
        rc, out, err = self.router.run(command, env={"PING_WAIT": str(ping_wait)}, timeout=timeout)
        try:
            with open(root.path(report)) as f:
                lines = f.read().split("\n")[:-1]
        except FileNotFoundError:
            raise AssertionError("no report (rc %d): %s" % (rc, err))
        return lines, out

    def file(self, path):
        """Contents of a router file, or None when it does not exist."""
        try:
            with open(self.router.root.path(path)) as f:
                return f.read()
        except FileNotFoundError:
            return None

    def cleanup(self):
        self.router.cleanup()
        if self._tracegw is not None:
            os.unlink(self._tracegw)
        for name in ["gw1", "gw2", "gw3", "gw4", "target", "vendor"]:
            sandbox.sh("ip", "netns", "del", name, check=False)
        sandbox.sh("ip", "netns", "del", "router", check=False)
