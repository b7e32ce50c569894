// Mail as it arrives in the wild, each class of fault in a small mail of its own under
// tests/data/mail, read the way mail readers read it.
#include "outlook/mailbox/HeaderRepair.h"
#include "outlook/mailbox/HeaderText.h"
#include "outlook/mailbox/MailDate.h"
#include "outlook/mailbox/MimeMessage.h"

#include "MailboxTestSupport.h"
#include "SrcLib/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace quillmark;
using namespace quillmark::outlook;
using namespace quillmark::outlook::mailbox;
using quillmark::testing::TempDir;
using quillmark::testing::Utf8;

namespace {

struct Mail {
    std::shared_ptr<WarningSink> sink = std::make_shared<WarningSink>();
    std::vector<std::string> warnings;
    std::shared_ptr<MailItem> mail;

    explicit Mail(std::string raw) {
        sink->SetHandler([this](const std::string& m) { warnings.push_back(m); });
        ItemMeta meta;
        meta.Where = "Inbox, mail 7";
        mail = ParseMailItem(std::move(raw), std::move(meta), sink);
    }
    static Mail File(const std::string& name) {
        return Mail(platform::ReadWholeFile(std::string(QUILLMARK_TEST_DATA) + "/mail/" + name));
    }
    std::string Text(DispId id) const { return Utf8(mail->GetText(id)); }
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        auto atts = mail->Attachments();
        for (int i = 1; i <= atts->Count(); ++i) out.push_back(Utf8(atts->Item(i)->FileName()));
        return out;
    }
    std::string Bytes(int index) const { return std::string(*mail->Attachments()->Item(index)->Content()); }
    std::string AllWarnings() const {
        std::string all;
        for (const auto& w : warnings) all += w + "\n";
        return all;
    }
};

double Utc(int y, int m, int d, int h, int n, int s) { return *TryEncodeDateTime(y, m, d, h, n, s); }
double Local(int y, int m, int d, int h, int n, int s) { return platform::UtcToLocal(Utc(y, m, d, h, n, s)); }

TEST(RealWorldMail, SenderFallsBackButIsNeverEmpty) {
    EXPECT_EQ(Mail::File("sender-bare-address.eml").Text(dispid::SenderName), "John Smith");
    struct Case {
        const char* headers;
        const char* sender;
    };
    const Case cases[] = {
        {"From: Mailer Daemon <>", "Mailer Daemon"},
        {"From: <>", "<>"},
        {"From: \"john smith\"@example.com", "\"john smith\"@example.com"},
        {"From: \"Smith, John\" <john@example.com>", "Smith, John"},
        {"From: Team: Ann <ann@x.org>, bob@x.org;", "Ann; bob@x.org"},
        {"From: Undisclosed senders:;", "Undisclosed senders"},
        {"Sender: Secretary <sec@example.com>", "Secretary"},
        {"From: <>\nSender: Secretary <sec@example.com>", "Secretary"},
        {"From: john@example.com (John Smith)", "John Smith"},
        {"From: =?utf-8?q?J=C3=B6rg?= joerg@example.com", "Jörg"},
        {"From: develop!nextmime@ebony@sblab.example.com", "develop!nextmime@ebony@sblab.example.com"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Mail(std::string(c.headers) + "\nSubject: s\n\nbody\n").Text(dispid::SenderName), c.sender) << c.headers;
}

TEST(RealWorldMail, DatesAreNeverSilentlyShifted) {
    Mail m = Mail::File("date-zone-names.eml");
    EXPECT_NEAR(m.mail->GetDate(dispid::SentOn), Local(2003, 7, 1, 16, 52, 37), 1e-6);
    EXPECT_NEAR(m.mail->GetDate(dispid::ReceivedTime), Local(2003, 7, 2, 0, 1, 0), 1e-6);
    EXPECT_TRUE(m.warnings.empty()) << m.AllWarnings();

    Mail garbage = Mail::File("date-garbage.eml");
    EXPECT_EQ(garbage.mail->GetDate(dispid::SentOn), OutlookNoDate);
    EXPECT_NE(garbage.AllWarnings().find("Inbox, mail 7: the Date header is no date"), std::string::npos);
}

TEST(RealWorldMail, DateForms) {
    struct Case {
        const char* text;
        double utc;        // 0: no date
        bool zoneKnown;
    };
    const Case cases[] = {
        {"Tue, 1 Jul 2003 10:52:37 +0200", Utc(2003, 7, 1, 8, 52, 37), true},
        {"Tue, 1 Jul 2003 10:52:37 cst", Utc(2003, 7, 1, 16, 52, 37), true},
        {"Tue, 1 Jul 2003 10:52:37 Est", Utc(2003, 7, 1, 15, 52, 37), true},
        {"Tue, 1 Jul 2003 10:52:37 PDT", Utc(2003, 7, 1, 17, 52, 37), true},
        {"Tue, 1 Jul 2003 10:52:37 GMT", Utc(2003, 7, 1, 10, 52, 37), true},
        {"Tue, 1 Jul 2003 10:52:37 z", Utc(2003, 7, 1, 10, 52, 37), true},
        {"1 Jul 2003 00:01+0000", Utc(2003, 7, 1, 0, 1, 0), true},
        {"1 Jul 2003 23:30-0130", Utc(2003, 7, 2, 1, 0, 0), true},
        {"Tue, 1 Jul 03 10:52:37 +0000", Utc(2003, 7, 1, 10, 52, 37), true},
        {"Thu, 1 Jul 99 10:52:37 +0000", Utc(1999, 7, 1, 10, 52, 37), true},
        {"Thu, 1 Jul 103 10:52:37 +0000", Utc(2003, 7, 1, 10, 52, 37), true},
        {"Tue, 1 Jul 2003 10:52:37 +0100 (CET)", Utc(2003, 7, 1, 9, 52, 37), true},
        {"Tue (a comment), 1 Jul 2003 10:52:37 CEST", Utc(2003, 7, 1, 8, 52, 37), true},
        {"Tuesday, 1 July 2003 10:52:37 -0000", Utc(2003, 7, 1, 10, 52, 37), true},
        {"Tue Jul  1 10:52:37 2003", Utc(2003, 7, 1, 10, 52, 37), false},
        {"Tue, 1 Jul 2003 10:52:37 A", Utc(2003, 7, 1, 10, 52, 37), false},
        {"Tue, 1 Jul 2003 10:52:37 XYZT", Utc(2003, 7, 1, 10, 52, 37), false},
        {"1 Jul 2003 10:52:60 +0000", Utc(2003, 7, 1, 10, 52, 59), true},
        {"1 Jul 2003 10:52 PM +0000", Utc(2003, 7, 1, 22, 52, 0), true},
        {"garbage", 0, false},
        {"", 0, false},
        {"31 Feb 2003 10:00:00 +0000", 0, false},
        {"1 Jul 2003 25:00:00 +0000", 0, false},
        {"1 Foo 2003 10:00:00 +0000", 0, false},
        {"2003-07-01 10:00:00", 0, false},
        {"1 Jul 2003 10:00:00 +0000 trailing words 12", 0, false},
    };
    for (const auto& c : cases) {
        const auto d = ParseMailDate(c.text);
        if (c.utc == 0) {
            EXPECT_FALSE(d.has_value()) << c.text;
            continue;
        }
        ASSERT_TRUE(d.has_value()) << c.text;
        EXPECT_NEAR(d->Utc, c.utc, 1e-7) << c.text;
        EXPECT_EQ(d->ZoneKnown, c.zoneKnown) << c.text;
    }
}

TEST(RealWorldMail, ContentTypeWithoutSubtypeShowsTheBody) {
    Mail m = Mail::File("content-type-no-subtype.eml");
    EXPECT_EQ(m.Text(dispid::Body), "Grüße, this body must be shown as text.\r\n");
    EXPECT_TRUE(m.Names().empty());
    const char* const types[] = {"text", "foo", ";charset=utf-8", "text/", "x-unknown/thing", "multipart/mixed"};
    for (const char* type : types) {
        Mail v(std::string("From: a@x\nContent-Type: ") + type + "\n\nvisible text\n");
        EXPECT_EQ(v.Text(dispid::Body), "visible text\r\n") << type;
        EXPECT_TRUE(v.Names().empty()) << type;
    }
}

TEST(RealWorldMail, EncodedWordsAreDecodedWhole) {
    Mail m = Mail::File("encoded-words.eml");
    EXPECT_EQ(m.Text(dispid::Subject), "Привет, мирcafé😀");
    EXPECT_EQ(m.Text(dispid::SenderName), "Jörg Müller");
    EXPECT_EQ(m.Text(dispid::Categories), "café, naïve");
    const std::pair<const char*, const char*> cases[] = {
        {"=?utf-8?q?caf=C3?= =?utf-8?q?=A9_au_lait?=", "café au lait"},
        {"=?iso-8859-1?q?caf=E9 au lait?=", "café au lait"},
        {"=?utf-8?q?broken", "=?utf-8?q?broken"},
        {"a =?utf-8?q?b?=  c", "a b  c"},
        {"=?utf-8?q?a?=\r\n =?iso-8859-1?q?=E9?=", "aé"},
        {"=?UTF-8*en?Q?lang?=", "lang"},
        {"=?gb2312?b?xOO6ww==?=", "你好"},
        {"=?utf-8?b?4pyI?= =?utf-8?b?77iP?=", "✈️"},
        {"raw caf\xc3\xa9", "raw café"},
        {"raw caf\xe9", "raw café"},
        {"=?utf-8?q?=FF?=", "ÿ"}, // not UTF-8 after all: read as Windows-1252
    };
    for (const auto& [raw, text] : cases) EXPECT_EQ(DecodeHeaderText(raw), text) << raw;
}

TEST(RealWorldMail, RepeatedHeadersTheFirstCounts) {
    Mail m = Mail::File("repeated-headers.eml");
    EXPECT_EQ(m.Text(dispid::Subject), "The first subject counts");
    EXPECT_EQ(m.Text(dispid::Body), "The real body.");
    EXPECT_TRUE(m.Names().empty());
}

TEST(RealWorldMail, StructureOfOddMail) {
    Mail noBlank = Mail::File("no-blank-line.eml");
    EXPECT_EQ(noBlank.Text(dispid::Subject), "No blank line before the body");
    EXPECT_EQ(noBlank.Text(dispid::Body), "This line is the body, not a header.\r\nSo is this one.\r\n");

    Mail bounce = Mail::File("bounce-report.eml");
    EXPECT_EQ(bounce.Text(dispid::Body).substr(0, 48), "This is the mail system at host mx.example.org.\r");
    EXPECT_EQ(bounce.Names(), (std::vector<std::string>{"attachment1.txt", "attachment2.txt"}));
    EXPECT_NE(bounce.Bytes(1).find("Status: 5.1.1"), std::string::npos);

    Mail partial = Mail::File("partial.eml");
    EXPECT_EQ(partial.Names(), std::vector<std::string>{"Big report (part 2 of 3).eml"});
    EXPECT_EQ(partial.Bytes(1), "second third of the report text\n");

    // An alternative whose boundary never comes is empty; the text after it is the body.
    Mail emptyAlt("From: a@x\nContent-Type: multipart/mixed; boundary=m\n\n--m\n"
                  "Content-Type: multipart/alternative; boundary=never\n\n\n--m\nContent-Type: text/plain\n\n"
                  "the text\n--m--\n");
    EXPECT_EQ(emptyAlt.Text(dispid::Body), "the text");
    EXPECT_TRUE(emptyAlt.Names().empty());

    Mail forwarded = Mail::File("forwarded.eml");
    EXPECT_EQ(forwarded.Text(dispid::Body), "See below.");
    EXPECT_EQ(forwarded.Names(), std::vector<std::string>{"Lunch on Friday _ café.eml"});
    EXPECT_NE(forwarded.Bytes(1).find("Shall we meet at noon?"), std::string::npos);
}

TEST(RealWorldMail, AttachedMailKeepsItsGivenNameAndUnpaddedBase64ItsBytes) {
    Mail m = Mail::File("attached-message-named.eml");
    ASSERT_EQ(m.Names(), (std::vector<std::string>{"attachment1.bin", "attachment2.bin", "old-mail.msg"}));
    EXPECT_EQ(m.Bytes(1), "Hi"); // "SGk" lacks its "=": its two bytes are there all the same
    EXPECT_EQ(m.Bytes(2), "Ok");
    EXPECT_NE(m.Bytes(3).find("A mail without a subject."), std::string::npos);
}

TEST(RealWorldMail, AttachmentsOnlyWhereThereAreFiles) {
    Mail m = Mail::File("attachments.eml");
    EXPECT_EQ(m.Text(dispid::Body), "The body.");
    // No empty text part, no HTML twin of the body, no signature; names whole.
    ASSERT_EQ(m.Names(), (std::vector<std::string>{"Ärger und more words.pdf", "my picture of the day.png"}));
    EXPECT_EQ(m.Bytes(1), "%PDF-1.4\n%\xC3\xA4\xC3\xBC\xC3\xB6\xC3\x9F\n");
    EXPECT_EQ(m.Bytes(2).substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    TempDir dir;
    const std::string path = dir.Ansi("saved.png");
    m.mail->Attachments()->Item(2)->SaveAsFile(path);
    EXPECT_EQ(platform::ReadWholeFile(path), m.Bytes(2));
}

#ifdef QUILLMARK_HAVE_YTNEF
TEST(RealWorldMail, WinmailDatIsOpenedAndKept) {
    Mail m = Mail::File("winmail.eml");
    ASSERT_EQ(m.Names(), (std::vector<std::string>{"winmail.dat", "notes.txt", "budget 2024.csv"}));
    EXPECT_EQ(m.Bytes(2), "Notes from the meeting.\r\n");
    EXPECT_EQ(m.Bytes(3), "item;amount\r\nrent;1200\r\n");
    EXPECT_EQ(m.Bytes(1).substr(0, 4), std::string("\x78\x9f\x3e\x22", 4));
    // A damaged one is still kept, and nothing is made up from it.
    Mail broken("From: a@x\nContent-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nt\n"
                "--b\nContent-Type: application/ms-tnef\nContent-Transfer-Encoding: base64\n\neJ8+IgEC/////w==\n--b--\n");
    EXPECT_EQ(broken.Names(), std::vector<std::string>{"attachment1.dat"});
}
#endif

TEST(RealWorldMail, MessageIdsAreGivenAsWritten) {
    Mail m = Mail::File("message-ids.eml");
    EXPECT_EQ(m.Text(dispid::InternetMessageID), "<reply-3@example.com>");
    EXPECT_EQ(m.Text(dispid::InReplyToID), "<reply-2@example.com>");
    EXPECT_EQ(m.Text(dispid::InternetReferences), "<start-1@example.com>\t<reply-2@example.com>");
    EXPECT_EQ(Mail("From: a@x\n\nno ids\n").Text(dispid::InternetMessageID), "");
}

TEST(RealWorldMail, AHugeHeaderIsCutAndNamed) {
    std::string folded;
    for (int i = 0; i < 50000; ++i) folded += " " + std::string(70, 'x') + "\n"; // about 3.5 MB
    Mail m("From: a@x\nSubject: big\nX-Huge: start\n" + folded + "Content-Type: text/plain\n\nthe body\n");
    EXPECT_EQ(m.Text(dispid::Body), "the body\r\n");
    EXPECT_EQ(m.Text(dispid::Subject), "big");
    EXPECT_NE(m.AllWarnings().find("Inbox, mail 7: header \"X-Huge\" longer than 1 MiB, cut there"), std::string::npos)
        << m.AllWarnings();

    Mail subject("From: a@x\nSubject: " + std::string(3u << 20, 's') + "\n\nbody\n");
    EXPECT_EQ(subject.mail->GetText(dispid::Subject).size(), MaxHeaderBytes - std::string("Subject:").size() - 1);
    EXPECT_EQ(subject.Text(dispid::Body), "body\r\n");
}

TEST(HeaderRepair, LeavesGoodMailAloneAndMendsOnlyHeaderBlocks) {
    struct Case {
        const char* name;
        std::string in;
        std::string out; // "" when unchanged
    };
    const Case cases[] = {
        {"good mail", "From: a@x\nSubject: s\n\nbody\nContent-Type: text\nNot: a header\n", ""},
        {"repeated in a part",
         "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\nContent-Type: image/png\n\nx\n--b--\n",
         "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nx\n--b--\n"},
        {"missing blank line in a part, CR LF",
         "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\nhello\r\n--b--\r\n",
         "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nhello\r\n--b--\r\n"},
        {"body lines that look like headers stay",
         "Content-Type: multipart/mixed; boundary=b\n\n--b\n\nContent-Type: text\n--b--\n", ""},
        {"attached message headers",
         "Content-Type: message/rfc822\n\nSubject: inner\nContent-Type: text\n\nx\n",
         "Content-Type: message/rfc822\n\nSubject: inner\nContent-Type: text/plain\n\nx\n"},
        {"mbox envelope line", "From someone Mon Jan  1 00:00:00 2024\nSubject: s\n\nbody\n", ""},
        {"boundary in RFC 2231 form",
         "Content-Type: multipart/mixed; boundary*=us-ascii''a%2Db\n\n--a-b\nContent-Type: text\n\nx\n--a-b--\n",
         "Content-Type: multipart/mixed; boundary*=us-ascii''a%2Db\n\n--a-b\nContent-Type: text/plain\n\nx\n--a-b--\n"},
        {"boundary in continued RFC 2231 form",
         "Content-Type: multipart/mixed; boundary*0=a; boundary*1=b\n\n--ab\nContent-Type: text\n\nx\n--ab--\n",
         "Content-Type: multipart/mixed; boundary*0=a; boundary*1=b\n\n--ab\nContent-Type: text/plain\n\nx\n--ab--\n"},
        {"dashes within lines and lone dashes are no delimiter",
         "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text\n\nx--b -- y\n-\n-b\n--b--",
         "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nx--b -- y\n-\n-b\n--b--"},
        {"boundary that never comes",
         "Content-Type: multipart/mixed; boundary=zz\n\nplain words\n",
         "Content-Type: text/plain; boundary=zz\n\nplain words\n"},
    };
    for (const auto& c : cases) {
        std::string raw = c.in;
        std::vector<std::string> notes;
        const bool changed = RepairMessage(raw, notes);
        EXPECT_EQ(changed, !c.out.empty()) << c.name;
        EXPECT_EQ(raw, c.out.empty() ? c.in : c.out) << c.name;
    }
}

} // namespace
