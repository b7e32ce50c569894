#include "outlook/mailbox/MboxIndex.h"

#include "SrcLib/DateTime.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

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
        {"a bare \"From - \" separator splits without a date or a blank line before it",
         "From - \nS: 1\n\nx\n--b--\nFrom - \r\nS: 2\n\ny\nFrom -- not a separator\nFrom - here\n",
         {"S: 1\n\nx\n--b--\n", "S: 2\n\ny\nFrom -- not a separator\nFrom - here\n"}},
        {"two From lines in a row give an empty message",
         "From a Mon Jan  1 10:00:00 2024\nFrom b Mon Jan  1 10:00:00 2024\nS: 2\n", {"", "S: 2\n"}},
    };
    for (const auto& c : cases) EXPECT_EQ(Split(c.mbox), c.messages) << c.name;
}

// Netscape's dateless separator, right after a multipart's last line.
TEST(MboxIndex, BareSeparatorsInAFile) {
    const std::string file = std::string(QUILLMARK_TEST_DATA) + "/mail/bare-separator.mbox";
    const auto entries = IndexMboxFile(file);
    std::vector<std::string> subjects;
    std::ifstream in(file, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const auto& e : entries) {
        const std::string mail = data.substr(e.Offset, e.Length);
        const auto at = mail.find("Subject: ");
        subjects.push_back(at == std::string::npos ? mail : mail.substr(at + 9, mail.find('\n', at) - at - 9));
    }
    EXPECT_EQ(subjects, (std::vector<std::string>{"first", "second", "third"}));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(data.substr(entries[2].Offset + entries[2].Length - 26), "From -- this line is text\n");
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
