#!/usr/bin/env python3
"""Our own FTP server, scripted to misbehave: one port per scenario.

Every scenario speaks enough FTP for WinINet (USER, PASS, FEAT, OPTS, TYPE,
PWD, CWD, MKD, RMD, DELE, PASV, EPSV, LIST, MLSD, SIZE, RETR, STOR, NOOP,
QUIT) over an in-memory folder of its own, and breaks one step:

  plain          nothing: MLSD offered, a clean folder
  unix_list      no MLSD; LIST lines of many Unix shapes; PWD with quotes
  dos_list       no MLSD; an IIS-style (DOS) listing
  hostile_mlsd   MLSD whose names are "../evil", "a/b", "c:d", ".", "..",
                 "x" CR LF "DELE y", "q" CR "DELE z", "a\\b", "shell:.php",
                 "index.html.", "index.html ", "INDEX.HTML", "nul" NUL "z",
                 and an entry whose time has 13 digits
  hostile_list   the same names in LIST lines
  transfers      no MLSD; SIZE answered; RETR of short.bin (SIZE 1000, 500
                 bytes sent, then 226), long.bin (SIZE 1000; 1000 sent, a
                 pause, 1000 more), exact.bin (1000), trickle.bin (one byte
                 every 0.25 s until the client goes), steady.bin (16 KiB
                 every 0.4 s, 9 times)
  endless        no MLSD; SIZE refused; RETR and LIST send without end
  ls_style       no MLSD; LIST takes its argument as ls does: blanks split
                 it, so "my folder" lists nothing (226), and one starting with
                 "-" is options (the current folder is listed); without an argument
                 the folder is listed with a "total" line first, except
                 /garbage, whose listing is no listing, and /empty, which
                 gives "total 0" alone
  truncated      no MLSD; LIST in /cut (a.txt, b.txt) closes with
                 "226-Listing cut short" "226 Output truncated to 2 matches",
                 in /none (empty) with "226 Output TRUNCATED"
  drop_control   the control connection closes in the middle of a listing
  drop_data      the data connection is reset in the middle of a listing,
                 then "426" on the control connection
  refuse         STOR answered 553, DELE 550
  drop_upload    the data connection of a STOR is reset after 64 KiB, then
                 "426" on the control connection
  pasv_other     EPSV refused; PASV names 10.255.255.1 while the data port
                 listens on 127.0.0.1 only
  slow_reply     PWD answered after 30 seconds
  silent_banner  no greeting at all
  overlong       a 20,000-byte greeting line; PWD answered with a megabyte
                 that never ends its line
  multiline      multi-line replies with tricky inner lines
  split          every reply sent one byte at a time
  guarded        a clean folder with MLSD in which some names are guarded:
                 DELE of a file whose name begins "stuck" is answered 550,
                 CWD into a folder whose name begins "locked" is answered
                 550, and RETR of a file whose name begins "broken" sends
                 half of it, resets the data connection and answers 426

Info lines: "<scenario> <port>" for each, "log <folder>" where
"<scenario>.log" records every command line received (one a line, as
received), user and password.
"""
import os
import socket
import socketserver
import struct
import tempfile
import threading
import time

import serverlib

USER = "scripted"
PASSWORD = "faulty"

SCENARIOS = ["plain", "unix_list", "dos_list", "hostile_mlsd", "hostile_list",
             "drop_control", "drop_data", "refuse", "drop_upload", "pasv_other", "slow_reply",
             "silent_banner", "overlong", "multiline", "split", "transfers", "endless",
             "ls_style", "guarded", "truncated"]

HOSTILE = ["../evil", "a/b", "c:d", ".", "..", "x\r\nDELE y", "q\rDELE z", "a\\b",
           "shell:.php", "index.html.", "index.html ", "INDEX.HTML", "nul\0z"]

# transfers: name -> (size SIZE reports, bytes sent); trickle and steady are
# paced in send_file.
TRANSFERS = {"short.bin": (1000, 500), "long.bin": (1000, 2000), "exact.bin": (1000, 1000),
             "trickle.bin": (1000000, None), "steady.bin": (9 * 16384, None)}

GARBAGE = ["<html><body>403 Forbidden</body></html>", "Permission denied, sorry."]

UNIX_LINES = [
    "total 42",
    "drwxr-xr-x   2 owner group     4096 Jan  5 12:34 www",
    "dr-xr-xr-x   2 owner group     4096 Feb 29  2020 locked",
    "-rw-r--r--   1 owner group     1234 Mar  4  2021 index.html",
    "-r--r--r--   1 owner group       10 Jan  2  2020 readonly.txt",
    "-rw-r--r--   1 owner         77 Aug  9  2022 nogroup.htm",
    "-rw-r--r--   1 owner group 5000000000 Jun  1  2023 huge.bin",
    "lrwxrwxrwx   1 owner group       11 Jul  7  2019 link.htm -> index.html",
    "-rw-r--r--   1 owner group        3 Sep  9  2019 name with  spaces.txt",
    "crw-r--r--   1 owner group     1, 3 Jan  1  2020 device",
    "garbage that is no listing line",
    "-rw-r--r--   1 owner group       10 Feb 30  2021 feb30.txt",
    "-rw-r--r--   1 owner group       10 Jan  1 10000 y10000.txt",
]

DOS_LINES = [
    "01-05-20  12:34PM       <DIR>          www",
    "03-04-21  05:06AM                 1234 index.html",
    "12-31-1999  11:59PM               77 old.htm",
    "06-01-23  00:15                   12 clock24.txt",
]


def unix_line(name, size=5):
    return "-rw-r--r--   1 owner group %8d Jan  1  2020 %s" % (size, name)


class State:
    """The in-memory folder of one scenario: paths -> bytes (None = folder)."""

    def __init__(self, scenario):
        self.lock = threading.Lock()
        self.entries = {"/": None, "/www": None}
        if scenario == "ls_style":
            self.entries.update({"/my folder": None, "/my folder/inside.txt": b"in",
                                 "/empty": None, "/garbage": None})
        if scenario == "truncated":
            self.entries.update({"/cut": None, "/cut/a.txt": b"a", "/cut/b.txt": b"bb",
                                 "/none": None})


class Handler(socketserver.StreamRequestHandler):
    scenario = "plain"
    state = None
    log_path = None

    def setup(self):
        super().setup()
        self.cwd = "/"
        self.pasv = None
        self.logged_in = False

    # Output.
    def reply(self, text):
        data = (text + "\r\n").encode("latin-1")
        if self.scenario == "split":
            self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            for i in range(len(data)):
                self.wfile.write(data[i:i + 1])
                self.wfile.flush()
                time.sleep(0.002)
        else:
            self.wfile.write(data)
            self.wfile.flush()

    def log(self, line):
        with open(self.log_path, "ab") as f:
            f.write(line + b"\n")

    # Paths of the in-memory folder.
    def path(self, name):
        name = name or "."
        base = name if name.startswith("/") else self.cwd.rstrip("/") + "/" + name
        parts = []
        for part in base.split("/"):
            if part in ("", "."):
                continue
            if part == "..":
                if parts:
                    parts.pop()
            else:
                parts.append(part)
        return "/" + "/".join(parts)

    @staticmethod
    def guarded(path, prefix):
        return path.rsplit("/", 1)[-1].startswith(prefix)

    def children(self, folder):
        prefix = folder.rstrip("/") + "/"
        with self.state.lock:
            return sorted((p[len(prefix):], v) for p, v in self.state.entries.items()
                          if p.startswith(prefix) and "/" not in p[len(prefix):] and p != folder)

    # The data connection.
    def open_pasv(self):
        if self.pasv:
            self.pasv.close()
        self.pasv = socket.socket()
        self.pasv.bind(("127.0.0.1", 0))
        self.pasv.listen(1)
        self.pasv.settimeout(20)
        return self.pasv.getsockname()[1]

    def accept_data(self):
        if not self.pasv:
            self.reply("425 Use PASV first.")
            return None
        try:
            data, _ = self.pasv.accept()
        except OSError:
            self.reply("425 Can't open data connection.")
            return None
        finally:
            self.pasv.close()
            self.pasv = None
        return data

    def listing_lines(self, mlsd):
        s = self.scenario
        if s == "unix_list":
            return UNIX_LINES
        if s == "dos_list":
            return DOS_LINES
        if s == "hostile_mlsd":
            return ["type=cdir;modify=20200101000000; .", "type=pdir;modify=20200101000000; .."] + \
                ["type=file;size=5;modify=20200101000000; " + n for n in HOSTILE] + \
                ["DELE w", "type=file;size=2;modify=20200101000000; safe.txt",
                 "type=file;size=2;modify=2024010203040; thirteen.txt"]
        if s == "hostile_list":
            return [unix_line(n) for n in HOSTILE] + [unix_line("safe.txt", 2)]
        if s in ("drop_control", "drop_data"):
            return [unix_line("file%04d.txt" % i) for i in range(2000)]
        lines = []
        if s == "ls_style":
            if self.cwd == "/garbage":
                return GARBAGE
            lines.append("total %d" % (4 * len(self.children(self.cwd))))
        for name, value in self.children(self.path(".")):
            if mlsd:
                kind = "dir" if value is None else "file"
                size = 0 if value is None else len(value)
                lines.append("type=%s;size=%d;modify=20240102030405;unix.mode=0644; %s"
                             % (kind, size, name))
            else:
                mode = "drwxr-xr-x" if value is None else "-rw-r--r--"
                size = 0 if value is None else len(value)
                lines.append("%s   1 owner group %8d Jan  2  2024 %s" % (mode, size, name))
        return lines

    def send_listing(self, mlsd, arg):
        data = self.accept_data()
        if not data:
            return
        self.reply("150 Here comes the listing.")
        if self.scenario == "endless":
            line = (unix_line("again.txt") + "\r\n").encode() * 1000
            self.send_until_gone(data, lambda: line)
            return
        if self.scenario == "ls_style" and arg and not arg.startswith("-"):
            # ls with two names, neither of which is there: nothing listed.
            if " " not in arg:
                saved, self.cwd = self.cwd, self.path(arg)
                body = "".join(l + "\r\n" for l in self.listing_lines(mlsd)).encode("latin-1")
                self.cwd = saved
                data.sendall(body)
            data.close()
            self.reply("226 Transfer complete.")
            return
        body = "".join(l + "\r\n" for l in self.listing_lines(mlsd)).encode("latin-1")
        if self.scenario == "drop_control":
            data.sendall(body[: len(body) // 2])
            time.sleep(0.2)
            data.close()
            self.request.shutdown(socket.SHUT_RDWR)
            raise ConnectionAbortedError
        if self.scenario == "drop_data":
            data.sendall(body[: len(body) // 2])
            time.sleep(0.2)
            data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            data.close()  # a reset, not an orderly end
            self.reply("426 Connection closed; transfer aborted.")
            return
        data.sendall(body)
        data.close()
        if self.scenario == "truncated" and self.cwd == "/cut":
            self.reply("226-Listing cut short")
            self.reply("226 Output truncated to 2 matches")
        elif self.scenario == "truncated" and self.cwd == "/none":
            self.reply("226 Output TRUNCATED")
        else:
            self.reply("226 Transfer complete.")

    def send_until_gone(self, data, block, pause=0.0):
        """Sends block() again and again until the client closes."""
        try:
            while True:
                data.sendall(block())
                time.sleep(pause)
        except OSError:
            pass
        data.close()
        self.reply("426 Connection closed; transfer aborted.")

    def send_file(self, data, name):
        if self.scenario == "endless":
            self.send_until_gone(data, lambda: b"e" * 65536)
            return
        if name == "trickle.bin":
            self.send_until_gone(data, lambda: b"t", 0.25)
            return
        if name == "steady.bin":
            for _ in range(9):
                data.sendall(b"s" * 16384)
                time.sleep(0.4)
        elif name == "long.bin":  # the size SIZE gave, then more
            data.sendall(b"b" * 1000)
            time.sleep(0.2)
            data.sendall(b"b" * 1000)
        else:
            data.sendall(b"b" * TRANSFERS[name][1])
        data.close()
        self.reply("226 Transfer complete.")

    def handle(self):
        s = self.scenario
        try:
            if s == "silent_banner":
                time.sleep(60)
                return
            if s == "overlong":
                self.reply("220 " + "x" * 20000)
            elif s == "multiline":
                self.reply("220-Welcome to the multi-line greeting")
                self.reply("220-still the greeting")
                self.reply(" 220 an inner line that only looks like the end")
                self.reply("230 another code is not the end either")
                self.reply("220")
            else:
                self.reply("220 scripted %s ready" % s)
            while True:
                raw = self.rfile.readline(65536)
                if not raw:
                    return
                self.log(raw.rstrip(b"\r\n"))
                line = raw.decode("latin-1").rstrip("\r\n")
                verb, _, arg = line.partition(" ")
                if not self.command(verb.upper(), arg):
                    return
        except (ConnectionError, OSError):
            return

    def command(self, verb, arg):
        s = self.scenario
        if verb == "USER":
            if s == "multiline":
                self.reply("331-Password required")
                self.reply("331 for %s" % arg)
            else:
                self.reply("331 Password required.")
        elif verb == "PASS":
            if arg == PASSWORD:
                self.logged_in = True
                self.reply("230 Logged in.")
            else:
                self.reply("530 Login incorrect.")
        elif not self.logged_in and verb != "QUIT":
            self.reply("530 Please log in.")
        elif verb == "FEAT":
            self.reply("211-Features:")
            if s in ("plain", "hostile_mlsd", "refuse", "pasv_other", "split", "multiline", "guarded"):
                self.reply(" MLST type*;size*;modify*;unix.mode*;")
            self.reply(" EPSV")
            self.reply(" PASV")
            self.reply("211 End")
        elif verb == "OPTS":
            self.reply("200 MLST OPTS type;size;modify;unix.mode;")
        elif verb == "TYPE":
            self.reply("200 Type set.")
        elif verb == "NOOP":
            self.reply("200 NOOP ok.")
        elif verb == "PWD":
            if s == "slow_reply":
                time.sleep(30)
            if s == "overlong":
                self.wfile.write(b"257 \"" + b"y" * (1024 * 1024))
                self.wfile.flush()
                time.sleep(30)
                return False
            if s == "unix_list":
                self.reply('257 "/a ""quoted"" folder" is the current directory.')
            elif s == "multiline":
                self.reply('257-"%s" is current' % self.cwd)
                self.reply("257 and this is the end")
            else:
                self.reply('257 "%s" is the current directory.' % self.cwd)
        elif verb == "CWD":
            target = self.path(arg)
            with self.state.lock:
                known = target in self.state.entries and self.state.entries[target] is None
            if known and not (s == "guarded" and self.guarded(target, "locked")):
                self.cwd = target
                self.reply("250 Directory changed.")
            else:
                self.reply("550 No such directory.")
        elif verb == "MKD":
            target = self.path(arg)
            with self.state.lock:
                if target in self.state.entries:
                    self.reply("550 Exists.")
                else:
                    self.state.entries[target] = None
                    self.reply('257 "%s" created.' % target.replace('"', '""'))
        elif verb == "RMD":
            target = self.path(arg)
            if self.children(target):
                self.reply("550 Not empty.")
                return True
            with self.state.lock:
                if self.state.entries.get(target, b"") is None:
                    del self.state.entries[target]
                    self.reply("250 Removed.")
                else:
                    self.reply("550 No such directory.")
        elif verb == "DELE":
            target = self.path(arg)
            with self.state.lock:
                if s == "refuse" or (s == "guarded" and self.guarded(target, "stuck")):
                    self.reply("550 Permission denied.")
                elif isinstance(self.state.entries.get(target), bytes):
                    del self.state.entries[target]
                    self.reply("250 Deleted.")
                else:
                    self.reply("550 No such file.")
        elif verb == "PASV":
            port = self.open_pasv()
            host = "10,255,255,1" if s == "pasv_other" else "127,0,0,1"
            self.reply("227 Entering Passive Mode (%s,%d,%d)." % (host, port // 256, port % 256))
        elif verb == "EPSV":
            if s == "pasv_other":
                self.reply("500 EPSV not understood.")
            else:
                self.reply("229 Entering Extended Passive Mode (|||%d|)" % self.open_pasv())
        elif verb in ("LIST", "MLSD"):
            self.send_listing(verb == "MLSD", arg)
        elif verb == "SIZE":
            with self.state.lock:
                value = self.state.entries.get(self.path(arg))
            if s == "endless":
                self.reply("502 Command not implemented.")
            elif s == "transfers" and arg in TRANSFERS:
                self.reply("213 %d" % TRANSFERS[arg][0])
            elif isinstance(value, bytes):
                self.reply("213 %d" % len(value))
            else:
                self.reply("550 No such file.")
        elif verb == "RETR" and s in ("transfers", "endless"):
            if s == "transfers" and arg not in TRANSFERS:
                self.reply("550 No such file.")
                return True
            data = self.accept_data()
            if data:
                self.reply("150 Sending.")
                self.send_file(data, arg)
        elif verb == "RETR":
            with self.state.lock:
                value = self.state.entries.get(self.path(arg))
            if not isinstance(value, bytes):
                self.reply("550 No such file.")
                return True
            data = self.accept_data()
            if data and s == "guarded" and self.guarded(self.path(arg), "broken"):
                self.reply("150 Sending.")
                data.sendall(value[: len(value) // 2])
                time.sleep(0.2)
                data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                data.close()
                self.reply("426 Connection closed; transfer aborted.")
            elif data:
                self.reply("150 Sending.")
                data.sendall(value)
                data.close()
                self.reply("226 Transfer complete.")
        elif verb == "STOR":
            if s == "refuse":
                self.reply("553 Could not create file.")
                return True
            data = self.accept_data()
            if data and s == "drop_upload":
                self.reply("150 Receiving.")
                data.recv(65536)
                data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                data.close()
                self.reply("426 Connection closed; transfer aborted.")
            elif data:
                self.reply("150 Receiving.")
                chunks = []
                while True:
                    chunk = data.recv(65536)
                    if not chunk:
                        break
                    chunks.append(chunk)
                data.close()
                with self.state.lock:
                    self.state.entries[self.path(arg)] = b"".join(chunks)
                self.reply("226 Transfer complete.")
        elif verb == "QUIT":
            self.reply("221 Goodbye.")
            return False
        else:
            self.reply("502 Command not implemented.")
        return True


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    args = serverlib.arguments(__doc__)
    serverlib.stop_after(args.lifetime)
    logs = tempfile.mkdtemp(prefix="kv-scripted-ftp-")
    facts = []
    for scenario in SCENARIOS:
        log_path = os.path.join(logs, scenario + ".log")
        open(log_path, "wb").close()
        handler = type("Handler_" + scenario, (Handler,),
                       {"scenario": scenario, "state": State(scenario),
                        "log_path": log_path})
        server = Server(("127.0.0.1", 0), handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        facts.append((scenario, server.server_address[1]))
    facts += [("log", logs), ("user", USER), ("password", PASSWORD)]
    serverlib.write_info(args.info, facts)
    threading.Event().wait()


if __name__ == "__main__":
    main()
