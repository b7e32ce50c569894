#include "outlook/mailbox/Base64.h"

#include <array>

namespace quillmark::outlook::mailbox {

namespace {

constexpr std::uint8_t kSpace = 0x40;   // CR, LF, space, tab
constexpr std::uint8_t kPadding = 0x41; // "="
constexpr std::uint8_t kJunk = 0x80;    // anything else

constexpr std::array<std::uint8_t, 256> MakeRanks() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t) v = kJunk;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::uint8_t i = 0; i < 64; ++i) t[static_cast<unsigned char>(alphabet[i])] = i;
    t['\r'] = t['\n'] = t[' '] = t['\t'] = kSpace;
    t['='] = kPadding;
    return t;
}

constexpr std::array<std::uint8_t, 256> kRank = MakeRanks();

// The rank of a character already in its place in a group of four (bits 18, 12, 6, 0), so
// that a clean group is four lookups and three ors; any character outside the alphabet
// sets kNotInGroup instead.
constexpr std::uint32_t kNotInGroup = 0x80000000u;
using PlacedRanks = std::array<std::array<std::uint32_t, 256>, 4>;
constexpr PlacedRanks MakePlacedRanks() {
    PlacedRanks t{};
    for (int k = 0; k < 4; ++k)
        for (int c = 0; c < 256; ++c)
            t[k][c] = kRank[c] < 64 ? std::uint32_t(kRank[c]) << (18 - 6 * k) : kNotInGroup;
    return t;
}
constexpr PlacedRanks kAt = MakePlacedRanks();

} // namespace

void Base64Decoder::Feed(std::string_view text, std::string& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    const std::size_t start = out.size();
    // Each alphabet character gives at most three quarters of a byte, and up to three may be
    // left from the piece before: this bound always holds.
    out.resize(start + (text.size() + 3) / 4 * 3 + 3);
    char* o = out.data() + start;
    std::uint32_t bits = bits_;
    int count = count_;
    while (p < end) {
        // Whole groups of four clean characters at a group boundary: the common case; a line
        // break after them is passed over here rather than a character at a time below.
        if (count == 0) {
            for (;;) {
                while (end - p >= 4) {
                    const std::uint32_t v = kAt[0][p[0]] | kAt[1][p[1]] | kAt[2][p[2]] | kAt[3][p[3]];
                    if (v & kNotInGroup) break;
                    o[0] = static_cast<char>(v >> 16);
                    o[1] = static_cast<char>(v >> 8);
                    o[2] = static_cast<char>(v);
                    o += 3;
                    p += 4;
                }
                if (p < end && p[0] == '\n') {
                    ++p;
                    continue;
                }
                if (end - p >= 2 && p[0] == '\r' && p[1] == '\n') {
                    p += 2;
                    continue;
                }
                break;
            }
            if (p == end) break;
        }
        const std::uint8_t r = kRank[*p++];
        if (r < 64) {
            bits = bits << 6 | r;
            if (++count == 4) {
                o[0] = static_cast<char>(bits >> 16);
                o[1] = static_cast<char>(bits >> 8);
                o[2] = static_cast<char>(bits);
                o += 3;
                bits = 0;
                count = 0;
            }
        } else if (r == kPadding) {
            // Two characters carry one byte, three carry two; a lone one carries none.
            if (count == 2) {
                *o++ = static_cast<char>(bits >> 4);
            } else if (count == 3) {
                *o++ = static_cast<char>(bits >> 10);
                *o++ = static_cast<char>(bits >> 2);
            }
            bits = 0;
            count = 0;
        } else if (r == kJunk) {
            bad_ = true;
        }
    }
    bits_ = bits;
    count_ = count;
    out.resize(static_cast<std::size_t>(o - out.data()));
}

void Base64Decoder::Finish(std::string& out) {
    if (count_ == 2) {
        out += static_cast<char>(bits_ >> 4);
    } else if (count_ == 3) {
        out += static_cast<char>(bits_ >> 10);
        out += static_cast<char>(bits_ >> 2);
    }
    bits_ = 0;
    count_ = 0;
}

} // namespace quillmark::outlook::mailbox
