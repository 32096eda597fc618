"""Helpers of the fault-injection scenarios: spotwarden's processes seen from
the host side (memory and descriptors from /proc), and start-up with extra
environment or another portal configuration path."""

import os

from sandbox import hotspot as kit
from sandbox import sandbox

# A sanitizer build carries shadow memory and quarantine: its figures say
# nothing about the program's own use of memory.
SANITIZED = any(name in os.environ for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"))


def args_with_conf(conf):
    """The hotspot's command line with another portal configuration path."""
    return kit.ARGS.replace("-c /var/run/chilli.conf", "-c " + conf)


def count_logged(spot, text):
    """How many of spotwarden's messages contain `text`, or one of a tuple of
    texts (the same message as each C library words it)."""
    texts = text if isinstance(text, tuple) else (text,)
    return sum(any(t in m for t in texts) for _, m in spot.messages())


def wait_logged_more(spot, text, than, timeout):
    """Waits until more than `than` of spotwarden's messages contain `text`."""
    sandbox.wait_for(lambda: count_logged(spot, text) > than, timeout=timeout,
                     what="message %r number %d" % (text, than + 1))


def _cmdline(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return f.read().split(b"\0")
    except OSError:
        return []


def _ppid(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            # The command name may hold spaces; the fields after ")" do not.
            return int(f.read().rsplit(")", 1)[1].split()[1])
    except (OSError, IndexError, ValueError):
        return -1


def spotwarden_processes(router):
    """Host-side pids of every process of the router's namespace still
    running spotwarden's image."""
    out = router.host.run("ip", "netns", "pids", router.host.name, check=False)
    return [p for p in map(int, out.split()) if _cmdline(p)[:1] == [b"/sbin/spotwarden"]]


def _guest_stats(router):
    """(pid, name, state, parent) of every process in an emulated router."""
    found = []
    for line in router.execute("cat /proc/[0-9]*/stat 2>/dev/null").splitlines():
        pid, rest = line.split(" (", 1)
        name, fields = rest.rsplit(") ", 1)
        found.append((int(pid), name, fields.split()[0], int(fields.split()[1])))
    return found


def kill(router, pid, sig):
    """Sends `sig` to a process of the router (a pid as these helpers give it)."""
    if router.system:
        router.execute("kill -%d %d" % (sig, pid))
    else:
        os.kill(pid, sig)


def spotwarden_pids(router):
    """(supervisor, keeper) pids of the router's spotwarden (the guest's own
    for an emulated router, else host-side); None for either that is not
    running. The keeper is the supervisor's oldest child still running
    spotwarden's image (a child about to exec wget or killall is younger)."""
    if router.system:
        stats = _guest_stats(router)
        ours = [p for p, name, state, _ in stats if name == "spotwarden" and state != "Z"]
        parent = {p: pp for p, _, _, pp in stats}
        _ppid_of = parent.get
    else:
        ours = spotwarden_processes(router)
        _ppid_of = _ppid
    supervisors = [p for p in ours if _ppid_of(p) not in ours]
    supervisor = supervisors[0] if len(supervisors) == 1 else None
    children = sorted(p for p in ours if supervisor and _ppid_of(p) == supervisor)
    return supervisor, (children[0] if children else None)


def processes(router, name):
    """(pid, state) of the router's processes named `name`, as killall finds them."""
    if router.system:
        return [(p, state) for p, comm, state, _ in _guest_stats(router) if comm == name]
    found = []
    for pid in map(int, router.host.run("ip", "netns", "pids", router.host.name, check=False).split()):
        try:
            with open("/proc/%d/stat" % pid) as f:
                comm, rest = f.read().split("(", 1)[1].rsplit(")", 1)
        except (OSError, IndexError, ValueError):
            continue
        found += [(pid, rest.split()[0])] if comm == name else []
    return found


def memory_kb(pid, field):
    """A Vm* field of /proc/PID/status in kB."""
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise KeyError(field)


def fd_count(pid):
    return len(os.listdir("/proc/%d/fd" % pid))


def cpu_seconds(pid):
    """User and system CPU time the process itself has used (its children's
    not counted)."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def alive(pid):
    return pid is not None and os.path.exists("/proc/%d" % pid) and \
        _cmdline(pid)[:1] == [b"/sbin/spotwarden"]
