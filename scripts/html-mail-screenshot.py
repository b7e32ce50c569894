#!/usr/bin/env python3
"""Exports one HTML mail (a table, links, a cid: picture between its paragraphs and a picture
from the web) with a template that uses the HTML mail tags, and photographs the page in
headless Chromium: docs/screenshots/html-mail.png.

    scripts/html-mail-screenshot.py [--out DIR] [--png FILE]
"""
import argparse
import email.message
import email.policy
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import zlib

ROOT = pathlib.Path(__file__).resolve().parent.parent

TEMPLATE = """<!DOCTYPE html>
<html><head><#ContentSecurityPolicy><meta charset="utf-8"><title><#Subject></title>
<style>
body { font-family: sans-serif; margin: 0; background: #eef0f3; }
.mail { max-width: 760px; margin: 16px auto; background: #fff; border: 1px solid #ccd; padding: 16px 24px; }
.head th { text-align: left; color: #555; padding-right: 12px; font-weight: normal; }
.qm-remote-note { background: #fff7d6; border: 1px solid #e6d17a; padding: 6px 10px; font-size: 90%; }
</style></head>
<body><div class="mail">
<h2><#Subject></h2>
<table class="head">
<tr><th>From</th><td><#SenderName> &lt;<#SenderEmailAddress>&gt;</td></tr>
<tr><th>To</th><td><#To> (<#ToEmailAddresses>)</td></tr>
<tr><th>Sent</th><td><#SentOn> (as sent: <#SentOnHeader>)</td></tr>
<tr><th>Received</th><td><#ReceivedTime></td></tr>
</table>
<hr>
<#HTMLBody>
<hr>
<div>Pictures: <#Images></div>
<div>Attachments: <#Attachments></div>
</div></body></html>
"""

HTML = """<html><head><style>p{color:red}</style></head><body>
<p>Hello team,</p>
<p>here are the <b>quarterly figures</b>, as promised. The full report is on
<a href="https://intranet.example.com/reports/q3">the intranet</a>; questions to
<a href="mailto:finance@example.com">finance@example.com</a>.</p>
<table border="1" cellpadding="4" cellspacing="0" style="border-collapse: collapse">
<tr style="background-color: #dde4ee"><th>Region</th><th>Q2</th><th>Q3</th><th>Change</th></tr>
<tr><td>North</td><td align="right">1,204</td><td align="right">1,391</td><td style="color: green">+15.5%</td></tr>
<tr><td>South</td><td align="right">987</td><td align="right">942</td><td style="color: #b00">-4.6%</td></tr>
<tr><td>West</td><td align="right">1,530</td><td align="right">1,612</td><td style="color: green">+5.4%</td></tr>
</table>
<p>The chart shows the trend:</p>
<p><img src="cid:chart@example.com" alt="Sales chart" width="240" height="120"></p>
<p>And our new logo, hosted by the design agency:</p>
<p><img src="https://cdn.agency.example/logo.png" alt="logo (remote)" width="200" height="60"></p>
<p>Best regards,<br><i>Anna</i></p>
<script>alert('never')</script>
</body></html>
"""


def png(width, height):
    """A bar chart as PNG bytes, drawn here so that the sample needs no picture files."""
    bars = [(20, 70, (70, 110, 190)), (80, 95, (70, 110, 190)), (140, 60, (190, 80, 70)), (200, 100, (70, 150, 90))]
    rows = []
    for y in range(height):
        row = bytearray([0])
        for x in range(width):
            color = (250, 250, 250)
            for left, h, c in bars:
                if left <= x < left + 30 and y >= height - 10 - h and y < height - 10:
                    color = c
            if y == height - 10:
                color = (60, 60, 60)
            row += bytes(color)
        rows.append(bytes(row))
    raw = zlib.compress(b"".join(rows))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", raw) + chunk(b"IEND", b""))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", default=str(ROOT / "out/html-mail"))
    ap.add_argument("--png", default=str(ROOT / "docs/screenshots/html-mail.png"))
    args = ap.parse_args()
    out = pathlib.Path(args.out).resolve()
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    exe = os.environ.get("QUILLMARK_EXPORT", str(ROOT / "build/app/cli/quillmark-export"))

    msg = email.message.EmailMessage(policy=email.policy.SMTP)
    msg["Subject"] = "Q3 figures"
    msg["From"] = "Anna Berg <anna.berg@example.com>"
    msg["To"] = "Sales Team <sales@example.com>, Bo Lind <bo.lind@example.com>"
    msg["Date"] = "Tue, 01 Oct 2024 09:14:03 +0200"
    msg["Message-ID"] = "<q3-figures@example.com>"
    msg.set_content("Hello team,\n\nhere are the quarterly figures (see the HTML version).\n\nAnna\n")
    msg.add_alternative(HTML, subtype="html")
    msg.get_payload()[1].add_related(png(240, 120), maintype="image", subtype="png", cid="<chart@example.com>",
                                     filename="chart.png")
    msg.add_attachment(b"Region;Q2;Q3\nNorth;1204;1391\n", maintype="text", subtype="csv", filename="figures.csv")
    data = msg.as_bytes(policy=email.policy.SMTP.clone(linesep="\n"))
    (out / "Inbox").write_bytes(b"From anna.berg@example.com Tue Oct  1 09:14:03 2024\n" + data + b"\n")
    (out / "template.htm").write_text(TEMPLATE, encoding="utf-8")
    subprocess.run([exe, "--store", str(out / "Inbox"), "--folder", "Inbox", "--template", str(out / "template.htm"),
                    "--out", str(out / "archive"), "--quiet"], check=True)
    page = next((out / "archive").glob("*/*.htm"))
    browser = shutil.which("chromium") or sys.exit("chromium not found")
    pathlib.Path(args.png).parent.mkdir(parents=True, exist_ok=True)
    subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                    "--host-resolver-rules=MAP * ~NOTFOUND", "--window-size=820,1000",
                    "--screenshot=" + str(pathlib.Path(args.png).resolve()), page.as_uri()],
                   check=True, capture_output=True)
    print(f"page: {page}\npng:  {args.png}")


if __name__ == "__main__":
    main()
