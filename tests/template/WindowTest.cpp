// The template is streamed through a 4096-byte window that is cut after its last line feed:
// these tests work across that window, with inputs that arrive in small pieces, and check the
// fast copying of plain text against a token-by-token expansion.
#include "TemplateTestSupport.h"

#include "platform/Exceptions.h"
#include "template/CopyParser.h"
#include "template/PageProducer.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

namespace quillmark {
namespace {

using testing::ChunkedInput;
using testing::RecordingProducer;
using testing::TokenByTokenExpand;

// n short lines of the given width (line end included), CR LF ends.
std::string Lines(std::size_t n, std::size_t width = 100, char fill = 'x') {
    std::string line(width - 2, fill);
    line += "\r\n";
    std::string text;
    for (std::size_t i = 0; i < n; ++i) text += line;
    return text;
}

std::string ExpandOrError(TPageProducer& producer, std::istream& input) {
    try {
        return producer.ExpandStream(input);
    } catch (const Exception& e) {
        return std::string("error: ") + e.what();
    }
}

std::string ExpandOrError(TPageProducer& producer, const std::string& text) {
    try {
        return producer.ExpandString(text);
    } catch (const Exception& e) {
        return std::string("error: ") + e.what();
    }
}

// Every chunking of the same bytes must give the same result (page or error).
void ExpectSameInPieces(TPageProducer& producer, const std::string& text) {
    std::string whole = ExpandOrError(producer, text);
    for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{4095}, std::size_t{4097}}) {
        ChunkedInput buffer(text, chunk);
        std::istream input(&buffer);
        EXPECT_EQ(ExpandOrError(producer, input), whole) << "chunk " << chunk;
    }
}

struct LineCase {
    const char* what;
    std::string text;
    std::string error; // empty: expands
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.what; }

class LineLength : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineLength, FollowsTheWindowRule) {
    const LineCase& c = GetParam();
    RecordingProducer r;
    if (c.error.empty()) {
        EXPECT_EQ(r.producer.ExpandString(c.text), c.text);
    } else {
        try {
            r.producer.ExpandString(c.text);
            FAIL() << "expected: " << c.error;
        } catch (const EParserError& e) {
            EXPECT_EQ(std::string(e.what()), c.error);
        }
    }
    ExpectSameInPieces(r.producer, c.text);
}

std::string Long(std::size_t n) { return std::string(n, 'L'); }

INSTANTIATE_TEST_SUITE_P(
    Window, LineLength,
    ::testing::Values(
        // Whole templates around the window size, one line without a line end.
        LineCase{"one line of 4095", Long(4095), ""},
        LineCase{"one line of 4096", Long(4096), "Line too long on line 1"},
        LineCase{"one line of 4097", Long(4097), "Line too long on line 1"},
        // Templates of 4095 / 4096 / 4097 bytes in ordinary lines.
        LineCase{"4095 bytes in lines", Lines(40) + Long(95), ""},
        LineCase{"4096 bytes in lines", Lines(40) + Long(96), ""},
        LineCase{"4097 bytes in lines", Lines(40) + Long(97), ""},
        // A long line as line 3, with more than a window of text after it.
        LineCase{"4093 + CR LF", Lines(2) + Long(4093) + "\r\n" + Lines(60), ""},
        LineCase{"4094 + LF", Lines(2) + Long(4094) + "\n" + Lines(60), ""},
        LineCase{"4094 + CR LF", Lines(2) + Long(4094) + "\r\n" + Lines(60), "Line too long on line 3"},
        LineCase{"4095 + LF", Lines(2) + Long(4095) + "\n" + Lines(60), "Line too long on line 3"},
        LineCase{"5000 inside", Lines(6) + Long(5000) + "\r\n" + Lines(60), "Line too long on line 7"},
        // Far into the template: line numbers count over many windows.
        LineCase{"5000 at line 2500", Lines(2499, 10) + Long(5000) + "\r\n" + Lines(3), "Line too long on line 2500"},
        // A long last line passes while the rest of the template from its start fits.
        LineCase{"last line 4095", Lines(50) + Long(4095), ""},
        LineCase{"last line 4095 + LF", Lines(50) + Long(4095) + "\n", "Line too long on line 51"},
        LineCase{"last line 4094 + CR LF", Lines(50) + Long(4094) + "\r\n", "Line too long on line 51"}));

// A prefix of whole lines after which a line ends with its LF at window index lfIndex
// (0-based); the next line is long enough that the window is cut right after that LF.
std::string PrefixEndingAt(std::size_t lfIndex, const std::string& lineStart) {
    std::string text = Lines(30); // 3000 bytes
    std::size_t pad = lfIndex - text.size() - lineStart.size();
    text += lineStart + std::string(pad, ' ') + "\n";
    EXPECT_EQ(text.size(), lfIndex + 1);
    return text;
}

TEST(Window, TagStraddlingARefill) {
    RecordingProducer r;
    const std::string tail = std::string(300, 'y') + "\r\n" + Lines(50);
    struct {
        std::string before, after; // around the cut
        std::string name;
        TStrings params;
    } cases[] = {
        {"<#Name a=1", " b=2>", "Name", {"a=1", "b=2"}},
        {"<#Name", "  >", "Name", {}},
        {"<#", "Name c=3>", "Name", {"c=3"}},
        {"<", "#Name>", "Name", {}},
        // A quoted parameter running over the cut: one field, blanks and line feed kept.
        {"<#Name a=\"x", "y\">", "Name", {}},
    };
    for (std::size_t lf : {std::size_t{4093}, std::size_t{4094}}) {
        for (const auto& c : cases) {
            std::string text = PrefixEndingAt(lf, c.before) + c.after + tail;
            r.seen.clear();
            std::string page = r.producer.ExpandString(text);
            EXPECT_EQ(page, Lines(30) + "X" + tail) << c.before << "|" << c.after;
            ASSERT_EQ(r.seen.size(), 1u);
            EXPECT_EQ(r.seen[0].name, c.name);
            if (c.before == "<#Name a=\"x") {
                ASSERT_EQ(r.seen[0].params.size(), 1u);
                const std::string& field = r.seen[0].params[0];
                EXPECT_EQ(field.substr(0, 4), "a=x ");
                EXPECT_EQ(field.substr(field.size() - 3), " \ny");
            } else {
                EXPECT_EQ(r.seen[0].params, c.params);
            }
            ExpectSameInPieces(r.producer, text);
        }
    }
}

TEST(Window, NulByteInALaterWindowEndsTheOutput) {
    RecordingProducer r;
    std::string head = Lines(60) + "abc";
    std::string text = head + std::string(1, '\0') + "<#x>" + Lines(60);
    EXPECT_EQ(r.producer.ExpandString(text), head);
    EXPECT_TRUE(r.seen.empty());
    ExpectSameInPieces(r.producer, text);
}

TEST(Window, ParserCountsLinesAndReadsToTheEnd) {
    std::string text = Lines(3000, 20);
    std::istringstream input(text);
    std::string out;
    TCopyParser parser(input, &out);
    EXPECT_EQ(parser.LineNumber(), 1);
    int names = 0;
    while (parser.Token() != TCopyParser::toEOF) {
        names += parser.Token() == TCopyParser::toSymbol;
        parser.WriteTokenText();
        parser.AdvanceToken(true);
    }
    EXPECT_EQ(names, 3000);
    EXPECT_EQ(parser.LineNumber(), 3001);
    EXPECT_EQ(out, text);
    // At the end the token stays "end of input" and nothing moves.
    EXPECT_EQ(parser.AdvanceToken(true), TCopyParser::toEOF);
    EXPECT_EQ(parser.TokenText(), "");
    EXPECT_EQ(out, text);
}

TEST(Window, FastCopyAgreesWithTokenByTokenExpansion) {
    TPageProducer producer;
    producer.OnHTMLTag = [](TPageProducer&, TTag, const std::string& name, TStrings& params, std::string& text) {
        text = "[" + name;
        for (const std::string& f : params) text += "|" + f;
        text += "]";
    };
    std::mt19937 rng(20261208);
    const std::string dense = "<<<###>>>   \r\n\n\t\"'%%+=aZ_9.\xE5\x01";
    const std::string sparse = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ/=\r\n<";
    for (int round = 0; round < 400; ++round) {
        const std::string& alphabet = round % 2 ? dense : sparse;
        std::string text;
        std::size_t size = rng() % 12000;
        while (text.size() < size) {
            unsigned pick = rng() % 1000;
            if (pick < 2) {
                text += std::string(4080 + rng() % 30, 'L'); // around the longest line allowed
            } else if (pick < 4) {
                text += '\0';
            } else if (pick < 60) {
                text += "<#Tag a=%41 b=\"c d\">";
            } else {
                text += alphabet[rng() % alphabet.size()];
            }
        }
        std::string expected = TokenByTokenExpand(text);
        ASSERT_EQ(ExpandOrError(producer, text), expected) << "round " << round;
        if (round % 10 == 0) ExpectSameInPieces(producer, text);
    }
}

TEST(Window, NonTagOpenersAtEveryOffsetAgreeWithTokenByTokenExpansion) {
    TPageProducer producer;
    producer.OnHTMLTag = [](TPageProducer&, TTag, const std::string& name, TStrings& params, std::string& text) {
        text = "[" + name;
        for (const std::string& f : params) text += "|" + f;
        text += "]";
    };
    // "<" pairs and runs placed at every offset of a 16-byte block, so that a "<" and the
    // byte after it fall on either side of a block edge.
    const std::string pieces[] = {"<<#a>", "<a<#b>", "<<<#c>", "< <#d>", "<#e>", "<x", "<\xE5<#f>", "<<"};
    for (const std::string& piece : pieces) {
        for (std::size_t shift = 0; shift < 40; ++shift) {
            std::string text = std::string(shift, 'a') + piece + std::string(37 - shift % 37, 'b') + piece + "z";
            EXPECT_EQ(ExpandOrError(producer, text), TokenByTokenExpand(text)) << ::testing::PrintToString(text);
        }
    }
}

} // namespace
} // namespace quillmark
