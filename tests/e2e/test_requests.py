"""End-to-end: the Filter, Sync and Reset screens of the main menu.

The real program under Xvfb monitors one site of the FTP server of
test_monitor.py (its servers, sites and menu are reused) with "run" and its
minutes scaled to seconds; a request screen opens while the driver waits and
holds it until the screen is left. Each story is one program run, checked by
what the program left: the site's record store (dumped with kfcheck), its
event log and the web files on the server. Screenshots of the three screens
land in KV_E2E_SHOTS (docs/ keeps copies).
"""
import hashlib
import os
import re
import subprocess
import time
import unittest

import test_monitor as monitor
from records import event_record
from harness import region
from test_monitor import DEFACED, WEB_FILES, MonitorRun, Site, read, wait_for, write

HERE = os.path.dirname(os.path.abspath(__file__))
KFCHECK = os.environ.get("KV_KFCHECK", os.path.join(HERE, "../../build/tools/kfcheck/kfcheck"))
SHOTS = monitor.SHOTS

# Client pixels of the screens' buttons (data/screens/*.scr, the monitor book).
EVENT_LINE_X = 300
SWITCH_SYNC_WEB = (540, 61)
SYNC_WEB_FIELD = (320, 56, 24, 8)
SYNC_WEB_NOW = (164, 249)
BACK_FROM_SYNC = (545, 467)
NEW_BASELINE = (164, 69)
BOTTOM_LINE = (8, 460, 200, 12)
SCALE = 60  # one site, "run": a visit every second


def event_line_y(n):
    """The middle of event line n (1..25) of the filter page."""
    return 28 + 16 * (n - 1) + 8


def setUpModule():
    monitor.setUpModule()


def tearDownModule():
    monitor.tearDownModule()


def store_records(path):
    """The keys of a record store's leaves, in key order."""
    out = subprocess.run([KFCHECK, path], capture_output=True, text=True).stdout
    keys, leaf = [], False
    for line in out.splitlines():
        if line.startswith("node "):
            leaf = ": leaf" in line
        elif leaf and (m := re.match(r'\s+\d+\s+tag \d+\s+"(.*)"$', line)):
            keys.append(m.group(1))
    return keys


class RequestRun(MonitorRun):
    def start_site(self, **fields):
        self.site = Site(**fields)
        program = self.start(["run"], [self.site], [self.site], scale=SCALE)
        # The first visit logs in for the baseline and then for the checks;
        # a third login is the second visit's.
        self.assertTrue(wait_for(lambda: len(self.logins()) >= 3, 30), "the second visit within 30 s")
        return program

    def logins(self, after=0):
        return [t for t, _, what, _ in monitor.servers.activity([self.site.user]) if what == "login" and t > after]

    def records(self):
        return store_records(self.site.data_file(self.program.data, ".dbf"))

    def record_of(self, name):
        found = [r for r in self.records() if r.rsplit("*", 1)[0] == name]
        self.assertLessEqual(len(found), 1, found)
        return found[0] if found else None

    def bottom_line(self):
        """A digest of the row below the site line, which each screen draws
        its own way."""
        path = self.program.screenshot(os.path.join(SHOTS, "bottom.png"))
        return hashlib.sha1(region(monitor.session, self.program, path, *BOTTOM_LINE)).hexdigest()

    def open_screen(self, title):
        """Chooses the menu title while the driver waits; the screen then
        holds the driver until it is left. A click that falls into a visit
        (the menu greyed; a visit a second leaves it live only briefly) is
        tried again, but never while a slow screen is already opening."""
        shown = self.bottom_line()
        opened = lambda: self.bottom_line() != shown
        for _ in range(10):
            if not opened():
                self.waiting()
                self.choose(title)
            if wait_for(opened, 3):
                time.sleep(0.3)
                return
        self.fail("the %s screen did not open" % title)

    def click(self, x, y):
        self.program.click(x, y)
        time.sleep(0.6)

    def leave(self):
        self.program.key("Escape")
        time.sleep(0.5)

    def shot(self, name):
        return self.program.screenshot(os.path.join(SHOTS, name))

    def visits_after(self, moment, count, timeout=20):
        """Waits until `count` whole visits went by after `moment` (a visit
        logs in at least once, twice or three times for its checks)."""
        self.assertTrue(wait_for(lambda: len(self.logins(moment)) >= 3 * count, timeout),
                        "%d visits after the request" % count)


class Filter(RequestRun):
    def test_filter_twice_restores_the_record_and_a_like_name_gets_its_own(self):
        """A put-back file's line clicked once takes it out of monitoring,
        clicked again gives its record its old text; filtered, a change on the
        web stays, and put back in monitoring, it is put back. A click on a line naming
        "index.htm", which only begins like the record "index.html", adds a
        filtered record of its own; a connection event's line changes
        nothing."""
        self.start_site()
        log = lambda: self.site.data_file(self.program.data, ".msg")
        write(os.path.join(self.site.web, "index.html"), DEFACED)
        self.assertTrue(wait_for(lambda: self.site.events(self.program.data) == [(1, "index.html")], 15))
        self.waiting()
        # Two events written by hand: a file that only begins like a recorded
        # one, and a connection event (no file), newest.
        with open(log(), "ab") as f:
            f.write(event_record(1, "index.htm", 12, 9, 10, 0))
            f.write(event_record(15, "", 12, 9, 10, 1))
        self.open_screen("Filter")
        before = self.record_of("index.html")
        self.shot("filter-screen.png")
        self.click(EVENT_LINE_X, event_line_y(1))  # the connection event
        unchanged = self.records()
        self.click(EVENT_LINE_X, event_line_y(2))  # index.htm
        # Read while the screen holds the driver: a visit may mark records.
        self.assertEqual([r for r in unchanged if "filtered" in r], [], "a line without a file changes nothing")
        self.assertRegex(self.record_of("index.htm"), r"^index\.htm\*\d+-\d+-0-0-filtered by ksv$")
        self.click(EVENT_LINE_X, event_line_y(3))  # index.html
        self.assertEqual(self.record_of("index.html"), before + "-filtered by ksv")
        self.click(EVENT_LINE_X, event_line_y(3))
        self.assertEqual(self.record_of("index.html"), before, "the old text again")
        self.click(EVENT_LINE_X, event_line_y(3))
        self.leave()
        left = time.time()
        write(os.path.join(self.site.web, "index.html"), DEFACED + b"again\n")
        self.visits_after(left, 2)
        self.assertEqual(self.site.web_bytes("index.html"), DEFACED + b"again\n", "a filtered file is not put back")
        self.assertIn("filtered by ksv", self.record_of("index.html"))

        # The log only grew at its end since: index.html's line is found anew.
        names = [name for _, name in self.site.events(self.program.data)]
        line = list(reversed(names)).index("index.html") + 1
        self.open_screen("Filter")
        self.click(EVENT_LINE_X, event_line_y(line))
        self.assertNotIn("filtered by ksv", self.record_of("index.html"))
        self.leave()
        self.assertTrue(wait_for(lambda: self.site.web_bytes("index.html") == WEB_FILES["index.html"], 15),
                        "monitored again: put back")


class Sync(RequestRun):
    def test_sync_once_deletes_what_the_clean_copy_lacks_and_leaves_the_switch_off(self):
        """With the working switch turned on, "Synchronise web now" deletes
        the web file the clean copy lacks, and the screen then shows the
        switch off again; the site list is not written."""
        self.start_site(sync=0)
        listing = read(os.path.join(self.program.data, "sites.info"))
        stray = os.path.join(self.site.web, "stray.htm")
        write(stray, b"not in the clean copy\n")
        self.open_screen("Sync")
        self.shot("sync-screen.png")
        off = self.switch_shown()
        self.click(*SWITCH_SYNC_WEB)
        self.assertNotEqual(self.switch_shown(), off, "the switch shows YES")
        self.click(*SYNC_WEB_NOW)
        self.assertTrue(wait_for(lambda: not os.path.exists(stray), 15), "the stray file deleted")
        self.assertTrue(wait_for(lambda: self.switch_shown() == off, 5), "the switch shows NO after the run")
        self.click(*BACK_FROM_SYNC)
        self.assertEqual(self.site.web_bytes("index.html"), WEB_FILES["index.html"])
        self.assertEqual(read(os.path.join(self.program.data, "sites.info")), listing)

    def switch_shown(self):
        """A digest of the sync screen's first text field (YES or NO)."""
        path = self.program.screenshot(os.path.join(SHOTS, "switch.png"))
        return hashlib.sha1(region(monitor.session, self.program, path, *SYNC_WEB_FIELD)).hexdigest()


class Reset(RequestRun):
    def test_new_baseline_forgets_records_and_events(self):
        """"New baseline" deletes the store and the event log and records the
        web as it is: the put-back file's record loses its mark, a file added
        since is known (the next visits do not report it), and the event log
        is empty."""
        self.start_site()
        write(os.path.join(self.site.web, "index.html"), DEFACED)
        self.assertTrue(wait_for(lambda: self.site.events(self.program.data) == [(1, "index.html")], 15))
        self.open_screen("Reset")
        write(os.path.join(self.site.web, "new.htm"), b"new\n")  # while the screen holds the driver
        self.shot("reset-screen.png")
        self.click(*NEW_BASELINE)
        self.waiting()

        records = self.records()
        self.assertEqual(sorted(r.rsplit("*", 1)[0] for r in records), ["about.htm", "index.html", "new.htm"])
        self.assertEqual([r for r in records if "updated by sw" in r], [], "the old store is gone")
        self.visits_after(time.time(), 1)
        self.assertEqual(self.site.events(self.program.data), [])
        self.assertEqual(self.site.web_bytes("new.htm"), b"new\n", "the new baseline keeps it")


if __name__ == "__main__":
    unittest.main()
