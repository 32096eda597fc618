"""Runs a program that detaches and waits for the detached process too.

    daemon_watch.py REPORT [--term-when PATH] -- PROGRAM ARGS...

Runs inside the router. Becomes the child subreaper, so the process that
PROGRAM leaves behind after its parent exits is reparented here and its exit
status can be read. With --term-when, sends SIGTERM to the detached process
once PATH exists. When every descendant has ended, writes REPORT (atomically)
with the lines "parent STATUS" and "daemon STATUS", STATUS being "exit N" or
"signal N".
"""

import ctypes
import os
import signal
import sys
import time

PR_SET_CHILD_SUBREAPER = 36


def status_text(status):
    if os.WIFSIGNALED(status):
        return "signal %d" % os.WTERMSIG(status)
    return "exit %d" % os.WEXITSTATUS(status)


def children():
    me = str(os.getpid())
    out = []
    for pid in os.listdir("/proc"):
        if pid.isdigit():
            try:
                with open("/proc/%s/stat" % pid) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
            except OSError:
                continue
            if fields[1] == me:
                out.append(int(pid))
    return out


def main(argv):
    report = argv[1]
    rest = argv[2:]
    term_when = None
    if rest[0] == "--term-when":
        term_when = rest[1]
        rest = rest[2:]
    program = rest[1:]  # after "--"
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    parent = os.fork()
    if parent == 0:
        os.execvp(program[0], program)
    statuses = {}
    daemon = None
    while True:
        if term_when and daemon and os.path.exists(term_when):
            os.kill(daemon, signal.SIGTERM)
            term_when = None
        try:
            pid, status = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            break
        if pid == 0:
            time.sleep(0.02)
            continue
        statuses[pid] = status
        if pid != parent and daemon is None:
            daemon = pid  # it ended before its parent was reaped
        elif pid == parent and daemon is None:
            # Reparented here by now; the commands it runs are its own
            # children, not ours, while it lives.
            kids = children()
            daemon = kids[0] if kids else None
    lines = ["parent " + status_text(statuses[parent])]
    if daemon in statuses:
        lines.append("daemon " + status_text(statuses[daemon]))
    with open(report + ".tmp", "w") as f:
        f.write("\n".join(lines) + "\n")
    os.rename(report + ".tmp", report)


if __name__ == "__main__":
    main(sys.argv)
