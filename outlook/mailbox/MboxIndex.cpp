#include "outlook/mailbox/MboxIndex.h"

#include "SrcLib/DateTime.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <cstring>
#include <fstream>

namespace quillmark::outlook::mailbox {

namespace {

// Enough of a line to judge whether it is a "From " line; longer lines are cut here while
// indexing so that a huge line (a base64 blob without breaks) costs no memory.
constexpr std::size_t LineHead = 1024;

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// "From -" and nothing else: the separator Netscape and Mozilla write when they know no
// date. It names no sender, so no line of mail text looks like it, and it separates mail
// even where no blank line comes before it.
bool IsBareSeparator(std::string_view line) {
    if (!StartsWith(line, "From -")) return false;
    for (char c : line.substr(6))
        if (c != ' ' && c != '\t') return false;
    return true;
}

bool IsBlank(std::string_view s) {
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\r') return false;
    return true;
}

int MonthOf(std::string_view token) {
    static const char* const names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
    if (token.size() != 3) return 0;
    char lower[3];
    for (int i = 0; i < 3; ++i) lower[i] = static_cast<char>(token[static_cast<std::size_t>(i)] | 0x20);
    for (int m = 0; m < 12; ++m)
        if (std::memcmp(lower, names[m], 3) == 0) return m + 1;
    return 0;
}

bool ReadNumber(std::string_view s, int& out) {
    if (s.empty() || s.size() > 9) return false;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

bool ReadClock(std::string_view s, int& h, int& n, int& sec) {
    const auto c1 = s.find(':');
    if (c1 == std::string_view::npos) return false;
    const auto c2 = s.find(':', c1 + 1);
    sec = 0;
    if (!ReadNumber(s.substr(0, c1), h)) return false;
    if (c2 == std::string_view::npos) return ReadNumber(s.substr(c1 + 1), n);
    return ReadNumber(s.substr(c1 + 1, c2 - c1 - 1), n) && ReadNumber(s.substr(c2 + 1), sec);
}

} // namespace

double ParseFromLineTime(std::string_view line) {
    std::vector<std::string_view> tokens;
    std::size_t i = 0;
    while (i < line.size() && tokens.size() < 16) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) tokens.push_back(line.substr(start, i - start));
    }
    // "From" sender [weekday] month day hh:mm[:ss] [zone] year
    for (std::size_t k = 1; k + 2 < tokens.size(); ++k) {
        const int month = MonthOf(tokens[k]);
        if (month == 0) continue;
        int day = 0, h = 0, n = 0, s = 0, year = 0;
        if (!ReadNumber(tokens[k + 1], day) || !ReadClock(tokens[k + 2], h, n, s)) continue;
        std::size_t y = k + 3;
        if (y < tokens.size() && !ReadNumber(tokens[y], year)) ++y; // a zone name before the year
        if (y >= tokens.size() || !ReadNumber(tokens[y], year) || year < 100) continue;
        if (auto v = TryEncodeDateTime(year, month, day, h, n, s)) return *v;
    }
    return 0.0;
}

void MboxIndexer::Line(std::string_view line, std::uint64_t lineStart, std::uint64_t nextLine) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const bool empty = line.empty();
    if (StartsWith(line, "From ")) {
        const double when = ParseFromLineTime(line);
        if (prevEmpty_ || when != 0.0 || IsBareSeparator(line)) {
            if (open_) {
                MboxEntry& cur = entries_.back();
                // The blank line before a "From " line separates messages; it is not mail text.
                std::uint64_t end = lineStart;
                if (prevEmpty_ && prevLineStart_ >= cur.Offset) end = prevLineStart_;
                cur.Length = end - cur.Offset;
            } else if (sawContent_) {
                entries_.push_back(MboxEntry{0, lineStart, 0.0, false});
            }
            entries_.push_back(MboxEntry{nextLine, 0, when, true});
            open_ = true;
            prevEmpty_ = false;
            prevLineStart_ = lineStart;
            return;
        }
    }
    if (!open_ && !IsBlank(line)) sawContent_ = true;
    prevEmpty_ = empty;
    prevLineStart_ = lineStart;
}

void MboxIndexer::Feed(const char* data, std::size_t size) {
    std::size_t pos = 0;
    while (pos < size) {
        const void* nl = std::memchr(data + pos, '\n', size - pos);
        if (!nl) {
            if (pending_.empty() && !pendingTooLong_) pendingStart_ = offset_ + pos;
            const std::size_t room = pending_.size() < LineHead ? LineHead - pending_.size() : 0;
            const std::size_t take = std::min(room, size - pos);
            pending_.append(data + pos, take);
            if (take < size - pos) pendingTooLong_ = true;
            break;
        }
        const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(nl) - data);
        const std::uint64_t next = offset_ + end + 1;
        if (!pending_.empty() || pendingTooLong_) {
            const std::size_t room = pending_.size() < LineHead ? LineHead - pending_.size() : 0;
            pending_.append(data + pos, std::min(room, end - pos));
            // A cut line is never empty; keep that fact even though its tail was dropped.
            Line(pending_, pendingStart_, next);
            pending_.clear();
            pendingTooLong_ = false;
        } else if (const char first = end > pos ? data[pos] : '\r';
                   first != 'F' && first != '\r' && first != ' ' && first != '\t') {
            // Neither empty nor blank nor a "From " line (most lines: text and base64): only
            // the state moves on, as Line would move it.
            if (!open_) sawContent_ = true;
            prevEmpty_ = false;
            prevLineStart_ = offset_ + pos;
        } else {
            Line(std::string_view(data + pos, std::min(end - pos, LineHead)), offset_ + pos, next);
        }
        pos = end + 1;
    }
    offset_ += size;
}

std::vector<MboxEntry> MboxIndexer::Finish() {
    if (!pending_.empty() || pendingTooLong_) {
        Line(pending_, pendingStart_, offset_);
        pending_.clear();
        pendingTooLong_ = false;
    }
    if (open_) {
        MboxEntry& cur = entries_.back();
        std::uint64_t end = offset_;
        // The file's last line break belongs to the separator, and so does one final empty line.
        if (prevEmpty_ && prevLineStart_ >= cur.Offset && prevLineStart_ < offset_) end = prevLineStart_;
        cur.Length = end >= cur.Offset ? end - cur.Offset : 0;
    } else if (sawContent_) {
        entries_.push_back(MboxEntry{0, offset_, 0.0, false});
    }
    open_ = false;
    return std::move(entries_);
}

std::vector<MboxEntry> IndexMboxBuffer(std::string_view data) {
    MboxIndexer indexer;
    indexer.Feed(data.data(), data.size());
    return indexer.Finish();
}

std::vector<MboxEntry> IndexMboxFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw EStoreError("Cannot open mailbox " + platform::Utf8Path(file));
    MboxIndexer indexer;
    // Blocks of up to 1 MiB, no bigger than the file: most folders are small and a fresh
    // megabyte per folder opened would cost more than reading them.
    std::error_code ec;
    const auto fileSize = std::filesystem::file_size(file, ec);
    const std::size_t blockSize =
        ec ? std::size_t{1} << 20 : static_cast<std::size_t>(std::clamp<std::uintmax_t>(fileSize + 1, 4096, 1 << 20));
    std::unique_ptr<char[]> block(new char[blockSize]);
    while (in) {
        in.read(block.get(), static_cast<std::streamsize>(blockSize));
        const auto got = in.gcount();
        if (got <= 0) break;
        indexer.Feed(block.get(), static_cast<std::size_t>(got));
    }
    if (in.bad()) throw EStoreError("Cannot read mailbox " + platform::Utf8Path(file));
    return indexer.Finish();
}

std::string UnquoteFromLines(std::string text) {
    const std::string_view message = text;
    if (message.find(">From ") == std::string_view::npos) return text;
    std::string out;
    out.reserve(message.size());
    std::size_t pos = 0;
    while (pos < message.size()) {
        std::size_t eol = message.find('\n', pos);
        const std::size_t lineEnd = eol == std::string_view::npos ? message.size() : eol + 1;
        std::string_view line = message.substr(pos, lineEnd - pos);
        if (!line.empty() && line[0] == '>') {
            std::size_t q = 0;
            while (q < line.size() && line[q] == '>') ++q;
            if (StartsWith(line.substr(q), "From ")) line.remove_prefix(1);
        }
        out.append(line);
        pos = lineEnd;
    }
    return out;
}

} // namespace quillmark::outlook::mailbox
