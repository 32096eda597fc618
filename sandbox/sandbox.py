"""The simulated router network used by end-to-end tests and the demo.

Runs only inside sandbox/run-in-sandbox (a private mount + network namespace
with its own /run). Hosts are network namespaces joined by veth pairs,
addressed in 198.18.0.0/15. The router's programs run in a bubblewrap root
whose /run (= /var/run), /var/tmp, /www, /var/log and /etc are directories of
a scratch folder on the host side, so tests read what the programs left there.
"""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import time

SOURCE_DIR = os.environ.get("SW_SOURCE_DIR", os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD_DIR = os.environ.get("SW_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
PLATFORM_BIN = os.path.join(BUILD_DIR, "platform", "bin")
# Where spotwarden and linkgauge come from: the build folder, or the sbin of
# a firmware image built elsewhere.
PROGRAM_DIR = os.environ.get("SW_PROGRAM_DIR", BUILD_DIR)
# A cross build's programs run in the router through this emulator command
# ("qemu-mips-static -L /usr/mips-linux-gnu"); empty for a host build.
EMULATOR = os.environ.get("SW_EMULATOR", "")
# A router of the emulated-system kind: the image of scripts/build-image in
# this folder, booted in place of the bubblewrap root (sandbox/emulated.py).
IMAGE_DIR = os.environ.get("SW_IMAGE_DIR", "")


def _build_constants():
    """The constants the build was made with, as sandbox/CMakeLists.txt
    wrote them into the build folder."""
    path = os.path.join(BUILD_DIR, "sandbox_config.json")
    try:
        with open(path) as f:
            return json.load(f)
    except FileNotFoundError:
        raise SystemExit("sandbox: %s is missing: configure the build (SW_BUILD_DIR) first" % path)


_CONSTANTS = _build_constants()
OPERATOR_HOST = _CONSTANTS["operator_host"]
OPERATOR_DOMAIN = _CONSTANTS["operator_domain"]
OPERATOR_SCHEME = _CONSTANTS["operator_scheme"]  # of the settings and portal-config URLs
TRACE_TARGET = _CONSTANTS["trace_target"]  # linkgauge's 'tracegw -I' host
# Where an emulated cross build's MD5 provider (libcrypto or libmd) is, or empty.
LIBRARY_DIR = _CONSTANTS["library_dir"]
# Options of a sanitizer build's runtime, and where inside the router its
# reports go (the router's /var/log/sanitizer.PID).
SANITIZER_OPTIONS = ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS")
SANITIZER_LOG = "/var/log/sanitizer"


def sh(*args, check=True, **kw):
    """Runs a host-side command (ip, tc, ...) and returns its stdout."""
    r = subprocess.run(list(args), check=False, capture_output=True, text=True, **kw)
    if check and r.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(args), r.returncode, r.stderr.strip()))
    return r.stdout


def until(condition):
    """Shell text for a command line in the router: waits until the shell
    test `condition` holds, or a minute has passed."""
    return "i=0; until %s || [ $i -ge 1200 ]; do sleep 0.05; i=$((i+1)); done; " % condition


# Shell prefix for a command line in the router: starts the syslog daemon and
# waits until /dev/log exists, so no early message is lost.
START_SYSLOG = "busybox syslogd -n -O /var/log/messages & " + until("[ -S /dev/log ]")
# Shell text that ends a command line started with START_SYSLOG: waits until
# the daemon wrote a marker (local7, which no test reads) logged after
# everything else, so no message is lost with the router. The log outlives
# the run and holds the markers of the runs before it: only one more than
# there were counts.
DRAIN_SYSLOG = ("drained=$(cat /var/log/messages 2>/dev/null | grep -c sandbox-drained); "
                "logger -p local7.info sandbox-drained; " +
                until('[ "$(grep -c sandbox-drained /var/log/messages)" -gt "$drained" ]'))
# The timeouts of wait_for() are what a normal machine needs; a sanitizer
# build beside busy processes may take several times as long, and a longer
# wait costs time only when the test fails anyway.
TIMEOUT_SCALE = 4


# Whatever can tell what the routers and servers of the running scenario did
# (Network registers its own): a CI log is all there is of a failed run, so
# every wait that times out says it.
explainers = []


def explain():
    """What the registered explainers tell, as one text."""
    parts = []
    for fn in list(explainers):
        try:
            parts.append(fn())
        except Exception as e:  # a half-built network must not hide the timeout
            parts.append("(%s could not say: %s)" % (getattr(fn, "__qualname__", fn), e))
    return "\n".join(parts)


def wait_for(predicate, timeout=10.0, interval=0.05, what="condition"):
    """Polls `predicate` until it is true; raises after TIMEOUT_SCALE times
    `timeout` seconds, with what the running scenario's hosts did."""
    deadline = time.monotonic() + timeout * TIMEOUT_SCALE
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TimeoutError("timed out waiting for %s\n%s" % (what, explain()))
        time.sleep(interval)


def complete_lines(path, errors=None):
    """The lines of a log that another process is appending to, without
    their newlines. The last line is left out until its newline is there:
    a read can land in the middle of the writer's write, so the file may end
    in half a line."""
    with open(path, errors=errors) as f:
        text = f.read()
    return text[:text.rfind("\n") + 1].splitlines()


class Host:
    """A network namespace."""

    def __init__(self, name):
        self.name = name
        sh("ip", "netns", "add", name)
        self.run("ip", "link", "set", "lo", "up")

    def run(self, *args, check=True):
        return sh("ip", "netns", "exec", self.name, *args, check=check)

    def popen(self, args, **kw):
        kw.setdefault("start_new_session", True)
        return subprocess.Popen(["ip", "netns", "exec", self.name] + list(args), **kw)

    def forward(self, on=True):
        self.run("sysctl", "-qw", "net.ipv4.ip_forward=%d" % (1 if on else 0))

    def delete(self):
        """Removes the namespace (and the veths in it), so the name can be
        used again by the next test in the same sandbox."""
        sh("ip", "netns", "del", self.name, check=False)


def link(a, a_if, a_addr, b, b_if, b_addr, a_mac=None, b_mac=None):
    """Joins hosts a and b with a veth pair; addresses as "198.18.0.1/24"."""
    sh("ip", "link", "add", a_if, "netns", a.name, "type", "veth", "peer", "name", b_if, "netns", b.name)
    for host, ifname, addr, mac in ((a, a_if, a_addr, a_mac), (b, b_if, b_addr, b_mac)):
        if mac:
            host.run("ip", "link", "set", ifname, "address", mac)
        if addr:
            host.run("ip", "addr", "add", addr, "dev", ifname)
        host.run("ip", "link", "set", ifname, "up")


def stop(proc, sig=signal.SIGTERM, timeout=5):
    """Stops a process started with start_new_session=True, and its group."""
    if proc is None or proc.poll() is not None:
        return
    try:
        os.killpg(proc.pid, sig)
        proc.wait(timeout=timeout)
    except (ProcessLookupError, subprocess.TimeoutExpired):
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.wait()


class Recorder:
    """A helper process in `host` that writes "ready" and then one line per
    event into a scratch file: `args` is its command line, in which the
    text "{log}" stands for that file."""

    def __init__(self, host, args, what):
        fd, self.path = tempfile.mkstemp(prefix="swrec.")
        os.close(fd)
        self.proc = host.popen([a.replace("{log}", self.path) for a in args])
        wait_for(lambda: self.lines(with_ready=True)[:1] == ["ready"], timeout=10, what=what)

    def lines(self, with_ready=False):
        """The events recorded so far, one text line each."""
        lines = complete_lines(self.path)
        return lines if with_ready else lines[1:]

    def cleanup(self):
        stop(self.proc)
        if os.path.exists(self.path):
            os.unlink(self.path)


class RouterRoot:
    """The router's file system: a scratch folder on the host side and the
    bubblewrap command line that makes it the router's root. `options` are
    more bwrap options for every program; `binds` (host path, router path)
    pairs that replace or add files of the router, from then on."""

    def __init__(self, hosts=None, nvram=None, options=()):
        self.options = list(options)
        self.binds = []
        self.dir = tempfile.mkdtemp(prefix="swrouter.")
        for d in ("run", "vartmp", "www", "log", "etc", "sbin"):
            os.makedirs(os.path.join(self.dir, d))
        self.write_hosts(hosts or {})
        self.set_nvram(nvram or {})
        for n in range(1, 6):
            with open(os.path.join(self.dir, "www", "zelvanet_R%03d.html" % n), "w") as f:
                f.write("<html><body>R%03d</body></html>\n" % n)

    def path(self, *parts):
        """Host-side path of a router path such as "/var/run/x"."""
        p = "/".join(parts).lstrip("/")
        for prefix, sub in (("var/run/", "run/"), ("run/", "run/"), ("var/tmp/", "vartmp/"),
                            ("www/", "www/"), ("var/log/", "log/"), ("etc/", "etc/")):
            if p.startswith(prefix):
                return os.path.join(self.dir, sub + p[len(prefix):])
        raise ValueError("not a router path: " + p)

    def write_hosts(self, hosts):
        with open(os.path.join(self.dir, "etc", "hosts"), "w") as f:
            f.write("127.0.0.1 localhost\n")
            for name, addrs in hosts.items():
                for addr in ([addrs] if isinstance(addrs, str) else addrs):
                    f.write("%s %s\n" % (addr, name))

    def set_nvram(self, values):
        """The router's settings store: etc/nvram.conf of the bubblewrap
        root; an emulated router writes it into its board's flash at its
        next boot, so nothing of it is in the shared folder."""
        self.nvram = dict(values)
        if IMAGE_DIR:
            return
        with open(os.path.join(self.dir, "etc", "nvram.conf"), "w") as f:
            for k, v in values.items():
                f.write("%s=%s\n" % (k, v))

    def install(self, program, name=None):
        """Copies a built program into the router's /sbin (on an emulated
        router, one that is not the image's own replaces it). A cross build's
        program goes to /sbin/.target, behind a script of its name that runs
        it through the emulator."""
        name = name or os.path.basename(program)
        if IMAGE_DIR and os.path.samefile(os.path.dirname(program), PROGRAM_DIR):
            return "/sbin/" + name  # the image's own: its /sbin has it
        dst = os.path.join(self.dir, "sbin", name)
        if not EMULATOR:
            shutil.copy2(program, dst)
            return "/sbin/" + name
        os.makedirs(os.path.join(self.dir, "sbin", ".target"), exist_ok=True)
        shutil.copy2(program, os.path.join(self.dir, "sbin", ".target", name))
        with open(dst, "w") as f:
            f.write('#!/bin/sh\nexec %s /sbin/.target/%s "$@"\n' % (EMULATOR, name))
        os.chmod(dst, 0o755)
        return "/sbin/" + name

    def bwrap(self, extra_binds=()):
        d = self.dir
        args = ["bwrap",
                "--ro-bind", "/usr", "/usr",
                "--symlink", "usr/lib", "/lib", "--symlink", "usr/lib64", "/lib64",
                "--tmpfs", "/bin", "--ro-bind", "/usr/bin/dash", "/bin/sh",
                "--ro-bind", os.path.join(PLATFORM_BIN, "nvram"), "/bin/nvram",
                "--bind", os.path.join(d, "sbin"), "/sbin",
                "--ro-bind", PLATFORM_BIN, "/opt/platform",
                "--dev", "/dev", "--proc", "/proc",
                "--bind", os.path.join(d, "run"), "/run", "--symlink", "../run", "/var/run",
                "--bind", os.path.join(d, "vartmp"), "/var/tmp",
                "--bind", os.path.join(d, "log"), "/var/log",
                "--bind", os.path.join(d, "www"), "/www",
                "--bind", os.path.join(d, "etc"), "/etc",
                "--ro-bind", "/etc/nsswitch.conf", "/etc/nsswitch.conf",
                "--ro-bind", "/etc/passwd", "/etc/passwd",
                "--ro-bind", "/etc/group", "/etc/group",
                "--unshare-pid", "--die-with-parent",
                "--setenv", "PATH", "/opt/platform:/sbin:/usr/sbin:/usr/bin:/bin",
                "--setenv", "NVRAM_FILE", "/etc/nvram.conf",
                "--setenv", "CHILLI_JOURNAL", "/var/run/chilli.journal"]
        if EMULATOR:
            # The stand-ins' emulator scripts and the programs' libraries
            # (the MD5 provider) are named by their build-time paths.
            args += ["--ro-bind", BUILD_DIR, BUILD_DIR]
            if LIBRARY_DIR and not LIBRARY_DIR.startswith(BUILD_DIR + "/"):
                args += ["--ro-bind", LIBRARY_DIR, LIBRARY_DIR]
        for src, dst in self.binds + list(extra_binds):
            args += ["--bind", src, dst]
        return args + self.sanitizer_env() + self.options

    @staticmethod
    def sanitizer_env():
        """bwrap options that hand the sanitizer options of a sanitizer build
        to the router's programs, their reports going to the router's
        /var/log, where sanitizer_reports() finds them; none otherwise."""
        args = []
        for name in SANITIZER_OPTIONS:
            value = os.environ.get(name)
            if value is None:
                continue
            kept = [o for o in value.split(":") if o and not o.startswith("log_path=")]
            args += ["--setenv", name, ":".join(kept + ["log_path=" + SANITIZER_LOG])]
        return args

    def sanitizer_reports(self):
        """Text of every sanitizer report the router's programs left."""
        logdir = os.path.join(self.dir, "log")
        texts = []
        for name in sorted(os.listdir(logdir)) if os.path.isdir(logdir) else ():
            if name.startswith(os.path.basename(SANITIZER_LOG)):
                with open(os.path.join(logdir, name), errors="replace") as f:
                    texts.append("== %s\n%s" % (name, f.read()))
        return "\n".join(texts)

    def cleanup(self):
        shutil.rmtree(self.dir, ignore_errors=True)


class Router:
    """A router: its network namespace plus its file system. Programs started
    with start() share one bubblewrap instance with a busybox syslogd, so
    killall sees only this router's processes and the log is collected in
    /var/log/messages. `root_options` are more bwrap options (RouterRoot)."""

    def __init__(self, name="router", hosts=None, nvram=None, root_options=()):
        self.host = Host(name)
        self.root = RouterRoot(hosts=hosts, nvram=nvram, options=root_options)
        self.proc = None
        self.system = None
        if IMAGE_DIR:
            from sandbox import emulated
            self.system = emulated.System(self)

    def start(self, command, env=None, stdout=None, stderr=None, extra_binds=()):
        """Starts a shell command line in the router after the syslog daemon.
        An emulated router boots with it as its services; its output goes to
        the console log."""
        if self.system:
            self.proc = self.system.boot(self.system.script("exec " + command, env))
            return self.proc
        envs = []
        for k, v in (env or {}).items():
            envs += ["--setenv", k, v]
        script = START_SYSLOG + "exec " + command
        args = self.root.bwrap(extra_binds) + envs + ["--", "/bin/sh", "-c", script]
        self.proc = self.host.popen(args, stdout=stdout, stderr=stderr)
        return self.proc

    def boot(self):
        """Boots an emulated router with its image's own services, which
        take their settings from nvram."""
        self.proc = self.system.boot()
        return self.proc

    def run(self, command, env=None, timeout=60):
        """Runs a shell command line in the router to its end: (rc, out, err)."""
        if self.system:
            return self.system.run(command, env, timeout)
        envs = []
        for k, v in (env or {}).items():
            envs += ["--setenv", k, v]
        args = ["ip", "netns", "exec", self.host.name] + self.root.bwrap() + envs + \
               ["--", "/bin/sh", "-c", command]
        r = subprocess.run(args, capture_output=True, text=True, timeout=timeout)
        return r.returncode, r.stdout, r.stderr

    def stop(self):
        stop(self.proc)
        self.proc = None

    def execute(self, command):
        """Runs a shell command line in the running router, as its own
        network scripts would: in its namespace beside the bubblewrap root,
        in the guest for an emulated router. Returns what it wrote."""
        if self.system:
            return self.system.command(command)
        return self.host.run("sh", "-c", command)

    def proc_path(self, name):
        """Where the harness reads the router's /proc/NAME: the host's own
        for the bubblewrap root, the guest's copy for an emulated router."""
        return self.system.proc_path(name) if self.system else os.path.join("/proc", name)

    def log_lines(self):
        """The router's system log as (facility.priority, message) pairs."""
        out = []
        try:
            for line in complete_lines(self.root.path("/var/log/messages"), errors="replace"):
                # "Dec  7 23:59:59 host user.notice spotwarden: text"
                parts = line.split(None, 5)
                if len(parts) == 6:
                    out.append((parts[4], parts[5]))
        except FileNotFoundError:
            pass
        return out

    def chilli_journal(self):
        """The chilli stand-in's journal as lists of fields (time as float)."""
        out = []
        try:
            for line in complete_lines(self.root.path("/var/run/chilli.journal")):
                fields = line.split("\t")
                fields[0] = float(fields[0])
                out.append(fields)
        except FileNotFoundError:
            pass
        return out

    def explain(self):
        """What the router did, for a failed wait: the end of its log, its
        status file, the offline-reason link, chilli's journal and, for an
        emulated router, the guest's view (system.explain())."""
        def tail(path, n):
            try:
                with open(path, errors="replace") as f:
                    return "".join(f.readlines()[-n:])
            except OSError as e:
                return "(%s)\n" % e.strerror
        text = "the router's log ends:\n" + tail(self.root.path("/var/log/messages"), 40)
        text += "its status file:\n" + tail(self.root.path("/var/run/spotwarden.status"), 20)
        text += "its offline-reason link: %s\n" % self.link_target()
        text += "chilli's journal ends:\n" + tail(self.root.path("/var/run/chilli.journal"), 10)
        if self.system:
            text += self.system.explain()
        return text

    def link_target(self):
        """Target of /var/run/offline-reason, or None when there is no link."""
        try:
            return os.readlink(self.root.path("/var/run/offline-reason"))
        except FileNotFoundError:
            return None

    def cleanup(self):
        """Removes the router; fails when one of its programs left a
        sanitizer report, so that a sanitizer build's test fails with it."""
        self.stop()
        if self.system:
            self.system.cleanup()
        reports = self.root.sanitizer_reports()
        self.root.cleanup()
        self.host.delete()
        if reports:
            raise AssertionError("sanitizer reports of the router's programs:\n" + reports)


class Operator:
    """The operator's host: a namespace with an HTTP server on port 80 whose
    document root and request log live in a scratch folder."""

    def __init__(self, host, address):
        self.host = host
        self.address = address
        self.dir = tempfile.mkdtemp(prefix="swoperator.")
        self.docroot = os.path.join(self.dir, "www")
        os.makedirs(os.path.join(self.docroot, "config"))
        self.request_log = os.path.join(self.dir, "requests.log")
        self.https_log = os.path.join(self.dir, "https-requests.log")
        self.http = None
        self.https = None

    def serve(self, name, content):
        """Publishes `content` (str or bytes) at /config/NAME, or at NAME when
        it starts with "/"."""
        path = self.file(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        # Swapped in whole: a request that comes while the test writes gets
        # the old file or the new one, never a part.
        with open(path + ".new", "wb") as f:
            f.write(content.encode() if isinstance(content, str) else content)
        os.replace(path + ".new", path)

    def file(self, name):
        return os.path.join(self.docroot, name.lstrip("/")) if name.startswith("/") \
            else os.path.join(self.docroot, "config", name)

    def withdraw(self, name):
        for suffix in ("", ".status", ".hang", ".cut"):
            try:
                os.unlink(self.file(name) + suffix)
            except FileNotFoundError:
                pass

    def cut_next(self, name, size):
        """The next download of NAME breaks off after `size` bytes."""
        with open(self.file(name) + ".cut", "w") as f:
            f.write(str(size))

    def set_status(self, name, status):
        with open(self.file(name) + ".status", "w") as f:
            f.write(str(status))

    def start_http(self):
        script = os.path.join(SOURCE_DIR, "sandbox", "operator_http.py")
        self.http = self.host.popen(["/usr/bin/python3", script, self.address, "80", self.docroot,
                                     self.request_log])
        wait_for(self._listening, timeout=10, what="operator HTTP server")

    def start_https(self, certificate):
        """Serves the same files over TLS on port 443 with the PEM file
        `certificate` (chain and key), read anew for each connection; its
        requests and failed handshakes are logged apart (requests(tls=True))."""
        script = os.path.join(SOURCE_DIR, "sandbox", "operator_http.py")
        self.https = self.host.popen(["/usr/bin/python3", script, self.address, "443", self.docroot,
                                      self.https_log, certificate])
        wait_for(lambda: self._listening(443), timeout=10, what="operator HTTPS server")

    def _listening(self, port=80):
        out = self.host.run("ss", "-ltn", check=False)
        return ("%s:%d" % (self.address, port)) in out

    def stop_http(self):
        stop(self.http)
        self.http = None
        stop(self.https)
        self.https = None

    def explain(self):
        """The operator's last requests, for a failed wait."""
        asked = ["%.3f %s %s %s %d" % r for r in self.requests()[-10:]]
        return "the operator's last requests (now %.3f):\n%s\n" % (time.time(), "\n".join(asked))

    def requests(self, tls=False):
        """Request log as (time, client, method, path with query, status);
        with `tls`, that of the HTTPS server."""
        out = []
        try:
            for line in complete_lines(self.https_log if tls else self.request_log):
                t, client, method, path, status = line.split()
                out.append((float(t), client, method, path, int(status)))
        except FileNotFoundError:
            pass
        return out

    def cleanup(self):
        self.stop_http()
        shutil.rmtree(self.dir, ignore_errors=True)
        self.host.delete()


class Network:
    """The standard hotspot network: the router (namespace "router") joined by
    its WAN link wan0 (198.18.0.2/24) to the operator's host ("operator",
    198.18.0.1/24 on up0). The router also has a LAN veth pair lan0/lan1
    (198.18.1.1/24 on lan0) and a radio stand-in ath0/ath1 whose MAC address
    is 00:1a:2b:3c:4d:5e, for --radiusnasif. The operator's host name
    resolves to 198.18.0.1 in the router's /etc/hosts. Several networks run
    side by side with the namespaces' names told apart by `suffix`."""

    ROUTER_WAN = "198.18.0.2"
    OPERATOR = "198.18.0.1"
    LAN = "198.18.1.1"
    RADIO_MAC = "00:1a:2b:3c:4d:5e"

    def __init__(self, nvram=None, hosts=None, suffix=""):
        names = {OPERATOR_HOST: self.OPERATOR}
        names.update(hosts or {})
        self.router = Router("router" + suffix, hosts=names, nvram=nvram if nvram is not None else
                             {"zelvanet_ssid": "Cafe Hotspot", "wlan0_channel": "6"})
        self.operator = Operator(Host("operator" + suffix), self.OPERATOR)
        link(self.router.host, "wan0", self.ROUTER_WAN + "/24", self.operator.host, "up0", self.OPERATOR + "/24")
        link(self.router.host, "lan0", self.LAN + "/24", self.router.host, "lan1", None)
        link(self.router.host, "ath0", None, self.router.host, "ath1", None, a_mac=self.RADIO_MAC)
        explainers.append(self.explain)

    def explain(self):
        return self.router.explain() + self.operator.explain()

    def wan(self, up):
        """Takes the router's WAN interface down (its routes go with it) or
        brings it back up, its routes not (Router.execute restores them)."""
        self.router.execute("ip link set wan0 " + ("up" if up else "down"))
        # An emulated router keeps its address in the guest.
        if up and not self.router.system:
            self.router.host.run("ip", "addr", "replace", self.ROUTER_WAN + "/24", "dev", "wan0")

    def carrier(self, up):
        """The far end of the router's WAN cable pulled or plugged in again:
        wan0 loses its carrier, its routes stay."""
        if self.router.system:
            self.router.system.set_link(up)
        else:
            self.operator.host.run("ip", "link", "set", "up0", "up" if up else "down")

    def cleanup(self):
        if self.explain in explainers:
            explainers.remove(self.explain)
        try:
            self.router.cleanup()
        finally:
            self.operator.cleanup()
