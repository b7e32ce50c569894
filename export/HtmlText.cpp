#include "export/HtmlText.h"

namespace quillmark {

void AppendHtmlEscaped(std::string& out, const std::string& text) {
    // Bodies run to tens of kilobytes: copy the runs between special characters in one go.
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* ref;
        switch (text[i]) {
        case '&': ref = "&amp;"; break;
        case '<': ref = "&lt;"; break;
        case '>': ref = "&gt;"; break;
        case '"': ref = "&quot;"; break;
        case '\'': ref = "&#39;"; break;
        default: continue;
        }
        out.append(text, start, i - start);
        out += ref;
        start = i + 1;
    }
    out.append(text, start, std::string::npos);
}

std::string HtmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    AppendHtmlEscaped(out, text);
    return out;
}

std::string UrlEncodePath(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (unsigned char c : path) {
        const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                          c == '.' || c == '_' || c == '~' || c == '!' || c == '/';
        if (safe) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

} // namespace quillmark
