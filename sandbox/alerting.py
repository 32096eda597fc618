"""The operator's alerting in the sandbox, as an operator would run it: two
collectors each hearing its share of the fleet, started like their systemd
unit starts them (their own user, CAP_NET_RAW only), the shipped rules
evaluated by Prometheus or by vmalert on VictoriaMetrics, Alertmanager
routing every alert to the operator's HTTP server, which records each notice
it is sent."""

import json
import os
import re
import shutil
import subprocess
import tempfile

from sandbox import sandbox
from sandbox import collector

ALERTMANAGER = "/usr/bin/prometheus-alertmanager"
# What stores the series and evaluates the rules: one Prometheus, or the
# step beyond it (vmagent, VictoriaMetrics, vmalert).
STACKS = {"prometheus": collector.Prometheus, "victoriametrics": collector.VictoriaMetrics}
# The second collector's host, joined to the operator's: a collector hears
# every echo request of its namespace, so two in one would both hear each
# router.
SHARD_LINK = ("198.18.20.1", "198.18.20.2")
SHARD_NASID = "shard-2"
RULES = os.path.join(sandbox.SOURCE_DIR, "collector", "rules", "spotwarden.rules.yml")
# The unit's DynamicUser= with AmbientCapabilities=CAP_NET_RAW, for a
# program started by root.
AS_THE_UNIT = ["/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
               "--inh-caps=-all,+net_raw", "--ambient-caps=-all,+net_raw", "--bounding-set=-all,+net_raw", "--"]

def available():
    """Whether this build has the collector (a cross build has not)."""
    return os.path.exists(collector.PROGRAM)


def rules_with_for(text, alert, duration):
    """The rules file `text` with alert `alert` waiting `duration` instead."""
    pattern = r"(- alert: %s\n(?:[ \t]+[^\n]*\n)*?[ \t]+for: )\S+" % re.escape(alert)
    changed, count = re.subn(pattern, r"\g<1>" + duration, text)
    if count != 1:
        raise ValueError("no 'for:' of alert %s in the rules" % alert)
    return changed


class Alerting:
    """The collector in the `operator`'s host (down after `stale_after`
    seconds) and a second one in a host of its own that hears one made-up
    router; the shipped rules (`router_down_for` instead of the router-down
    alert's own wait) evaluated by the `stack` (one of STACKS) over both;
    Alertmanager posting to the operator's HTTP server."""

    def __init__(self, operator, stale_after=5, router_down_for="2s", stack="prometheus"):
        self.host = operator.host
        self.stack = stack
        self.posted = operator.file("/alerts") + ".posted"
        self.url = "http://%s/alerts" % operator.address
        self.dir = tempfile.mkdtemp(prefix="swalerting.")
        self.parts = []
        sandbox.explainers.append(self.explain)
        try:
            self._start(stale_after, router_down_for)
        except Exception:
            self.cleanup()
            raise

    def _start(self, stale_after, router_down_for):
        config = os.path.join(self.dir, "alertmanager.yml")
        with open(config, "w") as f:
            f.write("route: {receiver: webhook, group_by: [alertname, nasid], group_wait: 1s, group_interval: 1s,"
                    " repeat_interval: 1h}\n"
                    "receivers:\n  - name: webhook\n"
                    "    webhook_configs: [{url: '%s', send_resolved: true}]\n" % self.url)
        self.log = os.path.join(self.dir, "alertmanager.log")
        self.out = open(self.log, "w")
        self.alertmanager = self.host.popen([ALERTMANAGER, "--config.file=" + config,
                                             "--storage.path=" + os.path.join(self.dir, "data"),
                                             "--web.listen-address=127.0.0.1:9093", "--cluster.listen-address="],
                                            stdout=self.out, stderr=subprocess.STDOUT)
        sandbox.wait_for(lambda: self.host.run("wget", "-qO-", "http://127.0.0.1:9093/-/ready", check=False),
                         timeout=60, interval=0.5, what="Alertmanager ready")
        with open(RULES) as f:
            rules = rules_with_for(f.read(), "SpotwardenRouterDown", router_down_for)
        with open(os.path.join(self.dir, "spotwarden.rules.yml"), "w") as f:
            f.write(rules)
        self.collector = collector.Collector(self.host, "127.0.0.1:9595", "--stale-after", str(stale_after),
                                             launcher=AS_THE_UNIT)
        self.parts.append(self.collector)
        self.shard_host = sandbox.Host(self.host.name + "-shard")
        sandbox.link(self.host, "shard0", SHARD_LINK[0] + "/30", self.shard_host, "shard1", SHARD_LINK[1] + "/30")
        # Its router, whose settings would name this collector in
        # icmpping_host, stays up through the scenario: it must never alert.
        self.shard = collector.Collector(self.shard_host, SHARD_LINK[1] + ":9595", "--stale-after", "3600",
                                         launcher=AS_THE_UNIT)
        self.parts.append(self.shard)
        collector.send_icmp(self.host, SHARD_LINK[1], [collector.heartbeat(SHARD_NASID.encode() + b"\0")])
        self.store = STACKS[self.stack](self.host, ["127.0.0.1:9595", SHARD_LINK[1] + ":9595"],
                                        job="spotwarden", rules=os.path.join(self.dir, "spotwarden.rules.yml"),
                                        alertmanager="127.0.0.1:9093")
        self.parts.append(self.store)

    def notices(self):
        """Each notice the webhook received: (status, alertname, nasid) for
        every alert it carries, in the order they came."""
        return [(a["status"], a["labels"]["alertname"], a["labels"].get("nasid"))
                for line in (sandbox.complete_lines(self.posted) if os.path.exists(self.posted) else [])
                for a in json.loads(line)["alerts"]]

    def wait_notice(self, notice, timeout=90):
        sandbox.wait_for(lambda: notice in self.notices(), timeout=timeout, interval=0.2, what=str(notice))

    def wait_fleet(self, routers, timeout=60):
        """Until the rules' recorded fleet counts `routers` routers up, every
        collector's share in it."""
        sandbox.wait_for(lambda: self.store.value("spotwarden:routers_up:sum") == routers, timeout=timeout,
                         interval=0.5, what="%d routers up in spotwarden:routers_up:sum" % routers)

    def explain(self):
        text = ["alerting on %s: the webhook's notices %s" % (self.stack, self.notices())]
        if hasattr(self, "store"):
            text.append("alerts held: " + self.store.alerts())
            for promql in ("spotwarden_router_up", "spotwarden:routers_up:sum", "up"):
                try:
                    text.append("%s: %s" % (promql, self.store.query(promql)))
                except Exception as e:
                    text.append("%s: (%s)" % (promql, e))
            text.append(self.store.logs())
        text += ["collector %s:\n%s" % (part.listen, collector.tail(part.log)) for part in self.parts
                 if isinstance(part, collector.Collector)]
        if os.path.exists(getattr(self, "log", "")):
            text.append("alertmanager:\n" + collector.tail(self.log))
        return "\n".join(text) + "\n"

    def cleanup(self):
        if self.explain in sandbox.explainers:
            sandbox.explainers.remove(self.explain)
        for part in reversed(self.parts):
            part.cleanup()
        if hasattr(self, "shard_host"):
            self.shard_host.delete()
        if hasattr(self, "alertmanager"):
            sandbox.stop(self.alertmanager)
            self.out.close()
        shutil.rmtree(self.dir, ignore_errors=True)
