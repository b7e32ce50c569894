#include "export/SubjectFilter.h"

#include "regex/RegExpr.h"

namespace quillmark {

bool SubjectMatches(const std::vector<std::string>& lines, const std::string& subject,
                    const StatusFunction& showStatus) {
    if (lines.empty()) return true;
    try {
        for (const auto& line : lines) {
            if (line.empty()) continue;
            if (MatchExpression(line, subject)) return true;
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
