#include "template/CopyParser.h"

#include "platform/Exceptions.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define QUILLMARK_TEMPLATE_SSE2 1
#endif

namespace quillmark {

namespace {

bool IsNameStart(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

bool IsNameChar(unsigned char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }

// Counted in blocks of 255 with a byte-wide sum, which compilers turn into plain vector byte
// compares; a per-byte count into a size_t (as std::count does) widens every lane and was the
// biggest single cost of copying plain text.
int CountLineFeeds(const char* p, std::size_t n) {
    int total = 0;
    while (n > 0) {
        std::size_t block = n < 255 ? n : 255;
        unsigned char sum = 0;
        for (std::size_t i = 0; i < block; ++i) sum = static_cast<unsigned char>(sum + (p[i] == '\n'));
        total += sum;
        p += block;
        n -= block;
    }
    return total;
}

// The expansion rule for a "<" followed directly by a byte above 32 other than "#": the "<" and
// the token after it are copied as they stand, and that token is never a tag opener even when
// it is another "<". A name token runs on over letters, digits and "_", none of which is "<",
// so skipping the "<" and its neighbour and searching on finds the same next "<" that the token
// by token loop would look at.
inline bool MayOpenTag(unsigned char next) { return next <= 32 || next == '#'; }

// Position of the first "<" in [pos, limit) that may open a tag (followed by a blank, "#" or
// the NUL at limit), or limit. w[limit] must be readable. HTML has a "<" every few dozen bytes,
// so on x86 16 bytes are compared at a time and every "<" of a block is dealt with from its
// bit mask instead of searching again after each one.
inline std::size_t FindTagOpener(const char* w, std::size_t pos, std::size_t limit) {
#ifdef QUILLMARK_TEMPLATE_SSE2
    const __m128i lt = _mm_set1_epi8('<');
    while (pos + 16 <= limit) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + pos));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, lt)));
        std::size_t resume = pos + 16;
        while (mask != 0) {
            unsigned offset = static_cast<unsigned>(std::countr_zero(mask));
            std::size_t at = pos + offset;
            if (MayOpenTag(static_cast<unsigned char>(w[at + 1]))) return at;
            if (offset >= 15) { // the neighbour is the first byte of the next block
                resume = at + 2;
                break;
            }
            mask &= ~((2u << (offset + 1)) - 1u); // drop the "<" and its neighbour
        }
        pos = resume;
    }
#endif
    while (pos < limit) {
        if (w[pos] != '<') {
            ++pos;
        } else if (MayOpenTag(static_cast<unsigned char>(w[pos + 1]))) {
            return pos;
        } else {
            pos += 2; // the neighbour is not the NUL at limit, so this stays <= limit
        }
    }
    return limit;
}

} // namespace

TCopyParser::TCopyParser(std::istream& input, std::string* output)
    : input_(input), output_(output), window_(new char[WindowSize]()) {
    // The window starts empty with its NUL at position 0, so the first scan fills it.
    AdvanceToken(true);
}

TCopyParser::~TCopyParser() = default;

int TCopyParser::LineNumber() const {
    return linesBefore_ + CountLineFeeds(window_.get(), pos_);
}

// Runs whenever a scan meets the NUL at pos_: either the end of the usable text or a NUL byte
// of the template itself (which then ends the input).
void TCopyParser::Refill() {
    if (ended_) return;
    char* w = window_.get();
    linesBefore_ += CountLineFeeds(w, pos_);
    w[textEnd_] = savedChar_;
    std::size_t keep = bufEnd_ - pos_;
    std::memmove(w, w + pos_, keep);
    pos_ = 0;
    tokenStart_ = 0;
    bufEnd_ = keep;
    // read() goes on until the count is reached or the input ends, so a stream that delivers
    // a byte at a time still fills the whole window.
    if (keep < WindowSize && input_.good()) {
        input_.read(w + keep, static_cast<std::streamsize>(WindowSize - keep));
        bufEnd_ += static_cast<std::size_t>(input_.gcount());
        if (input_.bad()) throw Exception("Stream read error");
    }
    if (bufEnd_ == WindowSize) {
        // A full window is cut after its last line feed among bytes 2 to 4095 (1-based); the
        // rest waits for the next refill, so that a window always begins at a line start.
        std::size_t i = WindowSize - 2;
        while (i >= 1 && w[i] != '\n') --i;
        if (i < 1) throw EParserError("Line too long on line " + std::to_string(linesBefore_));
        textEnd_ = i + 1;
    } else {
        textEnd_ = bufEnd_;
    }
    savedChar_ = w[textEnd_];
    w[textEnd_] = '\0';
    // A NUL byte of the template ends the input where it stands. CopyToTagStart searches the
    // text in blocks rather than byte by byte, so it is told where the first NUL is.
    const void* nul = std::memchr(w, '\0', textEnd_);
    firstNul_ = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - w) : textEnd_;
    if (w[pos_] == '\0') ended_ = true;
}

void TCopyParser::SkipBlanks(std::string* sink) {
    const char* w = window_.get();
    std::size_t start = pos_;
    for (;;) {
        unsigned char c = static_cast<unsigned char>(w[pos_]);
        if (c == 0) {
            if (sink) sink->append(w + start, pos_ - start);
            if (ended_) return;
            Refill();
            start = pos_;
            if (ended_) return;
            continue;
        }
        if (c > 32) break;
        ++pos_;
    }
    if (sink) sink->append(w + start, pos_ - start);
}

char TCopyParser::AdvanceToken(bool copyBlanks) {
    SkipBlanks(copyBlanks ? output_ : nullptr);
    const char* w = window_.get();
    tokenStart_ = pos_;
    unsigned char c = static_cast<unsigned char>(w[pos_]);
    if (c == 0) {
        token_ = toEOF;
    } else if (IsNameStart(c)) {
        ++pos_;
        while (IsNameChar(static_cast<unsigned char>(w[pos_]))) ++pos_;
        token_ = toSymbol;
    } else {
        ++pos_;
        token_ = static_cast<char>(c);
    }
    return token_;
}

void TCopyParser::WriteTokenText() {
    if (output_) output_->append(window_.get() + tokenStart_, pos_ - tokenStart_);
}

std::string TCopyParser::TokenText() const { return std::string(window_.get() + tokenStart_, pos_ - tokenStart_); }

std::string TCopyParser::CollectUntil(char stopChar) {
    std::string result;
    while (token_ != stopChar && token_ != toEOF) {
        SkipBlanks(&result);
        AdvanceToken(false);
        if (token_ == stopChar) break;
        result += TokenText();
    }
    return result;
}

char TCopyParser::CopyToTagStart() {
    if (token_ == '<' || token_ == toEOF) return token_;
    WriteTokenText();
    const char* w = window_.get();
    for (;;) {
        // Nothing scans past a NUL, so pos_ <= firstNul_, and up to the first NUL there is no
        // other end to look for.
        std::size_t at = FindTagOpener(w, pos_, firstNul_);
        if (output_) output_->append(w + pos_, at - pos_);
        pos_ = at;
        if (at == firstNul_) {
            // Same rule as the blank scan: at a NUL, refill and go on.
            if (!ended_) Refill();
            if (ended_) {
                tokenStart_ = pos_;
                token_ = toEOF;
                return token_;
            }
            continue;
        }
        tokenStart_ = at;
        pos_ = at + 1;
        token_ = '<';
        return token_;
    }
}

} // namespace quillmark
