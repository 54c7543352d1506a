#!/usr/bin/python3
"""A webhook receiver of the notice tests' own: keeps each POST as one file of hex fields (path, type, body).

Usage: webhook_standin.py ADDRESS PORT FOLDER [REFUSE [CERT KEY]]
The first REFUSE posts (default 0) are answered 503, every later one 204; with CERT and KEY over HTTPS
(wctp_standin.py certs makes them). Writes FOLDER/ready once listening.
"""
import http.server
import os
import sys
import threading

import wctp_standin


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_POST(self):
        server = self.server
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with server.lock:
            server.count += 1
            refused = server.count <= server.refuse
            name = "%03d.%s" % (server.count, "refused" if refused else "post")
        fields = [("path", self.path.encode()), ("type", self.headers.get("Content-Type", "").encode()),
                  ("body", body)]
        path = os.path.join(server.folder, name)
        with open(path + ".tmp", "w") as out:
            out.write("".join("%s %s\n" % (key, value.hex() if value else "-") for key, value in fields))
        os.rename(path + ".tmp", path)
        self.send_response(503 if refused else 204)
        self.send_header("Content-Length", "0")
        self.end_headers()


def serve(address, port, folder, refuse="0", cert=None, key=None):
    server = http.server.ThreadingHTTPServer((address, int(port)), Handler)
    server.daemon_threads = True
    server.folder, server.refuse, server.count, server.lock = folder, int(refuse), 0, threading.Lock()
    wctp_standin.run(server, folder, cert, key)


if __name__ == "__main__":
    serve(*sys.argv[1:])
