// The system's code page, as far as the program still uses it (the subject filter's
// expressions), under the program's rules. The suite is run with a Western
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

TEST(CodePageWin, ExactAnsiHoldsWhatTheCodePageHasAndNothingElse) {
    if (!Western()) {
        GTEST_SKIP() << "ANSI code page is " << GetACP() << ", not 1252";
    }
    EXPECT_EQ(AnsiFromUtf8Exact("M\xC3\xB6te \xE2\x82\xAC" "5 \xC5\x92uvre"), std::string("M\xF6te \x80" "5 \x8Cuvre"));
    EXPECT_EQ(AnsiFromUtf8Exact(std::string("a\0b", 3)), std::string("a\0b", 3)); // NUL goes through
    // Cyrillic, Chinese, an emoji, a byte that is no UTF-8: nothing, never "?".
    for (const char* in : {"\xD0\x9F\xD1\x80\xD0\xB8", "\xE4\xBC\x9A 12:00", "\xF0\x9F\x93\xA7", "a\xFF"})
        EXPECT_FALSE(AnsiFromUtf8Exact(in)) << in;
}

TEST(CodePageWin, NoBestFitCharacterCanStandInForAnother) {
    if (!Western()) {
        GTEST_SKIP() << "ANSI code page is " << GetACP() << ", not 1252";
    }
    // With the system's best-fit mapping these would become "\", "/", ":", "..", "8" and "a".
    const std::u16string cases[] = {u"\uff3c", u"\uff0f", u"\uff1a", u"\u2215", u"\u2024\u2024", u"\u221e",
                                    u"\u0101"};
    for (const auto& in : cases) EXPECT_FALSE(AnsiFromUtf8Exact(Utf8FromUtf16(in)));
}

TEST(CodePageWin, LongTextsConvertWhole) {
    // Longer than any fixed buffer, with a non-ASCII character at the very end.
    std::u16string in(300000, u'x');
    in += u"\u00e5";
    std::string out = Utf8FromUtf16(in);
    ASSERT_EQ(out.size(), in.size() + 1);
    EXPECT_EQ(Utf16FromUtf8(out), in);
    EXPECT_EQ(AnsiFromUtf8Exact(out)->size(), in.size());
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
