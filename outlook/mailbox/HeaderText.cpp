#include "outlook/mailbox/HeaderText.h"

#include "outlook/mailbox/Base64.h"
#include "outlook/mailbox/GMimeSupport.h"
#include "text/CodePage.h"

#include <vector>

namespace quillmark::outlook::mailbox {

namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct EncodedWord {
    std::size_t End = 0;  // just after "?="
    std::string Charset;  // lower case, without an RFC 2231 language
    std::string Bytes;    // decoded
};

// An encoded word at pos ("=?charset?Q|B?text?="). Blanks inside the text are allowed, as
// mail readers allow them; the word ends at the first "?=" after its encoding letter.
bool ReadEncodedWord(std::string_view s, std::size_t pos, EncodedWord& word) {
    if (s.compare(pos, 2, "=?") != 0) return false;
    const std::size_t csStart = pos + 2;
    const std::size_t q1 = s.find('?', csStart);
    if (q1 == std::string_view::npos || q1 == csStart || q1 + 2 >= s.size() || s[q1 + 2] != '?') return false;
    std::string_view charset = s.substr(csStart, q1 - csStart);
    for (char c : charset)
        if (IsBlank(c) || c == '=') return false;
    const char enc = s[q1 + 1];
    if (enc != 'q' && enc != 'Q' && enc != 'b' && enc != 'B') return false;
    const std::size_t textStart = q1 + 3;
    const std::size_t end = s.find("?=", textStart);
    if (end == std::string_view::npos) return false;
    const std::string_view text = s.substr(textStart, end - textStart);
    if (const auto star = charset.find('*'); star != std::string_view::npos) charset = charset.substr(0, star);
    word.Charset = Lower(charset);
    word.Bytes.clear();
    if (enc == 'b' || enc == 'B') {
        Base64Decoder decoder;
        decoder.Feed(text, word.Bytes);
        decoder.Finish(word.Bytes);
    } else {
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '_') {
                word.Bytes += ' ';
            } else if (c == '=' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
                word.Bytes += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
                i += 2;
            } else {
                word.Bytes += c;
            }
        }
    }
    word.End = end + 2;
    return true;
}

} // namespace

std::string Utf8OrWindows1252(std::string_view bytes) {
    if (g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr)) return std::string(bytes);
    // The platform's Windows-1252 table: its five undefined bytes are kept as the C1
    // controls of the same value.
    return text::Utf8FromCodePage(bytes, text::codepage::Windows1252);
}

std::string CharsetToUtf8(std::string_view bytes, std::string_view charset) {
    const std::string cs = Lower(charset);
    if (cs.empty() || cs == "utf-8" || cs == "utf8" || cs == "us-ascii" || cs == "ascii" || cs == "unknown-8bit" ||
        cs == "x-unknown")
        return Utf8OrWindows1252(bytes);
    bool ascii = true;
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80 || c == 0x1B) {
            ascii = false;
            break;
        }
    if (ascii && cs.compare(0, 6, "utf-16") != 0 && cs.compare(0, 6, "utf-32") != 0 && cs != "utf-7") return std::string(bytes);
    EnsureGMime();
    iconv_t cd = g_mime_iconv_open("UTF-8", cs.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return Utf8OrWindows1252(bytes);
    char* converted = g_mime_iconv_strndup(cd, bytes.data(), bytes.size());
    g_mime_iconv_close(cd);
    if (!converted) return Utf8OrWindows1252(bytes);
    std::string out(converted);
    g_free(converted);
    // What iconv gives is UTF-8; a converter that let bad bytes through is not trusted.
    return Utf8OrWindows1252(out);
}

std::string UnfoldHeader(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (char c : raw)
        if (c != '\r' && c != '\n') out += c;
    return out;
}

std::string DecodeHeaderText(std::string_view raw) {
    const std::string s = UnfoldHeader(raw);
    std::string out;
    out.reserve(s.size());
    std::string plain;        // raw text waiting to be converted
    std::string pendingBytes; // decoded bytes of neighbouring encoded words in one charset
    std::string pendingCharset;
    std::string blanks;       // blanks after an encoded word, dropped when another follows
    auto flushWords = [&] {
        if (!pendingCharset.empty()) out += CharsetToUtf8(pendingBytes, pendingCharset);
        pendingBytes.clear();
        pendingCharset.clear();
    };
    auto flushPlain = [&] {
        if (!plain.empty()) out += Utf8OrWindows1252(plain);
        plain.clear();
    };
    bool lastWasWord = false;
    std::size_t i = 0;
    EncodedWord word;
    while (i < s.size()) {
        if (s[i] == '=' && i + 1 < s.size() && s[i + 1] == '?' && ReadEncodedWord(s, i, word)) {
            if (lastWasWord && word.Charset == pendingCharset) {
                pendingBytes += word.Bytes; // the blanks between two encoded words are no text
            } else {
                // Blanks between encoded words are dropped whatever their charsets.
                flushWords();
                flushPlain();
                pendingCharset = word.Charset;
                pendingBytes = word.Bytes;
            }
            blanks.clear();
            lastWasWord = true;
            i = word.End;
            continue;
        }
        if (lastWasWord && IsBlank(s[i])) {
            blanks += s[i];
            ++i;
            continue;
        }
        if (lastWasWord) {
            flushWords();
            plain += blanks;
            blanks.clear();
            lastWasWord = false;
        }
        plain += s[i];
        ++i;
    }
    flushWords();
    plain += blanks;
    flushPlain();
    return out;
}

} // namespace quillmark::outlook::mailbox
