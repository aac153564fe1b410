"""End-to-end: the monitoring driver works a site list on its own.

The real program under Xvfb against a real FTP server with one user per site
(tests/servers/sites_ftp.py, whose activity log tells when each site was
visited and what moved) and a real SMTP server, with KESTROVANE_TIME_SCALE
turning its minutes into seconds. Each story is one program run; its checks
read what the program left behind: the servers' files and log, the data
folder, the mails, the exit code, the screen. The Windows build's story runs
under Wine when KV_WIN_DIST names its distribution folder (scripts/test).
"""
import glob
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from harness import Program, Session, region
from records import SITE_FLAGS, SITE_RECORD_SIZE, events, site_record

HERE = os.path.dirname(os.path.abspath(__file__))
SERVERS = os.path.join(HERE, "..", "servers")
DIST = os.environ.get("KV_DIST", os.path.join(HERE, "../../build/Kestrovane"))
WIN_DIST = os.environ.get("KV_WIN_DIST", "")
SHOTS = os.environ.get("KV_E2E_SHOTS", tempfile.mkdtemp(prefix="kv-shots-"))

# The live menu's bar (window pixels, above the client area) and the Update
# Rate pop-up that opens below it; found on screenshots of the GTK window.
MENU_BAR_Y = 9
MENU_X = {"Help": 22, "Setup": 70, "Update Rate": 142, "Filter": 213, "Reset": 262, "Sync": 310,
          "Email Alert": 376, "Forum": 446, "Quit": 495}
RATE_ITEM_X = 150
RATE_ITEM_Y = {"1 Minute": 31, "5 Minutes": 56, "10 Minutes": 81, "15 Minutes": 106, "20 Minutes": 131,
               "1/2 Hour": 156, "1 Hour": 181, "Custom Rate": 206}
MENU_BAR = (0, 0, 520, 19)        # x, y, width, height in window pixels
STATUS_LINE = (16, 6, 580, 12)    # client pixels: text field 1 of the monitor screen

# A site's visit starts at its timer's tick or up to one 250 ms round of the
# wait later, a cycle's after two such waits; a busy machine adds a little to
# the logins that mark a visit. Wrong rates miss these bounds by far more.
EARLY, LATE, LATE_CYCLE = 0.2, 1.1, 2.0
# Quit in a wait: the program ends within about a second (0.2 to 0.4 s seen
# from the click on a quiet machine).
QUIT_SECONDS = 1.5

WEB_FILES = {"index.html": b"<html>the front page</html>\n", "about.htm": b"<p>about us</p>\n"}
DEFACED = b"<html>defaced by someone else entirely</html>\n"
MONTH = 30 * 24 * 3600
# The server lists times in UTC: the offset the program would measure itself.
OFFSET_HOURS = -round(time.localtime().tm_gmtoff / 3600)

servers = None
session = None


class Servers:
    """The module's FTP and SMTP servers, started through launch.py."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="kv-e2e-servers-")
        self.started = []
        self.ftp = self.start("sites_ftp", "sites_ftp.py", "--sites", "32", "--lifetime", "900")
        self.smtp = self.start("smtp", "smtp_server.py", "--lifetime", "900")
        self.root = self.ftp["root"]
        self.next_site = 1

    def start(self, name, script, *args):
        self.started.append(name)
        subprocess.run([sys.executable, os.path.join(SERVERS, "launch.py"), "start", name, self.folder, script]
                       + list(args), check=True)
        with open(os.path.join(self.folder, name + ".info")) as f:
            return dict(line.rstrip("\n").split(" ", 1) for line in f)

    def stop(self):
        for name in self.started:
            subprocess.run([sys.executable, os.path.join(SERVERS, "launch.py"), "stop", name, self.folder])
        shutil.rmtree(self.folder, ignore_errors=True)

    def activity(self, users):
        """(time, user, what, path) of the FTP log lines of these users."""
        found = []
        with open(os.path.join(self.root, "activity.log")) as f:
            for line in f:
                t, user, what, *path = line.split()
                if user in users:
                    found.append((float(t), user, what, path[0] if path else ""))
        return found

    def visits(self, sites):
        """(site, time of its first login) of each visit, in order: a visit
        is a run of logins of one user."""
        by_user = {site.user: site for site in sites}
        found = []
        for t, user, what, _ in self.activity(by_user):
            if what == "login" and (not found or found[-1][0].user != user):
                found.append((by_user[user], t))
        return found

    def mails_to(self, recipient):
        mailbox = self.smtp["mailbox"]
        found = []
        for envelope in sorted(glob.glob(os.path.join(mailbox, "*.env"))):
            message = envelope[:-4] + ".eml"
            with open(envelope) as f:
                if "to %s\n" % recipient in f.read() and os.path.exists(message):
                    with open(message, "rb") as m:
                        found.append(m.read())
        return found


def setUpModule():
    global servers, session
    servers = Servers()
    try:
        session = Session()
    except Exception:
        servers.stop()
        raise


def tearDownModule():
    session.close()
    servers.stop()


class Site:
    """A web site: a user of the FTP server with a remote folder of web files,
    and its clean copy in the data folder."""

    def __init__(self, folder=None, files=WEB_FILES, clean=True, tls=False, **fields):
        """tls: the site is reached over explicit FTP over TLS, and its alerts
        go through the mail server that takes AUTH only after STARTTLS; the
        data folder's trust file holds both test authorities."""
        self.tls = tls
        self.n = servers.next_site
        servers.next_site += 1
        self.user = "site%d" % self.n
        self.folder = folder or "web%d" % self.n
        self.clean = "clean%d" % self.n
        self.web = os.path.join(servers.root, self.user, self.folder)
        self.files = dict(files)
        self.with_clean_copy = clean
        self.fields = fields
        self.recipient = "%s-%d@example.com" % (self.user, os.getpid())
        os.makedirs(self.web)
        for name, content in self.files.items():
            write(os.path.join(self.web, name), content)

    def __repr__(self):
        return self.user

    def record(self):
        fields = dict(user=self.user, password="pw-" + self.user, folder=self.folder, secure=self.clean,
                      offset_measured=1, recipient=self.recipient, mail_server="127.0.0.1",
                      mail_user=servers.smtp["user"], mail_password=servers.smtp["password"])
        fields.update(self.fields)
        host = ("ftpes://127.0.0.1:" + servers.ftp["tls_port"]) if self.tls else "127.0.0.1:" + servers.ftp["port"]
        mail_port = servers.smtp["starttls_port" if self.tls else "port"]
        return site_record(host, "*.*", offset_hours=OFFSET_HOURS, mail_port=int(mail_port), **fields)

    def prepare(self, data):
        """The clean copy: the web files, last written a month ago (older than
        the web, so that nothing is uploaded); a mirror's starts empty."""
        folder = os.path.join(data, self.clean)
        os.makedirs(folder)
        if self.tls:
            with open(os.path.join(data, "trusted.txt"), "wb") as trust:
                for authority in (servers.ftp["ca"], servers.smtp["ca"]):
                    trust.write(read(os.path.join(authority, "ca.pem")))
        if self.with_clean_copy:
            for name, content in self.files.items():
                write(os.path.join(folder, name), content, time.time() - MONTH)

    def web_bytes(self, name):
        return read(os.path.join(self.web, name))

    def data_file(self, data, extension):
        """The site's ".msg" or ".dbf" file in the data folder (None: none)."""
        found = glob.glob(os.path.join(data, "*_%s_*%s" % (self.folder, extension)))
        return found[0] if found else None

    def events(self, data):
        path = self.data_file(data, ".msg")
        return events(read(path)) if path else []


def write(path, content, stamp=None):
    with open(path, "wb") as f:
        f.write(content)
    if stamp is not None:
        os.utime(path, (stamp, stamp))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def wait_for(condition, timeout):
    """Polls until condition() is true; returns its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(0.1)


class MonitorRun(unittest.TestCase):
    """One program run on a site list of its own."""

    def start(self, args, site_list, sites, scale, dist=DIST, executable="kestrovane", install=None, env=None,
              **options):
        """Starts the program with `args` on a site list of `site_list`'s
        records, the clean copies of `sites` and the time scale; install(data,
        env), when given, runs once they are in the data folder."""
        def prepare(data):
            for site in sites:
                site.prepare(data)
            if install:
                install(data, self.program_env)
        files = {"sites.info": b"".join(site.record() for site in site_list)}
        env = dict(env or {}, KESTROVANE_TIME_SCALE=str(scale), KESTROVANE_PROBE_URL="http://127.0.0.1:9/")
        self.program_env = dict(session.env, **env)
        self.program = Program(session, dist, os.path.join(dist, executable), args=args, files=files, env=env,
                               prepare=prepare, **options)
        self.addCleanup(self.program.stop)
        return self.program

    def wait_for_visits(self, sites, count, timeout):
        """The first `count` visits of these sites, once they began."""
        visits = wait_for(lambda: len(servers.visits(sites)) >= count and servers.visits(sites), timeout)
        self.assertTrue(visits, "%d visits within %d s; seen: %s" % (
            count, timeout, [site.user for site, _ in servers.visits(sites)]))
        return visits[:count]

    def assertSchedule(self, visits, count, interval, period, start=None):
        """visits: whole cycles of `count` sites (the last may be cut short).
        The k-th site of a cycle starts k intervals after its first, and each
        cycle a period after the one before (the first after `start`, when
        given)."""
        firsts = ([start] if start else []) + [t for _, t in visits[::count]]
        for a, b in zip(firsts, firsts[1:]):
            self.assertTrue(period - EARLY <= b - a <= period + LATE_CYCLE,
                            "a cycle of %.2f s, not %.2f s" % (b - a, period))
        for c in range(0, len(visits), count):
            first = visits[c][1]
            for k, (site, t) in enumerate(visits[c + 1:c + count], 1):
                self.assertTrue(k * interval - EARLY <= t - first <= k * interval + LATE,
                                "%s started %.2f s into its cycle, not %.2f s" % (site, t - first, k * interval))

    # ---- the screen and the menu bar ----

    def screen(self):
        """A screenshot's (live menu shown, digest of the status line). The
        live menu's titles are drawn dark, the busy menu's greyed."""
        path = self.program.screenshot(os.path.join(SHOTS, "monitor.png"))
        x, y, width, height = MENU_BAR
        # region() counts from the client area's top.
        bar = region(session, self.program, path, x, y - self.program.client_top, width, height)
        live = sum(1 for i in range(0, len(bar), 3) if max(bar[i:i + 3]) < 96) > 200
        return live, hashlib.sha1(region(session, self.program, path, *STATUS_LINE)).hexdigest()

    def waiting(self, timeout=10):
        """Waits until the driver waits (the live menu shows); returns the
        status line's digest then."""
        def live_status():
            live, digest = self.screen()
            return digest if live else None
        status = wait_for(live_status, timeout)
        self.assertTrue(status, "the live menu within %d s" % timeout)
        return status

    def status_line_changed(self, digest, timeout=3):
        """The status line's new digest once it differs from `digest`."""
        def changed():
            _, now = self.screen()
            return now if now != digest else None
        return wait_for(changed, timeout)

    def popup_at(self, x, y):
        """True when a pop-up menu (light) covers window pixel (x, y), which
        the monitor screen draws dark."""
        path = os.path.join(SHOTS, "popup.png")
        # The pop-up is a window of its own; with no window manager the main
        # window sits at the screen's origin.
        session.run("import", "-window", "root", path)
        rgb = subprocess.run(["convert", path, "-crop", "1x1+%d+%d" % (x, y), "rgb:-"], capture_output=True).stdout
        return len(rgb) == 3 and min(rgb) > 200

    def choose(self, title, item=None):
        """Clicks a title of the live menu (and an item of its pop-up) while
        the driver waits; returns the time of the last click."""
        run = session.run
        run("xdotool", "mousemove", "--window", self.program.window, str(MENU_X[title]), str(MENU_BAR_Y), "click", "1")
        if item:
            self.assertTrue(wait_for(lambda: self.popup_at(RATE_ITEM_X, RATE_ITEM_Y[item]), 3), "the pop-up opens")
            run("xdotool", "mousemove", "--window", self.program.window, str(RATE_ITEM_X), str(RATE_ITEM_Y[item]),
                "click", "1")
        return time.time()


class CheckMode(MonitorRun):
    def test_run_visits_each_active_site_a_minute_apart_and_restores_a_tampered_file(self):
        """"run" with three active sites and an inactive one between the first
        two: 180 s a cycle, 60 s a site. The first site's file, tampered with
        after its baseline, is put back in its next visit, logged and mailed
        once, and its ".exe" option runs after that visit only."""
        marks = tempfile.mkdtemp(prefix="kv-e2e-marks-")
        self.addCleanup(shutil.rmtree, marks, ignore_errors=True)
        ran = os.path.join(marks, "ran")
        first = Site(alerts=1, option="echo first >>%s #.exe" % ran)
        idle = Site(active=0)
        second = Site(alerts=1, option="echo second >>%s #.exe" % ran)
        third = Site()
        active = [first, second, third]
        self.start(["run"], [first, idle, second, third], active, scale=30)

        self.wait_for_visits(active, 2, 30)  # the first site's visit is over
        write(os.path.join(first.web, "index.html"), DEFACED)
        visits = self.wait_for_visits(active, 8, 40)

        self.assertEqual([site for site, _ in visits], active * 2 + active[:2])
        self.assertEqual(servers.activity([idle.user]), [], "the inactive site is never visited")
        # A minute a site (none for the inactive record), three a cycle.
        self.assertSchedule(visits, 3, 2, 6)

        self.assertEqual(first.web_bytes("index.html"), WEB_FILES["index.html"])
        self.assertEqual(first.events(self.program.data), [(1, "index.html")])
        self.assertEqual(second.events(self.program.data) + third.events(self.program.data), [])
        mails = servers.mails_to(first.recipient)
        self.assertEqual(len(mails), 1, "one mail for the visit that put the file back")
        self.assertIn(b"index.html", mails[0])
        self.assertEqual(servers.mails_to(second.recipient), [], "no mail without events")
        self.assertEqual(read(ran), b"first\n", "the option runs once, after the visit with events")


class CommandWord(MonitorRun):
    def test_seven_minutes_over_three_sites_and_a_mirror_that_tracks_data(self):
        """Command word 7 with three active sites: 420 s a cycle, 140 s a site.
        The first is mirrored with "trackdatafolder" in its remote folder: its
        web file is downloaded into the clean copy, and once tampered with it
        is mirrored again, never put back."""
        mirrored = Site(folder="trackdatafolder-%d" % servers.next_site, clean=False, mirror=1)
        sites = [mirrored, Site(), Site()]
        self.start(["7"], sites, sites, scale=60)

        self.wait_for_visits(sites, 2, 30)
        clean = os.path.join(self.program.data, mirrored.clean, "index.html")
        self.assertEqual(read(clean), WEB_FILES["index.html"], "downloaded into the clean copy")
        # Listed later than the downloaded copy was written.
        write(os.path.join(mirrored.web, "index.html"), DEFACED, time.time() + 60)
        visits = self.wait_for_visits(sites, 5, 30)

        self.assertEqual([site for site, _ in visits], sites + sites[:2])
        self.assertSchedule(visits, 3, 7 / 3, 7)

        self.assertEqual(read(clean), DEFACED, "the web's version mirrored")
        self.assertEqual(mirrored.web_bytes("index.html"), DEFACED, "not put back")
        self.assertEqual([what for _, _, what, _ in servers.activity([mirrored.user]) if what == "stored"], [])
        logged = mirrored.events(self.program.data)
        self.assertEqual(sorted(logged[:2]), [(10, "about.htm"), (10, "index.html")])
        self.assertEqual(logged[2:], [(10, "index.html")], "downloads only, no put-back")


class OptionText(MonitorRun):
    def test_roadmap_and_quit_in_the_first_record(self):
        """"CREATE_ROADMAP QUIT" in the first of two records: the first site is
        worked and its roadmap uploaded, then the program ends; the second is
        never logged into."""
        first = Site(files=dict(WEB_FILES, **{"downloads-page.htm": b"d" * 3000}), option="CREATE_ROADMAP QUIT")
        later = Site()
        program = self.start(["run"], [first, later], [first, later], scale=60, window=False)
        self.assertEqual(program.wait(timeout=30), 0)
        self.assertEqual(first.web_bytes("roadmap.txt"), b"downloads-page.htm\n")
        self.assertIsNotNone(first.data_file(program.data, ".dbf"), "the first site's baseline")
        self.assertEqual(servers.activity([later.user]), [])


class MainMenu(MonitorRun):
    def test_update_rate_email_alert_and_quit(self):
        """160 minutes over four sites (40 a site) until "Update Rate", "1 Hour"
        in the wait after the last one restarts the timers at once: 3,600 s a
        cycle, 900 s a site. "Email Alert" in the cycle wait that follows
        rewrites the last site's record and nothing else; "Quit" in a later
        wait ends the program within a second, before any further visit."""
        sites = [Site() for _ in range(4)]
        self.start(["160"], [Site(active=0)] + sites, sites, scale=600)
        self.wait_for_visits(sites, 4, 40)
        status = self.waiting()
        chosen = self.choose("Update Rate", "1 Hour")
        status = self.status_line_changed(status)
        self.assertTrue(status, "the status line shows the new rate")

        # The last site's wait ends 900 s after the choice, the cycle wait 3,600 s.
        time.sleep(max(0.0, chosen + 2.5 - time.time()))
        listing = os.path.join(self.program.data, "sites.info")
        before = read(listing)
        expected = bytearray(before)
        expected[4 * SITE_RECORD_SIZE + SITE_FLAGS["alerts"]] ^= 1  # record 5, the last site
        switched = self.choose("Email Alert")
        self.assertTrue(wait_for(lambda: read(listing) == expected, 3), "records changed: %s, %d bytes, %.1f s after "
                        "the rate" % (changed_records(before, read(listing)), len(read(listing)), switched - chosen))
        self.assertTrue(self.status_line_changed(status), "the status line shows the alerts switched")

        visits = self.wait_for_visits(sites, 8, 20)
        self.assertEqual([site for site, _ in visits[4:]], sites)
        # The next cycle an hour after the choice, a quarter of an hour a site.
        self.assertSchedule(visits[4:], 4, 1.5, 6, start=chosen)

        self.waiting()
        quit = self.choose("Quit")
        deadline = quit + 10
        while self.program.process.poll() is None and time.time() < deadline:
            time.sleep(0.02)
        ended = time.time()
        self.assertEqual(self.program.process.poll(), 0)
        self.assertLess(ended - quit, QUIT_SECONDS)
        self.assertEqual([t for t, _, what, _ in servers.activity([s.user for s in sites]) if what == "login" and t > quit],
                         [])


def changed_records(a, b):
    """The numbers (from 1) of the records in which two site lists differ."""
    count = max(len(a), len(b)) // SITE_RECORD_SIZE + 1
    return [n + 1 for n in range(count)
            if a[n * SITE_RECORD_SIZE:(n + 1) * SITE_RECORD_SIZE] != b[n * SITE_RECORD_SIZE:(n + 1) * SITE_RECORD_SIZE]]


class Encrypted(MonitorRun):
    def test_site_over_tls_is_restored_and_its_alert_mailed_over_starttls(self):
        """A site on a server that speaks only FTP over TLS, its authority
        trusted through the trust file: a tampered file is put back and the
        alert goes out through a mail server that takes the login only after
        STARTTLS. The servers refuse anything in clear, so the files and the
        mail prove both were encrypted."""
        site = Site(tls=True, alerts=1)
        program = self.start(["run"], [site], [site], scale=60)
        logins = lambda: [a for a in servers.activity([site.user]) if a[2] == "login"]
        self.assertTrue(wait_for(lambda: len(logins()) >= 3, 30), "the second visit within 30 s")
        write(os.path.join(site.web, "index.html"), DEFACED)
        self.assertTrue(wait_for(lambda: site.web_bytes("index.html") == WEB_FILES["index.html"], 30), "put back")
        self.assertTrue(wait_for(lambda: servers.mails_to(site.recipient), 30), "the alert mail")
        self.assertIn(b"index.html", servers.mails_to(site.recipient)[0])
        program.request_close()
        self.assertEqual(program.wait(timeout=30), 0)


@unittest.skipUnless(WIN_DIST and os.path.exists(os.path.join(WIN_DIST, "kestrovane.exe")),
                     "needs the Windows build (KV_WIN_DIST)")
class WindowsBuildUnderWine(MonitorRun):
    def install(self, data, env):
        """Installs the distribution as a user does: unpacked into
        C:\\downloads and install.exe run from there, over a data folder
        that holds the site list. The monitor it starts opens the setup
        form, which is closed as a user closes it."""
        drive = os.path.dirname(data)
        prefix = os.path.dirname(drive)
        env = dict(env, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=")
        downloads = os.path.join(drive, "downloads")
        shutil.copytree(WIN_DIST, os.path.join(downloads, "Kestrovane"))
        # A file, not a pipe: the monitor keeps the console's output open.
        with tempfile.TemporaryFile() as out:
            done = subprocess.run(["wine", os.path.join(downloads, "Kestrovane", "install.exe")], cwd=downloads,
                                  env=env, stdout=out, stderr=subprocess.DEVNULL, timeout=120)
            out.seek(0)
            last = out.read().decode("latin-1").replace("\r\n", "\n").splitlines()[-1]
        self.assertEqual(done.returncode, 0)
        self.assertEqual(last, "Installation or Update is Complete...Starting Kestrovane")
        self.assertEqual(os.listdir(os.path.join(downloads, "Kestrovane")), ["install.exe"])
        started = wait_for(lambda: session.run("xdotool", "search", "--onlyvisible", "--name", "KESTROVANE",
                                               check=False).split(), 90)
        self.assertTrue(started, "the installed monitor's window")
        subprocess.run([sys.executable, os.path.join(HERE, "..", "platform", "close_request.py"), started[0]],
                       env=env, check=True)
        self.assertTrue(wait_for(lambda: not session.run("xdotool", "search", "--name", "KESTROVANE",
                                                         check=False).split(), 30), "the setup form closes")

    def test_installed_monitors_a_site_and_restores_a_tampered_file(self):
        """The program that install.exe put into C:\\Kestrovane, started
        there with "run", puts back a tampered file of a site reached over FTP
        over TLS (served by the program's own client, Schannel's TLS) and
        mails the alert through STARTTLS."""
        site = Site(tls=True, alerts=1)
        # The home Wine links its desktop to, which gets the program's copy.
        home = tempfile.mkdtemp(prefix="kv-e2e-home-")
        self.addCleanup(shutil.rmtree, home, ignore_errors=True)
        env = {"HOME": home, "XDG_CONFIG_HOME": os.path.join(home, ".config"),
               "XDG_DATA_HOME": os.path.join(home, ".local", "share")}
        # The harness copies nothing: the installer fills the data folder.
        empty = tempfile.mkdtemp(prefix="kv-e2e-empty-")
        self.addCleanup(shutil.rmtree, empty, ignore_errors=True)
        program = self.start(["run"], [site], [site], scale=60, dist=empty, executable="kestrovane.exe",
                             wine=True, install=self.install, env=env)
        # The first visit logs in for the baseline and then for the web check,
        # which confirms the baseline's records as it finds the web; from the
        # next visit on, a change is put back.
        logins = lambda: [a for a in servers.activity([site.user]) if a[2] == "login"]
        self.assertTrue(wait_for(lambda: len(logins()) >= 3, 90), "the second visit within 90 s")
        write(os.path.join(site.web, "index.html"), DEFACED)
        self.assertTrue(wait_for(lambda: site.web_bytes("index.html") == WEB_FILES["index.html"], 60), "put back")
        self.assertTrue(wait_for(lambda: site.events(program.data) == [(1, "index.html")], 10),
                        site.events(program.data))
        self.assertTrue(wait_for(lambda: servers.mails_to(site.recipient), 60), "the alert mail")
        program.request_close()
        self.assertEqual(program.wait(timeout=30), 0)


if __name__ == "__main__":
    unittest.main()
