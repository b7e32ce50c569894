// A mail's HTML made safe to show inside an archive page.
//
// Mail HTML is hostile input: whoever sends a mail chooses its markup. The body is parsed by
// the same HTML5 parser as HTML to text and written out again from the parsed tree, keeping
// only what an allow-list names: text formatting, links, lists, tables and pictures, with a
// handful of presentational attributes and a safe subset of inline CSS. Everything else is
// left out; elements that act (script, style, frames, plug-ins, forms, SVG, MathML, ...)
// are left out with their content, other unknown elements give their content only.
//
// The result is a fragment meant for the inside of a <div>: every element it opens it also
// closes, text and attribute values are escaped, so that nothing in a mail can close the
// page's own elements or open markup of its own. Parsed again, it gives itself.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmark::text {

struct HtmlSanitizeOptions {
    // Turns the part after "cid:" of a picture's address (a Content-ID) into the address the
    // page uses for it (a relative path to the saved file, already URL-encoded), or nothing
    // when the mail has no such part: the picture is then left out.
    std::function<std::optional<std::string>(std::string_view contentId)> ResolveCid;
    // Pictures from the web tell their sender that the mail was read. When true their address
    // goes into data-remote-src instead of src, for the page to load on request.
    bool BlockRemoteImages = true;
    // A picture address below this folder (as ResolveCid gives them) is kept as it stands, so
    // that the output sanitises to itself; "" keeps none. Such a picture can only be a file
    // the archive saved, never anything that loads from elsewhere.
    std::string LocalPicturePrefix = "./attsimgs/";
};

struct HtmlSanitizeReport {
    int RemoteImages = 0;             // pictures whose loading was held back
    std::vector<std::string> CidUsed; // Content-IDs shown in place, in order of first use
};

// UTF-8 HTML in (a whole document or a fragment; malformed bytes become U+FFFD), the
// sanitised body as UTF-8 out.
std::string SanitizeHtml(std::string_view html, const HtmlSanitizeOptions& options = {},
                         HtmlSanitizeReport* report = nullptr);

// The element names the sanitiser may write (lower case).
bool IsAllowedHtmlElement(std::string_view name);
// The attribute names it may write on any element (lower case); "href" and "src" only on
// <a> and <img>, "data-remote-src" only on <img>.
bool IsAllowedHtmlAttribute(std::string_view element, std::string_view name);

// A style attribute's declarations reduced to the allowed properties with harmless values;
// "" when none is left.
std::string SanitizeInlineStyle(std::string_view style);

// Plain text as HTML: escaped, line breaks kept, http(s)/mailto addresses and www. names
// made links that open outside the archive, quoted lines ("> ...") in <blockquote> levels.
std::string PlainTextToHtml(std::string_view text);

// Text as HTML, safe both between elements and inside a quoted attribute value: & < > " '
// become references, NUL bytes are dropped (a parser would turn them into U+FFFD).
void AppendHtmlEscaped(std::string& out, std::string_view text);

} // namespace quillmark::text
