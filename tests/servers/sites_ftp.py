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
offers MLSD and lists LIST times in UTC. Info lines: port, root.
"""
import os
import shutil
import tempfile
import threading
import time

import serverlib
from ftp_server import passive_range
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
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

    class Handler(FTPHandler):
        def on_login(self, username):
            note(username, "login")

        def on_file_received(self, file):
            note(self.username, "stored", os.path.relpath(file, root))

        def on_file_sent(self, file):
            note(self.username, "sent", os.path.relpath(file, root))

    Handler.authorizer = authorizer
    Handler.log_cmds_list = Handler.log_cmds_list + ["LIST", "MLSD", "NLST", "RETR", "SIZE", "MDTM", "PWD"]
    Handler.passive_ports = passive_range()
    Handler.banner = "kestrovane sites ready"
    server = ThreadedFTPServer(("127.0.0.1", 0), Handler)
    server.max_cons = 64
    serverlib.write_info(args.info, [("port", server.socket.getsockname()[1]), ("root", root)])
    try:
        server.serve_forever(handle_exit=True)
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
