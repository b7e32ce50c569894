#include "outlook/mailbox/MboxIndex.h"

#include "SrcLib/DateTime.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace quillmark;
using namespace quillmark::outlook::mailbox;

namespace {

std::vector<std::string> Split(const std::string& mbox) {
    std::vector<std::string> out;
    for (const auto& e : IndexMboxBuffer(mbox)) out.push_back(mbox.substr(e.Offset, e.Length));
    return out;
}

TEST(MboxIndex, WhereMessagesBeginAndEnd) {
    struct Case {
        const char* name;
        std::string mbox;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"two messages, blank separator dropped",
         "From a@x Mon Jan  1 10:00:00 2024\nSubject: 1\n\none\n\nFrom b@x Tue Jan  2 10:00:00 2024\nSubject: 2\n\ntwo\n",
         {"Subject: 1\n\none\n", "Subject: 2\n\ntwo\n"}},
        {"body line starting From inside a paragraph does not split",
         "From a@x Mon Jan  1 10:00:00 2024\nSubject: 1\n\nWe met.\nFrom then on it rained.\n",
         {"Subject: 1\n\nWe met.\nFrom then on it rained.\n"}},
        {"a dated From line splits even without a blank line before it",
         "From a@x Mon Jan  1 10:00:00 2024\nS: 1\n\nx\nFrom b@x Tue Jan  2 10:00:00 2024\nS: 2\n\ny\n",
         {"S: 1\n\nx\n", "S: 2\n\ny\n"}},
        {"CR LF files", "From a@x Mon Jan  1 10:00:00 2024\r\nS: 1\r\n\r\nx\r\n\r\nFrom b Tue Jan  2 10:00:00 2024\r\nS: 2\r\n",
         {"S: 1\r\n\r\nx\r\n", "S: 2\r\n"}},
        {"last message without final line break", "From a Mon Jan  1 10:00:00 2024\nS: 1\n\nend", {"S: 1\n\nend"}},
        {"last message with an extra blank line", "From a Mon Jan  1 10:00:00 2024\nS: 1\n\nend\n\n", {"S: 1\n\nend\n"}},
        {"empty file", "", {}},
        {"only blank text", "\n\n  \n", {}},
        {"text before the first From line is kept", "garbage\nFrom a Mon Jan  1 10:00:00 2024\nS: 1\n",
         {"garbage\n", "S: 1\n"}},
        {"no From line at all is one message", "Subject: x\n\nbody\n", {"Subject: x\n\nbody\n"}},
        {"two From lines in a row give an empty message",
         "From a Mon Jan  1 10:00:00 2024\nFrom b Mon Jan  1 10:00:00 2024\nS: 2\n", {"", "S: 2\n"}},
    };
    for (const auto& c : cases) EXPECT_EQ(Split(c.mbox), c.messages) << c.name;
}

TEST(MboxIndex, BlockBoundariesDoNotMatter) {
    std::string mbox;
    for (int i = 0; i < 50; ++i) {
        mbox += "From sender@example.org Mon Jan  1 10:00:00 2024\nSubject: " + std::to_string(i) + "\n\n";
        mbox += std::string(static_cast<std::size_t>(i * 37 + 1), 'x') + "\nFrom the text\n\n";
    }
    mbox += std::string(5000, 'y'); // a line longer than anything a From line needs
    mbox += "\n\nFrom last Mon Jan  1 10:00:00 2024\n\nbye\n";
    const auto whole = IndexMboxBuffer(mbox);
    for (std::size_t block : {1u, 2u, 5u, 7u, 1023u, 1024u, 1025u}) {
        MboxIndexer indexer;
        for (std::size_t pos = 0; pos < mbox.size(); pos += block)
            indexer.Feed(mbox.data() + pos, std::min(block, mbox.size() - pos));
        const auto parts = indexer.Finish();
        ASSERT_EQ(parts.size(), whole.size()) << block;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            EXPECT_EQ(parts[i].Offset, whole[i].Offset) << block;
            EXPECT_EQ(parts[i].Length, whole[i].Length) << block;
        }
    }
    EXPECT_EQ(whole.size(), 51u);
}

// Two halves at once must give what one pass gives, wherever the second half starts: in a
// header, a body, on a blank line, a "From " line, a CR LF, a long line, before the first
// "From " line.
TEST(MboxIndex, TwoHalvesGiveTheEntriesOfOnePass) {
    std::vector<std::string> mboxes = {
        "From a@x Mon Jan  1 10:00:00 2024\nSubject: 1\n\none\n\nFrom b@x Tue Jan  2 10:00:00 2024\nSubject: 2\n\ntwo\n",
        "From a@x Mon Jan  1 10:00:00 2024\nS: 1\n\nWe met.\nFrom then on.\n\nFrom here to there\nx\n",
        "From a Mon Jan  1 10:00:00 2024\r\nS: 1\r\n\r\nx\r\n\r\nFrom b Tue Jan  2 10:00:00 2024\r\nS: 2\r\n\r\n",
        "garbage\nmore\n\nFrom a Mon Jan  1 10:00:00 2024\nS: 1\n\nend",
        "Subject: x\n\nbody without any From line\nand more\n",
        "From a Mon Jan  1 10:00:00 2024\nFrom b Mon Jan  1 10:00:00 2024\n\nS: 2\n\n\n",
        "\n\n\r\n\nFrom a Mon Jan  1 10:00:00 2024\n" + std::string(3000, 'y') + "\n\nFrom b Mon Jan  1 10:00:00 2024\n\nz\n",
    };
    std::string big;
    for (int i = 0; i < 12; ++i)
        big += "From s Mon Jan  1 10:00:00 2024\nSubject: " + std::to_string(i) + "\n\n" +
               std::string(static_cast<std::size_t>(i * 13), 'x') + "\nFrom the text\n\n";
    mboxes.push_back(big);
    for (const auto& mbox : mboxes) {
        const auto whole = IndexMboxBuffer(mbox);
        const MboxReader read = [&mbox](std::uint64_t offset, char* buffer, std::size_t size) -> std::size_t {
            if (offset >= mbox.size()) return 0;
            const std::size_t n = std::min<std::size_t>(size, mbox.size() - static_cast<std::size_t>(offset));
            std::memcpy(buffer, mbox.data() + offset, n);
            return n;
        };
        for (std::uint64_t split = 0; split <= mbox.size() + 1; ++split) {
            const auto parts = IndexMboxInTwo(read, split);
            ASSERT_EQ(parts.size(), whole.size()) << mbox.substr(0, 40) << " split " << split;
            for (std::size_t i = 0; i < parts.size(); ++i) {
                EXPECT_EQ(parts[i].Offset, whole[i].Offset) << split;
                EXPECT_EQ(parts[i].Length, whole[i].Length) << split;
                EXPECT_EQ(parts[i].HadFromLine, whole[i].HadFromLine) << split;
                EXPECT_DOUBLE_EQ(parts[i].FromLineTime, whole[i].FromLineTime) << split;
            }
        }
    }
}

TEST(MboxIndex, FromLineDates) {
    struct Case {
        const char* line;
        double expected;
    };
    const Case cases[] = {
        {"From a@x Mon Mar  7 10:11:12 2005", *TryEncodeDateTime(2005, 3, 7, 10, 11, 12)},
        {"From MAILER-DAEMON Fri Jul  8 12:08:34 2011", *TryEncodeDateTime(2011, 7, 8, 12, 8, 34)},
        {"From a@x Mon Mar  7 10:11 2005", *TryEncodeDateTime(2005, 3, 7, 10, 11, 0)},
        {"From a@x Mon Mar  7 10:11:12 UTC 2005", *TryEncodeDateTime(2005, 3, 7, 10, 11, 12)},
        {"From a@x", 0.0},
        {"From here to there", 0.0},
        {"From a@x Mon Feb 30 10:11:12 2005", 0.0},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(ParseFromLineTime(c.line), c.expected) << c.line;
}

TEST(MboxIndex, QuotedFromLinesLoseOneQuote) {
    EXPECT_EQ(UnquoteFromLines(">From a\n>>From b\n> From c\n>Fromage\nx>From d\n"),
              "From a\n>From b\n> From c\n>Fromage\nx>From d\n");
    EXPECT_EQ(UnquoteFromLines(">From end"), "From end");
}

} // namespace
