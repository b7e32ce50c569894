// The tokenizer beneath the page producer: it streams a template through a fixed window and
// hands out tokens, copying the text between them to the output as it goes.
#pragma once

#include <cstddef>
#include <istream>
#include <memory>
#include <string>

namespace quillmark {

class TCopyParser {
public:
    // Size of the window the template is streamed through. Because a window always starts at
    // the beginning of a line and is cut after its last line feed, lines of up to
    // WindowSize - 3 bytes are always accepted.
    static constexpr std::size_t WindowSize = 4096;

    // Token kinds: end of input, a name; any other value is the token's own single character.
    static constexpr char toEOF = 0;
    static constexpr char toSymbol = 1;

    // output may be null: then nothing is written. Reads the first token with
    // AdvanceToken(true), so the blanks at the very start of the template are written at once.
    TCopyParser(std::istream& input, std::string* output);
    TCopyParser(const TCopyParser&) = delete;
    TCopyParser& operator=(const TCopyParser&) = delete;
    ~TCopyParser();

    // Skips blanks (bytes 1 to 32), writing them when asked, then reads the next token without
    // writing it. At end of input the kind is toEOF and the read position stays where it is.
    char AdvanceToken(bool copyBlanks);
    // Writes the current token's text to the output.
    void WriteTokenText();
    // The current token's text (empty at end of input).
    std::string TokenText() const;
    // The verbatim template text up to the next token that is stopChar (not included), or up
    // to the end of the input. The blanks in between are kept as they stand.
    std::string CollectUntil(char stopChar);
    // Writes the current token and the text after it to the output until a "<" that may open
    // a tag (one followed by a blank, "#" or the end of the input) is the current token, or the
    // end of the input is reached. The result is exactly what repeating the expansion rule
    // token by token gives for plain text and for a "<" that opens no tag ("<" and the token
    // after it copied as they stand); it only scans in larger steps, which is what makes text
    // between tags cheap.
    char CopyToTagStart();

    char Token() const { return token_; }
    // 1 on creation, increased by every line feed passed.
    int LineNumber() const;

private:
    void SkipBlanks(std::string* sink);
    void Refill();

    std::istream& input_;
    std::string* output_;
    std::unique_ptr<char[]> window_;
    std::size_t pos_ = 0;     // read position
    std::size_t textEnd_ = 0; // end of the usable text; a NUL stands there
    std::size_t bufEnd_ = 0;  // end of the bytes read into the window
    std::size_t tokenStart_ = 0;
    std::size_t firstNul_ = 0; // first NUL in the window, at textEnd_ or before
    char savedChar_ = 0;       // the byte the NUL at textEnd_ replaced
    char token_ = toEOF;
    // Line feeds before the current window. The ones inside the window are counted only when
    // asked for (or when the window moves on): the number is used in error texts alone, so
    // the copying loop need not look at every byte.
    int linesBefore_ = 1;
    bool ended_ = false;
};

} // namespace quillmark
