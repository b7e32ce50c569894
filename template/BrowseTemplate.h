// The second built-in template, "builtin:browse": a UTF-8 page that fits a phone as well as
// a desk, with the archive's navigation (previous / next by date and in the thread, up to
// the start page) and the tree of the mail's thread. It uses the archive's style sheet, so
// its pages look like the index pages around them.
#pragma once

#include <string>
#include <vector>

namespace quillmark {

// The name that chooses it where a template file is asked for.
constexpr const char* BrowseTemplateName = "builtin:browse";

// The template's lines, without line ends (UTF-8).
std::vector<std::string> BrowseTemplateLines();

// The template as it is written to disk: every line followed by CR LF.
std::string BrowseTemplateText();

} // namespace quillmark
