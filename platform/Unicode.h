// UTF-8 and UTF-16 stepping, shared by every platform's code page so that malformed input
// comes out the same everywhere: one replacement per bad byte or unpaired surrogate.
#pragma once

#include <string>
#include <string_view>

namespace quillmark::platform::unicode {

constexpr char32_t kBad = 0xFFFFFFFF; // no character

// Decodes one character at text[i] and advances i; malformed input yields kBad for one
// byte (UTF-8) or one unit (UTF-16), so that decoding resynchronises.
char32_t NextUtf8(std::string_view text, std::size_t& i);
char32_t NextUtf16(std::u16string_view text, std::size_t& i);
void AppendUtf8(std::string& out, char32_t ch);
void AppendUtf16(std::u16string& out, char32_t ch); // kBad becomes U+FFFD
// Writes ch as one or two UTF-16 units at out (kBad becomes U+FFFD); returns the end.
char16_t* PutUtf16(char16_t* out, char32_t ch);

} // namespace quillmark::platform::unicode
