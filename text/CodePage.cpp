#include "text/CodePage.h"

#include "platform/CodePage.h"
#include "platform/Cp1252.h"
#include "platform/Unicode.h"

#include <algorithm>

namespace quillmark::text {

namespace {

#include "text/CodePageTables.inc"

bool ReadAsCp1252(std::uint32_t codePage) {
    return codePage == codepage::Unknown || codePage == codepage::Windows1252 || codePage == codepage::UsAscii ||
           codePage == codepage::Latin1;
}

const char16_t* UpperHalfOf(std::uint32_t codePage) {
    for (const auto& t : kUpperHalves)
        if (t.codePage == codePage) return t.chars;
    return nullptr;
}

std::u16string Utf16FromLittleEndianBytes(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return out;
}

} // namespace

bool IsDecoded(std::uint32_t codePage) {
    return codePage == codepage::Utf8 || codePage == codepage::Utf16Le || ReadAsCp1252(codePage) ||
           UpperHalfOf(codePage) != nullptr;
}

char16_t CharFromByte(unsigned char byte, std::uint32_t codePage) {
    if (byte < 0x80) return byte;
    if (ReadAsCp1252(codePage)) return static_cast<char16_t>(platform::cp1252::ToUnicode(byte));
    if (const char16_t* upper = UpperHalfOf(codePage)) return upper[byte - 0x80];
    return 0xFFFD;
}

std::u16string Utf16FromCodePage(std::string_view bytes, std::uint32_t codePage) {
    if (codePage == codepage::Utf8) return platform::Utf16FromUtf8(bytes);
    if (codePage == codepage::Utf16Le) return Utf16FromLittleEndianBytes(bytes);
    // One look-up of the table, not one per byte.
    char16_t upper[128];
    for (int b = 0; b < 128; ++b) upper[b] = CharFromByte(static_cast<unsigned char>(0x80 + b), codePage);
    std::u16string out(bytes.size(), u'\0');
    std::transform(bytes.begin(), bytes.end(), out.begin(), [&upper](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x80 ? static_cast<char16_t>(b) : upper[b - 0x80];
    });
    return out;
}

std::string Utf8FromCodePage(std::string_view bytes, std::uint32_t codePage) {
    if (codePage == codepage::Utf8) {
        std::string out;
        out.reserve(bytes.size());
        for (std::size_t i = 0; i < bytes.size();) {
            const char32_t ch = platform::unicode::NextUtf8(bytes, i);
            platform::unicode::AppendUtf8(out, ch == platform::unicode::kBad ? 0xFFFD : ch);
        }
        return out;
    }
    if (codePage == codepage::Utf16Le) return platform::Utf8FromUtf16(Utf16FromLittleEndianBytes(bytes));
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) out += c;
        else platform::unicode::AppendUtf8(out, CharFromByte(b, codePage));
    }
    return out;
}

} // namespace quillmark::text
