#!/usr/bin/env python3
"""Writes a reproducible mbox of N mails in conversations, for the archive's checks and
benchmarks: about 40% of the mails reply to an earlier one (References and In-Reply-To as
mail readers write them; some replies carry In-Reply-To only, some name a parent that is not
in the mailbox), bodies from a vocabulary of a few thousand words, 200 senders, dates over
ten years. The word "qxjfindme" stands in exactly three mails (for the search check).

usage: archive_mbox_gen.py COUNT OUT.mbox"""
import random
import sys

MARKER = "qxjfindme"


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    count = int(sys.argv[1])
    rng = random.Random(20261209)
    syllables = ["ka", "lo", "mi", "ne", "ru", "sa", "ti", "vo", "be", "da", "fi", "go", "hu", "pe", "ro", "su",
                 "ta", "ve", "ba", "de", "el", "an", "or", "is", "un", "et"]
    vocabulary = sorted({"".join(rng.choice(syllables) for _ in range(rng.randint(2, 4))) for _ in range(6000)})
    rng.shuffle(vocabulary)
    # Word frequencies as in text: a few words very often, most rarely (Zipf).
    weights = [1.0 / (k + 1) for k in range(len(vocabulary))]
    cumulative, total = [], 0.0
    for w in weights:
        total += w
        cumulative.append(total)

    def words(n):
        return rng.choices(vocabulary, cum_weights=cumulative, k=n)

    first = ["Anna", "Bo", "Carl", "Dora", "Erik", "Frida", "Gustav", "Hanna", "Ivar", "Jenny", "Karl", "Lena",
             "Maja", "Nils", "Olle", "Petra", "Rut", "Sven", "Tove", "Ulf"]
    last = ["Berg", "Lind", "Ek", "Holm", "Sand", "Ask", "Dahl", "Strand", "Nord", "Vik"]
    senders = [(f + " " + l, (f + "." + l).lower() + "@example.org") for f in first for l in last]
    marker_at = {count // 5, count // 2, (count * 4) // 5}

    mails = []  # (message-id, references list, subject root)
    months = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
    days = ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"]
    start = 946684800  # 2000-01-01
    span = 10 * 365 * 86400
    with open(sys.argv[2], "w", encoding="utf-8", newline="\n") as out:
        for i in range(count):
            # Mails in time order, a little apart: replies come after what they answer.
            t = start + (span * i) // count + rng.randint(0, max(1, span // count // 2))
            mid = "<arc-%d@example.org>" % i
            refs, reply_to = [], None
            if mails and rng.random() < 0.4:
                parent = mails[max(0, len(mails) - 1 - int(rng.expovariate(1 / 30)))]
                refs = parent[1] + [parent[0]]
                subject = "Re: " + parent[2]
                root = parent[2]
                reply_to = parent[0]
            else:
                root = " ".join(words(rng.randint(2, 6))).capitalize()
                subject = root
                if rng.random() < 0.01:
                    # A reply to a mail this mailbox does not hold.
                    refs = ["<gone-%d@example.org>" % i]
                    reply_to = refs[0]
                    subject = "Re: " + root
            mails.append((mid, refs, root))
            name, address = senders[rng.randrange(len(senders))]
            size = min(int(rng.lognormvariate(6.3, 1.0)), 30000)
            lines, n = [], 0
            while n < size:
                line = " ".join(words(rng.randint(5, 14)))
                lines.append(line)
                n += len(line) + 1
            if i in marker_at:
                # Near the start: the archive keeps the first 2000 characters of a body for search.
                lines.insert(1, "the code word is %s today" % MARKER)
            g = __import__("time").gmtime(t)
            out.write("From %s %s %s %2d %02d:%02d:%02d %d\n" % (
                address, days[g.tm_wday], months[g.tm_mon - 1], g.tm_mday, g.tm_hour, g.tm_min, g.tm_sec, g.tm_year))
            out.write("From: %s <%s>\n" % (name, address))
            out.write("To: Archive <archive@example.org>\n")
            out.write("Subject: %s\n" % subject)
            out.write("Date: %s, %02d %s %d %02d:%02d:%02d +0000\n" % (
                days[g.tm_wday], g.tm_mday, months[g.tm_mon - 1], g.tm_year, g.tm_hour, g.tm_min, g.tm_sec))
            out.write("Message-ID: %s\n" % mid)
            if reply_to:
                out.write("In-Reply-To: %s\n" % reply_to)
            # A few mail readers write In-Reply-To only.
            if refs and rng.random() < 0.9:
                out.write("References: %s\n" % " ".join(refs[-20:]))
            out.write("MIME-Version: 1.0\nContent-Type: text/plain; charset=utf-8\n\n")
            for line in lines:
                out.write((">" + line if line.startswith("From ") else line) + "\n")
            out.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
