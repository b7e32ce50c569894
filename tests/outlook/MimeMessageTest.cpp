// Property mapping and attachments of the mailbox backend on crafted messages.
#include "outlook/mailbox/MimeMessage.h"

#include "MailboxTestSupport.h"
#include "SrcLib/DateTime.h"

#include <gtest/gtest.h>

using namespace quillmark;
using namespace quillmark::outlook;
using namespace quillmark::outlook::mailbox;
using quillmark::testing::TempDir;
using quillmark::testing::Utf8;

namespace {

struct Parsed {
    std::shared_ptr<WarningSink> sink = std::make_shared<WarningSink>();
    std::vector<std::string> warnings;
    std::shared_ptr<MailItem> mail;

    explicit Parsed(std::string raw, ItemMeta meta = {}) {
        sink->SetHandler([this](const std::string& m) { warnings.push_back(m); });
        meta.Where = "Inbox, mail 1";
        mail = ParseMailItem(std::move(raw), std::move(meta), sink);
    }
    std::string Text(DispId id) const { return Utf8(mail->GetText(id)); }
    std::vector<std::string> AttachmentNames() const {
        std::vector<std::string> out;
        auto atts = mail->Attachments();
        for (int i = 1; i <= atts->Count(); ++i) out.push_back(Utf8(atts->Item(i)->FileName()));
        return out;
    }
    std::string Saved(int index, const TempDir& dir) const {
        const std::string path = dir.Ansi("att.bin");
        mail->Attachments()->Item(index)->SaveAsFile(path);
        return platform::ReadWholeFile(path);
    }
};

double Local(int y, int m, int d, int h, int n, int s) { return platform::UtcToLocal(*TryEncodeDateTime(y, m, d, h, n, s)); }

TEST(MimeMessage, HeaderTextsAreDecoded) {
    struct Case {
        const char* header;
        DispId id;
        const char* expected;
    };
    const Case cases[] = {
        {"Subject: =?UTF-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?=", dispid::Subject, "Grüße aus Köln"},
        {"Subject: =?ISO-8859-1?Q?Caf=E9_cr=E8me?=", dispid::Subject, "Café crème"},
        {"Subject: plain and =?utf-8?q?=E2=82=AC?= mixed", dispid::Subject, "plain and € mixed"},
        {"Subject: Re: AW: Fwd: Plans", dispid::ConversationTopic, "Plans"},
        {"Subject: Re: Plans", dispid::Subject, "Re: Plans"},
        {"From: =?UTF-8?Q?J=C3=B6rg_M=C3=BCller?= <jm@example.org>", dispid::SenderName, "Jörg Müller"},
        {"From: bare@example.org", dispid::SenderName, "bare@example.org"},
        {"To: Anna <a@x.org>, b@x.org, \"Smith, Bob\" <bob@x.org>", dispid::To, "Anna; b@x.org; Smith, Bob"},
        {"Cc: Team: Ann <ann@x.org>, Ben <ben@x.org>;", dispid::CC, "Ann; Ben"},
        {"Bcc: Hidden <h@x.org>", dispid::BCC, "Hidden"},
        {"Reply-To: Lists <list@x.org>", dispid::ReplyRecipientNames, "Lists"},
        {"Keywords: work, =?UTF-8?Q?pers=C3=B6nlich?= ,urgent", dispid::Categories, "work, persönlich, urgent"},
        {"Subject: x", dispid::MessageClass, "IPM.Note"},
    };
    for (const auto& c : cases) {
        Parsed p(std::string(c.header) + "\r\nMessage-ID: <1@x>\r\n\r\nbody\r\n");
        EXPECT_EQ(p.Text(c.id), c.expected) << c.header;
    }
}

TEST(MimeMessage, BodyIsThePlainPartDecodedWithCrLf) {
    Parsed p("From: a@x\nContent-Type: text/plain; charset=iso-8859-1\nContent-Transfer-Encoding: quoted-printable\n\n"
             "Gr=FC=DFe\nzweite Zeile=\n fortgesetzt\n\nEnde\n");
    EXPECT_EQ(p.Text(dispid::Body), "Grüße\r\nzweite Zeile fortgesetzt\r\n\r\nEnde\r\n");
    EXPECT_TRUE(p.AttachmentNames().empty());
}

TEST(MimeMessage, AlternativeGivesPlainBodyAndNoHtmlAttachment) {
    Parsed p("From: a@x\nMIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=b\n\n"
             "--b\nContent-Type: text/plain; charset=utf-8\n\nplain text\n"
             "--b\nContent-Type: text/html; charset=utf-8\n\n<p>html text</p>\n--b--\n");
    EXPECT_EQ(p.Text(dispid::Body), "plain text");
    EXPECT_TRUE(p.AttachmentNames().empty());
}

TEST(MimeMessage, HtmlOnlyMailGivesStrippedText) {
    Parsed p("From: a@x\nContent-Type: text/html; charset=utf-8\n\n"
             "<html><head><style>p{color:red}</style></head><body><p>Hello&nbsp;<b>World</b> &amp; you</p>"
             "<script>alert(1)</script>line<br>two</body></html>\n");
    EXPECT_EQ(p.Text(dispid::Body), "Hello\xC2\xA0World & you\r\n\r\nline\r\ntwo");
}

TEST(MimeMessage, RelatedPicturesAndMixedFilesAreAttachments) {
    TempDir dir;
    Parsed p("From: a@x\nContent-Type: multipart/mixed; boundary=m\n\n"
             "--m\nContent-Type: multipart/alternative; boundary=a\n\n"
             "--a\nContent-Type: text/plain\n\ntext\n"
             "--a\nContent-Type: multipart/related; boundary=r\n\n"
             "--r\nContent-Type: text/html\n\n<img src=cid:p1>\n"
             "--r\nContent-Type: image/png\nContent-ID: <p1>\nContent-Transfer-Encoding: base64\n\niVBORw0KGgo=\n"
             "--r--\n--a--\n"
             "--m\nContent-Type: application/pdf\nContent-Disposition: attachment; filename*=UTF-8''Pr%C3%BCfung%20A.pdf\n"
             "Content-Transfer-Encoding: base64\n\nJVBERi0xLjQK\n"
             "--m\nContent-Type: application/octet-stream; name=\"=?UTF-8?B?w7xiZXIuYmlu?=\"\n\nraw\n"
             "--m\nContent-Type: application/octet-stream\nContent-Disposition: attachment; filename=\"../../etc/passwd\"\n\nx\n"
             "--m--\n");
    EXPECT_EQ(p.Text(dispid::Body), "text");
    EXPECT_EQ(p.AttachmentNames(),
              (std::vector<std::string>{"attachment1.png", "Prüfung A.pdf", "über.bin", "passwd"}));
    EXPECT_EQ(p.Saved(1, dir), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(p.Saved(2, dir), "%PDF-1.4\n");
}

TEST(MimeMessage, AttachedMessageIsNamedAfterItsSubject) {
    TempDir dir;
    Parsed p("From: a@x\nContent-Type: multipart/mixed; boundary=m\n\n--m\nContent-Type: text/plain\n\nsee below\n"
             "--m\nContent-Type: message/rfc822\n\nFrom: b@x\nSubject: Old news/2019\n\ninner body\n--m--\n");
    EXPECT_EQ(p.AttachmentNames(), std::vector<std::string>{"Old news_2019.eml"});
    const std::string saved = p.Saved(1, dir);
    EXPECT_NE(saved.find("Subject: Old news/2019"), std::string::npos);
    EXPECT_NE(saved.find("inner body"), std::string::npos);
}

TEST(MimeMessage, Dates) {
    const double none = OutlookNoDate;
    struct Case {
        const char* name;
        std::string headers;
        double fromLine;
        double received;
        double sent;
    };
    const Case cases[] = {
        {"newest Received wins, zones honoured",
         "Received: from b by c; Tue, 08 Mar 2005 11:00:00 +0100\nReceived: from a by b; Mon, 07 Mar 2005 09:00:00 +0000\n"
         "Date: Mon, 07 Mar 2005 08:30:00 -0500\n",
         0.0, Local(2005, 3, 8, 10, 0, 0), Local(2005, 3, 7, 13, 30, 0)},
        {"Received without a date falls to the next one",
         "Received: from b by c\nReceived: from a by b; Mon, 07 Mar 2005 09:00:00 +0000\n", 0.0,
         Local(2005, 3, 7, 9, 0, 0), none},
        {"Delivery-Date when there is no Received", "Delivery-Date: Sun, 06 Mar 2005 07:00:00 +0000\n", 0.0,
         Local(2005, 3, 6, 7, 0, 0), none},
        {"the mbox From line last", "Subject: x\n", *TryEncodeDateTime(2004, 1, 2, 3, 4, 5), Local(2004, 1, 2, 3, 4, 5),
         none},
        {"nothing at all: Outlook's no-date value", "Subject: x\n", 0.0, none, none},
    };
    for (const auto& c : cases) {
        ItemMeta meta;
        meta.FromLineUtc = c.fromLine;
        Parsed p("From: a@x\n" + c.headers + "\nbody\n", meta);
        EXPECT_NEAR(p.mail->GetDate(dispid::ReceivedTime), c.received, 1e-6) << c.name;
        EXPECT_NEAR(p.mail->GetDate(dispid::SentOn), c.sent, 1e-6) << c.name;
    }
}

TEST(MimeMessage, FlagsSizeAndStoreValues) {
    struct Case {
        const char* headers;
        ReadFlag flag;
        bool unread;
        bool receipt;
    };
    const Case cases[] = {
        {"Status: RO\n", ReadFlag::Unknown, false, false},
        {"Status: O\n", ReadFlag::Unknown, true, false},
        {"X-Mozilla-Status: 0001\n", ReadFlag::Unknown, false, false},
        {"X-Mozilla-Status: 0000\n", ReadFlag::Unknown, true, false},
        {"", ReadFlag::Unknown, false, false},
        {"Status: RO\n", ReadFlag::Unread, true, false},
        {"Disposition-Notification-To: a@x\n", ReadFlag::Read, false, true},
    };
    for (const auto& c : cases) {
        ItemMeta meta;
        meta.Flag = c.flag;
        meta.EntryId = "key\xff";
        meta.StoreTimeUtc = *TryEncodeDateTime(2020, 5, 6, 7, 8, 9);
        const std::string raw = std::string("From: a@x\n") + c.headers + "\nbody\n";
        Parsed p(raw, meta);
        EXPECT_EQ(p.mail->GetBool(dispid::UnRead), c.unread ? VariantTrue : VariantFalse) << c.headers;
        EXPECT_EQ(p.mail->GetBool(dispid::ReadReceiptRequested), c.receipt ? VariantTrue : VariantFalse) << c.headers;
        EXPECT_EQ(p.mail->GetInt(dispid::Size), static_cast<std::int32_t>(raw.size()));
        EXPECT_EQ(p.mail->GetText(dispid::EntryID), u"key\u00ff");
        EXPECT_NEAR(p.mail->GetDate(dispid::CreationTime), Local(2020, 5, 6, 7, 8, 9), 1e-6);
        EXPECT_EQ(p.mail->GetDate(dispid::LastModificationTime), p.mail->GetDate(dispid::CreationTime));
        EXPECT_EQ(p.mail->GetText(dispid::Mileage), u"");
        EXPECT_EQ(p.mail->GetBool(dispid::Saved), VariantFalse);
    }
}

// Bad input never throws; the mail is there with what could be read, and the problem is named.
TEST(MimeMessage, BadInputIsReadAndReported) {
    struct Case {
        const char* name;
        std::string raw;
        const char* warning; // part of some warning text
        const char* bodyPart; // part of the body, "" for none expected
    };
    std::string deep = "From: a@x\n";
    for (int i = 0; i < 200; ++i)
        deep += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n--b" + std::to_string(i) + "\n";
    deep += "Content-Type: text/plain\n\ndeep body\n";
    const Case cases[] = {
        {"truncated multipart",
         "From: a@x\nContent-Type: multipart/mixed; boundary=zz\n\n--zz\nContent-Type: text/plain\n\npartial text",
         "truncated", "partial text"},
        {"unknown charset", "From: a@x\nContent-Type: text/plain; charset=x-klingon\n\nqapla\n", "unknown charset",
         "qapla"},
        {"NUL bytes", std::string("From: a@x\nSubject: nul\n\nbefore\0after\n", 35), "NUL", "before"},
        {"no headers at all", "just some text\n", "no headers", "just some text"},
        {"headers only", "From: a@x\nSubject: s\n", "", ""},
        {"no sender and no date", "Subject: lonely\n\ntext\n", "neither a From nor a Date", "text"},
        {"multipart without boundary", "From: a@x\nContent-Type: multipart/mixed\n\ntext\n", "boundary", ""},
        {"deep nesting", deep, "nested", ""},
        {"huge header", "From: a@x\nSubject: " + std::string(200000, 'S') + "\n\nbody after a huge header\n", "",
         "body after"},
        {"empty input", "", "", ""},
    };
    for (const auto& c : cases) {
        std::unique_ptr<Parsed> p;
        ASSERT_NO_THROW(p = std::make_unique<Parsed>(c.raw)) << c.name;
        std::string all;
        for (const auto& w : p->warnings) all += w + "\n";
        if (*c.warning) {
            EXPECT_NE(all.find(c.warning), std::string::npos) << c.name << ": " << all;
            EXPECT_NE(all.find("Inbox, mail 1: "), std::string::npos) << c.name;
        }
        if (*c.bodyPart) {
            EXPECT_NE(p->Text(dispid::Body).find(c.bodyPart), std::string::npos) << c.name;
        }
        EXPECT_NO_THROW(p->AttachmentNames()) << c.name;
        EXPECT_NO_THROW(p->Text(dispid::Subject)) << c.name;
    }
}

TEST(MimeMessage, BadBase64IsSavedAsFarAsItGoesAndReported) {
    TempDir dir;
    Parsed p("From: a@x\nContent-Type: multipart/mixed; boundary=m\n\n--m\nContent-Type: text/plain\n\nt\n"
             "--m\nContent-Type: application/pdf; name=a.pdf\nContent-Transfer-Encoding: base64\n\nJVBE*Ri0x!LjQK\n--m--\n");
    ASSERT_EQ(p.AttachmentNames(), std::vector<std::string>{"a.pdf"});
    EXPECT_EQ(p.Saved(1, dir), "%PDF-1.4\n");
    ASSERT_FALSE(p.warnings.empty());
    EXPECT_NE(p.warnings.back().find("bad base64"), std::string::npos);
}

TEST(MimeMessage, SaveAsFileToAnUnwritablePlaceThrowsStoreError) {
    TempDir dir;
    Parsed p("From: a@x\nContent-Type: multipart/mixed; boundary=m\n\n--m\nContent-Type: text/plain\n\nt\n"
             "--m\nContent-Type: image/gif; name=a.gif\n\nGIF89a\n--m--\n");
    EXPECT_THROW(p.mail->Attachments()->Item(1)->SaveAsFile(dir.Ansi("missing/dir/a.gif")), EStoreError);
    EXPECT_THROW(p.mail->Attachments()->Item(2), EStoreError);
}

TEST(MimeMessage, UndeclaredEightBitTextIsReadAsWindows1252) {
    Parsed p("From: a@x\nSubject: caf\xe9\n\nna\xefve\n");
    EXPECT_EQ(p.Text(dispid::Subject), "café");
    EXPECT_EQ(p.Text(dispid::Body), "naïve\r\n");
}

TEST(ToCrLf, AllLineEndsBecomeCrLf) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\nb\rc\r\nd\n\r", "a\r\nb\r\nc\r\nd\r\n\r\n"},
        {"", ""},
        {"no line end", "no line end"},
        {"\r", "\r\n"},
        {"\r\n\r\n", "\r\n\r\n"},
        {"\n\n", "\r\n\r\n"},
        {"x\r\r\ny", "x\r\n\r\ny"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(ToCrLf(in), out) << in.size();
}

} // namespace
