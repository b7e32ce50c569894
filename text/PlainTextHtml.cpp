// Plain text as HTML (declared in HtmlSanitizer.h). Needs no HTML parser, so that a build
// without one still shows plain-text mail this way.
#include "text/HtmlSanitizer.h"

#include <cctype>
#include <cstring>

namespace quillmark::text {

void AppendHtmlEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        case '\0': break;
        default: out += c;
        }
    }
}

namespace {

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

// Characters a URL in running text may hold; the end is trimmed of closing punctuation
// afterwards.
bool UrlChar(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F) return false;
    return std::strchr("<>\"'`{}|\\^", c) == nullptr;
}

// The length of a web or mail address starting at text[0], 0 when none starts there.
std::size_t UrlLength(std::string_view text, bool& needsScheme) {
    needsScheme = false;
    std::size_t prefix = 0;
    if (StartsWithNoCase(text, "https://")) prefix = 8;
    else if (StartsWithNoCase(text, "http://")) prefix = 7;
    else if (StartsWithNoCase(text, "mailto:")) prefix = 7;
    else if (StartsWithNoCase(text, "www.")) {
        prefix = 4;
        needsScheme = true;
    } else return 0;
    std::size_t n = prefix;
    while (n < text.size() && UrlChar(text[n])) ++n;
    // A sentence's full stop, a closing bracket or a comma after an address is not part of it.
    while (n > prefix && std::strchr(".,;:!?)]", text[n - 1])) --n;
    return n > prefix + 1 ? n : 0;
}

void AppendLinkedLine(std::string& out, std::string_view line) {
    std::size_t i = 0, start = 0;
    while (i < line.size()) {
        const bool boundary = i == 0 || !(std::isalnum(static_cast<unsigned char>(line[i - 1])) || line[i - 1] == '.');
        bool needsScheme = false;
        const std::size_t n = boundary ? UrlLength(line.substr(i), needsScheme) : 0;
        if (n == 0) {
            ++i;
            continue;
        }
        AppendHtmlEscaped(out, line.substr(start, i - start));
        const std::string_view url = line.substr(i, n);
        out += "<a href=\"";
        if (needsScheme) out += "http://";
        AppendHtmlEscaped(out, url);
        out += "\" rel=\"noopener noreferrer\" target=\"_blank\">";
        AppendHtmlEscaped(out, url);
        out += "</a>";
        i += n;
        start = i;
    }
    AppendHtmlEscaped(out, line.substr(start));
}

// How many ">" mark a line as quoted ("> > text" counts two), and where its text starts.
int QuoteLevel(std::string_view line, std::size_t& textStart) {
    int level = 0;
    std::size_t i = 0;
    while (true) {
        std::size_t j = i;
        while (j < line.size() && line[j] == ' ' && j - i < 3) ++j;
        if (j < line.size() && line[j] == '>') {
            ++level;
            i = j + 1;
            if (i < line.size() && line[i] == ' ') ++i;
        } else {
            break;
        }
    }
    textStart = level ? i : 0;
    return level;
}

} // namespace

std::string PlainTextToHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8 + 64);
    out += "<div class=\"qm-text\" style=\"white-space: pre-wrap\">";
    int open = 0;
    std::size_t pos = 0;
    bool first = true;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        const bool last = end == std::string_view::npos;
        if (last) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos = end + 1;
        if (last && line.empty() && !first) break;
        std::size_t textStart = 0;
        const int level = QuoteLevel(line, textStart);
        // Quote levels open and close as blockquotes; the line break that ends a line inside
        // one is written before the level changes, so that no blank line appears.
        if (!first && level == open) out += '\n';
        while (open < level) {
            out += "<blockquote class=\"qm-quote\">";
            ++open;
        }
        while (open > level) {
            out += "</blockquote>";
            --open;
        }
        AppendLinkedLine(out, line.substr(textStart));
        first = false;
        if (last) break;
    }
    while (open-- > 0) out += "</blockquote>";
    out += "</div>";
    return out;
}

} // namespace quillmark::text
