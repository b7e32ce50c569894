// The plain text of an HTML document, as a browser shows it: what the document's body
// renders as text, with line breaks where blocks, paragraphs, <br> and table rows end.
#pragma once

#include <string>
#include <string_view>

namespace quillmark::text {

// UTF-8 HTML in (malformed bytes become U+FFFD), UTF-8 text out with CR LF line ends, no
// blank lines at the start or end.
//  - Parsed by an HTML5 parser: text inside tags and attribute values, comments, <head>
//    (with <title>), <script>, <style> and <template> is never shown; every named and
//    numeric character reference is decoded (a non-breaking space stays U+00A0).
//  - White space runs fold to one space and vanish at line starts and ends, except inside
//    <pre>, <textarea> and <listing>, which keep theirs.
//  - Paragraphs, headings and block quotes stand apart by a blank line; other blocks (div,
//    lists and list items, tables and rows, hr, ...) start and end a line; <br> breaks the
//    line; table cells of a row are separated by a tab. Links and emphasis give their text.
std::string HtmlToText(std::string_view html);

} // namespace quillmark::text
