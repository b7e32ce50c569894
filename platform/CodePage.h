// The system's 8-bit "ANSI" code page: conversions from and to UTF-16 and the
// single-character case mapping. On Windows this is the active code page; elsewhere
// it is Windows-1252, the code page the archive's pages and templates are written in.
#pragma once

#include <string>
#include <string_view>

namespace quillmark::platform {

// UTF-16 to the ANSI code page. Characters without a mapping (and unpaired
// surrogates) become the code page's default character "?"; a surrogate pair counts
// as one character.
std::string AnsiFromUtf16(std::u16string_view text);

// The ANSI code page to UTF-16. Every byte maps to one UTF-16 unit; bytes the code
// page leaves undefined map to the C1 control of the same value, so the trip
// ANSI -> UTF-16 -> ANSI is loss-free except for those five bytes.
std::u16string Utf16FromAnsi(std::string_view text);

// UTF-8 (what POSIX file names, terminals and most mail use) to the ANSI code page
// and back; the same "?" rule applies.
std::string AnsiFromUtf8(std::string_view text);
std::string Utf8FromAnsi(std::string_view text);
std::u16string Utf16FromUtf8(std::string_view text);
std::string Utf8FromUtf16(std::u16string_view text);

// Single-character case mapping of the code page (on Windows-1252: A-Z, À-Þ except ×,
// plus Š Œ Ž Ÿ and their lower-case partners).
unsigned char AnsiUpper(unsigned char c);
unsigned char AnsiLower(unsigned char c);

} // namespace quillmark::platform
