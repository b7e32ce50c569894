// The tag catalogue: every tag, the rules of its own, case and unknown names.
#include "ExportTestSupport.h"

#include "SrcLib/DateTime.h"
#include "export/MailTags.h"
#include "platform/FileSystem.h"

#include <gtest/gtest.h>

#include <set>

namespace quillmark::testing {
namespace {

namespace d = outlook::dispid;

class MailTagsTest : public ScratchDir {
protected:
    void SetUp() override {
        ScratchDir::SetUp();
        log = std::make_shared<FakeCallLog>();
        mail = std::make_shared<FakeMailItem>("Mail(1)", log);
        ctx.CurrentMailItem = mail;
        ctx.ExportRoot = Path("out");
        ctx.AttachmentsDir = "atts";
        ctx.YearDir = Path("out/2005");
        ctx.Identity = TestIdentity();
        std::filesystem::create_directories(Path("out/atts"));
    }
    std::string Tag(const std::string& name, std::vector<std::string> params = {}) {
        std::string out;
        PPMailHTMLTag(ctx, name, params, out);
        return out;
    }

    std::shared_ptr<FakeCallLog> log;
    std::shared_ptr<FakeMailItem> mail;
    MailTagContext ctx;
};

TEST(MailTagCatalogue, FiftyTwoDistinctLowerCaseNamesInOrder) {
    const auto& cat = MailTagCatalogue();
    std::set<std::string> names;
    for (const auto& e : cat) {
        names.insert(e.Name);
        for (const char* c = e.Name; *c; ++c) EXPECT_FALSE(*c >= 'A' && *c <= 'Z') << e.Name;
    }
    EXPECT_EQ(names.size(), 52u);
    // A few places of the comparison order.
    EXPECT_STREQ(cat[0].Name, "appver");
    EXPECT_STREQ(cat[6].Name, "billinginformation");
    EXPECT_STREQ(cat[8].Name, "datetimes");
    EXPECT_STREQ(cat[30].Name, "creationtime");
    EXPECT_STREQ(cat[38].Name, "noaging");
    EXPECT_STREQ(cat[51].Name, "sizekb");
}

TEST_F(MailTagsTest, EveryTextTagReadsItsProperty) {
    int n = 0;
    for (const auto& e : MailTagCatalogue()) {
        if (e.Kind != MailTagKind::Text) continue;
        const std::u16string value = u"value " + std::u16string(1, static_cast<char16_t>(u'A' + n++));
        mail->SetText(e.Id, value);
        EXPECT_EQ(Tag(e.Name), platform::Utf8FromUtf16(value)) << e.Name;
        EXPECT_TRUE(log->Has("Mail(1).GetText(" + FakeHex(e.Id) + ")")) << e.Name;
    }
    EXPECT_EQ(n, 23);
}

TEST_F(MailTagsTest, EveryDateTagReadsItsProperty) {
    int n = 0;
    for (const auto& e : MailTagCatalogue()) {
        if (e.Kind != MailTagKind::Date) continue;
        ++n;
        mail->SetDate(e.Id, *TryEncodeDateTime(2005, 3, n, 14, 5, 9));
        EXPECT_EQ(Tag(e.Name), "2005-03-0" + std::to_string(n) + " 14:05:09") << e.Name;
    }
    EXPECT_EQ(n, 8);
    // Midnight prints as the date alone; a missing date prints whatever the store gives.
    mail->SetDate(d::SentOn, EncodeDate(2005, 3, 7));
    EXPECT_EQ(Tag("SentOn"), "2005-03-07");
    mail->SetDate(d::ReceivedTime, outlook::OutlookNoDate);
    EXPECT_EQ(Tag("receivedtime"), "4501-01-01");
}

TEST_F(MailTagsTest, EveryBoolTagPrintsAsUnsigned16Bits) {
    int n = 0;
    for (const auto& e : MailTagCatalogue()) {
        if (e.Kind != MailTagKind::Bool) continue;
        ++n;
        mail->SetBool(e.Id, true);
        EXPECT_EQ(Tag(e.Name), "65535") << e.Name;
        mail->SetBool(e.Id, false);
        EXPECT_EQ(Tag(e.Name), "0") << e.Name;
    }
    EXPECT_EQ(n, 12);
}

TEST_F(MailTagsTest, RulesOfTheirOwn) {
    EXPECT_EQ(Tag("AppVer"), "1.2.4.9");
    EXPECT_EQ(Tag("appname"), "quillmark");
    EXPECT_EQ(Tag("AppComments"), "Mail to HTML");
    const std::string now = Tag("DateTime");
    EXPECT_EQ(now.substr(0, 10), DateTimeToText(platform::NowLocal()).substr(0, 10));

    mail->SetDate(d::ReceivedTime, EncodeDate(2005, 3, 7));
    EXPECT_EQ(Tag("DateTimes"), "200503 20050307 Mar March Mon Monday");
    mail->SetDate(d::ReceivedTime, 900000.5).SetDate(d::CreationTime, EncodeDate(2004, 2, 29));
    EXPECT_EQ(Tag("datetimes"), "200402 20040229 Feb February Sun Sunday");

    struct SizeCase {
        std::int32_t size;
        std::string plain, kb;
    };
    for (const auto& c : std::vector<SizeCase>{{0, "0", ""}, {1536, "1536", "1.5 KB"}, {-5, "-5", ""}}) {
        mail->SetInt(d::Size, c.size);
        EXPECT_EQ(Tag("Size"), c.plain);
        EXPECT_EQ(Tag("SizeKB"), c.kb);
    }
    auto regional = platform::Regional();
    regional.DecimalSeparator = ',';
    platform::SetRegional(regional);
    mail->SetInt(d::Size, 1536);
    EXPECT_EQ(Tag("sizekb"), "1,5 KB");
}

TEST_F(MailTagsTest, CaseParamsAndUnknownNames) {
    mail->SetText(d::Subject, u"Offer");
    for (const char* name : {"Subject", "SUBJECT", "subject", "sUbJeCt"}) EXPECT_EQ(Tag(name), "Offer");
    mail->SetText(d::Body, u"text");
    EXPECT_EQ(Tag("body", {"x=1"}), "text");
    EXPECT_EQ(Tag("Foo"), "<BIG>[E R R O R - tag not found <B>#Foo</B>]</BIG>");
    EXPECT_EQ(Tag("Sub"), "<BIG>[E R R O R - tag not found <B>#Sub</B>]</BIG>");
    EXPECT_EQ(Tag("<"), "<BIG>[E R R O R - tag not found <B>#&lt;</B>]</BIG>");
    // Only ASCII letters are folded: a Latin-1 capital is another name.
    EXPECT_NE(Tag("SUBJ\xC9" "CT"), "Offer");
}

TEST_F(MailTagsTest, MailTextIsEscapedAndPutIntoThePageCharsetWithoutLoss) {
    mail->SetText(d::Subject, u"A < B & \"C\" 'D' > E");
    EXPECT_EQ(Tag("subject"), "A &lt; B &amp; &quot;C&quot; &#39;D&#39; &gt; E");
    mail->SetText(d::SenderName, u"J\u00F6rg \u4E2D \u20AC \U0001F600");
    const struct {
        PageCharset Charset;
        const char* Expected;
    } cases[] = {
        {PageCharset::Windows1252, "J\xF6rg &#20013; \x80 &#128512;"},
        {PageCharset::Utf8, "J\xC3\xB6rg \xE4\xB8\xAD \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {PageCharset::AsciiReferences, "J&#246;rg &#20013; &#8364; &#128512;"},
    };
    for (const auto& c : cases) {
        ctx.Charset = c.Charset;
        EXPECT_EQ(Tag("sendername"), c.Expected) << static_cast<int>(c.Charset);
    }
}

TEST_F(MailTagsTest, AttachmentNamesOfOtherScriptsAreKeptInNameLinkAndText) {
    mail->AddAttachment(u"\u041E\u0442\u0447\u0451\u0442.pdf", "report");
    ctx.Charset = PageCharset::Windows1252;
    const std::string link = Tag("attachments");
    // The file keeps its letters; the link is its UTF-8 name percent-encoded, which is how a
    // browser finds it; the text shows the name as references in a Windows-1252 page.
    EXPECT_TRUE(platform::FileExists(ctx.ExportRoot + "/atts/\u041E\u0442\u0447\u0451\u0442.pdf"));
    EXPECT_NE(link.find("href=\"../atts/%D0%9E%D1%82%D1%87%D1%91%D1%82.pdf\""), std::string::npos) << link;
    EXPECT_NE(link.find(">&#1054;&#1090;&#1095;&#1105;&#1090;.pdf</A>"), std::string::npos) << link;
}

TEST_F(MailTagsTest, AttachmentAndImageTags) {
    mail->AddAttachment(u"a.txt", "a");
    mail->AddAttachment(u"b.gif", "b");
    AttachmentCounts att, pic;
    ctx.Attachments = &att;
    ctx.Pictures = &pic;
    EXPECT_EQ(Tag("Attachments").rfind("<A href=\"../atts/a.txt\"", 0), 0u);
    EXPECT_EQ(Tag("IMAGES"), "<BR><IMG src=\"./attsimgs/b.gif\" title=\"b.gif\" vspace=2>");
    EXPECT_EQ(att.Saved, 1);
    EXPECT_EQ(pic.Saved, 1);
}

TEST_F(MailTagsTest, AStoreErrorIsNotCaught) {
    mail->FailOnProperty(d::To, "Property is gone");
    EXPECT_THROW(Tag("to"), EStoreError);
    mail->FailOn("Attachments", "No attachments");
    EXPECT_THROW(Tag("attachments"), EStoreError);
}

} // namespace
} // namespace quillmark::testing
