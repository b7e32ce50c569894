// The base64 decoder: against GMime's own decoder on clean text of every length and line
// layout, in pieces split anywhere, and on the cases where the two rules need saying.
#include "outlook/mailbox/Base64.h"

#include <gmime/gmime.h>
#include <gtest/gtest.h>

#include <random>

namespace quillmark::outlook::mailbox {
namespace {

std::string Encode(const std::string& bytes, std::size_t lineLength, const char* lineBreak) {
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string plain;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 3; ++k) v = v << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0);
        plain += alphabet[v >> 18 & 63];
        plain += alphabet[v >> 12 & 63];
        plain += n > 1 ? alphabet[v >> 6 & 63] : '=';
        plain += n > 2 ? alphabet[v & 63] : '=';
    }
    std::string out;
    for (std::size_t i = 0; i < plain.size(); i += lineLength) out += plain.substr(i, lineLength) + lineBreak;
    return out;
}

std::string DecodeBase64(std::string_view text, bool* bad) {
    Base64Decoder decoder;
    std::string out;
    decoder.Feed(text, out);
    decoder.Finish(out);
    *bad = decoder.Bad();
    return out;
}

std::string GMimeDecode(const std::string& text) {
    std::string out(text.size() + 3, '\0');
    int state = 0;
    guint32 save = 0;
    const std::size_t n = g_mime_encoding_base64_decode_step(reinterpret_cast<const unsigned char*>(text.data()),
                                                             text.size(), reinterpret_cast<unsigned char*>(out.data()),
                                                             &state, &save);
    out.resize(n);
    return out;
}

TEST(Base64, AgreesWithGMimeOnCleanText) {
    std::mt19937 random(7);
    for (std::size_t length = 0; length < 200; ++length) {
        std::string bytes(length, '\0');
        for (auto& b : bytes) b = static_cast<char>(random());
        for (auto layout : {std::pair<std::size_t, const char*>{76, "\r\n"}, {76, "\n"}, {4, " "}, {1000, ""},
                            {6, "\r\n"}, {10, "\n"}, {9, "\r\n"}}) {
            const std::string text = Encode(bytes, layout.first, layout.second);
            bool bad = true;
            const std::string ours = DecodeBase64(text, &bad);
            ASSERT_EQ(ours, bytes) << "length " << length;
            ASSERT_EQ(ours, GMimeDecode(text)) << "length " << length;
            EXPECT_FALSE(bad);
        }
    }
}

TEST(Base64, PiecesSplitAnywhereGiveTheSameBytes) {
    const std::string bytes = "Quillmark saves attachments once \x01\x02\xff";
    const std::string text = Encode(bytes, 8, "\r\n");
    for (std::size_t a = 0; a <= text.size(); ++a)
        for (std::size_t b = a; b <= text.size(); b += 3) {
            Base64Decoder decoder;
            std::string out;
            decoder.Feed(std::string_view(text).substr(0, a), out);
            decoder.Feed(std::string_view(text).substr(a, b - a), out);
            decoder.Feed(std::string_view(text).substr(b), out);
            ASSERT_EQ(out, bytes) << a << " " << b;
            EXPECT_FALSE(decoder.Bad());
        }
}

TEST(Base64, PaddingJunkAndJoinedBlocks) {
    struct Case {
        const char* text;
        std::string bytes;
        bool bad;
    };
    const Case cases[] = {
        {"", "", false},
        {"QQ==", "A", false},
        {"QUI=", "AB", false},
        {"QUJD", "ABC", false},
        {"QQ", "A", false},           // padding left out: the whole bytes still count
        {"QUI", "AB", false},
        {"QUJDQ", "ABC", false},      // one character left over carries no byte
        {"QQ==QUI=", "AAB", false},   // two blocks one after the other
        {"Q!Q==", "A", true},         // junk is skipped and noticed
        {"QU\x80JD", "ABC", true},    // bytes above 127 too
        {" Q U J D \t\r\n", "ABC", false},
        {"====QUJD", "ABC", false},   // padding with nothing before it gives nothing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        bool bad = !c.bad;
        EXPECT_EQ(DecodeBase64(c.text, &bad), c.bytes);
        EXPECT_EQ(bad, c.bad);
    }
}

} // namespace
} // namespace quillmark::outlook::mailbox
