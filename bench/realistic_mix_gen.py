#!/usr/bin/env python3
"""Writes a reproducible mbox of a realistic mix of mail (default 20 000 mails):

- 55% plain UTF-8 text, 20% quoted-printable Latin-1 text, 25% HTML with a plain-text
  alternative (multipart/alternative);
- 10% with one to three attachments (documents, pictures), a few shared names;
- 15% of the headers in other scripts (Cyrillic, Greek, Chinese, Japanese, Arabic) as
  RFC 2047 encoded words, B and Q encodings;
- threads: a third of the mails answer an earlier one (Re:, In-Reply-To, References);
- a few multi-megabyte mails (about one in 4 000, 2-6 MB attachments);
- dates over eight years, mostly in order, with about 5% out of order (late deliveries,
  imports), as real folders are.

  realistic_mix_gen.py [COUNT] OUT.mbox
"""
import base64
import quopri
import random
import sys
import zlib
from email.header import Header

WORDS = ("offer invoice meeting report budget travel project review draft minutes plan order "
         "delivery contract holiday update question answer notes lunch status release the and "
         "for with this that from will have please thanks regards week next call").split()
LATIN1 = "café über straße naïve façade smörgåsbord jalapeño résumé Ærø Øresund".split()
SCRIPTS = [
    "Отчёт о продажах за квартал", "Встреча в понедельник", "Συνάντηση την Τρίτη",
    "Προσφορά για το έργο", "季度销售报告", "会议纪要与下一步计划", "会議の議事録について",
    "見積書の送付", "تقرير المبيعات الشهري", "اجتماع الفريق",
]
NAMES = ["Anna Berg", "Bo Lind", "Carl Ek", "Dora Holm", "Erik Sand", "Frida Ask", "Иван Петров",
         "Γιώργος Παπαδόπουλος", "王伟", "佐藤花子", "José Núñez", "Zoë Müller"]
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
DAYS = ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"]


def text(rng, size):
    lines, n = [], 0
    while n < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14)))
        lines.append(line)
        n += len(line) + 1
    return lines


def encoded(value, rng):
    """An RFC 2047 encoded word for text beyond ASCII: B or Q encoding, by chance."""
    if all(ord(c) < 128 for c in value):
        return value
    if rng.random() < 0.5:
        return Header(value, "utf-8").encode(maxlinelen=76)
    q = "".join(c if c.isascii() and c.isalnum() else "_" if c == " " else
                "".join("=%02X" % b for b in c.encode("utf-8")) for c in value)
    return "=?utf-8?q?%s?=" % q


def address(name, rng):
    local = "user%d" % (zlib.crc32(name.encode()) % 1000)
    return "%s <%s@example.org>" % (encoded(name, rng), local)


def main():
    args = sys.argv[1:]
    if len(args) not in (1, 2):
        print("usage: realistic_mix_gen.py [COUNT] OUT.mbox", file=sys.stderr)
        return 2
    count = int(args[0]) if len(args) == 2 else 20000
    rng = random.Random(20261209)
    earlier = []  # (message id, subject) of mails that may be answered
    with open(args[-1], "w", encoding="ascii", newline="\n") as out:
        for i in range(count):
            # Mostly in order over eight years; some mails late or early by weeks.
            t = 2016 * 365 + (i * 8 * 365) // count + (rng.randint(-60, 60) if rng.random() < 0.05 else 0)
            year, doy = divmod(t, 365)
            month = min(doy // 31, 11)
            day = min(doy - month * 31, 27) + 1
            hh, mm, ss = rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59)
            sender = rng.choice(NAMES)
            mid = "<mix-%d@example.org>" % i
            reply = bool(earlier) and rng.random() < 0.33
            if reply:
                parent_id, parent_subject = rng.choice(earlier[-200:])
                subject = parent_subject if parent_subject.startswith("Re: ") else "Re: " + parent_subject
            elif rng.random() < 0.15:
                subject = rng.choice(SCRIPTS)
            else:
                subject = " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 7))).capitalize()
            earlier.append((mid, subject))
            date = "%s, %02d %s %d %02d:%02d:%02d +0100" % (DAYS[rng.randint(0, 6)], day, MONTHS[month], year,
                                                              hh, mm, ss)
            out.write("From mix@example.org %s %s %2d %02d:%02d:%02d %d\n" % (DAYS[0], MONTHS[month], day, hh, mm,
                                                                            ss, year))
            out.write("From: %s\n" % address(sender, rng))
            out.write("To: %s\n" % address(rng.choice(NAMES), rng))
            if rng.random() < 0.2:
                out.write("Cc: %s, %s\n" % (address(rng.choice(NAMES), rng), address(rng.choice(NAMES), rng)))
            out.write("Subject: %s\n" % encoded(subject, rng))
            out.write("Date: %s\nMessage-ID: %s\n" % (date, mid))
            if reply:
                out.write("In-Reply-To: %s\nReferences: %s\n" % (parent_id, parent_id))
            out.write("MIME-Version: 1.0\n")

            size = min(int(rng.lognormvariate(6.8, 1.1)), 80000)
            lines = text(rng, size)
            kind = rng.random()
            parts = []
            if kind < 0.55:
                body = "\n".join(">" + l if l.startswith("From ") else l for l in lines)
                parts.append("Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n\n"
                             + body.encode("utf-8").decode("ascii", "replace") + "\n")
            elif kind < 0.75:
                latin = "\n".join(l + " " + rng.choice(LATIN1) for l in lines)
                qp = quopri.encodestring(latin.encode("latin-1")).decode("ascii")
                parts.append("Content-Type: text/plain; charset=iso-8859-1\n"
                             "Content-Transfer-Encoding: quoted-printable\n\n" + qp + "\n")
            else:
                plain = "\n".join(lines)
                html = "<html><body>" + "".join("<p>%s</p>\n" % l for l in lines) + "</body></html>"
                qp = quopri.encodestring(html.encode()).decode("ascii")
                b = "==alt-%d==" % i
                parts.append('Content-Type: multipart/alternative; boundary="%s"\n\n'
                             "--%s\nContent-Type: text/plain; charset=utf-8\n\n%s\n"
                             "--%s\nContent-Type: text/html; charset=utf-8\n"
                             "Content-Transfer-Encoding: quoted-printable\n\n%s\n--%s--\n"
                             % (b, b, plain, b, qp, b))
            big = rng.random() < 1 / 4000 or i == count // 2
            if big or rng.random() < 0.10:
                for k in range(1 if big else rng.randint(1, 3)):
                    if big:
                        name, ctype, asize = "scan-%d.pdf" % i, "application/pdf", rng.randint(2, 6) << 20
                    elif rng.random() < 0.3:
                        name, ctype, asize = "image%03d.png" % rng.randint(1, 5), "image/png", rng.randint(2000, 30000)
                    else:
                        name, ctype = rng.choice([("report.pdf", "application/pdf"),
                                                  ("invoice.pdf", "application/pdf"),
                                                  ("data.xlsx", "application/vnd.ms-excel"),
                                                  ("notes-%d.txt" % rng.randint(1, 300), "text/plain")])
                        asize = rng.randint(500, 40000)
                    # Same name, sometimes the same bytes (one file), mostly other bytes (numbered).
                    seed = zlib.crc32(("%s/%d" % (name, rng.randint(0, 30))).encode())
                    data = random.Random(seed).randbytes(asize)
                    parts.append('Content-Type: %s; name="%s"\nContent-Disposition: attachment; filename="%s"\n'
                                 "Content-Transfer-Encoding: base64\n\n%s" % (ctype, name, name,
                                                                             base64.encodebytes(data).decode()))
            if len(parts) == 1:
                out.write(parts[0] + "\n")
                continue
            b = "==mix-%d==" % i
            out.write('Content-Type: multipart/mixed; boundary="%s"\n\n' % b)
            for p in parts:
                out.write("--%s\n%s\n" % (b, p))
            out.write("--%s--\n\n" % b)
    return 0


if __name__ == "__main__":
    sys.exit(main())
