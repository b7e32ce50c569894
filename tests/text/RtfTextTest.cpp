// RTF to text, and HTML wrapped in RTF reading like the same HTML.
#include "text/RtfText.h"

#include "text/HtmlText.h"

#include <gtest/gtest.h>

#include <string>

using namespace quillmark::text;

namespace {

TEST(RtfToText, PlainRtfGivesItsText) {
    struct Case {
        std::string rtf;
        std::string text;
    } cases[] = {
        {"{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 Hello\\par World}", "Hello\r\nWorld"},
        {"{\\rtf1 caf\\'e9 \\u8364? end}", "caf\u00E9 \u20AC end"},
        {"{\\rtf1\\uc2 \\u8364 ABC}", "\u20ACC"},
        {"{\\rtf1 \\u-10179?\\u-8704?}", "\U0001F600"}, // a surrogate pair as two \u
        {"{\\rtf1{\\*\\generator Riched20;}{\\info{\\author X}}Body\\par\\par}", "Body"},
        {"{\\rtf1 a\\tab b\\line c \\{x\\}}", "a\tb\r\nc {x}"},
        {"{\\rtf1 {\\pict\\bin4 }}}}}x}", "x"},
        {std::string("{\\rtf1 padded\\par }\0\0", 21), "padded"},
        {"{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}", "\u041F\u0440\u0438"},
        {"{\\rtf1\\ansi\\ansicpg1250 \\'8a\\'b9}", "\u0160\u0105"},
        {"{\\rtf1 \\emdash\\~\\ldblquote q\\rdblquote}", "\u2014\u00A0\u201Cq\u201D"},
    };
    for (const auto& c : cases) EXPECT_EQ(RtfToText(c.rtf), c.text) << c.rtf;
}

TEST(RtfToText, WrappedHtmlReadsLikeTheHtml) {
    const std::string rtf = "{\\rtf1\\ansi\\fromhtml1 {\\fonttbl{\\f0 Arial;}}"
                            "{\\*\\htmltag19 <html>}{\\*\\htmltag34 <head><style>p\\{\\}</style></head>}"
                            "{\\*\\htmltag64 <p>}\\htmlrtf {\\htmlrtf0 Tom &amp; Jerry&hellip;}\\htmlrtf0 "
                            "{\\*\\htmltag72 </p>}\\htmlrtf \\par RTF only\\htmlrtf0 "
                            "{\\*\\htmltag64 <p>}x{\\*\\htmltag84 <a href=\"u>v\">}caf\\'e9{\\*\\htmltag92 </a>}"
                            "{\\*\\htmltag72 </p>}{\\*\\htmltag0 <script>}{\\*\\htmltag0 alert(1)}{\\*\\htmltag0 </script>}}";
    const std::string html = "<html><head><style>p{}</style></head><p>Tom &amp; Jerry&hellip;</p>"
                             "<p>x<a href=\"u>v\">caf\u00E9</a></p><script>alert(1)</script>";
    EXPECT_EQ(RtfToText(rtf), HtmlToText(html));
    EXPECT_EQ(HtmlToText(html), "Tom & Jerry\u2026\r\n\r\nxcaf\u00E9");
}

TEST(RtfToText, HostileNestingDoesNotOverflow) {
    std::string rtf(200000, '{');
    rtf += "deep";
    EXPECT_EQ(RtfToText(rtf), "deep");
    EXPECT_EQ(RtfToText("\\"), "");
    EXPECT_EQ(RtfToText("{\\rtf1 \\'"), "");
}

} // namespace
