// The style sheet and the script of the archive's pages (archive/assets/ in the sources),
// built into the program so that an index can be written without the sources at hand.
#pragma once

#include <string>

namespace quillmark {

const std::string& ArchiveCss();
const std::string& ArchiveJs();

} // namespace quillmark
