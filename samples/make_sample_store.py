#!/usr/bin/env python3
"""Writes the bundled sample mail store to samples/store (or the directory given).

Our own invented mail of the Harbour Street Choir, 2022 to 2026, in the layouts the
mailbox reader knows, so a first start and the main job of the README show something real:

  store/Inbox               mbox file (Thunderbird style) with Inbox.sbd/Projects below it
  store/Archive/            Maildir with Maildir++ folders .2023 and .2024
  store/Saved/              a directory of .eml files

The output is deterministic (fixed dates, boundaries and message ids), so running the
script again gives the committed files byte for byte.
"""
import base64
import os
import shutil
import struct
import sys
import zlib
from email.header import Header
from email.mime.application import MIMEApplication
from email.mime.image import MIMEImage
from email.mime.message import MIMEMessage
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.utils import formataddr, format_datetime
from datetime import datetime, timezone, timedelta

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "store")

PEOPLE = {
    "anna": ("Anna Lindqvist", "anna@harbour-choir.example"),
    "jorg": ("Jörg Bäcker", "joerg@harbour-choir.example"),
    "mei": ("Mei Tanaka", "mei@harbour-choir.example"),
    "sam": ("Sam O'Neill", "sam@harbour-choir.example"),
    "list": ("Choir list", "all@harbour-choir.example"),
}


def addr(key):
    name, mail = PEOPLE[key]
    return formataddr((str(Header(name, "utf-8")) if not name.isascii() else name, mail))


def pdf(title):
    """A minimal valid one-page PDF naming the title."""
    text = f"BT /F1 18 Tf 72 720 Td ({title}) Tj ET".encode()
    objs = [b"<< /Type /Catalog /Pages 2 0 R >>",
            b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
            b"/Resources << /Font << /F1 5 0 R >> >> >>",
            b"<< /Length %d >>\nstream\n" % len(text) + text + b"\nendstream",
            b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
    out = b"%PDF-1.4\n"
    offsets = []
    for i, o in enumerate(objs, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % i + o + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
    for off in offsets:
        out += b"%010d 00000 n \n" % off
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
    return out


def png(width, height, rgb):
    """A small solid-colour PNG with a diagonal stripe."""
    rows = b""
    for y in range(height):
        row = b"\x00"
        for x in range(width):
            row += bytes((255, 255, 255)) if x == y else bytes(rgb)
        rows += row

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


# A 2x2 GIF (red/blue), made by hand.
GIF = base64.b64decode("R0lGODlhAgACAPABAP8AAAAA/yH5BAAAAAAALAAAAAACAAIAAAIDRAIFADs=")

ROTA_PDF = pdf("Rehearsal rota 2024")  # sent three times: the archive keeps one copy

counter = [0]


def when(y, mo, d, h, mi, tz=1):
    return datetime(y, mo, d, h, mi, 0, tzinfo=timezone(timedelta(hours=tz)))


def finish(msg, frm, to, subject, date, cc=None, extra=None):
    counter[0] += 1
    msg["From"] = addr(frm)
    msg["To"] = ", ".join(addr(t) for t in to)
    if cc:
        msg["Cc"] = ", ".join(addr(t) for t in cc)
    msg["Subject"] = Header(subject, "utf-8") if not subject.isascii() else subject
    msg["Date"] = format_datetime(date)
    msg["Message-ID"] = f"<sample-{counter[0]:03d}@harbour-choir.example>"
    received = date + timedelta(minutes=2)
    msg["Received"] = f"from mx.harbour-choir.example by mail.harbour-choir.example; {format_datetime(received)}"
    for k, v in (extra or {}).items():
        msg[k] = v
    # Received belongs at the top, where a mail server puts it.
    items = msg._headers
    rec = [h for h in items if h[0] == "Received"]
    msg._headers = rec + [h for h in items if h[0] != "Received"]
    return msg


def text(body, subtype="plain"):
    return MIMEText(body, subtype, "utf-8")


def mixed(n, body, *parts):
    m = MIMEMultipart("mixed", boundary=f"=_sample_mixed_{n}")
    m.attach(body)
    for p in parts:
        m.attach(p)
    return m


def attach(data, maintype, subtype, filename):
    if maintype == "image":
        p = MIMEImage(data, subtype)
    else:
        p = MIMEApplication(data, subtype)
    p.add_header("Content-Disposition", "attachment", filename=filename)
    return p


def notes(content):
    p = MIMEText(content, "plain", "utf-8")
    p.add_header("Content-Disposition", "attachment", filename="notes.txt")
    return p


def inline_picture(n, html, data, cid, name):
    rel = MIMEMultipart("related", boundary=f"=_sample_rel_{n}")
    rel.attach(text(html, "html"))
    img = MIMEImage(data, "png")
    img.add_header("Content-ID", f"<{cid}>")
    img.add_header("Content-Disposition", "inline", filename=name)
    rel.attach(img)
    alt = MIMEMultipart("alternative", boundary=f"=_sample_alt_{n}")
    alt.attach(text(html.replace("<p>", "").replace("</p>", "\n").replace(f'<img src="cid:{cid}">', "[picture]")))
    alt.attach(rel)
    return alt


def build():
    inbox, projects, archive, a2023, a2024, saved = [], [], [], [], [], []

    inbox.append(finish(text("Hello all,\n\nRehearsals start again on Tuesday at 19:30 in the hall.\n\nAnna\n"),
                        "anna", ["list"], "Rehearsals start again", when(2026, 1, 6, 9, 15)))
    inbox.append(finish(mixed(1, text("The rota for the spring is attached.\n"),
                              attach(ROTA_PDF, "application", "pdf", "rota.pdf")),
                        "mei", ["list"], "Rota for spring", when(2026, 1, 12, 18, 2)))
    inbox.append(finish(text("Can somebody bring the spare music stands?\n\nSam\n"),
                        "sam", ["anna"], "Music stands", when(2026, 2, 3, 12, 40), cc=["mei"]))
    inbox.append(finish(text("Die Noten für das Frühlingskonzert liegen im Fach.\n\nJörg\n"),
                        "jorg", ["list"], "Noten für das Frühlingskonzert", when(2026, 2, 20, 20, 5)))
    inbox.append(finish(
        text("<html><body><h1>Spring concert</h1><p>Saturday <b>14 March</b>, 19:00, St. Mary's.</p>"
             "<p>Tickets &amp; programme at the door.</p></body></html>", "html"),
        "list", ["list"], "Spring concert – save the date", when(2026, 2, 24, 8, 0)))
    inbox.append(finish(mixed(2, text("Photos from the concert, as promised.\n"),
                              attach(png(24, 16, (30, 90, 200)), "image", "png", "stage.png"),
                              attach(GIF, "image", "gif", "flag.gif")),
                        "mei", ["list"], "Concert photos", when(2026, 3, 15, 10, 30)))
    inbox.append(finish(text("Thanks for a lovely evening!\n"), "sam", ["list"], "Re: Concert photos",
                        when(2026, 3, 15, 11, 2), extra={"Status": "O"}))
    inbox.append(finish(mixed(3, text("My notes from the meeting.\n"), notes("Meeting notes (Anna): budget ok.\n")),
                        "anna", ["list"], "Meeting notes", when(2026, 4, 2, 21, 0),
                        extra={"Disposition-Notification-To": addr("anna")}))
    inbox.append(finish(mixed(4, text("And mine, slightly different.\n"),
                              notes("Meeting notes (Sam): budget tight, ask the council.\n")),
                        "sam", ["list"], "Re: Meeting notes", when(2026, 4, 3, 7, 45)))
    inbox.append(finish(text("Summer break from July 1st.\n"), "anna", ["list"], "Summer break",
                        when(2026, 6, 20, 16, 0), extra={"Keywords": "choir, schedule"}))
    fwd = MIMEMessage(finish(text("Original invitation text.\n"), "jorg", ["anna"], "Invitation to sing at the fair",
                             when(2026, 5, 1, 9, 0)))
    inbox.append(finish(mixed(5, text("Forwarding this, see the attached mail.\n"), fwd),
                        "anna", ["list"], "Fwd: Invitation to sing at the fair", when(2026, 5, 2, 10, 0)))

    projects.append(finish(mixed(6, text("Rota again, unchanged.\n"), attach(ROTA_PDF, "application", "pdf", "rota.pdf")),
                           "mei", ["anna"], "Rota (resent)", when(2026, 3, 1, 9, 0)))
    projects.append(finish(inline_picture(7, '<p>The new logo:</p><img src="cid:logo1"><p>Comments?</p>',
                                          png(32, 32, (200, 40, 40)), "logo1", "logo.png"),
                           "jorg", ["list"], "New choir logo", when(2025, 11, 18, 14, 20)))
    projects.append(finish(text("Website draft is online.\n"), "sam", ["list"], "Website draft",
                           when(2025, 12, 1, 19, 10)))
    projects.append(finish(text("日本語の歌詞を送ります。\n"), "mei", ["list"], "歌詞 (lyrics)", when(2025, 12, 9, 7, 0)))

    archive.append(finish(text("Welcome to the choir mailing list.\n"), "list", ["anna"], "Welcome",
                          when(2022, 3, 1, 10, 0)))
    archive.append(finish(mixed(8, text("Old rota, first version.\n"), attach(ROTA_PDF, "application", "pdf", "rota.pdf")),
                          "mei", ["list"], "Rota draft", when(2022, 9, 14, 17, 30)))
    archive.append(finish(text("Christmas carols list: Silent Night, O Holy Night, Stille Nacht.\n"), "jorg", ["list"],
                          "Carols", when(2022, 12, 1, 8, 45)))
    a2023.append(finish(text("Rehearsal cancelled due to snow.\n"), "anna", ["list"], "Cancelled: Tuesday",
                        when(2023, 1, 24, 15, 0)))
    a2023.append(finish(mixed(9, text("Budget sheet.\n"), notes("2023 budget: 1 200 EUR.\n")),
                        "sam", ["list"], "Budget 2023", when(2023, 2, 10, 12, 0)))
    a2023.append(finish(text("Voilà les partitions révisées.\n"), "jorg", ["list"], "Partitions révisées",
                        when(2023, 5, 5, 9, 30)))
    a2023.append(finish(text("Summer party at the harbour.\n"), "mei", ["list"], "Summer party",
                        when(2023, 7, 8, 18, 0)))
    a2023.append(finish(mixed(10, text("Photo of the party.\n"), attach(png(16, 16, (20, 160, 60)), "image", "png", "party.png")),
                        "sam", ["list"], "Party photo", when(2023, 7, 9, 9, 0)))
    a2024.append(finish(text("New year, new songs.\n"), "anna", ["list"], "New songs", when(2024, 1, 8, 19, 0)))
    a2024.append(finish(mixed(11, text("Budget sheet again.\n"), notes("2024 budget: 1 350 EUR.\n")),
                        "sam", ["list"], "Budget 2024", when(2024, 2, 11, 12, 0)))
    a2024.append(finish(text("<p>Please <i>RSVP</i> for the tour.</p>", "html"), "list", ["list"], "Tour RSVP",
                        when(2024, 4, 20, 10, 0)))

    saved.append(finish(text("Kept for reference: hall contract runs until 2027.\n"), "anna", ["sam"], "Hall contract",
                        when(2025, 2, 2, 11, 0)))
    saved.append(finish(mixed(12, text("Insurance papers.\n"), attach(pdf("Insurance 2025"), "application", "pdf", "insurance.pdf")),
                        "sam", ["anna"], "Insurance", when(2025, 3, 3, 16, 20)))
    saved.append(finish(text("Ørsted hall is booked for the autumn concert.\n"), "mei", ["list"], "Ørsted hall booked",
                        when(2025, 9, 9, 9, 9)))
    return inbox, projects, archive, a2023, a2024, saved


def as_bytes(msg):
    data = msg.as_bytes()
    return data if data.endswith(b"\n") else data + b"\n"


def write_mbox(path, msgs):
    with open(path, "wb") as f:
        for m in msgs:
            date = datetime.strptime(m["Date"], "%a, %d %b %Y %H:%M:%S %z").astimezone(timezone.utc)
            f.write(b"From " + PEOPLE["list"][1].encode() + b" " + date.strftime("%a %b %d %H:%M:%S %Y").encode() + b"\n")
            body = as_bytes(m)
            # Quote body lines that would read as message starts.
            lines = body.split(b"\n")
            lines = [b">" + l if l.lstrip(b">").startswith(b"From ") else l for l in lines]
            f.write(b"\n".join(lines) + b"\n")


def write_maildir(path, msgs, flags="S"):
    for sub in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(path, sub), exist_ok=True)
        keep = os.path.join(path, sub, ".keep")
        open(keep, "wb").close()
    for i, m in enumerate(msgs):
        stamp = int(datetime.strptime(m["Date"], "%a, %d %b %Y %H:%M:%S %z").timestamp())
        # "!" instead of ":" before the flags: the files must check out on Windows too.
        name = f"{stamp}.M{i}P1.sample!2,{flags}"
        with open(os.path.join(path, "cur", name), "wb") as f:
            f.write(as_bytes(m))


def main():
    inbox, projects, archive, a2023, a2024, saved = build()
    if os.path.isdir(OUT):
        shutil.rmtree(OUT)
    os.makedirs(os.path.join(OUT, "Inbox.sbd"))
    write_mbox(os.path.join(OUT, "Inbox"), inbox)
    write_mbox(os.path.join(OUT, "Inbox.sbd", "Projects"), projects)
    write_maildir(os.path.join(OUT, "Archive"), archive)
    write_maildir(os.path.join(OUT, "Archive", ".2023"), a2023)
    write_maildir(os.path.join(OUT, "Archive", ".2024"), a2024)
    os.makedirs(os.path.join(OUT, "Saved"))
    for i, m in enumerate(saved, 1):
        with open(os.path.join(OUT, "Saved", f"{i:02d}.eml"), "wb") as f:
            f.write(as_bytes(m))
    total = sum(map(len, (inbox, projects, archive, a2023, a2024, saved)))
    print(f"{total} mails written to {OUT}")


if __name__ == "__main__":
    main()
