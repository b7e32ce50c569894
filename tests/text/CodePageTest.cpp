// 8-bit code pages to Unicode.
#include "text/CodePage.h"

#include "platform/CodePage.h"
#include "platform/Cp1252.h"

#include <gtest/gtest.h>

#include <string>

using namespace quillmark;
using namespace quillmark::text;

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

TEST(CodePage, DecodesEachPageItsOwnWay) {
    struct Case {
        std::uint32_t codePage;
        std::string bytes;
        std::u16string text;
    } cases[] = {
        // Windows-1252 and the labels read as it, undefined bytes as the C1 control.
        {1252, Bytes({'a', 0x80, 0x81, 0x8D, 0x8F, 0x90, 0x9D, 0x9F, 0xE9}), u"a\u20AC\u0081\u008D\u008F\u0090\u009D\u0178\u00E9"},
        {0, Bytes({0x93, 'q', 0x94}), u"\u201Cq\u201D"},
        {28591, Bytes({0x96, 0xFF}), u"\u2013\u00FF"},
        {20127, Bytes({0x85}), u"\u2026"},
        // Other Windows code pages.
        {1250, Bytes({0x8A, 0x9E, 0xA3, 0xB9}), u"\u0160\u017E\u0141\u0105"},
        {1251, Bytes({0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2, 0x88}), u"\u041F\u0440\u0438\u0432\u0435\u0442\u20AC"},
        {1251, Bytes({0x98}), u"\u0098"}, // undefined
        {1253, Bytes({0xE1, 0xE2, 0xE3, 0xA2}), u"\u03B1\u03B2\u03B3\u0386"},
        {1254, Bytes({0xD0, 0xDD, 0xFE}), u"\u011E\u0130\u015F"},
        {1255, Bytes({0xE0, 0xF9, 0xA4}), u"\u05D0\u05E9\u20AA"},
        {1256, Bytes({0xC7, 0xE1}), u"\u0627\u0644"},
        {1257, Bytes({0xC0, 0xE0}), u"\u0104\u0105"},
        {1258, Bytes({0xC3, 0xD2}), u"\u0102\u0309"},
        {874, Bytes({0xA1, 0xD2}), u"\u0E01\u0E32"},
        // ISO-8859: the C1 range is C1 controls, not Windows punctuation.
        {28592, Bytes({0x80, 0xA1, 0xB3, 0xBF}), u"\u0080\u0104\u0142\u017C"},
        {28595, Bytes({0xBF, 0xF0}), u"\u041F\u2116"},
        {28597, Bytes({0xE1, 0xA4}), u"\u03B1\u20AC"},
        {28598, Bytes({0xAA, 0xD7, 0xE0}), u"\u00D7\uFFFD\u05D0"}, // 0xD7 is a hole
        {28605, Bytes({0xA4, 0xBC, 0xBD}), u"\u20AC\u0152\u0153"},
        {20866, Bytes({0xF0, 0xD2, 0xC9}), u"\u041F\u0440\u0438"},
        // Unicode forms.
        {65001, Bytes({0xC3, 0xA9, 0xF0, 0x9F, 0x98, 0x80}), u"\u00E9\U0001F600"},
        {65001, Bytes({'a', 0xC3, 'b'}), u"a\uFFFDb"},
        {1200, Bytes({0x41, 0, 0x3D, 0xD8, 0x00, 0xDE}), u"A\U0001F600"},
        // A multi-byte code page that is not decoded: ASCII still reads.
        {936, Bytes({'O', 'K', 0xB2, 0xC9}), u"OK\uFFFD\uFFFD"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf16FromCodePage(c.bytes, c.codePage), c.text) << "code page " << c.codePage;
        EXPECT_EQ(Utf8FromCodePage(c.bytes, c.codePage), platform::Utf8FromUtf16(c.text)) << "code page " << c.codePage;
    }
}

// Windows-1252 is the platform's one table: both directions agree on every byte.
TEST(CodePage, Windows1252IsThePlatformTable) {
    for (int b = 0; b < 256; ++b) {
        const char16_t ch = CharFromByte(static_cast<unsigned char>(b), codepage::Windows1252);
        EXPECT_EQ(platform::cp1252::FromUnicode(ch), b) << b;
    }
}

// In a decoded single-byte code page no two bytes give the same character, so nothing is
// merged away (holes above 0x9F aside, which are U+FFFD); a page that is not decoded says so.
TEST(CodePage, DecodedPagesAreOneToOne) {
    for (std::uint32_t page : {874u, 1250u, 1251u, 1253u, 1254u, 1255u, 1256u, 1257u, 1258u, 20866u, 21866u, 28592u,
                               28593u, 28594u, 28595u, 28596u, 28597u, 28598u, 28599u, 28600u, 28601u, 28603u,
                               28604u, 28605u, 28606u}) {
        ASSERT_TRUE(IsDecoded(page)) << page;
        std::u16string seen;
        for (int b = 0x80; b < 0x100; ++b) {
            const char16_t ch = CharFromByte(static_cast<unsigned char>(b), page);
            if (ch == 0xFFFD) continue;
            EXPECT_EQ(seen.find(ch), std::u16string::npos) << "code page " << page << " byte " << b;
            EXPECT_GE(ch, 0x80) << "code page " << page << " byte " << b;
            seen += ch;
        }
    }
    EXPECT_FALSE(IsDecoded(932));
    EXPECT_EQ(CharFromByte(0x41, 932), u'A');
}

} // namespace
