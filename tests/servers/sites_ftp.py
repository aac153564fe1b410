#!/usr/bin/env python3
"""A real FTP server (pyftpdlib) with one user per web site, for the
end-to-end tests of the monitoring driver.

Users site1 .. siteN (--sites N), each with the password "pw-<user>", every
permission and an empty home of its own, ROOT/<user>. Every login, upload and
download is appended at once to ROOT/activity.log, one line each:
    <unix time> <user> login
    <unix time> <user> stored <path>
    <unix time> <user> sent <path>
so a test can tell when each site was visited and what moved. The server
offers MLSD and lists LIST times in UTC. A second listener serves the same
users over explicit TLS only (AUTH TLS before the login, TLS on every data
connection), with a certificate of a test authority made at start
(test_ca.py, in "<info>.ca"). Info lines: port, tls_port, root, ca.
"""
import os
import shutil
import tempfile
import threading
import time

import serverlib
import test_ca
from ftp_server import passive_range
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, TLS_FTPHandler
from pyftpdlib.ioloop import IOLoop
from pyftpdlib.servers import ThreadedFTPServer


def options(parser):
    parser.add_argument("--sites", type=int, default=16, help="number of users (site1 .. siteN)")


def main():
    args = serverlib.arguments(__doc__, options)
    serverlib.stop_after(args.lifetime)
    root = tempfile.mkdtemp(prefix="kv-ftp-sites-")
    serverlib.at_stop(lambda: shutil.rmtree(root, ignore_errors=True))
    authorizer = DummyAuthorizer()
    for n in range(1, args.sites + 1):
        user = "site%d" % n
        os.mkdir(os.path.join(root, user))
        authorizer.add_user(user, "pw-" + user, os.path.join(root, user), perm="elradfmwMT")

    log = open(os.path.join(root, "activity.log"), "a", buffering=1)
    lock = threading.Lock()

    def note(user, what, path=""):
        with lock:
            log.write(("%.3f %s %s %s" % (time.time(), user, what, path)).rstrip() + "\n")

    class Notes:
        def on_login(self, username):
            note(username, "login")

        def on_file_received(self, file):
            note(self.username, "stored", os.path.relpath(file, root))

        def on_file_sent(self, file):
            note(self.username, "sent", os.path.relpath(file, root))

    class Handler(Notes, FTPHandler):
        pass

    class TlsHandler(Notes, TLS_FTPHandler):
        tls_control_required = True
        tls_data_required = True

    base = args.info[:-len(".info")] if args.info.endswith(".info") else args.info
    ca = os.path.abspath(base + ".ca")
    test_ca.make(ca)
    TlsHandler.certfile = os.path.join(ca, "good.pem")
    TlsHandler.keyfile = os.path.join(ca, "good.key")
    servers = []
    for handler in (Handler, TlsHandler):
        handler.authorizer = authorizer
        handler.log_cmds_list = handler.log_cmds_list + ["LIST", "MLSD", "NLST", "RETR", "SIZE", "MDTM", "PWD"]
        handler.passive_ports = passive_range()
        handler.banner = "kestrovane sites ready"
        # Each listener has its own loop: the shared default one would be
        # driven by two threads at once.
        server = ThreadedFTPServer(("127.0.0.1", 0), handler, ioloop=IOLoop())
        server.max_cons = 64
        servers.append(server)
    threading.Thread(target=servers[1].serve_forever, kwargs={"handle_exit": False}, daemon=True).start()
    server = servers[0]
    serverlib.write_info(args.info, [("port", server.socket.getsockname()[1]),
                                     ("tls_port", servers[1].socket.getsockname()[1]), ("root", root), ("ca", ca)])
    try:
        server.serve_forever(handle_exit=True)
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
