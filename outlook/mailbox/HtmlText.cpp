// The plain text of an HTML body, for mail that has no text/plain part: tags dropped,
// script and style left out, block ends and <br> as line breaks, entities decoded, runs of
// white space folded the way a browser folds them.
#include "outlook/mailbox/MimeMessage.h"

#include <cstdint>

namespace quillmark::outlook::mailbox {

namespace {

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// The first "<" at or after from that starts needle (lower-case ASCII), in any letter case.
std::size_t FindTagCaseless(std::string_view hay, std::size_t from, std::string_view needle) {
    for (std::size_t p = hay.find('<', from); p != std::string_view::npos; p = hay.find('<', p + 1)) {
        if (p + needle.size() > hay.size()) return std::string_view::npos;
        bool same = true;
        for (std::size_t k = 0; k < needle.size() && same; ++k) {
            char c = hay[p + k];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            same = c == needle[k];
        }
        if (same) return p;
    }
    return std::string_view::npos;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

// Decodes the entity at html[i] ('&'); returns the characters consumed, 0 when it is none.
std::size_t Entity(std::string_view html, std::size_t i, std::string& out) {
    const std::size_t semi = html.find(';', i);
    if (semi == std::string_view::npos || semi - i > 12) return 0;
    const std::string_view name = html.substr(i + 1, semi - i - 1);
    if (name.size() >= 2 && name[0] == '#') {
        std::uint32_t cp = 0;
        const bool hex = name[1] == 'x' || name[1] == 'X';
        const std::string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty()) return 0;
        for (char c : digits) {
            int d;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
            else return 0;
            cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
            if (cp > 0x10FFFF) cp = 0x110000;
        }
        AppendUtf8(out, cp);
        return semi - i + 1;
    }
    struct Named {
        const char* name;
        std::uint32_t cp;
    };
    static const Named names[] = {{"amp", '&'},     {"lt", '<'},      {"gt", '>'},      {"quot", '"'},
                                  {"apos", '\''},   {"nbsp", 0xA0},   {"copy", 0xA9},   {"reg", 0xAE},
                                  {"euro", 0x20AC}, {"hellip", 0x2026}, {"mdash", 0x2014}, {"ndash", 0x2013},
                                  {"auml", 0xE4},   {"ouml", 0xF6},   {"uuml", 0xFC},   {"Auml", 0xC4},
                                  {"Ouml", 0xD6},   {"Uuml", 0xDC},   {"szlig", 0xDF},  {"eacute", 0xE9}};
    for (const auto& n : names)
        if (name == n.name) {
            AppendUtf8(out, n.cp);
            return semi - i + 1;
        }
    return 0;
}

} // namespace

std::string HtmlToText(std::string_view html) {
    std::string out;
    out.reserve(html.size() / 2);
    bool pendingSpace = false;
    auto lineBreak = [&] {
        out += '\n';
        pendingSpace = false;
    };
    std::size_t i = 0;
    while (i < html.size()) {
        const char c = html[i];
        if (c == '<') {
            if (html.substr(i, 4) == "<!--") {
                const auto end = html.find("-->", i + 4);
                i = end == std::string_view::npos ? html.size() : end + 3;
                continue;
            }
            const auto close = html.find('>', i + 1);
            if (close == std::string_view::npos) break; // a cut-off tag at the end: nothing more to show
            std::string_view tag = html.substr(i + 1, close - i - 1);
            const bool endTag = !tag.empty() && tag[0] == '/';
            if (endTag) tag.remove_prefix(1);
            std::size_t n = 0;
            while (n < tag.size() && !IsSpace(tag[n]) && tag[n] != '/') ++n;
            const std::string name = LowerAscii(tag.substr(0, n));
            i = close + 1;
            if (!endTag && (name == "script" || name == "style" || name == "head" || name == "title")) {
                const auto end = FindTagCaseless(html, i, "</" + name);
                i = end == std::string_view::npos ? html.size() : end;
                continue;
            }
            if (name == "br" || name == "p" || name == "div" || name == "tr" || name == "li" || name == "h1" ||
                name == "h2" || name == "h3" || name == "h4" || name == "h5" || name == "h6" || name == "hr" ||
                name == "blockquote" || name == "table" || name == "pre") {
                if (name == "br" || endTag || name == "hr" || name == "li" || name == "tr") lineBreak();
                else if (!out.empty() && out.back() != '\n') lineBreak();
            } else if (name == "td" || name == "th") {
                pendingSpace = true;
            }
            continue;
        }
        if (IsSpace(c)) {
            pendingSpace = true;
            ++i;
            continue;
        }
        if (pendingSpace && !out.empty() && out.back() != '\n') out += ' ';
        pendingSpace = false;
        if (c == '&') {
            const std::size_t used = Entity(html, i, out);
            if (used) {
                i += used;
                continue;
            }
        }
        out += c;
        ++i;
    }
    // No blank lines at the very start or end.
    std::size_t b = 0;
    while (b < out.size() && out[b] == '\n') ++b;
    std::size_t e = out.size();
    while (e > b && out[e - 1] == '\n') --e;
    return out.substr(b, e - b);
}

} // namespace quillmark::outlook::mailbox
