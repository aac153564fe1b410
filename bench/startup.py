#!/usr/bin/python3
"""Start-up time: from starting the program to the monitor screen on the display.

Starts the program of a distribution folder several times on one private Xvfb
screen (a fresh drive each time) and watches one pixel of its window, where
the monitor screen's bottom band is navy; the time until that pixel turns
navy is one sample. The window is looked for through Xlib every millisecond
(its name, mapped and viewable), so the sample is the program's time and not
the polling interval of a helper process. Beside it, run for run, its peer:
bench/startup_floor of the same build folder, GTK alone opening a window like
the program's and painting the band. Prints the program's samples, the median
and spread of each side and the ratio of the medians; the target is a median
under 150 ms.
Usage: bench/startup.py [distribution folder] [runs]
"""
import ctypes
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import CLIENT_HEIGHT, CLOSE_REQUEST, Session  # noqa: E402

DIST = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/Kestrovane")
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 9
FLOOR = os.path.join(os.path.dirname(DIST), "bench", "startup_floor")
TITLE = b"KESTROVANE"
NAVY = 0x000080
PROBE = (300, 470)  # client pixel inside the bottom band
IS_VIEWABLE = 2


class WindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("c_class", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
                ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XGetImage.restype = ctypes.c_void_p
x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint, ctypes.c_uint,
                          ctypes.c_ulong, ctypes.c_int]
x11.XGetPixel.restype = ctypes.c_ulong
x11.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
x11.XDestroyImage.argtypes = [ctypes.c_void_p]
x11.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                           ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                           ctypes.POINTER(ctypes.c_uint)]
x11.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(WindowAttributes)]
x11.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
x11.XFree.argtypes = [ctypes.c_void_p]
# A window that goes between listing and asking about it is an X error, not the end of the bench.
ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
IGNORE_ERRORS = ERROR_HANDLER(lambda display, event: 0)
x11.XSetErrorHandler.restype = ctypes.c_void_p
x11.XSetErrorHandler.argtypes = [ERROR_HANDLER]
x11.XSetErrorHandler(IGNORE_ERRORS)


def pixel(display, root, x, y):
    image = x11.XGetImage(display, root, x, y, 1, 1, 0xFFFFFFFF, 2)  # ZPixmap
    if not image:
        return None
    value = x11.XGetPixel(image, 0, 0) & 0xFFFFFF
    x11.XDestroyImage(image)
    return value


def viewable_window(display, root):
    """(id, attributes) of the viewable top-level window whose name begins with TITLE, or None.
    Without a window manager the program's window is a child of the root."""
    root_out, parent, children, count = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.POINTER(ctypes.c_ulong)(), \
        ctypes.c_uint()
    if not x11.XQueryTree(display, root, ctypes.byref(root_out), ctypes.byref(parent), ctypes.byref(children),
                          ctypes.byref(count)):
        return None
    try:
        for i in range(count.value):
            window = children[i]
            attributes = WindowAttributes()
            if not x11.XGetWindowAttributes(display, window, ctypes.byref(attributes)):
                continue
            if attributes.map_state != IS_VIEWABLE:
                continue
            name = ctypes.c_char_p()
            if x11.XFetchName(display, window, ctypes.byref(name)) and name.value is not None:
                found = name.value.startswith(TITLE)
                x11.XFree(name)
                if found:
                    return window, attributes
    finally:
        if children:
            x11.XFree(children)
    return None


def one_start(session, display, root, command, dist=None, args=()):
    """Milliseconds from starting command to the navy band on the display;
    dist, when given, is installed on the fresh drive first."""
    drive = tempfile.mkdtemp(prefix="kv-startup-")
    if dist:
        shutil.copytree(dist, os.path.join(drive, "Kestrovane"))
    env = dict(session.env, KESTROVANE_DRIVE=drive)
    started = time.monotonic()
    process = subprocess.Popen([command, *args], env=env, cwd=drive, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = started + 10
        found = None
        while found is None and time.monotonic() < deadline and process.poll() is None:
            found = viewable_window(display, root)
            if found is None:
                time.sleep(0.001)
        if found is None:
            raise RuntimeError(f"the window of {command} did not open")
        window, attributes = found
        # The menu bar sits above the client area, which is the window's bottom part.
        x = attributes.x + PROBE[0]
        y = attributes.y + attributes.height - CLIENT_HEIGHT + PROBE[1]
        while pixel(display, root, x, y) != NAVY and time.monotonic() < deadline:
            time.sleep(0.001)
        if time.monotonic() >= deadline:
            raise RuntimeError(f"the navy band of {command} did not appear")
        sample = (time.monotonic() - started) * 1000
        subprocess.run(["/usr/bin/python3", CLOSE_REQUEST, str(window)], env=env, check=True)
        process.wait(timeout=15)
        return sample
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
        shutil.rmtree(drive, ignore_errors=True)


def summary(samples):
    ordered = sorted(samples)
    quartile = len(ordered) // 4
    return (f"median {statistics.median(samples):.0f} ms, quartiles {ordered[quartile]:.0f}..{ordered[-1 - quartile]:.0f},"
            f" range {ordered[0]:.0f}..{ordered[-1]:.0f}")


def main():
    session = Session()
    display = x11.XOpenDisplay(session.display.encode())
    root = x11.XDefaultRootWindow(display)
    has_floor = os.access(FLOOR, os.X_OK)
    ours, floor = [], []
    try:
        for _ in range(RUNS):
            ours.append(one_start(session, display, root, os.path.join(DIST, "kestrovane"), DIST,
                                  # A rate: the monitor screen, not the setup a bare start opens.
                                  args=["5"]))
            if has_floor:
                floor.append(one_start(session, display, root, FLOOR))
    finally:
        session.close()
    print("start-up to the monitor screen, ms:", " ".join(f"{s:.0f}" for s in ours))
    print(f"kestrovane     {summary(ours)} (target: under 150 ms)")
    if floor:
        print(f"startup_floor  {summary(floor)}")
        print(f"ratio kestrovane / startup_floor (medians): {statistics.median(ours) / statistics.median(floor):.2f}")
    else:
        print(f"no peer: {FLOOR} is not built")


if __name__ == "__main__":
    main()
