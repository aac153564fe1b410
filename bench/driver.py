#!/usr/bin/python3
"""The monitoring driver's costs: one visit of a quiet site, and the waits.

Starts the pyftpdlib test server (tests/servers/ftp_server.py, through
launch.py) in a scratch folder and puts a small quiet site into its home: a
folder of 20 small pages, with an identical clean copy (same bytes, same
whole-minute times a month ago) as the secure server folder. Then:

1. visit: bench_visit, in-process, times the CPU of VisitSite on the last
   record of site lists of 10, 100 and 1,000 records against that site, and
   prints the medians and the ratio 1,000 / 10 (target at most 1.2).
2. waiting: on a private Xvfb screen, the real program with "60" (one active
   site, this one: a visit an hour) and, beside it, bench_idle_window (a
   window of the same size and menu bar through the same platform layer,
   woken four times a second and doing nothing else); once the program's
   first visit has ended, both processes' utime + stime (/proc/PID/stat) over
   the same window of seconds, as a percent of one core (target for the
   program: below 1 %).

Usage: bench/driver.py BUILD_DIR [--quick] [--seconds=N] [--repetitions=N]

--quick (CI): 21 repetitions, a 10 s window. Default: 101 repetitions, 30 s.
Exits 0 when everything ran, whatever the figures; non-zero when something
failed (the server, a visit that was not quiet, the program).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

from ftp import read_info

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from harness import Program, Session  # noqa: E402

LAUNCH = os.path.join(HERE, "..", "tests", "servers", "launch.py")
SITE = "site"
PAGES = 20
# The waiting program's single site is due once an hour.
RATE_MINUTES = "60"
# Seconds without a new line in the server's log after which the program's
# visit counts as ended.
QUIET_SECONDS = 1.5


def make_site(home, secure):
    """PAGES small pages in home/SITE and the same files in `secure`, both
    last written at one whole minute a month ago: nothing to put back,
    nothing newer to upload."""
    stamp = (int(time.time()) - 30 * 86400) // 60 * 60
    for folder in (os.path.join(home, SITE), secure):
        os.mkdir(folder)
        for i in range(PAGES):
            path = os.path.join(folder, "page-%02d.html" % i)
            with open(path, "wb") as f:
                f.write(b"<html>page %d</html>\n" % i + b"x" * (100 * i))
            os.utime(path, (stamp, stamp))


def site_record(host, user, password, folder, secure):
    """A 1,252-byte site list record (sites/site_record.h): active, checked
    (no synchronisation, no mirror, no alerts, no option text), the server's
    clock offset known to be 0 (both clocks in UTC)."""
    record = bytearray(1252)
    for offset, text in ((0, host), (100, user), (200, password), (300, folder), (500, "*.*"), (550, secure)):
        record[offset:offset + len(text)] = text.encode()
    record[752] = 1  # active
    record[753] = 1  # offset measured, offset hours 0
    return bytes(record)


def cpu_seconds(pid):
    """utime + stime of a process (all its threads), in seconds."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def wait_until_quiet(log, deadline):
    """Waits until the server's log has not grown for QUIET_SECONDS."""
    size, since = -1, time.monotonic()
    while time.monotonic() < deadline:
        now = os.path.getsize(log)
        if now != size:
            size, since = now, time.monotonic()
        elif time.monotonic() - since >= QUIET_SECONDS:
            return True
        time.sleep(0.1)
    return False


def waiting(build, info, log, secure, seconds):
    dist = os.path.join(build, "Kestrovane")
    host = "127.0.0.1:%s" % info["port"]
    files = {"sites.info": site_record(host, info["user"], info["password"], SITE, secure)}
    session = Session()
    programs = []
    try:
        peer = Program(session, dist, os.path.join(build, "bench", "bench_idle_window"), title="idle peer")
        programs.append(peer)
        program = Program(session, dist, os.path.join(dist, "kestrovane"), args=[RATE_MINUTES], files=files)
        programs.append(program)
        # The first visit has ended when the baseline's store is there and
        # the server has heard nothing for a moment (every step of a visit
        # logs in, and no connection stays open between steps).
        deadline = time.monotonic() + 30
        while not any(n.lower().endswith(".dbf") for n in os.listdir(program.data)):
            if time.monotonic() > deadline or program.process.poll() is not None:
                sys.stderr.write("the program made no baseline store\n")
                return False
            time.sleep(0.1)
        if not wait_until_quiet(log, deadline):
            sys.stderr.write("the program's first visit did not end\n")
            return False
        logged = os.path.getsize(log)
        start = time.monotonic()
        before = [cpu_seconds(p.process.pid) for p in programs]
        time.sleep(seconds)
        after = [cpu_seconds(p.process.pid) for p in programs]
        elapsed = time.monotonic() - start
        if program.process.poll() is not None or peer.process.poll() is not None:
            sys.stderr.write("a program ended during the window\n")
            return False
        if os.path.getsize(log) != logged:
            sys.stderr.write("the program talked to the server during the window: not a wait\n")
            return False
        ours, floor = ((a - b) / elapsed * 100 for a, b in zip(after, before))
        tick = 100 / os.sysconf("SC_CLK_TCK") / elapsed
        print("\n== waiting between sites (%.1f s, one site every %s minutes; resolution %.2f %%)" %
              (elapsed, RATE_MINUTES, tick))
        print("kestrovane %s, after its first visit   %5.2f %% of one core (target: below 1 %%): %s" %
              (RATE_MINUTES, ours, "met" if ours < 1 else "missed"))
        print("peer: idle window, 4 wakes a second   %5.2f %% of one core" % floor)
        return True
    finally:
        for p in programs:
            p.stop()
        session.close()


def main(argv):
    args = [a for a in argv[1:] if not a.startswith("--")]
    flags = [a for a in argv[1:] if a.startswith("--")]
    if len(args) != 1:
        sys.stderr.write(__doc__)
        return 2
    build = os.path.abspath(args[0])
    for target in ("bench_visit", "bench_idle_window"):
        if not os.access(os.path.join(build, "bench", target), os.X_OK):
            sys.stderr.write("no %s/bench/%s: build the target %s first\n" % (build, target, target))
            return 2
    quick = "--quick" in flags
    seconds, repetitions = (10, 21) if quick else (30, 101)
    for flag in flags:
        if flag.startswith("--seconds="):
            seconds = float(flag.split("=", 1)[1])
        elif flag.startswith("--repetitions="):
            repetitions = int(flag.split("=", 1)[1])
    scratch = tempfile.mkdtemp(prefix="kv-bench-driver-")
    servers = os.path.join(scratch, "servers")
    secure = os.path.join(scratch, "secure")
    try:
        # The server ends by itself after its lifetime should this run be
        # interrupted.
        if subprocess.call([sys.executable, LAUNCH, "start", "ftp", servers, "ftp_server.py",
                            "--lifetime", "600"]) != 0:
            return 1
        info = read_info(os.path.join(servers, "ftp.info"))
        log = os.path.join(servers, "ftp.log")
        make_site(info["home"], secure)
        print("== one visit of a quiet site (%d pages), CPU of the process" % PAGES, flush=True)
        visit = subprocess.run([os.path.join(build, "bench", "bench_visit"), "--repetitions=%d" % repetitions,
                                "127.0.0.1", info["port"], info["user"], info["password"], SITE,
                                os.path.join(info["home"], SITE), secure,
                                os.path.join(build, "Kestrovane"), scratch], stdout=subprocess.PIPE, text=True)
        print(visit.stdout, end="", flush=True)
        # The program's own ending (ShutdownCleanup) exits with 0 too: only
        # the closing ratio says that the visits ran.
        ok = visit.returncode == 0 and "ratio" in visit.stdout
        ok = waiting(build, info, log, secure, seconds) and ok
        if not ok:
            sys.stderr.write("the server's log: %s\n" % log)
            subprocess.call(["tail", "-n", "20", log])
        return 0 if ok else 1
    finally:
        subprocess.call([sys.executable, LAUNCH, "stop", "ftp", servers])
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
