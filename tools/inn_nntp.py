#!/usr/bin/env python3
"""Small NNTP helper for tools/inn.sh: waits for the greeting, feeds articles to INN by
streaming (MODE STREAM, CHECK, TAKETHIS) from the peer address, and runs plain reader sessions.

Article files hold one article each as LF-ended lines (CRLF is accepted too), not dot-stuffed;
the feeder sends them with CRLF and dot-stuffing as on the wire.
"""

import argparse
import os
import re
import selectors
import socket
import ssl
import sys
import time

# Replies that a reader command follows with a multi-line block (RFC 3977 and INN's own).
MULTILINE = {"100", "101", "215", "220", "221", "222", "224", "225", "230", "231"}

ID_RE = re.compile(rb"<([^<>@\s]*)@([^<>\s]*)>")


def die(msg):
    print("inn_nntp: " + msg, file=sys.stderr)
    sys.exit(1)


# With --tls CAFILE, connections speak TLS from the start and check the server's certificate
# for the name localhost against that CA.
TLS_CA = None


class Conn:
    def __init__(self, host, port, source=None, timeout=30.0):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.settimeout(timeout)
        if source:
            self.sock.bind((source, 0))
        self.sock.connect((host, port))
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if TLS_CA:
            context = ssl.create_default_context(cafile=TLS_CA)
            self.sock = context.wrap_socket(self.sock, server_hostname="localhost")
        self.buf = b""

    def readline(self):
        while b"\n" not in self.buf:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError("connection closed by the server")
            self.buf += chunk
        line, self.buf = self.buf.split(b"\n", 1)
        return line + b"\n"

    def send(self, data):
        self.sock.sendall(data)

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass


# ---------------------------------------------------------------------------------------------
# Articles


def read_article(path):
    data = open(path, "rb").read().replace(b"\r\n", b"\n")
    lines = data.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    try:
        blank = lines.index(b"")
    except ValueError:
        blank = len(lines)
    # Header fields as lists of physical lines (a field and its continuation lines).
    fields = []
    for line in lines[:blank]:
        if line[:1] in (b" ", b"\t") and fields:
            fields[-1].append(line)
        else:
            fields.append([line])
    return fields, lines[blank + 1:]


def field_name(field):
    return field[0].split(b":", 1)[0].strip().lower()


def field_value(field):
    first = field[0].split(b":", 1)[1] if b":" in field[0] else b""
    return b" ".join([first.strip()] + [l.strip() for l in field[1:]])


def get_field(fields, name):
    for f in fields:
        if field_name(f) == name:
            return field_value(f)
    return None


def tag_ids(field, tag):
    return [ID_RE.sub(lambda m: b"<" + m.group(1) + b"." + tag + b"@" + m.group(2) + b">", l)
            for l in field]


def rewrite(fields, group, tag):
    """Puts the article into another group: Newsgroups becomes that group, Xref and Followup-To
    go, and with a tag every Message-ID in Message-ID, References and Supersedes gets ".tag"
    after its local part, so the same file can be fed again into a fresh group."""
    out = []
    for f in fields:
        name = field_name(f)
        if group is not None:
            if name in (b"xref", b"followup-to"):
                continue
            if name == b"newsgroups":
                f = [b"Newsgroups: " + group]
        if tag and name in (b"message-id", b"references", b"supersedes"):
            f = tag_ids(f, tag)
        out.append(f)
    return out


def wire_article(fields, body):
    """The article as CRLF lines, dot-stuffed, with the closing "." line."""
    lines = [l for f in fields for l in f] + [b""] + body
    return b"".join((b"." + l if l.startswith(b".") else l) + b"\r\n" for l in lines) + b".\r\n"


def article_files(paths):
    files = []
    for p in paths:
        if os.path.isdir(p):
            files += sorted(os.path.join(p, n) for n in os.listdir(p) if n.endswith(".art"))
        else:
            files.append(p)
    if not files:
        die("no article files given (a directory is searched for *.art)")
    return files


# ---------------------------------------------------------------------------------------------
# Commands


def cmd_greet(a):
    deadline = time.monotonic() + a.wait
    last = "nothing tried"
    while True:
        try:
            c = Conn(a.host, a.port, timeout=5.0)
            line = c.readline().decode("latin-1").rstrip("\r\n")
            c.send(b"QUIT\r\n")
            c.close()
            if line.startswith("200"):
                print(line)
                return 0
            last = "greeting " + repr(line)
        except (OSError, ConnectionError) as e:
            last = str(e)
        if time.monotonic() >= deadline:
            print("no 200 greeting on %s:%d within %g s (last: %s)" % (a.host, a.port, a.wait, last),
                  file=sys.stderr)
            return 1
        time.sleep(0.2)


def cmd_groups(a):
    groups = []
    for path in article_files(a.paths):
        fields, _ = read_article(path)
        ng = get_field(fields, b"newsgroups")
        if not ng:
            die("%s has no Newsgroups header" % path)
        for g in ng.decode("ascii").replace(" ", "").split(","):
            if g and g not in groups:
                groups.append(g)
    print("\n".join(groups))
    return 0


def pipeline(conn, items, window):
    """Sends the items' commands keeping at most window replies outstanding, never blocking on
    a send while replies wait to be read; returns the status lines in order."""
    sel = selectors.DefaultSelector()
    conn.sock.setblocking(False)
    sel.register(conn.sock, selectors.EVENT_READ)
    replies = []
    out = bytearray()  # deleting from its front is cheap
    sent = 0
    while len(replies) < len(items):
        while sent < len(items) and sent - len(replies) < window and len(out) < 1 << 20:
            out += items[sent]
            sent += 1
        sel.modify(conn.sock, selectors.EVENT_READ | (selectors.EVENT_WRITE if out else 0))
        events = sel.select(timeout=60)
        if not events:
            raise TimeoutError("no progress for 60 s with %d replies outstanding" % (sent - len(replies)))
        for _, mask in events:
            if mask & selectors.EVENT_WRITE and out:
                try:
                    n = conn.sock.send(out)
                    del out[:n]
                except BlockingIOError:
                    pass
            if mask & selectors.EVENT_READ:
                chunk = conn.sock.recv(65536)
                if not chunk:
                    raise ConnectionError("connection closed by the server")
                conn.buf += chunk
                while b"\n" in conn.buf:
                    line, conn.buf = conn.buf.split(b"\n", 1)
                    replies.append(line.rstrip(b"\r").decode("latin-1"))
    sel.unregister(conn.sock)
    conn.sock.setblocking(True)
    return replies


def cmd_feed(a):
    group = a.group.encode("ascii") if a.group else None
    tag = a.tag if a.tag is not None else (a.group or "")
    tag = tag.encode("ascii")
    arts = []
    seen = set()
    for path in article_files(a.paths):
        fields, body = read_article(path)
        fields = rewrite(fields, group, tag)
        mid = get_field(fields, b"message-id")
        if not mid:
            die("%s has no Message-ID header; such articles cannot be fed" % path)
        if mid in seen:
            die("%s repeats Message-ID %s" % (path, mid.decode("latin-1")))
        seen.add(mid)
        arts.append((path, mid, wire_article(fields, body)))

    c = Conn(a.host, a.port, source=a.source)
    greeting = c.readline().decode("latin-1").rstrip()
    if not greeting.startswith("200"):
        die("feeder greeting from %s:%d was %r" % (a.host, a.port, greeting))
    c.send(b"MODE STREAM\r\n")
    reply = c.readline().decode("latin-1").rstrip()
    if not reply.startswith("203"):
        die("MODE STREAM answered %r (is %s a peer in incoming.conf?)" % (reply, a.source))

    checks = pipeline(c, [b"CHECK " + m + b"\r\n" for _, m, _ in arts], a.window)
    wanted, present, failed = [], 0, []
    for art, r in zip(arts, checks):
        if r.startswith("238"):
            wanted.append(art)
        elif r.startswith("438"):
            present += 1
        else:
            failed.append((art[0], r))
    takes = pipeline(c, [b"TAKETHIS " + m + b"\r\n" + w for _, m, w in wanted], a.window)
    stored = 0
    for (path, mid, wire), r in zip(wanted, takes):
        if r.startswith("239"):
            stored += 1
            continue
        # TAKETHIS answers a refusal without its reason; IHAVE gives it.
        c.send(b"IHAVE " + mid + b"\r\n")
        reply = c.readline().decode("latin-1").rstrip()
        if reply.startswith("335"):
            c.send(wire)
            reply = c.readline().decode("latin-1").rstrip()
        if reply.startswith("235"):
            stored += 1
        else:
            failed.append((path, r + " / " + reply))
    c.send(b"QUIT\r\n")
    c.close()
    for path, r in failed:
        print("rejected %s: %s" % (path, r), file=sys.stderr)
    if group and present:
        print("note: %d Message-IDs were already on the server and were not stored again; to "
              "put those files into %s anyway, give another --tag" % (present, a.group),
              file=sys.stderr)
    print("fed %d, already there %d, rejected %d" % (stored, present, len(failed)))
    return 1 if failed else 0


def cmd_talk(a):
    """A reader session: prints the greeting and each reply exactly (repr of every line)."""
    c = Conn(a.host, a.port)
    try:
        print(repr(c.readline()))
        for cmd in a.commands:
            print(">>> " + cmd)
            c.send(cmd.encode("latin-1") + b"\r\n")
            line = c.readline()
            print(repr(line))
            if line[:3].decode("latin-1") in MULTILINE:
                while True:
                    line = c.readline()
                    print(repr(line))
                    if line == b".\r\n":
                        break
    except OSError as e:
        print("connection ended: %s" % e)
        return 1
    finally:
        c.close()
    return 0


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=119)
    p.add_argument("--tls", metavar="CAFILE", help="implicit TLS, trusting this CA")
    sub = p.add_subparsers(dest="cmd", required=True)
    g = sub.add_parser("greet", help="wait for a 200 greeting and print it")
    g.add_argument("--wait", type=float, default=0)
    g.set_defaults(func=cmd_greet)
    n = sub.add_parser("groups", help="print the groups named in the articles' Newsgroups")
    n.add_argument("paths", nargs="+")
    n.set_defaults(func=cmd_groups)
    f = sub.add_parser("feed", help="feed articles by streaming")
    f.add_argument("--group", help="put every article into this group")
    f.add_argument("--tag", help="suffix for Message-IDs (default: the --group name)")
    f.add_argument("--source", default="127.0.0.2", help="address to feed from (a peer)")
    f.add_argument("--window", type=int, default=200, help="commands in flight")
    f.add_argument("paths", nargs="+")
    f.set_defaults(func=cmd_feed)
    t = sub.add_parser("talk", help="send reader commands and print the replies")
    t.add_argument("commands", nargs="*")
    t.set_defaults(func=cmd_talk)
    a = p.parse_args()
    global TLS_CA
    TLS_CA = a.tls
    return a.func(a)


if __name__ == "__main__":
    sys.exit(main())
