// Base64 content-transfer decoding, in one pass that also notices bytes outside the
// alphabet. Attachments are most of what an export decodes, so this is on the hot path:
// four characters at a time where the text is clean, one at a time around line breaks,
// padding and junk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillmark::outlook::mailbox {

class Base64Decoder {
public:
    // Decodes the next piece of base64 text and appends the bytes to out. Pieces may split
    // the text anywhere. CR, LF, space and tab are skipped silently; any other byte outside
    // the alphabet is skipped and remembered (Bad). "=" ends a group: the bytes its
    // characters so far stand for are given out, and decoding goes on after it (so joined
    // base64 blocks decode as a whole).
    void Feed(std::string_view text, std::string& out);
    // The end of the text: a group cut short without its padding still gives the bytes its
    // characters carry in full (two characters one byte, three two), as mail readers decode
    // it; a lone character carries none. The decoder is then ready for new text.
    void Finish(std::string& out);
    // True once a byte outside the alphabet, the padding and white space was seen: what was
    // decoded then differs from what was sent.
    bool Bad() const { return bad_; }

private:
    std::uint32_t bits_ = 0; // the characters of the current group, six bits each
    int count_ = 0;          // how many of them (0-3)
    bool bad_ = false;
};

} // namespace quillmark::outlook::mailbox
