#!/usr/bin/env python3
"""The real-server test's helpers: a tap that passes SNPP sessions on and writes down both sides, and a
/dev/log of the test's own that keeps what a daemon logs.

  snpp_tap.py tap LISTEN_ADDRESS LISTEN_PORT SERVER_PORT TRANSCRIPT
  snpp_tap.py syslog SOCKET_PATH LOG_FILE
"""
import os
import socket
import sys
import threading


def tap(address, port, server_port, transcript):
    lock = threading.Lock()
    sessions = [0]
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, int(port)))
    listener.listen(16)
    out = open(transcript, 'ab', buffering=0)

    def write(number, side, data):
        # Line by line, bytes as they came (windows-1252 stays as it is), each marked with its session.
        with lock:
            for line in data.split(b'\n'):
                words = line.split(b' ')
                if side == b'C:' and words[0].upper().startswith(b'LOGI') and len(words) > 2:
                    line = b' '.join(words[:2] + [b'********'])  # the transcript is shown; the password is not
                if line:
                    out.write(b'%d %s %s\n' % (number, side, line.rstrip(b'\r')))

    def pump(source, sink, number, side):
        pending = b''
        try:
            while True:
                chunk = source.recv(4096)
                if not chunk:
                    break
                # Written down before it is passed on, so an answer never shows ahead of what it answered.
                pending += chunk
                if b'\n' in pending:
                    done, pending = pending.rsplit(b'\n', 1)
                    write(number, side, done)
                sink.sendall(chunk)
        except OSError:
            pass
        if pending:
            write(number, side, pending)
        for end in (sink, source):
            try:
                end.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        with lock:
            out.write(b'%d %s closed\n' % (number, side))

    while True:
        client, _ = listener.accept()
        server = socket.create_connection(('127.0.0.1', int(server_port)))
        with lock:
            sessions[0] += 1
            number = sessions[0]
        threading.Thread(target=pump, args=(client, server, number, b'C:'), daemon=True).start()
        threading.Thread(target=pump, args=(server, client, number, b'S:'), daemon=True).start()


def syslog(path, log_file):
    if os.path.exists(path):
        os.unlink(path)
    sink = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    sink.bind(path)
    os.chmod(path, 0o666)
    with open(log_file, 'ab', buffering=0) as out:
        while True:
            out.write(sink.recv(65536).rstrip(b'\0\n') + b'\n')


if __name__ == '__main__':
    if sys.argv[1] == 'tap':
        tap(*sys.argv[2:6])
    else:
        syslog(*sys.argv[2:4])
