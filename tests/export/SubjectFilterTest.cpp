// The subject filter: the "(or)" of its lines and what a bad expression does.
#include "export/SubjectFilter.h"

#include <gtest/gtest.h>

namespace quillmark {
namespace {

struct Seen {
    std::vector<std::pair<std::string, int>> statuses;
    StatusFunction Fn() {
        return [this](const std::string& t, int m) { statuses.emplace_back(t, m); };
    }
};

TEST(SubjectMatches, Table) {
    struct Case {
        std::vector<std::string> lines;
        std::string subject;
        bool result;
        bool error;
    };
    const std::vector<Case> cases = {
        {{}, "anything", true, false},
        {{""}, "anything", false, false},
        {{"", ""}, "", false, false},
        {{"^Re:", "Offer"}, "Special Offer", true, false},
        {{"^Re:"}, "Fwd: Re: x", false, false},
        {{"", "voice"}, "Invoice", true, false},
        {{" "}, "a b", true, false}, // a line of blanks is an expression too
        {{" "}, "ab", false, false},
        {{"("}, "x", false, true},
        {{"x", "("}, "x", true, false},  // the first matches: the bad second is never tried
        {{"(", "x"}, "x", false, true},  // the first raises: the second is never tried
    };
    for (const auto& c : cases) {
        Seen seen;
        EXPECT_EQ(SubjectMatches(c.lines, c.subject, seen.Fn()), c.result) << c.subject;
        if (c.error) {
            ASSERT_EQ(seen.statuses.size(), 1u);
            EXPECT_EQ(seen.statuses[0], (std::pair<std::string, int>{"Regular expression error...", 1}));
        } else {
            EXPECT_TRUE(seen.statuses.empty());
        }
    }
}

TEST(SubjectMatches, TheLineIsTheExpressionAndTheSubjectTheInput) {
    Seen seen;
    // As expression the subject "a+" would match "aaa"; the other way round it does not.
    EXPECT_FALSE(SubjectMatches({"aaa"}, "a+", seen.Fn()));
    EXPECT_TRUE(SubjectMatches({"a+"}, "xaaa", seen.Fn()));
}

} // namespace
} // namespace quillmark
