#include "SrcLib/FastStrings.h"

#include "platform/Exceptions.h"

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

namespace {

// A pattern with its skip table, so that a replace-all pass builds the table once
// instead of once per occurrence; each search is still the same skip-table scan.
class PatternSearch {
public:
    explicit PatternSearch(const std::string& pattern)
        : p_(reinterpret_cast<const unsigned char*>(pattern.data())), m_(pattern.size()) {
        if (m_ > 0) BuildSkipTable(p_, m_, table_);
    }
    // 1-based position of the first match at or after start (>= 1), or 0.
    std::size_t Find(const std::string& text, std::size_t start) const {
        const std::size_t n = text.size();
        if (m_ == 0 || n < m_ || start > n) return 0;
        const auto* t = reinterpret_cast<const unsigned char*>(text.data());
        const unsigned char* hit = ScanForPattern(t + (start - 1), p_, n - start + 1, table_, m_);
        return hit ? static_cast<std::size_t>(hit - t) + 1 : 0;
    }

private:
    const unsigned char* p_;
    std::size_t m_;
    std::int32_t table_[256];
};

} // namespace

std::size_t FindSubstring(const std::string& pattern, const std::string& text, std::size_t start) {
    if (start < 1) throw EAssertionFailed("Assertion failed (FastStrings, line " + std::to_string(__LINE__) + ")");
    if (pattern.empty() || text.size() < pattern.size()) return 0;
    return PatternSearch(pattern).Find(text, start);
}

std::string ReplaceAll(const std::string& find, const std::string& replacement, const std::string& source) {
    if (find == replacement || find.empty()) return source;
    const PatternSearch search(find);
    std::size_t pos = search.Find(source, 1);
    if (pos == 0) return source;
    // The text after an inserted replacement is the untouched rest of the source, so
    // building the result left to right gives the same text as replacing in place and
    // resuming the search after each insertion, without the quadratic copying.
    std::string out;
    out.reserve(source.size());
    std::size_t from = 1;
    while (pos != 0) {
        out.append(source, from - 1, pos - from);
        out += replacement;
        from = pos + find.size();
        pos = search.Find(source, from);
    }
    out.append(source, from - 1, std::string::npos);
    return out;
}

} // namespace quillmark
