#include "template/PageProducer.h"

#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "template/CopyParser.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <streambuf>
#include <string_view>

namespace quillmark {

const std::array<const char*, 7> ReservedTagNames = {"", "LINK", "IMAGE", "TABLE", "IMAGEMAP", "OBJECT", "EMBED"};

namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameTextAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    return true;
}

// A read-only stream over bytes that stay where they are: expanding a string or HTMLDoc
// should not copy the template once more just to stream it.
class MemoryInput : public std::streambuf {
public:
    MemoryInput(const char* data, std::size_t size) {
        char* p = const_cast<char*>(data); // the get area is only ever read
        setg(p, p, p + size);
    }
};

bool IsFieldSeparator(char c) { return c == ' ' || c == '\r' || c == '\n'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string TrimControls(const std::string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= 32) --e;
    return text.substr(b, e - b);
}

} // namespace

TTag TagKindOf(const std::string& tagName) {
    for (int index = 6; index >= 1; --index)
        if (SameTextAscii(tagName, ReservedTagNames[static_cast<std::size_t>(index)])) return static_cast<TTag>(index);
    return TTag::tgCustom;
}

// ---- TCustomContentProducer ----

TCustomContentProducer::~TCustomContentProducer() = default;

std::string TCustomContentProducer::ExpandTemplate() { return std::string(); }

std::string TCustomContentProducer::ExpandStream(std::istream&) { return ExpandTemplate(); }

std::string TCustomContentProducer::ExpandString(const std::string&) { return ExpandTemplate(); }

// ---- TCustomPageProducer ----

namespace {

// Two spellings that differ only in letter case name different files only on a case-sensitive
// file system, and only when at least one of them is there.
bool NameDifferentFiles(const std::string& a, const std::string& b) {
    std::error_code ec;
    std::filesystem::path pa = platform::NativePath(a), pb = platform::NativePath(b);
    bool hasA = std::filesystem::exists(pa, ec), hasB = std::filesystem::exists(pb, ec);
    if (!hasA && !hasB) return false;
    if (hasA != hasB) return true;
    return !std::filesystem::equivalent(pa, pb, ec);
}

} // namespace

void TCustomPageProducer::SetHTMLFile(const std::string& name) {
    // A change of letter case only is ignored, so the stored spelling stays: on the file
    // systems the program was made for it is the same file. Where case matters and the two
    // spellings are two different files, keeping the old name would expand the wrong
    // template without a word, so there the new name is taken like any other.
    if (name == htmlFile_) return;
    if (SameTextAscii(name, htmlFile_) && !NameDifferentFiles(name, htmlFile_)) return;
    htmlDoc_.clear();
    htmlFile_ = name;
}

void TCustomPageProducer::SetHTMLDoc(const TStrings& lines) {
    htmlDoc_ = lines;
    htmlFile_.clear();
}

std::string TCustomPageProducer::ExpandTemplate() {
    if (!htmlFile_.empty()) {
        // A directory opens on some systems and then reads as empty; it is no template file.
        if (platform::IsDirectoryPath(htmlFile_)) throw EFOpenError("Cannot open file " + htmlFile_);
        // Other readers may open the file meanwhile. The standard streams have no sharing mode
        // to keep writers out while it is read; the file is read once, front to back.
        std::ifstream input(platform::NativePath(htmlFile_), std::ios::in | std::ios::binary);
        if (!input.is_open()) throw EFOpenError("Cannot open file " + htmlFile_);
        return ExpandStream(input);
    }
    std::string text;
    std::size_t size = 0;
    for (const std::string& line : htmlDoc_) size += line.size() + 2;
    text.reserve(size);
    for (const std::string& line : htmlDoc_) {
        text += line;
        text += "\r\n";
    }
    return ExpandString(text);
}

std::string TCustomPageProducer::ExpandString(const std::string& text) {
    MemoryInput buffer(text.data(), text.size());
    std::istream input(&buffer);
    return ExpandStream(input);
}

std::string TCustomPageProducer::ExpandStream(std::istream& input) {
    std::string output;
    TCopyParser parser(input, &output);
    for (;;) {
        // Everything up to the next "<" that may open a tag is copied unchanged.
        if (parser.CopyToTagStart() == TCopyParser::toEOF) break;
        // Blanks right after a "<" are consumed and not written, tag or not.
        parser.AdvanceToken(false);
        if (parser.Token() == '#') {
            parser.AdvanceToken(false);
            std::string tagName = parser.TokenText();
            const std::string rawParams = parser.CollectUntil('>');
            std::string paramText = TrimControls(rawParams);
            TStrings params;
            SplitTagParams(paramText, StripParamQuotes, params);
            tagParser_ = &parser;
            tagParamLineFeeds_ = static_cast<int>(std::count(rawParams.begin(), rawParams.end(), '\n'));
            struct Reset {
                const TCopyParser*& p;
                ~Reset() { p = nullptr; }
            } reset{tagParser_};
            output += ResolveTag(tagName, params);
            parser.AdvanceToken(true);
        } else {
            // Not a tag. The token after the "<" is copied as text and never looked at as
            // the start of a tag, even when it is another "<".
            output += '<';
            parser.WriteTokenText();
            parser.AdvanceToken(true);
        }
    }
    return output;
}

int TCustomPageProducer::TagLine() const {
    return tagParser_ ? tagParser_->LineNumber() - tagParamLineFeeds_ : 0;
}

std::string TCustomPageProducer::ResolveTag(const std::string& tagName, TStrings&) { return "<#" + tagName + ">"; }

// ---- TPageProducer ----

std::string TPageProducer::ResolveTag(const std::string& tagName, TStrings& params) {
    TTag kind = TagKindOf(tagName);
    std::string replacement;
    if (OnHTMLTag) OnHTMLTag(*this, kind, tagName, params, replacement);
    return replacement;
}

// ---- parameters ----

void SplitTagParams(const std::string& text, bool stripQuotes, TStrings& list) {
    // A NUL ends the text, as it ends a template.
    std::string_view s(text);
    s = s.substr(0, s.find('\0'));
    if (s.empty()) return;
    const std::size_t n = s.size();
    std::size_t p = 0;
    for (;;) {
        while (p < n && IsFieldSeparator(s[p])) ++p;
        std::size_t start = p;
        std::size_t q = p;
        bool openedAtStart = false, inQuote = false, closed = false;
        // An unclosed double quote runs the field to the end of the text; the quote itself is
        // then part of the field (or dropped when it opened the field), like a closed one.
        while (q < n) {
            char c = s[q];
            if (inQuote) {
                if (c == '"') {
                    closed = true;
                    break;
                }
            } else if (IsFieldSeparator(c)) {
                break;
            } else if (c == '"') {
                inQuote = true;
                if (q == start) {
                    openedAtStart = true;
                    start = q + 1;
                }
            }
            ++q;
        }
        std::size_t fieldEnd = q;
        std::size_t next = q + 1;
        if (closed && !openedAtStart) {
            // The closing quote belongs to the field (a="b c" stays one field).
            fieldEnd = q + 1;
            // The byte right after such a quote used to be overwritten by the field's
            // terminator and lost (a="b"c gave only a=b). It now starts the next field, as it
            // does after a quote that opened its field ("b"c gives b and c).
            next = (fieldEnd < n && IsFieldSeparator(s[fieldEnd])) ? fieldEnd + 1 : fieldEnd;
        }
        bool last = fieldEnd >= n;
        if (fieldEnd > start) {
            std::string field = DecodeParamField(std::string(s.substr(start, fieldEnd - start)));
            if (stripQuotes)
                field.erase(std::remove_if(field.begin(), field.end(), [](char c) { return c == '"' || c == '\''; }),
                            field.end());
            list.push_back(std::move(field));
        }
        if (last) break;
        p = next;
    }
}

std::string DecodeParamField(const std::string& field) {
    const std::size_t n = field.size();
    std::string out;
    out.reserve(n);
    for (std::size_t i = 0; i < n;) {
        char c = field[i];
        if (c == '+') {
            out += ' ';
            ++i;
        } else if (c != '%') {
            out += c;
            ++i;
        } else if (i + 1 < n && field[i + 1] == '%') {
            out += '%';
            i += 2;
        } else if (i + 2 < n) {
            int high = HexValue(field[i + 1]), low = HexValue(field[i + 2]);
            if (high < 0 || low < 0)
                throw EConvertError("'$" + field.substr(i + 1, 2) + "' is not a valid integer value");
            out += static_cast<char>(high * 16 + low);
            i += 3;
        } else {
            // A "%" with fewer than two bytes left in its field is no escape, and there is
            // nothing after the field to read: the field is kept exactly as written.
            return field;
        }
    }
    return out;
}

} // namespace quillmark
