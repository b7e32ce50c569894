#!/usr/bin/env python3
"""Checks the browsable archive end to end on a generated mailbox with conversations:

  1. every page in the export root is reachable from index.htm by links;
  2. every thread tree of the thread pages matches the References / In-Reply-To chains of
     the mails (each reply sits below the nearest mail of its chain that the archive holds);
  3. headless Chromium opening index.htm#q=WORD, for a word that stands in exactly three
     mails, shows exactly those three;
  4. a run killed half-way and then resumed (--resume) leaves the same manifest and the same
     index files as one clean run.

usage: archive-check.py [--mails N] [--out DIR] [--exe PATH] [--keep]
Needs a built quillmark-export (default build/app/cli/quillmark-export) and chromium."""
import argparse
import email
import html.parser
import mailbox
import os
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
WORD = "qxjfindme"
failures = []


def fail(text):
    failures.append(text)
    print("FAIL: " + text)


def ids(header):
    if not header:
        return []
    found = re.findall(r"<([^<>]+)>", header)
    return ["".join(i.split()) for i in found]


def export(exe, mbox, root, extra=()):
    return subprocess.run([exe, "--store", mbox, "--folder", "archive", "--out", root,
                           "--template", "builtin:browse", "--quiet", *extra], check=False)


class Links(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.hrefs = []

    def handle_starttag(self, tag, attrs):
        for name, value in attrs:
            if name in ("href", "src") and value:
                self.hrefs.append(value)


def check_reachable(root):
    start = os.path.join(root, "index.htm")
    seen, todo = {os.path.realpath(start)}, [os.path.realpath(start)]
    while todo:
        page = todo.pop()
        parser = Links()
        with open(page, encoding="utf-8", errors="replace") as f:
            parser.feed(f.read())
        for href in parser.hrefs:
            url = urllib.parse.urlsplit(href)
            if url.scheme or url.netloc or not url.path:
                continue
            target = os.path.realpath(os.path.join(os.path.dirname(page), urllib.parse.unquote(url.path)))
            if target.endswith(".htm") and target not in seen and os.path.isfile(target):
                seen.add(target)
                todo.append(target)
    pages = set()
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = [d for d in dirnames if not d.startswith(".")]
        pages.update(os.path.realpath(os.path.join(dirpath, f)) for f in filenames if f.endswith(".htm"))
    missing = sorted(pages - seen)
    print("reachable: %d of %d pages" % (len(pages & seen), len(pages)))
    if missing:
        fail("%d pages not reachable from index.htm, e.g. %s" % (len(missing), missing[:3]))


class Trees(html.parser.HTMLParser):
    """Parent of each mail page in the nested lists of a thread page (None: a top mail or
    below a mail not in the archive)."""

    def __init__(self):
        super().__init__()
        self.stack = []  # page of each open <li> (None until its link is seen)
        self.parent = {}
        self.count = {}

    def handle_starttag(self, tag, attrs):
        if tag == "li":
            self.stack.append(None)
        elif tag == "a" and self.stack and self.stack[-1] is None:
            href = dict(attrs).get("href", "")
            page = urllib.parse.unquote(href)[3:]  # "../YEAR/name.htm"
            self.stack[-1] = page
            above = [p for p in self.stack[:-1]]
            self.parent[page] = above[-1] if above else None
            self.count[page] = self.count.get(page, 0) + 1

    def handle_endtag(self, tag):
        if tag == "li" and self.stack:
            self.stack.pop()


def check_threads(root, mbox_path):
    db = sqlite3.connect(os.path.join(root, ".quillmark", "archive.sqlite"))
    page_of = {}
    for page, mid in db.execute("SELECT page, message_id FROM mails"):
        for i in ids(mid) or [mid]:
            page_of[i] = page
    trees = Trees()
    archive = os.path.join(root, "_archive")
    for name in sorted(os.listdir(archive)):
        if re.fullmatch(r"threads(-p\d+)?\.htm", name):
            with open(os.path.join(archive, name), encoding="utf-8") as f:
                trees.feed(f.read())
    twice = [p for p, n in trees.count.items() if n > 1]
    if twice:
        fail("%d mails listed in more than one place of the thread pages, e.g. %s" % (len(twice), twice[:3]))
    checked = 0
    for message in mailbox.mbox(mbox_path):
        own = ids(message["Message-ID"])
        if not own or own[0] not in page_of:
            continue
        chain = ids(message["References"])
        reply = ids(message["In-Reply-To"])
        if reply and (not chain or chain[-1] != reply[0]):
            chain.append(reply[0])
        present = [i for i in chain if i in page_of and i != own[0]]
        if not present:
            continue
        expected = page_of[present[-1]]
        page = page_of[own[0]]
        actual = trees.parent.get(page, "(not in the thread pages)")
        checked += 1
        if actual != expected:
            fail("thread: %s sits below %s, its References say %s" % (page, actual, expected))
            if len(failures) > 20:
                break
    print("threads: %d replies checked against their References" % checked)


def check_search(root, mbox_path):
    browser = shutil.which("chromium") or shutil.which("chromium-browser") or shutil.which("google-chrome")
    if not browser:
        fail("chromium not found")
        return
    db = sqlite3.connect(os.path.join(root, ".quillmark", "archive.sqlite"))
    page_of = {}
    for page, mid in db.execute("SELECT page, message_id FROM mails"):
        page_of["".join(ids(mid)) or mid] = page
    expected = set()
    for message in mailbox.mbox(mbox_path):
        body = message.get_payload(decode=True) or b""
        if WORD.encode() in body:
            expected.add(page_of["".join(ids(message["Message-ID"]))])
    if len(expected) != 3:
        fail("the mailbox should hold %s in exactly three mails, not %d" % (WORD, len(expected)))
    url = "file://" + urllib.parse.quote(os.path.join(root, "index.htm")) + "#q=" + WORD
    started = time.monotonic()
    dom = subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu", "--virtual-time-budget=20000",
                          "--dump-dom", url], capture_output=True, text=True, timeout=180).stdout
    took = time.monotonic() - started
    box = re.search(r'<div id="results"([^>]*)>(.*?)</div>', dom, re.S)
    if not box or 'data-done="1"' not in box.group(1):
        fail("search: no finished results in the page")
        return
    shown = {urllib.parse.unquote(p) for p in re.findall(r'data-page="([^"]*)"', box.group(2))}
    print("search %s: %d shown (%s), chromium took %.1f s" % (WORD, len(shown), box.group(1).strip(), took))
    if shown != expected:
        fail("search %s shows %s, the mails holding it are %s" % (WORD, sorted(shown), sorted(expected)))
    check_search_counts(browser, root, db)


def is_word_char(c):
    """The rule of the archive's word lists (SearchWords, isWordChar)."""
    c = ord(c)
    if c < 0x80:
        return chr(c).isascii() and chr(c).isalnum()
    if c <= 0xBF or c in (0xD7, 0xF7, 0xFFFD):
        return False
    if 0x2000 <= c <= 0x2BFF or 0x3000 <= c <= 0x303F or 0xFE30 <= c <= 0xFE4F or 0xFF00 <= c <= 0xFF0F \
            or 0xFF1A <= c <= 0xFF20:
        return False
    return not 0xD800 <= c <= 0xDFFF


def search_words(text):
    """The words of a text as the lists hold them; only the letters A-Z are folded here, which
    is enough for the words in plain ASCII this check asks for."""
    out, word = set(), []
    for c in text + " ":
        if is_word_char(c):
            word.append(c)
            continue
        w = "".join(word)
        word = []
        if 2 <= len(w) <= 40:
            out.add("".join(ch.lower() if ch.isascii() else ch for ch in w))
    return out


def check_search_counts(browser, root, db):
    """Words of every frequency, one begun as if being typed and two together: the count the
    page shows equals the mails of the manifest that hold them (subject, sender, recipients,
    text). With many words per year they sit in several word files, so this also checks that
    the page looks for each word in the file it was written to."""
    mails = [search_words(" ".join(f or "" for f in row))
             for row in db.execute("SELECT subject, sender, recipients, text FROM mails")]
    count = {}
    for words in mails:
        for w in words:
            count[w] = count.get(w, 0) + 1
    ranked = sorted((w for w in count if w.isascii()), key=lambda w: (count[w], w))
    picks = [ranked[int(q * (len(ranked) - 1))] for q in (0.0, 0.3, 0.6, 0.9, 0.99, 1.0)]
    queries = [(w + " ", count[w]) for w in picks]
    start = next(w for w in ranked[len(ranked) // 2:] if len(w) >= 5)[:3]
    queries.append((start, sum(1 for words in mails if any(w.startswith(start) for w in words))))
    both = picks[-1] + " " + picks[-2] + " "
    queries.append((both, sum(1 for words in mails if picks[-1] in words and picks[-2] in words)))
    for query, want in queries:
        url = "file://" + urllib.parse.quote(os.path.join(root, "index.htm")) + "#q=" + urllib.parse.quote(query)
        dom = subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu", "--virtual-time-budget=20000",
                              "--dump-dom", url], capture_output=True, text=True, timeout=180).stdout
        box = re.search(r'<div id="results"([^>]*)>', dom)
        got = re.search(r'data-count="(\d+)"', box.group(1)) if box else None
        got = int(got.group(1)) if got else None
        print("search %r: %s mails shown as found, the manifest has %d" % (query, got, want))
        if got != want:
            fail("search %r finds %s mails, the manifest has %d holding it" % (query, got, want))


def check_navigation(root):
    """A mail page's links, set by the archive's script in the browser, lead to its
    neighbours by date (the manifest's order) and in its thread (the thread pages' order)."""
    browser = shutil.which("chromium") or shutil.which("chromium-browser") or shutil.which("google-chrome")
    if not browser:
        return
    db = sqlite3.connect(os.path.join(root, ".quillmark", "archive.sqlite"))
    pages = [p for (p,) in db.execute("SELECT page FROM mails ORDER BY received, page")]
    order = []
    archive = os.path.join(root, "_archive")
    for name in sorted(os.listdir(archive), key=lambda n: int(re.sub(r"\D", "", n) or 1)):
        if re.fullmatch(r"threads(-p\d+)?\.htm", name):
            with open(os.path.join(archive, name), encoding="utf-8") as f:
                text = f.read()
            for thread in re.findall(r'<ul class="thread"[^>]*>(.*?)</ul>\n', text, re.S):
                order.append([urllib.parse.unquote(h)[3:] for h in re.findall(r'<a href="([^"]*)"', thread)])
    in_thread = {}
    for members in order:
        for k, page in enumerate(members):
            in_thread[page] = (members[k - 1] if k else None, members[k + 1] if k + 1 < len(members) else None)
    picks = [pages[0], pages[len(pages) // 3], pages[-1]] + [m[len(m) // 2] for m in order[:2] if len(m) > 2]
    for page in picks:
        i = pages.index(page)
        expected = {"prev-date": pages[i - 1] if i else None, "next-date": pages[i + 1] if i + 1 < len(pages) else None}
        if page in in_thread:
            expected["prev-thread"], expected["next-thread"] = in_thread[page]
        url = "file://" + urllib.parse.quote(os.path.join(root, page))
        dom = subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu", "--virtual-time-budget=20000",
                              "--dump-dom", url], capture_output=True, text=True, timeout=180).stdout
        for role, want in expected.items():
            link = re.search(r'<a class="qm-nav" data-qm="%s"[^>]*>' % role, dom)
            if not link:
                fail("navigation: no %s link in %s" % (role, page))
                continue
            href = re.search(r'href="([^"]*)"', link.group(0)).group(1)
            hidden = " hidden" in link.group(0)
            got = None if hidden else urllib.parse.unquote(href).replace("file://" + root + "/", "")
            if got != want:
                fail("navigation: %s of %s leads to %s, not %s" % (role, page, got, want))
    print("navigation: the links of %d mail pages checked in Chromium" % len(picks))


def snapshot(root):
    db = sqlite3.connect(os.path.join(root, ".quillmark", "archive.sqlite"))
    mails = sorted(db.execute(
        "SELECT store_key, identity, folder, page, received, sent, sender, recipients, subject, size,"
        " message_id, in_reply_to, refs, text FROM mails"))
    files = sorted(db.execute(
        "SELECT m.identity, f.path, f.size, f.crc32, f.picture FROM files f JOIN mails m ON m.id = f.mail_id"))
    index = {}
    for dirpath, _, filenames in os.walk(os.path.join(root, "_archive")):
        for f in filenames:
            path = os.path.join(dirpath, f)
            with open(path, "rb") as fh:
                index[os.path.relpath(path, root)] = fh.read()
    with open(os.path.join(root, "index.htm"), "rb") as fh:
        index["index.htm"] = fh.read()
    return mails, files, index


def check_kill_and_resume(exe, mbox, clean_root, root, count):
    shutil.rmtree(root, ignore_errors=True)
    process = subprocess.Popen([exe, "--store", mbox, "--folder", "archive", "--out", root,
                                "--template", "builtin:browse", "--quiet"])
    manifest = os.path.join(root, ".quillmark", "archive.sqlite")
    deadline = time.monotonic() + 120
    rows = 0
    while time.monotonic() < deadline and process.poll() is None:
        time.sleep(0.05)
        try:
            rows = sqlite3.connect("file:%s?mode=ro" % manifest, uri=True).execute(
                "SELECT count(*) FROM mails").fetchone()[0]
        except sqlite3.Error:
            continue
        if rows >= count * 2 // 5:
            break
    if process.poll() is not None:
        fail("kill and resume: the run ended before it could be killed")
        return
    process.send_signal(signal.SIGKILL)
    process.wait()
    print("killed a run with %d mails in its manifest" % rows)
    result = export(exe, mbox, root, ["--resume"])
    if result.returncode != 0:
        fail("the resumed run ended with %d" % result.returncode)
    a, b = snapshot(clean_root), snapshot(root)
    if a[0] != b[0]:
        fail("kill and resume: the manifests' mails differ (%d against %d rows)" % (len(a[0]), len(b[0])))
    if a[1] != b[1]:
        fail("kill and resume: the manifests' files differ")
    differ = sorted(k for k in set(a[2]) | set(b[2]) if a[2].get(k) != b[2].get(k))
    if differ:
        fail("kill and resume: %d index files differ, e.g. %s" % (len(differ), differ[:5]))
    print("kill and resume: %d manifest rows, %d index files compared" % (len(a[0]), len(a[2])))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mails", type=int, default=10000)
    ap.add_argument("--out", default=os.path.join(SOURCE, "out", "archive-check"))
    ap.add_argument("--exe", default=os.environ.get("QUILLMARK_EXPORT",
                                                    os.path.join(SOURCE, "build", "app", "cli", "quillmark-export")))
    ap.add_argument("--keep", action="store_true", help="keep the output folder")
    args = ap.parse_args()
    out = os.path.abspath(args.out)
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    mbox = os.path.join(out, "archive")
    subprocess.run([sys.executable, os.path.join(SOURCE, "bench", "archive_mbox_gen.py"), str(args.mails), mbox],
                   check=True)
    clean = os.path.join(out, "clean")
    started = time.monotonic()
    if export(args.exe, mbox, clean).returncode != 0:
        fail("the export failed")
        return 1
    print("exported %d mails in %.1f s" % (args.mails, time.monotonic() - started))
    check_reachable(clean)
    check_threads(clean, mbox)
    check_search(clean, mbox)
    check_navigation(clean)
    check_kill_and_resume(args.exe, mbox, clean, os.path.join(out, "resumed"), args.mails)
    if not args.keep:
        shutil.rmtree(out, ignore_errors=True)
    print("archive check: %s" % ("%d failures" % len(failures) if failures else "all passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
