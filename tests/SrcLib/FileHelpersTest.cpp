#include "platform/Exceptions.h"
#include "SrcLib/uLib.h"
#include "TempDir.h"
#include "platform/Cp1252.h"
#include "platform/FileSystem.h"
#include "platform/Unicode.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace quillmark;
using quillmark::test::TempDir;

namespace {
// Windows-1252 bytes as the program's UTF-8 text, so the tables below can show the code
// page's bytes the name rules are defined on.
std::string FromCp1252(const std::string& bytes) {
    std::string out;
    for (unsigned char b : bytes) platform::unicode::AppendUtf8(out, platform::cp1252::ToUnicode(b));
    return out;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}
} // namespace

TEST(SanitizeFileName, Table) {
    const std::pair<std::string, std::string> cases[] = {
        {"Re: M\xF6te 12.5", "Re-_Mote_12_5"},
        {"a b", "a_b"},
        {"C:\\x", "C-_x"},
        {"Fw: [ext] Offer 50% \xF7 2", "Fw-_ext_Offer_50_o_2"},
        {"___ab", "_ab"},  // one underscore dropped by the leading rule, the pair then halved
        {"__ab", "_ab"},   // four characters keep their leading underscores; the pair is halved
        {"x____y", "x__y"},
        {"_____", "__"},   // five: leading rule to four, then halved
        {"\xC7" "a va", "a_va"},
        {"", ""},
        {"\xD7\xF7", "Oo"}, // multiplication and division signs sit inside the O ranges
        {"!-_09AZaz", "!-_09AZaz"},
        {"<=>?@", "-----"},
        {"\x80\xBF\xD0\xD1\xDD\xDE\xDF\xF0\xF1\xFD\xFF", "__"}, // eleven "_", cut to four, halved
        {"\xC0\xC6\xC8\xCC\xD2\xD9\xE0\xE6\xE8\xEC\xF2\xF9", "AAEIOUaaeiou"},
    };
    for (auto& [in, out] : cases) EXPECT_EQ(SanitizeFileName(FromCp1252(in)), out) << in;
}

TEST(SanitizeFileName, LettersOfOtherScriptsAreKeptAndEverythingUnsafeIsNot) {
    const struct {
        const char* In;
        const char* Unicode;
        const char* Latin; // what names were before other scripts were kept
    } cases[] = {
        {"Привет, мир", "Привет_мир", "------_---"},
        {"日本語のメール", "日本語のメール", "-------"},
        {"שלום עולם", "שלום_עולם", "----_----"},
        {"مرحبا 123", "مرحبا_123", "-----_123"},
        {"Γειά σου", "Γειά_σου", "----_---"},
        {"🎉 Party", "🎉_Party", "-_Party"},
        // Accented Latin letters still fold, whatever the script around them.
        {"Café да", "Cafe_да", "Cafe_--"},
        // Direction overrides, invisible characters and other spaces never reach a name.
        {"‮txt.exe", "-txt_exe", "-txt_exe"},
        {"a​b　c d", "a-b-c_d", "a-b-c_d"},
        // Fullwidth slashes and colons are punctuation, not letters: no way out of a folder.
        {"..／..＼x：", "-_-x-", "-_-x-"},
        // A byte that is no UTF-8 is no character either.
        {"a\xFF" "b", "a-b", "a-b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SanitizeFileName(c.In), c.Unicode) << c.In;
        EXPECT_EQ(SanitizeFileName(c.In, NameScript::Latin), c.Latin) << c.In;
    }
}

TEST(Utf8Prefix, CutsByCharactersNeverInsideOne) {
    EXPECT_EQ(Utf8Prefix("При", 2), "Пр");
    EXPECT_EQ(Utf8Prefix("a🎉b", 2), "a🎉");
    EXPECT_EQ(Utf8Prefix("abc", 10), "abc");
    EXPECT_EQ(Utf8Prefix("", 3), "");
}

TEST(LowerCaseText, AsciiAndTheCodePageLettersOthersKept) {
    EXPECT_EQ(LowerCaseText(".PDF"), ".pdf");
    EXPECT_EQ(LowerCaseText(".ÉTÉ"), ".été");
    EXPECT_EQ(LowerCaseText(".ŠŸ"), ".šÿ");
    EXPECT_EQ(LowerCaseText(".Ж"), ".Ж"); // beyond the code page: kept as it is
}

TEST(SanitizeFileName, RunsOfUnderscoresBecomeHalfRoundedUp) {
    for (int k = 1; k <= 9; ++k) {
        std::string in = "x" + std::string(static_cast<std::size_t>(k), ' ') + "y";
        EXPECT_EQ(SanitizeFileName(in), "x" + std::string(static_cast<std::size_t>((k + 1) / 2), '_') + "y") << k;
    }
}

TEST(FileBaseName, Table) {
    const std::pair<std::string, std::string> cases[] = {
        {"notes", "notes"},
        {"C:\\dir.old\\file", "file"},
        {".profile", ""},
        {"C:\\a\\report.final.pdf", "report.final"},
        {"/home/u/mail/scan.jp", "scan"}, // "/" separates names too
        {"C:name.txt", "name"},
        {"dir/", ""},
    };
    for (auto& [in, out] : cases) EXPECT_EQ(FileBaseName(in), out) << in;
}

TEST(FileHelpers, SizeTimeAndCrcOfFiles) {
    TempDir dir;
    std::string abc = dir.File("abc.txt"), empty = dir.File("empty"), missing = dir.File("missing");
    WriteBytes(abc, "abc");
    WriteBytes(empty, "");
    EXPECT_EQ(FileSizeOf(missing), -1);
    EXPECT_EQ(FileSizeOf(empty), 0);
    EXPECT_EQ(FileSizeOf(abc), 3);
    EXPECT_EQ(FileWriteTime(missing), 0.0);
    EXPECT_GT(FileWriteTime(abc), 40000.0); // some time after 2009
    EXPECT_EQ(FileCrc32(abc), 0x352441C2u);
    EXPECT_EQ(FileCrc32(empty), 0u);
    EXPECT_THROW(FileCrc32(missing), EFOpenError);
}

TEST(FileHelpers, CrcOfAFileLargerThanOneBlock) {
    TempDir dir;
    std::string data;
    for (int i = 0; i < 200000; ++i) data += static_cast<char>(i * 31 + 7);
    WriteBytes(dir.File("big"), data);
    EXPECT_EQ(FileCrc32(dir.File("big")), ~Crc32Update(data.data(), data.size(), 0xFFFFFFFFu));
    EXPECT_EQ(~Crc32Update("123456789", 9, 0xFFFFFFFFu), 0xCBF43926u); // the standard check value
}

// The table step against the plain bit-by-bit definition, for every length up to 40 and
// every way the block can be split into two calls.
TEST(Crc32Update, AgreesWithTheBitwiseDefinition) {
    auto bitwise = [](const std::string& s) {
        std::uint32_t crc = 0xFFFFFFFFu;
        for (unsigned char c : s) {
            crc ^= c;
            for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
        }
        return ~crc;
    };
    std::string data;
    for (int len = 0; len <= 40; ++len, data += static_cast<char>(len * 97 + 13)) {
        for (std::size_t cut = 0; cut <= data.size(); ++cut) {
            std::uint32_t crc = Crc32Update(data.data(), cut, 0xFFFFFFFFu);
            crc = Crc32Update(data.data() + cut, data.size() - cut, crc);
            ASSERT_EQ(~crc, bitwise(data)) << "length " << data.size() << " cut " << cut;
        }
    }
}

// Long blocks take the wide step where the processor has one: every length from 0 to 600
// (the wide step starts at 256, in steps of 16, the rest by table), at every alignment, and
// split in two at a few places, against the bit-by-bit definition.
TEST(Crc32Update, LongBlocksAgreeWithTheBitwiseDefinition) {
    auto bitwise = [](const unsigned char* p, std::size_t n) {
        std::uint32_t crc = 0xFFFFFFFFu;
        for (std::size_t i = 0; i < n; ++i) {
            crc ^= p[i];
            for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
        }
        return ~crc;
    };
    std::string buffer(600 + 16, '\0');
    for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<char>((i * 2654435761u) >> 13);
    for (std::size_t len = 0; len <= 600; ++len)
        for (std::size_t align : {0, 1, 7, 15}) {
            const auto* p = reinterpret_cast<const unsigned char*>(buffer.data()) + align;
            const std::uint32_t want = bitwise(p, len);
            ASSERT_EQ(~Crc32Update(p, len, 0xFFFFFFFFu), want) << "length " << len << " align " << align;
            for (std::size_t cut : {std::size_t{1}, len / 2, len >= 300 ? len - 257 : 0}) {
                if (cut > len) continue;
                const std::uint32_t crc = Crc32Update(p, cut, 0xFFFFFFFFu);
                ASSERT_EQ(~Crc32Update(p + cut, len - cut, crc), want) << "length " << len << " cut " << cut;
            }
        }
}

TEST(CreateDirectoryPath, Cases) {
    TempDir dir;
    EXPECT_FALSE(CreateDirectoryPath(""));
    EXPECT_TRUE(CreateDirectoryPath("/"));
    std::string deep = dir.Dir() + "a/b/c/";
    EXPECT_TRUE(CreateDirectoryPath(deep));
    EXPECT_TRUE(IsDirectory(dir.Dir() + "a/b/c"));
    EXPECT_TRUE(CreateDirectoryPath(deep)); // already there
    // A relative name without any delimiter has an empty parent: false, nothing made.
    EXPECT_FALSE(CreateDirectoryPath("quillmark-relative-newdir"));
    EXPECT_FALSE(IsDirectory("quillmark-relative-newdir"));
    // A file in the way: the deeper level fails, the levels made before stay.
    WriteBytes(dir.File("file"), "x");
    EXPECT_FALSE(CreateDirectoryPath(dir.Dir() + "file/sub"));
    EXPECT_TRUE(CreateDirectoryPath(dir.Dir() + "p/q"));
    EXPECT_TRUE(IsDirectory(dir.Dir() + "p"));
}

TEST(StartupPaths, BaseNameAndDirectory) {
    InitStartupPathsFrom("/opt/q/tool.exe");
    EXPECT_EQ(ExecutableBaseName(), "tool");
    EXPECT_EQ(ApplicationDir(), "/opt/q/");
    InitStartupPathsFrom("/opt/q/my.tool.exe");
    EXPECT_EQ(ExecutableBaseName(), "my");
    InitStartupPathsFrom("/opt/q/quillmark");
    EXPECT_EQ(ExecutableBaseName(), "quillmark");
    // Twelve characters go from the first dot on; what follows them stays.
    InitStartupPathsFrom("/x/a.123456789012345");
    EXPECT_EQ(ExecutableBaseName(), "a2345");
    InitStartupPathsFrom("\\\\?\\C:\\Tools\\Q.exe");
    EXPECT_EQ(ApplicationDir(), "C:\\Tools\\");
    EXPECT_EQ(ExecutableBaseName(), "Q");
    InitStartupPathsFrom(platform::ExecutableFilePath());
    EXPECT_FALSE(ExecutablePath().empty());
    EXPECT_EQ(ExecutableBaseName(), "srclib_tests");
}
