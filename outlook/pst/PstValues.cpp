#include "outlook/pst/PstValues.h"

#include <algorithm>
#include <cstring>

#include "text/CodePage.h"

namespace quillmark::outlook::pst {

namespace {

char16_t LowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (LowerAscii(text[i]) != LowerAscii(prefix[i]))
            return false;
    return true;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

} // namespace

std::optional<std::uint32_t> ReadUInt32(std::string_view data) {
    if (data.size() < 4)
        return std::nullopt;
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(data[static_cast<std::size_t>(i)]);
    return v;
}

std::optional<std::uint64_t> ReadUInt64(std::string_view data) {
    if (data.size() < 8)
        return std::nullopt;
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(data[static_cast<std::size_t>(i)]);
    return v;
}

double UtcDateFromFileTime(std::uint64_t fileTime) {
    // 4501-01-01 00:00 UTC is Outlook's "none"; anything at or past it counts as absent, and
    // so does 0, which some writers store for "never".
    constexpr std::uint64_t NoneTicks = 0x0CB34557A3DD4000ULL;
    constexpr double TicksPerDay = 864000000000.0;
    constexpr double DaysFrom1601To1899 = 109205.0;
    if (fileTime == 0 || fileTime >= NoneTicks)
        return OutlookNoDate;
    return static_cast<double>(fileTime) / TicksPerDay - DaysFrom1601To1899;
}

WideString Utf16FromLittleEndian(std::string_view bytes) {
    WideString out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    while (!out.empty() && out.back() == 0)
        out.pop_back();
    return out;
}

WideString DecodeCodePage(std::string_view bytes, std::uint32_t codePage) {
    while (!bytes.empty() && bytes.back() == '\0')
        bytes.remove_suffix(1);
    return text::Utf16FromCodePage(bytes, codePage);
}

WideString StripSubjectPrefix(WideString subject) {
    if (subject.size() >= 2 && subject[0] == 0x0001)
        subject.erase(0, 2);
    return subject;
}

std::optional<std::vector<std::string_view>> SplitMultiValue(std::string_view data) {
    auto count = ReadUInt32(data);
    if (!count)
        return std::nullopt;
    // Each value needs at least its 4-byte offset, which bounds a forged count.
    if (*count > (data.size() - 4) / 4)
        return std::nullopt;
    std::vector<std::uint32_t> offsets;
    offsets.reserve(*count);
    for (std::uint32_t i = 0; i < *count; ++i)
        offsets.push_back(*ReadUInt32(data.substr(4 + 4 * static_cast<std::size_t>(i))));
    std::vector<std::string_view> values;
    values.reserve(*count);
    const std::size_t tableEnd = 4 + 4 * static_cast<std::size_t>(*count);
    for (std::uint32_t i = 0; i < *count; ++i) {
        std::size_t start = offsets[i];
        std::size_t end = (i + 1 < *count) ? offsets[i + 1] : data.size();
        if (start < tableEnd || start > end || end > data.size())
            return std::nullopt;
        values.push_back(data.substr(start, end - start));
    }
    return values;
}

std::optional<std::string> DecompressRtf(std::string_view data) {
    constexpr std::uint32_t TypeCompressed = 0x75465A4C; // "LZFu"
    constexpr std::uint32_t TypeStored = 0x414C454D;     // "MELA"
    if (data.size() < 16)
        return std::nullopt;
    const std::uint32_t rawSize = *ReadUInt32(data.substr(4));
    const std::uint32_t type = *ReadUInt32(data.substr(8));
    std::string_view body = data.substr(16);
    if (type == TypeStored) {
        // Stored bodies are RTF as is; a size field larger than the data is clipped.
        return std::string(body.substr(0, std::min<std::size_t>(rawSize, body.size())));
    }
    if (type != TypeCompressed)
        return std::nullopt;

    static constexpr char Prebuffer[] =
        "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss \\fmodern \\fscript "
        "\\fdecor MS Sans SerifSymbolArialTimes New RomanCourier{\\colortbl\\red0\\green0\\blue0\r\n\\par "
        "\\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
    constexpr std::size_t PrebufferSize = sizeof(Prebuffer) - 1;
    static_assert(PrebufferSize == 207, "the LZFu dictionary starts with 207 bytes");
    constexpr std::size_t DictSize = 4096;

    char dict[DictSize];
    std::memcpy(dict, Prebuffer, PrebufferSize);
    std::memset(dict + PrebufferSize, 0, DictSize - PrebufferSize);
    std::size_t writePos = PrebufferSize;

    std::string out;
    // A forged raw size must not make us reserve gigabytes; the output grows as needed.
    out.reserve(std::min<std::size_t>(rawSize, 1u << 20));
    std::size_t in = 0;
    auto put = [&](char c) {
        out.push_back(c);
        dict[writePos] = c;
        writePos = (writePos + 1) % DictSize;
    };
    while (in < body.size() && out.size() < rawSize) {
        auto control = static_cast<unsigned char>(body[in++]);
        for (int bit = 0; bit < 8 && out.size() < rawSize; ++bit) {
            if (in >= body.size())
                return out;
            if ((control & (1u << bit)) == 0) {
                put(body[in++]);
                continue;
            }
            if (in + 1 >= body.size())
                return std::nullopt;
            unsigned token = (static_cast<unsigned char>(body[in]) << 8) | static_cast<unsigned char>(body[in + 1]);
            in += 2;
            std::size_t offset = token >> 4;
            std::size_t length = (token & 0xF) + 2;
            if (offset == writePos)
                return out; // the end marker
            for (std::size_t k = 0; k < length && out.size() < rawSize; ++k)
                put(dict[(offset + k) % DictSize]);
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------

WideString FormatEntryID(const RecordKey& recordKey, std::uint32_t nodeId) {
    static constexpr char16_t Hex[] = u"0123456789ABCDEF";
    WideString out;
    out.reserve(48);
    auto putByte = [&](std::uint8_t b) {
        out.push_back(Hex[b >> 4]);
        out.push_back(Hex[b & 0xF]);
    };
    for (int k = 0; k < 4; ++k)
        putByte(0);
    for (auto b : recordKey)
        putByte(b);
    for (int k = 0; k < 4; ++k)
        putByte(static_cast<std::uint8_t>(nodeId >> (8 * k)));
    return out;
}

std::optional<ParsedEntryID> ParseEntryID(const WideString& entryId) {
    if (entryId.size() != 48)
        return std::nullopt;
    std::uint8_t bytes[24];
    for (std::size_t k = 0; k < 24; ++k) {
        int hi = HexValue(entryId[2 * k]);
        int lo = HexValue(entryId[2 * k + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        bytes[k] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    if (bytes[0] || bytes[1] || bytes[2] || bytes[3])
        return std::nullopt;
    ParsedEntryID parsed;
    std::copy(bytes + 4, bytes + 20, parsed.recordKey.begin());
    parsed.nodeId = static_cast<std::uint32_t>(bytes[20]) | (static_cast<std::uint32_t>(bytes[21]) << 8) |
                    (static_cast<std::uint32_t>(bytes[22]) << 16) | (static_cast<std::uint32_t>(bytes[23]) << 24);
    return parsed;
}

namespace {

constexpr GuidBytes PsMapi = {0x28, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                              0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr GuidBytes PsPublicStringsGuid = {0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                           0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

std::u16string LowerAsciiText(std::u16string_view s) {
    std::u16string r(s);
    for (auto& c : r)
        c = LowerAscii(c);
    return r;
}

} // namespace

void NamedPropertyMap::AddNumeric(const GuidBytes& set, std::uint32_t longId, std::uint32_t tag) {
    if (!Numeric(set, longId))
        numeric_.push_back({set, longId, tag});
}

void NamedPropertyMap::AddNamed(const GuidBytes& set, std::u16string_view name, std::uint32_t tag) {
    if (!Named(set, name))
        named_.push_back({set, LowerAsciiText(name), tag});
}

std::optional<std::uint32_t> NamedPropertyMap::Numeric(const GuidBytes& set, std::uint32_t longId) const {
    for (const auto& e : numeric_)
        if (e.longId == longId && e.set == set)
            return e.tag;
    return std::nullopt;
}

std::optional<std::uint32_t> NamedPropertyMap::Named(const GuidBytes& set, std::u16string_view name) const {
    std::u16string lower = LowerAsciiText(name);
    for (const auto& e : named_)
        if (e.name == lower && e.set == set)
            return e.tag;
    return std::nullopt;
}

std::optional<NamedPropertyMap> ParseNameToIdMap(std::string_view guids, std::string_view entries,
                                                 std::string_view strings) {
    if (entries.size() % 8 != 0)
        return std::nullopt;
    NamedPropertyMap map;
    for (std::size_t pos = 0; pos < entries.size(); pos += 8) {
        std::uint32_t id = *ReadUInt32(entries.substr(pos));
        unsigned guidField = static_cast<unsigned char>(entries[pos + 4]) |
                             (static_cast<unsigned char>(entries[pos + 5]) << 8);
        unsigned index = static_cast<unsigned char>(entries[pos + 6]) |
                         (static_cast<unsigned char>(entries[pos + 7]) << 8);
        const bool isString = (guidField & 1) != 0;
        const unsigned guidIndex = guidField >> 1;
        const std::uint32_t tag = 0x8000 + index;
        if (tag > 0xFFFE)
            continue;
        GuidBytes set{};
        if (guidIndex == 1) {
            set = PsMapi;
        } else if (guidIndex == 2) {
            set = PsPublicStringsGuid;
        } else if (guidIndex >= 3 && (guidIndex - 3) * std::size_t{16} + 16 <= guids.size()) {
            std::memcpy(set.data(), guids.data() + (guidIndex - 3) * std::size_t{16}, 16);
        } else {
            continue; // no property set, or one the GUID stream does not hold
        }
        if (!isString) {
            map.AddNumeric(set, id, tag);
            continue;
        }
        auto length = ReadUInt32(id < strings.size() ? strings.substr(id) : std::string_view());
        if (!length || *length > strings.size() - id - 4)
            continue;
        map.AddNamed(set, Utf16FromLittleEndian(strings.substr(id + 4, *length)), tag);
    }
    return map;
}

bool IsMailMessageClass(std::u16string_view messageClass) {
    for (std::u16string_view base : {std::u16string_view(u"IPM.Note"), std::u16string_view(u"REPORT.IPM.Note")}) {
        if (EqualsNoCase(messageClass, base))
            return true;
        if (messageClass.size() > base.size() && StartsWithNoCase(messageClass, base) &&
            messageClass[base.size()] == u'.')
            return true;
    }
    return false;
}

} // namespace quillmark::outlook::pst
