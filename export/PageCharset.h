// The character set a page is written in, and mail text put into it without losing a
// character.
//
// Text inside the program is UTF-8. A template is bytes in the character set its
// <META ... charset=...> declares; the template's own bytes go into the page untouched, and
// every value a tag puts there is converted to that set. A character the set cannot hold
// becomes an HTML numeric character reference ("&#1055;"), which a browser shows as the
// character whatever the page's set: nothing is lost, and a page of Latin mail is byte for
// byte what it always was.
#pragma once

#include <string>
#include <string_view>

namespace quillmark {

enum class PageCharset {
    Windows1252,     // declared ISO-8859-1, Windows-1252, US-ASCII, or nothing (browsers read all as 1252)
    Utf8,            // declared UTF-8: values go in as they are
    AsciiReferences, // another set we do not write: ASCII, everything else as references
};

// The character set a template declares in a charset= of its head; Windows1252 when none.
PageCharset DetectPageCharset(std::string_view templateText);

// Appends UTF-8 text in the page's set; malformed UTF-8 becomes U+FFFD (as a reference
// where the set has no such character).
void AppendInPageCharset(std::string& out, std::string_view utf8, PageCharset charset);
// The same for a whole value; ASCII text (most of every mail) is returned as it is.
std::string InPageCharset(std::string utf8, PageCharset charset);

} // namespace quillmark
