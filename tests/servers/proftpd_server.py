#!/usr/bin/env python3
"""A third, independent FTP server: Debian's ProFTPD on 127.0.0.1.

ProFTPD offers MLSD (with the UNIX.mode and "unique" facts, and symbolic
links as OS.unix=symlink), LIST and SITE CHMOD. It runs in the foreground
as the current user, with a configuration written here into a fresh folder
that also holds its pid, scoreboard, delay table and logs. The one FTP
user is a virtual one (an AuthUserFile of its own) with the current
uid/gid, locked into a fresh home (populated like ftp_server.py's) by
DefaultRoot. Run as root, the user is uid 0 too (RootLogin on), and the
chroot is possible; a user without privileges cannot chroot, so then the
home is not locked in (the paths stay the home's full ones).

Info lines: port, user, password, root (the served folder, also as
"home"), recent (see populate_home). Errors at start go to proftpd.log in
the server's folder; its lines are echoed to the fixture's log.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading

import serverlib
from ftp_server import passive_range, populate_home
from vsftpd_server import wait_listening

USER = "kvpro"
PASSWORD = "vane-8642"
PROFTPD = "/usr/sbin/proftpd"


def password_hash(password):
    # SHA-512 crypt, which ProFTPD checks through the C library's crypt().
    return subprocess.run(["openssl", "passwd", "-6", "-stdin"], input=password + "\n",
                          capture_output=True, text=True, check=True).stdout.strip()


def configuration(work, home, port, ports, uid, gid):
    import grp
    import pwd
    user = pwd.getpwuid(uid).pw_name
    group = grp.getgrgid(gid).gr_name
    lines = [
        'ServerName "kestrovane proftpd"', "ServerType standalone",
        "DefaultAddress 127.0.0.1", "SocketBindTight on", "UseIPv6 off",
        "Port %d" % port, "PassivePorts %d %d" % (ports[0], ports[-1]),
        "User %s" % user, "Group %s" % group, "Umask 022",
        "AuthOrder mod_auth_file.c", "AuthUserFile %s" % os.path.join(work, "passwd"),
        "AuthGroupFile %s" % os.path.join(work, "group"), "RequireValidShell off",
        "UseFtpUsers off", "WtmpLog off", "UseReverseDNS off",
        "PidFile %s" % os.path.join(work, "proftpd.pid"),
        "ScoreboardFile %s" % os.path.join(work, "proftpd.scoreboard"),
        "DelayTable %s" % os.path.join(work, "proftpd.delay"),
        "SystemLog %s" % os.path.join(work, "proftpd.log"),
        "TransferLog none", "MaxInstances 64", "TimeoutIdle 600",
        "TimesGMT on", "AllowOverwrite on", "ServerIdent on \"kestrovane proftpd ready\"",
        "<Limit SITE_CHMOD>", "  AllowAll", "</Limit>",
    ]
    if os.geteuid() == 0:
        lines += ["DefaultRoot ~", "RootLogin on"]
    return "\n".join(lines) + "\n"


def main():
    args = serverlib.arguments(__doc__)
    uid, gid = os.getuid(), os.getgid()
    work = tempfile.mkdtemp(prefix="kv-proftpd-")
    home = os.path.join(work, "home")
    os.mkdir(home)
    recent = populate_home(home, uid, gid)
    os.chmod(work, 0o755)
    with open(os.path.join(work, "passwd"), "w") as f:
        f.write("%s:%s:%d:%d::%s:/bin/sh\n" % (USER, password_hash(PASSWORD), uid, gid, home))
    with open(os.path.join(work, "group"), "w") as f:
        f.write("kvpro:x:%d:\n" % gid)
    # ProFTPD refuses AuthUserFile/AuthGroupFile that others may write.
    os.chmod(os.path.join(work, "passwd"), 0o600)
    os.chmod(os.path.join(work, "group"), 0o600)
    port = serverlib.free_port()
    config = os.path.join(work, "proftpd.conf")
    with open(config, "w") as f:
        f.write(configuration(work, home, port, passive_range(), uid, gid))
    proc = subprocess.Popen([PROFTPD, "-n", "-q", "-c", config],
                            stdout=sys.stdout, stderr=sys.stderr)

    def finish(*_):
        try:
            proc.terminate()
        except OSError:
            pass
        try:
            with open(os.path.join(work, "proftpd.log")) as log:
                sys.stdout.write(log.read())
                sys.stdout.flush()
        except OSError:
            pass
        shutil.rmtree(work, ignore_errors=True)
        os._exit(0)

    signal.signal(signal.SIGTERM, finish)
    timer = threading.Timer(args.lifetime, finish)
    timer.daemon = True
    timer.start()
    if not wait_listening(port, proc):
        sys.stdout.write("proftpd did not start\n")
        finish()
    serverlib.write_info(args.info, [("port", port), ("user", USER), ("password", PASSWORD),
                                     ("root", home), ("home", home), ("recent", recent)])
    proc.wait()
    finish()


if __name__ == "__main__":
    main()
