#!/usr/bin/env python3
"""Checks a running mail office started by scripts/mailoffice-start.sh.

Usage: scripts/mailoffice-check.py DIR

Reads DIR/ports.env and DIR/users.txt, then over SMTP and POP3 only:
  - sends one mail without Message-ID and Date from user1 to user2 and user3;
  - fetches it from both mailboxes and checks that Message-Id and Date were
    added and that the sent header lines and body came back byte for byte;
  - checks that a wrong password gets -ERR;
  - checks that DELE + QUIT removes a message;
  - checks that mail for another domain and for unknown users is refused.
Leaves the mailboxes as it found them. Exit status 0 when all is well.
"""

import os
import poplib
import smtplib
import sys
import time

TIMEOUT = 15


def fail(msg):
    print("mailoffice-check: FAIL:", msg, file=sys.stderr)
    sys.exit(1)


def ok(msg):
    print("mailoffice-check: ok:", msg)


def read_env(path):
    env = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#") and "=" in line:
                k, v = line.split("=", 1)
                env[k] = v
    return env


def read_users(path):
    users = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            parts = line.split()
            if len(parts) == 3:
                users[parts[0]] = (parts[1], parts[2])
    return users


def pop_login(port, login, password):
    p = poplib.POP3("127.0.0.1", port, timeout=TIMEOUT)
    p.user(login)
    p.pass_(password)
    return p


def find_message(port, login, password, token):
    """Returns (number, lines) of the message containing token, or None."""
    p = pop_login(port, login, password)
    try:
        count, _ = p.stat()
        for n in range(1, count + 1):
            _, lines, _ = p.retr(n)
            if any(token in line for line in lines):
                return n, lines
        return None
    finally:
        p.quit()


def wait_for_message(port, login, password, token):
    deadline = time.monotonic() + TIMEOUT
    while True:
        found = find_message(port, login, password, token)
        if found or time.monotonic() > deadline:
            return found
        time.sleep(0.1)


def delete_message(port, login, password, token):
    p = pop_login(port, login, password)
    try:
        count, _ = p.stat()
        for n in range(1, count + 1):
            _, lines, _ = p.retr(n)
            if any(token in line for line in lines):
                p.dele(n)
    finally:
        p.quit()


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    d = sys.argv[1]
    env = read_env(os.path.join(d, "ports.env"))
    users = read_users(os.path.join(d, "users.txt"))
    smtp_port = int(env["SMTP_PORT"])
    pop_port = int(env["POP3_PORT"])
    domain = env["MAIL_DOMAIN"]
    for u in ("user1", "user2", "user3"):
        if u not in users:
            fail(f"{u} missing from users.txt")
    sender = users["user1"][1]
    rcpts = [users["user2"][1], users["user3"][1]]

    token = f"tavmo-check-{os.getpid()}-{time.time_ns()}"
    header_lines = [
        f"From: Memo Sender <{sender}>".encode(),
        f"To: {rcpts[0]}, {rcpts[1]}".encode(),
        f"Subject: {token}".encode(),
        b"X-Tavrino-Memo: =?UTF-8?B?w5xiZXIgZGVuIEFucnVm?=",
        b"X-Raw-8bit: M\xc3\xbcller \xe4\xbc\x9a\xe8\xad\xb0",
        b"X-Raw-Jis: \x1b$B$3$s$K$A$O\x1b(B",
        b"X-Folded: first part",
        b"\tsecond part",
        b"MIME-Version: 1.0",
        b"Content-Type: text/plain; charset=UTF-8",
        b"Content-Transfer-Encoding: 8bit",
    ]
    body_lines = [
        b"Anruf von Frau M\xc3\xbcller, bitte zur\xc3\xbcckrufen.",
        b"",
        b".a line starting with a dot",
        b"..two dots",
        b"   leading blanks and trailing blanks   ",
        b"\ttab",
        b"\xe4\xbc\x9a\xe8\xad\xb0 (CJK)",
        b"\x1b$B$3$s$K$A$O\x1b(B (ISO-2022-JP)",
        b"x" * 990,
        b"last line",
    ]
    raw = b"\r\n".join(header_lines) + b"\r\n\r\n" + b"\r\n".join(body_lines) + b"\r\n"

    # --- send --------------------------------------------------------------
    t0 = time.monotonic()
    with smtplib.SMTP("127.0.0.1", smtp_port, timeout=TIMEOUT) as s:
        s.ehlo("tavrino-check.test")
        refused = s.sendmail(sender, rcpts, raw)
        if refused:
            fail(f"recipients refused: {refused}")
    ok(f"sent to {', '.join(rcpts)} over SMTP port {smtp_port}")

    # --- fetch from both mailboxes ------------------------------------------
    for idx, login in enumerate(("user2", "user3@" + domain)):
        user = login.split("@")[0]
        found = wait_for_message(pop_port, login, users[user][0], token.encode())
        if not found:
            fail(f"message did not arrive for {login} within {TIMEOUT}s")
        if idx == 0:
            ok(f"arrived after {time.monotonic() - t0:.2f}s")
        _, lines = found
        try:
            sep = lines.index(b"")
        except ValueError:
            fail("no blank line between header and body")
        got_head, got_body = lines[:sep], lines[sep + 1:]
        if got_body != body_lines:
            fail(f"{login}: body differs:\n{got_body!r}\n!=\n{body_lines!r}")
        n = len(header_lines)
        starts = [i for i in range(len(got_head) - n + 1) if got_head[i:i + n] == header_lines]
        if not starts:
            fail(f"{login}: sent header lines not found byte for byte in:\n"
                 + "\n".join(repr(x) for x in got_head))
        names = [h.split(b":", 1)[0].lower() for h in got_head if h[:1] not in (b" ", b"\t")]
        for want in (b"message-id", b"date"):
            if names.count(want) != 1:
                fail(f"{login}: expected one {want.decode()} header, got {names}")
        ok(f"{login}: Message-Id and Date added, sent header lines and body intact")

    # --- wrong password -----------------------------------------------------
    t1 = time.monotonic()
    try:
        p = pop_login(pop_port, "user2", "wrong-password")
        p.quit()
        fail("wrong password was accepted")
    except poplib.error_proto as e:
        if not str(e).startswith("b'-ERR"):
            fail(f"unexpected answer to wrong password: {e}")
    ok(f"wrong password refused with -ERR (after {time.monotonic() - t1:.1f}s)")

    # --- DELE + QUIT ----------------------------------------------------------
    for login in ("user2", "user3"):
        delete_message(pop_port, login, users[login][0], token.encode())
        if find_message(pop_port, login, users[login][0], token.encode()):
            fail(f"{login}: message still there after DELE + QUIT")
    ok("DELE + QUIT removed the message")

    # --- refused recipients -------------------------------------------------
    for rcpt, what in (("someone@example.com", "another domain"),
                       (f"nobody-here@{domain}", "an unknown user")):
        with smtplib.SMTP("127.0.0.1", smtp_port, timeout=TIMEOUT) as s:
            try:
                s.sendmail(sender, [rcpt], b"Subject: relay test\r\n\r\nx\r\n")
                fail(f"mail to {what} ({rcpt}) was accepted")
            except smtplib.SMTPRecipientsRefused as e:
                code, text = e.recipients[rcpt]
                if code < 500:
                    fail(f"mail to {what} refused only temporarily: {code} {text!r}")
                ok(f"mail to {what} refused: {code} {text.decode(errors='replace')}")

    print("mailoffice-check: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
