#!/usr/bin/python3
"""A person at headless Chromium: on the provider's consent page types the user
and password, presses 許可する and waits for the desk's page to say that the
sign-in is done. Prints the address of that page. Usage: consent.py URL USER PASSWORD"""
import itertools, json, os, queue, re, signal, subprocess, sys, tempfile, threading, time
import websocket

url, user, password = sys.argv[1:4]
deadline = time.monotonic() + 60
signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))


def left():
    if time.monotonic() > deadline:
        sys.exit("consent.py: out of time")
    return deadline - time.monotonic()


class Page:
    def __init__(self, ws_url):
        self.ws = websocket.create_connection(ws_url, timeout=left(), suppress_origin=True)
        self.ids, self.events, self.session = itertools.count(1), [], None

    def receive(self):
        self.ws.settimeout(left())
        return json.loads(self.ws.recv())

    def call(self, method, **params):
        n = next(self.ids)
        message = {"id": n, "method": method, "params": params}
        self.ws.send(json.dumps(message | ({"sessionId": self.session} if self.session else {})))
        while (answer := self.receive()).get("id") != n:
            self.events.append(answer)
        return answer.get("result", {})

    def event(self, method):
        while True:
            got = self.events.pop(0) if self.events else self.receive()
            if got.get("method") == method:
                return got["params"]

    def wait(self, condition):
        """Waits until the page's condition (JavaScript) holds, over navigations."""
        js = f"""new Promise(done => {{ const met = () => {condition};
            if (met()) return done(true); new MutationObserver((_, o) => met() && (o.disconnect(),
            done(true))).observe(document, {{childList: true, subtree: true, characterData: true}}); }})"""
        while not self.call("Runtime.evaluate", expression=js, awaitPromise=True).get("result", {}).get("value"):
            self.event("Runtime.executionContextCreated")  # the page went on: ask the new one

    def js(self, expression):
        return self.call("Runtime.evaluate", expression=expression, returnByValue=True)["result"].get("value")


with tempfile.TemporaryDirectory(ignore_cleanup_errors=True) as profile:
    browser = subprocess.Popen(["chromium", "--headless=new", "--no-sandbox", "--remote-debugging-port=0",
                                f"--user-data-dir={profile}", url], stderr=subprocess.PIPE, text=True,
                               start_new_session=True)
    try:
        found = queue.Queue()
        threading.Thread(target=lambda: [found.put(m[1]) for line in browser.stderr
                                         if (m := re.search(r"DevTools listening on (ws://\S+)", line))],
                         daemon=True).start()
        page = Page(found.get(timeout=left()))
        page.call("Target.setDiscoverTargets", discover=True)
        while (target := page.event("Target.targetCreated")["targetInfo"])["type"] != "page":
            pass
        page.session = page.call("Target.attachToTarget", targetId=target["targetId"], flatten=True)["sessionId"]
        page.call("Runtime.enable")
        page.wait("document.querySelector('#allow') !== null")
        for field, text in (("user", user), ("password", password)):
            page.js(f"document.getElementById('{field}').focus()")
            page.call("Input.insertText", text=text)
        box = page.js("(r => ({x: r.x + r.width / 2, y: r.y + r.height / 2}))"
                      "(document.getElementById('allow').getBoundingClientRect())")
        for kind in ("mousePressed", "mouseReleased"):
            page.call("Input.dispatchMouseEvent", type=kind, button="left", clickCount=1, **box)
        page.wait("document.body !== null && document.body.innerText.includes('サインインが完了しました')")
        print(page.js("location.href"))
    finally:  # the browser and every process it started
        os.killpg(browser.pid, signal.SIGKILL)
        browser.wait()
