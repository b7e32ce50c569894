#!/usr/bin/env python3
"""Exports the real mail of ../shared/realmail with a marker template and compares every
mail with Python's email package (policy.default), an independent reader.

    python3 scripts/fidelity-check.py [--exporter BUILD/app/cli/quillmark-export] [--verbose]

Each check is one field of one mail: subject, sender, date, body, attachments (names and
bytes). A disagreement listed in docs/fidelity.md (mail and field, with the reason the other
reader is wrong there) counts as passed. The closing line is "fidelity: N passed, M failed";
the exit status is 1 when a disagreement is not listed. Without ../shared/realmail the check
is skipped (exit 0). The PST files there are exported as a smoke test only.
"""
import argparse
import email
import email.policy
import email.utils
import html
import html.parser
import mailbox
import os
import re
import subprocess
import sys
import tempfile
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
PROJECT = os.path.dirname(HERE)
REALMAIL = os.path.join(PROJECT, "..", "shared", "realmail")
TEMPLATE = os.path.join(PROJECT, "tests", "data", "fidelity", "marker-template.htm")
LISTED = os.path.join(PROJECT, "docs", "fidelity.md")

# (store path below realmail, kind)
STORES = [
    ("python-cpython/msgs", "dir"),
    ("mimekit/messages", "dir"),
    ("mimekit/tnef", "dir"),
    ("mimekit/content-length.mbox", "mbox"),
    ("notmuch/default", "maildir"),
    ("notmuch/misc", "dir"),
]


class TextOfHtml(html.parser.HTMLParser):
    """Words a reader sees in HTML: no script, style, head or comments."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.out, self.skip = [], 0

    def handle_starttag(self, tag, attrs):
        if tag in ("script", "style", "head", "title"):
            self.skip += 1

    def handle_endtag(self, tag):
        if tag in ("script", "style", "head", "title") and self.skip:
            self.skip -= 1

    def handle_data(self, data):
        if not self.skip:
            self.out.append(data)


def words(text):
    return " ".join(text.split())


def html_words(text):
    p = TextOfHtml()
    p.feed(text)
    p.close()
    return words(" ".join(p.out))


def field(page, name):
    m = re.search(r'<(?:pre|div) id="q-%s">(.*?)</(?:pre|div)>' % name, page, re.S)
    return m.group(1) if m else None


def links(fragment, root, page_dir):
    """(shown name, bytes of the linked file) for each link or picture of a fragment."""
    out = []
    for m in re.finditer(r'<A href="([^"]*)"[^>]*>(.*?)</A>', fragment, re.S):
        out.append((html.unescape(m.group(2)), os.path.join(page_dir, urllib.parse.unquote(m.group(1)))))
    for m in re.finditer(r'<IMG src="([^"]*)" title="([^"]*)"', fragment):
        out.append((html.unescape(m.group(2)), os.path.join(page_dir, urllib.parse.unquote(m.group(1)))))
    result = []
    for name, path in out:
        try:
            with open(path, "rb") as f:
                result.append((name, f.read()))
        except OSError:
            result.append((name, None))
    return result


def export(exporter, store, folder, out):
    env = dict(os.environ, TZ="UTC")
    return subprocess.run([exporter, "--store", store, "--folder", folder, "--out", out, "--template", TEMPLATE, "-q"],
                          env=env, capture_output=True, text=True)


def folders(exporter, store):
    r = subprocess.run([exporter, "--store", store, "--list"], capture_output=True, text=True)
    paths, stack = [], []
    for line in r.stdout.splitlines():
        m = re.match(r"^( *)(.*?)  \((\d+)\)$", line)
        if not m:
            continue
        depth = len(m.group(1)) // 2
        stack = stack[:depth] + [m.group(2)]
        paths.append(("/".join(stack), int(m.group(3))))
    return paths


def our_pages(root):
    pages = {}
    for dirpath, _, files in os.walk(root):
        for name in files:
            if not name.endswith(".htm"):
                continue
            path = os.path.join(dirpath, name)
            with open(path, encoding="utf-8", errors="surrogateescape") as f:
                text = f.read()
            entry = field(text, "entry")
            if entry is not None:
                pages[html.unescape(entry)] = (text, dirpath)
    return pages


def sender_of(msg):
    for h in ("from", "sender"):
        try:
            value = msg[h]
        except Exception:
            continue
        if value is None:
            continue
        try:
            addrs = value.addresses
            if addrs:
                a = addrs[0]
                if a.display_name:
                    return a.display_name
                # The old form "address (Full Name)": mail readers show the comment as
                # the name; the package keeps it nowhere.
                raw = next((v for k, v in msg.raw_items() if k.lower() == h), "")
                m = re.search(r"\(([^()]+)\)\s*$", str(raw))
                return m.group(1).strip() if m else a.addr_spec
            if getattr(value, "groups", None):
                return value.groups[0].display_name or str(value)
        except Exception:
            pass
        return str(value)
    return ""


def date_of(msg):
    try:
        d = msg["date"]
        if d is None or d.datetime is None:
            return ""
        dt = d.datetime
        if dt.tzinfo is not None:
            dt = dt.astimezone(tz=__import__("datetime").timezone.utc)
        return dt.strftime("%Y-%m-%d %H:%M")
    except Exception:
        return ""


def body_parts(msg):
    try:
        body = msg.get_body(preferencelist=("plain", "html"))
    except Exception:
        body = None
    return body


def body_of(msg):
    body = body_parts(msg)
    if body is None:
        return ""
    try:
        content = body.get_content()
    except Exception:
        payload = body.get_payload(decode=True) or b""
        content = payload.decode("utf-8", "replace")
    if not isinstance(content, str):
        return ""
    if body.get_content_subtype() == "html":
        return html_words(content)
    return words(content)


def attachments_of(msg):
    """(name, bytes) of what a reader lists as the mail's attachments: the parts that are not
    its body, through nested multiparts; an attached mail counts once, as itself."""
    out = []

    def walk(part):
        try:
            children = list(part.iter_attachments())
        except Exception:
            children = []
        for child in children:
            if child.get_content_maintype() == "multipart":
                walk(child)
                continue
            if child.get_content_maintype() == "message" and child.get_content_subtype() == "rfc822":
                inner = child.get_payload()
                inner = inner[0] if isinstance(inner, list) and inner else inner
                out.append((child.get_filename() or "", ("message", inner)))
                continue
            if child.get_content_maintype() == "message":
                # A delivery status or the like: its text, as the part holds it.
                data = child.as_bytes().split(b"\n\n", 1)[-1] if child.get_payload() else b""
                out.append((child.get_filename() or "", ("text", data)))
                continue
            try:
                data = child.get_payload(decode=True)
            except Exception:
                data = None
            out.append((child.get_filename() or "", data or b""))

    walk(msg)
    return out


def same_attachments(theirs, ours):
    """True when both list the same attachments: the same bytes (an attached mail: the same
    subject and sender), and the same name wherever the other reader has one."""
    if ours is None or len(theirs) != len(ours):
        return False
    left = list(ours)
    for name, data in theirs:
        for i, (our_name, our_data) in enumerate(left):
            if our_data is None:
                continue
            if isinstance(data, tuple) and data[0] == "text":
                # Line ends and folding of a status part are the writer's; its words count.
                ok = words(our_data.decode("utf-8", "replace")) == words(data[1].decode("utf-8", "replace"))
            elif isinstance(data, tuple):
                try:
                    mine = email.message_from_bytes(our_data, policy=email.policy.default)
                    ok = str(mine["subject"]) == str(data[1]["subject"]) and str(mine["from"]) == str(data[1]["from"])
                except Exception:
                    ok = False
            else:
                ok = our_data == data
            if ok and (not name or name == our_name):
                del left[i]
                break
        else:
            return False
    return True


def load_listed():
    listed = set()
    if not os.path.exists(LISTED):
        return listed
    with open(LISTED, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"^\| `([^`]+)` \| (\w+) \|", line)
            if m:
                listed.add((m.group(1), m.group(2)))
    return listed


def source_messages(store_path, kind):
    """(key, relative name, message) with key as the exporter's EntryID of the mail."""
    if kind == "dir":
        for name in sorted(os.listdir(store_path)):
            path = os.path.join(store_path, name)
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    yield name, name, email.message_from_bytes(f.read(), policy=email.policy.default)
    elif kind == "mbox":
        box = mailbox.mbox(store_path)
        box._generate_toc()
        for key, (start, stop) in box._toc.items():
            with open(store_path, "rb") as f:
                f.seek(start)
                raw = f.read(stop - start)
            raw = raw.split(b"\n", 1)[1] if raw.startswith(b"From ") else raw
            yield (start, stop), "@%d" % start, email.message_from_bytes(raw, policy=email.policy.default)
    elif kind == "maildir":
        # A Maildir++ tree: each folder's mails lie in its cur/ and new/ (and, in this
        # corpus, loose in the folder itself); the exporter's identity is the name before ":".
        for dirpath, dirs, files in os.walk(store_path):
            if os.path.basename(dirpath) == "tmp":
                continue
            for name in sorted(files):
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, store_path)
                with open(path, "rb") as f:
                    yield name.split(":")[0], rel, email.message_from_bytes(f.read(), policy=email.policy.default)


def folder_of(rel):
    """The folder a Maildir file belongs to, as a path below the store."""
    parts = rel.split(os.sep)[:-1]
    if parts and parts[-1] in ("cur", "new"):
        parts = parts[:-1]
    return "/".join(parts)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exporter", default=os.path.join(PROJECT, "build", "app", "cli", "quillmark-export"))
    ap.add_argument("--verbose", action="store_true")
    args = ap.parse_args()
    if not os.path.isdir(REALMAIL):
        print("fidelity: skipped, %s not found" % os.path.normpath(REALMAIL))
        return 0
    listed = load_listed()
    passed = failed = 0
    unlisted = []
    with tempfile.TemporaryDirectory() as work:
        for rel, kind in STORES:
            store = os.path.join(REALMAIL, rel)
            # One root per folder: identities are only unique within a folder.
            pages_of = {}
            for folder, count in folders(args.exporter, store):
                if count == 0:
                    continue
                root = os.path.join(work, rel.replace("/", "_"), str(len(pages_of)))
                r = export(args.exporter, store, folder, root)
                if r.returncode != 0:
                    print("export of %s/%s failed (%d): %s" % (rel, folder, r.returncode, r.stderr.strip()))
                # The folder below the store's own top folder.
                pages_of[folder.split("/", 1)[1] if "/" in folder else ""] = (our_pages(root), root)
            for key, name, msg in source_messages(store, kind):
                mail = rel + "/" + name
                sub = folder_of(name) if kind == "maildir" else ""
                pages, root = pages_of.get(sub, ({}, ""))
                if isinstance(key, tuple):
                    # An mbox mail: the exporter's identity is the offset of its first line,
                    # somewhere in the span the package found for it.
                    page = next((p for k, p in pages.items() if key[0] <= int(k, 16) < key[1]), None)
                else:
                    page = pages.get(key)
                theirs = {
                    "subject": words(str(msg["subject"] or "")),
                    "sender": words(sender_of(msg)),
                    "date": date_of(msg),
                    "body": body_of(msg),
                }
                if page is None:
                    ours = {k: None for k in theirs}
                    ours["attachments"] = None
                else:
                    text, page_dir = page
                    ours = {
                        "subject": words(html.unescape(field(text, "subject") or "")),
                        "sender": words(html.unescape(field(text, "sender") or "")),
                        "date": (html.unescape(field(text, "senton") or ""))[:16],
                        "body": words(html.unescape(field(text, "body") or "")),
                    }
                    # No date: the object model's "none" (4501-01-01) or zero.
                    if ours["date"].startswith("1899-12-30") or ours["date"].startswith("4501-01-01"):
                        ours["date"] = ""
                    saved = links(field(text, "atts") or "", root, page_dir) + links(field(text, "imgs") or "", root, page_dir)
                for f in ("subject", "sender", "date", "body", "attachments"):
                    if f == "attachments":
                        want = attachments_of(msg)
                        got = None if page is None else saved
                        ok = same_attachments(want, got)
                        show = lambda items: [(n, len(d) if isinstance(d, bytes) else d and d[0]) for n, d in items or []]
                        detail = (show(want), show(got))
                    else:
                        ok = ours[f] == theirs[f]
                        detail = (theirs[f], ours[f])
                    if ok or (mail, f) in listed:
                        passed += 1
                    else:
                        failed += 1
                        unlisted.append((mail, f, detail))
        for pst in sorted(os.listdir(os.path.join(REALMAIL, "pstsdk"))):
            if not pst.endswith(".pst"):
                continue
            store = os.path.join(REALMAIL, "pstsdk", pst)
            for folder, count in folders(args.exporter, store):
                if count == 0:
                    continue
                r = subprocess.run([args.exporter, "--store", store, "--folder", folder, "--out",
                                    os.path.join(work, "pst", pst)], env=dict(os.environ, TZ="UTC"),
                                   capture_output=True, text=True)
                m = re.search(r"Exported: +(\d+).*?Not mail: +(\d+)", r.stdout, re.S)
                print("pst %s/%s: exit %d, %s pages, %s not mail" % (pst, folder, r.returncode,
                      m.group(1) if m else "?", m.group(2) if m else "?"))
                if r.returncode != 0:
                    failed += 1
                    unlisted.append(("pstsdk/" + pst + "/" + folder, "export", r.stderr.strip()))
    for mail, f, (want, got) in unlisted:
        print("DISAGREE %s %s" % (mail, f))
        if args.verbose:
            print("   theirs: %r" % (want,))
            print("   ours:   %r" % (got,))
    print("fidelity: %d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
