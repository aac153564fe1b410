#!/usr/bin/python3
"""Self-check of the SMTP test servers and the ProFTPD fixture: starts each
through launch.py, talks to it as the tests will, stops it, and exits
non-zero on any failure."""
import base64
import ftplib
import os
import smtplib
import socket
import subprocess
import sys
import tempfile
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
LAUNCH = os.path.join(HERE, "launch.py")
USER, PASSWORD = "alerts", "s3cret"
SENDER, RECIPIENT = "alerts@kestrovane.test", "ops@example.com"
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)
    return ok


def launch(*args):
    return subprocess.run([sys.executable, LAUNCH] + list(args)).returncode


def read_info(folder, name):
    with open(os.path.join(folder, name + ".info")) as f:
        return dict(line.rstrip("\n").split(" ", 1) for line in f if " " in line)


def server_pid(folder, name):
    with open(os.path.join(folder, name + ".pid")) as f:
        return int(f.read())


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def wait_for_file(path, seconds=3.0):
    deadline = time.monotonic() + seconds
    while not os.path.exists(path) and time.monotonic() < deadline:
        time.sleep(0.02)
    return os.path.exists(path)


def read_bytes(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def recv_or_none(client):
    """What one recv gets, or None when nothing came within the timeout."""
    try:
        return client.sock.recv(10)
    except socket.timeout:
        return None


def b64(text):
    return base64.b64encode(text.encode()) + b"\r\n"


class Client:
    """A raw SMTP client that reads whole replies however they are split."""

    def __init__(self, port, timeout=5.0):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        self.buf = b""
        self.sent = b""
        self.recvs = 0

    def send(self, data):
        self.sent += data
        self.sock.sendall(data)

    def reply(self):
        """(code, whole reply); code 0 if the server closed first."""
        while True:
            lines = self.buf.split(b"\r\n")
            for i, line in enumerate(lines[:-1]):
                if len(line) < 4 or line[3:4] == b" ":
                    text = b"\r\n".join(lines[:i + 1]) + b"\r\n"
                    self.buf = b"\r\n".join(lines[i + 1:])
                    return int(line[:3]), text
            data = self.sock.recv(4096)
            self.recvs += 1
            if not data:
                return 0, self.buf
            self.buf += data

    def command(self, data):
        self.send(data)
        return self.reply()

    def close(self):
        self.sock.close()


def client_dialogue(c, password=PASSWORD, body=b"Subject: test\r\n\r\nhello\r\n"):
    """The alert client's dialogue; returns the codes of its replies."""
    codes = [c.reply()[0]]
    for data in (b"EHLO client.kestrovane.test\r\n", b"AUTH LOGIN\r\n", b64(USER),
                 b64(password), b"MAIL FROM:<%s>\r\n" % SENDER.encode(),
                 b"RCPT TO:<%s>\r\n" % RECIPIENT.encode()):
        codes.append(c.command(data)[0])
    if codes[-1] == 250:
        codes.append(c.command(b"DATA\r\n")[0])
        c.send(body)
        codes.append(c.command(b".\r\n")[0])
    codes.append(c.command(b"QUIT\r\n")[0])
    return codes


def check_smtp_server(folder):
    if not check(launch("start", "smtp", folder, "smtp_server.py") == 0, "smtp: starts"):
        return
    try:
        info = read_info(folder, "smtp")
        port, mailbox = int(info["port"]), info["mailbox"]
        check((info["user"], info["password"]) == (USER, PASSWORD), "smtp: user and password")
        check(os.listdir(mailbox) == [], "smtp: mailbox starts empty")

        # Wrong password (both mechanisms), wrong user: refused, and mail stays refused.
        with smtplib.SMTP("127.0.0.1", port, timeout=5) as s:
            s.ehlo("client.kestrovane.test")
            check("LOGIN" in s.esmtp_features.get("auth", ""), "smtp: offers AUTH LOGIN")
            check(s.mail(SENDER)[0] == 530, "smtp: MAIL before AUTH refused")
            for user, password in ((USER, "wrong"), ("nobody", PASSWORD)):
                try:
                    s.login(user, password)
                    check(False, "smtp: login %s/%s refused" % (user, password))
                except smtplib.SMTPAuthenticationError as e:
                    check(e.smtp_code == 535, "smtp: bad login gives 535")
            check(s.mail(SENDER)[0] == 530, "smtp: MAIL after a refused login refused")
            check(s.rcpt(RECIPIENT)[0] == 530, "smtp: RCPT after a refused login refused")
        check(os.listdir(mailbox) == [], "smtp: nothing saved without a login")

        # The alert client's way: AUTH LOGIN prompts, a dot-stuffed line, a bare
        # line feed, an 8-bit byte. Saved before the 250, unstuffed, byte for byte.
        head = b"From: alerts@kestrovane.test \r\nSubject: Kestrovane Alert \r\n\r\n"
        tail = b"bare line feed\nlatin-1 \xe9\r\n"
        sent = head + b".starts with a dot\r\n" + tail
        c = Client(port)
        codes = client_dialogue(c, body=head + b"..starts with a dot\r\n" + tail)
        c.close()
        check(codes == [220, 250, 334, 334, 235, 250, 250, 354, 250, 221],
              "smtp: client dialogue codes %s" % codes)
        check(read_bytes(os.path.join(mailbox, "0001.eml")) == sent,
              "smtp: 0001.eml holds the DATA content (present at the 250)")
        check(read_bytes(os.path.join(mailbox, "0001.env")) ==
              b"from %s\nto %s\n" % (SENDER.encode(), RECIPIENT.encode()), "smtp: 0001.env")

        # AUTH PLAIN (smtplib's first choice) and two recipients.
        message = b"Subject: two\r\n\r\n.\r\nend\r\n"
        with smtplib.SMTP("127.0.0.1", port, timeout=5) as s:
            s.login(USER, PASSWORD)
            s.sendmail(SENDER, [RECIPIENT, "second@example.com"], message)
        check(read_bytes(os.path.join(mailbox, "0002.eml")) == message, "smtp: 0002.eml")
        check(read_bytes(os.path.join(mailbox, "0002.env")) ==
              b"from %s\nto %s\nto second@example.com\n" % (SENDER.encode(), RECIPIENT.encode()),
              "smtp: 0002.env has both recipients")
        check(sorted(os.listdir(mailbox)) == ["0001.eml", "0001.env", "0002.eml", "0002.env"],
              "smtp: no scratch files left in the mailbox")
    finally:
        pid = server_pid(folder, "smtp")
        launch("stop", "smtp", folder)
        check(not alive(pid), "smtp: stopped")
        check(not os.path.exists(os.path.join(folder, "smtp.info")), "smtp: info removed")


def check_scripted(folder):
    if not check(launch("start", "scripted", folder, "scripted_smtp.py") == 0,
                 "scripted: starts"):
        return
    try:
        info = read_info(folder, "scripted")
        logs = info["transcripts"]

        def port(name):
            return int(info[name])

        def transcript(name, n, wait=True):
            path = os.path.join(logs, "%s-%d.log" % (name, n))
            return read_bytes(path) if not wait or wait_for_file(path) else None

        # accept: the whole dialogue; the transcript is there once 221 is seen.
        c = Client(port("accept"))
        codes = client_dialogue(c, body=b"Subject: x\r\n\r\nline\n..dot\r\n")
        check(codes == [220, 250, 334, 334, 235, 250, 250, 354, 250, 221],
              "accept: dialogue codes %s" % codes)
        check(c.sock.recv(10) == b"", "accept: closes after 221")
        check(transcript("accept", 1, wait=False) == c.sent, "accept: transcript exact")
        c.close()
        c = Client(port("accept"))
        c.reply()
        ehlo = c.command(b"EHLO x\r\n")[1]
        check(ehlo.count(b"\r\n") > 1 and ehlo.startswith(b"250-"), "accept: multi-line EHLO")
        c.send(b"AUTH LOGIN\r\n")
        c.close()                                   # gone in the middle of AUTH
        check(transcript("accept", 2) == b"EHLO x\r\nAUTH LOGIN\r\n",
              "accept: second connection's transcript after an abrupt close")

        # greet554: the greeting, then only listening.
        c = Client(port("greet554"), timeout=0.3)
        check(c.reply()[1] == b"554 5.3.2 No service here\r\n", "greet554: greeting")
        c.send(b"QUIT\r\n")
        check(recv_or_none(c) is None, "greet554: no answer, connection kept")
        c.close()
        check(transcript("greet554", 1) == b"QUIT\r\n", "greet554: transcript")

        # rcpt550: refused with a text that holds "250"; the dialogue ends in QUIT.
        c = Client(port("rcpt550"))
        c.reply()
        for data in (b"EHLO x\r\n", b"AUTH LOGIN\r\n", b64(USER), b64(PASSWORD),
                     b"MAIL FROM:<a@b>\r\n"):
            c.command(data)
        code, text = c.command(b"RCPT TO:<user2500@example.com>\r\n")
        check(code == 550 and b"250" in text, "rcpt550: 550 with 250 inside")
        check(c.command(b"DATA\r\n")[0] == 503, "rcpt550: DATA without recipient refused")
        check(c.command(b"QUIT\r\n")[0] == 221, "rcpt550: QUIT")
        c.close()
        check(transcript("rcpt550", 1) == c.sent, "rcpt550: transcript")

        # silent: not one byte.
        c = Client(port("silent"), timeout=0.3)
        check(recv_or_none(c) is None, "silent: sends nothing, connection kept")
        c.send(b"EHLO x\r\n")
        c.close()
        check(transcript("silent", 1) == b"EHLO x\r\n", "silent: transcript")

        # split: a single recv gets a fragment; a line-reading client still works.
        c = Client(port("split"))
        check(c.sock.recv(100) == b"2", "split: first recv is one byte")
        c.buf = b"2"
        check(c.reply()[0] == 220, "split: greeting completes")
        c.recvs = 0
        code, text = c.command(b"EHLO x\r\n")
        check(code == 250 and text.count(b"\r\n") > 1 and c.recvs > 2,
              "split: EHLO reply over several sends")
        c.close()
        with smtplib.SMTP("127.0.0.1", port("split"), timeout=5) as s:
            s.login(USER, PASSWORD)
            check(s.sendmail(SENDER, [RECIPIENT], b"Subject: s\r\n\r\nbody\r\n") == {},
                  "split: smtplib sends a message")
        check((transcript("split", 2) or b"").endswith(b"QUIT\r\n"), "split: transcript")

        # stall_after_data: after 354 nothing more is read, so a send blocks.
        c = Client(port("stall_after_data"))
        c.reply()
        for data in (b"EHLO x\r\n", b"MAIL FROM:<a@b>\r\n", b"RCPT TO:<c@d>\r\n"):
            c.command(data)
        check(c.command(b"DATA\r\n")[0] == 354, "stall_after_data: 354")
        c.sock.settimeout(0.5)
        try:
            c.sock.sendall(b"x" * (16 << 20))
            blocked = False
        except socket.timeout:
            blocked = True
        check(blocked, "stall_after_data: a large send blocks")
        c.close()

        # pipelined: the greeting and the EHLO reply in one write; the
        # dialogue of a client that reads whole replies still holds.
        c = Client(port("pipelined"))
        time.sleep(0.2)
        check(c.reply()[0] == 220 and c.recvs == 1 and c.buf.endswith(b"250 HELP\r\n"),
              "pipelined: greeting joined with the EHLO reply")
        codes = [220]
        for data in (b"EHLO x\r\n", b"AUTH LOGIN\r\n", b64(USER), b64(PASSWORD),
                     b"MAIL FROM:<a@b>\r\n", b"RCPT TO:<c@d>\r\n", b"DATA\r\n",
                     b"line\r\n.\r\n", b"QUIT\r\n"):
            codes.append(c.command(data)[0])
        check(codes == [220, 250, 334, 334, 235, 250, 250, 354, 250, 221],
              "pipelined: dialogue codes %s" % codes)
        check(c.recvs == 7, "pipelined: three pairs of replies joined (%d reads)" % c.recvs)
        c.close()
        check(transcript("pipelined", 1) == c.sent, "pipelined: transcript")

        # close_after_greeting: the EHLO is answered by a close.
        c = Client(port("close_after_greeting"))
        check(c.reply()[0] == 220, "close_after_greeting: greeting")
        c.send(b"EHLO x\r\n")
        try:
            closed = c.sock.recv(10) == b""
        except ConnectionResetError:
            closed = True
        check(closed, "close_after_greeting: closed at EHLO")
        check(transcript("close_after_greeting", 1, wait=False) == b"EHLO x\r\n",
              "close_after_greeting: transcript there at the close")
        c.close()
    finally:
        pid = server_pid(folder, "scripted")
        launch("stop", "scripted", folder)
        check(not alive(pid), "scripted: stopped")


def check_proftpd(folder):
    if not check(launch("start", "proftpd", folder, "proftpd_server.py") == 0, "proftpd: starts"):
        return
    pid = server_pid(folder, "proftpd")
    try:
        info = read_info(folder, "proftpd")
        root = info["root"]
        os.symlink("index.html", os.path.join(root, "listing", "link.html"))
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", int(info["port"]), timeout=5)
        ftp.login(info["user"], info["password"])
        check(ftp.pwd() == "/", "proftpd: locked into its root")
        facts = dict(ftp.mlsd("listing", ["type", "unix.mode", "unique"]))
        check(facts.get("readonly.txt", {}).get("unix.mode") == "0444",
              "proftpd: MLSD gives UNIX.mode")
        check(facts.get("link.html", {}).get("type", "").lower() == "os.unix=symlink",
              "proftpd: MLSD marks a symbolic link")
        plain, every = [], []
        ftp.retrlines("LIST listing", plain.append)
        ftp.retrlines("LIST -a listing", every.append)
        check(any(".htaccess" in line for line in every), "proftpd: LIST -a shows dot files")
        check(ftp.sendcmd("SITE CHMOD 604 listing/about.htm").startswith("200"),
              "proftpd: SITE CHMOD")
        check(os.stat(os.path.join(root, "listing", "about.htm")).st_mode & 0o777 == 0o604,
              "proftpd: SITE CHMOD changes the mode on disk")
        ftp.quit()
    finally:
        launch("stop", "proftpd", folder)
        check(not alive(pid), "proftpd: stopped")
        check(not os.path.exists(os.path.join(folder, "proftpd.info")), "proftpd: info removed")


def check_lifetime(folder):
    if not check(launch("start", "brief", folder, "scripted_smtp.py", "--lifetime", "0.5") == 0,
                 "lifetime: starts"):
        return
    pid = server_pid(folder, "brief")
    deadline = time.monotonic() + 5
    while alive(pid) and time.monotonic() < deadline:
        time.sleep(0.05)
    check(not alive(pid), "lifetime: server ends by itself")
    launch("stop", "brief", folder)


def main():
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="kv-servers-") as folder:
        for step in (check_smtp_server, check_scripted, check_proftpd, check_lifetime):
            try:
                step(folder)
            except Exception:
                traceback.print_exc()
                check(False, "%s raised" % step.__name__)
    print("%s in %.1f s" % ("FAILED" if failures else "passed", time.monotonic() - started))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
