// The matcher: where matches are found, anchors and line separators, word boundaries,
// back-references, greedy and lazy repetition, the loop stack, run-time errors, case folding
// and long inputs.
#include <gtest/gtest.h>

#include <string>

#include "regex/RegExpr.h"

using namespace quillmark;

namespace {

struct Span {
    std::ptrdiff_t pos;
    std::ptrdiff_t len;
    bool operator==(const Span& o) const { return pos == o.pos && len == o.len; }
};

std::ostream& operator<<(std::ostream& os, const Span& s) {
    return os << "{" << s.pos << "," << s.len << "}";
}

// Group n of the first match, {-1,-1} when there is none.
Span Find(const std::string& expression, const std::string& input, int n = 0) {
    TRegExpr re;
    re.SetExpression(expression);
    if (!re.Exec(input)) return {-1, -1};
    return {re.MatchPos(n), re.MatchLen(n)};
}

int ErrorOf(const std::string& expression, const std::string& input) {
    try {
        MatchExpression(expression, input);
    } catch (const ERegExpr& e) {
        return e.ErrorNumber;
    }
    return 0;
}

const std::string CRLF = "\r\n";

} // namespace

struct FindCase {
    const char* expression;
    const char* input;
    Span whole;
};

class Finds : public ::testing::TestWithParam<FindCase> {};

TEST_P(Finds, FirstMatch) {
    const FindCase& c = GetParam();
    EXPECT_EQ(Find(c.expression, c.input), c.whole) << c.expression << " in " << c.input;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Finds,
    ::testing::Values(
        FindCase{"abc", "xxabcxx", {3, 3}}, FindCase{"^b", "ab", {-1, -1}}, FindCase{"b$", "ab", {2, 1}},
        FindCase{"x*", "", {1, 0}}, FindCase{"x*", "abc", {1, 0}}, FindCase{"c|b", "abc", {2, 1}},
        FindCase{"a.c", "a\nc", {1, 3}}, FindCase{"(?-s)a.c", "a\nc", {-1, -1}},
        FindCase{"(?-s)a.c", "a\rc a-c", {5, 3}}, FindCase{"a+", "baaab", {2, 3}},
        FindCase{"a+?", "baaab", {2, 1}}, FindCase{"(?-g)a+", "baaab", {2, 1}},
        FindCase{"(?-g)a+?", "baaab", {2, 1}}, FindCase{"a{2,4}", "aaaaa", {1, 4}},
        FindCase{"a{2,4}?", "aaaaa", {1, 2}}, FindCase{"a{2,}", "aaaaa", {1, 5}},
        FindCase{"<.+>", "<a><b>", {1, 6}}, FindCase{"<.+?>", "<a><b>", {1, 3}},
        FindCase{"<.*?>x", "<a><b>x", {1, 7}}, FindCase{"(ab)+", "xababab", {2, 6}},
        FindCase{"(ab)+?", "xababab", {2, 2}}, FindCase{"(ab){1,2}", "ababab", {1, 4}},
        FindCase{"(ab){1,2}?", "ababab", {1, 2}}, FindCase{"(ab)*?c", "ababc", {1, 5}},
        FindCase{"(ab)??c", "abc", {1, 3}}, FindCase{"(ab)?c", "abc", {1, 3}},
        FindCase{"(a|ab)(c|bcd)(d*)", "abcd", {1, 4}}, FindCase{"\\d+", "ab123c", {3, 3}},
        FindCase{"\\D+", "12ab3", {3, 2}}, FindCase{"\\s\\w+", "one two", {4, 4}},
        FindCase{"[0-9]{4}", "in 2026!", {4, 4}}, FindCase{"a\\Z", "aa", {2, 1}},
        FindCase{"\\Aa", "aa", {1, 1}}, FindCase{"$", "ab", {3, 0}}, FindCase{"(x{0,3})*y", "xxxxy", {1, 5}},
        FindCase{"(x{0,3})*", "", {1, 0}}, FindCase{"(x{0,3}){2,5}y", "y", {1, 1}},
        FindCase{"(x{0,3})+y", "zy", {2, 1}}, FindCase{"(x{0,3})*?y", "xxy", {1, 3}},
        FindCase{"(a|b)*c", "abbac", {1, 5}}, FindCase{"((a)|b)+c", "babc", {1, 4}},
        FindCase{"(x{0,3}){3}y", "y", {1, 1}}, FindCase{"(x{0,3}){0,99999999}y", "xxxxy", {1, 5}},
        FindCase{".*b", "aab", {1, 3}}, FindCase{".*?b", "aab", {1, 3}},
        FindCase{"(?-s).*b", "a\nab", {3, 2}}, FindCase{"(?i)^A", "ab", {1, 1}},
        FindCase{"(?i)\\bteam\\s+(lunch|meeting)\\b", "a TEAM  Meeting!", {3, 13}},
        FindCase{"(?i)x(?-i)Ab", "xab XAb", {5, 3}}, FindCase{"(?i)REPORT", "monthly report", {9, 6}}));

TEST(Finds, ExecFromOffsets) {
    TRegExpr re;
    re.SetExpression("abc");
    ASSERT_TRUE(re.Exec("abcabc"));
    EXPECT_EQ(re.MatchPos(0), 1);
    ASSERT_TRUE(re.ExecFrom(2));
    EXPECT_EQ(re.MatchPos(0), 4);
    EXPECT_FALSE(re.ExecFrom(5));
    re.SetExpression("x*");
    ASSERT_TRUE(re.Exec("abc"));
    EXPECT_TRUE(re.ExecFrom(4)); // the empty tail is searched
    EXPECT_EQ(re.MatchPos(0), 4);
    EXPECT_FALSE(re.ExecFrom(5));
    re.SetExpression("^a");
    ASSERT_TRUE(re.Exec("aa"));
    EXPECT_FALSE(re.ExecFrom(2)); // "^" is the input start, not the offset
    re.SetExpression(".*b");      // tried from the offset only, which covers every later start
    ASSERT_TRUE(re.Exec("abab"));
    EXPECT_EQ(re.MatchLen(0), 4);
    ASSERT_TRUE(re.ExecFrom(3));
    EXPECT_EQ(re.MatchPos(0), 3);
    EXPECT_EQ(re.MatchLen(0), 2);
}

TEST(Finds, InputEndsAtZeroByte) {
    EXPECT_FALSE(MatchExpression("cd", std::string("ab\0cd", 5)));
    TRegExpr re;
    re.SetExpression("b$");
    EXPECT_TRUE(re.Exec(std::string("ab\0cd", 5)));
    EXPECT_EQ(re.InputString(), "ab");
}

TEST(LineSeparators, MultiLineAnchors) {
    EXPECT_TRUE(MatchExpression("(?m)^b", "a" + CRLF + "b"));
    EXPECT_TRUE(MatchExpression("(?m)a$", "a" + CRLF + "b"));
    EXPECT_TRUE(MatchExpression("(?m)^b", "a\nb"));
    EXPECT_TRUE(MatchExpression("(?m)^b", "a\rb"));
    EXPECT_FALSE(MatchExpression("^b", "a\nb"));
    EXPECT_FALSE(MatchExpression("a$", "a\nb"));
    // Neither "^" nor "$" stands between the CR and the LF of a pair.
    EXPECT_FALSE(MatchExpression("(?m)\r$", "a" + CRLF + "b"));
    EXPECT_FALSE(MatchExpression("(?m)^\n", "a" + CRLF + "b"));
    EXPECT_TRUE(MatchExpression("(?m)\n$", "a\n\nb"));
    // \A and \Z ignore m.
    EXPECT_FALSE(MatchExpression("(?m)\\Ab", "a\nb"));
    EXPECT_FALSE(MatchExpression("(?m)a\\Z", "a\nb"));
    EXPECT_EQ(Find("(?m)$", "ab" + CRLF + "c"), (Span{3, 0}));
    EXPECT_EQ(Find("(?m)^.", "ab" + CRLF + "c"), (Span{1, 1}));
    EXPECT_EQ(Find("(?m)^c", "ab" + CRLF + "c"), (Span{5, 1}));
}

TEST(LineSeparators, DotWithoutSStopsAtSeparators) {
    EXPECT_FALSE(MatchExpression("(?-s)a.b", "a\rb"));
    EXPECT_FALSE(MatchExpression("(?-s)a.+", "a" + CRLF));
    EXPECT_EQ(Find("(?-s).+", "ab" + CRLF + "cd"), (Span{1, 2}));
    TRegExpr re;
    re.SetLineSeparatorChars("");
    re.SetExpression("(?-s)a.b");
    EXPECT_TRUE(re.Exec("a\nb"));
    EXPECT_FALSE(re.Exec("a" + CRLF + "b")); // the pair still separates
}

TEST(LineSeparators, PairedSeparatorOnly) {
    // Only the CR LF pair separates lines: "$" must still be found in front of it (the
    // search hints must not skip the CR).
    TRegExpr re;
    re.SetLineSeparatorChars("");
    re.SetExpression("(?m)$");
    ASSERT_TRUE(re.Exec("a" + CRLF + "b"));
    EXPECT_EQ(re.MatchPos(0), 2);
    re.SetExpression("(?m)^b");
    EXPECT_TRUE(re.Exec("a" + CRLF + "b"));
    EXPECT_FALSE(re.Exec("a\nb"));
}

TEST(LineSeparators, NoSeparatorMeansTextAnchors) {
    TRegExpr re;
    re.SetLineSeparatorChars("");
    re.SetLinePairedSeparator("");
    re.SetExpression("(?m)^b");
    EXPECT_FALSE(re.Exec("a\nb"));
    re.SetExpression("(?m)^a");
    EXPECT_TRUE(re.Exec("a\nb"));
}

TEST(WordBoundaries, Boundaries) {
    EXPECT_TRUE(MatchExpression("\\bfoo\\b", "a foo."));
    EXPECT_FALSE(MatchExpression("\\bfoo\\b", "afoo"));
    EXPECT_TRUE(MatchExpression("\\bfoo\\b", "foo"));
    EXPECT_TRUE(MatchExpression("\\Bfoo", "afoo"));
    EXPECT_FALSE(MatchExpression("\\Bfoo", "a foo"));
    EXPECT_TRUE(MatchExpression("^\\B$", ""));
    TRegExpr re;
    re.SetWordCharacters("abcdefghijklmnopqrstuvwxyz-");
    re.SetExpression("\\bfoo\\b");
    EXPECT_FALSE(re.Exec("x-foo"));
    EXPECT_TRUE(re.Exec("1foo2"));
    re.SetExpression("^\\w+$"); // \w follows the setting too
    EXPECT_TRUE(re.Exec("a-b"));
    EXPECT_FALSE(re.Exec("a_b"));
}

TEST(BackReferences, GroupsAndReferences) {
    EXPECT_EQ(Find("(a+)b\\1", "aabaa"), (Span{1, 5}));
    EXPECT_EQ(Find("(a+)b\\1", "aabaa", 1), (Span{1, 2}));
    EXPECT_FALSE(MatchExpression("(a)|b\\1", "b"));
    EXPECT_TRUE(MatchExpression("(?i)(a)\\1", "aA"));
    EXPECT_FALSE(MatchExpression("(a)\\1", "aA"));
    EXPECT_TRUE(MatchExpression("^(\\w+) \\1$", "bye bye"));
    EXPECT_FALSE(MatchExpression("^(\\w+) \\1$", "bye byte"));
    EXPECT_FALSE(MatchExpression("\\2(a)", "a")); // an unset group matches nothing
    EXPECT_EQ(Find("(a)(b)?", "ac", 2), (Span{-1, -1}));
}

TEST(BackReferences, RepeatedReferenceStepsByTheGroupText) {
    EXPECT_EQ(Find("(ab)\\1*x", "abababx"), (Span{1, 7}));
    EXPECT_EQ(Find("(ab)\\1*", "ababa"), (Span{1, 4}));
    EXPECT_EQ(Find("(ab)\\1*?a", "ababa"), (Span{1, 3}));
    EXPECT_TRUE(MatchExpression("^(ab)\\1{2}$", "ababab"));
    EXPECT_FALSE(MatchExpression("^(ab)\\1{2}$", "abab"));
    EXPECT_FALSE(MatchExpression("^(ab)\\1+$", "abba"));
    // An empty group repeats without end in principle; the count stops at once.
    EXPECT_EQ(Find("()\\1*a", "a"), (Span{1, 1}));
    EXPECT_EQ(Find("()\\1+a", "a"), (Span{1, 1}));
    EXPECT_EQ(Find("()\\1{5,99999999}?a", "a"), (Span{1, 1}));
}

TEST(Loops, TenNestedLoopsRunElevenAreTooMany) {
    auto nested = [](int depth) {
        std::string text;
        for (int k = 0; k < depth; ++k)
            text += "(";
        text += "a";
        for (int k = 0; k < depth; ++k)
            text += "){1,2}";
        return text;
    };
    EXPECT_TRUE(MatchExpression(nested(10), "a"));
    EXPECT_EQ(ErrorOf(nested(11), "a"), 1014);
    // Loops one after another do not count as nested.
    std::string sequence;
    for (int k = 0; k < 12; ++k)
        sequence += "(a){1,2}";
    EXPECT_TRUE(MatchExpression(sequence, std::string(12, 'a')));
}

TEST(RunTimeErrors, CodesAndMessages) {
    try {
        MatchExpression("", "x");
        FAIL();
    } catch (const ERegExpr& e) {
        EXPECT_EQ(e.ErrorNumber, 1003);
        EXPECT_EQ(e.ErrorPosition, 0);
        EXPECT_EQ(std::string(e.what()), "TRegExpr(exec): Not Assigned Expression Property");
    }
    TRegExpr re;
    re.SetExpression("a");
    try {
        re.ExecFrom(1);
        FAIL();
    } catch (const ERegExpr& e) {
        EXPECT_EQ(e.ErrorNumber, 1005);
    }
    ASSERT_TRUE(re.Exec("a"));
    try {
        re.ExecFrom(0);
        FAIL();
    } catch (const ERegExpr& e) {
        EXPECT_EQ(e.ErrorNumber, 1006);
        EXPECT_EQ(std::string(e.what()), "TRegExpr(exec): Offset Must Be Greater Then 0");
    }
    EXPECT_TRUE(re.Exec("a")); // still usable
    EXPECT_EQ(re.ErrorText(0), "No errors");
    EXPECT_EQ(re.ErrorText(4242), "Unknown error");
    re.SetExpression("");
    EXPECT_THROW(re.Exec("a"), ERegExpr);
    EXPECT_EQ(re.LastErrorCode(), 1003);
}

TEST(RunTimeErrors, BacktrackLimitOnRequest) {
    TRegExpr re;
    re.SetExpression("^(a+)+$");
    std::string hopeless(30, 'a');
    hopeless += 'b';
    re.SetBacktrackLimit(100000);
    try {
        re.Exec(hopeless);
        FAIL();
    } catch (const ERegExpr& e) {
        EXPECT_EQ(e.ErrorNumber, 1016);
    }
    EXPECT_TRUE(re.Exec("aaaa"));
}

TEST(CaseFolding, CodePageSwapCase) {
    // Windows-1252: a-umlaut 0xE4 / A-umlaut 0xC4, s-caron 0x9A / S-caron 0x8A,
    // y-diaeresis 0xFF / Y-diaeresis 0x9F; the multiplication sign 0xD7 has no partner.
    EXPECT_TRUE(MatchExpression("(?i)\xE4pfel", "\xC4PFEL"));
    EXPECT_TRUE(MatchExpression("(?i)\xC4PFEL", "\xE4pfel"));
    EXPECT_FALSE(MatchExpression("\xE4pfel", "\xC4PFEL"));
    EXPECT_TRUE(MatchExpression("(?i)\x9A", "\x8A"));
    EXPECT_TRUE(MatchExpression("(?i)\xFF", "\x9F"));
    EXPECT_TRUE(MatchExpression("(?i)[\xE4]", "\xC4"));
    EXPECT_TRUE(MatchExpression("(?i)\xD7", "\xD7"));
    EXPECT_FALSE(MatchExpression("(?i)\xD7", "\xF7"));
    EXPECT_TRUE(MatchExpression("(?i)(\xE4)\\1", "\xE4\xC4"));
    EXPECT_TRUE(MatchExpression("(?i)^\xE4+$", "\xE4\xC4\xE4"));
    TRegExpr re;
    EXPECT_EQ(re.SwapCase('a'), 'A');
    EXPECT_EQ(re.SwapCase('A'), 'a');
    EXPECT_EQ(re.SwapCase('1'), '1');
    EXPECT_EQ(re.SwapCase(0xE4), 0xC4);
}

TEST(CaseFolding, ReplaceableSwapCase) {
    TRegExpr re;
    re.SetSwapCase([](unsigned char c) -> unsigned char { return c == 'a' ? 'b' : c == 'b' ? 'a' : c; });
    re.SetExpression("(?i)a");
    EXPECT_TRUE(re.Exec("b"));
    EXPECT_FALSE(re.Exec("A"));
}

// Long inputs: the matcher's depth is not the machine stack's.
class LongInputs : public ::testing::Test {
protected:
    static constexpr std::size_t MiB = 1u << 20;
};

TEST_F(LongInputs, AlternationLoop) {
    std::string subject;
    subject.reserve(MiB + 1);
    for (std::size_t k = 0; k < MiB / 2; ++k)
        subject += "ab";
    EXPECT_FALSE(MatchExpression("(a|b)*c", subject));
    subject += 'c';
    EXPECT_EQ(Find("(a|b)*c", subject), (Span{1, static_cast<std::ptrdiff_t>(MiB + 1)}));
}

TEST_F(LongInputs, GroupPlusAtEnd) {
    std::string subject;
    for (std::size_t k = 0; k < MiB / 2; ++k)
        subject += "ab";
    EXPECT_EQ(Find("(ab)+$", subject), (Span{1, static_cast<std::ptrdiff_t>(MiB)}));
    EXPECT_EQ(Find("(ab)+?$", subject), (Span{1, static_cast<std::ptrdiff_t>(MiB)}));
}

TEST_F(LongInputs, CountedComplexLoop) {
    std::string subject;
    for (int k = 0; k < 50000; ++k)
        subject += "xy";
    subject += 'z';
    subject.resize(MiB, 'y');
    EXPECT_EQ(Find("((x)|y){0,100000}z", subject), (Span{1, 100001}));
    EXPECT_EQ(Find("((x)|y){0,100000}?z", subject), (Span{1, 100001}));
}

TEST_F(LongInputs, NestedGroupsAndLazyLoops) {
    std::string subject(MiB, 'a');
    subject += 'b';
    std::string nested;
    for (int k = 0; k < 14; ++k)
        nested += "(";
    nested += "a";
    for (int k = 0; k < 14; ++k)
        nested += ")";
    EXPECT_EQ(Find(nested + "*b", subject), (Span{1, static_cast<std::ptrdiff_t>(MiB + 1)}));
    EXPECT_EQ(Find("(a)*?b", subject), (Span{1, static_cast<std::ptrdiff_t>(MiB + 1)}));
    EXPECT_EQ(Find("(?-s)(.)*b", subject), (Span{1, static_cast<std::ptrdiff_t>(MiB + 1)}));
    EXPECT_EQ(Find("a*b", subject), (Span{1, static_cast<std::ptrdiff_t>(MiB + 1)}));
}
