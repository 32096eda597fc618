"""Runs spotwarden online in the sandbox hotspot with the default talkback
schedule (heartbeat every 30 s, web ping every hour) and reports the
supervisor's peak resident memory and the CPU time it used over a window.
    python3 -m bench.talkback_load SECONDS     (from the source folder)
Exits with status 2 and a message when the program does not reach online."""

import os
import sys
import time

from sandbox import hotspot as kit

TICKS = os.sysconf("SC_CLK_TCK")

# The defaults, but the first heartbeat and web ping early in the window and
# no RADIUS checks on the way online: the loop is what is measured.
SETTINGS = dict(telemetry_setuptime=5, icmpping_interval=30, icmpping_failure_wait=10,
                icmpping_retry_interval=3, icmpping_retries=2, webping_interval=3600,
                chilliconf_update_interval=14400, chilliconf_retries=5, chilliconf_retry_interval=2,
                chilliconf_failure_wait=30, radiuscheck=0)


def stat_fields(pid):
    with open("/proc/%d/stat" % pid) as f:
        text = f.read()
    # The command name may hold blanks; the fields after it are fixed.
    return text[text.rindex(")") + 2:].split()


def supervisor_pid(root_pid):
    """The spotwarden process under root_pid whose parent is not spotwarden
    (its children, the portal keeper among them, are)."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        pid = int(entry)
        try:
            with open("/proc/%d/comm" % pid) as f:
                if f.read().strip() != "spotwarden":
                    continue
            ppid = int(stat_fields(pid)[1])
            with open("/proc/%d/comm" % ppid) as f:
                if f.read().strip() == "spotwarden":
                    continue
            p = pid
            while p > 1:
                p = int(stat_fields(p)[1])
                if p == root_pid:
                    return pid
        except (FileNotFoundError, ProcessLookupError, ValueError):
            continue
    return None


def cpu_seconds(pid):
    f = stat_fields(pid)
    own = (int(f[11]) + int(f[12])) / TICKS
    children = (int(f[13]) + int(f[14])) / TICKS
    return own, children


def peak_rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return None


def main():
    seconds = int(sys.argv[1]) if len(sys.argv) > 1 else 600
    with kit.Hotspot(radius=False) as spot:
        spot.serve(settings=kit.settings_file(**SETTINGS), portal=kit.portal_file())
        spot.operator.start_http()
        spot.start()
        try:
            spot.wait_logged("chilli is online", timeout=90)
            spot.wait_logged("starting web talkback", timeout=10)
        except TimeoutError as e:
            print("  talkback: skipped, spotwarden did not reach online (%s)" % e)
            return 2
        pid = supervisor_pid(spot.router.proc.pid)
        if pid is None:
            print("  talkback: skipped, supervisor process not found")
            return 2
        own0, kids0 = cpu_seconds(pid)
        start = time.time()
        time.sleep(seconds)
        elapsed = time.time() - start
        own1, kids1 = cpu_seconds(pid)
        rss = peak_rss_kib(pid)
        offline = spot.logged("router offline")
        probes = len(spot.requests("/ping"))
        own, kids = own1 - own0, kids1 - kids0
        print("  talkback over %.0f s online: peak RSS %s KiB; CPU %.2f s (%.3f %% of one CPU), "
              "%.2f s more in its waited children (wget, killall)%s"
              % (elapsed, rss, own, 100.0 * own / elapsed, kids,
                 "; WARNING: went offline during the window" if offline else ""))
        print("  web pings answered by the operator: %d" % probes)
        return 0


if __name__ == "__main__":
    sys.exit(main())
