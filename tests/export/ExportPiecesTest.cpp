// The small pieces of the run on their own: names, line split, footer, escaping, marker.
#include "ExportTestSupport.h"

#include "SrcLib/DateTime.h"
#include "export/ExportRun.h"
#include "export/HtmlText.h"

#include <gtest/gtest.h>

namespace quillmark::testing {
namespace {

TEST(PageFileName, Examples) {
    platform::SetRegional(platform::RegionalSettings{});
    const double t = *TryEncodeDateTime(2005, 3, 1, 14, 2, 59);
    EXPECT_EQ(PageFileName(t, "Re: Offer"), "m200503011402_Re-_Offer.htm");
    EXPECT_EQ(PageFileName(t, ""), "m200503011402_.htm");
    EXPECT_EQ(PageFileName(t, std::string(45, 'y')), "m200503011402_" + std::string(44, 'y') + ".htm");
    EXPECT_EQ(PageFileName(EncodeDate(1999, 12, 31) + 23.0 / 24, "x"), "m199912312300_x.htm");
    EXPECT_EQ(NumberedPageName("m200503011402_x.htm", 0), "m200503011402_x.htm");
    EXPECT_EQ(NumberedPageName("m200503011402_x.htm", 12), "m200503011402_x_12.htm");
}

TEST(SplitPageLines, LineEndsAndNul) {
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\rb\nc", {"a", "b", "c"}},
        {"a\n\r\nb", {"a", "", "b"}},
        {"a\r\rb", {"a", "", "b"}},
        {"a\n\rb", {"a", "", "b"}},
        {std::string("a\nb\0c\nd", 7), {"a", "b"}},
        {std::string("\0x", 2), {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> lines;
        SplitPageLines(c.text, lines);
        EXPECT_EQ(lines, c.lines);
    }
}

// Lines are found eight bytes at a time: a break, a NUL, or a byte that only looks like one
// to the wide test (a tab, a form feed, a letter beyond ASCII) at every position of a long
// text must cut it as one byte at a time does.
TEST(SplitPageLines, EveryPositionOfALongText) {
    auto oneAtATime = [](const std::string& text) {
        std::vector<std::string> lines;
        std::size_t start = 0, i = 0;
        for (; i < text.size() && text[i] != '\0'; ++i)
            if (text[i] == '\r' || text[i] == '\n') {
                lines.push_back(text.substr(start, i - start));
                if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
                start = i + 1;
            }
        if (i > start) lines.push_back(text.substr(start, i - start));
        return lines;
    };
    const std::string pieces[] = {"\r", "\n", "\r\n", std::string(1, '\0'), "\t", "\f", "\x0d\x0d", "\xC3\xA5", "\x0e"};
    for (const auto& piece : pieces)
        for (std::size_t at = 0; at <= 20; ++at) {
            const std::string text = std::string(at, 'x') + piece + std::string(23, 'y') + piece + "z";
            std::vector<std::string> lines;
            SplitPageLines(text, lines);
            EXPECT_EQ(lines, oneAtATime(text)) << "at " << at << " piece " << static_cast<int>(piece[0]);
        }
}

TEST(AddFooter, PiecesAndEmptyIdentity) {
    std::vector<std::string> lines{"<body>", "</BODY>"};
    AddFooter(lines, AppIdentity{});
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "<SMALL style=\"font-family: verdana; font-size: 60%; border-top: silver 1px black; "
                        "padding-top:2px\">\r<A href=\"" + std::string(MakerWebAddress) + "\"> v</A></SMALL>\r");
    std::vector<std::string> none;
    AddFooter(none, TestIdentity());
    ASSERT_EQ(none.size(), 1u);
    EXPECT_NE(none[0].find(">Quillmark v0.3</A>"), std::string::npos);
}

// The one-pass page assembly must give exactly what splitting, adding the footer and
// joining give, wherever the "</body>" line is or is not.
TEST(AssemblePage, SameAsSplitFooterAndJoin) {
    const std::vector<std::string> texts = {
        "",
        "plain",
        "<html>\r\n<body>\r\nx\r\n</body>\r\n</html>\r\n",
        "<BODY>\n</Body>\n</body>\n",
        "a</body></html>\rb",
        "</body>",
        std::string("one\ntwo\0</body>\n", 17),
        "\r\n\r\n</bOdY>",
    };
    for (const auto& text : texts) {
        SCOPED_TRACE(text);
        std::vector<std::string> lines;
        SplitPageLines(text, lines);
        AddFooter(lines, TestIdentity());
        std::string expected = "<!-- m -->\r\n";
        for (const auto& line : lines) expected += line + "\r\n";
        EXPECT_EQ(AssemblePage("<!-- m -->", text, TestIdentity()), expected);
    }
}

TEST(HtmlText, EscapeAndEncode) {
    EXPECT_EQ(HtmlEscape("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&#39;");
    EXPECT_EQ(HtmlEscape("plain \xE5"), "plain \xE5");
    EXPECT_EQ(UrlEncodePath("my atts/R\xE9sum\xE9 #1?.pdf"), "my%20atts/R%E9sum%E9%20%231%3F.pdf");
    EXPECT_EQ(UrlEncodePath("a-b_c.d~e!f"), "a-b_c.d~e!f");
}

class PageMarker : public ScratchDir {};

TEST_F(PageMarker, RoundTripAndForeignPages) {
    const std::string id = "00000000A1B2";
    WriteFile(Path("p.htm"), PageMarkerLine(id) + "\r\n<HTML>\r\n");
    EXPECT_EQ(ReadPageMarker(Path("p.htm")), id);
    WriteFile(Path("q.htm"), "<HTML>\r\n" + PageMarkerLine(id) + "\r\n");
    EXPECT_EQ(ReadPageMarker(Path("q.htm")), "");
    EXPECT_EQ(ReadPageMarker(Path("missing.htm")), "");
    WriteFile(Path("r.htm"), "");
    EXPECT_EQ(ReadPageMarker(Path("r.htm")), "");
}

TEST(MailIdentity, EntryIdIsEncodedSoItCannotEndTheComment) {
    auto log = std::make_shared<FakeCallLog>();
    FakeMailItem mail("Mail(1)", log);
    mail.SetText(outlook::dispid::EntryID, u"<id--> \u00E9@host>");
    const std::string id = MailIdentity(mail, 0, "");
    EXPECT_EQ(id.find("--"), std::string::npos);
    EXPECT_EQ(id.find('>'), std::string::npos);
    EXPECT_EQ(id.find(' '), std::string::npos);
    FakeMailItem other("Mail(2)", log);
    other.SetText(outlook::dispid::EntryID, u"<id--> \u00E9@host?");
    EXPECT_NE(MailIdentity(other, 0, ""), id);
}

} // namespace
} // namespace quillmark::testing
