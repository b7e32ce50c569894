// Mail text on arbitrary bytes: HTML to text, RTF to text (which may wrap HTML), and the
// code page chosen by the first byte.
#include "text/CodePage.h"
#include "text/HtmlText.h"
#include "text/RtfText.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

using namespace quillmark::text;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    HtmlToText(bytes);
    RtfToText(bytes);
    if (size > 0) {
        static constexpr std::uint32_t kPages[] = {0, 1200, 1250, 1251, 1252, 1255, 20866, 28592, 28597, 65001, 936};
        Utf8FromCodePage(bytes.substr(1), kPages[data[0] % std::size(kPages)]);
    }
    return 0;
}
