#include "SrcLib/FastStrings.h"

#include "SrcLib/Exceptions.h"

#include <cstring>

namespace quillmark {

void BuildSkipTable(const unsigned char* pattern, std::size_t m, std::int32_t table[256]) {
    if (m == 0) throw Exception("BufferLen is 0");
    for (int i = 0; i < 256; ++i) table[i] = static_cast<std::int32_t>(m);
    for (std::size_t i = 0; i + 1 < m; ++i) table[pattern[i]] = static_cast<std::int32_t>(m - 1 - i);
    if (m == 1) table[pattern[0]] = 0; // never used: a one-byte window that ends on it is a match
}

const unsigned char* ScanForPattern(const unsigned char* range, const unsigned char* pattern, std::size_t n,
                                    const std::int32_t table[256], std::size_t m) {
    if (m == 0 || n < m) return nullptr;
    const unsigned char last = pattern[m - 1];
    std::size_t e = m - 1;
    while (e <= n - 1) {
        const unsigned char tail = range[e];
        // The last byte decides most windows; only then compare the rest backwards.
        if (tail == last && (m == 1 || std::memcmp(range + e - (m - 1), pattern, m - 1) == 0))
            return range + e - (m - 1);
        e += static_cast<std::size_t>(table[tail] > 0 ? table[tail] : 1);
    }
    return nullptr;
}

std::size_t FindSubstring(const std::string& pattern, const std::string& text, std::size_t start) {
    if (start < 1) throw EAssertionFailed("Assertion failed (FastStrings, line " + std::to_string(__LINE__) + ")");
    const std::size_t m = pattern.size(), n = text.size();
    if (m == 0 || n < m || start > n) return 0;
    std::int32_t table[256];
    const auto* p = reinterpret_cast<const unsigned char*>(pattern.data());
    const auto* t = reinterpret_cast<const unsigned char*>(text.data());
    BuildSkipTable(p, m, table);
    const unsigned char* hit = ScanForPattern(t + (start - 1), p, n - start + 1, table, m);
    return hit ? static_cast<std::size_t>(hit - t) + 1 : 0;
}

std::string ReplaceAll(const std::string& find, const std::string& replacement, const std::string& source) {
    if (find == replacement || find.empty()) return source;
    // The text after an inserted replacement is the untouched rest of the source, so
    // building the result left to right gives the same text as replacing in place and
    // resuming the search after each insertion, without the quadratic copying.
    std::string out;
    std::size_t from = 1, pos = FindSubstring(find, source, 1);
    if (pos == 0) return source;
    out.reserve(source.size());
    while (pos != 0) {
        out.append(source, from - 1, pos - from);
        out += replacement;
        from = pos + find.size();
        pos = from <= source.size() ? FindSubstring(find, source, from) : 0;
    }
    out.append(source, from - 1, std::string::npos);
    return out;
}

} // namespace quillmark
