// The readable text of an RTF document, as the message bodies of Outlook data files hold it.
#pragma once

#include <string>
#include <string_view>

namespace quillmark::text {

// UTF-8 text with CR LF line ends: text of the body, \par and \line as line breaks, \tab,
// \'hh in the document's \ansicpg code page (Windows-1252 when none is named), \uN
// escapes and their fallbacks; font tables, pictures and other destinations are left out.
// An RTF body that wraps HTML (\fromhtml) is unwrapped and its HTML goes through
// HtmlToText, so that it reads exactly like the same HTML body stored as HTML.
std::string RtfToText(std::string_view rtf);

} // namespace quillmark::text
