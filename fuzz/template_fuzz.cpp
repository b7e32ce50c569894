// Fuzzes the template expander: any bytes as a template, with a handler that echoes each tag's
// name and parameters. The page (or error) must be the same when the bytes arrive through a
// stream in small pieces, and the same as a plain token-by-token expansion over the tokenizer,
// which checks the block copying of text between tags.
#include "platform/Exceptions.h"
#include "template/PageProducer.h"
#include "tests/template/TemplateTestSupport.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <istream>
#include <streambuf>
#include <string>

namespace {

class PiecewiseInput : public std::streambuf {
public:
    PiecewiseInput(const std::string& data, std::size_t piece) : data_(data), piece_(piece) {}

protected:
    int_type underflow() override {
        if (next_ >= data_.size()) return traits_type::eof();
        std::size_t n = std::min(piece_, data_.size() - next_);
        char* p = const_cast<char*>(data_.data()) + next_;
        setg(p, p, p + n);
        next_ += n;
        return traits_type::to_int_type(*p);
    }

private:
    const std::string& data_;
    std::size_t piece_;
    std::size_t next_ = 0;
};

std::string Expand(quillmark::TPageProducer& producer, const std::string& text, std::size_t piece) {
    try {
        if (piece == 0) return producer.ExpandString(text);
        PiecewiseInput buffer(text, piece);
        std::istream input(&buffer);
        return producer.ExpandStream(input);
    } catch (const quillmark::Exception& e) {
        return std::string("error: ") + e.what();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the options; the rest is the template.
    const unsigned options = data[0];
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

    quillmark::TPageProducer producer;
    producer.StripParamQuotes = (options & 1) != 0;
    producer.OnHTMLTag = [](quillmark::TPageProducer&, quillmark::TTag kind, const std::string& name,
                            quillmark::TStrings& params, std::string& replaceText) {
        if (static_cast<int>(kind) < 0 || static_cast<int>(kind) > 6) std::abort();
        replaceText = "[" + name;
        for (const std::string& p : params) replaceText += "|" + p;
        replaceText += "]";
    };
    std::string whole = Expand(producer, text, 0);
    std::string pieces = Expand(producer, text, 1 + (options >> 1) % 64);
    if (whole != pieces) std::abort();
    if (whole != quillmark::testing::TokenByTokenExpand(text, producer.StripParamQuotes)) std::abort();
    return 0;
}
