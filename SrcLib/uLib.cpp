#include "SrcLib/uLib.h"

#include "platform/Exceptions.h"
#include "SrcLib/FastStrings.h"
#include "platform/FileSystem.h"
#include "platform/Cp1252.h"
#include "platform/Regional.h"
#include "platform/Unicode.h"

#include <array>
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#include <immintrin.h>
#endif
#include <cmath>
#include <fstream>
#include <mutex>

namespace quillmark {

// ---------------------------------------------------------------- text

std::string FormatByteSize(std::int64_t count) {
    struct Unit {
        std::int64_t step;
        const char* name;
    };
    static constexpr Unit kUnits[] = {{1LL << 40, " TB"}, {1LL << 30, " GB"}, {1LL << 20, " MB"}, {1024, " KB"}};
    for (const Unit& u : kUnits) {
        if (count / u.step > 0) {
            // The unit is chosen before rounding, so 1048575 bytes read "1024.0 KB".
            long double tenths = std::roundl(static_cast<long double>(count) / u.step * 10.0L); // halves away from 0
            auto whole = static_cast<long long>(tenths / 10.0L);
            int digit = static_cast<int>(static_cast<long long>(tenths) % 10);
            return std::to_string(whole) + platform::Regional().DecimalSeparator + std::to_string(digit) + u.name;
        }
    }
    if (count > 0) return std::to_string(count) + " bytes";
    return {};
}

std::string EscapeLineBreaks(const std::string& text) {
    std::string s = ReplaceAll("\r\n", "\\n", text);
    s = ReplaceAll("\n", "\\n", s);
    s = ReplaceAll("\r", "\\r", s);
    return ReplaceAll("\t", "\\t", s);
}

std::string UnescapeLineBreaks(const std::string& text) {
    std::string s = ReplaceAll("\\r\\n", "\r\n", text);
    s = ReplaceAll("\\r", "\r", s);
    s = ReplaceAll("\\n", "\r\n", s);
    return ReplaceAll("\\t", "\t", s);
}

// ---------------------------------------------------------------- file names

namespace {

std::array<char, 256> MakeSanitizeTable() {
    std::array<char, 256> t{};
    for (int b = 0; b < 256; ++b) {
        char c = '_';
        if (b == 0x21 || b == 0x2D || (b >= 0x30 && b <= 0x39) || (b >= 0x41 && b <= 0x5A) || b == 0x5F ||
            (b >= 0x61 && b <= 0x7A))
            c = static_cast<char>(b);
        else if (b >= 0x3A && b <= 0x40) c = '-';
        else if (b >= 0xC0 && b <= 0xC6) c = 'A';
        else if (b >= 0xC8 && b <= 0xCB) c = 'E';
        else if (b >= 0xCC && b <= 0xCF) c = 'I';
        else if (b >= 0xD2 && b <= 0xD8) c = 'O'; // the multiplication sign 0xD7 included
        else if (b >= 0xD9 && b <= 0xDC) c = 'U';
        else if (b >= 0xE0 && b <= 0xE6) c = 'a';
        else if (b >= 0xE8 && b <= 0xEB) c = 'e';
        else if (b >= 0xEC && b <= 0xEF) c = 'i';
        else if (b >= 0xF2 && b <= 0xF8) c = 'o'; // the division sign 0xF7 included
        else if (b >= 0xF9 && b <= 0xFC) c = 'u';
        t[b] = c;
    }
    return t;
}

bool IsNameDelimiter(char c) { return c == '\\' || c == '/' || c == ':'; }

// Characters beyond Windows-1252 that names keep: letters, marks and digits of every script,
// emoji and other symbols. Everything else there (punctuation, spaces, controls, invisible
// and direction-changing characters) is no part of a safe name.
bool IsKeptNameCharacter(char32_t ch) {
    struct Range {
        char32_t First, Last;
    };
    static constexpr Range kRanges[] = {
#include "SrcLib/NameChars.inc"
    };
    std::size_t lo = 0, hi = std::size(kRanges);
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (ch < kRanges[mid].First)
            hi = mid;
        else if (ch > kRanges[mid].Last)
            lo = mid + 1;
        else
            return true;
    }
    return false;
}

} // namespace

std::string SanitizeFileName(const std::string& text, NameScript script) {
    // Characters of Windows-1252 go through the one table (so names of Latin mail are what
    // they always were); a character beyond it was once "?" and so "-", and still is unless
    // it is a letter, digit or symbol that names now keep.
    static const std::array<char, 256> kTable = MakeSanitizeTable();
    std::string s;
    s.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            s += kTable[b];
            ++i;
            continue;
        }
        const char32_t ch = platform::unicode::NextUtf8(text, i);
        const int code = ch == platform::unicode::kBad ? -1 : platform::cp1252::FromUnicode(ch);
        if (code >= 0)
            s += kTable[static_cast<unsigned char>(code)];
        else if (script == NameScript::Unicode && IsKeptNameCharacter(ch))
            platform::unicode::AppendUtf8(s, ch);
        else
            s += '-';
    }
    std::size_t lead = 0;
    while (s.size() - lead > 4 && s[lead] == '_') ++lead;
    s.erase(0, lead);
    return ReplaceAll("__", "_", s);
}

std::string Utf8Prefix(const std::string& text, std::size_t maxCharacters) {
    std::size_t i = 0;
    for (std::size_t n = 0; n < maxCharacters && i < text.size(); ++n) platform::unicode::NextUtf8(text, i);
    return text.substr(0, i);
}

std::string LowerCaseText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            out += static_cast<char>(b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b);
            ++i;
            continue;
        }
        const std::size_t start = i;
        const char32_t ch = platform::unicode::NextUtf8(text, i);
        const int code = ch == platform::unicode::kBad ? -1 : platform::cp1252::FromUnicode(ch);
        if (code >= 0)
            platform::unicode::AppendUtf8(out, platform::cp1252::ToUnicode(platform::cp1252::Lower(static_cast<unsigned char>(code))));
        else
            out.append(text, start, i - start);
    }
    return out;
}

std::string FileBaseName(const std::string& path) {
    std::size_t start = 0;
    for (std::size_t i = path.size(); i > 0; --i) {
        if (IsNameDelimiter(path[i - 1])) {
            start = i;
            break;
        }
    }
    std::string name = path.substr(start);
    std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::int64_t FileSizeOf(const std::string& path) { return platform::FileSize(path); }

double FileWriteTime(const std::string& path) { return platform::FileLastWriteUtc(path).value_or(0.0); }

namespace {
// Eight tables so that eight bytes are folded in per step ("slicing by 8"); the first is the
// classic one-byte table. The result is the same as the one-byte table step.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;
CrcTables MakeCrcTables() {
    CrcTables t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (std::uint32_t i = 0; i < 256; ++i)
        for (int k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}
} // namespace

namespace {

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#define QUILLMARK_CRC_CLMUL 1
// Carry-less multiplication folds sixteen bytes per step, four lanes at once, and reduces
// the rest at the end (the method of Intel's paper on CRC with PCLMULQDQ, with the
// constants of this polynomial in reflected form). Every attachment and picture a run
// saves is summed, and the table step below costs several times as much per byte. Takes
// the register as the table step does; length at least 64, a multiple of 16.
__attribute__((target("pclmul,sse4.1"))) inline __m128i load(const unsigned char* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// a folded over the next sixteen bytes b with the constants k.
__attribute__((target("pclmul,sse4.1"))) inline __m128i fold(__m128i a, __m128i b, __m128i k) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x00), _mm_clmulepi64_si128(a, k, 0x11)), b);
}

__attribute__((target("pclmul,sse4.1"))) std::uint32_t Crc32Clmul(const unsigned char* p, std::size_t length,
                                                                 std::uint32_t crc) {
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = load(p + 16), x3 = load(p + 32), x4 = load(p + 48);
    p += 64;
    length -= 64;
    while (length >= 64) {
        x1 = fold(x1, load(p), k1k2);
        x2 = fold(x2, load(p + 16), k1k2);
        x3 = fold(x3, load(p + 32), k1k2);
        x4 = fold(x4, load(p + 48), k1k2);
        p += 64;
        length -= 64;
    }
    x1 = fold(x1, x2, k3k4);
    x1 = fold(x1, x3, k3k4);
    x1 = fold(x1, x4, k3k4);
    while (length >= 16) {
        x1 = fold(x1, load(p), k3k4);
        p += 16;
        length -= 16;
    }
    // 128 bits to 64, then Barrett reduction to 32.
    x2 = _mm_clmulepi64_si128(x1, k3k4, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00), x2);
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, low32), poly, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

bool HaveClmul() {
    static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return have;
}
#endif

} // namespace

std::uint32_t Crc32Update(const void* block, std::size_t length, std::uint32_t crc) {
    static const CrcTables kT = MakeCrcTables();
    const auto* p = static_cast<const unsigned char*>(block);
#ifdef QUILLMARK_CRC_CLMUL
    if (length >= 256 && HaveClmul()) {
        const std::size_t whole = length & ~std::size_t{15};
        crc = Crc32Clmul(p, whole, crc);
        p += whole;
        length -= whole;
    }
#endif
    while (length >= 8) {
        const std::uint32_t lo = crc ^ (std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                                        std::uint32_t(p[3]) << 24);
        crc = kT[7][lo & 0xFF] ^ kT[6][(lo >> 8) & 0xFF] ^ kT[5][(lo >> 16) & 0xFF] ^ kT[4][lo >> 24] ^
              kT[3][p[4]] ^ kT[2][p[5]] ^ kT[1][p[6]] ^ kT[0][p[7]];
        p += 8;
        length -= 8;
    }
    while (length--) crc = kT[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

std::uint32_t Crc32(std::string_view bytes) { return ~Crc32Update(bytes.data(), bytes.size(), 0xFFFFFFFFu); }

std::uint32_t FileCrc32(const std::string& path) {
    std::ifstream in(platform::NativePath(path), std::ios::binary);
    if (!in) throw EFOpenError("Cannot open file " + path);
    std::uint32_t crc = 0xFFFFFFFFu;
    char block[65536]; // larger blocks than the historic 2048 bytes; the CRC is the same
    while (in) {
        in.read(block, sizeof block);
        std::streamsize got = in.gcount();
        if (got <= 0) break;
        crc = Crc32Update(block, static_cast<std::size_t>(got), crc);
    }
    return ~crc;
}

bool IsDirectory(const std::string& path) { return platform::IsDirectoryPath(path); }

std::string IncludeTrailingPathDelimiter(const std::string& path) {
    if (!path.empty() && platform::IsPathDelimiter(path.back())) return path;
    return path + platform::PathDelim;
}

bool CreateDirectoryPath(const std::string& dir) {
    if (dir.empty()) return false;
    std::string path = dir;
    if (platform::IsPathDelimiter(path.back())) path.pop_back();
    // A drive root ("C:", "C:\") counts as present on Windows; off Windows only "/" is a root,
    // so that a short top-level name such as "/x" is still created.
    const bool isRoot = platform::PathDelim == '\\' ? path.size() < 3 : path.empty();
    if (isRoot || IsDirectory(path)) return true;
    std::size_t cut = std::string::npos;
    for (std::size_t i = path.size(); i > 0; --i) {
        char c = path[i - 1];
        if (platform::IsPathDelimiter(c) || (platform::PathDelim == '\\' && c == ':')) {
            cut = i;
            break;
        }
    }
    std::string parent = cut == std::string::npos ? std::string() : path.substr(0, cut);
    if (parent == path) return true;
    return CreateDirectoryPath(parent) && platform::CreateSingleDirectory(path);
}

// ---------------------------------------------------------------- start-up values

namespace {
struct StartupPaths {
    std::string executablePath, applicationDir, executableBaseName;
};
std::once_flag gStartupOnce;
StartupPaths gStartup;

StartupPaths ComputeStartup(const std::string& exe) {
    StartupPaths s;
    s.executablePath = exe;
    std::size_t cut = 0;
    for (std::size_t i = exe.size(); i > 0; --i) {
        if (IsNameDelimiter(exe[i - 1])) {
            cut = i;
            break;
        }
    }
    std::string dir = exe.substr(0, cut);
    if (!dir.empty() && dir.find(":") == std::string::npos && !platform::IsPathDelimiter(dir[0])) {
        // Made absolute against the working directory.
        dir = IncludeTrailingPathDelimiter(platform::Utf8Path(std::filesystem::current_path())) + dir;
    }
    if (dir.rfind("\\\\?\\", 0) == 0) dir.erase(0, 4);
    s.applicationDir = dir;
    std::string name = exe.substr(cut);
    std::size_t dot = name.find('.');
    if (dot != std::string::npos) name.erase(dot, 12);
    s.executableBaseName = name;
    return s;
}
} // namespace

void InitStartupPaths() {
    std::call_once(gStartupOnce, [] { gStartup = ComputeStartup(platform::ExecutableFilePath()); });
}

void InitStartupPathsFrom(const std::string& executablePath) {
    std::call_once(gStartupOnce, [] {});
    gStartup = ComputeStartup(executablePath);
}

const std::string& ExecutablePath() {
    InitStartupPaths();
    return gStartup.executablePath;
}
const std::string& ApplicationDir() {
    InitStartupPaths();
    return gStartup.applicationDir;
}
const std::string& ExecutableBaseName() {
    InitStartupPaths();
    return gStartup.executableBaseName;
}

} // namespace quillmark
