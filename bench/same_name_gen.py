#!/usr/bin/env python3
"""Writes an mbox of N mails that all collide on a name, for the scaling benchmark:

  attachment  every mail carries an attachment called "report.pdf" with content of its own
              (1 000 +- 50 bytes, so that many files share a size)
  subject     every mail has the same subject and the same minute, so every page has the
              same name before its number

  same_name_gen.py attachment|subject COUNT OUT.mbox
"""
import base64
import random
import sys


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("attachment", "subject"):
        print(__doc__.strip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    kind, count, path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    rng = random.Random(20261209)
    words = "offer invoice meeting report budget travel project review draft minutes plan order".split()
    with open(path, "w", encoding="ascii", newline="\n") as out:
        for i in range(count):
            if kind == "subject":
                day, hh, mm, ss = 9, 10, 30, i % 60
                subject = "Weekly status report"
            else:
                # Spread over a year, so pages spread over folders as in a real store.
                day, hh, mm, ss = 1 + (i * 28) // count, rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59)
                subject = " ".join(rng.choice(words) for _ in range(rng.randint(2, 6))).capitalize()
            out.write("From bench@example.org Mon Mar %2d %02d:%02d:%02d 2024\n" % (day, hh, mm, ss))
            out.write("From: Anna Berg <anna@example.org>\nTo: Archive <archive@example.org>\n")
            out.write("Subject: %s\n" % subject)
            out.write("Date: Mon, %02d Mar 2024 %02d:%02d:%02d +0000\n" % (day, hh, mm, ss))
            out.write("Message-ID: <same-%s-%d@example.org>\nMIME-Version: 1.0\n" % (kind, i))
            body = "\n".join(" ".join(rng.choice(words) for _ in range(10)) for _ in range(rng.randint(3, 12)))
            if kind == "subject":
                out.write("Content-Type: text/plain; charset=us-ascii\n\n%s\n\n" % body)
                continue
            boundary = "==same-%d==" % i
            data = ("report %d\n" % i).encode() + rng.randbytes(rng.randint(900, 1000))
            out.write('Content-Type: multipart/mixed; boundary="%s"\n\n' % boundary)
            out.write("--%s\nContent-Type: text/plain; charset=us-ascii\n\n%s\n" % (boundary, body))
            out.write('--%s\nContent-Type: application/pdf; name="report.pdf"\n'
                      'Content-Disposition: attachment; filename="report.pdf"\n'
                      "Content-Transfer-Encoding: base64\n\n%s\n" % (boundary, base64.encodebytes(data).decode()))
            out.write("--%s--\n\n" % boundary)
    return 0


if __name__ == "__main__":
    sys.exit(main())
