// HTML to text on the documents that break tag strippers.
#include "text/HtmlText.h"

#include <gtest/gtest.h>

#include <string>

using quillmark::text::HtmlToText;

namespace {

struct Case {
    const char* name;
    std::string html;
    std::string text;
};

TEST(HtmlToText, HiddenTextNeverLeaks) {
    const Case cases[] = {
        {"quoted > in attribute", "<a href=\"x>y\" title='a>b'>link</a> after", "link after"},
        {"attribute with tag text", "<img alt=\"<b>not text</b>\" src=x>shown", "shown"},
        {"script", "<script>var a = '<p>'; if (a < b) {}</script>shown", "shown"},
        {"script with end tag in a string", "<script>document.write(\"<\\/script>\")</script>ok", "ok"},
        {"style", "<style>p { color: red } /* </p> */</style><p>text</p>", "text"},
        {"head and title", "<html><head><title>T</title><meta name=x content=\"y\"></head><body>B</body></html>", "B"},
        {"comment with tags", "<!-- <p>hidden</p> -->d", "d"},
        {"comment with -- inside", "a<!-- x -- y -->b", "ab"},
        {"conditional comment", "<!--[if gte mso 9]><xml><o:shapedefaults/></xml><![endif]-->x", "x"},
        {"xml island outside comments", "<xml><w:WordDocument>Print</w:WordDocument></xml>Body", "Body"},
        {"doctype", "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01//EN\">a", "a"},
        {"upper-case tags", "<SCRIPT>x</ScRiPt>after", "after"},
    };
    for (const auto& c : cases) EXPECT_EQ(HtmlToText(c.html), c.text) << c.name;
}

TEST(HtmlToText, CharacterReferences) {
    const Case cases[] = {
        {"named", "&lt;tag&gt; &amp; &quot;&apos;", "<tag> & \"'"},
        {"beyond Latin-1", "&hellip;&euro;&mdash;&alpha;&rarr;&NotEqualTilde;", "\u2026\u20AC\u2014\u03B1\u2192\u2242\u0338"},
        {"no-break space is kept", "a&nbsp;&nbsp;b", "a\u00A0\u00A0b"},
        {"numeric", "&#233;&#x20AC;&#X41;&#x1F600;", "\u00E9\u20AC" "A" "\U0001F600"},
        {"C1 numbers read as Windows-1252", "&#150;&#x93;q&#148;", "\u2013\u201Cq\u201D"},
        {"unknown name stays", "&NotANamedOne; &bogus;", "&NotANamedOne; &bogus;"},
        {"missing semicolon on a legacy name", "&copy 2024 &amp", "\u00A9 2024 &"},
        {"bare ampersand and less-than", "x < y & z", "x < y & z"},
        {"out of range", "&#x110000;&#0;", "\uFFFD\uFFFD"},
    };
    for (const auto& c : cases) EXPECT_EQ(HtmlToText(c.html), c.text) << c.name;
}

TEST(HtmlToText, LinesAndSpaces) {
    const Case cases[] = {
        {"paragraphs", "<p>a</p><p>b</p>", "a\r\n\r\nb"},
        {"br", "a<br>b<BR/>c", "a\r\nb\r\nc"},
        {"two br", "a<br><br>b", "a\r\n\r\nb"},
        {"divs", "<div>one</div><div>two</div>", "one\r\ntwo"},
        {"nested blocks give one break", "<div><div><p>x</p></div></div><div>y</div>", "x\r\n\r\ny"},
        {"empty blocks add nothing", "a<div></div><div> </div>b", "a\r\nb"},
        {"white space folds", "  lots   of \r\n\t spaces  ", "lots of spaces"},
        {"space across inline tags", "a <b> bold </b> c", "a bold c"},
        {"no space at line start", "<div> x </div> <div> y</div>", "x\r\ny"},
        {"heading", "<h1>Title</h1>text", "Title\r\n\r\ntext"},
        {"hr", "a<hr>b", "a\r\nb"},
        {"pre keeps white space", "<pre>a\n  b  c\n</pre>d", "a\r\n  b  c\r\nd"},
        {"first newline of pre is dropped", "x<pre>\n  y</pre>", "x\r\n  y"},
        {"inline inside pre", "<pre><b>  a</b>\n<i>b</i></pre>", "a\r\nb"},
        {"unclosed tags", "<p>one<p>two<div><b>three", "one\r\n\r\ntwo\r\n\r\nthree"}, // a div closes the p
        {"cut-off tag at the end", "text<unfinished", "text"},
        {"cut-off attribute", "cut <a href=\"x", "cut"},
    };
    for (const auto& c : cases) EXPECT_EQ(HtmlToText(c.html), c.text) << c.name;
}

TEST(HtmlToText, ListsAndTables) {
    const Case cases[] = {
        {"list", "<ul><li>one</li><li>two</li></ul>after", "one\r\ntwo\r\nafter"},
        {"nested list", "<ol><li>a<ul><li>a1</li><li>a2</li></ul></li><li>b</li></ol>", "a\r\na1\r\na2\r\nb"},
        {"unclosed items", "<ul><li>x<li>y</ul>", "x\r\ny"},
        {"table", "<table><tr><td>1</td><td>2</td></tr><tr><th>3</th><td> 4 </td></tr></table>", "1\t2\r\n3\t4"},
        {"cells without rows", "<table><td>a<td>b</table>c", "a\tb\r\nc"},
        {"nested table", "<table><tr><td>a<table><tr><td>x</td><td>y</td></tr></table></td><td>b</td></tr></table>",
         "a\r\nx\ty\r\nb"},
        {"text around a table", "before<table><tr><td>in</td></tr></table>after", "before\r\nin\r\nafter"},
    };
    for (const auto& c : cases) EXPECT_EQ(HtmlToText(c.html), c.text) << c.name;
}

// Malformed UTF-8 is replaced, never passed on; deep nesting is no danger.
TEST(HtmlToText, HostileInput) {
    EXPECT_EQ(HtmlToText("a\xC3(b\xFF"), "a\uFFFD(b\uFFFD");
    std::string deep;
    for (int i = 0; i < 3000; ++i) deep += "<div><span>";
    deep += "deep";
    EXPECT_EQ(HtmlToText(deep), "deep");
    EXPECT_EQ(HtmlToText(""), "");
    EXPECT_EQ(HtmlToText(std::string("a\0b", 3)), "ab");
}

} // namespace
