// On Windows the ANSI code page is the system's active code page (CP_ACP), asked of the
// system for every conversion.
//
// Conversions are exact or nothing: never Windows' "best fit" mapping (WC_NO_BEST_FIT_CHARS),
// which would turn a fullwidth solidus or reverse solidus (U+FF0F, U+FF3C) into "/" or "\"
// and "∞" into "8".
#include "platform/CodePage.h"
#include "platform/Unicode.h"

#include <windows.h>
// winuser.h names two old calls like our functions; ours are meant here.
#undef AnsiUpper
#undef AnsiLower

#include <array>
#include <algorithm>

namespace quillmark::platform {
namespace {

using namespace unicode;

const wchar_t* Wide(std::u16string_view text) { return reinterpret_cast<const wchar_t*>(text.data()); }

// The system calls take int lengths; texts beyond that are converted in parts (never at a
// surrogate pair's middle, which the caller's clean-up has already made impossible to split
// wrongly: pairs are kept whole only in UTF-8 code pages, see below).
constexpr std::size_t kChunk = 1u << 28;

// The wide text made ready for an ANSI code page: unpaired surrogates become "?" (the
// system would otherwise drop them or make two defaults of them), and so does every
// surrogate pair when the code page is not UTF-8, because no single- or double-byte code
// page holds characters beyond the first plane: a pair is one character and gives one "?".
std::u16string Prepared(std::u16string_view text, bool utf8CodePage) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t start = i;
        char32_t ch = NextUtf16(text, i);
        if (ch == kBad || (ch >= 0x10000 && !utf8CodePage))
            out += u'?';
        else
            out.append(text.substr(start, i - start));
    }
    return out;
}

// The wide text in the active code page, or nothing when a character has no byte there.
std::optional<std::string> WideToAnsiExact(std::u16string_view text) {
    if (text.empty()) return std::string();
    const UINT acp = GetACP();
    const bool utf8 = acp == CP_UTF8;
    const std::u16string clean = Prepared(text, utf8);
    if (clean != text && !utf8) return std::nullopt; // an unpaired surrogate or a character beyond the first plane
    std::string out;
    for (std::size_t pos = 0; pos < clean.size();) {
        std::size_t len = std::min(kChunk, clean.size() - pos);
        if (len < clean.size() - pos && clean[pos + len - 1] >= 0xD800 && clean[pos + len - 1] <= 0xDBFF) --len;
        // UTF-8 takes neither flags nor a default character; everything maps there.
        const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
        BOOL usedDefault = FALSE;
        BOOL* used = utf8 ? nullptr : &usedDefault;
        int need = WideCharToMultiByte(acp, flags, Wide(clean) + pos, static_cast<int>(len), nullptr, 0, nullptr, used);
        if (usedDefault) return std::nullopt;
        if (need > 0) {
            std::size_t at = out.size();
            out.resize(at + static_cast<std::size_t>(need));
            WideCharToMultiByte(acp, flags, Wide(clean) + pos, static_cast<int>(len), out.data() + at, need, nullptr,
                                used);
        }
        pos += len;
    }
    return out;
}

// The system's case mapping of each single byte, made once: the byte as its wide
// character, that character's upper (lower) case, and back, kept only when the way back is
// exact and one byte long. A byte that is a lead byte of a double-byte code page, or whose
// partner is not in the code page (µ, ß, ÿ's upper case in most code pages), maps to itself.
struct CaseTables {
    std::array<unsigned char, 256> Upper{};
    std::array<unsigned char, 256> Lower{};
};

unsigned char MapOne(unsigned char c, bool upper) {
    if (c < 0x80) {
        if (upper && c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 'a' + 'A');
        if (!upper && c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c - 'A' + 'a');
        return c;
    }
    if (IsDBCSLeadByte(c)) return c;
    const char in = static_cast<char>(c);
    wchar_t w[2] = {};
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, &in, 1, w, 2) != 1) return c;
    if (upper)
        CharUpperBuffW(w, 1);
    else
        CharLowerBuffW(w, 1);
    char back[4] = {};
    BOOL usedDefault = FALSE;
    const bool utf8 = GetACP() == CP_UTF8;
    int n = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, w, 1, back, sizeof back, utf8 ? nullptr : "?",
                                utf8 ? nullptr : &usedDefault);
    if (n != 1 || usedDefault) return c;
    return static_cast<unsigned char>(back[0]);
}

const CaseTables& Tables() {
    static const CaseTables tables = [] {
        CaseTables t;
        for (int b = 0; b < 256; ++b) {
            t.Upper[b] = MapOne(static_cast<unsigned char>(b), true);
            t.Lower[b] = MapOne(static_cast<unsigned char>(b), false);
        }
        return t;
    }();
    return tables;
}

} // namespace

std::optional<std::string> AnsiFromUtf8Exact(std::string_view text) {
    const std::u16string wide = Utf16FromUtf8(text);
    if (wide.find(u'\uFFFD') != std::u16string::npos && text.find("\xEF\xBF\xBD") == std::string_view::npos)
        return std::nullopt; // the text was not valid UTF-8
    return WideToAnsiExact(wide);
}

unsigned char AnsiUpper(unsigned char c) { return Tables().Upper[c]; }
unsigned char AnsiLower(unsigned char c) { return Tables().Lower[c]; }

} // namespace quillmark::platform
