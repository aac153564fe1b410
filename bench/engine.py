#!/usr/bin/python3
"""The monitoring engine's passes against curl and lftp (bench_engine).

For each server, pyftpdlib (tests/servers/ftp_server.py) and vsftpd
(vsftpd_server.py, when running as root), started through launch.py in a
scratch folder: puts into its home a quiet folder of 10,000 small files, two
folders of 100 small web pages, a folder of 1,000 small files to mirror, two
folders holding the few files the synchronisation keeps and, for the memory
run, a folder of 100,000 files; beside it an identical copy of the quiet
folder (lftp's dry run), the clean copies of the pages (the secure server
folder, lftp's source), the clean copy of the kept files and the 1,000 files
the synchronisation deletes (put back on the server before each
repetition). Then runs bench_engine against it (times and ratios),
bench_engine --settle and --memory over the 100,000 files (peak resident
size of a process that runs only the pass), and stops the server.

Usage: bench/engine.py BUILD_DIR [--quick] [bench_engine flags]

--quick: 3 repetitions and the memory run on pyftpdlib only (for CI).
Exits 0 when everything ran, whatever the ratios; non-zero when something
failed (a server, a pass that did not do its work, a peer).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

from ftp import read_info

HERE = os.path.dirname(os.path.abspath(__file__))
LAUNCH = os.path.join(HERE, "..", "tests", "servers", "launch.py")
QUIET_FILES = 10000
PAGES = 100
MANY_FILES = 100000
MIRROR_FILES = 1000
SYNC_FILES = 1000
KEPT_FILES = 5
# name, launch script, the listing command our client uses on it
SERVERS = [("ftp", "ftp_server.py", "MLSD"), ("vsftpd", "vsftpd_server.py", "LIST")]


def make_files(folder, count, name, size, stamp=None):
    """Files of `size(i)` bytes, each of its own bytes (its name first),
    last written at `stamp` (Unix time) when given."""
    os.mkdir(folder)
    for i in range(count):
        path = os.path.join(folder, name % i)
        with open(path, "wb") as f:
            f.write(((name % i).encode() + b"x" * size(i))[:size(i)])
        if stamp is not None:
            os.utime(path, (stamp, stamp))


def page(i):
    return 1000 + 37 * i


def populate(home, scratch, memory):
    make_files(os.path.join(home, "quiet"), QUIET_FILES, "file-%05d.txt", lambda i: i % 200)
    shutil.copytree(os.path.join(home, "quiet"), os.path.join(scratch, "quiet-copy"))
    make_files(os.path.join(scratch, "clean"), PAGES, "page-%03d.html", page)
    for folder in ("restore-ours", "restore-lftp"):
        shutil.copytree(os.path.join(scratch, "clean"), os.path.join(home, folder))
    make_files(os.path.join(home, "mirror-web"), MIRROR_FILES, "file-%04d.txt", lambda i: 200 + i % 300)
    # The kept files are equal on both sides, bytes and time (a whole minute
    # a month ago, which a LIST shows exactly), so that lftp uploads none.
    kept = (int(time.time()) - 30 * 86400) // 60 * 60
    make_files(os.path.join(scratch, "sync-clean"), KEPT_FILES, "keep-%d.html", page, kept)
    for folder in ("sync-ours", "sync-lftp"):
        shutil.copytree(os.path.join(scratch, "sync-clean"), os.path.join(home, folder))
    make_files(os.path.join(scratch, "sync-gone"), SYNC_FILES, "gone-%04d.txt", lambda i: 200 + i % 300)
    if memory:
        make_files(os.path.join(home, "many"), MANY_FILES, "file-%06d.txt", lambda i: i % 200)
    # vsftpd serves as its own user, who must be able to write the pages.
    owner = os.stat(home)
    for folder, names, files in os.walk(home):
        for n in names + files:
            os.lchown(os.path.join(folder, n), owner.st_uid, owner.st_gid)


def run_server(bench, name, script, listing, memory, flags):
    scratch = tempfile.mkdtemp(prefix="kv-bench-engine-")
    servers = os.path.join(scratch, "servers")
    home = None
    try:
        # The server ends by itself after its lifetime should this run be
        # interrupted.
        if subprocess.call([sys.executable, LAUNCH, "start", name, servers, script, "--lifetime", "900"]) != 0:
            return False
        info = read_info(os.path.join(servers, name + ".info"))
        home = info["home"]
        populate(home, scratch, memory)
        account = ["127.0.0.1", info["port"], info["user"], info["password"]]
        print("\n== %s (curl lists with %s)" % ("pyftpdlib" if name == "ftp" else name, listing), flush=True)
        ok = subprocess.call([bench] + flags + account + [home, scratch, listing]) == 0
        if ok and memory:
            ok = all(subprocess.call([bench, step] + account + ["many", scratch]) == 0
                     for step in ("--settle", "--memory"))
        if not ok:
            sys.stderr.write("bench_engine failed; the server's log: %s\n" % os.path.join(servers, name + ".log"))
            subprocess.call(["tail", "-n", "20", os.path.join(servers, name + ".log")])
        return ok
    finally:
        subprocess.call([sys.executable, LAUNCH, "stop", name, servers])
        if home:
            shutil.rmtree(home, ignore_errors=True)
        shutil.rmtree(scratch, ignore_errors=True)


def main(argv):
    if len(argv) < 2:
        sys.stderr.write(__doc__)
        return 2
    bench = os.path.join(os.path.abspath(argv[1]), "bench", "bench_engine")
    if not os.access(bench, os.X_OK):
        sys.stderr.write("no %s: build the target bench_engine first\n" % bench)
        return 2
    if not shutil.which("lftp"):
        sys.stderr.write("lftp is missing (scripts/install-deps installs it)\n")
        return 2
    flags = argv[2:]
    quick = "--quick" in flags
    if quick:
        flags = [f for f in flags if f != "--quick"]
        if not any(f.startswith("--benchmark_repetitions") for f in flags):
            flags.append("--benchmark_repetitions=3")
    ok = True
    for name, script, listing in SERVERS:
        if name == "vsftpd" and (os.geteuid() != 0 or not os.path.exists("/usr/sbin/vsftpd")):
            print("\n== vsftpd skipped: it needs root and /usr/sbin/vsftpd")
            continue
        ok = run_server(bench, name, script, listing, name == "ftp" or not quick, flags) and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
