"""What the kxserver tests share: a server started on a store of its own (a data folder, or a database of
the PostgreSQL cluster tests/server/postgres-cluster started), requests made as the client makes them (one
TLS connection each, the test CA trusted), and report documents shaped like the client's."""

import hashlib
import http.client
import json
import os
import shutil
import socket
import ssl
import subprocess
import tempfile
import time
import uuid


class Server:
    """kxserver serve on 127.0.0.1 and a free port; `store` is ("data", folder) or ("database", url)."""

    def __init__(self, binary, pki, store, *extra):
        self.binary, self.pki, self.store, self.extra = binary, pki, store, list(extra)
        self.process = None
        self.work = tempfile.mkdtemp(prefix="kxserver-test-")
        self.log = os.path.join(self.work, "access.log")

    def store_words(self):
        return ["--" + self.store[0], self.store[1]]

    def start(self):
        port_file = os.path.join(self.work, "port")
        if os.path.exists(port_file):
            os.remove(port_file)
        command = [self.binary, "serve", *self.store_words(), "--listen", "127.0.0.1:0",
                   "--tls-cert", os.path.join(self.pki, "localhost.crt"),
                   "--tls-key", os.path.join(self.pki, "localhost.key"),
                   "--access-log", self.log, "--port-file", port_file, *self.extra]
        self.stderr = open(os.path.join(self.work, "stderr.log"), "ab")
        self.process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=self.stderr)
        deadline = time.monotonic() + 60
        while not os.path.exists(port_file):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise AssertionError("kxserver did not start: " + self.stderr_text())
            time.sleep(0.02)
        self.port = int(open(port_file).read())
        return self

    def stderr_text(self):
        self.stderr.flush()
        return open(os.path.join(self.work, "stderr.log"), errors="replace").read()

    def stop(self, kill=False):
        if self.process and self.process.poll() is None:
            self.process.kill() if kill else self.process.terminate()
            self.process.wait(timeout=60)
        code = self.process.returncode if self.process else None
        self.process = None
        return code

    def admin(self, *words, check=True):
        run = subprocess.run([self.binary, "admin", *self.store_words(), *words], capture_output=True, text=True)
        if check and run.returncode != 0:
            raise AssertionError("kxserver admin %s: %d %s" % (" ".join(words), run.returncode, run.stderr))
        return run

    def groups(self):
        return json.loads(self.admin("groups", "--json").stdout)

    def request(self, path, body=b"", headers=None, method="POST"):
        """One request on a connection of its own; (status, headers as a dict, body)."""
        context = ssl.create_default_context(cafile=os.path.join(self.pki, "ca.crt"))
        connection = http.client.HTTPSConnection("localhost", self.port, context=context, timeout=60)
        try:
            connection.request(method, path, body=body, headers=headers or {})
            response = connection.getresponse()
            return response.status, dict(response.getheaders()), response.read()
        finally:
            connection.close()

    def raw_head(self, path, body):
        """The answer's header block as sent (Python's parser drops a header named with a blank, as
        "Updated Preferences" is)."""
        context = ssl.create_default_context(cafile=os.path.join(self.pki, "ca.crt"))
        with socket.create_connection(("localhost", self.port)) as raw:
            with context.wrap_socket(raw, server_hostname="localhost") as tls:
                tls.sendall(b"POST %s HTTP/1.1\r\nHost: localhost\r\nContent-Length: %d\r\n\r\n%s"
                            % (path.encode(), len(body), body))
                answer = b""
                while b"\r\n\r\n" not in answer:
                    piece = tls.recv(65536)
                    if not piece:
                        break
                    answer += piece
        return answer.split(b"\r\n\r\n")[0].decode("latin-1")

    def cleanup(self):
        self.stop(kill=True)
        shutil.rmtree(self.work, ignore_errors=True)


def report(guid, frame="KXCrashDemo.exe+0x331C", product="kxdemo", version="1.0", build="1",
           crash_id=None, extra=""):
    """A report document as createdump writes it (CR LF lines, no final line end); `extra` differs per crash."""
    lines = [
        '<?xml version="1.0"?>',
        '<!DOCTYPE OrvanCrashReport SYSTEM "OrvanKestrix.dtd">',
        '<crashreport serviceVersion="12.0.0" clientVersion="12.0.0" applicationName="%s" applicationVersion="%s" '
        'build="%s" source="test" crashType="test">' % (product, version, build),
        '<time year="2026" month="12" day="8" hour="10" minute="0" second="0" timeoffset="0" timezone="UTC"/>',
        '<user guid="%s"/>' % guid,
        '<crash exception="EXCEPTION_ACCESS_VIOLATION" exceptionCode="0xc0000005" instruction="0x00007FF600001000">',
        '<backtrace crashedThread="0">', '<thread index="0">',
        '0 %s 0x00007FF60000331C' % frame, '1 ntdll.dll+0x1000 0x00007FFA00001000</thread>', '</backtrace>',
        '<dumpType>', 'Mini', '</dumpType>', '</crash>',
        '<sessionId>', extra or str(crash_id or uuid.uuid4()), '</sessionId>', '</crashreport>']
    return "\r\n".join(lines).encode()


def as_solution_body(document):
    """The solution exchange sends the stored report with each CR LF as LF."""
    return document.replace(b"\r\n", b"\n")


def as_uploaded(document, dump_attached):
    """The report as sendlog finishes it: cut at its end tag, the dumpAttached element when the dump was asked
    for, every line ended by CR LF."""
    text = document.replace(b"\r\n", b"\n").split(b"</crashreport>")[0] + b"\n"
    if dump_attached:
        text += b"<dumpAttached>\n\n</dumpAttached>\n"
    return (text + b"</crashreport>\n").replace(b"\n", b"\r\n")


def upload_headers(guid, name, kind, report_name=None):
    headers = {"Content-Type": "application/octet-stream", "X-KX-File-Name": name, "X-KX-File-Kind": kind,
               "X-KX-Installation-Guid": guid}
    if report_name:
        headers["X-KX-Report-Name"] = report_name
    return headers


def names(guid, crash_id):
    stem = "kxWinLog_%s_%s_abc.xml" % (guid, crash_id)
    return {"report": stem + ".final", "dump": "kxWinDump_%s_%s_abc.dmp.final" % (guid, crash_id),
            "attachment": stem + ".att1.app_log.final"}


def minidump(size):
    """Bytes that start like a minidump; the rest is filler."""
    head = b"MDMP\x93\xa7\x00\x00"
    return head + os.urandom(min(size, 64)) + b"\0" * max(0, size - len(head) - 64)


def wait_for(description, condition, limit=120):
    """Polls `condition` until it gives a true value; fails saying what it waited for and last saw."""
    deadline = time.monotonic() + limit
    seen = None
    while time.monotonic() < deadline:
        seen = condition()
        if seen:
            return seen
        time.sleep(0.1)
    raise AssertionError("waited %d s for %s; last saw %r" % (limit, description, seen))


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]
