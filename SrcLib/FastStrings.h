// Case-sensitive substring search by a Boyer-Moore-Horspool skip table, and the
// replace-all pass that every text rewrite of the helpers goes through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillmark {

// One left-to-right pass: every occurrence of find is replaced; the search resumes right
// after the inserted replacement. An empty find, or find equal to replacement, returns
// the source unchanged.
std::string ReplaceAll(const std::string& find, const std::string& replacement, const std::string& source);

// 1-based position of the first occurrence of pattern at or after start, or 0.
// start < 1 throws EAssertionFailed.
std::size_t FindSubstring(const std::string& pattern, const std::string& text, std::size_t start);

// Fills the 256-entry skip table; m == 0 throws Exception("BufferLen is 0").
void BuildSkipTable(const unsigned char* pattern, std::size_t m, std::int32_t table[256]);

// The first match inside range[0, n), or nullptr.
const unsigned char* ScanForPattern(const unsigned char* range, const unsigned char* pattern, std::size_t n,
                                    const std::int32_t table[256], std::size_t m);

} // namespace quillmark
