#!/usr/bin/python3
"""A TLS echo server for the TLS layer's tests, with a fresh test authority.

One listener on 127.0.0.1 per certificate kind of test_ca.py (good, expired,
wrongname, selfsigned), one whose certificate names only "*.kestrovane.test"
(wildcard; a second authority, in the folder "wild"), each echoing every
line it receives, and two that break the handshake:
    drop       reads the client's first bytes, then closes
    garbage    answers the client's first bytes with plain text, then closes
The line "SESSION?" is answered with "reused 1" or "reused 0": whether the
connection resumed an earlier TLS session of its listener.

Info lines: "<kind> <port>" for each listener; "certs DIR", the folder of
test_ca.py's files (ca.pem, fingerprints.txt, ..., wild/ca.pem).
"""
import os
import socket
import ssl
import threading

import serverlib
import test_ca

HOST = "127.0.0.1"
KINDS = ("good", "expired", "wrongname", "selfsigned")
WILDCARD = "*.kestrovane.test"
LINE_LIMIT = 1024 * 1024
IDLE_SECONDS = 60.0


def echo(conn):
    pending = b""
    while True:
        data = conn.recv(65536)
        if not data:
            return
        pending += data
        if len(pending) > LINE_LIMIT:
            return
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            if line.rstrip(b"\r") == b"SESSION?":
                conn.sendall(b"reused %d\n" % (1 if conn.session_reused else 0))
            else:
                conn.sendall(line + b"\n")


def serve_tls(listener, context):
    while True:
        raw, _ = listener.accept()
        threading.Thread(target=handle_tls, args=(raw, context), daemon=True).start()


def handle_tls(raw, context):
    raw.settimeout(IDLE_SECONDS)
    try:
        with context.wrap_socket(raw, server_side=True) as conn:
            echo(conn)
    except (OSError, ssl.SSLError):
        pass
    finally:
        raw.close()


def serve_broken(listener, answer):
    while True:
        raw, _ = listener.accept()
        raw.settimeout(IDLE_SECONDS)
        try:
            raw.recv(512)
            if answer:
                raw.sendall(answer)
        except OSError:
            pass
        raw.close()


def listen():
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind((HOST, 0))
    s.listen(16)
    return s


def options(parser):
    parser.add_argument("--certs", help='folder for the certificates (default: "<info>.certs")')


def main():
    args = serverlib.arguments("TLS echo server for the TLS layer's tests", options)
    serverlib.stop_after(args.lifetime)
    certs = os.path.abspath(args.certs or args.info + ".certs")
    test_ca.make(certs)
    test_ca.make(os.path.join(certs, "wild"), (WILDCARD,))
    facts = []
    for kind, stem in [(k, os.path.join(certs, k)) for k in KINDS] + [("wildcard", os.path.join(certs, "wild", "good"))]:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        context.load_cert_chain(stem + ".pem", stem + ".key")
        listener = listen()
        threading.Thread(target=serve_tls, args=(listener, context), daemon=True).start()
        facts.append((kind, listener.getsockname()[1]))
    for kind, answer in (("drop", b""), ("garbage", b"HTTP/1.0 400 Bad Request\r\n\r\n")):
        listener = listen()
        threading.Thread(target=serve_broken, args=(listener, answer), daemon=True).start()
        facts.append((kind, listener.getsockname()[1]))
    facts.append(("certs", certs))
    serverlib.write_info(args.info, facts)
    threading.Event().wait()


if __name__ == "__main__":
    main()
