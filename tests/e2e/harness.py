"""Runs the real program in a real window on a private X server.

Session starts Xvfb on a free display; Program starts a program of the
distribution folder on it with a fresh drive (KESTROVANE_DRIVE, or a fresh
Wine prefix for the Windows build), finds its window, clicks and types with
xdotool, takes screenshots with ImageMagick, asks the window to close as a
window manager's close button does, and stops the program. Standard library
only; run with /usr/bin/python3.
"""
import os
import shutil
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CLOSE_REQUEST = os.path.join(HERE, "..", "platform", "close_request.py")
CLIENT_WIDTH, CLIENT_HEIGHT = 640, 480


class Session:
    """One Xvfb screen on a display number it picks itself."""

    def __init__(self, width=1024, height=768):
        read, write = os.pipe()
        self.server = subprocess.Popen(
            # -noreset: an X server resets when its last client leaves, and a
            # program that connects during the reset loses its window.
            ["Xvfb", "-displayfd", str(write), "-screen", "0", f"{width}x{height}x24", "-nolisten", "tcp",
             "-noreset"],
            pass_fds=[write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read, 16)
            if not chunk:
                raise RuntimeError("Xvfb did not start")
            number += chunk
        os.close(read)
        self.display = ":" + number.decode().strip()
        self.env = dict(os.environ, DISPLAY=self.display)

    def run(self, *args, check=True):
        return subprocess.run(list(args), env=self.env, check=check, capture_output=True, text=True).stdout

    def close(self):
        self.server.terminate()
        self.server.wait(timeout=10)


class Program:
    """A program of the distribution folder, installed on a fresh drive."""

    def __init__(self, session, dist, executable, args=(), wine=False, title="KESTROVANE", files=None, env=None,
                 prepare=None, window=True):
        """files: {name: bytes} written into the data folder before the start
        (a name may hold "/"); prepare(data folder), when given, runs after
        them; env: settings added to the program's environment. window=False:
        the program may end before its window could be found, and is only
        started."""
        self.session = session
        self.drive = tempfile.mkdtemp(prefix="kv-e2e-")
        self.env = dict(session.env, **(env or {}))
        self.wine = wine
        if wine:
            prefix = os.path.join(self.drive, "prefix")
            self.env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
            subprocess.run(["wineboot", "-i"], env=self.env, capture_output=True)
            data = os.path.join(prefix, "drive_c", "Kestrovane")
            command = ["wine", os.path.join(data, os.path.basename(executable))]
            # Started from C:\, so that "\Kestrovane" names the installed folder.
            cwd = os.path.join(prefix, "drive_c")
        else:
            self.env["KESTROVANE_DRIVE"] = self.drive
            data = os.path.join(self.drive, "Kestrovane")
            command = [executable]
            cwd = self.drive
        shutil.copytree(dist, data, dirs_exist_ok=True)
        for name, content in (files or {}).items():
            path = os.path.join(data, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(content)
        if prepare:
            prepare(data)
        self.data = data
        self.started = time.monotonic()
        self.process = subprocess.Popen(command + list(args), env=self.env, cwd=cwd, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        if not window:
            return
        # Wine starts its own services with the first program of a prefix.
        self.window = self._find_window(title, timeout=90 if wine else 30)
        geometry = self.session.run("xdotool", "getwindowgeometry", "--shell", self.window)
        values = dict(line.split("=") for line in geometry.split())
        self.width, self.height = int(values["WIDTH"]), int(values["HEIGHT"])
        # The menu bar sits above the client area, which is the window's bottom part.
        self.client_top = self.height - CLIENT_HEIGHT if not wine else 0

    def _find_window(self, title, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError(f"the program ended with {self.process.returncode} before its window opened")
            found = self.session.run("xdotool", "search", "--onlyvisible", "--name", title, check=False).split()
            if found:
                return found[0]
            time.sleep(0.05)
        raise RuntimeError(f"no window named {title!r} within {timeout} s")

    def focus(self):
        self.session.run("xdotool", "windowfocus", "--sync", self.window, check=False)

    def click(self, x, y, button=1):
        """Clicks at client pixel (x, y)."""
        self.session.run("xdotool", "mousemove", "--window", self.window, str(x), str(y + self.client_top),
                         "click", str(button))

    def type(self, text):
        self.focus()
        self.session.run("xdotool", "type", "--delay", "30", text)

    def key(self, *names):
        self.focus()
        self.session.run("xdotool", "key", "--delay", "30", *names)

    def screenshot(self, path):
        self.session.run("import", "-window", self.window, path)
        return path

    def pixel(self, path, x, y):
        """The (r, g, b) of client pixel (x, y) in a screenshot."""
        out = self.session.run("convert", path, "-format", f"%[pixel:p{{{x},{y + self.client_top}}}]", "info:")
        return out.strip()

    def request_close(self):
        subprocess.run(["/usr/bin/python3", CLOSE_REQUEST, self.window], env=self.env, check=True)

    def wait(self, timeout=15):
        return self.process.wait(timeout=timeout)

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()
        if self.wine:
            subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True)
        shutil.rmtree(self.drive, ignore_errors=True)


def region(session, program, path, x, y, width, height):
    """The raw RGB bytes of a client rectangle of a screenshot."""
    geometry = f"{width}x{height}+{x}+{y + program.client_top}"
    return subprocess.run(["convert", path, "-crop", geometry, "rgb:-"], env=session.env, check=True,
                          capture_output=True).stdout
