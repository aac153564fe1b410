#!/usr/bin/python3
"""Start-up time: from starting the program to the monitor screen on the display.

Starts the program of a distribution folder several times on one private Xvfb
screen (a fresh drive each time) and watches one pixel of its window, where
the monitor screen's bottom band is navy; the time until that pixel turns
navy is one sample. Prints every sample and the median; the target is under
150 ms. Usage: bench/startup.py [distribution folder] [runs]
"""
import ctypes
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import Program, Session  # noqa: E402

DIST = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/Kestrovane")
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 9
NAVY = 0x000080
PROBE = (300, 470)  # client pixel inside the bottom band

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


def pixel(display, root, x, y):
    image = x11.XGetImage(display, root, x, y, 1, 1, 0xFFFFFFFF, 2)  # ZPixmap
    if not image:
        return None
    value = x11.XGetPixel(image, 0, 0) & 0xFFFFFF
    x11.XDestroyImage(image)
    return value


def main():
    session = Session()
    display = x11.XOpenDisplay(session.display.encode())
    root = x11.XDefaultRootWindow(display)
    samples = []
    try:
        for _ in range(RUNS):
            program = Program(session, DIST, os.path.join(DIST, "kestrovane"))
            # Without a window manager the window sits at the screen's top left.
            x, y = PROBE[0], PROBE[1] + program.client_top
            deadline = time.monotonic() + 10
            while pixel(display, root, x, y) != NAVY and time.monotonic() < deadline:
                time.sleep(0.001)
            samples.append((time.monotonic() - program.started) * 1000)
            program.request_close()
            program.wait()
            program.stop()
    finally:
        session.close()
    print("start-up to the monitor screen, ms:", " ".join(f"{s:.0f}" for s in samples))
    median = statistics.median(samples)
    print(f"median {median:.0f} ms (target: under 150 ms)")


if __name__ == "__main__":
    main()
