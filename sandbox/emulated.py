"""The router as a whole emulated system: the image of scripts/build-image
(SW_IMAGE_DIR) booted under qemu-system-mips in the router's network
namespace, in place of the bubblewrap root, for the same scenarios.

The namespace's WAN veth wan0 becomes a bridge port beside the tap device of
the board's NIC, so the guest's wan0 takes over its address and route and
the upstream (shaping, cuts) is the same. The router's settings store
(nvram) is in the board's flash, which the harness fills before boot with
the scenario's nvram and the router's network configuration (the
namespace's addresses and route, the radio's MAC), for rcS in image/rootfs
to read. The test bench's own settings go on the kernel command line. The
router's scratch folder is the guest's settings partition over virtio-9p:
its run, log, vartmp, www and etc folders are the router's, so the harness
reads them as it does for the bubblewrap root. A second NIC reaches a time
server in the namespace, which sets the guest's clock to the host's at each
boot. Nothing of the host runs inside the guest: the image's own
/etc/rc.services starts the router's programs (boot()); a command line of
the harness's own (run(), Router.start) takes its place instead.
"""

import os
import shlex
import shutil
import socket
import subprocess
import tempfile
import time

from sandbox import sandbox

IMAGE_DIR = os.environ.get("SW_IMAGE_DIR", "")
RUN_IMAGE = os.path.join(sandbox.SOURCE_DIR, "scripts", "run-image")
WAN_MAC = "52:54:00:12:34:56"
MGMT_MAC = "52:54:00:12:34:fe"
MGMT_HOST = "198.18.250.1"
MGMT_GUEST = "198.18.250.2"
# Malta's 4 MB flash; rcS finds nvram's store at the start of the "User FS"
# partition of the board's device tree, 1 MB in, behind the boot monitor's.
FLASH_SIZE = 4 << 20
NVRAM_OFFSET = 1 << 20


class System:
    """The emulated router of a sandbox.Router: boots its image, with its
    own services or a script in their place, and stops it."""

    def __init__(self, router):
        self.router = router
        self.settings = None
        self.time_server = None
        self.boots = 0
        self.config = {}  # the router's network configuration, in nvram beside the scenario's
        self.flash = None
        self.flashed = None  # the nvram last written into the flash
        self.monitor_dir = tempfile.mkdtemp(prefix="swmonitor.")
        self.monitor = os.path.join(self.monitor_dir, "monitor")

    def console_log(self):
        return os.path.join(self.router.root.dir, "console.log")

    def _plumb(self):
        """Moves the namespace's WAN address and route, LAN address and
        radio MAC to the router's own configuration (nvram), joins wan0 and
        the NIC's tap in a bridge; returns the test bench's settings for the
        kernel command line (time server, management NIC)."""
        host = self.router.host
        config = self.config
        for key, ifname in (("wan_ipaddr", "wan0"), ("lan_ipaddr", "lan0")):
            out = host.run("ip", "-4", "-o", "addr", "show", "dev", ifname, check=False).split()
            if "inet" in out:
                config[key] = out[out.index("inet") + 1]
        route = host.run("ip", "-4", "route", "show", "default").split()
        if "via" in route:
            config["wan_gateway"] = route[route.index("via") + 1]
        radio = host.run("cat", "/sys/class/net/ath0/address", check=False).strip()
        if radio:
            config["wl0_hwaddr"] = radio
        host.run("ip", "addr", "flush", "dev", "wan0")
        host.run("ip", "link", "add", "br0", "type", "bridge")
        # The namespace keeps an address of its own on the WAN side (the
        # last of the WAN's /24), for what the harness sends as the router.
        if "wan_ipaddr" in config:
            spare = config["wan_ipaddr"].split("/")[0].rsplit(".", 1)[0] + ".254/24"
            host.run("ip", "addr", "add", spare, "dev", "br0")
        host.run("ip", "tuntap", "add", "dev", "tap0", "mode", "tap")
        for dev in ("wan0", "tap0"):
            host.run("ip", "link", "set", dev, "master", "br0")
        host.run("ip", "tuntap", "add", "dev", "tap1", "mode", "tap")
        host.run("ip", "addr", "add", MGMT_HOST + "/30", "dev", "tap1")
        for dev in ("br0", "tap0", "tap1"):
            host.run("ip", "link", "set", dev, "up")
        settings = {"ntp": MGMT_HOST, "mgmt": "%s/30,%s" % (MGMT_GUEST, MGMT_MAC)}
        self.time_server = sandbox.Recorder(host, ["/usr/bin/python3", os.path.join(
            sandbox.SOURCE_DIR, "sandbox", "time_server.py"), MGMT_HOST, "{log}"], "time server")
        return settings

    # The harness's view into the guest, which rcS starts from the share
    # beside the services: the guest's /proc/uptime, /proc/meminfo,
    # /proc/loadavg and /proc/interrupts copied to the share's proc folder
    # every second, a command line run when the harness leaves one (what the
    # router's own network scripts would do), and a reboot when it asks.
    WATCH = ("mkdir -p /mnt/host/proc\n"
             "(while :; do\n"
             "  for f in uptime meminfo loadavg interrupts; do cat /proc/$f >/mnt/host/proc/$f.new; mv /mnt/host/proc/$f.new /mnt/host/proc/$f; done\n"
             "  if [ -e /mnt/host/command ]; then sh /mnt/host/command >/mnt/host/command.out 2>&1; rm /mnt/host/command; fi\n"
             "  if [ -e /mnt/host/reboot ]; then rm /mnt/host/reboot; reboot; fi\n"
             "  sleep 1\n"
             "done) &")

    def command(self, command):
        """Runs a shell command line in the running guest through its
        watcher; returns its output when it has ended."""
        path = os.path.join(self.router.root.dir, "command")
        with open(path + ".new", "w") as f:
            f.write(command + "\n")
        os.replace(path + ".new", path)
        sandbox.wait_for(lambda: not os.path.exists(path), timeout=15, what="the guest running " + command)
        with open(path + ".out", errors="replace") as f:
            return f.read()

    def set_link(self, up):
        """The WAN NIC's carrier on or off (QEMU's monitor), as a cable
        plugged in or pulled at the far end."""
        with socket.socket(socket.AF_UNIX) as s:
            s.settimeout(10)
            s.connect(self.monitor)
            s.sendall(b"set_link wan %s\n" % (b"on" if up else b"off"))
            seen = b""
            # The banner's prompt, then the command's own.
            while seen.count(b"(qemu)") < 2:
                seen += s.recv(4096)

    def explain(self):
        """The guest's side of a failed wait: how long ago it last wrote to
        the share (its watcher writes every second), its uptime, load and
        interrupt counts then, and the end of its console."""
        text = ""
        uptime = self.proc_path("uptime")
        try:
            text += "the guest last wrote to the share %.1f s ago (boot %d); its uptime then: %s" % (
                time.time() - os.stat(uptime).st_mtime, self.boots, open(uptime).read())
            for name in ("loadavg", "interrupts"):
                with open(self.proc_path(name)) as f:
                    text += "its /proc/%s then:\n%s" % (name, f.read())
        except OSError as e:
            text += "no word from the guest's watcher (%s)\n" % e
        try:
            with open(self.console_log(), errors="replace") as f:
                text += "the console ends:\n" + "".join(f.readlines()[-15:])
        except OSError:
            pass
        return text

    def proc_path(self, name):
        """Host-side path of the guest's latest copy of /proc/NAME."""
        return os.path.join(self.router.root.dir, "proc", name)

    def reboot(self):
        """Has the guest reboot itself (BusyBox reboot through init); QEMU
        boots the image again with the same services and flash."""
        open(os.path.join(self.router.root.dir, "reboot"), "w").close()

    @staticmethod
    def script(command, env=None):
        """The services script that runs `command` (a shell command line)
        with `env` added to the environment, once a boot: init starts the
        services again when they end, the harness's own command not."""
        lines = ["#!/bin/sh", "[ -e /tmp/.services-ran ] && exec sleep 2147483647", ": >/tmp/.services-ran"]
        lines += ["export %s=%s" % (k, shlex.quote(v)) for k, v in (env or {}).items()]
        return "\n".join(lines + [command]) + "\n"

    def _write_flash(self, nvram):
        """`nvram` into the board's flash: key=value lines and a NUL, the
        rest erased (0xff) as a blank flash is."""
        if self.flash is None:
            fd, self.flash = tempfile.mkstemp(prefix="swflash.")
            os.close(fd)
        store = "".join("%s=%s\n" % kv for kv in nvram.items()).encode() + b"\0"
        image = bytearray(b"\xff" * FLASH_SIZE)
        image[NVRAM_OFFSET:NVRAM_OFFSET + len(store)] = store
        with open(self.flash, "wb") as f:
            f.write(image)
        self.flashed = nvram

    def boot(self, script=None, once=False):
        """Boots the image with its own services, or with `script` in their
        place; returns the QEMU process. With `once`, a guest reboot ends it.
        The flash keeps what the guest wrote to it unless the router's nvram
        was set since the last boot."""
        if self.settings is None:
            self.settings = self._plumb()
        path = os.path.join(self.router.root.dir, "etc", "rc.services")
        if script is None:
            if os.path.exists(path):
                os.unlink(path)
        else:
            with open(path, "w") as f:
                f.write(script)
            os.chmod(path, 0o755)
        watch = os.path.join(self.router.root.dir, "watch")
        with open(watch, "w") as f:
            f.write("#!/bin/sh\n" + self.WATCH + "\n")
        os.chmod(watch, 0o755)
        nvram = dict(self.config, **self.router.root.nvram)
        if nvram != self.flashed:
            self._write_flash(nvram)
        self.boots += 1
        settings = dict(self.settings, clock="%d" % time.time())
        args = [RUN_IMAGE, "--image", IMAGE_DIR, "--console", self.console_log(),
                "--share", self.router.root.dir, "--wan", "tap0," + WAN_MAC, "--mgmt", "tap1," + MGMT_MAC,
                "--flash", self.flash, "--monitor", self.monitor]
        args += ["--no-reboot"] if once else []
        args += ["router.%s=%s" % kv for kv in sorted(settings.items())]
        return self.router.host.popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)

    def run(self, command, env=None, timeout=60):
        """Boots the image to run `command` to its end and power off:
        (rc, out, err) as Router.run gives them."""
        files = {n: os.path.join(self.router.root.dir, "run", ".command." + n) for n in ("out", "err", "rc")}
        for path in files.values():
            if os.path.exists(path):
                os.unlink(path)
        guest = {n: "/var/run/.command." + n for n in files}
        script = self.script("(%s) >%s 2>%s\necho $? >%s\nreboot -f" % (
            command, guest["out"], guest["err"], guest["rc"]), env)
        proc = self.boot(script, once=True)
        try:
            proc.wait(timeout=timeout)
        finally:
            sandbox.stop(proc)
        texts = {}
        for n, path in files.items():
            try:
                with open(path) as f:
                    texts[n] = f.read()
                os.unlink(path)
            except FileNotFoundError:
                texts[n] = ""
        rc = int(texts["rc"]) if texts["rc"].strip() else -1
        return rc, texts["out"], texts["err"]

    def cleanup(self):
        if self.time_server:
            self.time_server.cleanup()
        if self.flash:
            os.unlink(self.flash)
        shutil.rmtree(self.monitor_dir, ignore_errors=True)
