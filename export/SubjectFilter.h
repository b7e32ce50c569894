// The subject filter of the export run: a mail passes when any non-empty line of the
// pattern list matches its subject, and every mail passes an empty list.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quillmark {

// The status line of the front end: text and mode (0 normal, 1 red).
using StatusFunction = std::function<void(const std::string& text, int mode)>;

// Each line is the regular expression and the subject the input, as the list's caption
// "Subject match RegExprs (or):" promises. Lines are used as they are (no trimming); empty
// lines are skipped, so a list of only empty lines lets nothing pass. An expression that
// does not compile ends the pass: "Regular expression error..." in red, result false.
bool SubjectMatches(const std::vector<std::string>& lines, const std::string& subject,
                    const StatusFunction& showStatus);

} // namespace quillmark
