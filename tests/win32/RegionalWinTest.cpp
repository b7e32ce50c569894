#include "SrcLib/DateTime.h"
#include "platform/Regional.h"
#include "platform/win32/Win32Regional.h"

#include <gtest/gtest.h>

using namespace quillmark;
using namespace quillmark::platform;

TEST(RegionalWin, WindowsTimeFormatsBecomeFormatterPatterns) {
    const std::pair<std::string, std::string> cases[] = {
        {"h:mm:ss tt", "h:nn:ss ampm"}, // en-US
        {"HH:mm:ss", "hh:nn:ss"},       // sv-SE, de-DE
        {"H:mm:ss", "h:nn:ss"},
        {"HH.mm.ss", "hh.nn.ss"},       // fi-FI
        {"HH' h 'mm", "hh\" h \"nn"},   // fr-CA: quoted text stays text
        {"tt h:mm:ss", "ampm h:nn:ss"}, // ko-KR puts the marker first
        {"HH:mm''ss", "hh:nn\"'\"ss"},  // '' is an apostrophe
        {"", "hh:nn:ss"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(TimePatternFromWindows(in), out) << in;
}

TEST(RegionalWin, PatternsFromWindowsFormatTimesAsWindowsDoes) {
    RegionalSettings saved = Regional();
    const double t = *TryEncodeDateTime(2026, 12, 8, 14, 5, 9);
    RegionalSettings s;
    s.LongTimeFormat = TimePatternFromWindows("h:mm:ss tt");
    SetRegional(s);
    EXPECT_EQ(DateTimeToText(t), "2026-12-08 2:05:09 PM");
    s.LongTimeFormat = TimePatternFromWindows("HH' h 'mm");
    SetRegional(s);
    EXPECT_EQ(DateTimeToText(t), "2026-12-08 14 h 05");
    SetRegional(saved);
}

TEST(RegionalWin, TheUsersLocaleIsRead) {
    RegionalSettings s = ReadRegionalFromLocale();
    // Whatever the language, every name is there and the lists are in calendar order: the
    // long names are never shorter than the short ones.
    for (int i = 0; i < 12; ++i) {
        EXPECT_FALSE(s.LongMonthNames[i].empty()) << i;
        EXPECT_GE(s.LongMonthNames[i].size(), s.ShortMonthNames[i].size()) << i;
    }
    for (int i = 0; i < 7; ++i) EXPECT_GE(s.LongDayNames[i].size(), s.ShortDayNames[i].size()) << i;
    EXPECT_NE(s.LongTimeFormat.find('n'), std::string::npos) << s.LongTimeFormat;
    if (s.LongMonthNames[0] == "January") {
        // An English locale, as in the CI's Wine prefix: Sunday comes first.
        EXPECT_EQ(s.LongDayNames[0], "Sunday");
        EXPECT_EQ(s.ShortDayNames[1], "Mon");
        EXPECT_EQ(s.LongMonthNames[11], "December");
        EXPECT_EQ(s.DecimalSeparator, '.');
    }
}
