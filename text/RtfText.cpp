#include "text/RtfText.h"

#include "platform/CodePage.h"
#include "text/CodePage.h"
#include "text/HtmlText.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace quillmark::text {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

struct RtfGroupState {
    bool skip = false;      // inside a destination whose text is not shown
    bool htmlTag = false;   // inside {\*\htmltag ...}: HTML source of a wrapped HTML body
    bool htmlRtf = false;   // between \htmlrtf and \htmlrtf0: RTF-only text of a wrapped body
    int unicodeSkip = 1;    // \ucN: characters that follow a \uN as its fallback
};

bool IsSkippedDestination(std::string_view word) {
    static constexpr std::string_view Names[] = {
        "fonttbl",  "colortbl", "stylesheet", "info",      "pict",        "object",  "header",  "headerl",
        "headerr",  "headerf",  "footer",     "footerl",   "footerr",     "footerf", "listtable",
        "listoverridetable",    "rsidtbl",    "generator", "themedata",   "colorschememapping",
        "datastore", "latentstyles", "xmlnstbl", "pgdsctbl", "filetbl",   "revtbl",  "fldinst",
        "mmathPr",  "footnote", "annotation", "atnid",     "atnauthor",   "private"};
    return std::find(std::begin(Names), std::end(Names), word) != std::end(Names);
}

} // namespace

std::string RtfToText(std::string_view rtf) {
    std::u16string out;
    std::vector<RtfGroupState> stack;
    RtfGroupState state;
    std::uint32_t codePage = 1252;
    bool fromHtml = false;
    int pendingSkip = 0; // fallback characters still to drop after a \uN
    bool destinationNext = false; // a "\*" was just read: the next word names a destination

    auto visible = [&] {
        if (state.skip)
            return false;
        if (fromHtml)
            return state.htmlTag || !state.htmlRtf;
        return true;
    };
    auto emit = [&](char16_t c) {
        if (pendingSkip > 0) {
            --pendingSkip;
            return;
        }
        if (visible())
            out.push_back(c);
    };
    auto emitByte = [&](unsigned char b) {
        if (b < 0x80)
            emit(b);
        else
            emit(CharFromByte(b, codePage));
    };

    std::size_t i = 0;
    // Guards the group stack against a hostile document of nothing but "{".
    constexpr std::size_t MaxDepth = 1000;
    while (i < rtf.size()) {
        char c = rtf[i];
        if (c == '{') {
            if (stack.size() < MaxDepth)
                stack.push_back(state);
            ++i;
            continue;
        }
        if (c == '}') {
            if (!stack.empty()) {
                state = stack.back();
                stack.pop_back();
            }
            pendingSkip = 0;
            ++i;
            continue;
        }
        // Line ends are no text in RTF; NULs pad decompressed bodies and are no text either.
        if (c == '\r' || c == '\n' || c == '\0') {
            ++i;
            continue;
        }
        if (c != '\\') {
            emitByte(static_cast<unsigned char>(c));
            ++i;
            continue;
        }
        // A control word or symbol.
        ++i;
        if (i >= rtf.size())
            break;
        char s = rtf[i];
        if (!IsAsciiLetter(s)) {
            ++i;
            switch (s) {
            case '*':
                destinationNext = true;
                break;
            case '\'': {
                int hi = i < rtf.size() ? HexValue(rtf[i]) : -1;
                int lo = i + 1 < rtf.size() ? HexValue(rtf[i + 1]) : -1;
                if (hi >= 0 && lo >= 0) {
                    emitByte(static_cast<unsigned char>(hi * 16 + lo));
                    i += 2;
                }
                break;
            }
            case '~':
                emit(0x00A0);
                break;
            case '_':
                emit(u'-');
                break;
            case '-':
                break;
            case '\r':
            case '\n':
                emit(u'\r');
                emit(u'\n');
                break;
            default:
                emit(static_cast<unsigned char>(s)); // \\ \{ \} and the like
                break;
            }
            continue;
        }
        std::size_t wordStart = i;
        while (i < rtf.size() && IsAsciiLetter(rtf[i]))
            ++i;
        std::string_view word = rtf.substr(wordStart, i - wordStart);
        bool hasParam = false;
        bool negative = false;
        long long param = 0;
        if (i < rtf.size() && rtf[i] == '-' && i + 1 < rtf.size() && IsAsciiDigit(rtf[i + 1])) {
            negative = true;
            ++i;
        }
        while (i < rtf.size() && IsAsciiDigit(rtf[i])) {
            if (param < 100000000)
                param = param * 10 + (rtf[i] - '0');
            hasParam = true;
            ++i;
        }
        if (negative)
            param = -param;
        if (i < rtf.size() && rtf[i] == ' ')
            ++i;

        if (destinationNext) {
            destinationNext = false;
            if (fromHtml && word == "htmltag") {
                state.htmlTag = true;
            } else {
                state.skip = true;
            }
            continue;
        }
        if (IsSkippedDestination(word)) {
            state.skip = true;
            continue;
        }
        if (word == "fromhtml") {
            fromHtml = true;
        } else if (word == "htmlrtf") {
            state.htmlRtf = !hasParam || param != 0;
        } else if (word == "ansicpg" && hasParam && param > 0) {
            codePage = static_cast<std::uint32_t>(param);
        } else if (word == "uc" && hasParam && param >= 0 && param < 10) {
            state.unicodeSkip = static_cast<int>(param);
        } else if (word == "u" && hasParam) {
            long long v = param < 0 ? param + 65536 : param;
            pendingSkip = 0;
            emit(static_cast<char16_t>(v & 0xFFFF));
            pendingSkip = state.unicodeSkip;
        } else if (word == "bin" && hasParam && param > 0) {
            i += std::min<std::size_t>(static_cast<std::size_t>(param), rtf.size() - i);
        } else if (word == "par" || word == "line") {
            emit(u'\r');
            emit(u'\n');
        } else if (word == "tab") {
            emit(u'\t');
        } else if (word == "emdash") {
            emit(0x2014);
        } else if (word == "endash") {
            emit(0x2013);
        } else if (word == "lquote") {
            emit(0x2018);
        } else if (word == "rquote") {
            emit(0x2019);
        } else if (word == "ldblquote") {
            emit(0x201C);
        } else if (word == "rdblquote") {
            emit(0x201D);
        } else if (word == "bullet") {
            emit(0x2022);
        }
    }
    if (fromHtml)
        return HtmlToText(platform::Utf8FromUtf16(out));
    while (!out.empty() && (out.back() == u'\r' || out.back() == u'\n' || out.back() == u' '))
        out.pop_back();
    return platform::Utf8FromUtf16(out);
}

} // namespace quillmark::text
