#!/usr/bin/python3
"""FTP through our WinINet subset side by side with libcurl (bench_ftp).

Starts the pyftpdlib test server (tests/servers/ftp_server.py, through
launch.py) in a scratch folder, puts a folder of 10,000 small files into its
home and a 50 MB file of random bytes beside it, runs bench_ftp against it,
checks that both uploads arrived whole, and stops the server. Then the same
over TLS against vsftpd (tests/servers/vsftpd_server.py --tls explicit: TLS
required on login and data, data sessions resumed; root only), bench_ftp
given the server's test authority, so that ours runs as an "ftpes://" site
and curl with --ssl-reqd, both listing with LIST; the listing and the
download are timed, 9 rounds unless the flags say otherwise. (curl starts
its data handshake before the server's 150, which pyftpdlib's TLS handler
answers with a reset.) bench_ftp prints each pair's
times and the ratio ours / curl.

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
TLS_REPETITIONS = 9


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


def run(bench, servers, local, flags, tls):
    """One server (plain pyftpdlib, or vsftpd with FTP over TLS only), the
    benchmark against it, the uploads checked; True when everything ran."""
    name, script = ("ftps", "vsftpd_server.py") if tls else ("ftp", "ftp_server.py")
    home = None
    try:
        # The server ends by itself after its lifetime should this run be
        # interrupted.
        tls_args = ["--tls", "explicit"] if tls else []
        if subprocess.call([sys.executable, LAUNCH, "start", name, servers, script,
                            "--lifetime", "600"] + tls_args) != 0:
            return False
        info = read_info(os.path.join(servers, name + ".info"))
        home = info["home"]
        populate(home, local)
        # vsftpd offers no MLSD: both sides list with LIST.
        ca = [os.path.join(info["certs"], "ca.pem"), "LIST"] if tls else []
        result = subprocess.call([bench] + flags + ["127.0.0.1", info["port"], info["user"],
                                                    info["password"], FOLDER, local] + ca)
        if result != 0:
            sys.stderr.write("bench_ftp failed (exit %d); the server's log: %s\n"
                             % (result, os.path.join(servers, name + ".log")))
            return False
        uploads = ("bench-put-ours.bin", "bench-get-source.bin") + (() if tls else ("bench-put-curl.bin",))
        for upload in uploads:
            if not filecmp.cmp(local, os.path.join(home, upload), shallow=False):
                sys.stderr.write("%s on the server differs from the local file\n" % upload)
                return False
        return True
    finally:
        subprocess.call([sys.executable, LAUNCH, "stop", name, servers])
        if home:
            shutil.rmtree(home, ignore_errors=True)


def main(argv):
    if len(argv) < 2:
        sys.stderr.write(__doc__)
        return 2
    bench = os.path.join(os.path.abspath(argv[1]), "bench", "bench_ftp")
    if not os.access(bench, os.X_OK):
        sys.stderr.write("no %s: build the target bench_ftp first\n" % bench)
        return 2
    flags = argv[2:]
    # Fewer rounds keep the second run short.
    tls_flags = flags if any(f.startswith("--benchmark_repetitions") for f in flags) \
        else flags + ["--benchmark_repetitions=%d" % TLS_REPETITIONS]
    scratch = tempfile.mkdtemp(prefix="kv-bench-ftp-")
    try:
        servers = os.path.join(scratch, "servers")
        local = os.path.join(scratch, "local.bin")
        ok = run(bench, servers, local, flags, False)
        if os.geteuid() == 0:
            ok = run(bench, servers, local, tls_flags, True) and ok
        else:
            print("ftps vs curl --ssl-reqd: skipped (vsftpd runs as root only)")
        return 0 if ok else 1
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
