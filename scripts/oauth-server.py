#!/usr/bin/env python3
"""The OAuth 2.0 authorization server of the local mail office.

Plain HTTP on 127.0.0.1, state in memory, python3's standard library only.
Started and stopped by mailoffice-start.sh --oauth / mailoffice-stop.sh:

    oauth-server.py --office=DIR --port=N

It reads the mailboxes from DIR/users.txt ("login password address") and
writes one line per request to DIR/log/oauth.log: never a token, a code or
a verifier, so paths are logged without their query.

Endpoints (client "tavrino-desk", PKCE S256 required, redirect to http on
127.0.0.1 or localhost):
  GET  /authorize   the consent page (user, password, allow / deny)
  POST /authorize   the form: 302 to redirect_uri with code or error
  POST /token       authorization_code (code single use, 60 s) and
                    refresh_token grants; RFC 6749 errors with 400
  POST /revoke      RFC 7009: the grant of that token, whole
  POST /introspect  RFC 7662: active, username, exp, scope
  Test controls, loopback only, linked from nowhere:
  POST /admin/lifetime?seconds=N  access-token lifetime from now on
                                  (default $OAUTH_ACCESS_LIFETIME, else 300)
  POST /admin/expire?user=ADDR    that user's access tokens end now
  POST /admin/revoke?user=ADDR    that user's grants end, refresh tokens too
  GET  /admin/stats               requests so far, by kind, good or not
  GET  /admin/tokens?user=ADDR    the access tokens that user was given, so
                                  that a test can look for them where they
                                  must never show
"""

import argparse
import base64
import hashlib
import html
import http.server
import json
import os
import re
import secrets
import sys
import threading
import time
import urllib.parse

CLIENT_ID = "tavrino-desk"
CODE_SECONDS = 60
DEFAULT_SCOPES = "mail offline_access"
MAX_BODY = 64 * 1024
# RFC 7636: 43..128 characters of [A-Za-z0-9-._~].
PKCE_TEXT = re.compile(r"[A-Za-z0-9._~-]{43,128}")
# Fields the consent form carries from GET to POST.
REQUEST_FIELDS = ("response_type", "client_id", "redirect_uri", "state", "scope",
                  "code_challenge", "code_challenge_method")


class Office:
    """Codes, grants and access tokens; every method takes the lock."""

    def __init__(self, users_file, lifetime):
        self.lock = threading.Lock()
        self.users = {}  # login or address -> (password, address)
        with open(users_file, encoding="utf-8") as f:
            for line in f:
                parts = line.split()
                if len(parts) == 3:
                    self.users[parts[0]] = (parts[1], parts[2])
                    self.users[parts[2]] = (parts[1], parts[2])
        self.lifetime = lifetime
        self.codes = {}   # code -> dict(user, scope, redirect_uri, challenge, expires)
        self.used = {}    # spent code -> (grant id, expires): a replay ends that grant
        self.grants = {}  # grant id -> dict(user, scope, refresh, revoked)
        self.refresh = {}  # refresh token -> grant id
        self.access = {}   # access token -> dict(grant, user, scope, exp)
        self.stats = dict(authorize=0, authorization_code=0, refresh_token=0, introspect=0,
                          revoke=0)

    def count(self, kind):
        with self.lock:
            self.stats[kind] += 1

    def address(self, login, password=None):
        """The mailbox address of a login; with a password, only if it matches."""
        entry = self.users.get(login)
        if entry is None or (password is not None and
                             not secrets.compare_digest(entry[0].encode(), password.encode())):
            return None
        return entry[1]

    def new_code(self, user, scope, redirect_uri, challenge):
        code = secrets.token_urlsafe(32)
        with self.lock:
            self._forget_old()
            self.codes[code] = dict(user=user, scope=scope, redirect_uri=redirect_uri,
                                    challenge=challenge, expires=time.time() + CODE_SECONDS)
        return code

    def _forget_old(self):
        now = time.time()
        for table in (self.codes, self.used):
            for key in [k for k, v in table.items()
                        if (v["expires"] if isinstance(v, dict) else v[1]) < now]:
                del table[key]
        for key in [k for k, v in self.access.items() if v["exp"] < now - 3600]:
            del self.access[key]

    def _issue(self, grant_id):
        grant = self.grants[grant_id]
        token = secrets.token_urlsafe(32)
        exp = int(time.time()) + self.lifetime
        self.access[token] = dict(grant=grant_id, user=grant["user"], scope=grant["scope"],
                                  exp=exp)
        return dict(access_token=token, token_type="Bearer", expires_in=self.lifetime,
                    scope=grant["scope"])

    def redeem(self, code, redirect_uri, verifier):
        """(answer, None) or (None, (error, description, note))."""
        with self.lock:
            if code in self.used:
                self._revoke_grant(self.used[code][0])
                return None, ("invalid_grant", "code already used", "code replayed")
            entry = self.codes.get(code)
            if entry is None or entry["expires"] < time.time():
                return None, ("invalid_grant", "unknown or expired code", "bad code")
            if redirect_uri != entry["redirect_uri"]:
                return None, ("invalid_grant", "redirect_uri does not match", "bad redirect_uri")
            if not PKCE_TEXT.fullmatch(verifier) or not secrets.compare_digest(
                    S256(verifier), entry["challenge"]):
                # The code stays good for its owner, who holds the right verifier.
                return None, ("invalid_grant", "code_verifier does not match", "bad verifier")
            del self.codes[code]
            grant_id = secrets.token_hex(8)
            refresh = secrets.token_urlsafe(32)
            self.grants[grant_id] = dict(user=entry["user"], scope=entry["scope"],
                                         refresh=refresh, revoked=False)
            self.refresh[refresh] = grant_id
            self.used[code] = (grant_id, entry["expires"])
            answer = self._issue(grant_id)
            answer["refresh_token"] = refresh
            return answer, None

    def refreshed(self, refresh):
        with self.lock:
            grant_id = self.refresh.get(refresh)
            if grant_id is None or self.grants[grant_id]["revoked"]:
                return None, ("invalid_grant", "unknown or revoked refresh token", "bad refresh")
            return self._issue(grant_id), None

    def _revoke_grant(self, grant_id):
        grant = self.grants.get(grant_id)
        if grant is None:
            return 0
        grant["revoked"] = True
        self.refresh.pop(grant["refresh"], None)
        for token in [t for t, a in self.access.items() if a["grant"] == grant_id]:
            del self.access[token]
        return 1

    def revoke_token(self, token):
        with self.lock:
            grant_id = self.refresh.get(token)
            if grant_id is None and token in self.access:
                grant_id = self.access[token]["grant"]
            return self._revoke_grant(grant_id)

    def revoke_user(self, user):
        with self.lock:
            return sum(self._revoke_grant(g) for g, v in list(self.grants.items())
                       if v["user"] == user and not v["revoked"])

    def expire_user(self, user):
        with self.lock:
            now = int(time.time()) - 1
            hit = [a for a in self.access.values() if a["user"] == user and a["exp"] > now]
            for a in hit:
                a["exp"] = now
            return len(hit)

    def introspect(self, token):
        with self.lock:
            self.stats["introspect"] += 1
            a = self.access.get(token)
            if a is None or a["exp"] <= time.time():
                return {"active": False}
            return {"active": True, "username": a["user"], "exp": a["exp"], "scope": a["scope"],
                    "client_id": CLIENT_ID, "token_type": "Bearer"}


def S256(verifier):
    digest = hashlib.sha256(verifier.encode("ascii")).digest()
    return base64.urlsafe_b64encode(digest).rstrip(b"=").decode("ascii")


def request_problem(q):
    """Why an authorization request cannot go on, or None. Nothing here redirects."""
    if q.get("client_id") != CLIENT_ID:
        return "不明なクライアントです (client_id)。"
    uri = urllib.parse.urlsplit(q.get("redirect_uri", ""))
    if uri.scheme != "http" or uri.hostname not in ("127.0.0.1", "localhost") or uri.fragment:
        return "戻り先がこのコンピューター (http://127.0.0.1 または localhost) ではありません (redirect_uri)。"
    if q.get("response_type") != "code":
        return "response_type は code でなければなりません。"
    if q.get("code_challenge_method") != "S256" or not PKCE_TEXT.fullmatch(
            q.get("code_challenge", "")):
        return "PKCE (code_challenge, S256) がありません。"
    return None


PAGE = """<!DOCTYPE html>
<html lang="ja"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width">
<title>{title} - Tavrino メール局</title>
<style>body{{font-family:sans-serif;max-width:28em;margin:3em auto}}
label{{display:block;margin:.6em 0}}input{{width:100%}}.error{{color:#b00}}</style>
</head><body>
<h1>{title}</h1>
{body}
</body></html>
"""


def consent_page(q, user="", error=""):
    hidden = "".join('<input type="hidden" name="%s" value="%s">\n' % (k, html.escape(q.get(k, "")))
                     for k in REQUEST_FIELDS)
    body = """<p>アプリケーション <b>Tavrino</b> があなたのメールボックスの利用 (受信と送信) を求めています。</p>
<p>スコープ: {scope}</p>
{error}<form method="post" action="/authorize">
{hidden}<label>ユーザー名 <input id="user" name="user" value="{user}" autocomplete="username"></label>
<label>パスワード <input id="password" name="password" type="password" autocomplete="current-password"></label>
<button id="allow" type="submit" name="action" value="allow">許可する</button>
<button id="deny" type="submit" name="action" value="deny">拒否する</button>
</form>""".format(scope=html.escape(q.get("scope") or DEFAULT_SCOPES),
                  error='<p id="error" class="error">%s</p>\n' % html.escape(error) if error else "",
                  hidden=hidden, user=html.escape(user))
    return PAGE.format(title="サインイン", body=body)


def error_page(text):
    return PAGE.format(title="要求を受け付けられません",
                       body='<p id="error" class="error">%s</p>' % html.escape(text))


def with_query(uri, **params):
    return uri + ("&" if "?" in uri else "?") + urllib.parse.urlencode(params)


class Handler(http.server.BaseHTTPRequestHandler):
    # Keep-alive for Dovecot's HTTP client, and no Nagle delay between the
    # head and the body of an answer.
    protocol_version = "HTTP/1.1"
    disable_nagle_algorithm = True
    timeout = 60
    server_version = "TavrinoOAuth/1"
    office = None  # set in main
    log_file = None
    log_lock = threading.Lock()

    # --- plumbing ---------------------------------------------------------

    def log_request(self, code="-", size="-"):
        pass  # one line per request, written by answer()

    def log_message(self, format, *args):
        self.note = (format % args).replace("\n", " ")[:200]

    def log_line(self, status):
        path = urllib.parse.urlsplit(self.path).path if hasattr(self, "path") else "-"
        ms = (time.monotonic() - self.started) * 1000
        line = "%s %s %s %s %d %.1fms%s\n" % (
            time.strftime("%Y-%m-%dT%H:%M:%S"), self.client_address[0],
            getattr(self, "command", None) or "-", path, status, ms,
            " " + self.note if self.note else "")
        with self.log_lock:
            self.log_file.write(line)
            self.log_file.flush()

    def answer(self, status, body, content_type, headers=()):
        data = body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        for k, v in headers:
            self.send_header(k, v)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)
        self.log_line(status)

    def json(self, status, obj):
        self.answer(status, json.dumps(obj), "application/json", [("Pragma", "no-cache")])

    def page(self, status, text):
        self.answer(status, text, "text/html; charset=utf-8",
                    [("X-Frame-Options", "DENY"), ("Referrer-Policy", "no-referrer")])

    def redirect(self, location):
        self.answer(302, "", "text/plain", [("Location", location)])

    def send_error(self, code, message=None, explain=None):
        self.note = message or ""
        self.close_connection = True
        self.page(code, error_page("%d %s" % (code, message or "")))

    def form(self):
        """The urlencoded body, or None (and an answer sent) when it cannot be read."""
        try:
            length = int(self.headers.get("Content-Length", "0"))
        except ValueError:
            length = -1
        if length < 0 or length > MAX_BODY:
            self.send_error(413, "body too large or unreadable")
            return None
        raw = self.rfile.read(length).decode("utf-8", "replace")
        return {k: v[0] for k, v in urllib.parse.parse_qs(raw, keep_blank_values=True).items()}

    def query(self):
        q = urllib.parse.parse_qs(urllib.parse.urlsplit(self.path).query, keep_blank_values=True)
        return {k: v[0] for k, v in q.items()}

    def handle_one_request(self):
        self.started = time.monotonic()
        self.note = ""
        super().handle_one_request()

    def parse_request(self):
        # Timed from the request line on: a kept-alive connection idles before it.
        self.started = time.monotonic()
        return super().parse_request()

    # --- routes -----------------------------------------------------------

    def do_GET(self):
        path = urllib.parse.urlsplit(self.path).path
        if path == "/authorize":
            self.office.count("authorize")
            q = self.query()
            problem = request_problem(q)
            if problem:
                self.note = "refused request"
                self.page(400, error_page(problem))
            else:
                self.page(200, consent_page(q))
        elif path == "/admin/tokens" and self.loopback():
            user = self.office.address(self.query().get("user", ""))
            with self.office.lock:
                given = [t for t, a in self.office.access.items() if a["user"] == user]
            self.note = "tokens of %s: %d" % (user, len(given))
            self.json(200, {"access": given})
        elif path == "/admin/stats" and self.loopback():
            with self.office.lock:
                stats = dict(self.office.stats)
            self.json(200, stats)
        elif path == "/":
            self.page(200, PAGE.format(title="Tavrino メール局", body="<p>認可サーバー</p>"))
        else:
            self.send_error(404, "not found")

    def do_POST(self):
        path = urllib.parse.urlsplit(self.path).path
        routes = {"/authorize": self.post_authorize, "/token": self.post_token,
                  "/revoke": self.post_revoke, "/introspect": self.post_introspect}
        if path in routes:
            f = self.form()
            if f is not None:
                routes[path](f)
        elif path.startswith("/admin/") and self.loopback():
            self.form()  # read and ignore any body
            self.post_admin(path[len("/admin/"):], self.query())
        else:
            self.send_error(404, "not found")

    def loopback(self):
        return self.client_address[0].startswith("127.")

    def post_authorize(self, f):
        problem = request_problem(f)
        if problem:
            self.note = "refused request"
            self.page(400, error_page(problem))
            return
        state = f.get("state", "")
        if f.get("action") == "deny":
            self.note = "denied"
            self.redirect(with_query(f["redirect_uri"], error="access_denied", state=state))
            return
        user = self.office.address(f.get("user", "").strip(), f.get("password", ""))
        if user is None:
            self.note = "wrong password"
            self.page(200, consent_page(f, f.get("user", ""),
                                        "ユーザー名またはパスワードが違います。"))
            return
        code = self.office.new_code(user, f.get("scope") or DEFAULT_SCOPES, f["redirect_uri"],
                                    f["code_challenge"])
        self.note = "code for " + user
        self.redirect(with_query(f["redirect_uri"], code=code, state=state))

    def post_token(self, f):
        kind = f.get("grant_type", "")
        if kind in ("authorization_code", "refresh_token"):
            self.office.count(kind)
        if f.get("client_id") != CLIENT_ID:
            answer, error = None, ("invalid_client", "unknown client_id", "bad client")
        elif kind == "authorization_code":
            answer, error = self.office.redeem(f.get("code", ""), f.get("redirect_uri", ""),
                                               f.get("code_verifier", ""))
        elif kind == "refresh_token":
            answer, error = self.office.refreshed(f.get("refresh_token", ""))
        else:
            answer, error = None, ("unsupported_grant_type", "use authorization_code or "
                                   "refresh_token", "bad grant_type")
        if error:
            self.note = "%s: %s" % (kind or "-", error[2])
            self.json(400, {"error": error[0], "error_description": error[1]})
        else:
            self.note = "%s: granted" % kind
            self.json(200, answer)

    def post_revoke(self, f):
        self.office.count("revoke")
        self.note = "revoked %d" % self.office.revoke_token(f.get("token", ""))
        self.json(200, {})

    def post_introspect(self, f):
        answer = self.office.introspect(f.get("token", ""))
        self.note = ("active " + answer["username"]) if answer["active"] else "inactive"
        self.json(200, answer)

    def post_admin(self, what, q):
        office = self.office
        if what == "lifetime":
            try:
                seconds = int(q.get("seconds", ""))
            except ValueError:
                seconds = -1
            if seconds < 1:
                self.json(400, {"error": "invalid_request", "error_description": "seconds >= 1"})
                return
            with office.lock:
                office.lifetime = seconds
            self.note = "lifetime %d" % seconds
            self.json(200, {"lifetime": seconds})
        elif what in ("expire", "revoke"):
            user = office.address(q.get("user", ""))
            if user is None:
                self.json(400, {"error": "invalid_request", "error_description": "unknown user"})
                return
            n = office.expire_user(user) if what == "expire" else office.revoke_user(user)
            self.note = "%s %s: %d" % (what, user, n)
            self.json(200, {"user": user, "expired" if what == "expire" else "revoked": n})
        else:
            self.send_error(404, "not found")


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # A client that hangs up early is no news; anything else is.
        if isinstance(sys.exc_info()[1], (ConnectionError, TimeoutError)):
            return
        super().handle_error(request, client_address)


def main():
    p = argparse.ArgumentParser(description="The mail office's OAuth 2.0 authorization server")
    p.add_argument("--office", required=True, help="the office folder (users.txt, log/)")
    p.add_argument("--port", required=True, type=int)
    a = p.parse_args()
    lifetime = int(os.environ.get("OAUTH_ACCESS_LIFETIME") or 300)
    Handler.office = Office(os.path.join(a.office, "users.txt"), lifetime)
    Handler.log_file = open(os.path.join(a.office, "log", "oauth.log"), "a", encoding="utf-8")
    server = Server(("127.0.0.1", a.port), Handler)
    Handler.log_file.write("%s listening on 127.0.0.1:%d, access tokens for %d s\n" % (
        time.strftime("%Y-%m-%dT%H:%M:%S"), a.port, lifetime))
    Handler.log_file.flush()
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
