#!/usr/bin/python3
"""A person at headless Chromium signs in on the provider's page: types the user and
password, presses 許可する, waits until the desk's page says the sign-in is done and
prints that page's address. Usage: consent.py URL USER PASSWORD"""
import itertools, json, os, queue, re, signal, subprocess, sys, tempfile, threading, time
import websocket

url, user, password = sys.argv[1:4]
deadline = time.monotonic() + 60
signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))
ids, events, session = itertools.count(1), [], {}


def receive():
    ws.settimeout(max(0.01, deadline - time.monotonic()))  # past it, recv raises
    return json.loads(ws.recv())


def call(method, **params):
    n = next(ids)
    ws.send(json.dumps({"id": n, "method": method, "params": params, **session}))
    while (answer := receive()).get("id") != n:
        events.append(answer)
    return answer.get("result", {})


def event(method):
    while (got := events.pop(0) if events else receive()).get("method") != method:
        pass
    return got["params"]


def value(expression):
    return call("Runtime.evaluate", expression=expression, returnByValue=True,
                awaitPromise=True).get("result", {}).get("value")


def wait(condition):
    """Until the page's condition holds; a page that goes on is asked again."""
    js = f"""new Promise(done => {{ const met = () => {condition}; if (met()) return done(true);
        new MutationObserver((_, o) => met() && (o.disconnect(), done(true)))
            .observe(document, {{childList: true, subtree: true, characterData: true}}); }})"""
    while not value(js):
        event("Runtime.executionContextCreated")


with tempfile.TemporaryDirectory(ignore_cleanup_errors=True) as profile:
    browser = subprocess.Popen(["chromium", "--headless=new", "--no-sandbox", "--remote-debugging-port=0",
                                f"--user-data-dir={profile}", url], stderr=subprocess.PIPE, text=True,
                               start_new_session=True)
    try:
        found = queue.Queue()  # the reader drains the browser's log to its end
        threading.Thread(target=lambda: [found.put(m[1]) for line in browser.stderr
                                         if (m := re.search(r"DevTools listening on (ws://\S+)", line))],
                         daemon=True).start()
        ws = websocket.create_connection(found.get(timeout=30), suppress_origin=True)
        call("Target.setDiscoverTargets", discover=True)
        while (target := event("Target.targetCreated")["targetInfo"])["type"] != "page":
            pass
        session["sessionId"] = call("Target.attachToTarget", targetId=target["targetId"], flatten=True)["sessionId"]
        call("Runtime.enable")
        wait("document.getElementById('allow') !== null")
        for field, text in (("user", user), ("password", password)):
            value(f"document.getElementById('{field}').focus()")
            call("Input.insertText", text=text)
        box = value("(r => ({x: r.x + r.width / 2, y: r.y + r.height / 2}))"
                    "(document.getElementById('allow').getBoundingClientRect())")
        for kind in ("mousePressed", "mouseReleased"):
            call("Input.dispatchMouseEvent", type=kind, button="left", clickCount=1, **box)
        wait("document.body !== null && document.body.innerText.includes('サインインが完了しました')")
        print(value("location.href"))
    finally:  # the browser and every process it started
        os.killpg(browser.pid, signal.SIGKILL)
        browser.wait()
