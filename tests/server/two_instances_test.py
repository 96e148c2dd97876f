"""Two kxserver instances on one PostgreSQL database under the same load: every report reaches both (at the
solution exchange and as an upload), every file is sent to both at once. No file is stored twice, and each
group counts each of its crashes once.

    two_instances_test.py KXSERVER PKI CLUSTER"""

import collections
import concurrent.futures
import os
import subprocess
import sys
import uuid

import kxserver_support as k

KXSERVER, PKI, CLUSTER = sys.argv[1:4]
CRASHES = 24
FRAMES = ["KXCrashDemo.exe+0x331C", "KXCrashDemo.exe+0x1010", "ntdll.dll+0x7E3F", "ucrtbase.dll+0x71D4"]


def crash(servers, number):
    """One crash of one installation, each request sent to both instances at once."""
    guid, crash_id = str(uuid.uuid4()), "20261208-%d" % number
    document = k.report(guid, frame=FRAMES[number % len(FRAMES)], crash_id=crash_id)
    files = k.names(guid, crash_id)
    requests = [("/solution-url/win/intel", k.as_solution_body(document), {}),
                ("/upload", k.as_uploaded(document, True), k.upload_headers(guid, files["report"], "report")),
                ("/upload", k.minidump(200000 + number), k.upload_headers(guid, files["dump"], "dump"))]
    with concurrent.futures.ThreadPoolExecutor(2) as pair:
        for path, body, headers in requests:
            statuses = list(pair.map(lambda server: server.request(path, body, headers)[0], servers))
            if statuses != [200, 200]:
                raise AssertionError("%s of crash %d: %s" % (path, number, statuses))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    url = subprocess.run([os.path.join(here, "postgres-cluster"), "database", CLUSTER, "two_instances"],
                         capture_output=True, text=True, check=True).stdout.strip()
    servers = [k.Server(KXSERVER, PKI, ("database", url), "--rate-per-installation", "0") for _ in range(2)]
    try:
        for server in servers:
            server.start()
        with concurrent.futures.ThreadPoolExecutor(8) as clients:
            list(clients.map(lambda number: crash(servers, number), range(CRASHES)))
        expected = collections.Counter(FRAMES[number % len(FRAMES)] for number in range(CRASHES))
        expected = {frame.split("+")[0].lower() + "+" + frame.split("+")[1]: n for frame, n in expected.items()}
        uploads = servers[0].admin("uploads", "--json").stdout
        if uploads.count('"name"') != 2 * CRASHES:
            raise AssertionError("%d files stored for %d sent" % (uploads.count('"name"'), 2 * CRASHES))
        k.wait_for("every group with each crash and its dump once", lambda: sorted(
            (g["signature"], g["crashes"], g["dumps"]) for g in servers[1].groups()) == sorted(
            (frame, count, count) for frame, count in expected.items()))
        if servers[0].admin("check", check=False).returncode != 0:
            raise AssertionError("a stored file does not read back whole")
        print("two_instances_test: %d crashes through two instances, %d groups, each crash once" %
              (CRASHES, len(expected)))
    except BaseException:
        for server in servers:
            print(server.stderr_text()[-2000:])
        raise
    finally:
        for server in servers:
            server.cleanup()


if __name__ == "__main__":
    main()
