"""The distributions as a user gets them.

DebianPackage installs the .deb named by KV_DEB on this machine (root only),
starts the program as the menu does, by the launcher on PATH, under Xvfb, and
removes the package again whatever happened. WindowsZip reads the listing of
the zip named by KV_ZIP against the Windows distribution folder KV_WIN_DIST.
"""
import os
import shutil
import subprocess
import tempfile
import time
import unittest
import zipfile

from harness import CLOSE_REQUEST, Session

DEB = os.environ.get("KV_DEB", "")
DIST = os.environ.get("KV_DIST", "")
ZIP = os.environ.get("KV_ZIP", "")
WIN_DIST = os.environ.get("KV_WIN_DIST", "")
# Once the installer is among the sources, every distribution must bring it.
HAS_INSTALLER = os.path.isdir(os.path.join(os.path.dirname(__file__), "..", "..", "install"))
LIB = "/usr/lib/kestrovane"


def read(*parts):
    with open(os.path.join(*parts), "rb") as f:
        return f.read()


def distributed(folder):
    """The names of a distribution folder that a distribution brings (the
    installer moves no name beginning with ".", so none is shipped)."""
    return {name for name in os.listdir(folder) if not name.startswith(".")}


def dpkg(*args):
    return subprocess.run(["dpkg", *args], capture_output=True, text=True)


@unittest.skipUnless(DEB and os.geteuid() == 0, "needs KV_DEB and root")
class DebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.addClassCleanup(dpkg, "--purge", "kestrovane")
        installed = dpkg("-i", DEB)
        if installed.returncode != 0:
            raise RuntimeError("dpkg -i failed:\n" + installed.stdout + installed.stderr)
        cls.session = Session()
        cls.addClassCleanup(cls.session.close)

    def test_depends_on_the_libraries_and_fonts_it_uses(self):
        depends = dpkg("-s", "kestrovane").stdout.split("\nDepends:")[1].split("\n")[0]
        names = {alternative.split()[0] for part in depends.split(",") for alternative in part.split("|")}
        for needed in ("libcurl4", "libfreetype6", "fonts-liberation", "fonts-dejavu-core"):
            self.assertIn(needed, names)
        self.assertTrue({"libgtk-3-0", "libgtk-3-0t64"} & names, depends)

    def test_files_are_in_place(self):
        files = set(dpkg("-L", "kestrovane").stdout.split())
        for path in ("/usr/bin/kestrovane", f"{LIB}/kestrovane", "/usr/share/applications/kestrovane.desktop",
                     "/usr/share/icons/hicolor/32x32/apps/kestrovane.png"):
            self.assertIn(path, files)
        self.assertTrue(os.access("/usr/bin/kestrovane", os.X_OK))
        shipped = set(os.listdir(LIB))
        self.assertNotIn("install", shipped, "the package is the installation: no installer")
        if DIST:
            self.assertEqual(shipped, distributed(DIST) - {"install"}, "every file of the distribution folder")
        with open("/usr/share/applications/kestrovane.desktop") as f:
            entry = f.read().split("\n")
        for line in ("Exec=kestrovane", "Icon=kestrovane", "Terminal=false", "Categories=Network;"):
            self.assertIn(line, entry)

    def start(self, env):
        """Starts `kestrovane` as the menu does, waits for its window, closes it."""
        errors = tempfile.TemporaryFile()
        self.addCleanup(errors.close)
        process = subprocess.Popen(["kestrovane"], env=env, cwd="/", stdout=subprocess.DEVNULL, stderr=errors)
        try:
            deadline = time.monotonic() + 30
            window = []
            while not window:
                if process.poll() is not None:
                    errors.seek(0)
                    self.fail(f"the program ended before its window opened: {errors.read().decode(errors='replace')}")
                self.assertLess(time.monotonic(), deadline, "no window within 30 s")
                window = self.session.run("xdotool", "search", "--onlyvisible", "--name", "^KESTROVANE",
                                          check=False).split()
                time.sleep(0.05)
            subprocess.run(["/usr/bin/python3", CLOSE_REQUEST, window[0]], env=env, check=True)
            self.assertEqual(process.wait(timeout=15), 0)
        finally:
            if process.poll() is None:
                process.kill()
            process.wait()

    def test_first_start_fills_the_data_folder_and_later_ones_keep_the_users_files(self):
        home = tempfile.mkdtemp(prefix="kv home ")  # a blank in the name
        self.addCleanup(shutil.rmtree, home, ignore_errors=True)
        # An empty setting counts as unset: the data folder is $HOME/Kestrovane.
        env = dict(self.session.env, HOME=home, KESTROVANE_DRIVE="")
        self.start(env)
        data = os.path.join(home, "Kestrovane")
        packaged = sorted(set(os.listdir(LIB)) - {"kestrovane"})
        for name in packaged:
            self.assertEqual(read(LIB, name), read(data, name), name)
        self.assertNotIn("kestrovane", os.listdir(data), "the program runs from the package")

        # The user's change is newer than the package's file; a file older than
        # it is left from an earlier package. The data folder, spelled in
        # another case, is found as the program finds it.
        changed, stale = os.path.join(data, "rttw.ini"), os.path.join(data, "KSVHELP.TXT")
        with open(changed, "ab") as f:
            f.write(b"; the user's own line\n")
        with open(stale, "wb") as f:
            f.write(b"an older help text")
        os.utime(stale, (1e9, 1e9))
        mine = read(changed)
        os.rename(data, os.path.join(home, "KESTROVANE"))
        data = os.path.join(home, "KESTROVANE")
        self.start(env)
        self.assertNotIn("Kestrovane", os.listdir(home))
        self.assertEqual(read(data, "rttw.ini"), mine)
        self.assertEqual(read(data, "KSVHELP.TXT"), read(LIB, "KSVHELP.TXT"))

    def test_a_start_that_cannot_work_ends_with_a_reason(self):
        drive = tempfile.mkdtemp(prefix="kv-drive-")
        self.addCleanup(shutil.rmtree, drive, ignore_errors=True)
        blocked = os.path.join(drive, "blocked")
        os.makedirs(blocked)
        open(os.path.join(blocked, "Kestrovane"), "w").close()  # a file in the data folder's place
        headless = {k: v for k, v in self.session.env.items() if k != "DISPLAY"}
        for settings, reason in ((dict(self.session.env, KESTROVANE_DRIVE=blocked), blocked),
                                 (dict(self.session.env, KESTROVANE_DRIVE=blocked + "/missing"), "missing"),
                                 (dict(headless, KESTROVANE_DRIVE=drive), "display")):
            run = subprocess.run(["kestrovane"], env=settings, capture_output=True, text=True, timeout=30)
            self.assertEqual(run.returncode, 1, run.stderr)
            self.assertIn(reason, run.stderr)
        # The data files are in place before the program finds it has no display.
        self.assertIn("kestrvane.bk", os.listdir(os.path.join(drive, "Kestrovane")))


@unittest.skipUnless(ZIP and WIN_DIST, "needs KV_ZIP and KV_WIN_DIST")
class WindowsZip(unittest.TestCase):
    def test_the_zip_holds_the_distribution_folder(self):
        with zipfile.ZipFile(ZIP) as archive:
            names = {name for name in archive.namelist() if not name.endswith("/")}
        expected = {"Kestrovane/" + name for name in distributed(WIN_DIST)} | {"Kestrovane/kestrovane.exe"}
        self.assertEqual(names, expected)
        for name in ("kestrvane.bk", "kvscreens.lib", "KSVHELP.TXT", "rttw.ini") + (
                ("install.exe",) if HAS_INSTALLER else ()):
            self.assertIn("Kestrovane/" + name, names)


if __name__ == "__main__":
    unittest.main()
