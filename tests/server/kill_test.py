"""kill -9 of kxserver under load: after a restart, every upload a client saw 2xx for is there whole, nothing
half-written is, and what was not answered goes in when sent again.

    kill_test.py KXSERVER PKI (sqlite | postgres CLUSTER)"""

import hashlib
import json
import os
import random
import subprocess
import sys
import threading
import uuid

import kxserver_support as k

KXSERVER, PKI, STORE = sys.argv[1], sys.argv[2], sys.argv[3]


def store():
    if STORE == "postgres":
        here = os.path.dirname(os.path.abspath(__file__))
        return ("database", subprocess.run([os.path.join(here, "postgres-cluster"), "database", sys.argv[4], "kill"],
                                           capture_output=True, text=True, check=True).stdout.strip())
    return ("data", os.path.join(k.tempfile.mkdtemp(prefix="kxserver-kill-"), "data"))


class Load:
    """Clients that upload dumps of their own until the server goes away."""

    def __init__(self, server, clients):
        self.server, self.lock = server, threading.Lock()
        self.answered, self.sent = {}, {}
        self.threads = [threading.Thread(target=self.client, daemon=True) for _ in range(clients)]

    def client(self):
        guid = str(uuid.uuid4())
        for number in range(1000):
            name = k.names(guid, "20261208-%d" % number)["dump"]
            body = os.urandom(64) + bytes(random.randrange(1 << 16, 1 << 20))
            with self.lock:
                self.sent[name] = (guid, body)
            try:
                status = self.server.request("/upload", body, k.upload_headers(guid, name, "dump"))[0]
            except OSError:
                return  # the server is gone
            if status == 200:
                with self.lock:
                    self.answered[name] = hashlib.sha256(body).hexdigest()

    def acknowledged(self):
        with self.lock:
            return len(self.answered)


def main():
    server = k.Server(KXSERVER, PKI, store(), "--rate-per-installation", "0")
    server.start()
    try:
        load = Load(server, 12)
        for thread in load.threads:
            thread.start()
        k.wait_for("40 uploads answered 2xx", lambda: load.acknowledged() >= 40)
        server.stop(kill=True)
        for thread in load.threads:
            thread.join(60)
        stray = None
        if server.store[0] == "data":  # a stray of an earlier run, dated later than the restart
            stray = os.path.join(server.store[1], "files", "ab", "ab" + "0" * 62)
            os.makedirs(os.path.dirname(stray), exist_ok=True)
            with open(stray, "wb") as file:
                file.write(b"x")
            os.utime(stray, (2 ** 32, 2 ** 32))
        server.start()
        if stray and os.path.exists(stray):
            raise AssertionError("a file no upload names outlived the restart: " + stray)
        stored = {u["name"]: u for u in json.loads(server.admin("uploads", "--json").stdout)}
        lost = [name for name, digest in load.answered.items()
                if name not in stored or stored[name]["sha256"] != digest]
        if lost:
            raise AssertionError("answered 2xx, not there whole after the restart: %s" % lost[:5])
        checked = server.admin("check", check=False)
        if checked.returncode != 0:
            raise AssertionError("half-written or stray files after the restart:\n" + checked.stdout[-3000:])
        for name, (guid, body) in load.sent.items():
            if server.request("/upload", body, k.upload_headers(guid, name, "dump"))[0] != 200:
                raise AssertionError("not taken when sent again: " + name)
        if len(json.loads(server.admin("uploads", "--json").stdout)) != len(load.sent):
            raise AssertionError("a file sent again was stored twice")
        print("kill_test: %d answered before the kill, %d stored then, all %d stored once after sending again"
              % (len(load.answered), len(stored), len(load.sent)))
    except BaseException:
        print(server.stderr_text()[-3000:])
        raise
    finally:
        server.cleanup()


if __name__ == "__main__":
    main()
