#!/usr/bin/env python3
"""Starts and stops the test servers that a CTest fixture shares.

    launch.py start NAME DIR SCRIPT [ARGS...]
        Starts SCRIPT (a server of this folder) in its own session, with
        "--info DIR/NAME.info" added to its arguments, and returns once the
        server has written that file: one "key value" line per fact the
        tests need (the port first of all). The server's pid goes to
        DIR/NAME.pid and its output to DIR/NAME.log.
    launch.py stop NAME DIR
        Stops the server (SIGTERM, then SIGKILL) and removes NAME.info and
        NAME.pid. A server that is already gone is not an error.

Every server also stops by itself after its --lifetime (default 1800 s), so
an interrupted test run never leaves one behind for long.
"""
import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
START_SECONDS = 30


def paths(name, folder):
    return (os.path.join(folder, name + ".info"), os.path.join(folder, name + ".pid"),
            os.path.join(folder, name + ".log"))


def group_alive(pgid):
    """Whether a process of the group still runs. A zombie does not count: the
    server was started by a launch.py that has exited, so its exit status
    waits for pid 1, which on some machines reaps late or never."""
    try:
        os.killpg(pgid, 0)
    except ProcessLookupError:
        return False
    if not os.path.isdir("/proc"):
        return True
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except (OSError, IndexError):
            continue
        # After the command name: state, parent, process group.
        if len(fields) > 2 and fields[2] == str(pgid) and fields[0] not in ("Z", "X"):
            return True
    return False


def stop(name, folder):
    info, pidfile, _ = paths(name, folder)
    try:
        with open(pidfile) as f:
            pid = int(f.read().strip())
    except (OSError, ValueError):
        pid = 0
    if pid > 0:
        try:
            os.killpg(pid, signal.SIGTERM)
            for _ in range(50):
                time.sleep(0.1)
                if not group_alive(pid):
                    break
            else:
                os.killpg(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    for p in (info, pidfile):
        try:
            os.remove(p)
        except FileNotFoundError:
            pass
    return 0


def start(name, folder, script, args):
    os.makedirs(folder, exist_ok=True)
    stop(name, folder)
    info, pidfile, logfile = paths(name, folder)
    if not os.path.isabs(script):
        script = os.path.join(HERE, script)
    with open(logfile, "wb") as log:
        proc = subprocess.Popen([sys.executable, script, "--info", info] + args,
                                stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                start_new_session=True)
    with open(pidfile, "w") as f:
        f.write(str(proc.pid))
    deadline = time.monotonic() + START_SECONDS
    while time.monotonic() < deadline:
        if os.path.exists(info):
            return 0
        if proc.poll() is not None:
            break
        time.sleep(0.05)
    sys.stderr.write("server %s did not start; its log:\n" % name)
    with open(logfile, errors="replace") as f:
        sys.stderr.write(f.read())
    stop(name, folder)
    return 1


def main(argv):
    if len(argv) >= 5 and argv[1] == "start":
        return start(argv[2], argv[3], argv[4], argv[5:])
    if len(argv) == 4 and argv[1] == "stop":
        return stop(argv[2], argv[3])
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
