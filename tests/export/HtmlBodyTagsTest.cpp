// The tags that show a mail as its sender wrote it, and every tag that reaches a page fed
// the hostile corpus.
#include "ExportTestSupport.h"

#include "../text/HostileCorpus.h"
#include "export/MailTags.h"
#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <set>

namespace quillmark::testing {
namespace {

namespace d = outlook::dispid;

std::u16string W(const std::string& s) { return platform::Utf16FromUtf8(s); }

// Reads a tag's value as a browser's tokenizer would and lists what must not be there:
// markup other than the elements and attributes our tags write, an address that is not one
// of ours or the web's, a bare ">" or quote that could end something of the template's.
std::vector<std::string> PageFaults(const std::string& html) {
    static const std::set<std::string> elements{
        "a", "abbr", "acronym", "address", "article", "aside", "b", "bdi", "bdo", "big", "blockquote", "br", "caption",
        "center", "cite", "code", "col", "colgroup", "dd", "del", "details", "dfn", "div", "dl", "dt", "em",
        "figcaption", "figure", "font", "footer", "h1", "h2", "h3", "h4", "h5", "h6", "header", "hr", "i", "img", "ins",
        "kbd", "li", "main", "mark", "nav", "ol", "p", "pre", "q", "rp", "rt", "ruby", "s", "samp", "section", "small",
        "span", "strike", "strong", "sub", "summary", "sup", "table", "tbody", "td", "tfoot", "th", "thead", "time",
        "tr", "tt", "u", "ul", "var", "wbr", "dir", "menu", "button", "script"};
    std::vector<std::string> faults;
    std::size_t i = 0;
    while (i < html.size()) {
        const char c = html[i];
        if (c == '>' || c == '"') faults.push_back(std::string("bare ") + c + " at " + std::to_string(i));
        if (c != '<') {
            ++i;
            continue;
        }
        ++i;
        const bool closing = i < html.size() && html[i] == '/';
        if (closing) ++i;
        std::string name;
        while (i < html.size() && std::isalnum(static_cast<unsigned char>(html[i])))
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(html[i++])));
        if (!elements.count(name)) {
            faults.push_back("element <" + name);
            return faults;
        }
        std::map<std::string, std::string> attrs;
        while (i < html.size() && html[i] != '>') {
            if (html[i] == ' ') {
                ++i;
                continue;
            }
            std::string attr;
            while (i < html.size() && html[i] != '=' && html[i] != ' ' && html[i] != '>')
                attr += static_cast<char>(std::tolower(static_cast<unsigned char>(html[i++])));
            std::string value;
            if (i < html.size() && html[i] == '=') {
                ++i;
                if (i < html.size() && std::isdigit(static_cast<unsigned char>(html[i]))) {
                    // The picture list's vspace=2, the one value written without quotes.
                    while (i < html.size() && std::isdigit(static_cast<unsigned char>(html[i]))) value += html[i++];
                    attrs[attr] = value;
                    continue;
                }
                if (i >= html.size() || html[i] != '"') {
                    faults.push_back("unquoted " + attr);
                    return faults;
                }
                const std::size_t end = html.find('"', i + 1);
                if (end == std::string::npos) {
                    faults.push_back("unclosed " + attr);
                    return faults;
                }
                value = html.substr(i + 1, end - i - 1);
                i = end + 1;
            }
            attrs[attr] = value;
            static const std::set<std::string> allowed{
                "href", "src", "title", "vspace", "style", "rel", "target", "class", "type", "hidden",
                "data-qm-show-remote", "data-remote-src", "alt", "width", "height", "border", "align", "valign",
                "colspan", "rowspan", "cellpadding", "cellspacing", "bgcolor", "color", "face", "size", "lang", "dir"};
            if (!allowed.count(attr)) faults.push_back("attribute " + attr + " on " + name);
            if (attr == "href" || attr == "src") {
                const bool ok = value.rfind("http://", 0) == 0 || value.rfind("https://", 0) == 0 ||
                                value.rfind("mailto:", 0) == 0 || value.rfind("#", 0) == 0 ||
                                value.rfind("../", 0) == 0 || value.rfind("./attsimgs/", 0) == 0 ||
                                value.rfind("data:image/", 0) == 0;
                if (!ok) faults.push_back(attr + "=" + value);
                if (name == "img" && attr == "src" && value.rfind("http", 0) == 0) faults.push_back("remote picture");
            }
        }
        if (name == "script" && !closing && attrs["src"] != "../quillmark-remote-pictures.js") faults.push_back("a script of the mail's");
        ++i;
    }
    return faults;
}

class HtmlBodyTagsTest : public ScratchDir {
protected:
    void SetUp() override {
        ScratchDir::SetUp();
        log = std::make_shared<FakeCallLog>();
        mail = std::make_shared<FakeMailItem>("Mail(1)", log);
        mail->AttachmentsInMemory = true;
        ctx.CurrentMailItem = mail;
        ctx.ExportRoot = Path("out");
        ctx.AttachmentsDir = "atts";
        ctx.YearDir = Path("out/2005");
        ctx.Identity = TestIdentity();
        std::filesystem::create_directories(Path("out/atts"));
        std::filesystem::create_directories(Path("out/2005"));
    }
    std::string Tag(const std::string& name) {
        std::string out;
        std::vector<std::string> params;
        PPMailHTMLTag(ctx, name, params, out);
        return out;
    }

    std::shared_ptr<FakeCallLog> log;
    std::shared_ptr<FakeMailItem> mail;
    MailTagContext ctx;
};

TEST_F(HtmlBodyTagsTest, HostileCorpusThroughEveryTagThatReachesAPage) {
    const auto corpus = HostileCorpus();
    ASSERT_GE(corpus.size(), 100u);
    std::vector<std::string> tags;
    for (const auto& e : MailTagCatalogue()) tags.push_back(e.Name);
    for (const char* name : MailTagExtraNames()) tags.push_back(name);
    for (PageCharset charset : {PageCharset::Windows1252, PageCharset::Utf8}) {
        ctx.Charset = charset;
        for (const std::string& attack : corpus) {
            SCOPED_TRACE(attack);
            mail = std::make_shared<FakeMailItem>("Mail(1)", log);
            mail->AttachmentsInMemory = true;
            ctx.CurrentMailItem = mail;
            for (const auto& e : MailTagCatalogue())
                if (e.Kind == MailTagKind::Text) mail->SetText(e.Id, W(attack));
            for (DispId id : {d::HTMLBody, d::SenderEmailAddress, d::ToEmailAddresses, d::CCEmailAddresses,
                              d::BCCEmailAddresses, d::SentOnHeader})
                mail->SetText(id, W(attack));
            mail->AddAttachment(W(attack), "file bytes");
            mail->AddAttachment(W(attack + ".png"), "picture bytes");
            mail->AddAttachment(W("pic.gif"), "cid picture")->ContentIdValue = attack;
            for (const std::string& tag : tags) {
                const std::string value = Tag(tag);
                if (tag == "ContentSecurityPolicy") continue; // our own meta, no mail in it
                EXPECT_EQ(PageFaults(value), std::vector<std::string>{}) << tag << ": " << value;
            }
            // The same attack as the HTML body's picture address, pointing at the picture.
            mail->SetText(d::HTMLBody, W("<img src=\"cid:" + attack + "\">"));
            const std::string value = Tag("HTMLBody");
            EXPECT_EQ(PageFaults(value), std::vector<std::string>{}) << value;
        }
    }
}

#ifdef QUILLMARK_HAVE_HTML_SANITIZER
TEST_F(HtmlBodyTagsTest, CidPictureShowsInPlaceAndIsNotListedAgain) {
    mail->SetText(d::HTMLBody, W("<p>before</p><img src=\"cid:part1.ABC@example.com\" alt=\"chart\"><p>after</p>"
                                 "<img src=\"cid:image002.png@01D5\">"));
    mail->AddAttachment(W("chart.png"), "png bytes")->ContentIdValue = "part1.ABC@example.com";
    mail->AddAttachment(W("image002.png"), "second");
    mail->AddAttachment(W("holiday.jpg"), "jpeg bytes");
    const std::string body = Tag("HTMLBody");
    EXPECT_NE(body.find("<p>before</p><img src=\"./attsimgs/chart.png\" alt=\"chart\"><p>after</p>"), std::string::npos)
        << body;
    EXPECT_NE(body.find("<img src=\"./attsimgs/image002.png\">"), std::string::npos) << body;
    EXPECT_EQ(ReadFile(Path("out/2005/attsimgs/chart.png")), "png bytes");
    // The picture list after it: only the picture the body did not show.
    EXPECT_EQ(Tag("Images"), "<BR><IMG src=\"./attsimgs/holiday.jpg\" title=\"holiday.jpg\" vspace=2>");
}

TEST_F(HtmlBodyTagsTest, PictureListBeforeTheBodyOrOfAnotherMailListsEverything) {
    mail->SetText(d::HTMLBody, W("<img src=\"cid:a@b\">"));
    mail->AddAttachment(W("a.png"), "a")->ContentIdValue = "a@b";
    const std::string listed = "<BR><IMG src=\"./attsimgs/a.png\" title=\"a.png\" vspace=2>";
    EXPECT_EQ(Tag("Images"), listed);
    Tag("HTMLBody");
    EXPECT_EQ(Tag("Images"), "");
    // The next mail is a mail of its own, whatever the last one showed.
    auto next = std::make_shared<FakeMailItem>("Mail(2)", log);
    next->AttachmentsInMemory = true;
    next->AddAttachment(W("a.png"), "a");
    ctx.CurrentMailItem = next;
    EXPECT_EQ(Tag("Images"), listed);
}

TEST_F(HtmlBodyTagsTest, RemotePicturesWaitBehindAButtonWhoseScriptIsBesideThePages) {
    mail->SetText(d::HTMLBody, W("<p>news</p><img src=\"https://tracker.example/p.gif\">"));
    const std::string body = Tag("HTMLBody");
    EXPECT_NE(body.find("<img data-remote-src=\"https://tracker.example/p.gif\">"), std::string::npos) << body;
    EXPECT_NE(body.find("<button type=\"button\" data-qm-show-remote hidden>Show remote pictures</button>"),
              std::string::npos);
    EXPECT_NE(body.find("<script src=\"../quillmark-remote-pictures.js\"></script>"), std::string::npos);
    EXPECT_EQ(ReadFile(Path("out/quillmark-remote-pictures.js")), RemotePicturesScript());
    // Without remote pictures, no button and no script.
    mail->SetText(d::HTMLBody, W("<p>plain news</p>"));
    EXPECT_EQ(Tag("HTMLBody"), "<div class=\"qm-mail-html\" style=\"overflow: auto\"><p>plain news</p></div>");
}

#endif

TEST_F(HtmlBodyTagsTest, PlainTextMailGivesLinkedEscapedText) {
    mail->SetText(d::Body, W("Hi <all>,\r\nsee https://example.org/x.\r\n> old text\r\n"));
    EXPECT_EQ(Tag("HTMLBody"),
              "<div class=\"qm-text\" style=\"white-space: pre-wrap\">Hi &lt;all&gt;,\nsee "
              "<a href=\"https://example.org/x\" rel=\"noopener noreferrer\" target=\"_blank\">https://example.org/x</a>."
              "<blockquote class=\"qm-quote\">old text</blockquote></div>");
}

TEST_F(HtmlBodyTagsTest, AddressAndSentTagsGiveTheirPropertyEscapedInThePageCharset) {
    struct Case {
        const char* tag;
        DispId id;
    } cases[] = {{"SenderEmailAddress", d::SenderEmailAddress}, {"toemailaddresses", d::ToEmailAddresses},
                 {"CCEmailAddresses", d::CCEmailAddresses},     {"BCCEMAILADDRESSES", d::BCCEmailAddresses},
                 {"SentOnHeader", d::SentOnHeader}};
    for (const auto& c : cases) {
        mail->SetText(c.id, W("j\xC3\xB6rg@b\xC3\xA4r.example; <x@y>"));
        ctx.Charset = PageCharset::Windows1252;
        EXPECT_EQ(Tag(c.tag), "j\xF6rg@b\xE4r.example; &lt;x@y&gt;") << c.tag;
        ctx.Charset = PageCharset::AsciiReferences;
        EXPECT_EQ(Tag(c.tag), "j&#246;rg@b&#228;r.example; &lt;x@y&gt;") << c.tag;
    }
}

TEST(MailTagNames, KnowsTheFiftyTwoAndTheNewTagsInAnyCaseAndNothingElse) {
    for (const char* name : {"Subject", "SIZEKB", "appver", "HTMLBody", "htmlbody", "ContentSecurityPolicy",
                             "SenderEmailAddress", "toemailaddresses", "CCEmailAddresses", "BccEmailAddresses",
                             "SentOnHeader"})
        EXPECT_TRUE(IsMailTagName(name)) << name;
    for (const char* name : {"", "HTML", "HTMLBodyX", "SenderEmail", "Recipients", "sentonheader "})
        EXPECT_FALSE(IsMailTagName(name)) << name;
    // The new names do not shadow any of the 52.
    for (const char* extra : MailTagExtraNames()) {
        std::string lower = extra;
        for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (const auto& e : MailTagCatalogue()) EXPECT_NE(std::string(e.Name), lower);
    }
}

TEST_F(HtmlBodyTagsTest, ContentSecurityPolicyForbidsInlineScript) {
    const std::string meta = Tag("ContentSecurityPolicy");
    EXPECT_EQ(meta.rfind("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; script-src 'self';", 0),
              0u)
        << meta;
    EXPECT_EQ(meta.find("script-src 'self' 'unsafe"), std::string::npos);
}

} // namespace
} // namespace quillmark::testing

#if defined(QUILLMARK_EXPORT_EXE) && defined(QUILLMARK_HAVE_HTML_SANITIZER)
namespace quillmark::testing {
namespace {

// A mail as a mail program writes it (plain and HTML alternatives, the HTML with its picture
// in a multipart/related), read from an mbox and exported with the HTML mail tags.
TEST_F(HtmlBodyTagsTest, MailboxMailShowsItsHtmlBodyAddressesAndSentHeader) {
    const std::string mbox =
        "From a@example.com Tue Oct  1 09:14:03 2024\n"
        "From: \"Anna Berg\" <anna.berg@example.com>\n"
        "To: Sales <sales@example.com>, bo@example.com\n"
        "Cc: undisclosed-recipients:;\n"
        "Subject: Figures\n"
        "Date: Tue, 01 Oct 2024 09:14:03 +0200\n"
        "MIME-Version: 1.0\n"
        "Content-Type: multipart/alternative; boundary=\"alt\"\n\n"
        "--alt\nContent-Type: text/plain; charset=utf-8\n\nPlain figures\n"
        "--alt\nContent-Type: multipart/related; boundary=\"rel\"\n\n"
        "--rel\nContent-Type: text/html; charset=iso-8859-1\n\n"
        "<p>Gr\xFC\xDF""e <b>all</b></p><img src=\"cid:chart@x\"><script>evil()</script>\n"
        "--rel\nContent-Type: image/png; name=\"chart.png\"\nContent-ID: <chart@x>\n"
        "Content-Transfer-Encoding: base64\n\niVBORw0KGgo=\n"
        "--rel--\n--alt--\n\n";
    WriteFile(Path("Inbox"), mbox);
    WriteFile(Path("t.htm"), "<meta charset=\"utf-8\"><#SenderEmailAddress>|<#ToEmailAddresses>|<#SentOnHeader>|"
                             "<#HTMLBody>|<#Images>|<#Attachments>\n");
    const std::string cmd = std::string("'") + QUILLMARK_EXPORT_EXE + "' --store '" + Path("Inbox") +
                            "' --folder Inbox --template '" + Path("t.htm") + "' --out '" + Path("x") + "' --quiet";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const auto pages = Listing(Path("x/2024"));
    std::string page;
    for (const auto& name : pages)
        if (name.size() > 4 && name.substr(name.size() - 4) == ".htm") page = ReadFile(Path("x/2024/" + name));
    EXPECT_NE(page.find("anna.berg@example.com|sales@example.com; bo@example.com|Tue, 01 Oct 2024 09:14:03 +0200|"
                        "<div class=\"qm-mail-html\" style=\"overflow: auto\"><p>Gr\xC3\xBC\xC3\x9F" "e <b>all</b></p>"
                        "<img src=\"./attsimgs/chart.png\"></div>||"),
              std::string::npos)
        << page;
    EXPECT_TRUE(Exists(Path("x/2024/attsimgs/chart.png")));
}

} // namespace
} // namespace quillmark::testing
#endif
