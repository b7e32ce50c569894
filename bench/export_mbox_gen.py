#!/usr/bin/env python3
"""Writes a reproducible mbox of N mails for the export benchmark: bodies of varied size,
about 12% with attachments (documents, some of them pictures), a few shared attachment
names with different content, dates spread over ten years."""
import base64
import random
import sys
import zlib


def main():
    if len(sys.argv) != 3:
        print("usage: export_mbox_gen.py COUNT OUT.mbox", file=sys.stderr)
        return 2
    count = int(sys.argv[1])
    rng = random.Random(20261208)
    words = ("offer invoice meeting report budget travel project review draft minutes plan order "
             "delivery contract holiday update question answer notes lunch status release").split()
    names = ["Anna Berg", "Bo Lind", "Carl Ek", "Dora Holm", "Erik Sand", "Frida Ask"]
    with open(sys.argv[2], "w", encoding="utf-8", newline="\n") as out:
        for i in range(count):
            year = 2000 + (i * 10) // count
            month = rng.randint(1, 12)
            day = rng.randint(1, 28)
            hh, mm, ss = rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59)
            sender = rng.choice(names)
            subject = " ".join(rng.choice(words) for _ in range(rng.randint(1, 7))).capitalize()
            if rng.random() < 0.2:
                subject = "Re: " + subject
            # Body sizes: mostly short, a long tail up to ~60 KB.
            size = min(int(rng.lognormvariate(6.5, 1.2)), 60000)
            lines, n = [], 0
            while n < size:
                line = " ".join(rng.choice(words) for _ in range(rng.randint(4, 14)))
                lines.append(line)
                n += len(line) + 1
            body = "\n".join(lines)
            date = "%s, %02d %s %d %02d:%02d:%02d +0000" % (
                ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"][rng.randint(0, 6)], day,
                ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"][month - 1],
                year, hh, mm, ss)
            out.write("From bench@example.org %s %s %2d %02d:%02d:%02d %d\n" % (
                "Mon", ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"][month - 1],
                day, hh, mm, ss, year))
            out.write("From: %s <%s@example.org>\n" % (sender, sender.split()[0].lower()))
            out.write("To: Archive <archive@example.org>\n")
            out.write("Subject: %s\n" % subject)
            out.write("Date: %s\n" % date)
            out.write("Message-ID: <bench-%d@example.org>\n" % i)
            out.write("MIME-Version: 1.0\n")
            atts = []
            if rng.random() < 0.12:
                for _ in range(rng.randint(1, 3)):
                    if rng.random() < 0.3:
                        atts.append(("photo%d.png" % rng.randint(1, 40), "image/png",
                                     rng.randint(2000, 80000)))
                    else:
                        kind = rng.choice([("report.pdf", "application/pdf"), ("data.xls", "application/vnd.ms-excel"),
                                           ("notes%d.txt" % rng.randint(1, 200), "text/plain")])
                        atts.append((kind[0], kind[1], rng.randint(500, 120000)))
            body = "\n".join(l if not l.startswith("From ") else ">" + l for l in body.split("\n"))
            if not atts:
                out.write("Content-Type: text/plain; charset=utf-8\n\n")
                out.write(body + "\n\n")
                continue
            boundary = "==bench-%d==" % i
            out.write('Content-Type: multipart/mixed; boundary="%s"\n\n' % boundary)
            out.write("--%s\nContent-Type: text/plain; charset=utf-8\n\n%s\n" % (boundary, body))
            for fname, ctype, asize in atts:
                # Content seeded by name and a small variant: the same name often carries the
                # same bytes (de-duplicated), sometimes other bytes (numbered).
                variant = rng.randint(0, 3)
                arng = random.Random(zlib.crc32(("%s/%d/%d" % (fname, variant, asize // 10000)).encode()))
                data = arng.randbytes(asize // 10000 * 10000 + 500)
                b64 = base64.encodebytes(data).decode("ascii")
                out.write("--%s\nContent-Type: %s; name=\"%s\"\nContent-Disposition: attachment; filename=\"%s\"\n"
                          "Content-Transfer-Encoding: base64\n\n%s\n" % (boundary, ctype, fname, fname, b64))
            out.write("--%s--\n\n" % boundary)
    return 0


if __name__ == "__main__":
    sys.exit(main())
