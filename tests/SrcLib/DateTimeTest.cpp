#include "SrcLib/DateTime.h"
#include "platform/Regional.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace quillmark;

namespace {
// English names and a 24-hour long time format, whatever the machine's locale says.
class DateTimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = platform::Regional();
        platform::SetRegional(platform::RegionalSettings{});
    }
    void TearDown() override { platform::SetRegional(saved_); }
    platform::RegionalSettings saved_;
};

double At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) { return *TryEncodeDateTime(y, mo, d, h, mi, s); }
} // namespace

TEST_F(DateTimeTest, EncodeKnownValues) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(EncodeDate(2005, 3, 7), 38418.0);
    EXPECT_EQ(EncodeDate(4501, 1, 1), 949998.0); // Outlook's "no date"
    EXPECT_DOUBLE_EQ(At(1899, 12, 29, 6), -1.25);
    EXPECT_FALSE(TryEncodeDateTime(2005, 2, 29));
    EXPECT_TRUE(TryEncodeDateTime(2004, 2, 29));
    EXPECT_FALSE(TryEncodeDateTime(2005, 13, 1));
    EXPECT_FALSE(TryEncodeDateTime(2005, 1, 1, 24));
}

TEST_F(DateTimeTest, DecodeRoundTripsEveryDayOfFourCenturies) {
    for (double d = EncodeDate(1850, 1, 1); d < EncodeDate(2250, 1, 1); d += 1.0) {
        // Before 1899-12-30 the sign covers the time of day too: noon of day -1 is -1.5.
        double noon = d < 0 ? d - 0.5 : d + 0.5;
        DateParts p = DecodeDateTime(noon);
        ASSERT_EQ(p.Hour, 12);
        ASSERT_EQ(*TryEncodeDateTime(p.Year, p.Month, p.Day, p.Hour), noon);
    }
    EXPECT_EQ(DecodeDateTime(EncodeDate(2005, 3, 7)).DayOfWeek, 1); // a Monday
}

TEST_F(DateTimeTest, Patterns) {
    double t = At(2005, 3, 7, 14, 5, 9);
    EXPECT_EQ(FormatDateTime("yyyymmddhhnn", t), "200503071405");
    EXPECT_EQ(FormatDateTime("yyyy", t), "2005");
    EXPECT_EQ(FormatDateTime("yyyymm yyyymmdd mmm mmmm ddd dddd", t), "200503 20050307 Mar March Mon Monday");
    EXPECT_EQ(FormatDateTime("hh:nn:ss", t), "14:05:09");
    EXPECT_EQ(FormatDateTime("h:mm AM/PM", t), "2:05 PM");
    EXPECT_EQ(FormatDateTime("hh:mm ampm", At(2005, 3, 7, 0, 30)), "12:30 AM");
    EXPECT_EQ(FormatDateTime("\"at\" hh", t), "at 14");
}

TEST_F(DateTimeTest, TextFormAndParsingRoundTrip) {
    EXPECT_EQ(DateTimeToText(At(2005, 3, 7)), "2005-03-07");
    EXPECT_EQ(DateTimeToText(At(2005, 3, 7, 14, 5, 9)), "2005-03-07 14:05:09");
    EXPECT_EQ(DateTimeToText(0.0), "1899-12-30");
    for (double v : {At(1990, 1, 1), At(2005, 3, 1, 14, 2, 10), At(2099, 12, 31, 23, 59, 59), At(1980, 2, 29, 0, 0, 1)}) {
        auto back = TryParseDateTime(DateTimeToText(v));
        ASSERT_TRUE(back) << DateTimeToText(v);
        EXPECT_NEAR(*back, v, 1e-9) << DateTimeToText(v);
    }
}

TEST_F(DateTimeTest, TextFormWithATwelveHourLocale) {
    auto s = platform::Regional();
    s.LongTimeFormat = "h:nn:ss ampm";
    platform::SetRegional(s);
    double v = At(2005, 3, 1, 14, 2, 10);
    EXPECT_EQ(DateTimeToText(v), "2005-03-01 2:02:10 PM");
    EXPECT_NEAR(*TryParseDateTime(DateTimeToText(v)), v, 1e-9);
}

TEST_F(DateTimeTest, ParsingAcceptsAndRefuses) {
    EXPECT_NEAR(*TryParseDateTime("2005-3-7"), At(2005, 3, 7), 1e-12);
    EXPECT_NEAR(*TryParseDateTime("  2005-03-07 14:05  "), At(2005, 3, 7, 14, 5), 1e-9);
    EXPECT_NEAR(*TryParseDateTime("2005-03-07 14"), At(2005, 3, 7, 14), 1e-9);
    for (const char* bad : {"", "yesterday", "2005/03/07", "2005-02-30", "2005-03-07x", "2005-03-07 25:00",
                            "2005-03", "2005-03-07 14:05:09 XM"})
        EXPECT_FALSE(TryParseDateTime(bad)) << bad;
}

TEST(TryParseInt, Table) {
    const std::pair<const char*, std::optional<std::int32_t>> cases[] = {
        {"100", 100},        {"  100", 100},       {"-5", -5},        {"+7", 7},
        {"$FF", 255},        {"0x1f", 31},         {"-$10", -16},     {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},                {"$FFFFFFFF", -1}, {"2147483648", std::nullopt},
        {"", std::nullopt},  {"12 ", std::nullopt}, {"1e3", std::nullopt}, {"$", std::nullopt},
        {"0x", std::nullopt}, {"abc", std::nullopt}, {"-", std::nullopt}, {"$1G", std::nullopt},
    };
    for (auto& [text, value] : cases) EXPECT_EQ(TryParseInt(text), value) << text;
}
