#!/usr/bin/python3
"""A real SMTP server (aiosmtpd) for the alert tests.

Listens on 127.0.0.1, requires AUTH (LOGIN or PLAIN, allowed over plain TCP)
for exactly one user, and saves every accepted message into the mailbox
folder before it answers 250:
    NNNN.env   "from ADDR" and one "to ADDR" line per recipient
    NNNN.eml   the DATA content exactly as received, dot-unstuffed
NNNN.env is complete before NNNN.eml appears, and both are written under a
scratch name and renamed, so a reader that finds NNNN.eml finds the whole
message and its envelope.

Two more servers share the mailbox and the user, both with a certificate of
a test authority made at start (test_ca.py, in "<info>.ca"): one offers
STARTTLS and takes AUTH only inside TLS (so a delivered message proves the
login was encrypted), the other speaks TLS from the first byte (the
submissions port's way).

Info lines: "port N", "starttls_port N", "implicit_port N", "user U",
"password P", "mailbox DIR", "ca DIR" (test_ca.py's files).
"""
import logging
import os
import re
import signal
import ssl
import threading
import warnings

import serverlib
import test_ca

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

PORT_ATTEMPTS = 20
HOST = "127.0.0.1"
MESSAGE_FILE = re.compile(r"^\d{4,}\.(eml|env)(\.part)?$")


def options(parser):
    parser.add_argument("--user", default="alerts")
    parser.add_argument("--password", default="s3cret")
    parser.add_argument("--mailbox", help='folder for the messages (default: "<info>.mailbox")')


def default_mailbox(info_path):
    base = info_path[:-len(".info")] if info_path.endswith(".info") else info_path
    return base + ".mailbox"


def empty_mailbox(folder):
    """Removes the messages of an earlier run; leaves anything else alone, in
    case --mailbox names a folder that holds other files."""
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        if MESSAGE_FILE.match(name):
            os.remove(os.path.join(folder, name))


def write_atomically(path, data):
    scratch = path + ".part"
    with open(scratch, "wb") as f:
        f.write(data)
    os.replace(scratch, path)


class Mailbox:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            stem = os.path.join(self.folder, "%04d" % self.count)
        lines = ["from %s\n" % (envelope.mail_from or "")]
        lines += ["to %s\n" % rcpt for rcpt in envelope.rcpt_tos]
        write_atomically(stem + ".env", "".join(lines).encode("utf-8", "surrogateescape"))
        write_atomically(stem + ".eml", envelope.original_content)
        return "250 2.0.0 Message accepted"


class OneUser:
    """The authenticator: exactly one user name and password."""

    def __init__(self, user, password):
        self.user = user.encode("utf-8")
        self.password = password.encode("utf-8")

    def __call__(self, server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == self.user
              and auth_data.password == self.password)
        return AuthResult(success=ok, handled=False)


def server_context(ca_folder):
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(os.path.join(ca_folder, "good.pem"), os.path.join(ca_folder, "good.key"))
    return context


def start_controller(handler, authenticator, **tls):
    """Controller needs a port number up front; another process may take the
    free port before aiosmtpd binds it, so try a few. tls: tls_context (for
    STARTTLS, AUTH then only inside TLS) or ssl_context (implicit TLS)."""
    last_error = None
    for _ in range(PORT_ATTEMPTS):
        port = serverlib.free_port()
        controller = Controller(handler, hostname=HOST, port=port,
                                server_hostname="mail.kestrovane.test",
                                authenticator=authenticator, auth_required=True,
                                auth_require_tls="tls_context" in tls, **tls)
        try:
            controller.start()
            return controller, port
        except OSError as error:
            last_error = error
            controller.stop(no_assert=True)
            controller.loop.close()
    raise SystemExit("no free port for the SMTP server: %s" % last_error)


def main():
    args = serverlib.arguments("SMTP server with AUTH for the alert tests", options)
    logging.basicConfig(level=logging.INFO, format="%(asctime)s %(name)s %(message)s")
    # AUTH without TLS is the point of this server: the client under test has no TLS.
    warnings.filterwarnings("ignore", message="Requiring AUTH while not requiring TLS")

    mailbox = os.path.abspath(args.mailbox or default_mailbox(args.info))
    empty_mailbox(mailbox)

    stopping = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stopping.set())
    ca_folder = os.path.abspath(default_mailbox(args.info)[:-len(".mailbox")] + ".ca")
    test_ca.make(ca_folder)
    handler, authenticator = Mailbox(mailbox), OneUser(args.user, args.password)
    controllers = [start_controller(handler, authenticator),
                   start_controller(handler, authenticator, tls_context=server_context(ca_folder)),
                   start_controller(handler, authenticator, ssl_context=server_context(ca_folder))]
    ports = [port for _, port in controllers]
    # Counted from here: making the certificates takes a moment.
    serverlib.stop_after(args.lifetime)
    serverlib.write_info(args.info, [("port", ports[0]), ("starttls_port", ports[1]),
                                     ("implicit_port", ports[2]), ("user", args.user),
                                     ("password", args.password), ("mailbox", mailbox),
                                     ("ca", ca_folder)])
    while not stopping.wait(1.0):
        pass
    for controller, _ in controllers:
        controller.stop()


if __name__ == "__main__":
    main()
