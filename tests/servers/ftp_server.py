#!/usr/bin/env python3
"""A real FTP server for the integration tests: pyftpdlib on 127.0.0.1.

One user with every permission, a fresh home folder, passive ports from a
range of its own. Info lines: port, user, password, home, recent (see
populate_home). pyftpdlib offers MLSD and lists LIST times in UTC.

--tls explicit|implicit serves FTP over TLS only (TLS required on the
control connection before the login and on every data connection;
implicit: TLS from the first byte) with a fresh test authority's "good"
certificate (test_ca.py, in the folder --certs, default "<info>.certs").
Then more listeners on the same home, each with another certificate of that
authority, give their ports as info lines too: expired_port,
wrongname_port, selfsigned_port; and "certs DIR", "commands FILE": every
command line's verb the servers received, one a line ("PORT VERB"), for
telling what a client sent before it gave up.
"""
import calendar
import os
import shutil
import tempfile
import time

import serverlib
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import ThreadedFTPServer

USER = "kestrel"
PASSWORD = "vane-2468"


def populate_home(home, uid=-1, gid=-1):
    """The folders every FTP test server starts with, owned by uid:gid.

    listing/  index.html (1234 bytes, 2021-03-04 05:06:07 UTC), about.htm
              (77 bytes), readonly.txt (10 bytes, mode 0444, 2020-01-02
              03:04:05), .htaccess (5 bytes), recent.txt (3 bytes, two hours
              ago on a whole minute), images/ (2019-06-07 08:09:10)
    large/    huge.bin: 5,000,000,000 bytes, sparse
    Returns the Unix time of recent.txt.
    """
    listing = os.path.join(home, "listing")
    os.makedirs(os.path.join(listing, "images"))
    os.makedirs(os.path.join(home, "large"))
    recent = (int(time.time()) - 7200) // 60 * 60
    files = [("index.html", 1234, 0o644, calendar.timegm((2021, 3, 4, 5, 6, 7))),
             ("about.htm", 77, 0o644, calendar.timegm((2022, 8, 9, 10, 11, 12))),
             ("readonly.txt", 10, 0o444, calendar.timegm((2020, 1, 2, 3, 4, 5))),
             (".htaccess", 5, 0o644, calendar.timegm((2018, 5, 6, 7, 8, 9))),
             ("recent.txt", 3, 0o644, recent)]
    for name, size, mode, stamp in files:
        path = os.path.join(listing, name)
        with open(path, "wb") as f:
            f.write(bytes((i * 7 + 3) % 256 for i in range(size)))
        os.chmod(path, mode)
        os.utime(path, (stamp, stamp))
    images = os.path.join(listing, "images")
    stamp = calendar.timegm((2019, 6, 7, 8, 9, 10))
    os.utime(images, (stamp, stamp))
    with open(os.path.join(home, "large", "huge.bin"), "wb") as f:
        f.truncate(5000000000)
    for folder, names, files_ in os.walk(home):
        for n in [folder] + [os.path.join(folder, x) for x in names + files_]:
            os.chown(n, uid, gid)
    return recent


def passive_range(count=64):
    """A run of ports nobody listened on a moment ago; the range starts at a
    free port so that parallel servers rarely meet."""
    start = serverlib.free_port()
    start = min(start, 65535 - count)
    return list(range(start, start + count))


def options(parser):
    parser.add_argument("--home", help="serve this folder as it is (default: a fresh, populated one, removed at the end)")
    parser.add_argument("--tls", choices=("explicit", "implicit"), help="FTP over TLS only")
    parser.add_argument("--certs", help='folder for the certificates (default: "<info>.certs")')


TLS_KINDS = ("good", "expired", "wrongname", "selfsigned")


def tls_handler(base, kind, certs, implicit, commands):
    """A TLS handler class for one certificate kind of test_ca.py."""
    from pyftpdlib.handlers import TLS_FTPHandler

    class Handler(TLS_FTPHandler, base):
        certfile = os.path.join(certs, kind + ".pem")
        keyfile = os.path.join(certs, kind + ".key")
        ssl_context = None  # one per class: each kind has its own certificate
        tls_control_required = True
        tls_data_required = True

        def handle(self):
            if implicit:
                # The greeting waits for the handshake: pushed before, it
                # would stay queued behind it.
                self.secure_connection(self.ssl_context)
            else:
                super().handle()

        def handle_ssl_established(self):
            if implicit and not getattr(self, "greeted", False):
                self.greeted = True
                super().handle()

        def pre_process_command(self, line, cmd, arg):
            with open(commands, "a") as f:
                f.write("%d %s\n" % (self.socket.getsockname()[1], cmd))
            super().pre_process_command(line, cmd, arg)

    return Handler


def main():
    args = serverlib.arguments(__doc__, options)
    serverlib.stop_after(args.lifetime)
    if args.home:
        home, recent = os.path.abspath(args.home), 0
    else:
        home = tempfile.mkdtemp(prefix="kv-ftp-home-")
        serverlib.at_stop(lambda: shutil.rmtree(home, ignore_errors=True))
        recent = populate_home(home)
    authorizer = DummyAuthorizer()
    authorizer.add_user(USER, PASSWORD, home, perm="elradfmwMT")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.passive_ports = passive_range()
    Handler.banner = "kestrovane test server ready"
    facts = []
    if args.tls:
        import test_ca
        certs = os.path.abspath(args.certs or args.info + ".certs")
        test_ca.make(certs)
        commands = os.path.join(certs, "commands.log")
        open(commands, "w").close()
        servers = []
        for kind in TLS_KINDS:
            handler = tls_handler(Handler, kind, certs, args.tls == "implicit", commands)
            servers.append(ThreadedFTPServer(("127.0.0.1", 0), handler))
            servers[-1].max_cons = 64
            name = "port" if kind == "good" else kind + "_port"
            facts.append((name, servers[-1].socket.getsockname()[1]))
        facts += [("certs", certs), ("commands", commands)]
        server = servers[0]  # the listeners share one I/O loop
    else:
        server = ThreadedFTPServer(("127.0.0.1", 0), Handler)
        server.max_cons = 64
        facts.append(("port", server.socket.getsockname()[1]))
    serverlib.write_info(args.info, facts + [("user", USER), ("password", PASSWORD),
                                             ("home", home), ("recent", recent)])
    try:
        server.serve_forever(handle_exit=True)
    finally:
        if not args.home:
            shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
