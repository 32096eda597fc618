"""The router as a whole emulated system: the image of scripts/build-image
(SW_IMAGE_DIR) booted under qemu-system-mips in the router's network
namespace, in place of the bubblewrap root, for the same scenarios.

The namespace's WAN veth wan0 becomes a bridge port beside the tap device of
the board's NIC, so the guest's wan0 takes over its address and route and
the upstream (shaping, cuts) is the same; the LAN and radio interfaces and
the namespace's addresses go to the guest on the kernel command line (rcS in
image/rootfs reads them). The router's scratch folder is the guest's settings
partition over virtio-9p: its run, log, vartmp, www and etc folders are the
router's, so the harness reads them as it does for the bubblewrap root. A
second NIC reaches a time server in the namespace, which sets the guest's
clock to the host's at each boot. Nothing of the host runs inside the guest:
the scenario's command line becomes the image's /etc/rc.services.
"""

import os
import shlex
import subprocess
import time

from sandbox import sandbox

IMAGE_DIR = os.environ.get("SW_IMAGE_DIR", "")
RUN_IMAGE = os.path.join(sandbox.SOURCE_DIR, "scripts", "run-image")
WAN_MAC = "52:54:00:12:34:56"
MGMT_MAC = "52:54:00:12:34:fe"
MGMT_HOST = "198.18.250.1"
MGMT_GUEST = "198.18.250.2"


class System:
    """The emulated router of a sandbox.Router: boots its image with a
    services script and stops it."""

    def __init__(self, router):
        self.router = router
        self.settings = None
        self.time_server = None
        self.boots = 0

    def console_log(self):
        return os.path.join(self.router.root.dir, "console.log")

    def _plumb(self):
        """Moves the namespace's WAN address, LAN address and radio MAC to
        the guest's settings, and joins wan0 and the NIC's tap in a bridge."""
        host = self.router.host
        settings = {}
        for name, ifname in (("wan", "wan0"), ("lan", "lan0")):
            out = host.run("ip", "-4", "-o", "addr", "show", "dev", ifname, check=False).split()
            if "inet" in out:
                settings[name] = out[out.index("inet") + 1]
        route = host.run("ip", "-4", "route", "show", "default").split()
        if "via" in route:
            settings["gateway"] = route[route.index("via") + 1]
        radio = host.run("cat", "/sys/class/net/ath0/address", check=False).strip()
        if radio:
            settings["radio"] = radio
        host.run("ip", "addr", "flush", "dev", "wan0")
        host.run("ip", "link", "add", "br0", "type", "bridge")
        # The namespace keeps an address of its own on the WAN side (the
        # last of the WAN's /24), for what the harness sends as the router.
        if "wan" in settings:
            spare = settings["wan"].split("/")[0].rsplit(".", 1)[0] + ".254/24"
            host.run("ip", "addr", "add", spare, "dev", "br0")
        host.run("ip", "tuntap", "add", "dev", "tap0", "mode", "tap")
        for dev in ("wan0", "tap0"):
            host.run("ip", "link", "set", dev, "master", "br0")
        host.run("ip", "tuntap", "add", "dev", "tap1", "mode", "tap")
        host.run("ip", "addr", "add", MGMT_HOST + "/30", "dev", "tap1")
        for dev in ("br0", "tap0", "tap1"):
            host.run("ip", "link", "set", dev, "up")
        settings["ntp"] = MGMT_HOST
        settings["mgmt"] = "%s/30,%s" % (MGMT_GUEST, MGMT_MAC)
        self.time_server = sandbox.Recorder(host, ["/usr/bin/python3", os.path.join(
            sandbox.SOURCE_DIR, "sandbox", "time_server.py"), MGMT_HOST, "{log}"], "time server")
        return settings

    # The harness's view into the guest, beside the scenario's command: the
    # guest's /proc/uptime, /proc/meminfo and /proc/loadavg copied to the
    # share's proc folder every second, and a reboot when the harness asks.
    WATCH = ("mkdir -p /mnt/host/proc\n"
             "(while :; do\n"
             "  for f in uptime meminfo loadavg; do cat /proc/$f >/mnt/host/proc/$f.new; mv /mnt/host/proc/$f.new /mnt/host/proc/$f; done\n"
             "  if [ -e /mnt/host/reboot ]; then rm /mnt/host/reboot; reboot; fi\n"
             "  sleep 1\n"
             "done) &")

    def proc_path(self, name):
        """Host-side path of the guest's latest copy of /proc/NAME."""
        return os.path.join(self.router.root.dir, "proc", name)

    def reboot(self):
        """Has the guest reboot itself (BusyBox reboot through init); QEMU
        boots the image again with the same services."""
        open(os.path.join(self.router.root.dir, "reboot"), "w").close()

    @classmethod
    def script(cls, command, env=None):
        """The services script that runs `command` (a shell command line)
        with `env` added to the environment."""
        lines = ["#!/bin/sh", cls.WATCH]
        lines += ["export %s=%s" % (k, shlex.quote(v)) for k, v in (env or {}).items()]
        return "\n".join(lines + [command]) + "\n"

    def boot(self, script, once=False):
        """Boots the image with `script` as its services; returns the QEMU
        process. With `once`, a guest reboot ends it."""
        if self.settings is None:
            self.settings = self._plumb()
        path = os.path.join(self.router.root.dir, "etc", "rc.services")
        with open(path, "w") as f:
            f.write(script)
        os.chmod(path, 0o755)
        self.boots += 1
        settings = dict(self.settings, clock="%d" % time.time())
        args = [RUN_IMAGE, "--image", IMAGE_DIR, "--console", self.console_log(),
                "--share", self.router.root.dir, "--wan", "tap0," + WAN_MAC, "--mgmt", "tap1," + MGMT_MAC]
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
