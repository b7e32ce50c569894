// The compiler: error codes with their messages and positions, the quantifier and literal
// forms, classes, switches, and the shape of the program with its search hints.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regex/RegExpr.h"

using namespace quillmark;

namespace {

struct CompileOutcome {
    int code = 0;
    int position = 0;
    std::string message;
};

CompileOutcome CompileError(const std::string& expression) {
    TRegExpr re;
    re.SetExpression(expression);
    try {
        re.Compile();
    } catch (const ERegExpr& e) {
        EXPECT_EQ(re.LastErrorCode(), e.ErrorNumber);
        EXPECT_TRUE(re.Program().empty()) << "a failed compile must leave no program";
        return {e.ErrorNumber, e.ErrorPosition, e.what()};
    }
    return {};
}

std::string Rx(int groups, const std::string& open, const std::string& core, const std::string& close) {
    std::string text;
    for (int k = 0; k < groups; ++k)
        text += open;
    text += core;
    for (int k = 0; k < groups; ++k)
        text += close;
    return text;
}

} // namespace

struct ErrorCase {
    const char* expression;
    int code;
    int position;
};

class CompileErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(CompileErrors, CodeAndPosition) {
    const ErrorCase& c = GetParam();
    CompileOutcome outcome = CompileError(c.expression);
    EXPECT_EQ(outcome.code, c.code) << c.expression << ": " << outcome.message;
    EXPECT_EQ(outcome.position, c.position) << c.expression << ": " << outcome.message;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CompileErrors,
    ::testing::Values(ErrorCase{"*a", 115, 1}, ErrorCase{"a|+", 115, 3}, ErrorCase{"a)", 104, 1},
                      ErrorCase{"(a", 103, 2}, ErrorCase{"(a|b", 103, 4}, ErrorCase{"[a", 113, 2},
                      ErrorCase{"[^", 113, 2}, ErrorCase{"a**", 107, 2}, ErrorCase{"a*??", 107, 3},
                      ErrorCase{"a{2}{3}", 107, 4}, ErrorCase{"a{2}{x}", 107, 4}, ErrorCase{"a{3,2}", 124, 5},
                      ErrorCase{"[z-a]", 109, 3}, ErrorCase{"[a-c-b]", 109, 5}, ErrorCase{"(?z)", 127, 3},
                      ErrorCase{"(?i", 127, 3}, ErrorCase{"(a|)*", 106, 4}, ErrorCase{"(a*)*", 106, 4},
                      ErrorCase{"(a|)*?", 106, 4}, ErrorCase{"(a*)+", 106, 4}, ErrorCase{"(a|){2}", 106, 4},
                      ErrorCase{"^*", 106, 1}, ErrorCase{"\\b{", 106, 2}, ErrorCase{"\\", 116, 1},
                      ErrorCase{"[a\\", 110, 3}, ErrorCase{"\\xg1", 108, 2}, ErrorCase{"\\x4", 111, 3},
                      ErrorCase{"\\x", 111, 2}, ErrorCase{"\\x{12", 111, 5}, ErrorCase{"\\x{1g}", 108, 4},
                      ErrorCase{"\\x{123}", 112, 5}, ErrorCase{"a{123456789}", 122, 11},
                      ErrorCase{"a{1,123456789}", 122, 13}, ErrorCase{"(?#comment", 125, 10}));

TEST(CompileErrorsDetail, InvalidCyrillicRangeWithoutR) {
    // Lower-case a to upper-case ya is a range only under r.
    TRegExpr re;
    re.SetModifier('r', false);
    re.SetExpression("[\xE0-\xDF]");
    try {
        re.Compile();
        FAIL() << "compiled";
    } catch (const ERegExpr& e) {
        EXPECT_EQ(e.ErrorNumber, 109);
        EXPECT_EQ(e.ErrorPosition, 3);
    }
}

TEST(CompileErrorsDetail, WholeMessageCarriesPosition) {
    EXPECT_EQ(CompileError("*a").message, "TRegExpr(comp): ?+*{ Follows Nothing (pos 1)");
    EXPECT_EQ(CompileError("a)").message, "TRegExpr(comp): ParseReg Unmatched () (pos 1)");
    EXPECT_EQ(CompileError("(a").message, "TRegExpr(comp): ParseReg Unmatched () (pos 2)");
    EXPECT_EQ(CompileError("a{3,2}").message, "TRegExpr(comp): BRACE Min Param Greater then Max (pos 5)");
    EXPECT_EQ(CompileError("(?z)").message, "TRegExpr(comp): Urecognized Modifier (pos 3)");
}

TEST(CompileErrorsDetail, FourteenGroupsCompileFifteenDoNot) {
    EXPECT_EQ(CompileError(Rx(14, "(", "a", ")")).code, 0);
    CompileOutcome fifteen = CompileError(Rx(15, "(", "a", ")"));
    EXPECT_EQ(fifteen.code, 102);
    EXPECT_EQ(fifteen.position, 15);
    EXPECT_EQ(CompileError("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)(m)(n)(o)").code, 102);
}

TEST(CompileErrorsDetail, ZeroAsFirstClassMemberIsAnAssertion) {
    for (const char* expression : {"[\\x00]", "[\\x{}ab]", "[^\\x00-z]"}) {
        TRegExpr re;
        re.SetExpression(expression);
        try {
            re.Compile();
            ADD_FAILURE() << expression << " compiled";
        } catch (const EAssertionFailed& e) {
            EXPECT_EQ(
                std::string(e.what()).rfind("TRegExpr.ParseAtom(subroutine EmitRangeC): empty range", 0), 0u);
            EXPECT_TRUE(re.Program().empty());
        }
    }
    // Later in the class a zero member is left out.
    EXPECT_EQ(CompileError("[a\\x00]").code, 0);
    EXPECT_TRUE(MatchExpression("x[a\\x00]", "xa"));
}

TEST(CompileErrorsDetail, EngineRecoversAfterAnError) {
    TRegExpr re;
    re.SetExpression("(a");
    EXPECT_THROW(re.Exec("a"), ERegExpr);
    re.SetExpression("(a)");
    EXPECT_TRUE(re.Exec("a"));
}

TEST(CompileErrorsDetail, PairedSeparatorRules) {
    TRegExpr re;
    for (const char* bad : {"\r", "aa", "abc"}) {
        try {
            re.SetLinePairedSeparator(bad);
            ADD_FAILURE() << "accepted " << bad;
        } catch (const ERegExpr& e) {
            EXPECT_EQ(e.ErrorNumber, 128);
            EXPECT_EQ(std::string(e.what()), "TRegExpr(comp): LinePairedSeparator must countain two "
                                             "different chars or no chars at all (pos 0)");
        }
    }
    re.SetLinePairedSeparator("");
    EXPECT_EQ(re.LinePairedSeparator(), "");
    re.SetLinePairedSeparator("\n\r");
    EXPECT_EQ(re.LinePairedSeparator(), "\n\r");
}

TEST(Compile, ValidOddities) {
    // Brace texts that are not counts are literals; so are a lone "{" and "(?)".
    for (const char* expression : {"a{x}", "a{", "a{,5}", "{2}", "a{1,x}", "(?)", "(a|)?", "a{99999999}",
                                   "\\x{}", "(?#c)", "a{0}", "x{2,}"})
        EXPECT_EQ(CompileError(expression).code, 0) << expression;
    EXPECT_TRUE(MatchExpression("a{x}", "a{x}"));
    EXPECT_TRUE(MatchExpression("a{,5}", "a{,5}"));
    EXPECT_FALSE(MatchExpression("a{,5}", "aaaaa"));
    EXPECT_TRUE(MatchExpression("^a{$", "a{"));
    EXPECT_EQ(CompileError("^{2}$").code, 106); // a brace after a zero-width atom, count or not
    EXPECT_TRUE(MatchExpression("^a{1,x}$", "a{1,x}"));
}

TEST(Compile, QuantifierTakesOnlyTheLastByteOfARun) {
    EXPECT_TRUE(MatchExpression("^abc*$", "ab"));
    EXPECT_TRUE(MatchExpression("^abc*$", "abccc"));
    EXPECT_FALSE(MatchExpression("^abc*$", "abcabc"));
    EXPECT_TRUE(MatchExpression("^ab{2}$", "abb"));
    EXPECT_FALSE(MatchExpression("^ab{2}$", "abab"));
    EXPECT_TRUE(MatchExpression("^ab?c$", "ac"));
}

TEST(Compile, HexEscapes) {
    EXPECT_TRUE(MatchExpression("\\x{0041}", "A"));
    EXPECT_TRUE(MatchExpression("\\x41\\x{42}", "AB"));
    EXPECT_TRUE(MatchExpression("^\\t\\n\\r\\f\\e\\a$", "\t\n\r\f\x1b\x07"));
    // The byte 0 ends the text and is never part of it: \x{} matches nothing.
    EXPECT_FALSE(MatchExpression("a\\x{}", "a"));
    EXPECT_FALSE(MatchExpression("a\\x00", std::string("a\0", 2)));
    EXPECT_TRUE(MatchExpression("a\\x00*b", "ab"));
}

struct ClassCase {
    const char* expression;
    const char* matching;
    const char* notMatching;
};

class Classes : public ::testing::TestWithParam<ClassCase> {};

TEST_P(Classes, Members) {
    const ClassCase& c = GetParam();
    std::string anchored = std::string("^") + c.expression + "$";
    for (const char* p = c.matching; *p; ++p)
        EXPECT_TRUE(MatchExpression(anchored, std::string(1, *p))) << c.expression << " should hold " << *p;
    for (const char* p = c.notMatching; *p; ++p)
        EXPECT_FALSE(MatchExpression(anchored, std::string(1, *p)))
            << c.expression << " should not hold " << *p;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Classes,
    ::testing::Values(ClassCase{"[]a]", "]a", "b["}, ClassCase{"[^]a]", "b[", "]a"},
                      ClassCase{"[a-]", "a-", "b"}, ClassCase{"[-a]", "a-", "b"},
                      ClassCase{"[a-c-e]", "abcde", "f-"}, ClassCase{"[^a-c]", "dz-", "abc"},
                      ClassCase{"[\\d-z]", "05-z", "ay"}, ClassCase{"[a-\\d]", "a-5", "bD"},
                      ClassCase{"[\\D]", "D", "1d"}, ClassCase{"[\\w]", "aZ_0", "-!"},
                      ClassCase{"[\\s]", " \t", "a"}, ClassCase{"[\\x41-\\x43]", "ABC", "D"},
                      ClassCase{"[\\n-\\r]", "\n\r\f", "a"}, ClassCase{"[--/]", "-./", ",0"},
                      ClassCase{"(?i)[a-c]", "aBC", "d"}, ClassCase{"(?i)[^abcd]", "ez", "aB"},
                      ClassCase{"[abcdef]", "af", "g"}, ClassCase{"[^abcdef]", "gz", "a"},
                      ClassCase{"\\S", "a", " "}, ClassCase{"\\W", "-", "a_"}));

TEST(Classes, CyrillicRangesUnderR) {
    // Windows-1251: 0xE0-0xFF lower-case a..ya, 0xB8 yo; 0xC0-0xDF upper-case, 0xA8 YO.
    EXPECT_TRUE(MatchExpression("^[\xE0-\xFF]$", "\xB8"));
    EXPECT_TRUE(MatchExpression("^[\xE0-\xFF]$", "\xE5"));
    EXPECT_FALSE(MatchExpression("^[\xE0-\xFF]$", "\xA8"));
    EXPECT_TRUE(MatchExpression("^[\xC0-\xDF]$", "\xA8"));
    EXPECT_FALSE(MatchExpression("^[\xC0-\xDF]$", "\xB8"));
    int letters = 0;
    for (int c = 1; c < 256; ++c)
        letters += MatchExpression("^[\xE0-\xDF]$", std::string(1, static_cast<char>(c))) ? 1 : 0;
    EXPECT_EQ(letters, 66);

    TRegExpr re;
    re.SetModifier('r', false);
    re.SetExpression("^[\xE0-\xFF]$");
    EXPECT_FALSE(re.Exec("\xB8"));
    EXPECT_TRUE(re.Exec("\xE0"));
}

TEST(Switches, ScopeEndsWithTheGroup) {
    EXPECT_TRUE(MatchExpression("a(?i)b|c", "aB"));
    EXPECT_TRUE(MatchExpression("a(?i)b|c", "C"));
    EXPECT_FALSE(MatchExpression("a(?i)b|c", "AB"));
    EXPECT_TRUE(MatchExpression("^(a(?i)b)c$", "aBc"));
    EXPECT_FALSE(MatchExpression("^(a(?i)b)c$", "aBC"));
    EXPECT_TRUE(MatchExpression("(?i)a(?-i)b", "Ab"));
    EXPECT_FALSE(MatchExpression("(?i)a(?-i)b", "AB"));
    EXPECT_TRUE(MatchExpression("(?i-s)A.", "ab"));
    EXPECT_FALSE(MatchExpression("(?i-s)A.", "a\n"));
}

TEST(Switches, ExtendedSyntax) {
    EXPECT_TRUE(MatchExpression("(?x) a b # a comment\n c", "abc"));
    EXPECT_FALSE(MatchExpression("(?x) a b c", "a b c"));
    EXPECT_TRUE(MatchExpression("(?x)a b+", "abb"));
    EXPECT_TRUE(MatchExpression("(?x)a\\ b", "a b"));
    EXPECT_TRUE(MatchExpression("a b", "a b")); // x is off by default
}

TEST(Switches, EngineLevelModifiers) {
    TRegExpr re;
    EXPECT_EQ(re.ModifierStr(), "rsg-imx");
    re.SetExpression("A");
    EXPECT_FALSE(re.Exec("a"));
    re.SetModifier('i', true); // a change of the engine-level modifiers recompiles
    EXPECT_TRUE(re.Exec("a"));
    re.SetModifierStr("-ig");
    EXPECT_FALSE(re.Exec("a"));
    EXPECT_THROW(re.SetModifierStr("q"), ERegExpr);
    EXPECT_THROW(re.SetModifier('q', true), ERegExpr);
}

namespace {

std::vector<std::uint8_t> ProgramOf(const std::string& expression) {
    TRegExpr re;
    re.SetExpression(expression);
    re.Compile();
    return re.Program();
}

int ReadInt32(const std::vector<std::uint8_t>& p, std::size_t at) {
    return int(p[at]) | int(p[at + 1]) << 8 | int(p[at + 2]) << 16 | int(p[at + 3]) << 24;
}

} // namespace

TEST(ProgramLayout, NodesAsTabled) {
    // Marker, the top-level OpAlt, then the sequence. Node = kind, next offset, operand.
    std::vector<std::uint8_t> p = ProgramOf("abc*");
    ASSERT_GE(p.size(), 20u);
    EXPECT_EQ(p[0], 216);
    EXPECT_EQ(p[1], 6); // OpAlt
    EXPECT_EQ(p[6], 8); // OpLiteral "ab"
    EXPECT_EQ(std::string(p.begin() + 11, p.begin() + 14), std::string("ab\0", 3));
    EXPECT_EQ(p[14], 10); // OpStarSimple
    EXPECT_EQ(p[19], 8);  // over OpLiteral "c"
    EXPECT_EQ(p[24], 'c');
    EXPECT_EQ(p[14 + ReadInt32(p, 15)], 0); // then OpEnd

    p = ProgramOf("[ab]");
    EXPECT_EQ(p[6], 25); // OpSetSmall: members in order, the largest repeated
    EXPECT_EQ(std::string(p.begin() + 11, p.begin() + 14), "abb");
    p = ProgramOf("[^abcd]");
    EXPECT_EQ(p[6], 27); // OpSetBits holding the complement
    EXPECT_EQ(p.size(), 1u + 5u + 5u + 32u + 5u);
    EXPECT_EQ(p[11 + 'a' / 8] & (1 << ('a' % 8)), 0);
    EXPECT_NE(p[11 + 'e' / 8] & (1 << ('e' % 8)), 0);

    EXPECT_EQ(ProgramOf("a+?")[6], 31);
    EXPECT_EQ(ProgramOf("a??")[6], 32);
    EXPECT_EQ(ProgramOf("a?")[6], 6); // greedy "?" is an alternation
    p = ProgramOf("(a){2,3}");
    EXPECT_EQ(p[6], 23); // OpLoopEnter, whose next node is the OpLoop
    std::size_t loop = 6 + ReadInt32(p, 7);
    EXPECT_EQ(p[loop], 24);
    EXPECT_EQ(ReadInt32(p, loop + 5), 2);
    EXPECT_EQ(ReadInt32(p, loop + 9), 3);
    EXPECT_EQ(loop + ReadInt32(p, loop + 13), 11u); // back to the body, right after OpLoopEnter
    EXPECT_EQ(p[11], 40);                           // OpGroupOpen 1
    p = ProgramOf("(a)*?");
    EXPECT_EQ(p[6 + ReadInt32(p, 7)], 33);
    p = ProgramOf("(?-g)(a)+");
    EXPECT_EQ(p[6], 19); // the switch leaves an OpSkip
    std::size_t lazy = 11 + ReadInt32(p, 12);
    EXPECT_EQ(p[lazy], 33);
    EXPECT_EQ(ReadInt32(p, lazy + 5), 1);
    EXPECT_EQ(ReadInt32(p, lazy + 9), 2147483646);
}

TEST(ProgramLayout, SearchHints) {
    TRegExpr re;
    re.SetExpression("abc");
    re.Compile();
    EXPECT_EQ(re.FirstByte(), 'a');
    EXPECT_FALSE(re.Anchored());
    re.SetExpression("^(Re|Fw):");
    re.Compile();
    EXPECT_TRUE(re.Anchored());
    EXPECT_EQ(re.FirstByte(), 0);
    re.SetExpression(".*foo.*barbaz");
    re.Compile();
    EXPECT_EQ(re.RequiredText(), "barbaz");
    re.SetExpression("x*ab.*cd");
    re.Compile();
    EXPECT_EQ(re.RequiredText(), "cd"); // equal lengths: the later one
    re.SetExpression("foo.*bar");       // any unanchored search looks for its required text first
    re.Compile();
    EXPECT_EQ(re.RequiredText(), "bar");
    re.SetExpression("^foo.*bar"); // an anchored one tries its single position instead
    re.Compile();
    EXPECT_EQ(re.RequiredText(), "");
    re.SetExpression("(?i)^a"); // the switch's node does not hide the anchor
    re.Compile();
    EXPECT_TRUE(re.Anchored());
    re.SetExpression(".*x"); // nor does a leading .* need more than the first position
    re.Compile();
    EXPECT_TRUE(re.Anchored());
    re.SetExpression("a|b");
    re.Compile();
    EXPECT_EQ(re.FirstByte(), 0);
    EXPECT_TRUE(re.InFirstCharSet('a'));
    EXPECT_TRUE(re.InFirstCharSet('b'));
    EXPECT_FALSE(re.InFirstCharSet('c'));
    re.SetExpression("(?i)x");
    re.Compile();
    EXPECT_TRUE(re.InFirstCharSet('X'));
    // A looping program: the walk must end.
    re.SetExpression("(x{0,3})*(y{0,2})*z");
    re.Compile();
    EXPECT_TRUE(re.InFirstCharSet('x'));
    EXPECT_TRUE(re.InFirstCharSet('y'));
    EXPECT_TRUE(re.InFirstCharSet('z'));
}

TEST(ProgramLayout, SetExpressionKeepsTextUpToZero) {
    TRegExpr re;
    re.SetExpression(std::string("ab\0cd", 5));
    EXPECT_EQ(re.Expression(), "ab");
    EXPECT_TRUE(re.Exec("xab"));
}
