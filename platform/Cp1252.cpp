#include "platform/Cp1252.h"

#include <array>

namespace quillmark::platform::cp1252 {
namespace {

// 0x80-0x9F; 0 marks the five undefined bytes.
constexpr char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

struct CaseTables {
    std::array<unsigned char, 256> upper{};
    std::array<unsigned char, 256> lower{};
    CaseTables() {
        for (int i = 0; i < 256; ++i) upper[i] = lower[i] = static_cast<unsigned char>(i);
        auto pair = [this](int up, int low) {
            upper[low] = static_cast<unsigned char>(up);
            lower[up] = static_cast<unsigned char>(low);
        };
        for (int c = 'A'; c <= 'Z'; ++c) pair(c, c + 32);
        for (int c = 0xC0; c <= 0xDE; ++c)
            if (c != 0xD7) pair(c, c + 32); // × and ÷ are no letters
        pair(0x8A, 0x9A);                   // Š š
        pair(0x8C, 0x9C);                   // Œ œ
        pair(0x8E, 0x9E);                   // Ž ž
        pair(0x9F, 0xFF);                   // Ÿ ÿ
    }
};

const CaseTables& Tables() {
    static const CaseTables tables;
    return tables;
}

} // namespace

char32_t ToUnicode(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) {
        char16_t u = kHigh[byte - 0x80];
        return u ? u : byte;
    }
    return byte;
}

int FromUnicode(char32_t ch) {
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) return static_cast<int>(ch);
    for (int i = 0; i < 32; ++i) {
        char16_t u = kHigh[i];
        if (u != 0 && u == ch) return 0x80 + i;
        if (u == 0 && ch == static_cast<char32_t>(0x80 + i)) return 0x80 + i; // undefined byte round trip
    }
    return -1;
}

unsigned char Upper(unsigned char c) { return Tables().upper[c]; }
unsigned char Lower(unsigned char c) { return Tables().lower[c]; }

} // namespace quillmark::platform::cp1252
