// Making mail text safe where it enters a page. Mail is outside input: a subject or body
// holding "<script>" or "<name@host>" must show as text, not act as markup, and a file
// name from a mail must not break out of an href.
#pragma once

#include <string>

namespace quillmark {

// "&", "<", ">", '"' and "'" as character references; every other byte unchanged. Safe in
// element text and in quoted attribute values alike.
std::string HtmlEscape(const std::string& text);
void AppendHtmlEscaped(std::string& out, const std::string& text);

// Percent-encodes every byte that is not safe in a relative URL path: all but ASCII
// letters, digits, "-", ".", "_", "~", "!" and "/". The result needs no HTML escaping.
std::string UrlEncodePath(const std::string& path);

} // namespace quillmark
