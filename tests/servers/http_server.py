#!/usr/bin/env python3
"""A local HTTP server for the URL tests, on 127.0.0.1.

  /bytes?n=N             N bytes of a known pattern (byte i is i % 251)
  /delay?seconds=S       waits S seconds, then answers "late"
  /slowbody?seconds=S    headers at once, the body ("slow") after S seconds
  /redirect              302 to /bytes?n=10
  /status?code=C         status C with the body "status C"
  /empty                 an empty body
  /agent                 the User-Agent header it was sent

Info line: port.
"""
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import serverlib


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send(self, status, body, headers=()):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        for key, value in headers:
            self.send_header(key, value)
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        url = urllib.parse.urlparse(self.path)
        query = dict(urllib.parse.parse_qsl(url.query))
        if url.path == "/bytes":
            n = int(query.get("n", "0"))
            self.send(200, bytes(i % 251 for i in range(n)))
        elif url.path == "/delay":
            time.sleep(float(query.get("seconds", "0")))
            self.send(200, b"late")
        elif url.path == "/slowbody":
            self.send_response(200)
            self.send_header("Content-Length", "4")
            self.end_headers()
            self.wfile.flush()
            time.sleep(float(query.get("seconds", "0")))
            self.wfile.write(b"slow")
        elif url.path == "/redirect":
            self.send(302, b"", [("Location", "/bytes?n=10")])
        elif url.path == "/status":
            code = int(query.get("code", "200"))
            self.send(code, ("status %d" % code).encode())
        elif url.path == "/empty":
            self.send(200, b"")
        elif url.path == "/agent":
            self.send(200, (self.headers.get("User-Agent") or "").encode())
        else:
            self.send(404, b"not found")


class Server(ThreadingHTTPServer):
    daemon_threads = True


def main():
    args = serverlib.arguments(__doc__)
    serverlib.stop_after(args.lifetime)
    server = Server(("127.0.0.1", 0), Handler)
    serverlib.write_info(args.info, [("port", server.server_address[1])])
    server.serve_forever()


if __name__ == "__main__":
    main()
