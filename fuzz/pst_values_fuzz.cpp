// The decoders of raw property values on arbitrary bytes: compressed RTF, RTF and HTML to
// text, multi-value tables, code pages and entry identifiers.
#include "outlook/pst/PstValues.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace quillmark::outlook::pst;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (auto rtf = DecompressRtf(bytes))
        TextFromRtf(*rtf);
    TextFromRtf(bytes);
    TextFromHtml(DecodeCodePage(bytes, 65001));
    TextFromHtml(Utf16FromLittleEndian(bytes));
    if (auto values = SplitMultiValue(bytes))
        for (auto v : *values)
            DecodeCodePage(v, 1252);
    StripSubjectPrefix(Utf16FromLittleEndian(bytes));
    ParseEntryID(DecodeCodePage(bytes, 1252));
    IsMailMessageClass(Utf16FromLittleEndian(bytes));
    return 0;
}
