// Off Windows the ANSI code page is Windows-1252.
#include "platform/CodePage.h"

#include "platform/Cp1252.h"
#include "platform/Unicode.h"

namespace quillmark::platform {
namespace {

using namespace unicode;

char AnsiOf(char32_t ch) {
    int b = ch == kBad ? -1 : cp1252::FromUnicode(ch);
    return b < 0 ? '?' : static_cast<char>(b);
}

} // namespace

std::string AnsiFromUtf16(std::u16string_view text) {
    // Mail text is mostly ASCII, which maps to itself: that is taken a unit at a time
    // without the decoding step. Never more bytes out than units in.
    std::string out(text.size(), '\0');
    std::size_t o = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] < 0x80)
            out[o++] = static_cast<char>(text[i++]);
        else
            out[o++] = AnsiOf(NextUtf16(text, i));
    }
    out.resize(o);
    return out;
}

std::u16string Utf16FromAnsi(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char c : text) out += static_cast<char16_t>(cp1252::ToUnicode(static_cast<unsigned char>(c)));
    return out;
}

std::string AnsiFromUtf8(std::string_view text) {
    std::string out(text.size(), '\0'); // never more bytes out than in
    std::size_t o = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80)
            out[o++] = text[i++];
        else
            out[o++] = AnsiOf(NextUtf8(text, i));
    }
    out.resize(o);
    return out;
}

std::string Utf8FromAnsi(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) AppendUtf8(out, cp1252::ToUnicode(static_cast<unsigned char>(c)));
    return out;
}

unsigned char AnsiUpper(unsigned char c) { return cp1252::Upper(c); }
unsigned char AnsiLower(unsigned char c) { return cp1252::Lower(c); }

} // namespace quillmark::platform
