// The index of an mbox file: where each message starts and ends, built by one pass over the
// file so that reaching message i later is one seek and one read, never a rescan.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
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

    // For indexing a file in two halves at once. The second half's indexer starts at a line
    // start `offset`, taking it to lie inside a message and after a line that is not empty;
    // the first half's indexer, fed exactly up to there, tells whether that held
    // (EndsInsideMessageAt) and then joins the second's entries to its own (JoinWith).
    static MboxIndexer InsideMessageAt(std::uint64_t offset);
    bool EndsInsideMessageAt(std::uint64_t offset) const;
    std::vector<MboxEntry> JoinWith(std::vector<MboxEntry> rest);

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

// Indexes a whole file, reading it in blocks (memory stays flat however big the file is); a
// big file in two halves on two threads. Throws EStoreError when the file cannot be read.
std::vector<MboxEntry> IndexMboxFile(const std::filesystem::path& file);
std::vector<MboxEntry> IndexMboxBuffer(std::string_view data);

// Reads size bytes at offset into buffer, fewer at the end of the data.
using MboxReader = std::function<std::size_t(std::uint64_t offset, char* buffer, std::size_t size)>;
// Indexes the data in two halves, the second (from the first suitable line start at or after
// splitNear) on a thread of its own; the same entries as one pass, whatever the data. When
// the guess the second half starts from does not hold, the first half's indexer reads on.
std::vector<MboxEntry> IndexMboxInTwo(const MboxReader& read, std::uint64_t splitNear);

// The date of a "From sender Wed Mar  7 10:11:12 2005" line as a UTC date value, 0 when the
// line carries none.
double ParseFromLineTime(std::string_view fromLine);

// Undoes mbox quoting: a line ">From ", ">>From ", ... loses one ">".
std::string UnquoteFromLines(std::string message); // unchanged (not copied) when nothing is quoted

} // namespace quillmark::outlook::mailbox
