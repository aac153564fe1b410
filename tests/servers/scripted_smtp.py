#!/usr/bin/python3
"""An SMTP server of our own for what a real one cannot be made to do.

One listening port on 127.0.0.1 per scenario:
    accept                a minimal well-behaved server that takes any login
    greet554              greets with 554 and then only listens
    rcpt550               as accept, but refuses the recipient with 550 (the
                          text holds "250" inside an address)
    silent                never sends a byte; holds the connection 120 s
    split                 as accept, every reply sent in pieces ~100 ms apart
    close_after_greeting  greets with 220, closes when the first command arrives
    stall_after_data      as accept, but after its 354 to DATA it reads no more
                          (a small receive buffer, so the client's sends block);
                          holds the connection 120 s
    pipelined             as accept, but writes each reply together with the
                          next one the client will need where it can be told
                          in advance: the greeting with the EHLO reply, 235
                          with the reply to MAIL, the reply to RCPT with 354
    helo_only             as accept, but refuses EHLO with 502
    starttls_expired, starttls_wrongname, starttls_selfsigned
                          as accept, but offers STARTTLS and, once asked,
                          goes on inside TLS with the certificate so named
    starttls_454          offers STARTTLS and answers it with 454
    starttls_inject       the same with a good certificate, but a forged
                          "250" line follows its 220 to STARTTLS in the same
                          write, in clear
    downgrade             offers STARTTLS with a good certificate on its first
                          connection; later ones do not offer it
The certificates come from a test authority made at start (test_ca.py, in
"<info>.ca"). A transcript holds the clear bytes, then "<TLS>" and the bytes
received inside TLS.

Every connection's received bytes, exactly as sent, go to
TRANSCRIPTS/<scenario>-<n>.log (n counts that scenario's connections from 1),
written under a scratch name and renamed when the connection ends. When the
server ends the dialogue (221 to QUIT, close_after_greeting) the file is
written before the last reply or the close, so a client that has seen either
finds it; when the client ends it, the file follows the client's close.

Info lines: "<scenario> <port>" for each scenario, "transcripts DIR", "ca DIR".
"""
import os
import re
import signal
import socket
import ssl
import threading
import time

import serverlib
import test_ca

HOST = "127.0.0.1"
HOLD_SECONDS = 120.0       # silent and greet554 hold a connection this long
IDLE_SECONDS = 120.0       # any other connection waits this long for a command
PIECE_PAUSE = 0.1          # split: pause between the pieces of a reply
STALL_BUFFER = 4096         # stall_after_data: receive buffer of its connections
SCENARIOS = ("accept", "greet554", "rcpt550", "silent", "split", "close_after_greeting",
             "stall_after_data", "pipelined", "helo_only", "starttls_expired",
             "starttls_wrongname", "starttls_selfsigned", "starttls_454", "starttls_inject",
             "downgrade")
# The certificate of each TLS scenario; None: STARTTLS is refused with 454.
TLS_CERTIFICATES = {"starttls_expired": "expired",
                    "starttls_wrongname": "wrongname", "starttls_selfsigned": "selfsigned",
                    "starttls_454": None, "starttls_inject": "good", "downgrade": "good"}
FORGED_REPLY = "250 forged.kestrovane.test\r\n"
TRANSCRIPT_FILE = re.compile(r"^[a-z0-9_]+-\d+\.log(\.part)?$")

EHLO_REPLY = ("250-scripted.kestrovane.test greets you\r\n250-SIZE 1000000\r\n"
              "250-8BITMIME\r\n250-AUTH LOGIN PLAIN\r\n250 HELP\r\n")
EHLO_REPLY_TLS = EHLO_REPLY.replace("250-8BITMIME\r\n", "250-8BITMIME\r\n250-STARTTLS\r\n")
RCPT_REFUSED = "550 5.1.1 <user2500@example.com>... no such user\r\n"


def options(parser):
    parser.add_argument("--transcripts",
                        help='folder for the connection transcripts (default: "<info>.transcripts")')


class Connection:
    """One client: line reading over recv, and every received byte kept."""

    def __init__(self, sock, split):
        self.sock = sock
        self.split = split
        self.received = bytearray()
        self.pending = b""
        self.closed = False
        self.secure = False

    def start_tls(self, context):
        """The server's side of the handshake; False when it failed."""
        self.pending = b""
        self.received += b"<TLS>"
        try:
            self.sock = context.wrap_socket(self.sock, server_side=True)
            self.secure = True
        except (OSError, ssl.SSLError):
            self.closed = True
        return self.secure

    def recv_some(self):
        """Bytes from the client; b"" when it closed, went away or timed out."""
        try:
            data = self.sock.recv(4096)
        except OSError:
            data = b""
        if not data:
            self.closed = True
        self.received += data
        return data

    def readline(self):
        """The next line with its line feed, or None when the client is gone."""
        while b"\n" not in self.pending:
            data = self.recv_some()
            if not data:
                return None
            self.pending += data
        line, _, self.pending = self.pending.partition(b"\n")
        return line + b"\n"

    def drain(self):
        """Reads until the client closes (or the socket times out)."""
        while self.recv_some():
            pass

    def collect_rest(self):
        """Keeps what already arrived but was not read: a client that went away
        while the server was still sending may have sent more."""
        try:
            self.sock.setblocking(False)
            while True:
                data = self.sock.recv(4096)
                if not data:
                    break
                self.received += data
        except OSError:
            pass

    def send(self, text):
        data = text.encode("ascii")
        pieces = split_reply(data) if self.split else [data]
        try:
            for i, piece in enumerate(pieces):
                if i:
                    time.sleep(PIECE_PAUSE)
                self.sock.sendall(piece)
        except OSError:
            self.closed = True


def split_reply(data):
    """'250-first\\r\\n250 last\\r\\n' -> '2', '50-first\\r\\n', '250 last\\r\\n':
    the code torn apart, then one line per send."""
    lines = data.splitlines(keepends=True)
    return [lines[0][:1], lines[0][1:]] + lines[1:]


def command_of(line):
    return line.split(b" ", 1)[0].strip().upper()


class Tls:
    """What a TLS scenario offers: context None refuses STARTTLS with 454;
    inject follows the 220 in the same write."""

    def __init__(self, context, inject="", offer=True):
        self.context = context
        self.inject = inject
        self.offer = offer


def dialogue(conn, refuse_rcpt, finish, stall=False, tls=None, ehlo=True):
    """The accept / rcpt550 / split / stall_after_data server, and the TLS
    ones. finish() writes the transcript; it is called before the reply that
    ends the dialogue."""
    conn.send("220 scripted.kestrovane.test ESMTP ready\r\n")
    sender = False
    recipients = 0
    while not conn.closed:
        line = conn.readline()
        if line is None:
            return
        cmd = command_of(line)
        offer = tls is not None and tls.offer and not conn.secure
        if cmd == b"EHLO" and not ehlo:
            conn.send("502 5.5.1 EHLO not implemented\r\n")
        elif cmd == b"EHLO":
            conn.send(EHLO_REPLY_TLS if offer else EHLO_REPLY)
        elif cmd == b"STARTTLS" and offer:
            if tls.context is None:
                conn.send("454 4.7.0 TLS not available due to temporary reason\r\n")
                continue
            conn.send("220 2.0.0 Ready to start TLS\r\n" + tls.inject)
            if not conn.start_tls(tls.context):
                return
        elif cmd == b"HELO":
            conn.send("250 scripted.kestrovane.test\r\n")
        elif cmd == b"AUTH":
            authenticate(conn, line)
        elif cmd == b"MAIL":
            sender, recipients = True, 0
            conn.send("250 2.1.0 Sender ok\r\n")
        elif cmd == b"RCPT":
            if not sender:
                conn.send("503 5.5.1 MAIL first\r\n")
            elif refuse_rcpt:
                conn.send(RCPT_REFUSED)
            else:
                recipients += 1
                conn.send("250 2.1.5 Recipient ok\r\n")
        elif cmd == b"DATA":
            if not recipients:
                conn.send("503 5.5.1 No valid recipients\r\n")
                continue
            conn.send("354 End data with <CR><LF>.<CR><LF>\r\n")
            if stall:
                time.sleep(HOLD_SECONDS)
                return
            while True:
                data_line = conn.readline()
                if data_line is None:
                    return
                if data_line == b".\r\n":
                    break
            sender, recipients = False, 0
            conn.send("250 2.0.0 Message accepted\r\n")
        elif cmd == b"RSET":
            sender, recipients = False, 0
            conn.send("250 2.0.0 Ok\r\n")
        elif cmd == b"NOOP":
            conn.send("250 2.0.0 Ok\r\n")
        elif cmd == b"QUIT":
            finish()
            conn.send("221 2.0.0 Bye\r\n")
            return
        else:
            conn.send("500 5.5.2 Command not recognised\r\n")


def authenticate(conn, line):
    """Takes any user and password; the transcript shows what was sent."""
    words = line.split()
    mechanism = words[1].upper() if len(words) > 1 else b""
    if mechanism == b"LOGIN":
        if len(words) < 3:
            conn.send("334 VXNlcm5hbWU6\r\n")          # "Username:"
            if conn.readline() is None:
                return
        conn.send("334 UGFzc3dvcmQ6\r\n")              # "Password:"
        if conn.readline() is None:
            return
        conn.send("235 2.7.0 Authentication successful\r\n")
    elif mechanism == b"PLAIN":
        if len(words) < 3:
            conn.send("334 \r\n")
            if conn.readline() is None:
                return
        conn.send("235 2.7.0 Authentication successful\r\n")
    else:
        conn.send("504 5.5.4 Unrecognized authentication type\r\n")


def pipelined(conn, finish):
    """A fixed dialogue (EHLO, AUTH LOGIN with user and password, MAIL, RCPT,
    DATA, the message, QUIT) whose replies come early, joined in one write."""
    conn.send("220 scripted.kestrovane.test ESMTP ready\r\n" + EHLO_REPLY)
    for reply in ("", "334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n",
                  "235 2.7.0 Authentication successful\r\n250 2.1.0 Sender ok\r\n", "",
                  "250 2.1.5 Recipient ok\r\n354 End data with <CR><LF>.<CR><LF>\r\n", ""):
        if conn.readline() is None:
            return
        if reply:
            conn.send(reply)
    while True:
        line = conn.readline()
        if line is None:
            return
        if line == b".\r\n":
            break
    conn.send("250 2.0.0 Message accepted\r\n")
    if conn.readline() is not None:
        finish()
        conn.send("221 2.0.0 Bye\r\n")


def run_scenario(name, conn, finish, number, contexts):
    if name in TLS_CERTIFICATES:
        tls = Tls(contexts.get(TLS_CERTIFICATES[name]),
                  inject=FORGED_REPLY if name == "starttls_inject" else "",
                  offer=name != "downgrade" or number == 1)
        dialogue(conn, refuse_rcpt=False, finish=finish, tls=tls)
    elif name in ("accept", "rcpt550", "split", "stall_after_data"):
        dialogue(conn, refuse_rcpt=(name == "rcpt550"), finish=finish,
                 stall=(name == "stall_after_data"))
    elif name == "helo_only":
        dialogue(conn, refuse_rcpt=False, finish=finish, ehlo=False)
    elif name == "pipelined":
        pipelined(conn, finish)
    elif name == "greet554":
        conn.send("554 5.3.2 No service here\r\n")
        conn.drain()
    elif name == "silent":
        conn.drain()
    elif name == "close_after_greeting":
        conn.send("220 scripted.kestrovane.test ESMTP ready\r\n")
        if conn.readline() is not None:
            finish()


def server_contexts(ca_folder):
    contexts = {}
    for name in set(c for c in TLS_CERTIFICATES.values() if c):
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(os.path.join(ca_folder, name + ".pem"),
                                os.path.join(ca_folder, name + ".key"))
        contexts[name] = context
    return contexts


class Scenario:
    def __init__(self, name, folder, contexts):
        self.name = name
        self.contexts = contexts
        self.folder = folder
        self.count = 0
        self.lock = threading.Lock()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        if name == "stall_after_data":  # taken over by the accepted connections
            self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, STALL_BUFFER)
        self.listener.bind((HOST, 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]

    def serve_forever(self):
        while True:
            sock, _ = self.listener.accept()
            with self.lock:
                self.count += 1
                number = self.count
            print("%s: connection %d" % (self.name, number), flush=True)
            threading.Thread(target=self.serve, args=(sock, number), daemon=True).start()

    def serve(self, sock, number):
        path = os.path.join(self.folder, "%s-%d.log" % (self.name, number))
        written = False

        def finish():
            nonlocal written
            if not written:
                written = True
                scratch = path + ".part"
                with open(scratch, "wb") as f:
                    f.write(bytes(conn.received))
                os.replace(scratch, path)

        sock.settimeout(HOLD_SECONDS if self.name in ("silent", "greet554", "stall_after_data")
                        else IDLE_SECONDS)
        conn = Connection(sock, split=(self.name == "split"))
        try:
            run_scenario(self.name, conn, finish, number, self.contexts)
        finally:
            if not written:
                conn.collect_rest()
            finish()
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            sock.close()


def default_transcripts(info_path):
    base = info_path[:-len(".info")] if info_path.endswith(".info") else info_path
    return base + ".transcripts"


def empty_transcripts(folder):
    """Removes an earlier run's transcripts, and nothing else."""
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        if TRANSCRIPT_FILE.match(name):
            os.remove(os.path.join(folder, name))


def main():
    args = serverlib.arguments("scripted SMTP server for the alert tests", options)
    folder = os.path.abspath(args.transcripts or default_transcripts(args.info))
    empty_transcripts(folder)

    stopping = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stopping.set())
    ca_folder = os.path.abspath(default_transcripts(args.info)[:-len(".transcripts")] + ".ca")
    test_ca.make(ca_folder)
    contexts = server_contexts(ca_folder)
    scenarios = [Scenario(name, folder, contexts) for name in SCENARIOS]
    for s in scenarios:
        threading.Thread(target=s.serve_forever, daemon=True).start()
    # Counted from here: making the certificates takes a moment.
    serverlib.stop_after(args.lifetime)
    serverlib.write_info(args.info, [(s.name, s.port) for s in scenarios]
                         + [("transcripts", folder), ("ca", ca_folder)])
    while not stopping.wait(1.0):
        pass


if __name__ == "__main__":
    main()
