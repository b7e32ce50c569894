#include "text/HtmlSanitizer.h"

#include "HostileCorpus.h"

#include <gtest/gtest.h>
#include <gumbo.h>

#include <cstring>
#include <map>

namespace quillmark::text {
namespace {

std::string Lower(std::string s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Walks what a browser's parser makes of html and lists what the sanitiser must never let
// through; empty when the fragment is clean.
void Audit(const GumboNode* node, std::vector<std::string>& faults) {
    if (node->type != GUMBO_NODE_ELEMENT) return;
    const GumboElement& e = node->v.element;
    const std::string name =
        e.tag == GUMBO_TAG_UNKNOWN ? std::string("?") : std::string(gumbo_normalized_tagname(e.tag));
    const bool isRoot = e.tag == GUMBO_TAG_HTML || e.tag == GUMBO_TAG_HEAD || e.tag == GUMBO_TAG_BODY;
    if (!isRoot && (e.tag_namespace != GUMBO_NAMESPACE_HTML || !IsAllowedHtmlElement(name)))
        faults.push_back("element " + name);
    for (unsigned i = 0; i < e.attributes.length; ++i) {
        const auto* a = static_cast<const GumboAttribute*>(e.attributes.data[i]);
        const std::string attr = Lower(a->name);
        const std::string value = Lower(a->value);
        // Our own plain-text markup carries classes of ours; the sanitiser writes none.
        const bool ownClass = attr == "class" && value.rfind("qm-", 0) == 0;
        if (!ownClass && !IsAllowedHtmlAttribute(name, attr)) faults.push_back("attribute " + attr + " on " + name);
        if (attr == "href" || attr == "src") {
            const bool ok = value.rfind("http://", 0) == 0 || value.rfind("https://", 0) == 0 ||
                            value.rfind("mailto:", 0) == 0 || value.rfind("#", 0) == 0 ||
                            value.rfind("data:image/png", 0) == 0 || value.rfind("data:image/gif", 0) == 0 ||
                            value.rfind("data:image/jpeg", 0) == 0 || value.rfind("../", 0) == 0 ||
                            value.rfind("./attsimgs/", 0) == 0;
            if (!ok) faults.push_back(attr + "=" + value);
            if (attr == "src" && value.rfind("http", 0) == 0) faults.push_back("remote picture loads");
        }
        if (attr == "style" && (value.find("url") != std::string::npos || value.find("expression") != std::string::npos ||
                                value.find('\\') != std::string::npos || value.find("position") != std::string::npos))
            faults.push_back("style " + value);
    }
    if (e.tag == GUMBO_TAG_A) {
        bool hasHref = false, rel = false;
        for (unsigned i = 0; i < e.attributes.length; ++i) {
            const auto* a = static_cast<const GumboAttribute*>(e.attributes.data[i]);
            if (std::strcmp(a->name, "href") == 0) hasHref = true;
            if (std::strcmp(a->name, "rel") == 0 && std::string(a->value) == "noopener noreferrer") rel = true;
        }
        if (hasHref && !rel) faults.push_back("link without noopener");
    }
    for (unsigned i = 0; i < e.children.length; ++i) Audit(static_cast<const GumboNode*>(e.children.data[i]), faults);
}

std::vector<std::string> Faults(const std::string& fragment) {
    // The fragment inside its container, with a marker after it: the marker must still be
    // the container's next sibling, or the fragment has broken out.
    const std::string page = "<!DOCTYPE html><html><body><div id=\"mail\">" + fragment +
                             "</div><p id=\"after\">end</p></body></html>";
    GumboOutput* out = gumbo_parse(page.c_str());
    std::vector<std::string> faults;
    const GumboNode* body = nullptr;
    const GumboVector& top = out->root->v.element.children;
    for (unsigned i = 0; i < top.length; ++i) {
        const auto* n = static_cast<const GumboNode*>(top.data[i]);
        if (n->type == GUMBO_NODE_ELEMENT && n->v.element.tag == GUMBO_TAG_BODY) body = n;
    }
    std::vector<std::string> ids;
    if (body)
        for (unsigned i = 0; i < body->v.element.children.length; ++i) {
            const auto* n = static_cast<const GumboNode*>(body->v.element.children.data[i]);
            if (n->type != GUMBO_NODE_ELEMENT) continue;
            const GumboAttribute* id = gumbo_get_attribute(&n->v.element.attributes, "id");
            ids.push_back(id ? id->value : "?");
            if (ids.size() == 1)
                for (unsigned k = 0; k < n->v.element.children.length; ++k)
                    Audit(static_cast<const GumboNode*>(n->v.element.children.data[k]), faults);
        }
    if (ids != std::vector<std::string>{"mail", "after"}) faults.push_back("fragment escapes its container");
    gumbo_destroy_output(&kGumboDefaultOptions, out);
    return faults;
}

HtmlSanitizeOptions WithPictures() {
    HtmlSanitizeOptions o;
    o.ResolveCid = [](std::string_view id) -> std::optional<std::string> {
        if (id == "logo@x") return std::string("./attsimgs/logo.png");
        return std::nullopt;
    };
    return o;
}

TEST(HtmlSanitizer, HostileCorpusComesOutCleanStableAndContained) {
    const auto corpus = quillmark::testing::HostileCorpus();
    ASSERT_GE(corpus.size(), 100u);
    for (const std::string& attack : corpus) {
        SCOPED_TRACE(attack);
        const std::string once = SanitizeHtml(attack, WithPictures());
        EXPECT_EQ(Faults(once), std::vector<std::string>{}) << once;
        EXPECT_EQ(SanitizeHtml(once, WithPictures()), once);
        // Wrapped in the markup mail programs write around a body, the same holds.
        const std::string wrapped = "<html><head><title>t</title></head><body><table><tr><td>" + attack +
                                    "</td></tr></table><p>" + attack + "</body></html>";
        const std::string inTable = SanitizeHtml(wrapped, WithPictures());
        EXPECT_EQ(Faults(inTable), std::vector<std::string>{}) << inTable;
        EXPECT_EQ(SanitizeHtml(inTable, WithPictures()), inTable);
    }
}

TEST(HtmlSanitizer, KeepsWhatAMailShows) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"<p>Hello <b>bold</b> <i>it</i> <u>u</u></p>", "<p>Hello <b>bold</b> <i>it</i> <u>u</u></p>"},
        {"<table border=1 cellpadding=\"2\"><tr><td colspan=2>a</td></tr></table>",
         "<table border=\"1\" cellpadding=\"2\"><tbody><tr><td colspan=\"2\">a</td></tr></tbody></table>"},
        {"<ul><li>one<li>two</ul>", "<ul><li>one</li><li>two</li></ul>"},
        {"<font face=\"Arial\" color=\"#ff0000\" size=2>x</font>", "<font face=\"Arial\" color=\"#ff0000\" size=\"2\">x</font>"},
        {"a<br>b<hr>", "a<br>b<hr>"},
        {"<pre>\n\nindented\n</pre>", "<pre>\n\nindented\n</pre>"},
        {"x &amp; y &lt; z &nbsp;", "x &amp; y &lt; z \xC2\xA0"},
        {"<a href=\"https://example.com/a?b=1&amp;c=2\">l</a>",
         "<a href=\"https://example.com/a?b=1&amp;c=2\" rel=\"noopener noreferrer\" target=\"_blank\">l</a>"},
        {"<a href=\"mailto:a@b.example\">m</a>",
         "<a href=\"mailto:a@b.example\" rel=\"noopener noreferrer\" target=\"_blank\">m</a>"},
        {"<a href=\"#top\">t</a>", "<a href=\"#top\" rel=\"noopener noreferrer\" target=\"_blank\">t</a>"},
        {"<a name=\"x\">anchor</a>", "<a>anchor</a>"},
        {"<o:p>office</o:p>", "office"},
        {"<div onclick=\"x()\" class=\"c\" id=\"i\">d</div>", "<div>d</div>"},
        {"<p>a<div>b</div></p>", "<p>a</p><div>b</div><p></p>"},
        {"<span style=\"color: red; position: fixed\">s</span>", "<span style=\"color: red\">s</span>"},
        {"<img src=\"data:image/png;base64,iVBORw0KGgo=\" alt=\"p\">",
         "<img src=\"data:image/png;base64,iVBORw0KGgo=\" alt=\"p\">"},
    };
    for (const auto& c : cases) EXPECT_EQ(SanitizeHtml(c.in), c.out) << c.in;
}

TEST(HtmlSanitizer, DropsActiveElementsWithTheirContent) {
    for (const char* tag : {"script", "style", "iframe", "object", "svg", "math", "noscript",
                            "template", "textarea", "select", "title", "xmp", "noembed", "noframes", "video"}) {
        const std::string in = std::string("a<") + tag + ">SECRET</" + tag + ">b";
        EXPECT_EQ(SanitizeHtml(in), "ab") << tag;
    }
}

TEST(HtmlSanitizer, PicturesByContentIdGoToTheirSavedFiles) {
    HtmlSanitizeReport report;
    const std::string out = SanitizeHtml(
        "<p>before</p><img src=\"cid:logo@x\" alt=\"logo\"><img src=\"CID:logo%40x\"><img src=\"cid:missing\"><p>after</p>",
        WithPictures(), &report);
    EXPECT_EQ(out, "<p>before</p><img src=\"./attsimgs/logo.png\" alt=\"logo\"><img src=\"./attsimgs/logo.png\"><p>after</p>");
    // The archive's own picture folder and nothing beside or above it.
    EXPECT_EQ(SanitizeHtml("<img src=\"./attsimgs/a.png\"><img src=\"./attsimgs/%2e%2e/x.png\"><img src=\"../x.png\">"
                           "<img src=\"./attsimgs/a.png?x\"><img src=\"attsimgs/a.png\">"),
              "<img src=\"./attsimgs/a.png\">");
    EXPECT_EQ(report.CidUsed, std::vector<std::string>{"logo@x"});
    EXPECT_EQ(report.RemoteImages, 0);
}

TEST(HtmlSanitizer, RemotePicturesWaitUntilAskedFor) {
    HtmlSanitizeReport report;
    const std::string in = "<img src=\"https://cdn.example/a.png\" width=10><img src=\" http://x.example/b.gif\">";
    EXPECT_EQ(SanitizeHtml(in, {}, &report),
              "<img data-remote-src=\"https://cdn.example/a.png\" width=\"10\"><img data-remote-src=\"http://x.example/b.gif\">");
    EXPECT_EQ(report.RemoteImages, 2);
    HtmlSanitizeOptions load;
    load.BlockRemoteImages = false;
    EXPECT_EQ(SanitizeHtml(in, load), "<img src=\"https://cdn.example/a.png\" width=\"10\"><img src=\"http://x.example/b.gif\">");
}

TEST(HtmlSanitizer, InlineStyleKeepsOnlyHarmlessDeclarations) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"color:#333;font-weight:bold", "color: #333; font-weight: bold"},
        {"COLOR: Red", "color: Red"},
        {"background-color: rgb(1, 2, 3)", "background-color: rgb(1, 2, 3)"},
        {"background: url(http://x/y.png)", ""},
        {"background-color: url(http://x/y.png)", ""},
        {"width: expression(alert(1))", ""},
        {"color: red; width: calc(1px)", "color: red"},
        {"font-family: \"Times\", serif", ""},
        {"font-family: Arial, sans-serif", "font-family: Arial, sans-serif"},
        {"margin: -500px 0 0 0", ""},
        {"margin: 0 0 10px 0", "margin: 0 0 10px 0"},
        {"position: absolute; top: 0", ""},
        {"display: none", "display: none"},
        {"display: -webkit-box", ""},
        {"color: r\\65 d", ""},
        {"color:red/**/", ""},
        {";;color:;:;", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(SanitizeInlineStyle(c.in), c.out) << c.in;
}

TEST(PlainTextToHtml, EscapesLinksAndMarksQuotes) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"a < b & \"c\"", "a &lt; b &amp; &quot;c&quot;"},
        {"see https://example.com/x?a=1&b=2.", "see <a href=\"https://example.com/x?a=1&amp;b=2\" rel=\"noopener noreferrer\" "
                                               "target=\"_blank\">https://example.com/x?a=1&amp;b=2</a>."},
        {"(www.example.org)", "(<a href=\"http://www.example.org\" rel=\"noopener noreferrer\" "
                              "target=\"_blank\">www.example.org</a>)"},
        {"javascript:alert(1) and xhttp://no", "javascript:alert(1) and xhttp://no"},
        {"line1\r\nline2", "line1\nline2"},
        {"hi\r\n> quoted\r\n> > deeper\r\nback",
         "hi<blockquote class=\"qm-quote\">quoted<blockquote class=\"qm-quote\">deeper</blockquote></blockquote>back"},
        {"<name@host>", "&lt;name@host&gt;"},
        {"http://a.example/\"onmouseover=\"x", "<a href=\"http://a.example/\" rel=\"noopener noreferrer\" "
                                               "target=\"_blank\">http://a.example/</a>&quot;onmouseover=&quot;x"},
    };
    for (const auto& c : cases) {
        const std::string html = PlainTextToHtml(c.in);
        const std::string prefix = "<div class=\"qm-text\" style=\"white-space: pre-wrap\">";
        ASSERT_EQ(html.rfind(prefix, 0), 0u);
        EXPECT_EQ(html.substr(prefix.size(), html.size() - prefix.size() - 6), c.out) << c.in;
    }
}

TEST(PlainTextToHtml, HostileCorpusStaysText) {
    for (const std::string& attack : quillmark::testing::HostileCorpus()) {
        const std::string html = PlainTextToHtml(attack);
        EXPECT_EQ(Faults(html), std::vector<std::string>{}) << attack << "\n" << html;
    }
}

TEST(HtmlSanitizer, MalformedUtf8AndNulBytesDoNotReachThePage) {
    const std::string in = std::string("a\xC3(b\xFF") + std::string(1, '\0') + "<b>c</b>";
    const std::string out = SanitizeHtml(in);
    EXPECT_EQ(out.find('\0'), std::string::npos);
    EXPECT_EQ(out, "a\xEF\xBF\xBD(b\xEF\xBF\xBD<b>c</b>");
}

} // namespace
} // namespace quillmark::text
