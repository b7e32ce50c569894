#include "platform/CodePage.h"
#include "platform/Unicode.h"

#include <gtest/gtest.h>

using namespace quillmark::platform;

TEST(CodePage, Utf16ToAnsiMapsWhatTheCodePageHasAndQuestionMarksTheRest) {
    EXPECT_EQ(AnsiFromUtf16(u"M\u00f6te \u20ac \u0160"), "M\xF6te \x80 \x8A");
    EXPECT_EQ(AnsiFromUtf16(u"\u4e2d\u6587 ok"), "?? ok");      // Chinese has no mapping
    EXPECT_EQ(AnsiFromUtf16(u"\U0001F600"), "?");               // a surrogate pair is one character
    EXPECT_EQ(AnsiFromUtf16(std::u16string(1, char16_t(0xD800)) + u"a"), "?a"); // unpaired surrogate
    EXPECT_EQ(AnsiFromUtf16(u""), "");
}

TEST(CodePage, EveryDefinedByteSurvivesTheRoundTrip) {
    for (int b = 1; b < 256; ++b) {
        std::string one(1, static_cast<char>(b));
        EXPECT_EQ(AnsiFromUtf16(Utf16FromAnsi(one)), one) << b;
        EXPECT_EQ(AnsiFromUtf8(Utf8FromAnsi(one)), one) << b;
    }
    EXPECT_EQ(Utf16FromAnsi("\x80\x9F\xE5"), u"\u20ac\u0178\u00e5");
}

TEST(CodePage, Utf8Conversions) {
    EXPECT_EQ(AnsiFromUtf8("R\xC3\xA4ksm\xC3\xB6rg\xC3\xA5s"), "R\xE4ksm\xF6rg\xE5s");
    EXPECT_EQ(AnsiFromUtf8("\xE4\xB8\xAD"), "?");
    EXPECT_EQ(AnsiFromUtf8("a\xFF" "b\xC3"), "a?b?"); // malformed input is not lost silently
    EXPECT_EQ(Utf8FromUtf16(Utf16FromUtf8("\xF0\x9F\x98\x80 \xC3\xA5")), "\xF0\x9F\x98\x80 \xC3\xA5");
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
