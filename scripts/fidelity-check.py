#!/usr/bin/env python3
"""Differential check of quillmark-export against Python's email package.

Every store of ../shared/realmail is exported with a marker template that writes each
field between [[QMF:name]] and [[/QMF]]; each mail is then read again with
email.policy.default and five fields are compared: subject, sender, date, body and
attachments. One field of one mail is one check. Disagreements where the other reader
is the one at fault are listed in docs/fidelity.md and count as passed; any other
disagreement makes the exit status 1. The Outlook stores are only exported (exit
status, pages written, the "not mail" count).

Usage: fidelity-check.py [--exporter PATH] [--realmail DIR] [--keep DIR] [-v]
Standard library only. Closing line: "fidelity: N passed, M failed".
"""

import argparse
import datetime as dt
import email
import email.policy
import email.utils
import html
import html.parser
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
TEMPLATE = ROOT / "tests" / "data" / "fidelity" / "marker-template.htm"
KNOWN = ROOT / "docs" / "fidelity.md"
FIELDS = ("subject", "sender", "date", "body", "attachments")
NO_DATE = "4501-01-01"  # what a date tag prints for a mail that has no date

# (store path below realmail, folder display path, kind) — kind tells how to read the
# mails independently: "eml" a directory of files, "mbox", "maildir" one Maildir folder.
STORES = [
    ("python-cpython/msgs", "msgs", "eml", ""),
    ("mimekit/messages", "messages", "eml", ""),
    ("mimekit/tnef", "tnef", "eml", ""),
    ("notmuch/misc", "misc", "eml", ""),
    ("mimekit/content-length.mbox", "content-length", "mbox", ""),
    ("notmuch/default", "default", "maildir", ""),
    ("notmuch/default", "default/bar", "maildir", "bar"),
    ("notmuch/default", "default/bar/baz", "maildir", "bar/baz"),
    ("notmuch/default", "default/foo", "maildir", "foo"),
    ("notmuch/default", "default/foo/baz", "maildir", "foo/baz"),
]

# Outlook stores: file -> pages expected over all its folders. sample1 and submessage hold
# one mail each; the two "test_*" files hold only post items, which are not mail.
PST_STORES = {
    "pstsdk/sample1.pst": 1,
    "pstsdk/submessage.pst": 1,
    "pstsdk/test_ansi.pst": 0,
    "pstsdk/test_unicode.pst": 0,
}


# ---------------------------------------------------------------- reading the mail
def read_eml_dir(path):
    return {p.name: p.read_bytes() for p in sorted(path.iterdir()) if p.is_file()}


def read_maildir(path):
    """cur/ and new/, and files with Maildir names (":2,") lying beside them, as some trees
    keep mail there and the exporter reads it; the key is the unique part of the name."""
    mails = {}
    for d in (path / "cur", path / "new", path):
        if d.is_dir():
            for p in sorted(d.iterdir()):
                if p.is_file() and not p.name.startswith(".") and (d != path or ":2," in p.name):
                    mails[p.name.split(":", 1)[0]] = p.read_bytes()
    return mails


def read_mbox(path):
    """Splits an mbox the way one that carries Content-Length needs: the length is trusted
    when it ends the mail exactly at the next "From " line or at the end of the file, so
    that a "From " line inside a body does not start a mail. The key is the byte offset of
    the mail's first header line, in twelve hex digits, as the exporter names it."""
    data = path.read_bytes()
    mails = {}
    pos = 0
    starts = [0] if data.startswith(b"From ") else []
    starts += [m.start() + 1 for m in re.finditer(rb"\nFrom ", data)]
    while pos < len(data):
        line_end = data.find(b"\n", pos)
        if line_end < 0:
            break
        body_at = line_end + 1
        sep = re.compile(rb"\r?\n\r?\n").search(data, body_at)
        header_end = sep.end() if sep else len(data)
        m = re.search(rb"^Content-Length:[ \t]*(\d+)", data[body_at:header_end], re.M | re.I)
        end = None
        if m:
            cand = header_end + int(m.group(1))
            probe = cand
            while probe < len(data) and data[probe:probe + 1] in (b"\r", b"\n"):
                probe += 1
            if probe >= len(data) or data.startswith(b"From ", probe):
                end = cand
                next_pos = probe
        if end is None:
            later = [s for s in starts if s > pos]
            end = later[0] if later else len(data)
            next_pos = end
        mails["%012X" % body_at] = data[body_at:end].rstrip(b"\r\n") + b"\n"
        pos = next_pos
    return mails


class _HtmlText(html.parser.HTMLParser):
    """The visible text of an HTML part: no head, script, style or comments."""

    HIDDEN = {"script", "style", "head", "title"}

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.parts, self.hidden = [], 0

    def handle_starttag(self, tag, attrs):
        if tag in self.HIDDEN:
            self.hidden += 1
        self.parts.append(" ")

    def handle_endtag(self, tag):
        if tag in self.HIDDEN and self.hidden:
            self.hidden -= 1
        self.parts.append(" ")

    def handle_data(self, data):
        if not self.hidden:
            self.parts.append(data)


def html_words(text):
    p = _HtmlText()
    p.feed(text)
    p.close()
    return "".join(p.parts).split()


def text_of(part):
    try:
        return part.get_content()
    except (LookupError, ValueError, AssertionError, KeyError):
        raw = part.get_payload(decode=True) or b""
        return raw.decode("utf-8", "replace")


def header(msg, name):
    try:
        v = msg[name]
    except Exception as e:  # a header the parser cannot read at all
        return f"<unreadable: {e}>"
    return None if v is None else str(v)


def expected_sender(msg):
    for name in ("from", "sender"):
        try:
            h = msg[name]
        except Exception:
            h = None
        if h is None:
            continue
        addrs = getattr(h, "addresses", ()) or ()
        for a in addrs:
            if a.display_name:
                return a.display_name
            # The old form "addr (Full Name)": mail readers show the comment as the name;
            # this reader keeps only the address.
            raw = next((v for k, v in msg.raw_items() if k.lower() == name), "")
            comment = re.search(r"\(([^()]+)\)\s*$", str(raw).strip()) if len(addrs) == 1 else None
            if comment and comment.group(1).strip():
                return comment.group(1).strip()
            if a.addr_spec and a.addr_spec != "<>":
                return a.addr_spec
        if str(h).strip():
            return str(h).strip()
    return ""


def expected_date(msg):
    try:
        h = msg["date"]
        when = getattr(h, "datetime", None) if h is not None else None
    except Exception:
        when = None
    if when is None:
        return None
    if when.tzinfo is None:  # -0000: UTC with no claim about the local zone
        when = when.replace(tzinfo=dt.timezone.utc)
    return when.astimezone(dt.timezone.utc).strftime("%Y-%m-%d %H:%M")


SIGNATURES = {"application/pgp-signature", "application/pkcs7-signature", "application/x-pkcs7-signature"}


def leaves(part, parent=None):
    if part.get_content_maintype() == "multipart":
        # A multipart whose boundary never comes holds no parts: its text is not a file.
        if isinstance(part.get_payload(), list):
            for child in part.get_payload():
                yield from leaves(child, part)
    else:
        yield part, parent


def expected_body_and_attachments(msg):
    try:
        body = msg.get_body(preferencelist=("plain", "html"))
    except Exception:
        body = None
    kind, text = "plain", ""
    if body is not None:
        kind = body.get_content_subtype()
        text = text_of(body)
    atts, tnef = [], False
    for part, parent in leaves(msg):
        if part is body:
            continue
        if body is not None and parent is not None and parent.get_content_subtype() == "alternative" \
                and any(p is body for p in parent.get_payload()) and part.get_content_maintype() == "text":
            continue  # the other form of the body
        if part.get_content_type() in SIGNATURES:
            continue  # a signature checks the mail; it is no file of the mail
        if part.get_content_type() == "application/ms-tnef":
            tnef = True
        if part.get_content_maintype() == "message":
            inner = part.get_payload()  # a mail, or the header blocks of a status report
            inner = inner if isinstance(inner, list) else [inner]
            data = b"\n".join(m.as_bytes(policy=email.policy.compat32) for m in inner
                               if isinstance(m, email.message.Message))
            atts.append((part.get_filename(), data, True))
            continue
        data = part.get_payload(decode=True) or b""
        name = part.get_filename()
        if not data.strip() and not name and part.get_content_maintype() == "text":
            continue  # an empty text part is nothing to save
        atts.append((name, data, False))
    return kind, text, atts, tnef


def norm_lines(text):
    lines = [l.rstrip() for l in text.replace("\r\n", "\n").replace("\r", "\n").split("\n")]
    while lines and not lines[0]:
        lines.pop(0)
    while lines and not lines[-1]:
        lines.pop()
    return "\n".join(lines)


# ---------------------------------------------------------------- reading the pages
MARK = re.compile(r"\[\[QMF:(\w+)\]\](.*?)\[\[/QMF\]\]", re.S)
LINK = re.compile(r'<A href="\.\./([^"]*)" title="[^"]*">(.*?)</A>', re.S)
IMAGE = re.compile(r'<IMG src="\./attsimgs/([^"]*)" title="(.*?)" vspace=2>', re.S)


def read_pages(out):
    pages = {}
    for page in sorted(out.rglob("*.htm")):
        text = page.read_bytes().decode("utf-8", "replace")
        raw = dict(MARK.findall(text))
        if "entryid" not in raw:
            continue
        # The page is HTML: what a browser shows is the text with its references decoded.
        fields = {k: html.unescape(v) for k, v in raw.items()}
        files = []
        for href, name in LINK.findall(raw.get("attachments", "")):
            files.append((html.unescape(name), out / html.unescape(href)))
        for src, name in IMAGE.findall(raw.get("images", "")):
            files.append((html.unescape(name), page.parent / "attsimgs" / html.unescape(src)))
        fields["files"] = files
        fields["page"] = page
        pages.setdefault(fields["entryid"], fields)
    return pages


def page_date(value):
    value = value.strip()
    if value.startswith(NO_DATE):
        return None
    return (value + " 00:00")[:16] if len(value) == 10 else value[:16]


def norm_message_bytes(data):
    """A message part is saved as it stands, and this reader can only give it back
    re-serialised, which moves white space (line ends, a space after a header's colon):
    the two are compared with all white space removed (no transfer encoding applies to a
    message part, so nothing else can differ)."""
    return b"".join(data.split())


def compare_attachments(expected, tnef, got):
    """(ok, why). Every decoded part must have a saved file with its bytes (and its name,
    when the part names one); no other file may be linked, except the files a TNEF part
    unpacks into."""
    saved = []
    for name, path in got:
        try:
            saved.append([name, path.read_bytes(), False])
        except OSError:
            return False, f"link to a missing file {path.name}"
    problems = []
    for name, data, is_msg in expected:
        want = norm_message_bytes(data) if is_msg else data
        hit = None
        for s in saved:
            if s[2]:
                continue
            have = norm_message_bytes(s[1]) if is_msg else s[1]
            if have == want and (name is None or s[0] == name):
                hit = s
                break
        if hit:
            hit[2] = True
        else:
            same_name = [s for s in saved if name is not None and s[0] == name]
            if same_name:
                problems.append(f"{name!r}: bytes differ ({len(same_name[0][1])} saved, {len(want)} decoded)")
            else:
                problems.append(f"{name or '(no name)'} ({len(want)} bytes) not saved")
    extra = [s for s in saved if not s[2]]
    if extra and not tnef:
        problems.append("extra: " + ", ".join(f"{s[0]!r} ({len(s[1])} bytes)" for s in extra))
    return not problems, "; ".join(problems)


# ---------------------------------------------------------------- the checks
def run_export(exporter, store, folder, out):
    env = dict(os.environ, TZ="UTC", QT_QPA_PLATFORM="offscreen")
    return subprocess.run([exporter, "--store", str(store), "--folder", folder, "--template", str(TEMPLATE),
                           "--out", str(out)], env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          errors="replace")


def check_folder(exporter, realmail, rel, folder, kind, sub, work, report):
    store = realmail / rel
    if kind == "eml":
        mails = read_eml_dir(store)
    elif kind == "mbox":
        mails = read_mbox(store)
    else:
        mails = read_maildir(store / sub if sub else store)
    out = work / folder.replace("/", "_")
    res = run_export(exporter, store, folder, out)
    pages = read_pages(out) if out.is_dir() else {}
    where = f"{rel}/{sub}" if sub else rel
    if res.returncode != 0:
        report(f"{where}", "export", False, f"exit status {res.returncode}: {res.stderr.strip()[:200]}")
    for key, raw in mails.items():
        name = f"{where}/{key}" if kind != "mbox" else f"{where}@{key}"
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        page = pages.pop(key, None)
        if page is None:
            for f in FIELDS:
                report(name, f, False, "no page for this mail")
            continue
        want = header(msg, "subject") or ""
        got = page.get("subject", "")
        report(name, "subject", got == want, f"{got!r} != {want!r}")
        want = expected_sender(msg)
        got = page.get("sendername", "")
        report(name, "sender", got == want, f"{got!r} != {want!r}")
        want = expected_date(msg)
        got = page_date(page.get("senton", ""))
        report(name, "date", got == want, f"{got or 'no date'} != {want or 'no date'} (UTC)")
        kind_, text, atts, tnef = expected_body_and_attachments(msg)
        got = page.get("body", "")
        if kind_ == "html":
            gw, ww = "".join(got.split()), "".join(html_words(text))
            report(name, "body", gw == ww, "html words: " + first_difference(gw, ww))
        else:
            g, w = norm_lines(got), norm_lines(text)
            report(name, "body", g == w, first_difference(g, w))
        ok, why = compare_attachments(atts, tnef, page["files"])
        report(name, "attachments", ok, why)
    for key in pages:
        report(f"{where}/{key}", "export", False, "a page for a mail the other reader does not see")


def first_difference(a, b):
    i = next((i for i in range(min(len(a), len(b))) if a[i] != b[i]), min(len(a), len(b)))
    return f"differ at {i}: {a[max(0, i - 20):i + 40]!r} != {b[max(0, i - 20):i + 40]!r} ({len(a)} vs {len(b)} chars)"


def check_pst(exporter, realmail, rel, expect, work, report):
    store = realmail / rel
    env = dict(os.environ, TZ="UTC")
    listing = subprocess.run([exporter, "--list", "--store", str(store)], env=env, stdin=subprocess.DEVNULL,
                             capture_output=True, text=True, errors="replace")
    if listing.returncode != 0:
        report(rel, "smoke", False, f"--list exit status {listing.returncode}")
        return
    path, pages, not_mail, items, ok = [], 0, 0, 0, True
    for line in listing.stdout.splitlines():
        m = re.match(r"^( *)(.*?)  \((\d+)\)$", line)
        if not m:
            continue
        depth = len(m.group(1)) // 2
        path = path[:depth] + [m.group(2)]
        if int(m.group(3)) == 0:
            continue
        items += int(m.group(3))
        folder = "/".join(path)
        out = work / ("pst_" + re.sub(r"\W", "_", rel + folder))
        res = run_export(exporter, store, folder, out)
        summary = dict(re.findall(r"^(Exported|Not mail):\s+(\d+)", res.stdout, re.M))
        # Mail pages only: the archive's start page and its lists (index.htm, _archive/) are
        # written beside them at the end of every run.
        written = (
            sum(1 for p in out.rglob("*.htm") if p != out / "index.htm" and "_archive" not in p.relative_to(out).parts)
            if out.is_dir()
            else 0
        )
        if res.returncode != 0 or written != int(summary.get("Exported", -1)):
            ok = False
        pages += written
        not_mail += int(summary.get("Not mail", 0))
    # Every item is either a page or counted as not mail; nothing is lost without a word.
    report(rel, "smoke", ok and pages == expect and pages + not_mail == items,
           f"items {items}, pages {pages}, not mail {not_mail}; expected {expect} pages")
    print(f"pst     {rel}: items {items}, pages {pages}, not mail {not_mail}")


def load_known(path):
    """Entries of docs/fidelity.md: a line "- `mail` field: why"."""
    known = set()
    if path.is_file():
        for line in path.read_text(encoding="utf-8").splitlines():
            m = re.match(r"^- `([^`]+)` (\w+):", line)
            if m:
                known.add((m.group(1), m.group(2)))
    return known


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--exporter", default=str(ROOT / "build" / "app" / "cli" / "quillmark-export"))
    ap.add_argument("--realmail", default=str(ROOT.parent / "shared" / "realmail"))
    ap.add_argument("--keep", help="export into this directory and keep it")
    ap.add_argument("-v", "--verbose", action="store_true", help="list the listed disagreements too")
    args = ap.parse_args()

    realmail = Path(args.realmail)
    if not realmail.is_dir():
        print(f"fidelity: skipped, no real mail at {realmail}")
        return 0
    if not os.access(args.exporter, os.X_OK):
        print(f"fidelity: no exporter at {args.exporter} (build the quillmark-export target)", file=sys.stderr)
        return 1

    known = load_known(KNOWN)
    used = set()
    counts = {"passed": 0, "failed": 0, "listed": 0}

    def report(mail, field, ok, why):
        if ok:
            counts["passed"] += 1
        elif (mail, field) in known:
            used.add((mail, field))
            counts["passed"] += 1
            counts["listed"] += 1
            if args.verbose:
                print(f"listed  {mail} {field}: {why}")
        else:
            counts["failed"] += 1
            print(f"FAIL    {mail} {field}: {why}")

    with tempfile.TemporaryDirectory(prefix="fidelity-") as tmp:
        work = Path(args.keep) if args.keep else Path(tmp)
        work.mkdir(parents=True, exist_ok=True)
        for rel, folder, kind, sub in STORES:
            check_folder(args.exporter, realmail, rel, folder, kind, sub, work, report)
        for rel, expect in PST_STORES.items():
            check_pst(args.exporter, realmail, rel, expect, work, report)

    for mail, field in sorted(known - used):
        print(f"note    listed but agrees now (remove from docs/fidelity.md): {mail} {field}")
    print(f"({counts['listed']} of the passed are disagreements listed in docs/fidelity.md)")
    print(f"fidelity: {counts['passed']} passed, {counts['failed']} failed")
    return 1 if counts["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
