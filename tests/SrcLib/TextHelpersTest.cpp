#include "SrcLib/uLib.h"
#include "platform/Regional.h"

#include <gtest/gtest.h>

using namespace quillmark;

namespace {
class RegionalGuard {
public:
    explicit RegionalGuard(char decimal) : saved_(platform::Regional()) {
        auto s = saved_;
        s.DecimalSeparator = decimal;
        platform::SetRegional(s);
    }
    ~RegionalGuard() { platform::SetRegional(saved_); }

private:
    platform::RegionalSettings saved_;
};
} // namespace

TEST(FormatByteSize, Table) {
    RegionalGuard dot('.');
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, ""},
        {-5, ""},
        {1, "1 bytes"},
        {1023, "1023 bytes"},
        {1024, "1.0 KB"},
        {1280, "1.3 KB"}, // an exact half rounds away from zero
        {1536, "1.5 KB"},
        {12600, "12.3 KB"},
        {1048575, "1024.0 KB"}, // the unit is chosen before rounding
        {1048576, "1.0 MB"},
        {1073741824, "1.0 GB"},
        {1099511627776LL, "1.0 TB"},
        {5LL * 1099511627776LL + 549755813888LL, "5.5 TB"},
        {3000000000LL, "2.8 GB"}, // beyond 32 bits
    };
    for (auto& [count, text] : cases) EXPECT_EQ(FormatByteSize(count), text) << count;
}

TEST(FormatByteSize, UsesTheRegionalDecimalSeparator) {
    RegionalGuard comma(',');
    EXPECT_EQ(FormatByteSize(1536), "1,5 KB");
    EXPECT_EQ(FormatByteSize(1099511627776LL), "1,0 TB");
}

TEST(LineBreaks, EscapeAndUnescape) {
    struct Case {
        std::string text, escaped, back;
    };
    const Case cases[] = {
        {"a\r\nb\tc", "a\\nb\\tc", "a\r\nb\tc"},
        {"a\nb", "a\\nb", "a\r\nb"},      // a bare LF comes back as CR LF
        {"a\rb", "a\\rb", "a\rb"},
        {"\n\r", "\\n\\r", "\r\n\r"},     // LF CR -> \n\r -> CR LF CR
        {"", "", ""},
        {"x\\ty", "x\\ty", "x\ty"},       // an existing backslash-t turns into a TAB
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EscapeLineBreaks(c.text), c.escaped);
        EXPECT_EQ(UnescapeLineBreaks(c.escaped), c.back);
        EXPECT_EQ(EscapeLineBreaks(c.text).find_first_of("\r\n\t"), std::string::npos);
    }
}
