#!/usr/bin/env python3
"""Writes shared-inbox.mbox beside this script: the mails of the comparison folder that the
fake automation server of the COM tests serves as "Personal Folders/Shared"
(tests/com/SharedInbox.h holds them as the server gives them).

Both exports of these mails, through the mailbox backend and through quillmark-export.exe
over COM, must give the pages in shared-pages/. The mailbox backend reads the times from the
headers and the "From " lines (UTC there, local time in the pages: the tests run in Central
European time), and the Size of a mail is its number of bytes in the file; SharedInbox.h
carries the values that follow from this file, and a test checks them property by property.

The output is fixed (no clock, no random boundaries): running the script again gives the
committed file byte for byte. After a change here, bring SharedInbox.h into line and
regenerate the golden pages (see SharedInboxTest.cpp).
"""
import base64
import os

# A 2 x 2 pixel PNG, the same bytes as in SharedInbox.h.
CHART_PNG = base64.b64decode(
    "iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAIAAAD91JpzAAAAE0lEQVR42mM4IScXsOA/AxADWQApTgXnUMRWEQAAAABJRU5ErkJggg==")
REPORT_TXT = b"figures\r\nQ1: 10\r\n"
REPORT_CORRECTED_TXT = b"figures, corrected\r\nQ1: 11\r\n"
NOTES_TXT = b"one\ntwo\n"


def b64(data):
    text = base64.b64encode(data).decode("ascii")
    return "\n".join(text[i:i + 76] for i in range(0, len(text), 76))


def attachment(boundary, name, content_type, data):
    return (f"--{boundary}\n"
            f"Content-Type: {content_type}; name=\"{name}\"\n"
            f"Content-Disposition: attachment; filename=\"{name}\"\n"
            f"Content-Transfer-Encoding: base64\n"
            f"\n"
            f"{b64(data)}\n")


CECILIA = "=?utf-8?q?Cecilia_=C3=85str=C3=B6m?="

MAILS = []

# 1: unread, a quoted-printable body with the euro sign, an en dash and letters outside
# Windows-1252, a text attachment with CR LF lines and a picture.
MAILS.append(
    "From bo@example.org Tue Mar  1 10:30:00 2005\n"
    "Received: from mx.example.org by archive.example.org; Tue, 01 Mar 2005 12:00:00 +0100\n"
    "From: Bo Berg <bo@example.org>\n"
    f"To: Ann Andersson <ann@example.org>, {CECILIA} <cecilia@example.org>\n"
    "Subject: Quarterly report & <figures>\n"
    "Date: Tue, 01 Mar 2005 11:58:12 +0100\n"
    "Message-ID: <shared-1@example.org>\n"
    "Status: O\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; boundary=\"=-shared-1\"\n"
    "\n"
    "--=-shared-1\n"
    "Content-Type: text/plain; charset=utf-8\n"
    "Content-Transfer-Encoding: quoted-printable\n"
    "\n"
    "Hello Ann,\n"
    "the figures are attached: Q1 < Q2 & Q3 > Q4.\n"
    "Price: 12 =E2=82=AC, margin =E2=80=93 3 %; see =C5=81=C3=B3d=C5=BA.\n"
    "\n"
    + attachment("=-shared-1", "report.txt", "text/plain", REPORT_TXT)
    + attachment("=-shared-1", "chart.png", "image/png", CHART_PNG)
    + "--=-shared-1--\n")

# 2: no mail any more: Thunderbird's "expunged" flag, a deleted message still in the file.
# The folder counts it as an item, and it offers no mail, like the appointment the fake
# server has in its place.
MAILS.append(
    "From ann@example.org Wed Mar  2 08:00:00 2005\n"
    "X-Mozilla-Status: 0009\n"
    "From: Ann Andersson <ann@example.org>\n"
    "To: Bo Berg <bo@example.org>\n"
    "Subject: Dentist\n"
    "Date: Wed, 02 Mar 2005 09:00:00 +0100\n"
    "Message-ID: <shared-2@example.org>\n"
    "\n"
    "Tuesday at nine.\n")

# 3: summer time, an encoded subject with an en dash and Chinese, an 8-bit UTF-8 body.
MAILS.append(
    "From cecilia@example.org Fri Jul 15 07:00:00 2005\n"
    "Received: from mx.example.org by archive.example.org; Fri, 15 Jul 2005 09:05:30 +0200\n"
    f"From: {CECILIA} <cecilia@example.org>\n"
    "To: Ann Andersson <ann@example.org>\n"
    "Subject: =?utf-8?b?" + base64.b64encode("Möte – 会议".encode()).decode() + "?=\n"
    "Date: Fri, 15 Jul 2005 09:04:00 +0200\n"
    "Message-ID: <shared-3@example.org>\n"
    "Status: RO\n"
    "MIME-Version: 1.0\n"
    "Content-Type: text/plain; charset=utf-8\n"
    "Content-Transfer-Encoding: 8bit\n"
    "\n"
    "Agenda:\n"
    "1. 会议 plan\n"
    "2. Fika <3\n")

# 4: the same subject in the same minute as 1 (its page takes the next name), an attachment
# of the same name with other content (saved under the next name) and the same picture
# (saved once).
MAILS.append(
    "From bo@example.org Tue Mar  1 10:45:00 2005\n"
    "Received: from mx.example.org by archive.example.org; Tue, 01 Mar 2005 12:00:40 +0100\n"
    "From: Bo Berg <bo@example.org>\n"
    "To: Ann Andersson <ann@example.org>\n"
    "Subject: Quarterly report & <figures>\n"
    "Date: Tue, 01 Mar 2005 12:00:31 +0100\n"
    "Message-ID: <shared-4@example.org>\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; boundary=\"=-shared-4\"\n"
    "\n"
    "--=-shared-4\n"
    "Content-Type: text/plain; charset=us-ascii\n"
    "\n"
    "Second try, with the corrected figures.\n"
    "\n"
    + attachment("=-shared-4", "report.txt", "text/plain", REPORT_CORRECTED_TXT)
    + attachment("=-shared-4", "chart.png", "image/png", CHART_PNG)
    + "--=-shared-4--\n")

# 5: the next year; a sender without a display name, a base64 body with CR LF lines, an em
# dash and a character beyond the first plane; the first report again (reused), a name
# that needs cleaning, and the picture again (a new year folder: saved there once more).
MAILS.append(
    "From dora@example.org Mon Jan  2 08:59:59 2006\n"
    "Received: from mx.example.org by archive.example.org; Mon, 02 Jan 2006 10:00:00 +0100\n"
    "From: dora@example.org\n"
    "To: Ann Andersson <ann@example.org>, Bo Berg <bo@example.org>\n"
    "Subject: Re: Happy new year\n"
    "Date: Mon, 02 Jan 2006 09:59:00 +0100\n"
    "Message-ID: <shared-5@example.org>\n"
    "X-Mozilla-Status: 0001\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; boundary=\"=-shared-5\"\n"
    "\n"
    "--=-shared-5\n"
    "Content-Type: text/plain; charset=utf-8\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    + b64("Happy new year & thanks!\r\n— Dora 🎉\r\n".encode()) + "\n"
    + attachment("=-shared-5", "report.txt", "text/plain", REPORT_TXT)
    + attachment("=-shared-5", "notes (draft).txt", "text/plain", NOTES_TXT)
    + attachment("=-shared-5", "chart.png", "image/png", CHART_PNG)
    + "--=-shared-5--\n")

# 6: no subject, a Latin-1 quoted-printable body, a zone far from ours, and a "From " line
# that is already the next day in local time.
MAILS.append(
    "From erik@example.org Tue Feb 28 23:30:00 2006\n"
    "Received: from mx.example.org by archive.example.org; Tue, 28 Feb 2006 17:59:00 -0500\n"
    "From: Erik Ek <erik@example.org>\n"
    "To: Ann Andersson <ann@example.org>\n"
    "Subject: \n"
    "Date: Tue, 28 Feb 2006 17:58:00 -0500\n"
    "Message-ID: <shared-6@example.org>\n"
    "Status: O\n"
    "MIME-Version: 1.0\n"
    "Content-Type: text/plain; charset=iso-8859-1\n"
    "Content-Transfer-Encoding: quoted-printable\n"
    "\n"
    "Hej!\n"
    "Vi ses p=E5 fredag.\n")


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "shared-inbox.mbox")
    data = "\n".join(MAILS).encode("utf-8")
    with open(out, "wb") as f:
        f.write(data)
    # The Size of each mail as the mailbox backend counts it: the message without its
    # "From " line and without the blank line that separates it from the next.
    for i, mail in enumerate(MAILS, 1):
        body = mail.encode("utf-8").split(b"\n", 1)[1]
        print(f"mail {i}: {len(body)} bytes")


if __name__ == "__main__":
    main()
