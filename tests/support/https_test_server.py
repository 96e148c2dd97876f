#!/usr/bin/env python3
"""An HTTPS (or plain HTTP) server for tests, driven through files in a control folder.

    https_test_server.py CONTROL (--cert CERT --key KEY | --plain) [--lifetime SECONDS]

A Windows test program under Wine starts it (Linux programs start from there, but give no process handle),
so every exchange goes through CONTROL, each file written whole under a temporary name and then renamed:

  port                the listening port on 127.0.0.1, written once the server listens
  pid                 this process, for the build tree's cleanup (tools/stop-test-servers)
  answers/H.answer    the answer for one request target; H is the FNV-1a 64 hash of the target in 16
                      lowercase hex digits. Contents: the target, CRLF, then "answer STATUS", "close" or
                      "silent", CRLF, then for "answer" the header lines each ended by CRLF, an empty line and
                      the body. The target as sent (query and all) is looked up first, then without its query.
                      Without an answer: 404 and an empty body.
  requests/N.request  every request, numbered from 000001 in arrival order, written before it is answered:
                      the request line, the header lines as received, an empty line, the body (Content-Length
                      bytes; none without that header). Lines end with CRLF.
  stop                written by the test: the server ends within about 0.1 s (also when CONTROL goes away)
  stopped             written by the server as it ends
  server.log          what went wrong, if anything

An "answer" is sent as "HTTP/1.1 STATUS REASON", the given header lines in their order, then Content-Length
and "Connection: close"; the connection closes after each answer. "close" reads the request and closes the
connection without a word; "silent" reads it and keeps the connection open, unanswered, until the server
ends. The server ends by itself after --lifetime seconds (600 by default), so an aborted test leaves nothing
behind.
"""

import argparse
import http
import os
import socket
import socketserver
import ssl
import sys
import threading
import time
import traceback

MAX_LINE = 1 << 20  # a request line or header line longer than this is refused


def fnv1a64(data):
    value = 0xCBF29CE484222325
    for byte in data:
        value = ((value ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % value


class Control:
    def __init__(self, folder):
        self.folder = folder
        self.lock = threading.Lock()
        self.count = 0
        self.stopping = threading.Event()
        os.makedirs(os.path.join(folder, "answers"), exist_ok=True)
        os.makedirs(os.path.join(folder, "requests"), exist_ok=True)

    def write(self, name, data):
        final = os.path.join(self.folder, name)
        temporary = final + ".tmp"
        with open(temporary, "wb") as out:
            out.write(data)
        os.replace(temporary, final)

    def log(self, text):
        try:
            with self.lock, open(os.path.join(self.folder, "server.log"), "a") as out:
                out.write(time.strftime("%H:%M:%S ") + text.rstrip("\n") + "\n")
        except OSError:
            pass  # the control folder is gone: the test is over

    def record(self, data):
        with self.lock:
            self.count += 1
            self.write(os.path.join("requests", "%06d.request" % self.count), data)

    def answer_for(self, target):
        candidates = [target]
        if b"?" in target:
            candidates.append(target.split(b"?", 1)[0])
        for candidate in candidates:
            path = os.path.join(self.folder, "answers", fnv1a64(candidate) + ".answer")
            try:
                with open(path, "rb") as source:
                    data = source.read()
            except OSError:
                continue
            head, _, body = data.partition(b"\r\n\r\n")
            lines = head.split(b"\r\n")
            if lines[0] == candidate and len(lines) >= 2:
                return lines[1], lines[2:], body
        return b"answer 404", [], b""

    def should_stop(self):
        return os.path.exists(os.path.join(self.folder, "stop")) or not os.path.isdir(self.folder)


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        control = self.server.control
        connection = self.request
        try:
            if self.server.tls is not None:
                # The handshake runs here, on the connection's own thread: a client that stalls in it or
                # refuses the certificate holds up no one else.
                connection = self.server.tls.wrap_socket(connection, server_side=True)
            reader = connection.makefile("rb")
            request = self.read_request(reader)
            if request is None:
                return
            target, data = request
            control.record(data)
            kind, header_lines, body = control.answer_for(target)
            if kind == b"close":
                return
            if kind == b"silent":
                control.stopping.wait()
                return
            connection.sendall(self.response(kind, header_lines, body))
        except (OSError, ssl.SSLError, ValueError) as error:
            # Clients that refuse the certificate or hang up are part of the tests: noted, not fatal.
            control.log("%s: %r" % (self.client_address, error))
        except Exception:
            control.log(traceback.format_exc())
        finally:
            try:
                connection.close()
            except OSError:
                pass

    @staticmethod
    def read_request(reader):
        request_line = reader.readline(MAX_LINE)
        if not request_line:
            return None  # connected and went away (a probe, or a refused handshake)
        words = request_line.rstrip(b"\r\n").split(b" ")
        if len(words) < 2:
            raise ValueError("bad request line %r" % request_line[:200])
        data = bytearray(request_line.rstrip(b"\r\n") + b"\r\n")
        length = 0
        while True:
            line = reader.readline(MAX_LINE)
            if not line.endswith(b"\n"):
                raise ValueError("header block cut off")
            line = line.rstrip(b"\r\n")
            data += line + b"\r\n"
            if not line:
                break
            name, _, value = line.partition(b":")
            if name.strip().lower() == b"content-length":
                length = int(value.strip())
        body = reader.read(length) if length > 0 else b""
        if len(body) != length:
            raise ValueError("body cut off after %d of %d bytes" % (len(body), length))
        return words[1], bytes(data + body)

    @staticmethod
    def response(kind, header_lines, body):
        status = int(kind.split(b" ", 1)[1])
        try:
            reason = http.HTTPStatus(status).phrase
        except ValueError:
            reason = "Status"
        head = ["HTTP/1.1 %d %s" % (status, reason)]
        lines = [line.decode("latin-1") for line in header_lines]
        lines += ["Content-Length: %d" % len(body), "Connection: close"]
        return ("\r\n".join(head + lines) + "\r\n\r\n").encode("latin-1") + body


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True  # "silent" connections must not keep the process alive
    request_queue_size = 64


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("control")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--plain", action="store_true")
    parser.add_argument("--lifetime", type=float, default=600)
    options = parser.parse_args()
    if options.plain == bool(options.cert and options.key):
        parser.error("give either --cert and --key, or --plain")

    control = Control(options.control)
    try:
        server = Server(("127.0.0.1", 0), Handler)
        server.control = control
        server.tls = None
        if not options.plain:
            server.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            server.tls.load_cert_chain(options.cert, options.key)
    except Exception:
        control.log(traceback.format_exc())
        return 1
    control.write("pid", str(os.getpid()).encode())
    control.write("port", str(server.server_address[1]).encode())

    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
    thread.start()
    deadline = time.monotonic() + options.lifetime
    while not control.should_stop() and time.monotonic() < deadline:
        time.sleep(0.1)
    server.shutdown()
    server.server_close()
    control.stopping.set()
    try:
        control.write("stopped", b"")
    except OSError:
        pass  # the control folder is gone
    return 0


if __name__ == "__main__":
    sys.exit(main())
