// Decoding of the raw property values of an Outlook data file. Everything here works on
// bytes only and knows nothing of libpff, so that it can be tested and fuzzed on its own:
// the backend asks libpff for a property's bytes and turns them into text, dates and
// numbers here.
#pragma once

#include "outlook/ObjectModel.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmark::outlook::pst {

// MAPI property types (the low 16 bits of a property tag).
namespace ptype {
constexpr std::uint32_t Int16 = 0x0002;
constexpr std::uint32_t Int32 = 0x0003;
constexpr std::uint32_t Float = 0x0004;
constexpr std::uint32_t Double = 0x0005;
constexpr std::uint32_t Boolean = 0x000B;
constexpr std::uint32_t Int64 = 0x0014;
constexpr std::uint32_t String8 = 0x001E;
constexpr std::uint32_t Unicode = 0x001F;
constexpr std::uint32_t SysTime = 0x0040;
constexpr std::uint32_t Binary = 0x0102;
constexpr std::uint32_t MultiFlag = 0x1000;
} // namespace ptype

// A FILETIME (100 ns ticks since 1601-01-01 UTC) as a date value in UTC. Zero, and values
// past Outlook's own "no date" (4501-01-01), give OutlookNoDate, which is what Outlook
// shows for a date that is not set.
double UtcDateFromFileTime(std::uint64_t fileTime);

// UTF-16LE bytes to text. Trailing NUL characters are dropped (some writers store one);
// an odd last byte is ignored.
WideString Utf16FromLittleEndian(std::string_view bytes);

// 8-bit text in a Windows code page to UTF-16, as text::Utf16FromCodePage decodes it;
// trailing NULs (some writers store one) are dropped.
WideString DecodeCodePage(std::string_view bytes, std::uint32_t codePage);

// Outlook stores PR_SUBJECT as U+0001, a character giving the length of the "RE: "-style
// prefix, then the whole subject. The two marker characters are not part of the text.
WideString StripSubjectPrefix(WideString subject);

// The values of a variable-size multi-valued property (strings, binaries): a 32-bit count,
// that many 32-bit offsets, then the values back to back. nullopt when the offsets do not
// fit the data. libpff's own multi-value getter corrupts its cache, so we do this ourselves.
std::optional<std::vector<std::string_view>> SplitMultiValue(std::string_view data);

// PR_RTF_COMPRESSED to the RTF text: "LZFu" (compressed) and "MELA" (stored) bodies.
// nullopt when the data is malformed (sizes out of range, a reference before the start).
std::optional<std::string> DecompressRtf(std::string_view data);

// MAPI entry identifiers as Outlook shows them for a PST store: 4 bytes of flags (zero),
// the store's 16-byte record key, then the 32-bit node id, little-endian; upper-case hex.
using RecordKey = std::array<std::uint8_t, 16>;
WideString FormatEntryID(const RecordKey& recordKey, std::uint32_t nodeId);

struct ParsedEntryID {
    RecordKey recordKey{};
    std::uint32_t nodeId = 0;
};
// Reads an entry identifier back; nullopt for text that is not one (wrong length, not
// hex, flags other than zero).
std::optional<ParsedEntryID> ParseEntryID(const WideString& entryId);

// The message class offers the mail-item interface: IPM.Note and its sub-classes
// (IPM.Note.SMIME, ...), and reports about them (REPORT.IPM.Note.*). Classes compare
// without regard to ASCII case, as MAPI compares them.
bool IsMailMessageClass(std::u16string_view messageClass);

// The file's name-to-id map: which property tag (0x8000 and up) stands for which named
// property. One map for the whole file, so a named property costs one look-up instead of
// a walk over every property of the message.
using GuidBytes = std::array<std::uint8_t, 16>; // a GUID as stored (little-endian fields)
class NamedPropertyMap {
public:
    std::optional<std::uint32_t> Numeric(const GuidBytes& set, std::uint32_t longId) const;
    // Names compare without regard to ASCII case.
    std::optional<std::uint32_t> Named(const GuidBytes& set, std::u16string_view name) const;
    std::size_t Size() const { return numeric_.size() + named_.size(); }

    void AddNumeric(const GuidBytes& set, std::uint32_t longId, std::uint32_t tag);
    void AddNamed(const GuidBytes& set, std::u16string_view name, std::uint32_t tag);

private:
    struct NumericEntry {
        GuidBytes set;
        std::uint32_t longId;
        std::uint32_t tag;
    };
    struct NamedEntry {
        GuidBytes set;
        std::u16string name; // lower-case
        std::uint32_t tag;
    };
    std::vector<NumericEntry> numeric_;
    std::vector<NamedEntry> named_;
};

// Builds the map from the three streams of the file's name-to-id map: the GUID stream
// (16 bytes per GUID), the entry stream (8-byte records: id or string offset; GUID index
// with the string flag in bit 0; property index) and the string stream (32-bit byte length,
// then UTF-16LE). Entries that point outside their streams are left out; nullopt when the
// entry stream itself is malformed.
std::optional<NamedPropertyMap> ParseNameToIdMap(std::string_view guids, std::string_view entries,
                                                 std::string_view strings);

// Little-endian readers for property bytes; nullopt when the data is too short.
std::optional<std::uint32_t> ReadUInt32(std::string_view data);
std::optional<std::uint64_t> ReadUInt64(std::string_view data);

} // namespace quillmark::outlook::pst
