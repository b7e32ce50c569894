// Decoding of raw property values: no data file needed.
#include "outlook/pst/PstValues.h"

#include "SrcLib/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace std::string_literals;

using namespace quillmark;
using namespace quillmark::outlook;
using namespace quillmark::outlook::pst;

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

std::string Le32(std::uint32_t v) {
    return Bytes({static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF), static_cast<int>((v >> 16) & 0xFF),
                  static_cast<int>(v >> 24)});
}

std::string RtfHeader(std::uint32_t rawSize, const char* type, std::size_t bodySize) {
    return Le32(static_cast<std::uint32_t>(bodySize + 12)) + Le32(rawSize) + std::string(type, 4) + Le32(0);
}

} // namespace

TEST(PstFileTime, ConvertsTicksToUtcDateValues) {
    // 2010-03-15 17:12:05 UTC, the submit time of the ANSI sample's message.
    double expected = *TryEncodeDateTime(2010, 3, 15, 17, 12, 5);
    EXPECT_NEAR(UtcDateFromFileTime(0x01CAC462A2C2E080ULL), expected, 1e-6);
    // The epoch of date values itself.
    EXPECT_NEAR(UtcDateFromFileTime(109205ULL * 864000000000ULL), 0.0, 1e-9);
}

TEST(PstFileTime, NeverSetDatesAreOutlooksNoDate) {
    EXPECT_EQ(UtcDateFromFileTime(0), OutlookNoDate);
    EXPECT_EQ(UtcDateFromFileTime(0x0CB34557A3DD4000ULL), OutlookNoDate); // 4501-01-01
    EXPECT_EQ(UtcDateFromFileTime(~0ULL), OutlookNoDate);
    EXPECT_GT(UtcDateFromFileTime(0), AbsentDateThreshold);
}

TEST(PstSubject, PrefixMarkerIsRemoved) {
    struct Case {
        std::u16string in, out;
    } cases[] = {
        {std::u16string(u"\x01\x01Here is a sample message"), u"Here is a sample message"},
        {std::u16string(u"\x01\x05" u"FW: hello"), u"FW: hello"},
        {u"No marker", u"No marker"},
        {std::u16string(u"\x01"), std::u16string(u"\x01")}, // too short to be a marker
        {u"", u""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StripSubjectPrefix(c.in), c.out);
}

TEST(PstText, Utf16LittleEndianDropsTrailingNuls) {
    EXPECT_EQ(Utf16FromLittleEndian(Bytes({0x41, 0, 0x6D, 0x5F, 0, 0})), u"A\u5F6D");
    EXPECT_EQ(Utf16FromLittleEndian(Bytes({0x41, 0, 0x42})), u"A"); // odd byte ignored
    EXPECT_EQ(Utf16FromLittleEndian(""), u"");
}

TEST(PstText, CodePagesDecode) {
    struct Case {
        std::string bytes;
        std::uint32_t codePage;
        std::u16string text;
    } cases[] = {
        {Bytes({'a', 0x80, 0x9F, 0xE9}), 1252, u"a\u20AC\u0178\u00E9"},
        {Bytes({'a', 0xE9}), 0, u"a\u00E9"},
        {Bytes({'x', 0, 0}), 20127, u"x"},
        {Bytes({0xC3, 0xA9, 0xE2, 0x82, 0xAC}), 65001, u"\u00E9\u20AC"},
        {Bytes({0xF0, 0x9F, 0x98, 0x80}), 65001, u"\U0001F600"},
        {Bytes({'a', 0xC3, 'b'}), 65001, u"a\uFFFDb"},       // broken sequence
        {Bytes({0xE0, 0x80, 0x80}), 65001, u"\uFFFD\uFFFD\uFFFD"}, // overlong form: one per byte
        {Bytes({0xC8, 0xE2, 0xE0, 0xED}), 1251, u"\u0418\u0432\u0430\u043D"},
        {Bytes({0xA1, 0xB1, 0xBF, 0}), 28592, u"\u0104\u0105\u017C"},
        {Bytes({'O', 'K', 0xB2, 0xC9}), 936, u"OK\uFFFD\uFFFD"}, // GB2312 is not decoded
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeCodePage(c.bytes, c.codePage), c.text) << "code page " << c.codePage;
}

TEST(PstMultiValue, SplitsStringsByOffsets) {
    // PS_PUBLIC_STRINGS "Keywords" of the ANSI sample, as stored.
    std::string data = Le32(2) + Le32(12) + Le32(26) + "Green CategoryRed Category";
    auto values = SplitMultiValue(data);
    ASSERT_TRUE(values);
    ASSERT_EQ(values->size(), 2u);
    EXPECT_EQ((*values)[0], "Green Category");
    EXPECT_EQ((*values)[1], "Red Category");
    auto none = SplitMultiValue(Le32(0));
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
}

TEST(PstMultiValue, RejectsForgedTables) {
    const std::string cases[] = {
        "",                                       // no count
        Le32(1000000) + Le32(8),                  // count beyond the data
        Le32(2) + Le32(12) + Le32(11) + "abcdef", // offsets going backwards
        Le32(1) + Le32(4) + "abcd",               // value inside the offset table
        Le32(1) + Le32(99) + "abcd",              // offset past the end
    };
    for (const auto& data : cases)
        EXPECT_FALSE(SplitMultiValue(data)) << testing::PrintToString(data);
}

TEST(PstRtf, StoredBodyIsTakenAsIs) {
    std::string rtf = "{\\rtf1 Body}";
    auto out = DecompressRtf(RtfHeader(static_cast<std::uint32_t>(rtf.size()), "MELA", rtf.size()) + rtf);
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, rtf);
    // A size field larger than the data is clipped, not read past.
    auto clipped = DecompressRtf(RtfHeader(5000, "MELA", rtf.size()) + rtf);
    ASSERT_TRUE(clipped);
    EXPECT_EQ(*clipped, rtf);
}

TEST(PstRtf, CompressedBodyUsesTheInitialDictionary) {
    // Two references: 6 bytes from dictionary offset 0 ("{\rtf1"), then the end marker,
    // a reference to the current write position 207 + 6.
    std::string body = Bytes({0x03, 0x00, 0x04, 0x0D, 0x50});
    auto out = DecompressRtf(RtfHeader(6, "LZFu", body.size()) + body);
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, "{\\rtf1");
}

TEST(PstRtf, CompressedLiteralsAndBackReferences) {
    // Literals "abc" at 207..209, then a 4-byte copy from 207 (overlapping: "abca"),
    // then the end marker at 214.
    std::string body = Bytes({0x18, 'a', 'b', 'c', 0x0C, 0xF2, 0x0D, 0x60});
    auto out = DecompressRtf(RtfHeader(100, "LZFu", body.size()) + body);
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, "abcabca");
}

TEST(PstRtf, MalformedDataIsRejected) {
    EXPECT_FALSE(DecompressRtf("short"));
    EXPECT_FALSE(DecompressRtf(RtfHeader(4, "ABCD", 4) + "abcd"));
    // A reference whose second byte is missing.
    EXPECT_FALSE(DecompressRtf(RtfHeader(10, "LZFu", 2) + Bytes({0x01, 0x00})));
}

TEST(PstEntryId, FormatsAsOutlookShowsIt) {
    RecordKey key = {0x52, 0x24, 0xCB, 0x63, 0xE0, 0x45, 0x42, 0x43, 0x97, 0x96, 0x65, 0x60, 0x06, 0x89, 0x86, 0x7A};
    // The IPM subtree entry id stored in the ANSI sample's message store.
    EXPECT_EQ(FormatEntryID(key, 0x8022), u"000000005224CB63E0454243979665600689867A22800000");
    auto parsed = ParseEntryID(u"000000005224cb63e0454243979665600689867a24002000");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->recordKey, key);
    EXPECT_EQ(parsed->nodeId, 2097188u);
}

TEST(PstEntryId, RejectsWhatIsNoEntryId) {
    const std::u16string cases[] = {
        u"",
        u"000000005224CB63E0454243979665600689867A228000",     // short
        u"000000005224CB63E0454243979665600689867A2280000000", // long
        u"000000005224CB63E0454243979665600689867A2280000G",   // not hex
        u"010000005224CB63E0454243979665600689867A22800000",   // flags set
    };
    for (const auto& c : cases)
        EXPECT_FALSE(ParseEntryID(c));
}

TEST(PstMessageClass, OnlyNotesAndTheirReportsAreMail) {
    struct Case {
        std::u16string cls;
        bool mail;
    } cases[] = {
        {u"IPM.Note", true},          {u"ipm.note", true},          {u"IPM.Note.SMIME", true},
        {u"IPM.Note.SMIME.MultipartSigned", true},                  {u"REPORT.IPM.Note.NDR", true},
        {u"REPORT.IPM.Note.IPNRN", true},                           {u"IPM.Notes", false},
        {u"IPM.Appointment", false},  {u"IPM.Contact", false},      {u"IPM.DistList", false},
        {u"IPM", false},              {u"", false},                 {u"REPORT.IPM.Appointment.DR", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsMailMessageClass(c.cls), c.mail) << std::string(c.cls.begin(), c.cls.end());
}

namespace {

// One NAMEID record: id (or string offset), GUID index with the string flag, property index.
std::string NameIdRecord(std::uint32_t id, unsigned guidIndex, bool isString, unsigned propertyIndex) {
    unsigned guidField = (guidIndex << 1) | (isString ? 1u : 0u);
    return Le32(id) + Bytes({static_cast<int>(guidField & 0xFF), static_cast<int>(guidField >> 8),
                             static_cast<int>(propertyIndex & 0xFF), static_cast<int>(propertyIndex >> 8)});
}

const GuidBytes Common = {0x08, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00,
                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
const GuidBytes PublicStrings = {0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

} // namespace

TEST(PstNameToIdMap, NumericAndStringNamesMapToTags) {
    const std::string guids(reinterpret_cast<const char*>(Common.data()), 16);
    std::string strings = Le32(16) + "K\0e\0y\0w\0o\0r\0d\0s\0"s;
    std::string entries = NameIdRecord(0x8554, 3, false, 0x54) + // OutlookVersion, PSETID_Common
                          NameIdRecord(0, 2, true, 0x12) +       // "Keywords", PS_PUBLIC_STRINGS
                          NameIdRecord(0x8503, 3, false, 0x16);
    auto map = ParseNameToIdMap(guids, entries, strings);
    ASSERT_TRUE(map);
    EXPECT_EQ(map->Numeric(Common, 0x8554), 0x8054u);
    EXPECT_EQ(map->Numeric(Common, 0x8503), 0x8016u);
    EXPECT_EQ(map->Named(PublicStrings, u"keywords"), 0x8012u); // names ignore case
    EXPECT_FALSE(map->Numeric(PublicStrings, 0x8554));         // the set must match too
    EXPECT_FALSE(map->Numeric(Common, 0x8535));
}

TEST(PstNameToIdMap, DamagedRecordsAreLeftOut) {
    std::string strings = Le32(1000) + "ab"; // a length past the stream
    std::string entries = NameIdRecord(1, 7, false, 1) + // GUID index beyond an empty GUID stream
                          NameIdRecord(0, 2, true, 2) +  // string too long
                          NameIdRecord(99, 2, true, 3) + // offset past the string stream
                          NameIdRecord(5, 0, false, 4) + // no property set
                          NameIdRecord(0x8501, 1, false, 5);
    auto map = ParseNameToIdMap("", entries, strings);
    ASSERT_TRUE(map);
    EXPECT_EQ(map->Size(), 1u); // only the PS_MAPI entry
    EXPECT_FALSE(ParseNameToIdMap("", "1234567", "")); // not whole records
}
