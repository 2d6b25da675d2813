#!/usr/bin/python3
"""An HTTP server on 127.0.0.1 for the exchange tests.

Usage: httpserver.py ROOT

Serves the files under ROOT. Prints "PORT n" once it listens, then for every request
"REQ <json>" with the path and the request headers as received. It ends when its standard input
closes, so it never outlives the test that started it.

Paths with a special first folder:
  /slowMS/rest      waits MS milliseconds, then answers /rest
  /moved/rest       answers 302 with the location /rest
  /hold/rest        answers /rest once a file named "release" is in ROOT (at most 10 s later)
  /close/rest       answers /rest without a length, ending the body by closing the connection
  /cutN/rest        the same, but closes the connection after N bytes of the body
  /lengthcutN/rest  gives the whole length, but closes the connection after N bytes
  /chunked/rest     answers /rest in chunks (Transfer-Encoding: chunked)
  /chunkcutN/rest   the same, but closes the connection after N bytes, without the last chunk
  /html/rest        answers /rest as "text/html"
"""
import json
import os
import re
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ROOT = ""


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        print("REQ " + json.dumps({"path": self.path, "headers": list(self.headers.items())}),
              flush=True)
        path = self.path
        slow = re.match(r"^/slow(\d+)(/.*)$", path)
        if slow:
            time.sleep(int(slow.group(1)) / 1000.0)
            path = slow.group(2)
        if path.startswith("/hold/"):
            release = os.path.join(ROOT, "release")
            for _ in range(1000):
                if os.path.exists(release):
                    break
                time.sleep(0.01)
            path = path[len("/hold"):]
        if path.startswith("/moved/"):
            self.send_response(302)
            self.send_header("Location", path[len("/moved"):])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        mode = re.match(r"^/(close|cut\d+|lengthcut\d+|chunked|chunkcut\d+|html)(/.*)$", path)
        mode, path = (mode.group(1), mode.group(2)) if mode else ("", path)
        file = os.path.realpath(os.path.join(ROOT, path.lstrip("/")))
        if not file.startswith(os.path.realpath(ROOT)) or not os.path.isfile(file):
            body = b"<html><body>404 Not Found</body></html>"
            self.send_response(404)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        with open(file, "rb") as f:
            body = f.read()
        self.send_response(200)
        self.send_header("Content-Type",
                         "text/html; charset=utf-8" if mode == "html" else "application/octet-stream")
        cut = re.match(r"^\D+(\d+)$", mode)
        cut = int(cut.group(1)) if cut else None
        try:
            if mode.startswith("chunk"):
                self.send_header("Transfer-Encoding", "chunked")
                self.end_headers()
                sent = body if cut is None else body[:cut]
                for at in range(0, len(sent), 5):
                    piece = sent[at:at + 5]
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
                if cut is None:
                    self.wfile.write(b"0\r\n\r\n")
                else:
                    self.close_connection = True
            elif mode == "close" or mode.startswith("cut"):
                # As HTTP/1.0 servers and many scripts answer: the end of the body is the end
                # of the connection.
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.write(body if cut is None else body[:cut])
                self.close_connection = True
            else:
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body if cut is None else body[:cut])
                if cut is not None:
                    self.close_connection = True
        except (BrokenPipeError, ConnectionResetError):
            pass

    def log_message(self, format, *args):
        pass


def main():
    global ROOT
    ROOT = sys.argv[1]
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print("PORT %d" % server.server_address[1], flush=True)

    def watch_stdin():
        sys.stdin.read()
        os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
