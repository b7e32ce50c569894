// The index of an mbox file: where each message starts and ends, built by one pass over the
// file so that reaching message i later is one seek and one read, never a rescan.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quillmark::outlook::mailbox {

struct MboxEntry {
    std::uint64_t Offset = 0;  // first byte of the message (after its "From " line)
    std::uint64_t Length = 0;  // bytes of the message, without the blank separator line
    double FromLineTime = 0.0; // the "From " line's date as a UTC date value; 0 when unreadable
    bool HadFromLine = true;   // false only for text before the file's first "From " line
};

// A "From " line starts a new message when it follows an empty line (or starts the file),
// or when it carries a date the way mbox writers put it there; a body line that merely
// begins with "From " inside a paragraph does not split a message.
//
// Text before the first "From " line is kept as a message of its own (HadFromLine false)
// so that nothing in the file is silently lost; the caller warns about it.
class MboxIndexer {
public:
    // Feed the file in blocks of any size, then Finish.
    void Feed(const char* data, std::size_t size);
    std::vector<MboxEntry> Finish();

private:
    void Line(std::string_view line, std::uint64_t lineStart, std::uint64_t nextLine);

    std::vector<MboxEntry> entries_;
    std::string pending_;        // the start of a line not yet ended
    std::uint64_t pendingStart_ = 0;
    bool pendingTooLong_ = false; // the pending line was longer than anything a From line needs
    std::uint64_t offset_ = 0;    // bytes fed so far
    bool prevEmpty_ = true;       // the file's start counts as after an empty line
    bool open_ = false;           // a message is open
    bool sawContent_ = false;     // non-blank text seen before the first "From " line
    std::uint64_t prevLineStart_ = 0;
};

// Indexes a whole file, reading it in blocks (memory stays flat however big the file is).
// Throws EStoreError when the file cannot be read.
std::vector<MboxEntry> IndexMboxFile(const std::filesystem::path& file);
std::vector<MboxEntry> IndexMboxBuffer(std::string_view data);

// The date of a "From sender Wed Mar  7 10:11:12 2005" line as a UTC date value, 0 when the
// line carries none.
double ParseFromLineTime(std::string_view fromLine);

// Undoes mbox quoting: a line ">From ", ">>From ", ... loses one ">".
std::string UnquoteFromLines(std::string message); // unchanged (not copied) when nothing is quoted

} // namespace quillmark::outlook::mailbox
