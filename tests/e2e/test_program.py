"""End-to-end: the monitor in a real window, driven as a user drives it."""
import hashlib
import os
import subprocess
import tempfile
import time
import unittest

from harness import Program, Session, region
from records import event_record, site_record

DIST = os.environ.get("KV_DIST", os.path.join(os.path.dirname(__file__), "../../build/Kestrovane"))
FIELD_PROBE = os.environ.get("KV_FIELD_PROBE", "")
SHOTS = os.environ.get("KV_E2E_SHOTS", tempfile.mkdtemp(prefix="kv-shots-"))

# Client pixels of the monitor screen (data/screens/kestrvane.scr).
TITLE = (16, 6, 300, 12)
NEXT_BUTTON = (592, 467)
PREV_BUTTON = (498, 467)


def shot(name):
    return os.path.join(SHOTS, name)


def wait_for(condition, timeout=10.0):
    """Polls until condition() is true; returns its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(0.1)


class MonitorWindow(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = Session()

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def setUp(self):
        # An update rate as the command word: straight to the monitor screen
        # (an empty command line opens the web site setup first).
        self.program = Program(self.session, DIST, os.path.join(DIST, "kestrovane"), args=["5"])
        self.addCleanup(self.program.stop)
        # The first present follows the window's appearance.
        wait_for(lambda: self.cyan_in_title() > 100)

    def cyan_in_title(self):
        path = self.program.screenshot(shot("monitor.png"))
        return region(self.session, self.program, path, *TITLE).count(bytes([0, 255, 255]))

    def title(self, name):
        """A digest of the title line's pixels (short enough for a failure message)."""
        path = self.program.screenshot(shot(name))
        return hashlib.sha1(region(self.session, self.program, path, *TITLE)).hexdigest()

    def test_monitor_screen_and_menu_bar(self):
        self.assertGreater(self.program.client_top, 10, "a menu bar above the client area")
        # The title line in cyan on the screen's heading band.
        self.assertGreater(self.cyan_in_title(), 100)

    def test_page_buttons_turn_the_page(self):
        first = self.title("page1.png")
        self.program.click(*NEXT_BUTTON)
        second = wait_for(lambda: self.title("page2.png") != first and self.title("page2.png"))
        self.assertTrue(second, "the title shows page 2")
        self.program.click(*PREV_BUTTON)
        self.assertTrue(wait_for(lambda: self.title("page1-again.png") == first), "back on page 1")
        self.program.click(*PREV_BUTTON)  # page 1 stays page 1
        time.sleep(0.5)
        self.assertEqual(first, self.title("page1-still.png"))

    def test_close_button_ends_the_program(self):
        self.program.request_close()
        self.assertEqual(self.program.wait(timeout=10), 0)


def start_ftp_server(folder):
    """pyftpdlib on a free port (tests/servers/ftp_server.py); returns its info lines as a dict."""
    servers = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "servers")
    subprocess.run(["/usr/bin/python3", os.path.join(servers, "launch.py"), "start", "ftp", folder,
                    os.path.join(servers, "ftp_server.py"), "--lifetime", "600"], check=True)
    with open(os.path.join(folder, "ftp.info")) as f:
        return dict(line.split(" ", 1) for line in f.read().splitlines())


def stop_ftp_server(folder):
    servers = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "servers")
    subprocess.run(["/usr/bin/python3", os.path.join(servers, "launch.py"), "stop", "ftp", folder], check=False)


def line_region(n):
    """Client rectangle of monitor screen line n (2..26: the event lines)."""
    return (16, 32 + 16 * (n - 2), 600, 8)


class EventPages(unittest.TestCase):
    """The visited site's event log, 25 events to a page, newest first, paged while the driver waits."""

    @classmethod
    def setUpClass(cls):
        cls.session = Session()
        cls.servers = tempfile.mkdtemp(prefix="kv-e2e-servers-")
        cls.ftp = start_ftp_server(cls.servers)

    @classmethod
    def tearDownClass(cls):
        stop_ftp_server(cls.servers)
        cls.session.close()

    def setUp(self):
        events = b"".join(event_record(9, "f%d.html" % i, 3, 7, 9, i % 60) for i in range(1, 31))
        clean = tempfile.mkdtemp(prefix="kv-e2e-clean-")  # empty: a quiet visit logs nothing
        site = site_record("127.0.0.1:" + self.ftp["port"], "*.*", user=self.ftp["user"],
                           password=self.ftp["password"], secure=clean)
        # The event log of host "127.0.0.1:PORT" (label "0") and mask "*.*".
        files = {"sites.info": site, "0_JNJ.msg": events}
        self.program = Program(self.session, DIST, os.path.join(DIST, "kestrovane"), args=["run"], files=files)
        self.addCleanup(self.program.stop)

    def drawn_lines(self, name):
        path = self.program.screenshot(shot(name))
        drawn = []
        for n in range(2, 27):
            rgb = region(self.session, self.program, path, *line_region(n))
            if len(set(zip(rgb[0::3], rgb[1::3], rgb[2::3]))) > 1:
                drawn.append(n)
        return drawn

    def test_pages_of_events(self):
        self.assertTrue(wait_for(lambda: self.drawn_lines("events1.png") == list(range(2, 27))),
                        "page 1 holds the 25 newest events")
        self.program.click(*NEXT_BUTTON)
        self.assertTrue(wait_for(lambda: self.drawn_lines("events2.png") == list(range(2, 7))),
                        "page 2 holds the 5 oldest")
        self.program.click(*PREV_BUTTON)
        self.assertTrue(wait_for(lambda: self.drawn_lines("events3.png") == list(range(2, 27))))


@unittest.skipUnless(FIELD_PROBE, "needs the field probe program")
class TypingIntoAField(unittest.TestCase):
    def test_typed_text_arrives_in_the_field(self):
        session = Session()
        self.addCleanup(session.close)
        output = os.path.join(tempfile.mkdtemp(prefix="kv-probe-"), "field.txt")
        program = Program(session, DIST, FIELD_PROBE, args=[output], title="FIELD PROBE")
        self.addCleanup(program.stop)
        time.sleep(1.0)  # the editor is waiting once its screen is shown
        program.type("hello web")
        program.key("BackSpace", "BackSpace", "BackSpace", "Return")
        self.assertEqual(program.wait(timeout=10), 0)
        with open(output) as f:
            self.assertEqual(f.read(), "30 hello ")


if __name__ == "__main__":
    unittest.main()


WIN_DIST = os.environ.get("KV_WIN_DIST", "")


@unittest.skipUnless(WIN_DIST and os.path.exists(os.path.join(WIN_DIST, "kestrovane.exe")),
                     "needs the Windows build (KV_WIN_DIST)")
class WindowsBuildUnderWine(unittest.TestCase):
    def test_window_opens_and_closes(self):
        session = Session()
        self.addCleanup(session.close)
        program = Program(session, WIN_DIST, os.path.join(WIN_DIST, "kestrovane.exe"), wine=True)
        self.addCleanup(program.stop)

        def cyan():
            path = program.screenshot(shot("wine-monitor.png"))
            pixels = region(session, program, path, 0, 0, program.width, program.height)
            return pixels.count(bytes([0, 255, 255]))
        self.assertGreater(wait_for(lambda: cyan() > 100 and cyan(), timeout=30), 100, "the title line in cyan")
        program.request_close()
        self.assertEqual(program.wait(timeout=30), 0)
