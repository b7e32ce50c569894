#include "platform/Exceptions.h"
#include "SrcLib/FastStrings.h"

#include <gtest/gtest.h>

#include <random>

using namespace quillmark;

TEST(ReplaceAll, Table) {
    struct Case {
        std::string find, repl, source, expected;
    };
    const Case cases[] = {
        {"ab", "ab", "xabx", "xabx"},         // find equal to replacement: unchanged
        {"__", "_", "____", "__"},            // four underscores -> two
        {"__", "_", "_____", "___"},          // five -> three
        {"a", "aa", "aaa", "aaaaaa"},         // replacement holding find: no endless loop
        {"", "x", "abc", "abc"},              // empty find never matches
        {"a", "b", "", ""},                   // empty source
        {"\r\n", "\\n", "a\r\nb\r\n", "a\\nb\\n"},
        {"abc", "", "xabcabcy", "xy"},        // deletion
        {"aa", "b", "aaa", "ba"},             // non-overlapping, left to right
        {"xyz", "q", "xy", "xy"},             // pattern longer than the text
        {"needle", "N", "hayneedlehayneedle", "hayNhayN"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReplaceAll(c.find, c.repl, c.source), c.expected) << c.find << " in " << c.source;
}

TEST(FindSubstring, PositionsAndMisses) {
    EXPECT_EQ(FindSubstring("abcd", "abc", 1), 0u);           // longer than the text
    EXPECT_EQ(FindSubstring("xyz", "abcxyz", 1), 4u);         // at the very end
    EXPECT_EQ(FindSubstring("ab", "abab", 2), 3u);            // from a start position
    EXPECT_EQ(FindSubstring("ab", "abab", 4), 0u);            // start past the last possible match
    EXPECT_EQ(FindSubstring("ab", "abab", 99), 0u);
    EXPECT_EQ(FindSubstring("ab", "AB", 1), 0u);              // case-sensitive
    EXPECT_EQ(FindSubstring("", "abc", 1), 0u);
    EXPECT_EQ(FindSubstring("a", "bba", 1), 3u);              // one-byte pattern
    EXPECT_EQ(FindSubstring("\xE4", "a\xE4", 1), 2u);         // high bytes compare as bytes
}

TEST(FindSubstring, StartBelowOneIsAContractViolation) {
    try {
        FindSubstring("a", "abc", 0);
        FAIL() << "no exception";
    } catch (const EAssertionFailed& e) {
        EXPECT_NE(std::string(e.what()).find("FastStrings"), std::string::npos);
    }
}

TEST(BuildSkipTable, EmptyPatternRaises) {
    std::int32_t table[256];
    try {
        BuildSkipTable(reinterpret_cast<const unsigned char*>(""), 0, table);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "BufferLen is 0");
    }
}

TEST(BuildSkipTable, LastOccurrenceBeforeTheFinalByteWins) {
    std::int32_t table[256];
    const unsigned char pat[] = {'a', 'b', 'a', 'c'};
    BuildSkipTable(pat, 4, table);
    EXPECT_EQ(table['a'], 1); // i = 2 -> 4 - 1 - 2
    EXPECT_EQ(table['b'], 2);
    EXPECT_EQ(table['c'], 4); // the final byte gets no entry of its own
    EXPECT_EQ(table['z'], 4);
}

// The skip-table search must agree with std::string::find on every position.
TEST(FindSubstring, AgreesWithStdFindOnRandomTexts) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> letter(0, 2), len(0, 40), plen(1, 5);
    for (int round = 0; round < 5000; ++round) {
        std::string text, pat;
        for (int i = len(rng); i > 0; --i) text += static_cast<char>('a' + letter(rng));
        for (int i = plen(rng); i > 0; --i) pat += static_cast<char>('a' + letter(rng));
        std::size_t start = 1 + static_cast<std::size_t>(len(rng)) % (text.size() + 1);
        std::size_t expected = start - 1 <= text.size() ? text.find(pat, start - 1) : std::string::npos;
        std::size_t got = FindSubstring(pat, text, start);
        ASSERT_EQ(got, expected == std::string::npos ? 0 : expected + 1) << pat << " in " << text << " from " << start;
    }
}
