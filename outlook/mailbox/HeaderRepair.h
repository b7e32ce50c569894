// Mends the header blocks of a raw message before the MIME parser sees it, so that mail
// which breaks the rules reads the way mail readers read it:
//
// | the fault                                             | what is made of it                       |
// |-------------------------------------------------------|------------------------------------------|
// | a header longer than the cap (unfolded)               | cut at the cap (whole lines where it can)|
// | Content-Type, -Transfer-Encoding, -Disposition twice  | the first counts, the others are dropped |
// | a Content-Type without subtype ("text"), of no valid  | text/plain with the parameters it had    |
// | syntax, of an unknown top-level type, a multipart     | (the RFC 2045 default), so that the text |
// | without boundary or whose boundary never appears      | is shown instead of becoming a file      |
// | a line that is no header inside the header block      | the body starts there (a blank line is   |
// | (the blank line before the body is missing)           | put in)                                  |
//
// The top-level header block, the header blocks of the parts of every multipart and those of
// attached messages are mended; bodies are only scanned for the boundary lines. The message
// is copied only when something changes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quillmark::outlook::mailbox {

constexpr std::size_t MaxHeaderBytes = std::size_t{1} << 20;

// Returns true when raw was changed; notes gets one line for each kind of repair made.
bool RepairMessage(std::string& raw, std::vector<std::string>& notes, std::size_t maxHeader = MaxHeaderBytes);

} // namespace quillmark::outlook::mailbox
