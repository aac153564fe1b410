#!/usr/bin/python3
"""FTP through our WinINet subset side by side with libcurl (bench_ftp).

Starts the pyftpdlib test server (tests/servers/ftp_server.py, through
launch.py) in a scratch folder, puts a folder of 10,000 small files into its
home and a 50 MB file of random bytes beside it, runs bench_ftp against it,
checks that both uploads arrived whole, and stops the server. bench_ftp
prints each pair's times and the ratio ours / curl.

Usage: bench/ftp.py BUILD_DIR [bench_ftp flags, e.g. --benchmark_repetitions=5]

Exits 0 when everything ran, whatever the ratios; non-zero when something
failed (the server, a transfer, a check).
"""
import filecmp
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
LAUNCH = os.path.join(HERE, "..", "tests", "servers", "launch.py")
FILES = 10000
FOLDER = "many"
LOCAL_BYTES = 50 * 1000 * 1000


def read_info(path):
    info = {}
    with open(path) as f:
        for line in f:
            key, _, value = line.strip().partition(" ")
            info[key] = value
    return info


def populate(home, local):
    folder = os.path.join(home, FOLDER)
    os.mkdir(folder)
    for i in range(FILES):
        with open(os.path.join(folder, "file-%05d.txt" % i), "wb") as f:
            f.write(b"x" * (i % 200))
    with open(local, "wb") as f:
        for _ in range(LOCAL_BYTES // (1 << 20)):
            f.write(os.urandom(1 << 20))
        f.write(os.urandom(LOCAL_BYTES % (1 << 20)))


def main(argv):
    if len(argv) < 2:
        sys.stderr.write(__doc__)
        return 2
    bench = os.path.join(os.path.abspath(argv[1]), "bench", "bench_ftp")
    if not os.access(bench, os.X_OK):
        sys.stderr.write("no %s: build the target bench_ftp first\n" % bench)
        return 2
    scratch = tempfile.mkdtemp(prefix="kv-bench-ftp-")
    servers = os.path.join(scratch, "servers")
    local = os.path.join(scratch, "local.bin")
    home = None
    try:
        # The server ends by itself after its lifetime should this run be
        # interrupted.
        if subprocess.call([sys.executable, LAUNCH, "start", "ftp", servers, "ftp_server.py",
                            "--lifetime", "600"]) != 0:
            return 1
        info = read_info(os.path.join(servers, "ftp.info"))
        home = info["home"]
        populate(home, local)
        result = subprocess.call([bench] + argv[2:] + ["127.0.0.1", info["port"], info["user"],
                                                       info["password"], FOLDER, local])
        if result != 0:
            sys.stderr.write("bench_ftp failed (exit %d); the server's log: %s\n"
                             % (result, os.path.join(servers, "ftp.log")))
            return 1
        for name in ("bench-put-ours.bin", "bench-put-curl.bin", "bench-get-source.bin"):
            if not filecmp.cmp(local, os.path.join(home, name), shallow=False):
                sys.stderr.write("%s on the server differs from the local file\n" % name)
                return 1
        return 0
    finally:
        subprocess.call([sys.executable, LAUNCH, "stop", "ftp", servers])
        if home:
            shutil.rmtree(home, ignore_errors=True)
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
