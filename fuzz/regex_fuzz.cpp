// Fuzz target for the expression engine. Input: one byte of settings, then the expression,
// a zero byte, and the subject. Every compile or run-time error must surface as ERegExpr (or
// the class-collector's assertion failure); anything else, and any memory fault, is a bug.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "regex/RegExpr.h"

using namespace quillmark;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > 1024) return 0;
    std::uint8_t settings = data[0];
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::size_t split = rest.find('\0');
    std::string expression = rest.substr(0, split);
    std::string subject = split == std::string::npos ? std::string() : rest.substr(split + 1);

    TRegExpr re;
    // Exponential backtracking is a property of the expression, not a fault: bound it.
    re.SetBacktrackLimit(50000); // per search, over all start positions
    re.SetModifiers(settings & 63u);
    try {
        if (settings & 64) re.SetLineSeparatorChars("\n");
        if (settings & 128) re.SetLinePairedSeparator("");
        re.SetExpression(expression);
        bool matched = re.Exec(subject);
        const std::ptrdiff_t length = static_cast<std::ptrdiff_t>(re.InputString().size());
        if (matched) {
            std::ptrdiff_t pos = re.MatchPos(0), len = re.MatchLen(0);
            if (pos < 1 || len < 0 || pos + len - 1 > length) std::abort();
            for (int n = 1; n < TRegExpr::NSUBEXP; ++n)
                if (re.MatchPos(n) > 0 && re.MatchPos(n) + re.MatchLen(n) - 1 > length) std::abort();
            // Searching again from the match's own start finds the same match.
            if (!re.ExecFrom(pos) || re.MatchPos(0) != pos || re.MatchLen(0) != len) std::abort();
        } else if (re.ExecFrom(length + 1)) {
            std::abort(); // the search from 1 tries the empty tail too
        }
    } catch (const ERegExpr& e) {
        if (e.ErrorNumber == 1000 || e.ErrorNumber == 1001 || e.ErrorNumber == 1002 ||
            e.ErrorNumber == 1004 || e.ErrorNumber == 1015 || e.ErrorNumber == 105 || e.ErrorNumber == 114 ||
            e.ErrorNumber == 119)
            std::abort(); // internal checks that no expression may reach
    } catch (const EAssertionFailed&) {
    }
    return 0;
}
