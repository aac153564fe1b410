#!/usr/bin/python3
"""The first-minute demo, and the program on the demo drive (scripts/run).

    demo.py            the demo: a fresh demo drive, the monitor at work on it
                       until it has put a defaced page back and mailed the
                       alert; exit code 0, or 1 with the reason after TIME_LIMIT
    demo.py ARGS...    the program with ARGS on the demo drive (made when
                       missing, kept otherwise) until it is closed; with
                       KESTROVANE_DRIVE set, on that drive instead, without
                       the demo site and its servers

The demo drive (build/demo-drive, the program's KESTROVANE_DRIVE):
    kestrovane/   the data folder, with the program's files as installed
    demo-site/    the web site's clean copy
    web/          the FTP server's home; public_html/ is the web site
    servers/      the FTP and SMTP servers' info and logs; mails in
                  smtp.mailbox/
Both servers are the test servers of tests/servers, started through its
launch.py. Without a display the program runs on a private Xvfb screen.
Everything started here is stopped on the way out, Ctrl+C included.
"""
import email
import email.policy
import glob
import os
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(ROOT, "tests", "servers"), os.path.join(ROOT, "tests", "e2e")]
import launch  # noqa: E402
from harness import CLOSE_REQUEST, Session  # noqa: E402
from records import EVENT_RECORD_SIZE, site_record  # noqa: E402

BUILD = os.path.join(ROOT, "build")
DIST = os.path.join(BUILD, "Kestrovane")
PROGRAM = os.path.join(DIST, "kestrovane")
EVENTLOG = os.path.join(BUILD, "tools", "eventlog", "eventlog")
DRIVE = os.path.join(BUILD, "demo-drive")
DATA = os.path.join(DRIVE, "kestrovane")
CLEAN = os.path.join(DRIVE, "demo-site")
WEB = os.path.join(DRIVE, "web", "public_html")
SERVERS = os.path.join(DRIVE, "servers")
BEFORE_SHOT = os.path.join(BUILD, "demo-before.png")
AFTER_SHOT = os.path.join(BUILD, "demo-after.png")
SCREEN_SHOT = os.path.join(BUILD, "monitor-screen.png")
PROGRAM_OUTPUT = os.path.join(BUILD, "kestrovane-output.log")

# "run" visits the one demo site once a minute; divided by this, a minute is
# five seconds.
TIME_SCALE = 12
# The story takes about 10 s; a slow machine may take twice that.
TIME_LIMIT = 60
# After the first visit, before the page is defaced: the newcomer sees the
# quiet monitor first.
QUIET_SECONDS = 3
# With a display, the window stays this long on the restored state.
SHOW_SECONDS = 4
MAIL_LINES = 20
# The servers end by themselves after this, should this script be killed.
DEMO_SERVER_LIFETIME = 300
RUN_SERVER_LIFETIME = 86400

RECIPIENT = "webmaster@demo.example"
PAGES = {
    "index.htm": "<html><body><h1>Welcome</h1><p>The demo site of the monitor.</p>"
                 "<p><a href=\"news.htm\">News</a> <a href=\"contact.htm\">Contact</a></p></body></html>\n",
    "news.htm": "<html><body><h1>News</h1><p>Nothing happened today.</p></body></html>\n",
    "contact.htm": "<html><body><h1>Contact</h1><p>webmaster@demo.example</p></body></html>\n",
}
DEFACED_PAGE = "index.htm"
DEFACED = b"<html><body><h1>HACKED</h1><p>This site now belongs to someone else.</p></body></html>\n"
# A file an intruder leaves behind; plain data here, never run.
DROPPED = "shell.php"
DROPPED_CONTENT = b"<?php /* a web shell would be here */ ?>\n"


# What the demo's event words say, for a newcomer (README, "Monitoring").
EVENT_MEANINGS = {"FILE RELO": "<- put back from the clean copy",
                  "FILE XFND": "<- on the web, not in the clean copy",
                  "FILE DEL": "<- deleted: the clean copy lacks it"}


class Failure(Exception):
    pass


def say(text=""):
    print(text, flush=True)


# ---- the demo drive ------------------------------------------------------------


def make_drive():
    """A fresh demo drive: the data folder with the program's files, the web
    site and its clean copy, the same pages with the same whole-second time
    (a listing has no fractions: a clean copy a fraction newer than its web
    copy would be uploaded once)."""
    stop_servers()
    shutil.rmtree(DRIVE, ignore_errors=True)
    for folder in (DATA, CLEAN, WEB, SERVERS):
        os.makedirs(folder)
    stamp = int(time.time())
    for name, text in PAGES.items():
        for folder in (CLEAN, WEB):
            path = os.path.join(folder, name)
            with open(path, "w") as f:
                f.write(text)
            os.utime(path, (stamp, stamp))


def install_program(data=DATA):
    """The program's files go into the data folder, as the installer puts them
    (copied, not moved: the build keeps its distribution folder)."""
    os.makedirs(data, exist_ok=True)
    for name in os.listdir(DIST):
        source = os.path.join(DIST, name)
        if os.path.isfile(source) and not name.startswith(".") and name != "install":
            shutil.copy2(source, data)


def start_servers(lifetime):
    """Starts the FTP server on the web folder and the SMTP server, each
    ending by itself after `lifetime` seconds at the latest; returns their
    info ({server: {key: value}})."""
    info = {}
    for name, script, args in (("ftp", "ftp_server.py", ["--home", os.path.dirname(WEB)]),
                               ("smtp", "smtp_server.py", [])):
        if launch.start(name, SERVERS, script, args + ["--lifetime", str(lifetime)]) != 0:
            raise Failure("the %s server did not start (its log: %s)" % (name, os.path.join(SERVERS, name + ".log")))
        with open(os.path.join(SERVERS, name + ".info")) as f:
            info[name] = dict(line.rstrip("\n").split(" ", 1) for line in f)
    return info


def stop_servers():
    for name in ("ftp", "smtp"):
        launch.stop(name, SERVERS)


def write_site_list(info):
    """One active site with e-mail alerts and the synchronise-web switch on:
    a changed page is put back after a quarantine copy of the web version, and
    a web file the clean copy lacks is deleted. The servers' ports change from
    run to run, so the list is written anew each time; the site's file names
    do not depend on them."""
    ftp, smtp = info["ftp"], info["smtp"]
    record = site_record("127.0.0.1:" + ftp["port"], "*.*", user=ftp["user"], password=ftp["password"],
                         folder="public_html", secure="\\demo-site", sync=1, alerts=1, recipient=RECIPIENT,
                         mail_server="127.0.0.1", mail_port=int(smtp["port"]), mail_user=smtp["user"],
                         mail_password=smtp["password"])
    path = os.path.join(DATA, "sites.info")
    with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "wb") as f:
        f.write(record)


# ---- the program and its window ------------------------------------------------


class Monitor:
    """The program on a drive, on the display or a private Xvfb."""

    def __init__(self, args, drive=DRIVE, scale=1):
        self.xvfb = None if os.environ.get("DISPLAY") else Session()
        self.env = dict(self.xvfb.env if self.xvfb else os.environ, KESTROVANE_DRIVE=drive)
        if scale > 1:
            self.env["KESTROVANE_TIME_SCALE"] = str(scale)
        self.window = None
        self.log = open(PROGRAM_OUTPUT, "wb")
        try:
            # A session of its own: Ctrl+C reaches this script, which closes
            # the window as its user would.
            self.process = subprocess.Popen([PROGRAM] + list(args), cwd=drive, env=self.env,
                                            stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT,
                                            start_new_session=True)
        except OSError:
            self.log.close()
            if self.xvfb:
                self.xvfb.close()
            raise

    def find_window(self, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise Failure("the program ended with %d before its window opened (its output: %s)"
                              % (self.process.returncode, self.log.name))
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(self.process.pid)],
                                   env=self.env, capture_output=True, text=True).stdout.split()
            if found:
                self.window = found[0]
                return
            time.sleep(0.1)
        raise Failure("no window of the program within %d s" % timeout)

    def screenshot(self, path):
        if self.window and subprocess.run(["import", "-window", self.window, path], env=self.env,
                                          capture_output=True).returncode == 0:
            return path
        return None

    def stop(self):
        """Asks the window to close, as its close button does; kills the
        program when it does not end."""
        if self.process.poll() is None and self.window:
            subprocess.run(["/usr/bin/python3", CLOSE_REQUEST, self.window], env=self.env, capture_output=True)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.log.close()
        if self.xvfb:
            self.xvfb.close()


# ---- what the newcomer is shown ------------------------------------------------


class EventLines:
    """Prints the site's new event lines as the eventlog tool words them."""

    def __init__(self):
        self.shown = 0

    @staticmethod
    def count():
        """The records of the site's event log (its name depends on the
        remote folder and the mask)."""
        logs = glob.glob(os.path.join(DATA, "*_public_html_*.msg"))
        return os.path.getsize(logs[0]) // EVENT_RECORD_SIZE if logs else 0

    def show_new(self, note):
        count = self.count()
        if count <= self.shown:
            return
        # "     N MM-DD HH:MM WORDS (WHERE) NAME", newest first.
        listed = subprocess.run([EVENTLOG, "sites.info", "1"], cwd=DATA, capture_output=True, text=True).stdout
        lines = [line.strip().split(None, 1)[-1] for line in listed.splitlines()]
        # A record appended while the tool read shifts its list: the next
        # round reads again.
        if len(lines) != count or self.count() != count:
            return
        for line in reversed(lines[:count - self.shown]):
            meaning = next((m for word, m in EVENT_MEANINGS.items() if word in line), "")
            note("event: %-40s %s" % (line, meaning))
        self.shown = count


def mails(info):
    """The messages received so far, oldest first."""
    folder = info["smtp"]["mailbox"]
    found = []
    for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
        if name.endswith(".eml"):
            with open(os.path.join(folder, name), "rb") as f:
                found.append(f.read())
    return found


def show_mail(data):
    message = email.message_from_bytes(data, policy=email.policy.default)
    say("  ---- mail received by the SMTP server")
    for header in ("From", "To", "Subject", "Date"):
        if message[header]:
            say("  %s: %s" % (header, message[header]))
    body = message.get_body(preferencelist=("plain",))
    text = body.get_content() if body else message.get_payload()
    lines = str(text).strip("\n").splitlines()
    for line in lines[:MAIL_LINES]:
        say("  | " + line)
    if len(lines) > MAIL_LINES:
        say("  | ... (%d more lines)" % (len(lines) - MAIL_LINES))
    say("  ----")


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


# ---- the two ways of running ---------------------------------------------------


def demo():
    started = time.monotonic()
    make_drive()
    install_program()
    monitor = None
    try:
        info = start_servers(DEMO_SERVER_LIFETIME)
        write_site_list(info)
        say("The demo web site (%s) is on a local FTP server at 127.0.0.1:%s, its clean copy in %s."
            % (", ".join(PAGES), info["ftp"]["port"], CLEAN))
        say("Alerts go to %s through a local SMTP server at 127.0.0.1:%s."
            % (RECIPIENT, info["smtp"]["port"]))
        monitor = Monitor(["run"], scale=TIME_SCALE)
        monitor.find_window()
        say("The monitor visits the site once a minute, here every %d seconds%s."
            % (60 // TIME_SCALE, " (no display: on a private Xvfb screen)" if monitor.xvfb else ""))
        story = Story(started, monitor, info)
        story.run()
    finally:
        if monitor:
            monitor.stop()
        stop_servers()
    story.summary()
    return 0


class Story:
    """The demo's minute, told as it happens."""

    def __init__(self, started, monitor, info):
        self.started = started
        self.monitor = monitor
        self.info = info
        self.lines = EventLines()
        self.page = os.path.join(WEB, DEFACED_PAGE)
        self.dropped = os.path.join(WEB, DROPPED)
        self.clean_page = read(os.path.join(CLEAN, DEFACED_PAGE))
        self.defaced_at = self.restored_at = None
        self.mail = None
        self.after_shot = None

    def elapsed(self):
        return time.monotonic() - self.started

    def note(self, text):
        say("  %5.1f s  %s" % (self.elapsed(), text))

    def step(self):
        """One round of watching: new event lines, the time limit, the
        program still there."""
        self.lines.show_new(self.note)
        if self.elapsed() > TIME_LIMIT:
            raise Failure("not done within %d s: %s %s, the alert mail naming it %s (the program's output: %s; "
                          "the servers' logs: %s)" % (
                              TIME_LIMIT, DEFACED_PAGE, "put back" if self.restored_at else "NOT put back",
                              "received" if self.mail else "NOT received", self.monitor.log.name, SERVERS))
        if self.monitor.process.poll() is not None:
            raise Failure("the program ended early with %d" % self.monitor.process.returncode)
        time.sleep(0.2)

    def run(self):
        # The first visit records the baseline and checks the web against it.
        while not first_visit_over():
            self.step()
        self.note("first visit over: the baseline of the site is recorded")
        self.monitor.screenshot(BEFORE_SHOT)
        quiet_until = self.elapsed() + QUIET_SECONDS
        while self.elapsed() < quiet_until:
            self.step()

        with open(self.page, "wb") as f:
            f.write(DEFACED)
        with open(self.dropped, "wb") as f:
            f.write(DROPPED_CONTENT)
        self.defaced_at = self.elapsed()
        self.note("DEFACED: %s rewritten and %s added on the web server" % (DEFACED_PAGE, DROPPED))

        while self.restored_at is None or self.mail is None:
            if self.restored_at is None and read(self.page) == self.clean_page:
                self.restored_at = self.elapsed()
                self.note("%s on the FTP server equals its clean copy again" % DEFACED_PAGE)
            if self.mail is None:
                self.mail = next((m for m in mails(self.info) if DEFACED_PAGE.encode() in m), None)
                if self.mail:
                    self.note("alert mail received")
                    show_mail(self.mail)
            self.step()
        # The visit ends with its events on the screen.
        time.sleep(1.0)
        self.lines.show_new(self.note)
        self.after_shot = self.monitor.screenshot(AFTER_SHOT)
        if not self.monitor.xvfb:
            time.sleep(SHOW_SECONDS)

    def summary(self):
        quarantine = os.path.join(DATA, "quarantine")
        kept = os.path.exists(os.path.join(quarantine, DEFACED_PAGE))
        received = len(mails(self.info))
        say()
        say("Done in %.0f s:" % self.elapsed())
        say("  %s put back %.1f s after it was defaced%s" % (
            DEFACED_PAGE, self.restored_at - self.defaced_at,
            "; the defaced version kept as evidence in " + quarantine if kept else ""))
        say("  %s %s" % (DROPPED, "still on the web site" if os.path.exists(self.dropped)
                         else "deleted from the web site"))
        say("  the alert mailed to %s (%d mail%s in %s)" % (
            RECIPIENT, received, "" if received == 1 else "s", self.info["smtp"]["mailbox"]))
        say("  screenshots: %s, %s" % (BEFORE_SHOT, self.after_shot or "(none)"))
        say("Keep the demo site monitored (a visit a minute, in real time): scripts/run run")


def first_visit_over():
    """True once the FTP server's log shows the logins of the first visit
    (the baseline's, then the web check's) and every session closed, and
    stays so for half a second: a visit's sessions follow each other at once."""
    def settled():
        log = read(os.path.join(SERVERS, "ftp.log")) or b""
        # pyftpdlib's lines: "... USER 'kestrel' logged in.",
        # "... FTP session opened (connect)", "... FTP session closed (disconnect)."
        return (log.count(b" logged in.") >= 2 and
                log.count(b"FTP session opened") == log.count(b"FTP session closed")), len(log)
    over, size = settled()
    if not over:
        return False
    time.sleep(0.5)
    return settled() == (True, size)


def run_program(args):
    """The program with `args` on the demo drive, or on $KESTROVANE_DRIVE,
    until it is closed."""
    own_drive = os.environ.get("KESTROVANE_DRIVE")
    if own_drive:
        install_program(os.path.join(own_drive, "kestrovane"))
    elif not os.path.isdir(DATA):
        make_drive()
    monitor = None
    try:
        if not own_drive:
            install_program()
            write_site_list(start_servers(RUN_SERVER_LIFETIME))
        monitor = Monitor(args, drive=own_drive or DRIVE)
        if monitor.xvfb:
            say("no DISPLAY: running on Xvfb; see %s (Ctrl+C ends)" % SCREEN_SHOT)
        monitor.find_window()
        if monitor.xvfb:
            time.sleep(3)
            monitor.screenshot(SCREEN_SHOT)
        return monitor.process.wait()
    finally:
        if monitor:
            monitor.stop()
        stop_servers()


def main(args):
    # Ctrl+C, also when started with it ignored, and a terminal closed or a
    # job stopped: everything started here is stopped on the way out.
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, signal.default_int_handler)
    try:
        return run_program(args) if args else demo()
    except Failure as failure:
        say("FAILED: %s" % failure)
        return 1
    except KeyboardInterrupt:
        say("stopped")
        return 130


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
