// Windows-1252, the ANSI code page used off Windows, as tables of its own. Shared by the
// POSIX code page and by tests; the Windows build asks the system instead.
#pragma once

namespace quillmark::platform::cp1252 {

// The Unicode character of a byte; the five bytes the code page leaves undefined map to
// the C1 control of the same value.
char32_t ToUnicode(unsigned char byte);
// The byte of a Unicode character, or -1 when the code page has none.
int FromUnicode(char32_t ch);
unsigned char Upper(unsigned char c);
unsigned char Lower(unsigned char c);

} // namespace quillmark::platform::cp1252
