#!/usr/bin/env python3
"""An SNPP paging terminal for the service test: accepts every page and appends it to a file.
Usage: snpp_standin.py ADDRESS PORT PAGES_FILE"""
import socketserver
import sys


class Session(socketserver.StreamRequestHandler):
    def reply(self, line):
        self.wfile.write((line + "\r\n").encode("latin-1"))

    def handle(self):
        self.reply("220 SNPP stand-in ready")
        pager = text = None
        for raw in self.rfile:
            command, _, argument = raw.decode("latin-1").rstrip("\r\n").partition(" ")
            verb = command.upper()
            if verb == "PAGE":
                pager = argument
                self.reply("250 Pager ID accepted")
            elif verb == "MESS":
                text = argument
                self.reply("250 Message OK")
            elif verb == "SEND":
                with open(sys.argv[3], "a", encoding="latin-1") as pages:
                    pages.write(f"{pager}: {text}\n")
                self.reply("250 Message Sent Successfully")
            elif verb == "QUIT":
                self.reply("221 OK, Goodbye")
                return
            else:
                self.reply("500 Command not implemented")


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


with Server((sys.argv[1], int(sys.argv[2])), Session) as server:
    print("listening", flush=True)
    server.serve_forever()
