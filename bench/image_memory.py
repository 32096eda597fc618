"""spotwarden online on the router image (SW_IMAGE_DIR): the private memory
of the supervisor, its portal keeper and chilli (Private_Dirty of the
guest's /proc/PID/smaps_rollup) after a window of talkback, and the guest's
MemTotal and MemAvailable beside them.
    python3 -m bench.image_memory SECONDS     (from the source folder, root,
                                               under sandbox/run-in-sandbox)"""

import sys
import time

from sandbox import hotspot as kit
from sandbox import sandbox
from tests.e2e import fault_kit


def rollup(router, pid):
    """Private_Dirty of a guest process in kB, or None when it is gone."""
    for line in router.execute("cat /proc/%d/smaps_rollup 2>/dev/null" % pid).splitlines():
        if line.startswith("Private_Dirty:"):
            return int(line.split()[1])
    return None


def main():
    seconds = int(sys.argv[1]) if len(sys.argv) > 1 else 60
    if not sandbox.IMAGE_DIR:
        raise SystemExit("image_memory: SW_IMAGE_DIR names no image")
    with kit.Hotspot() as spot:
        spot.start_online(kit.settings_file(), kit.portal_file())
        time.sleep(seconds)  # the window measured, not a wait for readiness
        supervisor, keeper = fault_kit.spotwarden_pids(spot.router)
        [(chilli, _)] = fault_kit.processes(spot.router, "chilli")[:1] or [(None, None)]
        for name, pid in (("spotwarden", supervisor), ("keeper", keeper), ("chilli", chilli)):
            kb = rollup(spot.router, pid) if pid else None
            print("  %-12s Private_Dirty %s kB" % (name, kb if kb is not None else "-"))
        with open(spot.router.proc_path("meminfo")) as f:
            info = dict(line.split(":", 1) for line in f)
        print("  guest        MemTotal %s, MemAvailable %s" % (info["MemTotal"].strip(),
                                                           info["MemAvailable"].strip()))


if __name__ == "__main__":
    main()
