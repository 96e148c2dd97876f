#!/usr/bin/env python3
"""Each crash kind of KXCrashDemo under Wine, its dump walked by kxdumpinfo --symbols (the Linux build, preset
linux) from the store this build keeps and Wine's own DLLs. For the crashed thread of every dump:
- it comes first, and every frame lies in a module;
- the signature's frame (the first application frame) is named with a file and a line, and no frame above it
  was found by scanning;
- the report's stack text (the handler's walk) gives the dump's frames in modules down to the signature's
  frame, and KXCrashDemo.exe's debug id: a server's signature of the report is the dump's;
- a symbol folder holding another build as KXCrashDemo.exe names none of its frames;
- every frame in KXCrashDemo.exe is named as x86_64-w64-mingw32-addr2line names it in the same binary; where
  addr2line finds no debug information (the runtime's assembly), a symbol's name alone may be there.
    tests/stackwalk/crash_kinds_e2e.py BUILD_DIR
"""
import glob
import json
import os
import re
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_DLLS = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"
KINDS = ["access-violation", "cpp-exception-worker", "abort", "stack-overflow", "pure-call", "invalid-parameter"]


def addr2line(image, address):
    """(function, file:line) pairs, innermost first, as binutils gives them; the line without a column."""
    out = subprocess.run(["x86_64-w64-mingw32-addr2line", "-f", "-i", "-C", "-e", image, hex(address)],
                         capture_output=True, text=True, check=True).stdout.splitlines()
    return [(out[i], out[i + 1].split(" (discriminator")[0].replace("??:0", "??:?"))
            for i in range(0, len(out) - 1, 2)]


def named(frame):
    return [(f["name"], "%s:%s" % (f["file"] or "??", f["line"] or "?")) for f in frame["functions"]]


def check_report(report, stacks):
    """The report's frames and the dump's agree, and so do their module ids."""
    frames = ["%s+0x%X" % (f["module"], int(f["offset"], 16)) if f["module"] else "??"
              for f in stacks["threads"][0]["frames"]]
    frames = frames[:stacks["signature"]["frame"] + 1]
    text = re.search(r'<thread index="0">\n(.*?)</thread>', report, re.S).group(1)
    walked = [line.split()[1] for line in text.splitlines() if line.split()[1] != "??"][:len(frames)]
    ids = {m["name"].split("\\")[-1]: m["debug_id"] for m in stacks["modules"]}
    line = re.search(r'<binaryImage [^>]*path="KXCrashDemo.exe"[^>]*>', report).group(0)
    problems = [] if frames == walked else ["the report's frames %s, the dump's %s" % (walked, frames)]
    if 'debugId="%s"' % ids["KXCrashDemo.exe"] not in line:
        problems.append("the report's %s, the dump's debug id %s" % (line, ids["KXCrashDemo.exe"]))
    return problems


def check(stacks, image, image_base):
    problems = []
    crashed = stacks["threads"][0]
    frames = crashed["frames"]
    if not crashed["crashed"] or not frames:
        return ["the crashed thread is not first, or has no frames"]
    problems += ["frame %d (%s) lies in no module" % (i, f["address"]) for i, f in enumerate(frames)
                 if f["module"] is None]
    at = stacks["signature"]["frame"]
    fault = frames[at]["functions"] if at is not None else []
    if not fault or not fault[0]["file"] or not fault[0]["line"]:
        problems.append("the signature %r names no function with a file and a line" % stacks["signature"]["text"])
    problems += ["frame %d, above the first application frame, was found by scanning" % i
                 for i in range(at or 0) if frames[i]["trust"] == "scan"]
    for i, frame in enumerate(frames):
        if frame["module"] != "KXCrashDemo.exe":
            continue
        address = image_base + int(frame["offset"], 16) - (0 if i == 0 else 1)
        expected = [entry for entry in addr2line(image, address) if entry[0] != "??"]
        if named(frame) != expected and (expected or any(f["file"] for f in frame["functions"])):
            problems.append("frame %d: %s, addr2line: %s" % (i, named(frame), expected))
    return problems


def walk_and_check(said, prefix, dumpinfo, build, image, image_base):
    crash = said.split("crash identifier ")[-1].split()[0] if "crash identifier " in said else "none"
    found = glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Roaming", "Orvan", "KXLogs", "dumps",
                                   "*_%s_abc.dmp" % crash))
    if not found:
        return ["no dump; KXCrashDemo said: " + said[-2000:]]
    walk = subprocess.run([dumpinfo, "--json", "--symbols", os.path.join(build, "symbols"), "--symbols", WINE_DLLS,
                           found[0]], capture_output=True, text=True, timeout=120)
    if walk.returncode != 0:
        return ["kxdumpinfo ended with %d: %s" % (walk.returncode, walk.stderr)]
    stacks = json.loads(walk.stdout)
    decoy = subprocess.run([dumpinfo, "--json", "--symbols", os.path.join(build, "decoy-symbols"), found[0]],
                           capture_output=True, text=True, timeout=120)
    named_by_decoy = [f["functions"] for f in json.loads(decoy.stdout)["threads"][0]["frames"]
                      if f["module"] == "KXCrashDemo.exe" and f["functions"]]
    report = glob.glob(os.path.join(os.path.dirname(os.path.dirname(found[0])), "crashlogs", "*_%s_abc.xml*" % crash))
    return check(stacks, image, image_base) + check_report(open(report[0], encoding="ascii").read(), stacks) + (
        ["another build of KXCrashDemo.exe named %s" % named_by_decoy] if named_by_decoy else [])


def main():
    build = os.path.realpath(sys.argv[1])
    dumpinfo = os.path.join(ROOT, "build", "linux", "bin", "kxdumpinfo")
    image = os.path.join(build, "bin", "KXCrashDemo.exe")
    headers = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", image], capture_output=True, text=True).stdout
    image_base = int(next(line.split()[1] for line in headers.splitlines() if line.startswith("ImageBase")), 16)
    os.makedirs(os.path.join(build, "decoy-symbols"), exist_ok=True)
    shutil.copy(os.path.join(build, "bin", "kx_trivial.exe"), os.path.join(build, "decoy-symbols", "KXCrashDemo.exe"))
    prefix = os.path.join(build, "stackwalk-wineprefix")
    subprocess.run([os.path.join(ROOT, "tools", "wine-prefix"), "start", prefix], check=True)
    failed = 0
    try:
        for folder in glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Roaming", "Orvan")):
            shutil.rmtree(folder)
        # Two kinds at a time (more keep a loaded machine's dumps from ending within the handler's limit), each
        # dump known by the crash identifier the handler prints. A reporter that does nothing keeps the dump
        # where createdump wrote it; no crash-loop guard.
        reporter = "Z:" + os.path.join(build, "bin", "kx_trivial.exe").replace("/", "\\")
        for pair in (KINDS[i:i + 2] for i in range(0, len(KINDS), 2)):
            runs = [(kind, subprocess.Popen([os.path.join(ROOT, "tools", "wine-run"), prefix, image, kind, "--loop-guard",
                                             "0", "--reporter", reporter], stdout=subprocess.PIPE,
                                            stderr=subprocess.DEVNULL, text=True)) for kind in pair]
            for kind, run in runs:
                problems = walk_and_check(run.communicate(timeout=600)[0], prefix, dumpinfo, build, image, image_base)
                print("%-22s %s" % (kind, "; ".join(problems) if problems else "named"), flush=True)
                failed += bool(problems)
    finally:
        subprocess.run([os.path.join(ROOT, "tools", "wine-prefix"), "stop", prefix])
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
