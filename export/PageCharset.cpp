#include "export/PageCharset.h"

#include "platform/Cp1252.h"
#include "platform/Unicode.h"

#include <cstdint>
#include <cstring>

namespace quillmark {

namespace {

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsCharsetNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':';
}

PageCharset CharsetOfName(const std::string& name) {
    static const char* const kUtf8[] = {"utf-8", "utf8", "unicode-1-1-utf-8"};
    // What browsers read as Windows-1252 (the encoding standard's labels of it), and ASCII.
    static const char* const k1252[] = {"iso-8859-1", "iso8859-1",    "iso_8859-1",     "latin1",
                                        "l1",         "windows-1252", "cp1252",         "x-cp1252",
                                        "us-ascii",   "ascii",        "ansi_x3.4-1968", "cp819",
                                        "ibm819",     "iso-ir-100",   "csisolatin1"};
    for (const char* n : kUtf8)
        if (name == n) return PageCharset::Utf8;
    for (const char* n : k1252)
        if (name == n) return PageCharset::Windows1252;
    return PageCharset::AsciiReferences;
}

void AppendReference(std::string& out, char32_t ch) {
    out += "&#";
    out += std::to_string(static_cast<unsigned long>(ch));
    out += ';';
}

// How many bytes from `from` on are ASCII, eight at a time: mail text is mostly ASCII, and
// every value on a page is looked at here.
std::size_t AsciiRun(std::string_view text, std::size_t from) {
    std::size_t i = from;
    const std::size_t n = text.size();
    while (n - i >= 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        if (word & 0x8080808080808080ull) break;
        i += 8;
    }
    while (i < n && static_cast<unsigned char>(text[i]) < 0x80) ++i;
    return i - from;
}

bool IsAscii(std::string_view text) { return AsciiRun(text, 0) == text.size(); }

} // namespace

PageCharset DetectPageCharset(std::string_view templateText) {
    // Browsers look for the declaration near the top; a template's head is short, and the
    // body (where "charset" may well occur in text) is not looked at.
    std::string head;
    head.reserve(std::min<std::size_t>(templateText.size(), 8192));
    for (char c : templateText.substr(0, 8192))
        head += LowerAscii(c);
    const std::size_t bodyAt = head.find("<body");
    if (bodyAt != std::string::npos) head.resize(bodyAt);
    for (std::size_t at = head.find("charset"); at != std::string::npos; at = head.find("charset", at + 7)) {
        std::size_t i = at + 7;
        while (i < head.size() && (head[i] == ' ' || head[i] == '\t'))
            ++i;
        if (i >= head.size() || head[i] != '=') continue;
        ++i;
        while (i < head.size() && (head[i] == ' ' || head[i] == '\t' || head[i] == '"' || head[i] == '\''))
            ++i;
        std::string name;
        while (i < head.size() && IsCharsetNameChar(head[i]))
            name += head[i++];
        if (!name.empty()) return CharsetOfName(name);
    }
    return PageCharset::Windows1252;
}

void AppendInPageCharset(std::string& out, std::string_view utf8, PageCharset charset) {
    using namespace platform::unicode;
    if (charset == PageCharset::Utf8) {
        // Our own text is valid UTF-8 already; a stray bad byte still must not reach a page
        // that declares UTF-8.
        for (std::size_t i = 0; i < utf8.size();) {
            if (const std::size_t run = AsciiRun(utf8, i)) {
                out.append(utf8.substr(i, run));
                i += run;
                continue;
            }
            const std::size_t start = i;
            const char32_t ch = NextUtf8(utf8, i);
            if (ch == kBad)
                out += "\xEF\xBF\xBD";
            else
                out.append(utf8.substr(start, i - start));
        }
        return;
    }
    for (std::size_t i = 0; i < utf8.size();) {
        if (const std::size_t run = AsciiRun(utf8, i)) {
            out.append(utf8.substr(i, run));
            i += run;
            continue;
        }
        char32_t ch = NextUtf8(utf8, i);
        if (ch == kBad) ch = 0xFFFD;
        const int b = charset == PageCharset::Windows1252 ? platform::cp1252::FromUnicode(ch) : -1;
        if (b >= 0)
            out += static_cast<char>(b);
        else
            AppendReference(out, ch);
    }
}

std::string InPageCharset(std::string utf8, PageCharset charset) {
    if (IsAscii(utf8)) return utf8;
    std::string out;
    out.reserve(utf8.size() + utf8.size() / 4);
    AppendInPageCharset(out, utf8, charset);
    return out;
}

} // namespace quillmark
