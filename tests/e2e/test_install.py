"""End-to-end: the installer moves a distribution into the data folder.

Each story is one run of the real installer (from the distribution folder of
the build) over a test distribution whose program file is started_probe, a
stand-in that writes its current folder and arguments to started.txt; the
checks read what the folders hold afterwards, the four console lines and the
exit code. On Linux the drive root, home and XDG folders are fresh temporary
folders. The same stories run under Wine (a fresh prefix and home) when
KV_WIN_DIST names the Windows distribution folder.
"""
import glob
import os
import re
import shutil
import stat
import subprocess
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
DIST = os.environ.get("KV_DIST", os.path.join(HERE, "../../build/Kestrovane"))
PROBE = os.environ.get("KV_STARTED_PROBE", os.path.join(HERE, "../../build/tests/e2e/started_probe"))
WIN_DIST = os.environ.get("KV_WIN_DIST", "")
WIN_PROBE = os.environ.get("KV_WIN_STARTED_PROBE",
                           os.path.join(WIN_DIST, "..", "tests", "e2e", "started_probe.exe") if WIN_DIST else "")


def lines(current):
    return ["Creating Kestrovane Folders...", "Installing Kestrovane Files...",
            "Transferring Files from %s to \\Kestrovane Folder..." % current,
            "Installation or Update is Complete...Starting Kestrovane"]


def write(path, content):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(content)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def tree(folder):
    """{relative path: bytes} of every file under folder ("/" separated)."""
    found = {}
    for parent, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(parent, name)
            found[os.path.relpath(path, folder).replace(os.sep, "/")] = read(path)
    return found


def exec_program(value):
    """The one program word of a desktop entry's Exec value, read by the
    entry format's rules: string escapes, then a double-quoted word in which
    a backslash takes the next character literally, and "%%" is "%"."""
    value = re.sub(r"\\(.)", lambda m: {"s": " ", "n": "\n", "t": "\t", "r": "\r"}.get(m.group(1), m.group(1)),
                   value)
    if not (len(value) >= 2 and value[0] == value[-1] == '"'):
        return None
    word, quoted = "", iter(value[1:-1])
    for c in quoted:
        if c == "\\":
            c = next(quoted)
        elif c == "%" and next(quoted) != "%":
            return None
        elif c in '"`$':
            return None  # must be escaped inside the quotes
        word += c
    return word


class Machine:
    """A fresh drive and user for one installer run: Linux (KESTROVANE_DRIVE,
    HOME and XDG folders) or Wine (a prefix whose drive C: is the drive)."""

    def __init__(self, wine):
        self.wine = wine
        self.base = tempfile.mkdtemp(prefix="kv-install-")
        # On Linux a home whose name needs quoting in a desktop entry.
        home = os.path.join(self.base, "home" if wine else "my home $1 \"%`'")
        os.makedirs(os.path.join(home, "Desktop"))
        self.env = dict(os.environ, HOME=home, XDG_DATA_HOME=os.path.join(self.base, "xdg-data"),
                        XDG_CONFIG_HOME=os.path.join(self.base, "xdg-config"))
        if wine:
            self.env.update(WINEPREFIX=os.path.join(self.base, "prefix"), WINEDEBUG="-all",
                            WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=")
            subprocess.run(["wineboot", "-i"], env=self.env, capture_output=True, timeout=300)
            self.drive = os.path.join(self.base, "prefix", "drive_c")
            self.installer_name, self.program_name = "INSTALL.EXE", "kestrovane.exe"
            self.installer, self.probe = os.path.join(WIN_DIST, "install.exe"), WIN_PROBE
        else:
            self.drive = os.path.join(self.base, "drive")
            os.makedirs(self.drive)
            self.env["KESTROVANE_DRIVE"] = self.drive
            self.installer_name, self.program_name = "install", "kestrovane"
            self.installer, self.probe = os.path.join(DIST, "install"), PROBE
        self.data = os.path.join(self.drive, "Kestrovane")

    def close(self):
        if self.wine:
            subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True)
        shutil.rmtree(self.base, ignore_errors=True)

    def copy_folders(self):
        """The three folders that get a copy of the program file."""
        if self.wine:
            user = [path for path in glob.glob(os.path.join(self.drive, "users", "*", "Desktop"))
                    if os.path.basename(os.path.dirname(path)) != "Public"][0]
            roaming = os.path.join(os.path.dirname(user), "AppData", "Roaming")
            programs = os.path.join(roaming, "Microsoft", "Windows", "Start Menu", "Programs")
            return [user, os.path.join(roaming, "Microsoft", "Internet Explorer", "Quick Launch"),
                    os.path.join(programs, "Haldimark")]
        data_home = self.env["XDG_DATA_HOME"]
        return [os.path.join(self.env["HOME"], "Desktop"),
                os.path.join(data_home, "Microsoft", "Internet Explorer", "Quick Launch"),
                os.path.join(data_home, "applications", "Haldimark")]

    def copy_name(self):
        return "Kestrovane.Exe" if self.wine else "Kestrovane"

    def distribution(self, parent, extra=None):
        """Unpacks a test distribution into parent/Kestrovane: the installer,
        the stand-in as the program file, and `extra` files."""
        folder = os.path.join(parent, "Kestrovane")
        os.makedirs(folder, exist_ok=True)
        shutil.copy2(self.installer, os.path.join(folder, self.installer_name))
        shutil.copy2(self.probe, os.path.join(folder, self.program_name))
        for name, content in (extra or {}).items():
            write(os.path.join(folder, name), content)
        return folder

    def windows_path(self, native):
        """The folder as the installer names it: on drive C:."""
        return "C:\\" + os.path.relpath(native, self.drive).replace(os.sep, "\\").lstrip(".")

    def install(self, start, installer):
        """Runs the installer from folder `start`; its (exit code, stdout
        lines, stderr)."""
        command = ["wine", installer] if self.wine else [installer]
        done = subprocess.run(command, cwd=start, env=self.env, capture_output=True, timeout=240)
        out = done.stdout.decode("latin-1").replace("\r\n", "\n").splitlines()
        return done.returncode, out, done.stderr.decode("latin-1")

    def started(self, timeout=30):
        """The stand-in's (current folder, arguments), once it ran."""
        path = os.path.join(self.data, "started.txt")
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(path):
                text = read(path).decode("latin-1").replace("\r\n", "\n")
                if text.count("\n") >= 2:
                    return tuple(text.split("\n")[:2])
            time.sleep(0.1)
        return None


class Stories:
    """The installer's stories; a subclass says on which system."""

    WINE = False

    def setUp(self):
        self.machine = Machine(self.WINE)
        self.addCleanup(self.machine.close)

    def test_update_over_an_existing_installation(self):
        """Replaces what the distribution brings, keeps the user's files,
        leaves dot names and the installer behind, moves a new sub-folder
        whole and merges one the installation has; makes the three copies
        (and the desktop entries on Linux) and starts the program in the data
        folder without arguments."""
        m = self.machine
        write(os.path.join(m.data, "KSVHELP.TXT"), b"old help")
        write(os.path.join(m.data, "sites.info"), b"the user's site list")
        write(os.path.join(m.data, "help", "shared.txt"), b"old shared")
        write(os.path.join(m.data, "help", "user-notes.txt"), b"the user's notes")
        write(os.path.join(m.copy_folders()[1], m.copy_name()), b"old quick launch copy")
        start = os.path.join(m.drive, "downloads")
        brought = {"KSVHELP.TXT": b"new help", "kestrovane.png": b"png", "screens/monitor.scr": b"scr",
                   "screens/deep/x.bin": b"x", "help/shared.txt": b"new shared"}
        skipped = {".hidden": b"h", ".git/config": b"c"}
        if not m.wine:
            skipped["Install.exe"] = b"the installer's name in another case"
        source = m.distribution(start, dict(brought, **skipped))

        code, out, err = m.install(start, os.path.join(source, m.installer_name))

        self.assertEqual(code, 0)
        self.assertEqual(out, lines(m.windows_path(start)), err)
        self.assertEqual(m.started(), ("C:\\Kestrovane", ""), "started in the data folder without arguments")
        probe = read(m.probe)
        expected = dict(brought, **{"sites.info": b"the user's site list", "help/user-notes.txt": b"the user's notes",
                                    m.program_name: probe})
        installed = tree(m.data)
        installed.pop("started.txt")
        self.assertEqual(installed, expected)
        left = dict(skipped, **{m.installer_name: read(m.installer)})
        self.assertEqual(tree(source), left, "only dot names and the installer stay; merged folders removed")
        self.assertEqual(sorted(os.listdir(source)), sorted({name.split("/")[0] for name in left}))
        for folder in m.copy_folders():
            self.assertEqual(read(os.path.join(folder, m.copy_name())), probe, folder)
        if not m.wine:
            desktop, _, menu = m.copy_folders()
            for folder in (desktop, menu):
                self.assertDesktopEntry(folder, os.path.join(folder, "Kestrovane"), os.path.join(m.data, "kestrovane.png"))

    def assertDesktopEntry(self, folder, program, icon):
        path = os.path.join(folder, "kestrovane.desktop")
        self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o755)
        text = read(path).decode()
        self.assertTrue(text.startswith("[Desktop Entry]\n"), text)
        keys = dict(line.split("=", 1) for line in text.splitlines()[1:])
        self.assertEqual(keys["Type"], "Application")
        self.assertEqual(exec_program(keys["Exec"]), program)
        self.assertEqual(keys["Icon"], icon)
        self.assertEqual(keys["Terminal"], "false")
        self.assertEqual(keys["Categories"], "Network;")
        self.assertEqual([name for name in os.listdir(folder) if name.startswith(".")], [], "no scratch file left")

    def test_without_a_distribution_folder(self):
        """Only the data folder is made; the copies and the start fail, and
        each failure is one line on standard error, not on standard output."""
        m = self.machine
        start = os.path.join(m.drive, "empty")
        os.makedirs(start)
        installer = os.path.join(m.base, m.installer_name)
        shutil.copy2(m.installer, installer)

        code, out, err = m.install(start, installer)

        self.assertEqual(code, 0)
        self.assertEqual(out, lines(m.windows_path(start)))
        self.assertEqual(os.listdir(m.data), [])
        for folder in m.copy_folders():
            self.assertFalse(os.path.exists(os.path.join(folder, m.copy_name())), folder)
        failures = err.splitlines()
        self.assertTrue(any("starting" in line for line in failures), err)
        self.assertTrue(any("copying" in line for line in failures), err)

    def test_started_from_the_drive_root_loses_nothing(self):
        """The distribution unpacked at the drive root is the data folder
        itself: every file stays, and the program is started from it. On
        Linux also with the drive root reached through a link, and with the
        data folder a link to a folder the installer is started beside."""
        m = self.machine
        files = {"KSVHELP.TXT": b"help", "screens/monitor.scr": b"scr", "sites.info": b"the user's site list"}
        cases = [("root", m.drive, m.drive)]
        if not m.wine:
            # HOME=/home/me with /home a link: the drive root through a link.
            linked = os.path.join(m.base, "linked")
            os.symlink(m.base, linked)
            cases.append(("linked root", os.path.join(linked, "drive"), m.drive))
            # \Kestrovane a link to another disk's folder, started beside it.
            elsewhere = os.path.join(m.base, "elsewhere")
            os.makedirs(elsewhere)
            cases.append(("linked data folder", m.drive, elsewhere))
        for name, drive, start in cases:
            with self.subTest(name):
                m.env["KESTROVANE_DRIVE"] = drive
                shutil.rmtree(m.data, ignore_errors=True)
                if os.path.islink(m.data):
                    os.unlink(m.data)
                source = m.distribution(start, files)
                if start != m.drive:
                    os.symlink(source, m.data)
                expected = tree(source)

                code, out, _ = m.install(start, os.path.join(source, m.installer_name))

                self.assertEqual(code, 0)
                self.assertEqual(len(out), 4)
                self.assertEqual(m.started()[1], "", "started without arguments")
                os.remove(os.path.join(m.data, "started.txt"))
                self.assertEqual(tree(source), expected)
                if start != m.drive:
                    os.unlink(m.data)
                    shutil.rmtree(source)

    def test_a_long_current_folder(self):
        """A current folder of more than 99 characters is named in full and
        installed from while its paths fit the file functions; on Linux, one
        too long for them moves nothing and says why on standard error."""
        m = self.machine
        lengths = [(150, True)] + ([] if m.wine else [(270, False)])
        for length, fits in lengths:
            with self.subTest(length=length):
                shutil.rmtree(m.data, ignore_errors=True)
                start = m.drive
                while len(m.windows_path(start)) < length:
                    start = os.path.join(start, "long-folder-name-" + "x" * 30)
                source = m.distribution(start, {"KSVHELP.TXT": b"help"})

                code, out, err = m.install(start, os.path.join(source, m.installer_name))

                self.assertEqual(code, 0)
                self.assertEqual(out, lines(m.windows_path(start)))
                self.assertGreater(len(m.windows_path(start)), 99)
                if fits:
                    self.assertEqual(read(os.path.join(m.data, "KSVHELP.TXT")), b"help")
                    self.assertEqual(m.started(), ("C:\\Kestrovane", ""))
                else:
                    self.assertEqual(os.listdir(m.data), [])
                    self.assertEqual(read(os.path.join(source, "KSVHELP.TXT")), b"help")
                    self.assertIn("nothing moved", err)


class OnLinux(Stories, unittest.TestCase):
    pass


@unittest.skipUnless(WIN_DIST and os.path.exists(os.path.join(WIN_DIST, "install.exe")),
                     "needs the Windows build (KV_WIN_DIST)")
class WindowsBuildUnderWine(Stories, unittest.TestCase):
    WINE = True


if __name__ == "__main__":
    unittest.main()
