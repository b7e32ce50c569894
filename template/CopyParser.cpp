#include "template/CopyParser.h"

#include "SrcLib/Exceptions.h"

#include <algorithm>
#include <cstring>

namespace quillmark {

namespace {

bool IsNameStart(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

bool IsNameChar(unsigned char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }

} // namespace

TCopyParser::TCopyParser(std::istream& input, std::string* output)
    : input_(input), output_(output), window_(new char[WindowSize]()) {
    // The window starts empty with its NUL at position 0, so the first scan fills it.
    AdvanceToken(true);
}

TCopyParser::~TCopyParser() = default;

int TCopyParser::LineNumber() const {
    return linesBefore_ + static_cast<int>(std::count(window_.get(), window_.get() + pos_, '\n'));
}

// Runs whenever a scan meets the NUL at pos_: either the end of the usable text or a NUL byte
// of the template itself (which then ends the input).
void TCopyParser::Refill() {
    if (ended_) return;
    char* w = window_.get();
    linesBefore_ += static_cast<int>(std::count(w, w + pos_, '\n'));
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

char TCopyParser::CopyUntil(char stopChar) {
    if (token_ == stopChar || token_ == toEOF) return token_;
    WriteTokenText();
    const char stopSet[2] = {stopChar, '\0'};
    const char* w = window_.get();
    for (;;) {
        // The usable text ends in a NUL, so strcspn stops at the stop character or there.
        std::size_t n = std::strcspn(w + pos_, stopSet);
        if (output_) output_->append(w + pos_, n);
        pos_ += n;
        if (w[pos_] == '\0') {
            // Same rule as the blank scan: a NUL ends the usable text, refill and go on.
            if (!ended_) Refill();
            if (ended_) {
                tokenStart_ = pos_;
                token_ = toEOF;
                return token_;
            }
            continue;
        }
        tokenStart_ = pos_;
        ++pos_;
        token_ = stopChar;
        return token_;
    }
}

} // namespace quillmark
