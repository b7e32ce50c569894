// The system's code page under the program's rules. The suite is run with a Western
// European ANSI code page (1252, as in the CI's Wine prefix); the test says so and stops
// where that is not the case.
#include "platform/CodePage.h"

#include <gtest/gtest.h>
#include <windows.h>
#undef AnsiUpper
#undef AnsiLower

using namespace quillmark::platform;

namespace {
bool Western() { return GetACP() == 1252; }
} // namespace

TEST(CodePageWin, NonLatinTextBecomesQuestionMarksOneForEachCharacter) {
    if (!Western()) {
        GTEST_SKIP() << "ANSI code page is " << GetACP() << ", not 1252";
    }
    const std::pair<std::u16string, std::string> cases[] = {
        {u"\u041f\u0440\u0438\u0432\u0435\u0442", "??????"},            // Cyrillic
        {u"\u4f1a\u8bae 12:00", "?? 12:00"},                               // Chinese
        {u"\u05e9\u05dc\u05d5\u05dd!", "????" "!"},                           // Hebrew
        {u"M\u00f6te \u20ac5 \u0152uvre", "M\xF6te \x80" "5 \x8Cuvre"},   // what 1252 has stays
        {u"\U0001F4E7 mail", "? mail"},                                    // a surrogate pair is one character
        {std::u16string(1, char16_t(0xDC00)) + u"x", "?x"},               // so is a lone half
        {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},             // NUL goes through
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(Utf8FromUtf16(in), out) << Utf8FromUtf16(in);
    EXPECT_EQ("\xD0\x9F\xD1\x80\xD0\xB8", "???");
}

TEST(CodePageWin, NoBestFitCharacterCanBecomeAPathDelimiter) {
    if (!Western()) {
        GTEST_SKIP() << "ANSI code page is " << GetACP() << ", not 1252";
    }
    // With the system's best-fit mapping these would become "\", "/", ":", "..", "8" and "a":
    // an attachment named with fullwidth delimiters would then write outside its folder.
    const std::u16string cases[] = {u"\uff3c", u"\uff0f", u"\uff1a", u"\u2215", u"\u2024\u2024", u"\u221e",
                                    u"\u0101"};
    for (const auto& in : cases) EXPECT_EQ(Utf8FromUtf16(in), std::string(in.size(), '?'));
}

TEST(CodePageWin, LongTextsConvertWhole) {
    // Longer than any fixed buffer, with a non-ASCII character at the very end.
    std::u16string in(300000, u'x');
    in += u"\u00e5";
    std::string out = Utf8FromUtf16(in);
    ASSERT_EQ(out.size(), in.size());
    EXPECT_EQ(Utf16FromUtf8(out), in);
}

TEST(CodePageWin, CaseMappingFollowsTheCodePage) {
    if (!Western()) {
        GTEST_SKIP() << "ANSI code page is " << GetACP() << ", not 1252";
    }
    // Every letter pair of the code page maps both ways; everything else stays.
    int pairs = 0;
    for (int b = 0; b < 256; ++b) {
        auto c = static_cast<unsigned char>(b);
        unsigned char up = AnsiUpper(c), low = AnsiLower(c);
        if (up != c) {
            EXPECT_EQ(AnsiLower(up), c) << b;
            ++pairs;
        }
        if (low != c) {
            EXPECT_EQ(AnsiUpper(low), c) << b;
        }
    }
    EXPECT_EQ(pairs, 26 + 30 + 4); // a-z, à-þ without ÷ (and ß, which has no capital), š œ ž ÿ
    EXPECT_EQ(AnsiUpper(0xFF), 0x9F);
    EXPECT_EQ(AnsiLower(0xD7), 0xD7);
    EXPECT_EQ(AnsiUpper(0xB5), 0xB5); // micro sign: its capital is Greek, not in the code page
}
