"""The operator's monitoring in the sandbox: heartbeat-collector and a real
Prometheus server scraping it, both in one host's namespace with their own
scratch folder; plus forged heartbeats for tests that need more than the real
router sends."""

import json
import os
import shutil
import struct
import subprocess
import tempfile
import urllib.parse

from sandbox import sandbox
from sandbox.icmp_peer import with_checksum

PROGRAM = os.path.join(sandbox.BUILD_DIR, "heartbeat-collector")
PROMETHEUS = "/usr/bin/prometheus"


def fetch(host, url):
    """GET `url` from inside `host`'s namespace; the body as text."""
    return host.run("wget", "-qO-", url)


def heartbeat(nasid, uptime=100, load=65536, total=64 << 20, free=16 << 20, procs=30, ident=0x4242,
              payload_length=None):
    """An ICMP echo request laid out as the router's heartbeat; `nasid` (bytes)
    goes in as it is, terminator included by the caller."""
    body = b"ZELV" + struct.pack("!IIIIH", uptime, load, total, free, procs) + nasid
    length = len(body) + 4 if payload_length is None else payload_length
    return with_checksum(struct.pack("!BBHHHBBH", 8, 0, 0, ident, 0, 1, 0, length) + body)


# Runs in the sender's namespace: sends each hex-encoded ICMP message of
# argv[2:] to argv[1] through a raw socket (the kernel adds the IPv4 header).
SENDER = r"""
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
for message in sys.argv[2:]:
    s.sendto(bytes.fromhex(message), (sys.argv[1], 0))
"""


def send_icmp(host, target, messages):
    """Sends ICMP `messages` (bytes each) from `host` to `target`, in order."""
    for i in range(0, len(messages), 500):  # keeps each command line short
        host.run("/usr/bin/python3", "-c", SENDER, target, *[m.hex() for m in messages[i:i + 500]])


class Collector:
    """heartbeat-collector running in `host`, listening on `listen`; started
    through the `launcher` command prefix when one is given."""

    def __init__(self, host, listen="127.0.0.1:9595", *options, launcher=()):
        self.host = host
        self.listen = listen
        fd, self.log = tempfile.mkstemp(prefix="swcollector.")
        os.close(fd)
        with open(self.log, "w") as err:
            self.proc = host.popen(list(launcher) + [PROGRAM, "--listen", listen] + list(options), stderr=err)
        sandbox.wait_for(lambda: "listening on" in self.output() or self.proc.poll() is not None,
                         timeout=10, what="heartbeat-collector")
        if self.proc.poll() is not None:
            raise RuntimeError("heartbeat-collector failed: " + self.output())

    def output(self):
        with open(self.log) as f:
            return f.read()

    def metrics(self):
        return fetch(self.host, "http://%s/metrics" % self.listen)

    def routers(self):
        return json.loads(fetch(self.host, "http://%s/routers" % self.listen))["routers"]

    def router(self, nasid):
        """The JSON record of `nasid` (printable form), or None."""
        return next((r for r in self.routers() if r["nasid"] == nasid), None)

    def process_status(self):
        """/proc/PID/status of the collector as a dict."""
        with open("/proc/%d/status" % self.proc.pid) as f:
            return dict(line.rstrip("\n").split(":\t", 1) for line in f if ":\t" in line)

    def cleanup(self):
        sandbox.stop(self.proc)
        os.unlink(self.log)


class Prometheus:
    """A Prometheus server in `host` that scrapes `targets` every `interval`;
    its configuration and data live in a scratch folder. With `rules` (a
    rules file) it evaluates them as often and sends the alerts to the
    `alertmanager` (ADDR:PORT) given."""

    def __init__(self, host, targets, listen="127.0.0.1:9090", rules=None, alertmanager=None, interval="1s"):
        self.host = host
        self.listen = listen
        self.dir = tempfile.mkdtemp(prefix="swprometheus.")
        config = os.path.join(self.dir, "prometheus.yml")
        with open(config, "w") as f:
            f.write("global:\n  scrape_interval: %s\n  scrape_timeout: %s\n  evaluation_interval: %s\n"
                    "scrape_configs:\n  - job_name: collector\n    static_configs:\n"
                    "      - targets: [%s]\n" % ((interval,) * 3 + (", ".join('"%s"' % t for t in targets),)))
            if rules:
                f.write("rule_files: [%s]\n" % json.dumps(rules))
            if alertmanager:
                f.write("alerting: {alertmanagers: [{static_configs: [{targets: [%s]}]}]}\n" % json.dumps(alertmanager))
        self.out = open(os.path.join(self.dir, "prometheus.log"), "w")
        self.proc = host.popen([PROMETHEUS, "--config.file=" + config,
                                "--storage.tsdb.path=" + os.path.join(self.dir, "data"),
                                "--web.listen-address=" + listen], stdout=self.out, stderr=subprocess.STDOUT)
        sandbox.wait_for(self.ready, timeout=60, interval=0.5, what="Prometheus ready")

    def ready(self):
        return "Ready" in self.host.run("wget", "-qO-", "http://%s/-/ready" % self.listen, check=False)

    def query(self, promql):
        """Instant query: [(labels, value as float)]."""
        url = "http://%s/api/v1/query?query=%s" % (self.listen, urllib.parse.quote(promql))
        answer = json.loads(fetch(self.host, url))
        return [(r["metric"], float(r["value"][1])) for r in answer["data"]["result"]]

    def value(self, promql):
        """The single value of `promql`, or None while it has none."""
        result = self.query(promql)
        return result[0][1] if len(result) == 1 else None

    def cleanup(self):
        sandbox.stop(self.proc)
        self.out.close()
        shutil.rmtree(self.dir, ignore_errors=True)
