"""End-to-end: the site list chooser and the e-mail alert screen.

Both run in a real window under Xvfb through tests/e2e/screen_probe, which
shows the screens named on its command line one after the other on the data
folder's site list and writes what each returned. Each story is one program
run; its checks read the site list the program left behind.
"""
import os
import shutil
import tempfile
import time
import unittest

from harness import Program, Session
from records import MAIL_PORT, SITE_FLAGS, SITE_RECORD_SIZE, SITE_TEXTS, site_record

HERE = os.path.dirname(os.path.abspath(__file__))
DIST = os.environ.get("KV_DIST", os.path.join(HERE, "../../build/Kestrovane"))
PROBE = os.environ.get("KV_SCREEN_PROBE", "")
SHOTS = os.environ.get("KV_E2E_SHOTS", tempfile.mkdtemp(prefix="kv-shots-"))

# Client pixels of the forms (data/screens/list.scr, email.scr).
def card_top(row):
    return 28 + 96 * (row - 1)


def list_open(row):
    return 573, card_top(row) + 24


def list_switch(row):
    return 573, card_top(row) + 64


LIST_PREVIOUS, LIST_NEXT = (83, 459), (251, 459)
EMAIL_FIELD = {n: (160, y + 4) for n, y in zip(range(1, 6), (64, 88, 112, 136, 160))}
EMAIL_SWITCH, EMAIL_SAVE, EMAIL_CANCEL, EMAIL_CLEAR = (335, 197), (63, 459), (191, 459), (319, 459)
EMAIL_HELP = (575, 459)
# The program reads the next key only once it has drawn the form again.
SETTLE = 0.4


def text(record, name):
    offset, width = SITE_TEXTS[name]
    return record[offset:offset + width].split(b"\0", 1)[0].decode()


class ScreenRun:
    """One probe run: the steps, the clicks and keys, the results."""

    def __init__(self, session, steps, sites):
        # The editor stand-in notes the file it was asked to open.
        self.folder = tempfile.mkdtemp(prefix="kv-editor-")
        self.opened = os.path.join(self.folder, "opened")
        editor = os.path.join(self.folder, "editor")
        with open(editor, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$@" >> %s\n' % self.opened)
        os.chmod(editor, 0o755)
        self.program = Program(session, DIST, PROBE, args=["\\Kestrovane\\probe.txt"] + steps,
                               title="KESTROVANE SCREEN PROBE", files={"sites.info": b"".join(sites)},
                               env={"KESTROVANE_EDITOR": editor})
        time.sleep(1.0)

    def click(self, point, settle=SETTLE):
        self.program.click(*point)
        time.sleep(settle)

    def enter(self, value):
        self.program.type(value)
        self.program.key("Return")
        time.sleep(SETTLE)

    def finish(self):
        """The probe's result lines and the site list's records."""
        self.program.wait(timeout=15)
        with open(os.path.join(self.program.data, "probe.txt")) as f:
            lines = f.read().splitlines()
        with open(os.path.join(self.program.data, "sites.info"), "rb") as f:
            data = f.read()
        return lines, [data[at:at + SITE_RECORD_SIZE] for at in range(0, len(data), SITE_RECORD_SIZE)]


@unittest.skipUnless(PROBE, "KV_SCREEN_PROBE names the probe program")
class ListAndEmailScreens(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = Session()

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def run_screens(self, steps, sites):
        run = ScreenRun(self.session, steps, sites)
        self.addCleanup(run.program.stop)
        self.addCleanup(shutil.rmtree, run.folder, True)
        return run

    def test_list_pages_picks_and_switches_one_record(self):
        # Nine records; record 3 is a sub-folder of record 2's site.
        sites = [site_record("host%d.example" % n, "*.htm*", active=n % 2, user="user%d" % n,
                             password="secret%d" % n, folder="web%d" % n, secure="C:\\clean%d" % n)
                 for n in range(1, 10)]
        sites[2] = site_record("host2.example", "*.htm*", active=0, user="user2", password="secret2",
                               folder="web2/sub", secure="C:\\clean2\\sub")
        run = self.run_screens(["list", "list", "list"], sites)
        run.program.screenshot(os.path.join(SHOTS, "list-screen.png"))
        # Page 3 shows record 9 in row 1; row 2 is empty and picks 10.
        run.click(LIST_NEXT)
        run.click(LIST_NEXT)
        run.click(list_open(2))
        # Reopened on page 3: row 1 is record 9.
        run.click(list_open(1))
        # Back three pages from page 3 stays on page 1; switch record 2, pick record 1.
        for _ in range(3):
            run.click(LIST_PREVIOUS)
        run.click(list_switch(2))
        run.click(list_open(1))
        lines, records = run.finish()
        self.assertEqual(lines, ["list 10", "list 9", "list 1"])
        self.assertEqual(len(records), 9)
        expected = list(sites)
        expected[1] = bytearray(sites[1])
        expected[1][SITE_FLAGS["active"]] = 1
        self.assertEqual([bytes(r) for r in expected], records)

    def test_email_clear_switch_and_save_rules(self):
        first = site_record("a.example", "*.htm", user="ua", password="pa", folder="web")
        second = site_record("b.example", "*.htm", user="ub", password="pb", folder="web", recipient="old@b.example",
                             mail_server="smtp.b.example", mail_user="bmail", mail_password="bpass",
                             mail_port=587)
        run = self.run_screens(["email:1", "email:2"], [first, second])
        run.click(EMAIL_FIELD[1])
        run.enter("alerts@example.com")
        run.enter("mail.example.com second")   # only the first word is kept
        run.enter("u" * 32)                    # longer than 31: refused
        run.enter("secret")                    # the entry has moved on to the password
        run.enter("abc")                       # no digit: the port stays 0
        run.click(EMAIL_FIELD[3])
        run.enter("mailer")
        run.click(EMAIL_SWITCH)                # port 0: the alerts stay off
        run.click(EMAIL_FIELD[5])
        run.enter("25x")                       # 25
        run.program.screenshot(os.path.join(SHOTS, "email-screen.png"))
        run.click(EMAIL_SWITCH)                # every value: on, and saved
        run.click(EMAIL_CLEAR)
        run.click(EMAIL_SWITCH)                # values missing: the alerts stay on
        run.click(EMAIL_HELP)
        run.click(EMAIL_CANCEL)                # the record as saved, and its values kept
        # The second site shows the first one's values; saving stores them there.
        run.click(EMAIL_SAVE)
        lines, records = run.finish()
        with open(run.opened) as f:
            opened = f.read().split()
        self.assertEqual(len(opened), 1)
        with open(opened[0], "rb") as f:
            self.assertIn(b"AN EXAMPLE", f.read())
        self.assertEqual(lines, ["email 1 a.example 1 alerts@example.com", "email 2 b.example 0 alerts@example.com"])
        for record in records:
            self.assertEqual(
                (text(record, "recipient"), text(record, "mail_server"), text(record, "mail_user"),
                 text(record, "mail_password"), int.from_bytes(record[MAIL_PORT:MAIL_PORT + 2], "little")),
                ("alerts@example.com", "mail.example.com", "mailer", "secret", 25))
        self.assertEqual([r[SITE_FLAGS["alerts"]] for r in records], [1, 0])
        # Nothing but the e-mail block changed.
        for before, after in zip((first, second), records):
            self.assertEqual(before[:859], after[:859])
            self.assertEqual(before[1122:], after[1122:])

    def test_email_save_that_cannot_be_written_keeps_the_screen(self):
        site = site_record("c.example", "*.htm", user="uc", password="pc", recipient="old@c.example",
                           mail_server="smtp.c.example", mail_user="cmail", mail_password="cpass", mail_port=25)
        run = self.run_screens(["email:1"], [site])
        listing = os.path.join(run.program.data, "sites.info")
        run.enter("new@c.example")            # over "old@c.example"
        # A folder where the site list was: no write can succeed.
        os.rename(listing, listing + ".kept")
        os.mkdir(listing)
        run.click(EMAIL_SWITCH)                # not written: the alerts stay off
        run.click(EMAIL_SAVE)                  # not written: the screen stays
        os.rmdir(listing)
        os.rename(listing + ".kept", listing)
        run.click(EMAIL_SAVE)
        lines, records = run.finish()
        self.assertEqual(lines, ["email 1 c.example 0 new@c.example"])
        self.assertEqual(text(records[0], "recipient"), "new@c.example")
        self.assertEqual(records[0][SITE_FLAGS["alerts"]], 0)


if __name__ == "__main__":
    unittest.main()
