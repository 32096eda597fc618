"""The operator's monitoring in the sandbox: heartbeat-collector and a real
Prometheus server scraping it, both in one host's namespace with their own
scratch folder; plus forged heartbeats for tests that need more than the real
router sends."""

import crypt
import json
import os
import shutil
import signal
import struct
import subprocess
import tempfile
import urllib.parse

from sandbox import sandbox
from sandbox.icmp_peer import with_checksum

PROGRAM = os.path.join(sandbox.BUILD_DIR, "heartbeat-collector")
PROMETHEUS = "/usr/bin/prometheus"


def fetch(host, url, web=None):
    """GET `url` from inside `host`'s namespace; the body as text. `web`: a
    WebConfig whose CA and user the request uses."""
    extra = [] if web is None else ["--ca-certificate=" + web.ca, "--user=" + web.user,
                                    "--password=" + web.password, "--auth-no-challenge"]
    return host.run("wget", "-qO-", *extra, url)


class WebConfig:
    """A web configuration file for the collector in a scratch folder: a
    self-signed certificate for 127.0.0.1 (its own CA) and one user with a
    bcrypt-hashed password."""

    def __init__(self, user="prometheus", password="s3cret pass"):
        self.dir = tempfile.mkdtemp(prefix="swwebconfig.")
        self.user, self.password = user, password
        self.ca = os.path.join(self.dir, "cert.pem")
        key = os.path.join(self.dir, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                        "-nodes", "-days", "2", "-subj", "/CN=collector", "-addext", "subjectAltName=IP:127.0.0.1",
                        "-keyout", key, "-out", self.ca], check=True, capture_output=True)
        self.path = os.path.join(self.dir, "web.yml")
        hashed = crypt.crypt(password, crypt.mksalt(crypt.METHOD_BLOWFISH, rounds=16))
        with open(self.path, "w") as f:
            f.write("tls_server_config:\n  cert_file: %s\n  key_file: %s\nbasic_auth_users:\n  %s: '%s'\n"
                    % (self.ca, key, user, hashed))

    def cleanup(self):
        shutil.rmtree(self.dir, ignore_errors=True)


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
    """heartbeat-collector running in `host`, listening on `listen`; over
    TLS with basic authentication when `web` (a WebConfig) is given; started
    through the `launcher` command prefix when one is given."""

    def __init__(self, host, listen="127.0.0.1:9595", *options, web=None, program=PROGRAM, launcher=()):
        self.host = host
        self.listen = listen
        self.web = web
        self.base = ("https://" if web else "http://") + listen
        if web:
            options = ("--web-config", web.path) + options
        fd, self.log = tempfile.mkstemp(prefix="swcollector.")
        os.close(fd)
        with open(self.log, "w") as err:
            self.proc = host.popen(list(launcher) + [program, "--listen", listen] + list(options), stderr=err)
        sandbox.wait_for(lambda: "listening on" in self.output() or self.proc.poll() is not None,
                         timeout=10, what="heartbeat-collector")
        if self.proc.poll() is not None:
            raise RuntimeError("heartbeat-collector failed: " + self.output())

    def output(self):
        with open(self.log) as f:
            return f.read()

    def get(self, path):
        return fetch(self.host, self.base + path, self.web)

    def metrics(self):
        return self.get("/metrics")

    def sample(self, series):
        """The value of the sample `series` (name and labels as exposed) in
        /metrics, or None when it is not there."""
        for line in self.metrics().splitlines():
            if line.startswith(series + " "):
                return float(line[len(series) + 1:])
        return None

    def routers(self):
        return json.loads(self.get("/routers"))["routers"]

    def router(self, nasid):
        """The JSON record of `nasid` (printable form), or None."""
        return next((r for r in self.routers() if r["nasid"] == nasid), None)

    def process_status(self):
        """/proc/PID/status of the collector as a dict."""
        with open("/proc/%d/status" % self.proc.pid) as f:
            return dict(line.rstrip("\n").split(":\t", 1) for line in f if ":\t" in line)

    def signal(self, number):
        os.kill(self.proc.pid, number)

    def stop(self):
        """SIGTERM, as a service manager stops it: its exit status."""
        self.signal(signal.SIGTERM)
        return self.proc.wait(timeout=30)

    def cleanup(self):
        sandbox.stop(self.proc)
        os.unlink(self.log)


def tail(path, lines=15):
    """The last `lines` lines of the log at `path`, as one text."""
    with open(path, errors="replace") as f:
        return "".join(f.readlines()[-lines:])


def scrape_config(targets, interval, job, web=None):
    """A scrape configuration (Prometheus's format, which vmagent reads too)
    for `targets` in job `job`."""
    text = ("global:\n  scrape_interval: %s\n  scrape_timeout: %s\n"
            "scrape_configs:\n  - job_name: %s\n    static_configs:\n"
            "      - targets: [%s]\n" % (interval, interval, job, ", ".join('"%s"' % t for t in targets)))
    if web:
        text += ("    scheme: https\n    tls_config: {ca_file: %s}\n"
                 "    basic_auth: {username: %s, password: '%s'}\n" % (web.ca, web.user, web.password))
    return text


class QueryApi:
    """What Prometheus and VictoriaMetrics answer alike: `host` and `listen`
    (ADDR:PORT) are where it is."""

    def query(self, promql):
        """Instant query: [(labels, value as float)]."""
        url = "http://%s/api/v1/query?query=%s" % (self.listen, urllib.parse.quote(promql))
        answer = json.loads(fetch(self.host, url))
        return [(r["metric"], float(r["value"][1])) for r in answer["data"]["result"]]

    def value(self, promql):
        """The single value of `promql`, or None while it has none."""
        result = self.query(promql)
        return result[0][1] if len(result) == 1 else None

    def own_metric(self, name, listen=None):
        """A value of a server's own /metrics (this one's, or the one at
        `listen`): the first line starting with `name`."""
        return self.own_metrics(name, listen)[0]

    def own_metrics(self, name, listen=None):
        """Every value of a server's own /metrics whose line starts with `name`."""
        text = self.host.run("wget", "-qO-", "http://%s/metrics" % (listen or self.listen))
        return [float(line.split()[-1]) for line in text.splitlines() if line.startswith(name)]


class Prometheus(QueryApi):
    """A Prometheus server in `host` that scrapes `targets` (job `job`) every
    `interval`; its configuration and data live in a scratch folder. With
    `web` (a WebConfig) it scrapes over TLS with basic authentication. With
    `rules` (a rules file) it evaluates them as often and sends the alerts to
    the `alertmanager` (ADDR:PORT) given."""

    def __init__(self, host, targets, listen="127.0.0.1:9090", web=None, rules=None, alertmanager=None,
                 interval="1s", job="collector"):
        self.host = host
        self.listen = listen
        self.dir = tempfile.mkdtemp(prefix="swprometheus.")
        config = os.path.join(self.dir, "prometheus.yml")
        with open(config, "w") as f:
            f.write(scrape_config(targets, interval, job, web).replace(
                "global:\n", "global:\n  evaluation_interval: %s\n" % interval, 1))
            if rules:
                f.write("rule_files: [%s]\n" % json.dumps(rules))
            if alertmanager:
                f.write("alerting: {alertmanagers: [{static_configs: [{targets: [%s]}]}]}\n" % json.dumps(alertmanager))
        self.log = os.path.join(self.dir, "prometheus.log")
        self.out = open(self.log, "w")
        self.proc = host.popen([PROMETHEUS, "--config.file=" + config,
                                "--storage.tsdb.path=" + os.path.join(self.dir, "data"),
                                "--web.listen-address=" + listen], stdout=self.out, stderr=subprocess.STDOUT)
        sandbox.wait_for(self.ready, timeout=60, interval=0.5, what="Prometheus ready")

    def ready(self):
        return "Ready" in self.host.run("wget", "-qO-", "http://%s/-/ready" % self.listen, check=False)

    def alerts(self):
        """The alerts the rules hold, as the server's API gives them."""
        return self.host.run("wget", "-qO-", "http://%s/api/v1/alerts" % self.listen, check=False)

    def logs(self):
        return "prometheus:\n" + tail(self.log)

    def cleanup(self):
        sandbox.stop(self.proc)
        self.out.close()
        shutil.rmtree(self.dir, ignore_errors=True)


class VictoriaMetrics(QueryApi):
    """The step beyond one Prometheus, in `host`: vmagent scrapes `targets`
    (job `job`) every `interval` and remote-writes to a single-node
    victoria-metrics listening on `listen`. With `rules` (a rules file),
    vmalert evaluates them as often against it, writes the recorded series
    back to it and sends the alerts to the `alertmanager` (ADDR:PORT) given.
    vmagent and vmalert listen on the ports after `listen`'s."""

    def __init__(self, host, targets, listen="127.0.0.1:8428", rules=None, alertmanager=None, interval="1s",
                 job="collector", web=None, query_limit="30s", memory_percent=60):
        self.host = host
        self.listen = listen
        address, port = listen.rsplit(":", 1)
        self.agent = "%s:%d" % (address, int(port) + 1)
        self.evaluator = "%s:%d" % (address, int(port) + 2)
        self.dir = tempfile.mkdtemp(prefix="swvictoriametrics.")
        self.procs, self.logs_ = [], []
        config = os.path.join(self.dir, "scrape.yml")
        with open(config, "w") as f:
            f.write(scrape_config(targets, interval, job, web))
        try:
            self._start_all(config, rules, alertmanager, interval, query_limit, memory_percent)
        except Exception:
            self.cleanup()
            raise

    def _start_all(self, config, rules, alertmanager, interval, query_limit, memory_percent):
        store = "http://" + self.listen
        # Samples become visible to queries after -search.latencyOffset (30 s
        # by default): more than the whole wait of a short alert.
        # The limits below are sized for a fleet: a query of the per-router
        # rules reads a series a router and collector (300,000 at most by
        # default), a collector's page at its 200,000 routers is about 180 MB
        # (16 MB by default), and each evaluation records a series a router
        # (vmalert queues 100,000 by default and drops the rest). Parsed
        # whole, each such page costs vmagent gigabytes: it parses them as
        # they come.
        self._start("victoria-metrics", self.listen, "-storageDataPath=" + os.path.join(self.dir, "data"),
                    "-retentionPeriod=1d", "-search.latencyOffset=" + interval,
                    "-search.maxUniqueTimeseries=20000000", "-search.maxQueryDuration=" + query_limit,
                    "-memory.allowedPercent=%d" % memory_percent)
        self._start("vmagent", self.agent, "-promscrape.config=" + config, "-remoteWrite.url=%s/api/v1/write" % store,
                    "-remoteWrite.tmpDataPath=" + os.path.join(self.dir, "vmagent"),
                    "-remoteWrite.flushInterval=" + interval, "-promscrape.maxScrapeSize=1GB",
                    "-promscrape.streamParse")
        if rules:
            self._start("vmalert", self.evaluator, "-rule=" + rules, "-evaluationInterval=" + interval,
                        "-datasource.url=" + store, "-remoteWrite.url=" + store, "-remoteRead.url=" + store,
                        "-remoteWrite.flushInterval=" + interval, "-remoteWrite.maxQueueSize=4000000",
                        # Refused without one; with none given, nobody listens there.
                        "-notifier.url=http://" + (alertmanager or self.listen.rsplit(":", 1)[0] + ":9093"))

    def _start(self, program, listen, *options):
        log = os.path.join(self.dir, program + ".log")
        self.logs_.append(log)
        with open(log, "w") as out:
            proc = self.host.popen(["/usr/bin/" + program, "-httpListenAddr=" + listen] + list(options),
                                   stdout=out, stderr=subprocess.STDOUT)
        self.procs.append(proc)

        def healthy():
            if proc.poll() is not None:
                raise RuntimeError("%s exited %d:\n%s" % (program, proc.returncode, tail(log)))
            return "OK" in self.host.run("wget", "-qO-", "http://%s/health" % listen, check=False)
        try:
            sandbox.wait_for(healthy, timeout=60, interval=0.5, what=program + " healthy")
        except TimeoutError as e:
            raise TimeoutError("%s\n%s:\n%s" % (e, program, tail(log))) from None

    def alerts(self):
        """The alerts the rules hold, as vmalert's API gives them."""
        return self.host.run("wget", "-qO-", "http://%s/api/v1/alerts" % self.evaluator, check=False)

    def logs(self):
        return "".join("%s:\n%s" % (os.path.basename(log), tail(log)) for log in self.logs_)

    def cleanup(self):
        for proc in reversed(self.procs):
            sandbox.stop(proc)
        shutil.rmtree(self.dir, ignore_errors=True)


# Runs in the collector's namespace: argv[1] the base URL, argv[2..4] the CA
# file, user and password, argv[5] seconds. Eight clients send a request a
# byte every three seconds, starting again when cut off; meanwhile rounds of
# eight concurrent scrapes that ask for brotli. Prints JSON: each scrape's
# status, encoding, size and time, and how often the slow clients were cut.
SCRAPERS = r"""
import base64, json, socket, ssl, sys, threading, time, urllib.request
base, ca, user, password, seconds = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], float(sys.argv[5])
host, port = base.split("//")[1].split(":")
context = ssl.create_default_context(cafile=ca)
end = time.monotonic() + seconds
cuts = [0] * 8
def slow(i):
    while time.monotonic() < end:
        try:
            s = context.wrap_socket(socket.create_connection((host, int(port))), server_hostname=host)
        except OSError:
            cuts[i] += 1
            continue
        try:
            for byte in b"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n":
                s.send(bytes([byte]))
                time.sleep(3)
                if time.monotonic() > end:
                    break
        except OSError:
            cuts[i] += 1
        s.close()
scrapes = []
def scrape():
    request = urllib.request.Request(base + "/metrics", headers={
        "Accept-Encoding": "br", "Authorization": "Basic " +
        base64.b64encode((user + ":" + password).encode()).decode()})
    t = time.monotonic()
    try:
        with urllib.request.urlopen(request, context=context, timeout=60) as r:
            body = r.read()
            scrapes.append((r.status, r.headers.get("Content-Encoding"), len(body), time.monotonic() - t))
    except Exception as e:
        scrapes.append((str(e), None, 0, time.monotonic() - t))
slows = [threading.Thread(target=slow, args=(i,), daemon=True) for i in range(8)]
for t in slows:
    t.start()
time.sleep(4)
while time.monotonic() < end:
    round = [threading.Thread(target=scrape) for i in range(8)]
    for t in round:
        t.start()
    for t in round:
        t.join()
print(json.dumps({"scrapes": scrapes, "cuts": sum(cuts)}))
"""


def start_scrapers(host, collector, seconds):
    """Starts SCRAPERS in `host` against `collector` (over TLS): the process,
    whose standard output (text) is the JSON result."""
    web = collector.web
    return host.popen(["/usr/bin/python3", "-c", SCRAPERS, collector.base, web.ca, web.user, web.password,
                       str(seconds)], stdout=subprocess.PIPE, text=True)
