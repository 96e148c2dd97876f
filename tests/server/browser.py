"""Debian's Chromium, headless, driven over its DevTools protocol on a pipe (--remote-debugging-pipe: JSON
messages ended by NUL on file descriptors 3 and 4), so that no package beyond Debian's is needed. Waits are
for protocol events (a page's load) with deadlines. It records what a page tried to run: dialogs, calls of
the binding `kxPwned`, and the console's messages (a Content-Security-Policy refusal among them)."""

import base64
import fcntl
import json
import os
import queue
import shutil
import subprocess
import tempfile
import threading
import time


class Browser:
    def __init__(self, spki_pin):
        self.profile = tempfile.mkdtemp(prefix="kx-chromium-")
        to_child, self._writer = os.pipe()
        self._reader, from_child = os.pipe()
        self._next_id, self.events, self._answers = 0, [], queue.Queue()

        def fds():  # the protocol's descriptors 3 and 4 in the child, whatever numbers the pipes have here
            read, write = fcntl.fcntl(to_child, fcntl.F_DUPFD, 10), fcntl.fcntl(from_child, fcntl.F_DUPFD, 10)
            os.dup2(read, 3)
            os.dup2(write, 4)

        self.process = subprocess.Popen(
            ["/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--user-data-dir=" + self.profile, "--window-size=1280,860", "--remote-debugging-pipe",
             "--ignore-certificate-errors-spki-list=" + spki_pin, "about:blank"],
            preexec_fn=fds, pass_fds=(3, 4), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_child)
        os.close(from_child)
        threading.Thread(target=self._read, daemon=True).start()
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        for domain in ["Page.enable", "Runtime.enable", "Log.enable"]:
            self.call(domain, session=self.session)
        self.call("Runtime.addBinding", session=self.session, name="kxPwned")

    def _read(self):
        pending = b""
        while True:
            piece = os.read(self._reader, 65536)
            if not piece:
                self._answers.put(None)
                return
            pending += piece
            while b"\0" in pending:
                message, pending = pending.split(b"\0", 1)
                decoded = json.loads(message)
                if "id" in decoded:
                    self._answers.put(decoded)
                else:
                    self.events.append(decoded)

    def call(self, method, session=None, **params):
        self._next_id += 1
        message = {"id": self._next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        os.write(self._writer, json.dumps(message).encode() + b"\0")
        while True:
            answer = self._answers.get(timeout=120)
            if answer is None:
                raise AssertionError("Chromium ended while answering " + method)
            if answer["id"] == self._next_id:
                if "error" in answer:
                    raise AssertionError("%s: %s" % (method, answer["error"]))
                return answer["result"]

    def page(self, method, **params):
        return self.call(method, session=self.session, **params)

    def _loads(self):
        return len([e for e in self.events if e.get("method") == "Page.loadEventFired"])

    def _after_load(self, action, what):
        loads = self._loads()
        action()
        deadline = time.monotonic() + 120
        while self._loads() == loads:
            if time.monotonic() > deadline:
                raise AssertionError("waited 120 s for the page to load after %s; at %s" % (what, self.url()))
            time.sleep(0.05)

    def open(self, url):
        self._after_load(lambda: self.page("Page.navigate", url=url), url)

    def run(self, script):
        result = self.page("Runtime.evaluate", expression=script, returnByValue=True)
        if "exceptionDetails" in result:
            raise AssertionError("%s: %s" % (script, result["exceptionDetails"]))
        return result["result"].get("value")

    def submit(self, form_selector, **fields):
        """Fills the form's fields as a user would and sends it; returns once the answer's page has loaded."""
        script = "(() => { const f = document.querySelector(%s);" % json.dumps(form_selector)
        for name, value in fields.items():
            script += "f.elements[%s].value = %s;" % (json.dumps(name), json.dumps(value))
        self._after_load(lambda: self.run(script + "f.requestSubmit(); })()"), "sending " + form_selector)

    def url(self):
        return self.run("location.href")

    def text(self):
        return self.run("document.body.innerText")

    def attempts_to_script(self):
        """Whatever a page tried to run: dialogs, binding calls, console calls, and the browser's refusals of
        script (Content-Security-Policy) and script errors."""
        def tried(event):
            entry = event.get("params", {}).get("entry", {})
            return event.get("method") in ["Page.javascriptDialogOpening", "Runtime.bindingCalled",
                                           "Runtime.consoleAPICalled", "Runtime.exceptionThrown"] or (
                event.get("method") == "Log.entryAdded" and (entry.get("source") in ["security", "javascript"] or
                                                               "Content Security Policy" in entry.get("text", "")))
        return [e for e in self.events if tried(e)]

    def screenshot(self, path):
        data = self.page("Page.captureScreenshot", format="png", captureBeyondViewport=True)["data"]
        with open(path, "wb") as picture:
            picture.write(base64.b64decode(data))

    def close(self):
        try:
            self.call("Browser.close")
        except AssertionError:
            pass
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self._writer)
        shutil.rmtree(self.profile, ignore_errors=True)
