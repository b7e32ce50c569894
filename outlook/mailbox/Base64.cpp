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
        // Whole groups of four clean characters at a group boundary: the common case.
        if (count == 0) {
            while (end - p >= 4) {
                const std::uint32_t a = kRank[p[0]], b = kRank[p[1]], c = kRank[p[2]], d = kRank[p[3]];
                if ((a | b | c | d) >= 64) break;
                const std::uint32_t v = a << 18 | b << 12 | c << 6 | d;
                o[0] = static_cast<char>(v >> 16);
                o[1] = static_cast<char>(v >> 8);
                o[2] = static_cast<char>(v);
                o += 3;
                p += 4;
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
