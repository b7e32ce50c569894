// Text inside the program is UTF-8 in std::string on every platform; stores give UTF-16
// (std::u16string, like a COM BSTR). The system's 8-bit "ANSI" code page is still known for
// the one place that works in it: the subject filter's expression engine, whose case
// mapping is the code page's (on Windows the active code page, elsewhere Windows-1252).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillmark::platform {

// UTF-16 to UTF-8 and back, losing nothing; malformed input (an unpaired surrogate, a bad
// byte) becomes U+FFFD, one per bad unit or byte.
std::u16string Utf16FromUtf8(std::string_view text);
std::string Utf8FromUtf16(std::u16string_view text);

// UTF-8 text in the ANSI code page, or nothing when a character has no byte there (or the
// text is not valid UTF-8). Never a best-fit or "?" stand-in: a caller falls back to
// working on the UTF-8 bytes instead.
std::optional<std::string> AnsiFromUtf8Exact(std::string_view text);

// Single-character case mapping of the code page (on Windows-1252: A-Z, À-Þ except
// ×, plus Š Œ Ž Ÿ and their lower-case partners).
unsigned char AnsiUpper(unsigned char c);
unsigned char AnsiLower(unsigned char c);

} // namespace quillmark::platform
