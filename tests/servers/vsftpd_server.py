#!/usr/bin/env python3
"""A second, independent FTP server: Debian's vsftpd on 127.0.0.1.

vsftpd offers no MLSD, so clients list with LIST. It needs a real local user:
"kvftp" is created (without a home of its own) when missing and given the
known password on every start. The configuration written here locks the
user into a fresh home folder (populated like ftp_server.py's), lists dot
files (force_dot_files, so ".htaccess" shows as on a web host), lists times
in UTC, and takes a passive range of its own.

Must run as root (vsftpd drops to the user after login). Info lines: port,
user, password, home, recent. vsftpd reports start-up errors on descriptor
0, so it runs with errors.log there.

--hidden-dot-files keeps vsftpd's default: dot files are left out of a
plain LIST and shown only to "LIST -a" (fixture vsftpd_hidden).

--tls explicit|implicit serves FTP over TLS only: the login and every data
connection must be TLS, and a data connection must resume the control
connection's TLS session (require_ssl_reuse); the certificate is a fresh
test authority's "good" one (test_ca.py, in the folder --certs, default
"<info>.certs"; info line "certs DIR").
"""
import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

import serverlib
from ftp_server import passive_range, populate_home

USER = "kvftp"
PASSWORD = "vane-1357"
VSFTPD = "/usr/sbin/vsftpd"


def ensure_user():
    # vsftpd enters the user's home before local_root, so it must exist: "/"
    # serves, as the session is locked into local_root anyway.
    try:
        if pwd.getpwnam(USER).pw_dir != "/":
            subprocess.run(["usermod", "--home", "/", USER], check=True)
    except KeyError:
        subprocess.run(["useradd", "--no-create-home", "--home-dir", "/",
                        "--shell", "/bin/sh", USER], check=True)
    subprocess.run(["chpasswd"], input="%s:%s\n" % (USER, PASSWORD), text=True, check=True)
    entry = pwd.getpwnam(USER)
    return entry.pw_uid, entry.pw_gid


def options(parser):
    parser.add_argument("--tls", choices=("explicit", "implicit"), help="FTP over TLS only")
    parser.add_argument("--certs", help='folder for the certificates (default: "<info>.certs")')
    parser.add_argument("--hidden-dot-files", action="store_true",
                        help='dot files only for "LIST -a", as vsftpd does by default')


def tls_settings(args):
    """The configuration lines for --tls, and the info lines."""
    if not args.tls:
        return [], []
    import test_ca
    certs = os.path.abspath(args.certs or args.info + ".certs")
    test_ca.make(certs)
    lines = ["ssl_enable=YES", "rsa_cert_file=%s" % os.path.join(certs, "good.pem"),
             "rsa_private_key_file=%s" % os.path.join(certs, "good.key"),
             "allow_anon_ssl=NO", "force_local_logins_ssl=YES", "force_local_data_ssl=YES",
             "require_ssl_reuse=YES", "ssl_tlsv1=YES", "ssl_sslv2=NO", "ssl_sslv3=NO"]
    if args.tls == "implicit":
        lines.append("implicit_ssl=YES")
    return lines, [("certs", certs)]


def wait_listening(port, proc, greets=True, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1) as s:
                # A greeting in clear; under implicit TLS the server waits for
                # a handshake, and being connected is all there is to see.
                if not greets:
                    return True
                s.recv(100)
                return True
        except OSError:
            time.sleep(0.05)
    return False


def main():
    args = serverlib.arguments(__doc__, options)
    if os.geteuid() != 0:
        sys.exit("vsftpd_server.py must run as root")
    uid, gid = ensure_user()
    work = tempfile.mkdtemp(prefix="kv-vsftpd-")
    home = os.path.join(work, "home")
    os.mkdir(home)
    recent = populate_home(home, uid, gid)
    os.chmod(work, 0o755)
    port = serverlib.free_port()
    ports = passive_range()
    tls_lines, tls_facts = tls_settings(args)
    config = os.path.join(work, "vsftpd.conf")
    with open(config, "w") as f:
        f.write("\n".join([
            "listen=YES", "listen_ipv6=NO", "listen_address=127.0.0.1",
            "listen_port=%d" % port, "background=NO", "seccomp_sandbox=NO",
            "anonymous_enable=NO", "local_enable=YES", "write_enable=YES",
            "local_umask=022", "local_root=%s" % home, "chroot_local_user=YES",
            "allow_writeable_chroot=YES", "pasv_enable=YES",
            "pasv_min_port=%d" % ports[0], "pasv_max_port=%d" % ports[-1],
            "force_dot_files=%s" % ("NO" if args.hidden_dot_files else "YES"), "use_localtime=NO", "userlist_enable=NO",
            "pam_service_name=vsftpd", "secure_chroot_dir=/var/run/vsftpd/empty",
            "xferlog_enable=NO", "max_clients=0", "max_per_ip=0",
            "ftpd_banner=kestrovane vsftpd ready", "idle_session_timeout=600",
            "data_connection_timeout=120"] + tls_lines + [""]))
    os.chmod(config, 0o600)
    os.makedirs("/var/run/vsftpd/empty", exist_ok=True)
    errors = open(os.path.join(work, "errors.log"), "w+")
    proc = subprocess.Popen([VSFTPD, config], stdin=errors, stdout=sys.stdout, stderr=sys.stderr)

    def finish(*_):
        # No waiting here: this may run inside proc.wait() of the main thread.
        try:
            proc.terminate()
        except OSError:
            pass
        shutil.rmtree(work, ignore_errors=True)
        os._exit(0)

    signal.signal(signal.SIGTERM, finish)
    timer = threading.Timer(args.lifetime, finish)
    timer.daemon = True
    timer.start()
    if not wait_listening(port, proc, args.tls != "implicit"):
        errors.seek(0)
        sys.stdout.write("vsftpd did not start: %s\n" % errors.read())
        finish()
    serverlib.write_info(args.info, [("port", port), ("user", USER), ("password", PASSWORD),
                                     ("home", home), ("recent", recent)] + tls_facts)
    proc.wait()
    finish()


if __name__ == "__main__":
    main()
