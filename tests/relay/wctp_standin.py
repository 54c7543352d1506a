#!/usr/bin/python3
"""A WCTP network of the relay tests' own, over HTTP or HTTPS; keeps each POST as one file of hex fields.

Usage: wctp_standin.py certs FOLDER IP...      a test CA, a server certificate it signed for the IPs,
                                               and a self-signed "rogue" one for the same IPs
       wctp_standin.py serve ADDRESS PORT FOLDER [CERT KEY]
Submits are answered by the recipient id's last digits: ...403 a 403 failure, ...410 a 410 failure the
first time, ...606 a 606 failure the first time, ...555 a success only after 3 s the first time; any other
a success with a tracking number.
A ClientQuery is answered by its tracking number: one starting READ is READ at once, one starting SLOW is
QUEUED with minNextPollInterval="1" (ask again in a minute); any other QUEUED the first time, DELIVERED after.
Writes FOLDER/ready once listening.
"""
import http.server
import os
import signal
import ssl
import subprocess
import sys
import threading
import time
import xml.etree.ElementTree as ElementTree

HEAD = '<?xml version="1.0" encoding="UTF-8"?>\n<wctp-Operation wctpVersion="wctp-dtd-v1r3">'
TAIL = "</wctp-Operation>\n"


def make_certs(folder, ips):
    # Each address as a DNS name too: Wine's WinHTTP matches host names against those only.
    names = ",".join("IP:%s,DNS:%s" % (ip, ip) for ip in ips)

    def run(*args):
        subprocess.run(["openssl"] + list(args), check=True, capture_output=True, cwd=folder)

    run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=WCTP test CA",
        "-keyout", "ca.key", "-out", "ca.pem")
    run("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=wctp stand-in", "-keyout", "server.key",
        "-out", "server.csr")
    with open(os.path.join(folder, "san.ext"), "w") as ext:
        ext.write("subjectAltName=" + names + "\n")
    run("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
        "-days", "2", "-extfile", "san.ext", "-out", "server.pem")
    run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=rogue",
        "-addext", "subjectAltName=" + names, "-keyout", "rogue.key", "-out", "rogue.pem")


class State:
    def __init__(self, folder):
        self.folder = folder
        self.lock = threading.Lock()
        self.count = 0
        self.submits = {}   # recipient -> submits seen
        self.queries = {}   # tracking number -> queries seen

    def record(self, fields):
        with self.lock:
            self.count += 1
            path = os.path.join(self.folder, "%03d.wctp" % self.count)
        with open(path + ".tmp", "w") as out:
            out.write("".join("%s %s\n" % (key, value.hex() if value else "-") for key, value in fields))
        os.rename(path + ".tmp", path)

    def seen(self, table, key):
        with self.lock:
            table[key] = table.get(key, 0) + 1
            return table[key]


def attribute(root, name):
    for element in root.iter():
        if name in element.attrib:
            return element.attrib[name].encode("utf-8")
    return b""


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def answer(self, body):
        data = (HEAD + body + TAIL).encode("utf-8")
        self.send_response(200)
        self.send_header("Content-Type", "text/xml; charset=UTF-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_POST(self):
        state = self.server.state
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        root = ElementTree.fromstring(body)
        operation = root[0].tag
        text = root.find(".//wctp-Alphanumeric")
        state.record([
            ("path", self.path.encode()), ("type", self.headers.get("Content-Type", "").encode()), ("body", body),
            ("op", operation.encode()), ("sender", attribute(root, "senderID")),
            ("misc", attribute(root, "miscInfo")), ("security", attribute(root, "securityCode")),
            ("recipient", attribute(root, "recipientID")), ("tracking", attribute(root, "trackingNumber")),
            # Back to the windows-1252 bytes the program typed.
            ("text", (text.text or "").encode("cp1252") if text is not None else b""),
        ])
        recipient = attribute(root, "recipientID").decode()
        if operation == "wctp-ClientQuery":
            tracking = attribute(root, "trackingNumber").decode()
            kind = "QUEUED" if state.seen(state.queries, tracking) == 1 else "DELIVERED"
            pace = ""
            if tracking.startswith("READ"):
                kind = "READ"
            elif tracking.startswith("SLOW"):
                kind, pace = "QUEUED", ' minNextPollInterval="1"'
            return self.answer('<wctp-ClientQueryResponse%s><wctp-ClientResponse><wctp-ClientStatusInfo>'
                               '<wctp-Notification type="%s"/></wctp-ClientStatusInfo></wctp-ClientResponse>'
                               '</wctp-ClientQueryResponse>' % (pace, kind))
        reply = "wctp-SubmitClientResponse" if operation == "wctp-SubmitClientMessage" else "wctp-Confirmation"
        times = state.seen(state.submits, recipient)
        if recipient.endswith("403"):
            return self.answer('<%s><wctp-Failure errorCode="403" errorText="Invalid recipientID &amp; more"/></%s>'
                               % (reply, reply))
        if recipient.endswith("410") and times == 1:
            return self.answer('<%s><wctp-Failure errorCode="410" errorText="Recipient not active"/></%s>'
                               % (reply, reply))
        if recipient.endswith("606") and times == 1:
            return self.answer('<%s><wctp-Failure errorCode="606" errorText="Service unavailable"/></%s>'
                               % (reply, reply))
        if recipient.endswith("555") and times == 1:
            time.sleep(3)
        success = "wctp-ClientSuccess" if reply == "wctp-SubmitClientResponse" else "wctp-Success"
        self.answer('<%s><%s successCode="200" successText="Accepted" trackingNumber="TRK%d"/></%s>'
                    % (reply, success, state.count, reply))


def serve(address, port, folder, cert=None, key=None):
    server = http.server.ThreadingHTTPServer((address, int(port)), Handler)
    server.daemon_threads = True
    server.state = State(folder)
    run(server, folder, cert, key)


def run(server, folder, cert=None, key=None):
    """Serves over TLS when given a certificate, says so with FOLDER/ready, and stops on SIGTERM."""
    if cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown).start())
    open(os.path.join(folder, "ready"), "w").close()
    server.serve_forever()


if __name__ == "__main__":
    if sys.argv[1] == "certs":
        make_certs(sys.argv[2], sys.argv[3:])
    else:
        serve(*sys.argv[2:])
