// Header text as mail readers show it: folding undone, RFC 2047 encoded words decoded,
// raw 8-bit bytes read as UTF-8 when they are UTF-8, else as Windows-1252.
//
// Encoded words are decoded one by one and the bytes of neighbouring words in the same
// charset are joined before they are converted, so a character split across two words
// survives, and the padding of one base64 word never cuts off the next. A word in a
// charset nobody knows is read like raw 8-bit text; a malformed word stays as it is written.
#pragma once

#include <string>
#include <string_view>

namespace quillmark::outlook::mailbox {

// The unfolded value of a header: line breaks removed, the blanks after them kept.
std::string UnfoldHeader(std::string_view raw);

// Unfolds and decodes a header of free text (Subject, Keywords, Comments).
std::string DecodeHeaderText(std::string_view raw);

// Bytes in a charset to UTF-8. An empty, unknown or ASCII label: UTF-8 when the bytes are
// valid UTF-8, else Windows-1252. Bytes the charset does not allow are replaced, never
// cut off.
std::string CharsetToUtf8(std::string_view bytes, std::string_view charset);

// Valid UTF-8 as it is, anything else read as Windows-1252.
std::string Utf8OrWindows1252(std::string_view bytes);

} // namespace quillmark::outlook::mailbox
