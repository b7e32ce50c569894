// The decoders of raw property values on arbitrary bytes: compressed RTF, multi-value
// tables, code pages and entry identifiers.
#include "outlook/pst/PstValues.h"

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <string>

using namespace quillmark::outlook::pst;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    DecompressRtf(bytes);
    if (auto values = SplitMultiValue(bytes))
        for (auto v : *values)
            DecodeCodePage(v, 1252);
    StripSubjectPrefix(Utf16FromLittleEndian(bytes));
    ParseEntryID(DecodeCodePage(bytes, 1252));
    IsMailMessageClass(Utf16FromLittleEndian(bytes));
    // The name-to-id map's three streams, cut from the input at two points it chooses.
    if (size >= 2) {
        std::size_t a = std::min<std::size_t>(data[0] * 8u, size - 2);
        std::size_t b = std::min<std::size_t>(a + data[1] * 8u, size - 2);
        std::string_view rest = bytes.substr(2);
        if (auto map = ParseNameToIdMap(rest.substr(0, a), rest.substr(a, b - a), rest.substr(b)))
            map->Named(GuidBytes{}, u"Keywords");
    }
    return 0;
}
