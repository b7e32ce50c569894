#include "platform/CodePage.h"
#include "platform/Unicode.h"

#include <gtest/gtest.h>

using namespace quillmark::platform;

TEST(CodePage, Utf16AndUtf8LoseNoCharacter) {
    const std::u16string texts[] = {u"M\u00f6te \u20ac \u0160", u"\u4e2d\u6587 ok", u"\U0001F600",
                                    u"\u041f\u0440\u0438\u0432\u0435\u0442", u""};
    for (const auto& text : texts) EXPECT_EQ(Utf16FromUtf8(Utf8FromUtf16(text)), text);
    EXPECT_EQ(Utf8FromUtf16(u"\u20ac\U0001F600"), "\xE2\x82\xAC\xF0\x9F\x98\x80");
    // Malformed input is not lost silently: one replacement character per bad unit or byte.
    EXPECT_EQ(Utf8FromUtf16(std::u16string(1, char16_t(0xD800)) + u"a"), "\xEF\xBF\xBD" "a");
    EXPECT_EQ(Utf16FromUtf8("a\xFF" "b\xC3"), u"a\uFFFDb\uFFFD");
}

TEST(CodePage, ExactAnsiOnlyWhenTheCodePageHoldsEveryCharacter) {
    EXPECT_EQ(AnsiFromUtf8Exact("R\xC3\xA4ksm\xC3\xB6rg\xC3\xA5s \xE2\x82\xAC"), std::string("R\xE4ksm\xF6rg\xE5s \x80"));
    EXPECT_EQ(AnsiFromUtf8Exact(""), std::string());
    EXPECT_FALSE(AnsiFromUtf8Exact("\xE4\xB8\xAD"));       // Chinese has no byte there
    EXPECT_FALSE(AnsiFromUtf8Exact("\xF0\x9F\x98\x80"));   // nor has an emoji
    EXPECT_FALSE(AnsiFromUtf8Exact("a\xFF"));              // nor a byte that is no UTF-8
}

// UTF-8 to UTF-16 goes eight ASCII bytes at a time: a multi-byte character, a bad byte or
// the end at every position of such a run must come out as one character at a time would.
TEST(CodePage, Utf8ToUtf16AtEveryPositionOfAnAsciiRun) {
    const std::string pieces[] = {"\xC3\xA5", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xFF", "\xC3", "\x80", ""};
    for (const auto& piece : pieces)
        for (std::size_t before = 0; before <= 17; ++before)
            for (std::size_t after : {0, 1, 7, 8, 9}) {
                const std::string text = std::string(before, 'a') + piece + std::string(after, 'z');
                std::u16string expected;
                for (std::size_t i = 0; i < text.size();) unicode::AppendUtf16(expected, unicode::NextUtf8(text, i));
                EXPECT_EQ(Utf16FromUtf8(text), expected) << before << " " << after << " " << piece.size();
            }
}

// And back, four units at a time: a unit beyond ASCII (two and three bytes, a pair, a lone
// half of a pair, one at the very end) at every position of such a run, and several in one
// text, must come out as one character at a time would.
TEST(CodePage, Utf16ToUtf8AtEveryPositionOfAnAsciiRun) {
    const std::u16string pieces[] = {u"\u00e5", u"\u20ac", u"\U0001F600", std::u16string(1, char16_t(0xD800)),
                                     std::u16string(1, char16_t(0xDC00)), u"\u007f", u"\u0080\u07ff\u0800\uffff",
                                     u""};
    for (const auto& piece : pieces)
        for (std::size_t before = 0; before <= 9; ++before)
            for (std::size_t after : {0, 1, 3, 4, 5}) {
                const std::u16string text = std::u16string(before, u'a') + piece + std::u16string(after, u'z') + piece;
                std::string expected;
                for (std::size_t i = 0; i < text.size();) {
                    const char32_t ch = unicode::NextUtf16(text, i);
                    unicode::AppendUtf8(expected, ch == unicode::kBad ? 0xFFFD : ch);
                }
                EXPECT_EQ(Utf8FromUtf16(text), expected) << before << " " << after << " " << piece.size();
            }
}

TEST(CodePage, CaseMapping) {
    const std::pair<unsigned char, unsigned char> pairs[] = {
        {'A', 'a'}, {'Z', 'z'}, {0xC4, 0xE4}, {0xC0, 0xE0}, {0xDE, 0xFE}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8E, 0x9E},
        {0x9F, 0xFF}};
    for (auto [up, low] : pairs) {
        EXPECT_EQ(AnsiUpper(low), up) << int(low);
        EXPECT_EQ(AnsiLower(up), low) << int(up);
    }
    for (int c : {0xD7, 0xF7, 0xDF, int('1'), int('_'), 0xB5}) {
        auto b = static_cast<unsigned char>(c);
        EXPECT_EQ(AnsiUpper(b), b) << c;
        EXPECT_EQ(AnsiLower(b), b) << c;
    }
}
