// One HTML mail read from an mbox and from an Outlook data file gives the same body text.
// A data file cannot be written here (the PST reader only reads), so the PST side starts
// where the backend has the HTML body property's bytes: the form Outlook stores them in,
// 8-bit in the message's Internet code page or UTF-16LE.
#include "outlook/mailbox/MimeMessage.h"
#include "outlook/pst/PstMessage.h"
#include "outlook/pst/PstValues.h"

#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <string>

using namespace quillmark;
using namespace quillmark::outlook;

namespace {

// Windows-1252 bytes: "Caf\xE9", "\x93quoted\x94".
const std::string kHtml = "<html><head><title>Newsletter</title>"
                          "<style>td { font: 10pt Arial }</style>"
                          "<script type=\"text/javascript\">if (a < b && c > d) document.write('<p>x</p>');</script>"
                          "</head><body><p>Caf\xE9 &amp; Bar&hellip; &#x1F600;</p>"
                          "<p>Prices&nbsp;&euro;5 <a href=\"http://x/?a=1&b=2\" title=\"a > b\">here</a></p>"
                          "<!-- tracking <img src=x> -->"
                          "<table><tr><td>\x93quoted\x94</td><td>&NotANamedOne;</td></tr></table>"
                          "<ul><li>one<li>two</ul></body></html>";

const std::u16string kText = u"Caf\u00E9 & Bar\u2026 \U0001F600\r\n\r\n"
                             u"Prices\u00A0\u20AC5 here\r\n\r\n"
                             u"\u201Cquoted\u201D\t&NotANamedOne;\r\n"
                             u"one\r\ntwo";

WideString MailboxBody(const std::string& raw) {
    auto warnings = std::make_shared<WarningSink>();
    mailbox::ItemMeta meta;
    meta.Where = "Inbox, mail 1";
    return mailbox::ParseMailItem(raw, meta, warnings)->GetText(dispid::Body);
}

std::string Utf16LeBytes(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

TEST(SameMailInBothStores, HtmlBodyGivesTheSameText) {
    const WideString fromMbox =
        MailboxBody("From: a@example.org\r\nSubject: s\r\nMIME-Version: 1.0\r\n"
                    "Content-Type: text/html; charset=windows-1252\r\n\r\n" +
                    kHtml + "\r\n");
    EXPECT_EQ(fromMbox, kText);

    // The ANSI form, in the message's Internet code page.
    const pst::RawProperty ansi{pst::ptype::Binary, kHtml};
    EXPECT_EQ(pst::HtmlBodyText(ansi, 1252), fromMbox);

    // The Unicode form, and the same mail sent in UTF-8.
    const WideString html = pst::DecodeCodePage(kHtml, 1252);
    EXPECT_EQ(pst::HtmlBodyText({pst::ptype::Unicode, Utf16LeBytes(html)}, 0), fromMbox);
    EXPECT_EQ(MailboxBody("From: a@example.org\r\nContent-Type: text/html; charset=utf-8\r\n\r\n" +
                          platform::Utf8FromUtf16(html)),
              fromMbox);
}

} // namespace
