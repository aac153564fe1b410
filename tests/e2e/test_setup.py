"""End-to-end: the web site setup, typed into and clicked in the real window.

Each story is one program run under Xvfb; its checks read what the program
wrote: the site list's bytes, the data folder, the FTP server's files and log.
The FTP server and the X session are test_monitor's (one of each a module).
"""
import os
import time
import unittest

import test_monitor as tm
from harness import Program
from records import SITE_FLAGS, SITE_RECORD_SIZE, SITE_TEXTS, site_record

# Centres of the form's buttons and values (client pixels, data/screens/setup.scr).
SWITCH_SYNC, SWITCH_MIRROR, SWITCH_ACTIVE = (264, 215), (480, 215), (284, 243)
ADD_SUB_FOLDERS, DELETE, REPLACE = (116, 301), (322, 301), (526, 301)
START = (526, 333)
PASSWORD_VALUE, SECURE_FOLDER_VALUE = (300, 84), (300, 156)
TOP_LINE = (600, 8)
SITE_LIST, EMAIL_ALERTS = (116, 333), (526, 243)
# The list's "OPEN IN SETUP" of row 2 and the e-mail screen's buttons
# (data/screens/list.scr, email.scr).
LIST_OPEN_ROW_2 = (573, 148)
EMAIL_SWITCH, EMAIL_SAVE = (335, 197), (63, 459)


def setUpModule():
    tm.setUpModule()


def tearDownModule():
    tm.tearDownModule()


def records(data):
    """The site list as {field: value} per record."""
    with open(os.path.join(data, "sites.info"), "rb") as f:
        raw = f.read()
    found = []
    for at in range(0, len(raw) - SITE_RECORD_SIZE + 1, SITE_RECORD_SIZE):
        record = raw[at:at + SITE_RECORD_SIZE]
        fields = {name: record[o:o + w].split(b"\0", 1)[0].decode() for name, (o, w) in SITE_TEXTS.items()}
        fields.update({name: record[o] for name, o in SITE_FLAGS.items()})
        found.append(fields)
    return found


class SetupRun(tm.MonitorRun):
    def open(self, files=None, prepare=None, scale=1):
        env = {"KESTROVANE_TIME_SCALE": str(scale), "KESTROVANE_PROBE_URL": "http://127.0.0.1:9/"}
        self.program = Program(tm.session, tm.DIST, os.path.join(tm.DIST, "kestrovane"), args=["run"],
                               files=files, prepare=prepare, env=env)
        self.addCleanup(self.program.stop)
        time.sleep(1.5)  # the form is up and its editor waits
        return self.program

    def click(self, point, settle=0.8):
        self.program.click(*point)
        time.sleep(settle)

    def until(self, condition, what, timeout=5):
        self.assertTrue(tm.wait_for(condition, timeout), what)

    def top_line_is_warning(self):
        """The top line's band: maroon for a warning, navy for the title."""
        path = self.program.screenshot(os.path.join(tm.SHOTS, "setup-top.png"))
        red, _, blue = [int(float(v)) for v in self.program.pixel(path, *TOP_LINE)[5:-1].split(",")[:3]]
        return red > blue


class FirstStart(SetupRun):
    def test_a_site_typed_field_by_field_is_monitored(self):
        """No site list and "run": the setup opens. A site typed value by value
        (the host with a blank and more after it), switched active and started
        is worked: its baseline store appears and a tampered file is put back."""
        site = tm.Site()
        program = self.open(prepare=site.prepare, scale=60)
        self.assertFalse(os.path.exists(os.path.join(program.data, "sites.info")))
        for value in ["127.0.0.1:%s trailing words" % tm.servers.ftp["port"], site.user, "pw-" + site.user,
                      site.folder, "*.*", site.clean]:
            program.type(value)
            program.key("Return")
        self.until(lambda: records(program.data)[0]["secure"] == site.clean, "the typed values written")
        self.click(SWITCH_ACTIVE)
        self.click(START)

        [stored] = records(program.data)
        self.assertEqual((stored["host"], stored["user"], stored["password"], stored["folder"], stored["mask"]),
                         ("127.0.0.1:" + tm.servers.ftp["port"], site.user, "pw-" + site.user, site.folder, "*.*"))
        self.assertEqual((stored["active"], stored["sync"], stored["mirror"]), (1, 0, 0))
        self.wait_for_visits([site], 1, 30)
        self.until(lambda: site.data_file(program.data, ".dbf"), "the baseline store", 30)
        tm.write(os.path.join(site.web, "index.html"), tm.DEFACED)
        self.until(lambda: site.web_bytes("index.html") == tm.WEB_FILES["index.html"], "the file put back", 40)


class SiteGroups(SetupRun):
    def test_switches_replace_index_and_delete_on_a_site_group(self):
        """A site at c:\\web with a sub-folder site c:\\web\\news, a site at
        c:\\website of the same host and one of another host. The switches act
        on the group only; replace on the password changes exact matches
        only; adding sub-folder sites twice adds them once; a delete that
        cannot write its scratch copy loses nothing, one that can leaves
        every other record as it was."""
        site = site_record("ftp.example.com", "*.htm", active=0, sync=1, user="web", password="pw",
                           folder="/html", secure="c:\\web")
        news = site_record("ftp.example.com", "*.htm", active=0, user="web", password="pw", folder="/html/news",
                           secure="c:\\web\\news")
        website = site_record("ftp.example.com", "*", active=0, user="web", password="pwx", folder="/site",
                              secure="c:\\website")
        other = site_record("ftp.other.org", "*", active=0, user="me", password="pw", folder="/", secure="c:\\other")

        def prepare(data):
            drive = os.path.dirname(data)
            for folder in ["web/news", "web/img/icons", "website"]:
                os.makedirs(os.path.join(drive, folder))
            os.mkdir(os.path.join(data, "temp.info"))  # the scratch copy cannot be written

        program = self.open(files={"sites.info": site + news + website + other}, prepare=prepare)
        self.program.screenshot(os.path.join(tm.SHOTS, "setup-screen.png"))

        self.click(START)
        self.assertTrue(self.top_line_is_warning(), "no active site: the setup asks for one")
        self.assertEqual(len(records(program.data)), 4, "nothing appended")

        self.click(SWITCH_ACTIVE)
        self.assertEqual([r["active"] for r in records(program.data)], [1, 1, 0, 0])
        self.click(SWITCH_MIRROR)
        self.assertEqual([(r["mirror"], r["sync"]) for r in records(program.data)], [(1, 0), (1, 0), (0, 0), (0, 0)])

        self.click(PASSWORD_VALUE)
        self.click(REPLACE, 0.5)
        program.type("n3w")
        program.key("Return")
        self.until(lambda: records(program.data)[0]["password"] == "n3w", "the password replaced")
        self.assertEqual([r["password"] for r in records(program.data)], ["n3w", "n3w", "pwx", "n3w"])

        self.click(ADD_SUB_FOLDERS)
        added = [(r["secure"], r["folder"], r["password"], r["active"]) for r in records(program.data)[4:]]
        self.assertEqual(added, [("c:\\web\\img", "/html/img", "n3w", 0), ("c:\\web\\img\\icons", "/html/img/icons",
                                                                          "n3w", 0)])
        self.click(ADD_SUB_FOLDERS)
        self.assertEqual(len(records(program.data)), 6, "the second time adds nothing")

        with open(os.path.join(program.data, "sites.info"), "rb") as f:
            before = f.read()
        self.click(DELETE)
        with open(os.path.join(program.data, "sites.info"), "rb") as f:
            self.assertEqual(f.read(), before, "a failed delete loses nothing")
        self.assertTrue(self.top_line_is_warning(), "and says so")

        os.rmdir(os.path.join(program.data, "temp.info"))
        self.click(DELETE)
        with open(os.path.join(program.data, "sites.info"), "rb") as f:
            after = f.read()
        self.assertEqual(after, before[2 * SITE_RECORD_SIZE:3 * SITE_RECORD_SIZE] + before[3 * SITE_RECORD_SIZE:
                                                                                        4 * SITE_RECORD_SIZE])
        self.assertFalse(os.path.exists(os.path.join(program.data, "temp.info")))


class SubFolderSite(SetupRun):
    def test_a_sub_folder_site_switches_alone(self):
        """Shown at c:\\web\\news, a site of the same host at c:\\web is not part
        of its group: the switch changes the shown record only."""
        news = site_record("ftp.example.com", "*", active=0, user="web", password="pw", folder="/news",
                           secure="c:\\web\\news")
        web = site_record("ftp.example.com", "*", active=0, user="web", password="pw", folder="/",
                          secure="c:\\web")
        program = self.open(files={"sites.info": news + web})
        self.click(SWITCH_ACTIVE)
        self.assertEqual([r["active"] for r in records(program.data)], [1, 0])


class FolderBrowser(SetupRun):
    def test_the_chosen_folder_keeps_its_blanks(self):
        """A click on the secure folder opens the folder browser (the GTK
        chooser); the folder chosen, whose name holds a blank, becomes the
        secure folder and stays whole when a button is clicked next."""
        def prepare(data):
            os.makedirs(os.path.join(os.path.dirname(data), "my web"))

        record = site_record("ftp.example.com", "*", active=0, user="web", password="pw", folder="/", secure="c:\\web")
        program = self.open(files={"sites.info": record}, prepare=prepare)
        chosen = os.path.join(os.path.dirname(program.data), "my web")
        self.click(SECURE_FOLDER_VALUE, 2)
        tm.session.run("xdotool", "key", "ctrl+l")  # the chooser's location entry
        time.sleep(0.3)
        tm.session.run("xdotool", "type", "--delay", "20", chosen + "/")
        time.sleep(0.5)
        tm.session.run("xdotool", "key", "Return")
        self.until(lambda: records(program.data)[0]["secure"] == chosen, "the chosen folder written")
        self.click(SWITCH_ACTIVE)
        [stored] = records(program.data)
        self.assertEqual((stored["secure"], stored["active"]), (chosen, 1))


if __name__ == "__main__":
    unittest.main()


class ListAndEmailFromTheSetup(SetupRun):
    def test_the_setup_opens_the_picked_record_and_its_alert_settings(self):
        """"Site list" opens the list, whose pick the setup then shows; "E-mail
        alerts..." edits that record's alert settings and saves them there."""
        first = site_record("ftp.one.example", "*", active=0, user="u1", password="p1", secure="c:\\one")
        second = site_record("ftp.two.example", "*", active=0, user="u2", password="p2", secure="c:\\two",
                             recipient="web@two.example", mail_server="mail.two.example", mail_user="alerts",
                             mail_password="s3cret", mail_port=25)
        program = self.open(files={"sites.info": first + second})
        self.click(SITE_LIST)
        self.click(LIST_OPEN_ROW_2)
        self.click(SWITCH_ACTIVE)
        self.assertEqual([r["active"] for r in records(program.data)], [0, 1])
        self.click(EMAIL_ALERTS)
        self.click(EMAIL_SWITCH)
        self.click(EMAIL_SAVE)
        self.assertEqual([r["alerts"] for r in records(program.data)], [0, 1])
        self.assertEqual(records(program.data)[1]["mail_server"], "mail.two.example")
