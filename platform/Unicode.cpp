#include "platform/Unicode.h"

#include "platform/CodePage.h"

#include <cstdint>
#include <cstring>

namespace quillmark::platform::unicode {

void AppendUtf8(std::string& out, char32_t ch) {
    if (ch < 0x80) {
        out += static_cast<char>(ch);
    } else if (ch < 0x800) {
        out += static_cast<char>(0xC0 | (ch >> 6));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    } else if (ch < 0x10000) {
        out += static_cast<char>(0xE0 | (ch >> 12));
        out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (ch >> 18));
        out += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    }
}

char32_t NextUtf8(std::string_view text, std::size_t& i) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
        ++i;
        return b;
    }
    int len = 0;
    char32_t ch = 0;
    if ((b & 0xE0) == 0xC0) {
        len = 2;
        ch = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
        len = 3;
        ch = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
        len = 4;
        ch = b & 0x07;
    } else {
        ++i;
        return kBad;
    }
    if (i + len > text.size()) {
        ++i;
        return kBad;
    }
    for (int k = 1; k < len; ++k) {
        unsigned char c = static_cast<unsigned char>(text[i + k]);
        if ((c & 0xC0) != 0x80) {
            ++i;
            return kBad;
        }
        ch = (ch << 6) | (c & 0x3F);
    }
    static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (ch < kMin[len] || ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF)) {
        ++i;
        return kBad;
    }
    i += len;
    return ch;
}

char32_t NextUtf16(std::u16string_view text, std::size_t& i) {
    char16_t u = text[i++];
    if (u >= 0xD800 && u <= 0xDBFF) {
        if (i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
            char32_t ch = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i] - 0xDC00);
            ++i;
            return ch;
        }
        return kBad;
    }
    if (u >= 0xDC00 && u <= 0xDFFF) return kBad;
    return u;
}

char16_t* PutUtf16(char16_t* out, char32_t ch) {
    if (ch == kBad) ch = 0xFFFD;
    if (ch >= 0x10000) {
        ch -= 0x10000;
        *out++ = static_cast<char16_t>(0xD800 + (ch >> 10));
        *out++ = static_cast<char16_t>(0xDC00 + (ch & 0x3FF));
    } else {
        *out++ = static_cast<char16_t>(ch);
    }
    return out;
}

void AppendUtf16(std::u16string& out, char32_t ch) {
    char16_t units[2];
    out.append(units, static_cast<std::size_t>(PutUtf16(units, ch) - units));
}

} // namespace quillmark::platform::unicode

namespace quillmark::platform {

// The same on every platform: UTF-8 and UTF-16 hold every character.
std::u16string Utf16FromUtf8(std::string_view text) {
    // Never more units out than bytes in (a four-byte sequence gives two units, a bad byte
    // one): written in place, then cut to length.
    std::u16string out(text.size(), u'\0');
    char16_t* o = out.data();
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        // ASCII, most of any mail, eight bytes at a time while all eight are ASCII.
        while (n - i >= 8) {
            std::uint64_t word;
            std::memcpy(&word, bytes + i, 8);
            if (word & 0x8080808080808080ull) break;
            for (int k = 0; k < 8; ++k) o[k] = bytes[i + k];
            o += 8;
            i += 8;
        }
        if (i == n) break;
        if (bytes[i] < 0x80) {
            *o++ = bytes[i++];
            continue;
        }
        o = unicode::PutUtf16(o, unicode::NextUtf8(text, i));
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

std::string Utf8FromUtf16(std::u16string_view text) {
    // Written in place, then cut to length. Room for one byte per unit first (ASCII, most
    // of any mail); at the first unit beyond ASCII room for three per unit left (a pair of
    // units gives four bytes, a lone surrogate the three of U+FFFD). Every mail text comes
    // through here, the bodies too, so ASCII goes four units at a time.
    std::string out;
    out.resize(text.size());
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    bool widened = false;
    const char16_t* p = text.data();
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        while (n - i >= 4) {
            std::uint64_t word;
            std::memcpy(&word, p + i, 8);
            if (word & 0xFF80FF80FF80FF80ull) break;
            o[0] = static_cast<unsigned char>(p[i]);
            o[1] = static_cast<unsigned char>(p[i + 1]);
            o[2] = static_cast<unsigned char>(p[i + 2]);
            o[3] = static_cast<unsigned char>(p[i + 3]);
            o += 4;
            i += 4;
        }
        if (i == n) break;
        const char16_t u = p[i];
        if (u < 0x80) {
            *o++ = static_cast<unsigned char>(u);
            ++i;
            continue;
        }
        if (!widened) {
            const std::size_t at = static_cast<std::size_t>(o - reinterpret_cast<unsigned char*>(out.data()));
            out.resize(at + (n - i) * 3);
            o = reinterpret_cast<unsigned char*>(out.data()) + at;
            widened = true;
        }
        if (u < 0x800) {
            *o++ = static_cast<unsigned char>(0xC0 | (u >> 6));
            *o++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
            ++i;
        } else {
            char32_t ch = unicode::NextUtf16(text, i);
            if (ch == unicode::kBad) ch = 0xFFFD;
            if (ch < 0x10000) {
                *o++ = static_cast<unsigned char>(0xE0 | (ch >> 12));
                *o++ = static_cast<unsigned char>(0x80 | ((ch >> 6) & 0x3F));
                *o++ = static_cast<unsigned char>(0x80 | (ch & 0x3F));
            } else {
                *o++ = static_cast<unsigned char>(0xF0 | (ch >> 18));
                *o++ = static_cast<unsigned char>(0x80 | ((ch >> 12) & 0x3F));
                *o++ = static_cast<unsigned char>(0x80 | ((ch >> 6) & 0x3F));
                *o++ = static_cast<unsigned char>(0x80 | (ch & 0x3F));
            }
        }
    }
    out.resize(static_cast<std::size_t>(o - reinterpret_cast<unsigned char*>(out.data())));
    return out;
}

} // namespace quillmark::platform
