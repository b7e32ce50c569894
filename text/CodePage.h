// 8-bit text in a Windows code page number (the numbers Outlook stores and mail charsets map
// to) decoded to Unicode. One table per code page; Windows-1252 is the platform's own table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillmark::text {

// Code pages with a special meaning.
namespace codepage {
constexpr std::uint32_t Unknown = 0;
constexpr std::uint32_t Utf16Le = 1200;
constexpr std::uint32_t Windows1252 = 1252;
constexpr std::uint32_t UsAscii = 20127;
constexpr std::uint32_t Latin1 = 28591;
constexpr std::uint32_t Utf8 = 65001;
} // namespace codepage

// True when the code page is decoded fully: UTF-8, UTF-16LE, Windows-874 and 1250-1258,
// ISO-8859-1 to -16, KOI8-R and KOI8-U. Unknown (0), US-ASCII and ISO-8859-1 are read as
// Windows-1252, as mail readers read them: mail labelled so is nearly always that.
bool IsDecoded(std::uint32_t codePage);

// Bytes a code page leaves undefined map to the C1 control of the same value (0x80-0x9F)
// or to U+FFFD (holes above, as in ISO-8859-8). In a code page that is not decoded (the
// East Asian multi-byte ones) ASCII passes and every other byte becomes U+FFFD. UTF-8 input is decoded as platform::Utf16FromUtf8 does, one
// U+FFFD per malformed byte.
std::u16string Utf16FromCodePage(std::string_view bytes, std::uint32_t codePage);
std::string Utf8FromCodePage(std::string_view bytes, std::uint32_t codePage);

// The Unicode character of one byte in an 8-bit code page; U+FFFD for a byte at or above
// 0x80 in a code page that is not decoded. UTF-8 and UTF-16 are no 8-bit code pages: their
// high bytes give U+FFFD too.
char16_t CharFromByte(unsigned char byte, std::uint32_t codePage);

} // namespace quillmark::text
