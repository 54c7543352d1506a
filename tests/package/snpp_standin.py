#!/usr/bin/env python3
"""An SNPP paging terminal for the service test: takes every page but pager 5550000550's and appends
"PAGER: TEXT" to a file.
Usage: snpp_standin.py ADDRESS PORT PAGES_FILE"""
import socketserver
import sys

REPLIES = {"PAGE": "250 Pager ID accepted", "MESS": "250 Message OK", "SEND": "250 Message Sent Successfully",
           "RESE": "250 Reset OK", "QUIT": "221 OK, Goodbye"}
REFUSED = "5550000550"  # refused for good, for the service's notice in the event log


class Session(socketserver.StreamRequestHandler):
    def handle(self):
        self.wfile.write(b"220 SNPP stand-in ready\r\n")
        page = {}
        for raw in self.rfile:
            verb, _, argument = raw.decode("latin-1").rstrip("\r\n").partition(" ")
            verb = verb.upper()
            page[verb] = argument
            if verb == "SEND":
                with open(sys.argv[3], "a", encoding="latin-1") as pages:
                    pages.write(f"{page.get('PAGE')}: {page.get('MESS')}\n")
            reply = REPLIES.get(verb, "500 Command not implemented")
            if verb == "PAGE" and argument == REFUSED:
                reply = "550 Pager ID not found"
            self.wfile.write((reply + "\r\n").encode("latin-1"))
            if verb == "QUIT":
                return


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


with Server((sys.argv[1], int(sys.argv[2])), Session) as server:
    print("listening", flush=True)
    server.serve_forever()
