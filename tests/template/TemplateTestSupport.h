// Helpers shared by the template tests and the template fuzzer: a recording tag handler, an
// input stream that delivers its bytes in small pieces, and a token-by-token reference
// expansion.
#pragma once

#include "platform/Exceptions.h"
#include "template/CopyParser.h"
#include "template/PageProducer.h"

#include <algorithm>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

namespace quillmark::testing {

struct SeenTag {
    TTag kind;
    std::string name;
    TStrings params;
};

// A producer whose handler answers "X" for every tag and remembers what it was given.
struct RecordingProducer {
    TPageProducer producer;
    std::vector<SeenTag> seen;
    std::string answer = "X";

    RecordingProducer() {
        producer.OnHTMLTag = [this](TPageProducer&, TTag kind, const std::string& name, TStrings& params,
                                    std::string& replaceText) {
            seen.push_back({kind, name, params});
            replaceText = answer;
        };
    }
};

// Hands out at most chunk bytes per refill of its buffer, the way a pipe or a socket may.
class ChunkedInput : public std::streambuf {
public:
    ChunkedInput(std::string data, std::size_t chunk) : data_(std::move(data)), chunk_(chunk) {}

protected:
    int_type underflow() override {
        if (next_ >= data_.size()) return traits_type::eof();
        std::size_t n = std::min(chunk_, data_.size() - next_);
        char* p = data_.data() + next_;
        setg(p, p, p + n);
        next_ += n;
        return traits_type::to_int_type(*p);
    }
    // Keep the default xsgetn from bypassing underflow's chunking.
    std::streamsize xsgetn(char* s, std::streamsize count) override {
        std::streamsize done = 0;
        while (done < count) {
            if (gptr() == egptr() && traits_type::eq_int_type(underflow(), traits_type::eof())) break;
            std::streamsize n = std::min<std::streamsize>(count - done, egptr() - gptr());
            traits_type::copy(s + done, gptr(), static_cast<std::size_t>(n));
            gbump(static_cast<int>(n));
            done += n;
        }
        return done;
    }

private:
    std::string data_;
    std::size_t chunk_;
    std::size_t next_ = 0;
};

// The expansion as a plain token-by-token loop over the parser, without the block copying of
// text between tags that the producer uses; both must agree on every input. Tags come out as
// "[name|field|field]", errors as "error: " and the message.
inline std::string TokenByTokenExpand(const std::string& text, bool stripQuotes = true) {
    std::istringstream input(text);
    std::string out;
    try {
        TCopyParser p(input, &out);
        for (;;) {
            while (p.Token() != TCopyParser::toEOF && p.Token() != '<') {
                p.WriteTokenText();
                p.AdvanceToken(true);
            }
            if (p.Token() == TCopyParser::toEOF) break;
            p.AdvanceToken(false);
            if (p.Token() != '#') {
                out += '<';
                p.WriteTokenText();
                p.AdvanceToken(true);
                continue;
            }
            p.AdvanceToken(false);
            std::string name = p.TokenText();
            std::string params = p.CollectUntil('>');
            std::size_t b = 0, e = params.size();
            while (b < e && static_cast<unsigned char>(params[b]) <= 32) ++b;
            while (e > b && static_cast<unsigned char>(params[e - 1]) <= 32) --e;
            TStrings list;
            SplitTagParams(params.substr(b, e - b), stripQuotes, list);
            out += "[" + name;
            for (const std::string& f : list) out += "|" + f;
            out += "]";
            p.AdvanceToken(true);
        }
    } catch (const Exception& e) {
        return std::string("error: ") + e.what();
    }
    return out;
}

} // namespace quillmark::testing
