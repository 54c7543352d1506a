#!/usr/bin/python3
"""A real SMTP server for the relay tests: keeps each message it takes as one file of hex fields.

Usage: smtp_sink.py ADDRESS PORT FOLDER USER PASSWORD
Logins other than USER/PASSWORD are refused, and so is mail without a login; a recipient starting with
550 is refused with a 550 reply; a text holding "reject me" is refused with a 554 after it came, and one
holding "defer once" with a 451 the first time for its recipient. Writes FOLDER/ready once listening.
"""
import email
import email.policy
import os
import signal
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


def hex_of(data):
    return data.hex() if data else "-"


class Sink:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0
        self.deferred = set()

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("550"):
            return "550 5.1.1 no such pager here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if b"reject me" in envelope.content:
            return "554 5.6.0 Message content rejected"
        if b"defer once" in envelope.content and str(envelope.rcpt_tos) not in self.deferred:
            self.deferred.add(str(envelope.rcpt_tos))
            return "451 4.3.0 try again later"
        message = email.message_from_bytes(envelope.content, policy=email.policy.default)
        # The gateway writes windows-1252; the subject comes back as text and is turned into those bytes again.
        subject = str(message["subject"]).encode("cp1252")
        fields = [
            "from " + hex_of(envelope.mail_from.encode()),
            "to " + hex_of(",".join(envelope.rcpt_tos).encode()),
            "subject " + hex_of(subject),
            "body " + hex_of(message.get_payload(decode=True)),
            "peer " + hex_of(str(session.peer[1]).encode()),
        ]
        self.count += 1
        path = os.path.join(self.folder, "%03d.mail" % self.count)
        with open(path + ".tmp", "w") as out:
            out.write("\n".join(fields) + "\n")
        os.rename(path + ".tmp", path)
        return "250 Message accepted"


def main():
    address, port, folder, user, password = sys.argv[1:6]

    def check_login(server, session, envelope, mechanism, auth_data):
        ok = isinstance(auth_data, LoginPassword) and auth_data.login == user.encode() \
            and auth_data.password == password.encode()
        return AuthResult(success=ok)

    controller = Controller(Sink(folder), hostname=address, port=int(port), authenticator=check_login,
                            auth_required=True, auth_require_tls=False)
    controller.start()
    open(os.path.join(folder, "ready"), "w").close()
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    stop.wait()
    controller.stop()


if __name__ == "__main__":
    main()
