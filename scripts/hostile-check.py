#!/usr/bin/env python3
"""Exports the hostile corpus (tests/data/hostile/corpus.txt) as mail and opens every page in
headless Chromium; fails when any page runs a script of the mail's or makes a network request.

Each attack string becomes one mail that carries it everywhere a page shows mail: subject,
sender name and address, recipients, plain and HTML body, an attachment's name, a picture's
name and Content-ID. The pages are made with a template that uses every tag (the 52 and those
for HTML mail) and the Content-Security-Policy tag.

How a run is watched:
  - script: every attack sets window.qmPwned. A copy of each page loads a probe script file
    from the export root (a file, as the page's policy allows) that, after the page has
    loaded and its pictures have failed or not, writes what it found into the DOM, which
    Chromium's --dump-dom prints.
  - network: Chromium's --log-net-log records every request; any http(s), ws(s) or ftp
    request fails the check (host names resolve to nothing, so nothing leaves the machine).
  - the watch itself: a control page with a script that runs and a picture that loads from
    the web must be caught, or the check is blind and fails.

    scripts/hostile-check.py [--out DIR] [--jobs N]

Needs chromium and a built quillmark-export ($QUILLMARK_EXPORT, else build/app/cli/quillmark-export).
"""
import argparse
import concurrent.futures
import email.message
import email.policy
import email.utils
import html
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import urllib.parse

ROOT = pathlib.Path(__file__).resolve().parent.parent

PROBE_JS = r"""
(function () {
  function report() {
    var result = 'PWNED=' + (window.qmPwned ? 'yes' : 'no');
    if (window.parent !== window) window.parent.postMessage('frame' + location.hash.slice(1) + ' ' + result, '*');
    var out = document.createElement('pre');
    out.id = 'qm-probe';
    out.textContent = result;
    document.documentElement.appendChild(out);
  }
  window.addEventListener('load', function () { setTimeout(report, 300); });
})();
"""

# Opens many probe pages at once, one frame each, and lists what each frame reports.
HARNESS = """<!DOCTYPE html><html><body><pre id="results"></pre>
<script>
window.addEventListener('message', function (e) {
  document.getElementById('results').textContent += e.data + '\\n';
});
</script>
%s
</body></html>"""

TAGS_52 = [
    "AppVer", "AppName", "AppComments", "DateTime", "Attachments", "Images", "BillingInformation", "Body",
    "DateTimes", "Categories", "Companies", "EntryID", "MessageClass", "Mileage", "OutlookInternalVersion",
    "OutlookVersion", "Subject", "BCC", "CC", "ConversationTopic", "FlagRequest", "ReceivedByName",
    "ReceivedOnBehalfOfName", "ReminderSoundFile", "ReplyRecipientNames", "SenderName", "SentOnBehalfOfName", "To",
    "VotingOptions", "VotingResponse", "CreationTime", "LastModificationTime", "DeferredDeliveryTime", "ExpiryTime",
    "FlagDueBy", "ReceivedTime", "ReminderTime", "SentOn", "NoAging", "Saved", "UnRead", "AlternateRecipientAllowed",
    "AutoForwarded", "DeleteAfterSubmit", "OriginatorDeliveryReportRequested", "ReadReceiptRequested",
    "RecipientReassignmentProhibited", "ReminderOverrideDefault", "ReminderPlaySound", "ReminderSet", "Size", "SizeKB",
]
TAGS_NEW = ["HTMLBody", "SenderEmailAddress", "ToEmailAddresses", "CCEmailAddresses", "BCCEmailAddresses",
            "SentOnHeader"]

# The smallest GIF there is, as the picture the HTML body shows by cid:.
GIF = bytes.fromhex("47494638396101000100800000000000ffffff21f90401000000002c00000000010001000002024401003b")


def corpus():
    out = []
    for line in (ROOT / "tests/data/hostile/corpus.txt").read_text(encoding="utf-8").splitlines():
        if line and not line.startswith("#"):
            out.append(line.replace("\\n", "\n"))
    return out


def template():
    rows = "\n".join(f"<tr><th>{t}</th><td><#{t}></td></tr>" for t in TAGS_52 + TAGS_NEW)
    # Every tag also inside an attribute value, where a quote would end it.
    attrs = "\n".join(f'<span title="<#{t}>">.</span>' for t in TAGS_52 + TAGS_NEW if t != "HTMLBody")
    return ("<!DOCTYPE html>\n<html><head><#ContentSecurityPolicy>\n"
            '<meta charset="utf-8"><title><#Subject></title></head>\n'
            f"<body>\n<table>\n{rows}\n</table>\n{attrs}\n</body>\n</html>\n")


def make_mbox(attacks, path):
    with open(path, "wb") as mbox:
        for i, attack in enumerate(attacks, 1):
            one_line = attack.replace("\n", " ")
            msg = email.message.EmailMessage(policy=email.policy.SMTP)
            msg["Subject"] = one_line
            msg["From"] = email.utils.formataddr((one_line, f"sender{i}@example.com"))
            msg["To"] = email.utils.formataddr((one_line, f"to{i}@example.com"))
            msg["Cc"] = f"cc{i}@example.com"
            msg["Date"] = email.utils.format_datetime(
                email.utils.localtime().replace(year=2020, month=1, day=1, hour=0, minute=0, second=0) +
                __import__("datetime").timedelta(minutes=i))
            msg["Message-ID"] = f"<hostile{i}@example.com>"
            msg.set_content(f"Plain part {i}:\n{attack}\n")
            html = (f"<html><body><p>Mail {i}</p>{attack}<p>picture:</p>"
                    f'<img src="cid:pic{i}@example.com"><p>end {i}</p></body></html>')
            msg.add_alternative(html, subtype="html")
            html_part = msg.get_payload()[1]
            html_part.add_related(GIF, maintype="image", subtype="gif", cid=f"<pic{i}@example.com>",
                                  filename=f"{one_line[:40]}.gif")
            msg.add_attachment(attack.encode("utf-8"), maintype="application", subtype="octet-stream",
                               filename=one_line[:120])
            data = msg.as_bytes(policy=email.policy.SMTP.clone(linesep="\n"))
            mbox.write(b"From hostile@example.com Wed Jan  1 00:00:00 2020\n")
            for line in data.split(b"\n"):
                mbox.write((b">" + line if line.startswith(b"From ") else line) + b"\n")
            mbox.write(b"\n")


def chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        p = shutil.which(name)
        if p:
            return p
    sys.exit("hostile-check: chromium not found (apt-get install chromium)")


def make_probe(page):
    probe = page.with_name(".probe-" + page.name)
    text = page.read_bytes()
    at = text.rfind(b"</body>")
    tag = b'<script src="../qm-probe.js"></script>'
    probe.write_bytes(text[:at] + tag + text[at:] if at >= 0 else text + tag)
    return probe


def run_browser(browser, url, workdir, budget):
    """Loads url; returns (the DOM after loading, the http(s)/ws/ftp requests made)."""
    netlog = pathlib.Path(tempfile.mkstemp(suffix=".json", dir=workdir)[1])
    profile = tempfile.mkdtemp(dir=workdir)
    try:
        run = subprocess.run(
            [browser, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             # The browser's own traffic (updates, accounts, spelling dictionaries) is not
             # the page's: switched off, so that every request left is the page's.
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-default-apps", "--disable-extensions", "--disable-features=SpellCheck,OptimizationHints",
             "--no-pings", "--allow-file-access-from-files",
             "--user-data-dir=" + profile, "--host-resolver-rules=MAP * ~NOTFOUND",
             "--log-net-log=" + str(netlog), "--net-log-capture-mode=Default",
             f"--virtual-time-budget={budget}", "--dump-dom", url],
            capture_output=True, text=True, timeout=300)
        dom = run.stdout
        requests = []
        try:
            log = json.loads(netlog.read_text() or "{}")
        except json.JSONDecodeError:
            # A log cut short (the browser quit first) still lists its requests line by line.
            log = {"events": []}
            for line in netlog.read_text().splitlines():
                line = line.strip().rstrip(",")
                if line.startswith("{") and '"url"' in line:
                    try:
                        log["events"].append(json.loads(line))
                    except json.JSONDecodeError:
                        pass
        for ev in log.get("events", []):
            params = ev.get("params") or {}
            url = params.get("url", "")
            # The browser's own requests (its clock, updates, accounts) have no page origin
            # as their initiator; everything a page asks for has one ("null" for file://).
            if params.get("initiator", "not an origin") == "not an origin":
                continue
            if url.split(":", 1)[0].lower() in ("http", "https", "ws", "wss", "ftp"):
                requests.append(url)
        return dom, sorted(set(requests))
    finally:
        netlog.unlink(missing_ok=True)
        shutil.rmtree(profile, ignore_errors=True)


def open_page(browser, page, workdir):
    """Opens a probe copy of page alone; returns (script ran, requests, probe reported)."""
    probe = make_probe(page)
    try:
        dom, requests = run_browser(browser, probe.as_uri(), workdir, 3000)
        return "PWNED=yes" in dom, requests, "PWNED=" in dom
    finally:
        probe.unlink(missing_ok=True)


def open_batch(browser, pages, workdir, index):
    """Opens probe copies of pages together, each in a frame of one page; returns
    {page: (script ran, probe reported)} and the requests of them all."""
    probes = [make_probe(p) for p in pages]
    harness = pages[0].with_name(f".harness-{index}.htm")
    frames = "\n".join(f'<iframe src="{urllib.parse.quote(p.name)}#{k}" width="50" height="50"></iframe>'
                       for k, p in enumerate(probes))
    harness.write_text(HARNESS % frames, encoding="utf-8")
    try:
        dom, requests = run_browser(browser, harness.as_uri(), workdir, 20000)
        dom = html.unescape(dom)
        results = {}
        reported = re.findall(r"frame(\d+) PWNED=(yes|no)", dom)
        for k, page in enumerate(pages):
            seen = [r for n, r in reported if int(n) == k]
            results[page] = ("yes" in seen, bool(seen))
        return results, requests
    finally:
        harness.unlink(missing_ok=True)
        for p in probes:
            p.unlink(missing_ok=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", default=str(ROOT / "out/hostile-check"))
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--batch", type=int, default=40, help="pages opened together in one browser")
    args = ap.parse_args()
    out = pathlib.Path(args.out).resolve()
    exe = os.environ.get("QUILLMARK_EXPORT", str(ROOT / "build/app/cli/quillmark-export"))
    if not os.access(exe, os.X_OK):
        sys.exit(f"hostile-check: {exe} not built")
    browser = chromium()

    shutil.rmtree(out, ignore_errors=True)
    (out / "store").mkdir(parents=True)
    attacks = corpus()
    make_mbox(attacks, out / "store/Hostile")
    (out / "template.htm").write_text(template(), encoding="utf-8")
    export = out / "archive"
    run = subprocess.run([exe, "--store", str(out / "store/Hostile"), "--folder", "Hostile", "--template",
                          str(out / "template.htm"), "--out", str(export), "--quiet"], capture_output=True, text=True)
    if run.returncode != 0:
        print(run.stdout, run.stderr)
        sys.exit("hostile-check: the export failed")
    (export / "qm-probe.js").write_text(PROBE_JS)
    # The mail pages. The archive's own lists (_archive/) run the archive's script by design,
    # so they cannot be judged by "no script runs"; their escaping is tested in tests/archive.
    pages = sorted(p for p in export.glob("*/*.htm") if not p.name.startswith(".") and p.parent.name != "_archive")
    print(f"hostile-check: {len(attacks)} attacks, {len(pages)} pages")
    if len(pages) < len(attacks):
        sys.exit(f"hostile-check: expected a page per attack, got {len(pages)}")

    work = out / "work"
    work.mkdir()
    # The watch must see what it is there to see: a page that runs a script and loads a
    # picture from the web.
    control = export / "2020" / "control.htm"
    control.write_text('<html><body><img src="http://evil.example/seen.gif">'
                       "<img src=x onerror=\"window.qmPwned=1\"></body></html>")
    ran, requests, probed = open_page(browser, control, work)
    control.unlink()
    if not (ran and requests and probed):
        sys.exit(f"hostile-check: the watch is blind (script seen: {ran}, requests seen: {requests})")

    failures = 0
    batches = [pages[i:i + args.batch] for i in range(0, len(pages), args.batch)]
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for n, (results, requests) in enumerate(pool.map(lambda b: open_batch(browser, b[1], work, b[0]),
                                                         enumerate(batches))):
            for page, (ran, probed) in results.items():
                if ran or not probed:
                    failures += 1
                    print(f"FAIL {page.relative_to(export)}: script ran={ran} probe reported={probed}")
            if requests:
                # Which page asked: each page of the batch alone.
                for page in batches[n]:
                    ran, alone, probed = open_page(browser, page, work)
                    if alone:
                        failures += 1
                        print(f"FAIL {page.relative_to(export)}: requests {alone}")
                if not failures:
                    failures += 1
                    print(f"FAIL batch {n}: requests {requests}")
    shutil.rmtree(work, ignore_errors=True)
    if failures:
        print(f"hostile-check: FAILED on {failures} of {len(pages)} pages")
        return 1
    print(f"hostile-check: ok ({len(pages)} pages, no script of the mail ran, no request made)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
