// Off Windows the ANSI code page is Windows-1252.
#include "platform/CodePage.h"

#include "platform/Cp1252.h"
#include "platform/Unicode.h"

namespace quillmark::platform {

std::optional<std::string> AnsiFromUtf8Exact(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            out += text[i++];
            continue;
        }
        const char32_t ch = unicode::NextUtf8(text, i);
        const int b = ch == unicode::kBad ? -1 : cp1252::FromUnicode(ch);
        if (b < 0) return std::nullopt;
        out += static_cast<char>(b);
    }
    return out;
}

unsigned char AnsiUpper(unsigned char c) { return cp1252::Upper(c); }
unsigned char AnsiLower(unsigned char c) { return cp1252::Lower(c); }

} // namespace quillmark::platform
