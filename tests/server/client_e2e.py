"""The real client under Wine against kxserver, on both stores: KXCrashDemo crashes with the sending
policy, and its crash handler, reporter, service and log transport make every exchange with kxserver (the
preference exchange, the solution exchange, the uploads, the event post). A second crash of the same kind
joins the same group and, with the dump sampling's K at 1, leaves its dump at home. The server has the
build's symbol store: the dump's walk names the crash, and its group takes the named signature.

    client_e2e.py KXSERVER WINDOWS_BUILD_DIR POSTGRES_CLUSTER

Exit code 77 (skipped) when the Windows build has not been made."""

import json
import os
import shutil
import subprocess
import sys

import kxserver_support as k

KXSERVER, BUILD, CLUSTER = sys.argv[1:4]
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BIN = os.path.join(BUILD, "bin")
PREFIX = os.path.join(BUILD, "server-client-wineprefix")
WORK = os.path.join(BUILD, "server-client-run")
PREFERENCES = r"HKCU\Software\Orvan\CommonFiles\KXLog\ProductPreferences"
LINK = "https://help.example/kx/demo"


def wine(*words, check=True, timeout=180):
    run = subprocess.run([os.path.join(ROOT, "tools", "wine-run"), PREFIX, *words], capture_output=True, text=True,
                         timeout=timeout, stdin=subprocess.DEVNULL)
    if check and run.returncode != 0:
        raise AssertionError("%s: %d\n%s" % (" ".join(words), run.returncode, run.stdout[-2000:] + run.stderr[-2000:]))
    return run


def winpath(path):
    return "Z:" + path.replace("/", "\\")


def fresh_client_state():
    roaming = os.path.join(PREFIX, "drive_c", "users", os.environ.get("USER", "root"), "AppData", "Roaming")
    logs = os.path.join(roaming, "Orvan", "KXLogs")
    for name in ["crashlogs", "dumps", "ingest"]:
        shutil.rmtree(os.path.join(logs, name), ignore_errors=True)
    wine("reg", "add", PREFERENCES, "/v", "kxdemo;1.0;1", "/d", "0_1_100", "/f")


def crash(server, client, number):
    """One crash of KXCrashDemo, its report sent; returns once the server has its report and event."""
    before = open(server.log).read().count("POST /ingest 200")
    log = os.path.join(WORK, "reporter-%d.log" % number)
    # Without the crash-loop guard and the day's limit: each crash of the run is a crash like the first.
    words = [os.path.join(BIN, "KXCrashDemo.exe"), "access-violation", "--send", "--update-preferences",
             "--loop-guard", "0", "--reports-per-day", "0",
             "--client-dir", winpath(client), "--service", winpath(os.path.join(BIN, "KXWindowsClientService.exe")),
             "--reporter-log", winpath(log)]
    run = wine(*words, check=False)
    if run.returncode == 1 and not run.stdout:
        # Wine itself, not the program: on a loaded machine a start now and then ends 1 before the program's
        # first line (its handler installed prints one). Nothing of the client ran, so a second start is the
        # same crash's first.
        print("KXCrashDemo did not start (Wine ended 1): started again\n" + run.stderr[-2000:])
        run = wine(*words, check=False)
    if run.returncode != 5:  # 0xC0000005's low byte, as Wine hands it to Linux
        raise AssertionError("KXCrashDemo ended with %d\n%s\n%s" % (run.returncode, run.stdout[-2000:],
                                                                    run.stderr[-2000:]))
    k.wait_for("the event of crash %d" % number, lambda: open(server.log).read().count("POST /ingest 200") > before)
    return log


def against(store, crashes):
    server = k.Server(KXSERVER, os.path.join(WORK, "pki"), store, "--symbols", os.path.join(BUILD, "symbols")).start()
    try:
        client = os.path.join(WORK, "client")
        os.makedirs(client, exist_ok=True)
        shutil.copy(os.path.join(BIN, "KXLogTransport.exe"), client)
        with open(os.path.join(client, "kx_win_client_config.cfg"), "w", newline="") as config:
            for name in ["kxcn", "kxkxs", "kxingest", "kxupload"]:
                config.write("%s-url = https://localhost\r\n%s-port = %d\r\n" % (name, name, server.port))
        server.admin("link", "module:KXCrashDemo.exe", LINK)
        server.admin("dumps-per-group", "1")
        server.admin("preference", "KXDemo", "1.0", "1", "1_1_100")
        fresh_client_state()
        for number in range(1, crashes + 1):
            log = crash(server, client, number)
            if LINK not in open(log, errors="replace").read():
                raise AssertionError("the reporter did not get the help link:\n" + open(log).read())
            # The first crash's dump is asked for and arrives; later ones are not asked for (K is 1).
            k.wait_for("crash %d in its group with one dump" % number, lambda: [
                g for g in server.groups() if g["crashes"] == number and g["dumps"] == 1 and g["link"] == LINK])
        k.wait_for("the group named by the dump's symbols", lambda: [
            g for g in server.groups() if g["signature"] == "kxcrashdemo.exe!Crash" and g["crashes"] == crashes])
        kinds = [u["kind"] for u in json.loads(server.admin("uploads", "--json").stdout)]
        if kinds.count("report") != crashes or kinds.count("dump") != 1:
            raise AssertionError("uploads: %r" % kinds)
        stored = wine("reg", "query", PREFERENCES, "/v", "kxdemo;1.0;1").stdout
        if "1_1_100" not in stored:
            raise AssertionError("the preference answer did not reach the registry:\n" + stored)
        print("%s: %s" % (store[0], json.dumps(server.groups())))
    except BaseException:
        print(open(server.log).read()[-4000:], server.stderr_text()[-2000:], sep="\n")
        raise
    finally:
        server.cleanup()


def main():
    if not os.path.isfile(os.path.join(BIN, "KXCrashDemo.exe")):
        print("no Windows build in %s: cmake --preset windows && cmake --build --preset windows" % BUILD)
        sys.exit(77)
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    subprocess.run([os.path.join(ROOT, "tools", "wine-prefix"), "start", PREFIX], check=True)
    try:
        subprocess.run([os.path.join(ROOT, "tools", "make-test-pki"), os.path.join(WORK, "pki"), PREFIX,
                        os.path.join(BIN, "trust_test_ca.exe")], check=True, capture_output=True)
        against(("data", os.path.join(WORK, "data")), 2)
        url = subprocess.run([os.path.join(os.path.dirname(os.path.abspath(__file__)), "postgres-cluster"),
                              "database", CLUSTER, "client_e2e"], capture_output=True, text=True, check=True)
        against(("database", url.stdout.strip()), 1)
    finally:
        subprocess.run([os.path.join(ROOT, "tools", "wine-prefix"), "stop", PREFIX])


if __name__ == "__main__":
    main()
