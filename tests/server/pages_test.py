#!/usr/bin/python3 -Es
"""kxserver's pages in Debian's Chromium, headless, against the real program on the store named: a page asked
without a session is refused; a developer logs in and sees a demo-like crash's group and its named stack
(the picture README shows); a hostile report cannot script the page; the help link and the dump sampling set
on the group's page reach the next client.

    pages_test.py KXSERVER PKI PICTURE (sqlite | postgres CLUSTER)

It is also the stand-in dump reader the server runs (`--dump-reader`): called as `pages_test.py --json DUMP`,
it prints the walk kxdumpinfo prints for the demo's crash, named; for a dump holding "hostile", names an
attacker would choose."""

import json
import os
import re
import struct
import subprocess
import sys
import urllib.parse
import uuid

import kxserver_support as k
from browser import Browser

SIGNATURE = "kxcrashdemo.exe!Crash"
# Any PE image stands for the demo's unstripped module: the stand-in reader names frames once it is stored.
MODULE = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/version.dll"
HOSTILE = "<script>kxPwned(1)</script><img src=x onerror=kxPwned(2)>"


def frame(number, module, offset, trust, *functions):
    return {"address": "0x00000001400%05X" % offset, "module": module, "module_index": 0, "offset": "0x%08X" % offset,
            "trust": trust, "functions": [{"name": f, "file": path, "line": line, "column": 5}
                                          for f, path, line in functions]}


def code_id(path):
    """The PE image's code id (docs/symbols.md): its time stamp and image size."""
    head = open(path, "rb").read(4096)
    pe = struct.unpack_from("<I", head, 0x3C)[0]
    return "%08X%x" % (struct.unpack_from("<I", head, pe + 8)[0], struct.unpack_from("<I", head, pe + 24 + 56)[0])


def read_dump(words):
    """Names the frames only once a symbol folder holds a file, as kxdumpinfo names them from the store."""
    folders = [words[at + 1] for at, word in enumerate(words) if word == "--symbols"]
    named = any(os.listdir(folder) for folder in folders if os.path.isdir(folder))
    hostile = b"hostile" in open(words[-1], "rb").read()
    name = HOSTILE if hostile else "Crash"
    frames = [frame(0, "KXCrashDemo.exe", 0x3475, "context", (name, "/src/crashdemo/main.cpp", 120),
                    ("wmain", "/src/crashdemo/main.cpp", 294)),
              frame(1, "KXCrashDemo.exe", 0x13DA, "unwind", ("__tmainCRTStartup", "crt/crtexe.c", 318)),
              frame(2, "kernel32.dll", 0x16B5D, "unwind"), frame(3, "ntdll.dll", 0x5B2A8, "scan")]
    if not named:
        for one in frames:
            one["functions"] = []
    print(json.dumps({"exception": {"code": "0xC0000005", "name": "EXCEPTION_ACCESS_VIOLATION"},
                      "modules": [{"name": "Z:\\KXCrashDemo.exe", "code_id": code_id(MODULE), "debug_id": None,
                                   "in_store": named}],
                      "threads": [{"id": 276, "crashed": True, "frames": frames}],
                      "signature": {"rules": 1, "text": ("x%s!y" % HOSTILE) if hostile else SIGNATURE, "frame": 0}
                      if named else None}))


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def crash(server, product="kxdemo", dump=b"", answer=None):
    """A crash as the client sends it: the solution exchange, then its report, an attachment and (asked for)
    its dump; returns the dump's bytes."""
    guid, crash_id = str(uuid.uuid4()), str(uuid.uuid4())
    document, files = k.report(guid, crash_id=crash_id, product=product), k.names(guid, crash_id)
    status, headers, _ = server.request("/solution-url/win/intel", k.as_solution_body(document))
    check(status == 200, "solution exchange: %d" % status)
    if answer:
        check(answer(headers), "the solution answer: %r" % headers)
    wants_dump = headers.get("Attach_Dump") == "yes"
    server.request("/upload", k.as_uploaded(document, wants_dump), k.upload_headers(guid, files["report"], "report"))
    server.request("/upload", b"app log line\r\n", k.upload_headers(guid, files["attachment"], "attachment",
                                                                    files["report"]))
    dump_bytes = k.minidump(4096) + dump
    if wants_dump:
        server.request("/upload", dump_bytes, k.upload_headers(guid, files["dump"], "dump"))
    return dump_bytes


def group_id(server, signature):
    rows = k.wait_for("the group " + signature, lambda: [g for g in server.groups() if g["signature"] == signature])
    return rows[0]


def refused_without_session(server, gid):
    for method, path, status in [("GET", "/", 401), ("GET", "/groups/%d" % gid, 401),
                                 ("POST", "/groups/%d" % gid, 403), ("POST", "/logout", 403)]:
        got, _, body = server.request(path, b"what=dumps&dumps=0" if method == "POST" else b"", method=method)
        check(got == status and SIGNATURE.encode() not in body, "%s %s without a session: %d" % (method, path, got))
    # The login form as another site would post it, without the login page's token: no session (login CSRF).
    got, headers, _ = server.request("/login", b"name=dev&password=correct-horse")
    check(got == 403 and "kx_session" not in headers.get("Set-Cookie", ""), "a login without its token: %d" % got)
    _, headers, page = server.request("/login", method="GET")
    token = re.search(rb'name="login" value="([0-9a-f]+)"', page).group(1)
    _, headers, _ = server.request("/login", b"name=dev&password=correct-horse&login=" + token,
                                   {"Cookie": headers["Set-Cookie"].split(";")[0]})
    # A session's form without its CSRF token, as another site's page would send it.
    cookie = headers["Set-Cookie"].split(";")[0]
    check("HttpOnly" in headers["Set-Cookie"] and "SameSite=Strict" in headers["Set-Cookie"],
          "cookie: " + headers["Set-Cookie"])
    got = server.request("/groups/%d" % gid, b"what=dumps&dumps=0&csrf=guess", {"Cookie": cookie})[0]
    check(got == 403, "a form without its CSRF token: %d" % got)
    return cookie


def main():
    if sys.argv[1] == "--json":
        return read_dump(sys.argv)
    kxserver, pki, picture, store = sys.argv[1:5]
    if store == "postgres":
        url = subprocess.run([k.os.path.join(k.os.path.dirname(k.os.path.abspath(__file__)), "postgres-cluster"),
                              "database", sys.argv[5], "pages"], capture_output=True, text=True, check=True)
        location = ("database", url.stdout.strip())
    else:
        location = ("data", k.os.path.join(k.tempfile.mkdtemp(prefix="kxserver-pages-"), "data"))
    symbols = ["--symbol-store", k.tempfile.mkdtemp(prefix="kxserver-symbols-")]
    server = k.Server(kxserver, pki, location, "--dump-reader", os.path.abspath(__file__), "--symbols-key",
                      "symbols-key-1", *symbols).start()
    pin = subprocess.run("openssl x509 -in %s/localhost.crt -pubkey -noout | openssl pkey -pubin -outform der | "
                         "openssl dgst -sha256 -binary | base64" % pki, shell=True, capture_output=True, text=True)
    browser = None
    try:
        subprocess.run([kxserver, "admin", *server.store_words(), "user", "dev"], input="correct-horse\ncorrect-horse\n",
                       text=True, check=True, capture_output=True)
        dump = crash(server)
        k.wait_for("the dump walked without symbols", lambda: [
            u for u in json.loads(server.admin("uploads", "--json").stdout) if u["kind"] == "dump" and u["state"] == "processed"])
        check(group_id(server, "kxcrashdemo.exe+0x331C")["dumps"] == 1, "the crash's group before its symbols")
        # Its module's symbols sent once, by HTTP with the key: the earlier crash is walked again and named.
        module = open(MODULE, "rb").read()
        upload = {"X-KX-File-Name": "KXCrashDemo.exe", "X-KX-Symbols-Key": "symbols-key-1"}
        # Larger than the socket's buffers: the refusal must still reach a client that is sending.
        check(server.request("/symbols", module * 64, dict(upload, **{"X-KX-Symbols-Key": "guess"}))[0] == 401,
              "symbols taken with a wrong key")
        status, _, answer = server.request("/symbols", module, upload)
        check(status == 200 and b"1 dumps to walk again" in answer, "symbols upload: %d %r" % (status, answer))
        group = group_id(server, SIGNATURE)
        added = server.admin(*symbols, "symbols", "add", MODULE).stdout
        check("version.dll/%s/version.dll" % code_id(MODULE) in added, "kxserver admin symbols add: " + added)
        cookie = refused_without_session(server, group["id"])
        base = "https://localhost:%d" % server.port
        browser = Browser(pin.stdout.strip())
        # Log in from the page asked for, see the group in the list and its named stack on its page.
        browser.open(base + "/groups/%d" % group["id"])
        browser.submit('form[action="/login"]', name="dev", password="correct-horse")
        text = browser.text()
        for expected in [SIGNATURE, "main.cpp:120", "inlined into", "wmain", "context", "unwind", "scan", "not named"]:
            check(expected in text, "the group page lacks %r:\n%s" % (expected, text))
        browser.screenshot(picture)
        # Its report: every field, every thread named, the dump and the attachment a click away.
        browser.open(browser.run("document.querySelector('a[href^=\"/reports/\"]').href"))
        text = browser.text()
        for expected in ["applicationName", "kxdemo", "sessionId", "Thread 276 (crashed)", "main.cpp:120", ".att1.app_log"]:
            check(expected in text, "the report page lacks %r:\n%s" % (expected, text))
        path = urllib.parse.urlparse(browser.run("document.querySelector('a[href^=\"/uploads/\"]').href")).path
        check(server.request(path, method="GET")[0] == 401, "a dump downloaded without a session")
        check(server.request(path, method="GET", headers={"Cookie": cookie})[2] == dump, "the dump downloaded differs")
        browser.open(base + "/symbols")
        check("KXCrashDemo.exe/%s/KXCrashDemo.exe" % code_id(MODULE) in browser.text(), "symbols page:\n" + browser.text())
        browser.open(base + "/?product=kxdemo&sort=last")
        check(SIGNATURE in browser.text(), "the filtered group list:\n" + browser.text())
        browser.open(base + "/?product=other")
        check(SIGNATURE not in browser.text(), "a filter for another product still lists the group")
        # A hostile report and dump: their texts are shown as text, and nothing on any page tries to run.
        crash(server, product=HOSTILE.replace("<", "&lt;").replace(">", "&gt;"), dump=b"hostile")
        hostile = group_id(server, "x%s!y" % HOSTILE)
        for path in ["/", "/groups/%d" % hostile["id"]]:
            browser.open(base + path)
            check(HOSTILE in browser.text(), "%s does not show the hostile text as text:\n%s" % (path, browser.text()))
        check(not browser.attempts_to_script(), "a page tried to run script: %r" % browser.attempts_to_script())
        # The help link and the dump sampling, set on the group's page, in the next client's answer.
        link = "https://help.example/kx/crash?id=1&lang=en"
        browser.open(base + "/groups/%d" % group["id"])
        browser.submit('form[action="/groups/%d"]:has(input[value="link"])' % group["id"], link=link)
        browser.submit('form[action="/groups/%d"]:has(input[value="dumps"])' % group["id"], dumps="0")
        check("Dump sampling saved." in browser.text(), "after saving:\n" + browser.text())
        crash(server, answer=lambda h: h.get("Solution_url") == link and h.get("Attach_Dump") == "no")
        browser.submit('form[action="/groups/%d"]:has(input[value="link"])' % group["id"], link="javascript:kxPwned(3)")
        check("Not saved" in browser.text(), "a javascript: help link was taken:\n" + browser.text())
        # A build asked for full dumps on the builds page: the next preference exchange of its clients says so.
        browser.open(base + "/builds")
        browser.submit('form[action="/builds"]:has(input[value="kxdemo"])', kind="1")
        asked = b'[{"product": "kxdemo","version" : "1.0","build" : "1","preferences" : "0_1_100"}]'
        head = server.raw_head("/pvb-preferences/win/intel", asked)
        check("1_1_100" in head,
              "the preference answer after asking for full dumps:\n" + head)
        # Events by type and day.
        event = b'{"events":[{"project":"qplx-desk-relayer","data":{"event.type":"app-start"}}]}'
        check(server.request("/ingest", event, {"x-api-key": "qplx-desk-relayer"})[0] == 200, "an event accepted")
        browser.open(base + "/events")
        row = [line for line in browser.text().splitlines() if line.startswith("app-start")]
        check(row and row[0].split("\t")[-1] == "1", "the events page:\n" + browser.text())
        check(not browser.attempts_to_script(), "a page tried to run script: %r" % browser.attempts_to_script())
    except BaseException:
        print(server.stderr_text()[-3000:], open(server.log).read()[-3000:], sep="\n")
        raise
    finally:
        if browser:
            browser.close()
        server.cleanup()


if __name__ == "__main__":
    main()
