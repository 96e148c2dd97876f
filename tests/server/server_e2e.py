"""kxserver end to end over HTTPS, on the store named: every exchange as the client makes it; uploads in every
order, repeated and cut mid-body; the limits a client meets.

    server_e2e.py KXSERVER PKI (sqlite | postgres CLUSTER)"""

import itertools
import json
import os
import socket
import ssl
import subprocess
import sys
import uuid

import kxserver_support as k

KXSERVER, PKI, STORE = sys.argv[1], sys.argv[2], sys.argv[3]


def make_store(name):
    if STORE == "postgres":
        cluster = sys.argv[4]
        here = os.path.dirname(os.path.abspath(__file__))
        url = subprocess.run([os.path.join(here, "postgres-cluster"), "database", cluster, name],
                             capture_output=True, text=True, check=True).stdout.strip()
        return ("database", url)
    return ("data", os.path.join(k.tempfile.mkdtemp(prefix="kxserver-e2e-"), "data"))


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def exchanges(server):
    guid = str(uuid.uuid4())
    server.admin("link", "prefix:kxcrashdemo.exe+0x33", "https://help.example/kx/4711")
    server.admin("preference", "KXDemo", "1.0", "1", "1_1_100")
    status, headers, _ = server.request("/solution-url/win/intel", k.as_solution_body(k.report(guid)),
                                        {"Content-Type": "application/x-www-form-urlencoded"})
    check(status == 200 and headers.get("Solution_url") == "https://help.example/kx/4711"
          and headers.get("Attach_Dump") == "yes", "solution answer: %r" % headers)
    asked = b'[{"product": "kxdemo","version" : "1.0","build" : "1","preferences" : "0_1_100"}]'
    head = server.raw_head("/pvb-preferences/win/intel", asked)
    value = head.partition("\r\nUpdated Preferences: ")[2].split("\r\n")[0]
    check(json.loads(value) == [{"product": "kxdemo", "version": "1.0", "build": "1", "preferences": "1_1_100"}],
          "preference answer:\n" + head)
    event = b'{"events":[{"project":"qplx-desk-relayer","data":{"event.type":"error"}}]}'
    check(server.request("/ingest", event, {"x-api-key": "wrong"})[0] == 401, "a wrong API key refused")
    check(server.request("/ingest", event, {"x-api-key": "qplx-desk-relayer"})[0] == 200, "an event accepted")
    check(server.request("/ingest", b"{", {"x-api-key": "qplx-desk-relayer"})[0] == 400, "a broken event refused")
    metrics = server.request("/metrics", method="GET")[2].decode()
    check('kxserver_requests_total{exchange="events",status="401"} 1' in metrics, "metrics:\n" + metrics)
    k.wait_for("one log line per request", lambda: len(open(server.log).read().splitlines()) == 6)


def send_crash(server, guid, crash_id, order):
    document = k.report(guid, crash_id=crash_id)
    files = k.names(guid, crash_id)
    bodies = {"report": k.as_uploaded(document, True), "dump": k.minidump(300000), "attachment": b"log line\r\n"}
    for kind in order:
        headers = k.upload_headers(guid, files[kind], kind, files["report"] if kind == "attachment" else None)
        for _ in range(2):  # a repeat (a transport killed before it saw the 2xx) is stored once
            status = server.request("/upload", bodies[kind], headers)[0]
            check(status == 200, "%s of %s (%s): %d" % (kind, crash_id, order, status))
    return {files[kind]: bodies[kind] for kind in order}


def cut_upload(server, guid, name, body):
    """Headers and half the body, then the connection closed: as a transport killed mid-upload."""
    context = ssl.create_default_context(cafile=os.path.join(PKI, "ca.crt"))
    with socket.create_connection(("localhost", server.port)) as raw:
        with context.wrap_socket(raw, server_hostname="localhost") as tls:
            head = ("POST /upload HTTP/1.1\r\nHost: localhost\r\nContent-Length: %d\r\nX-KX-File-Name: %s\r\n"
                    "X-KX-File-Kind: dump\r\nX-KX-Installation-Guid: %s\r\n\r\n" % (len(body), name, guid))
            tls.sendall(head.encode() + body[:len(body) // 2])


def uploads_in_every_order(server):
    expected = {}
    for number, order in enumerate(itertools.permutations(["report", "dump", "attachment"])):
        guid = str(uuid.uuid4())
        expected.update(send_crash(server, guid, "20261208-1-%d" % number, order))
    guid = str(uuid.uuid4())
    name = k.names(guid, "20261208-2-1")["dump"]
    body = k.minidump(1 << 20)
    cut_upload(server, guid, name, body)
    k.wait_for("the cut upload's log line", lambda: "body cut short" in open(server.log).read())
    check(name not in [u["name"] for u in json.loads(server.admin("uploads", "--json").stdout)],
          "a body cut short is not stored")
    check(server.request("/upload", body, k.upload_headers(guid, name, "dump"))[0] == 200, "sent again whole")
    expected[name] = body
    stored = {u["name"]: u for u in json.loads(server.admin("uploads", "--json").stdout)}
    for name, body in expected.items():
        check(name in stored and stored[name]["sha256"] == k.hashlib.sha256(body).hexdigest(), "stored whole: " + name)
    check(len(stored) == len(expected), "each file once: %d of %d" % (len(stored), len(expected)))
    groups = k.wait_for("six crashes with their dumps in one group",
                        lambda: [g for g in server.groups() if g["crashes"] == 6 and g["dumps"] == 6])
    check(groups[0]["installations"] == 6, "groups: %r" % groups)
    # A dump the reader (kxdumpinfo) refuses is kept all the same, and marked.
    guid = str(uuid.uuid4())
    name = k.names(guid, "20261208-3-1")["dump"]
    check(server.request("/upload", b"MDMP garbled", k.upload_headers(guid, name, "dump"))[0] == 200,
          "a garbled dump taken")
    k.wait_for("the garbled dump kept and marked unreadable", lambda: [
        u for u in json.loads(server.admin("uploads", "--json").stdout) if u["name"] == name and u["state"] == "unreadable"])
    check(server.admin("check").returncode == 0, "every stored file reads back whole")


def limits(server):
    guid = str(uuid.uuid4())
    files = k.names(guid, "20261208-3-1")
    status, _, _ = server.request("/upload", k.minidump(2 << 20), k.upload_headers(guid, files["dump"], "dump"))
    check(status == 413, "a dump over --max-dump-mib: %d" % status)
    bad = k.upload_headers(guid, files["report"], "dump")
    check(server.request("/upload", b"x", bad)[0] == 400, "a kind that is not the name's")
    statuses = [server.request("/upload", b"x", k.upload_headers(guid, files["report"], "report"))
                for _ in range(12)]
    refused = [headers for status, headers, _ in statuses if status == 429]
    check(refused and int(refused[0]["Retry-After"]) >= 1, "429 with Retry-After past the installation's rate")
    other = str(uuid.uuid4())
    check(server.request("/upload", b"x", k.upload_headers(other, k.names(other, "1-1")["report"], "report"))[0]
          == 200, "another installation goes on")


def main():
    for test, extra in [(exchanges, []), (uploads_in_every_order, []),
                        (limits, ["--max-dump-mib", "1", "--rate-per-installation", "10"])]:
        server = k.Server(KXSERVER, PKI, make_store(test.__name__), *extra).start()
        try:
            test(server)
            print("%s: passed" % test.__name__)
        except BaseException:
            print(open(server.log).read()[-3000:], server.stderr_text()[-3000:], sep="\n")
            raise
        finally:
            server.cleanup()


if __name__ == "__main__":
    main()
