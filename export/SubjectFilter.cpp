#include "export/SubjectFilter.h"

#include "platform/CodePage.h"
#include "regex/RegExpr.h"

#include <optional>

namespace quillmark {

bool SubjectMatches(const std::vector<std::string>& lines, const std::string& subject,
                    const StatusFunction& showStatus) {
    if (lines.empty()) return true;
    // The expression engine works on the bytes of the system's code page, with its case
    // mapping and one byte a character. Where the subject and the expression are both text
    // of that code page, they are matched there, as always; otherwise on their UTF-8 bytes,
    // where literal text of every script matches (case-insensitive matching then covers
    // ASCII letters only, and "." takes one byte).
    const std::optional<std::string> ansiSubject = platform::AnsiFromUtf8Exact(subject);
    try {
        for (const auto& line : lines) {
            if (line.empty()) continue;
            const std::optional<std::string> ansiLine =
                ansiSubject ? platform::AnsiFromUtf8Exact(line) : std::optional<std::string>();
            if (ansiLine ? MatchExpression(*ansiLine, *ansiSubject) : MatchExpression(line, subject)) return true;
        }
    } catch (const std::exception&) {
        // A bad expression is the user's typing, not a reason to end the run: the mail
        // counts as not matching and the run goes on.
        if (showStatus) showStatus("Regular expression error...", 1);
        return false;
    }
    return false;
}

} // namespace quillmark
