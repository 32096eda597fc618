"""A real RADIUS server (FreeRADIUS) for the operator's host, and a silent
UDP listener that records what a probe sends without ever answering."""

import os
import re
import shutil
import subprocess
import tempfile

from sandbox import sandbox

STOCK_CONFIG = "/etc/freeradius/3.0"
HERE = os.path.dirname(os.path.abspath(__file__))


class FreeRadius:
    """FreeRADIUS on a private copy of the stock configuration, with one more
    client: the sandbox's whole 198.18.0.0/15 range with `secret`, whose
    Access-Requests are dropped without a Message-Authenticator when
    `require_message_authenticator` is set."""

    def __init__(self, host, address, secret, require_message_authenticator=False):
        self.host = host
        self.address = address
        self.dir = tempfile.mkdtemp(prefix="swradius.")
        self.conf = os.path.join(self.dir, "raddb")
        shutil.copytree(STOCK_CONFIG, self.conf, symlinks=True)
        for d in ("log", "run"):
            os.makedirs(os.path.join(self.dir, d))
        path = os.path.join(self.conf, "radiusd.conf")
        with open(path) as f:
            text = f.read()
        # Runs as root with its scratch folders here, so nothing of the host's
        # /var is touched and no file needs the freerad user.
        text = re.sub(r"(?m)^raddbdir = .*$", "raddbdir = " + self.conf, text)
        text = re.sub(r"(?m)^logdir = .*$", "logdir = " + os.path.join(self.dir, "log"), text)
        text = re.sub(r"(?m)^run_dir = .*$", "run_dir = " + os.path.join(self.dir, "run"), text)
        text = re.sub(r"(?m)^(\s*)(user|group) = freerad\s*$", r"\1#\2 = freerad", text)
        with open(path, "w") as f:
            f.write(text)
        with open(os.path.join(self.conf, "clients.conf"), "a") as f:
            f.write("\nclient sandbox {\n\tipaddr = 198.18.0.0/15\n\tsecret = %s\n%s}\n" % (
                secret, "\trequire_message_authenticator = yes\n" if require_message_authenticator else ""))
        self.output = open(os.path.join(self.dir, "output.log"), "w")
        self.proc = None

    def start(self):
        self.proc = self.host.popen(["freeradius", "-f", "-l", "stdout", "-d", self.conf],
                                    stdout=self.output, stderr=subprocess.STDOUT)
        sandbox.wait_for(self._ready, timeout=20, what="freeradius")

    def _ready(self):
        if self.proc.poll() is not None:
            raise RuntimeError("freeradius exited: " + self.log())
        out = self.host.run("ss", "-lun", check=False)
        return ":1812 " in out and ":1813 " in out

    def log(self):
        with open(os.path.join(self.dir, "output.log"), errors="replace") as f:
            return f.read()

    def stop(self):
        sandbox.stop(self.proc)
        self.proc = None

    def cleanup(self):
        self.stop()
        self.output.close()
        shutil.rmtree(self.dir, ignore_errors=True)


class SilentUdp(sandbox.Recorder):
    """Binds address:port in `host` and records every datagram, never
    answering: a RADIUS server that has gone quiet."""

    def __init__(self, host, address, port):
        super().__init__(host, ["/usr/bin/python3", os.path.join(HERE, "udp_listener.py"), address, str(port), "{log}"],
                         "UDP listener")

    def datagrams(self):
        """What arrived so far as (time, sender, bytes)."""
        out = []
        for line in self.lines():
            t, peer, data = line.split()
            out.append((float(t), peer, bytes.fromhex(data)))
        return out
