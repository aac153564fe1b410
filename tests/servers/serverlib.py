"""What every test server shares: its command line, the info file that tells
the tests where it listens, and the lifetime after which it stops."""
import argparse
import os
import signal
import socket
import threading

_cleanups = []


def _stop():
    for cleanup in _cleanups:
        try:
            cleanup()
        except Exception:
            pass
    os._exit(0)


def at_stop(cleanup):
    """Runs cleanup (say, removing a scratch home) when the server stops,
    on SIGTERM from launch.py as at the end of its lifetime."""
    _cleanups.append(cleanup)
    signal.signal(signal.SIGTERM, lambda *_: _stop())


def arguments(description, extra=None):
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--info", required=True, help="file to write once listening")
    parser.add_argument("--lifetime", type=float, default=1800.0,
                        help="seconds after which the server stops by itself")
    if extra:
        extra(parser)
    return parser.parse_args()


def free_port():
    """A port of 127.0.0.1 that nobody listens on now (for servers that
    cannot be given port 0)."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write_info(path, facts):
    """Writes the "key value" lines at once, so a reader never sees half."""
    scratch = path + ".part"
    with open(scratch, "w") as f:
        for key, value in facts:
            f.write("%s %s\n" % (key, value))
    os.replace(scratch, path)


def stop_after(seconds):
    timer = threading.Timer(seconds, _stop)
    timer.daemon = True
    timer.start()
