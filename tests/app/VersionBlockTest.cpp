#include "app/AppInfo.h"
#include "platform/VersionBlock.h"

#include "SrcLib/uLib.h"
#include "TempDir.h"

#include <gtest/gtest.h>

using namespace quillmark;
using namespace quillmark::platform;
using quillmark::testing::TempDir;

namespace {

VersionBlockContents Contents(const std::string& table) {
    VersionBlockContents c;
    c.FileVersion = {1, 2, 4, 9};
    c.ProductVersion = {0, 3, 0, 0};
    c.Tables.push_back({table,
                        {{"CompanyName", u"Keldane"},
                         {"FileVersion", u"1.2.4.9"},
                         {"LegalTradeMarks", u""},
                         {"ProductName", u"Quillmark"},
                         {"ProductVersion", u"0.3"},
                         {"Comments", u"H\u00e4lsningar \u20ac"}}});
    c.Translations.emplace_back(0x041D, 0x04E4);
    return c;
}

} // namespace

TEST(VersionBlock, LooksUpEntriesByPath) {
    const std::string block = BuildVersionBlock(Contents("041D04E4"));
    EXPECT_EQ(block.size() % 4, 0u);
    EXPECT_EQ(QueryVersionString(block, "StringFileInfo\\041D04E4\\FileVersion"), u"1.2.4.9");
    EXPECT_EQ(QueryVersionString(block, "\\StringFileInfo\\041d04e4\\productname"), u"Quillmark");
    EXPECT_EQ(QueryVersionString(block, "StringFileInfo\\041D04E4\\LegalTradeMarks"), u"");
    EXPECT_EQ(QueryVersionString(block, "StringFileInfo\\041D04E4\\Comments"), u"H\u00e4lsningar \u20ac");
    EXPECT_EQ(QueryVersionString(block, "StringFileInfo\\041D04E4\\InternalName"), std::nullopt);
    EXPECT_EQ(QueryVersionString(block, "StringFileInfo\\040904E4\\FileVersion"), std::nullopt);
    EXPECT_EQ(QueryVersionString("", "StringFileInfo\\041D04E4\\FileVersion"), std::nullopt);
}

TEST(VersionBlock, ATruncatedOrDamagedBlockNeverReadsOutside) {
    const std::string block = BuildVersionBlock(Contents("041D04E4"));
    // Every prefix, and every single damaged length word: the parser must stay inside the
    // bytes it was given (the sanitizer build checks that) and never invent a value.
    for (std::size_t n = 0; n < block.size(); ++n) {
        std::string cut(block.substr(0, n));
        auto v = QueryVersionString(cut, "StringFileInfo\\041D04E4\\Comments");
        if (v) {
            EXPECT_EQ(*v, std::u16string(u"H\u00e4lsningar \u20ac").substr(0, v->size()));
        }
    }
    for (std::size_t at = 0; at + 1 < block.size(); at += 2) {
        std::string damaged = block;
        damaged[at] = '\xFF';
        damaged[at + 1] = '\xFF';
        (void)QueryVersionString(damaged, "StringFileInfo\\041D04E4\\ProductVersion");
    }
}

TEST(VersionBlock, IsFoundAmongOtherBytes) {
    const std::string block = BuildVersionBlock(Contents("041D04E4"));
    std::string key;
    for (char c : std::string("VS_VERSION_INFO")) key += {c, '\0'};
    // A decoy: the key without a sound header and fixed-info signature before the real block.
    std::string file = std::string(1001, 'x') + std::string(6, '\0') + key + std::string(40, 'y') + block + "tail";
    EXPECT_EQ(FindVersionBlock(file), block);
    EXPECT_EQ(FindVersionBlock("no block here"), "");
    EXPECT_EQ(FindVersionBlock(block.substr(0, block.size() - 1)), ""); // cut short
}

TEST(VersionBlock, IsLoadedFromAFileWhereverItSits) {
    // The file is read in pieces of a mebibyte: a block across the border of two pieces, far
    // into the file, or after a decoy must still come back whole.
    const std::string block = BuildVersionBlock(Contents("041D04E4"));
    std::string key;
    for (char c : std::string("VS_VERSION_INFO")) key += {c, '\0'};
    const std::size_t mib = 1 << 20;
    TempDir dir;
    for (std::size_t at : {std::size_t{0}, mib - block.size() / 2, mib - 8, 3 * mib + 17}) {
        std::string file(at, 'x');
        if (at > 100) file.replace(at - 100, 6 + key.size(), std::string(6, '\0') + key); // decoy
        file += block + std::string(mib / 3, 'z');
        const std::string path = dir / "program.bin";
        TempDir::Write(path, file);
        EXPECT_EQ(LoadVersionBlock(path), block) << "block at " << at;
    }
    EXPECT_EQ(LoadVersionBlock(dir / "missing.bin"), "");
}

TEST(VersionBlock, VersionNumbers) {
    using V = std::array<std::uint16_t, 4>;
    EXPECT_EQ(ParseVersionNumber("1.2.4.9"), (V{1, 2, 4, 9}));
    EXPECT_EQ(ParseVersionNumber("0.3"), (V{0, 3, 0, 0}));
    EXPECT_EQ(ParseVersionNumber("65535"), (V{65535, 0, 0, 0}));
    for (const char* bad : {"", "1.", ".1", "1..2", "1.2.3.4.5", "65536", "1.a", "1,2"})
        EXPECT_EQ(ParseVersionNumber(bad), std::nullopt) << bad;
}

TEST(AppInfo, ConstructionGivesEnglishAndEmptyFields) {
    TAppInfo info;
    EXPECT_EQ(info.LanguageId, "0409");
    for (auto* f : {&info.VersionFile, &info.CompanyName, &info.FileVersion, &info.ProductName, &info.Comments})
        EXPECT_EQ(*f, "");
}

TEST(AppInfo, TheBuiltExecutableCarriesItsOwnVersion) {
    TAppInfo info;
    info.LanguageId = "041D";
    info.VersionFile = ExecutablePath();
    info.Read();
    EXPECT_EQ(info.FileVersion, "1.2.4.9");
    // One version number: what the window's title shows and what the pages' footer shows.
    EXPECT_EQ(info.ProductVersion, info.FileVersion);
    EXPECT_EQ(info.ProductName, "Quillmark");
    EXPECT_EQ(info.CompanyName, "Keldane");
    EXPECT_EQ(info.LegalTradeMarks, "");
#ifdef _WIN32
    EXPECT_EQ(info.OriginalFilename, "app_tests.exe");
#else
    EXPECT_EQ(info.OriginalFilename, "app_tests");
#endif
    EXPECT_FALSE(info.Comments.empty());

    // The same block read in the language constructed by default finds no table.
    TAppInfo english;
    english.VersionFile = ExecutablePath();
    english.Read();
    EXPECT_EQ(english.FileVersion, "");
    EXPECT_EQ(english.ProductName, "");
}

#ifdef QUILLMARK_GUI_EXECUTABLE
TEST(AppInfo, TheWindowProgramCarriesItsOwnVersion) {
    TAppInfo info;
    info.LanguageId = "041D";
    info.VersionFile = QUILLMARK_GUI_EXECUTABLE;
    info.Read();
    EXPECT_EQ(info.FileVersion, "1.2.4.9");
    EXPECT_EQ(info.ProductVersion, info.FileVersion);
    EXPECT_EQ(info.ProductName, "Quillmark");
#ifdef _WIN32
    EXPECT_EQ(info.OriginalFilename, "quillmark.exe"); // the Win32 window's own resource
#else
    EXPECT_EQ(info.OriginalFilename, "quillmark");
#endif
}
#endif

TEST(AppInfo, OnlyTheTableOfTheLanguageIsRead) {
    TempDir dir;
    const std::string english = dir / "english.bin";
    TempDir::Write(english, "\x7f" "ELF..." + BuildVersionBlock(Contents("040904E4")) + "...");
    TAppInfo info;
    info.LanguageId = "041D";
    info.VersionFile = english;
    info.Read();
    EXPECT_EQ(info.FileVersion, "");
    EXPECT_EQ(info.ProductName, "");
    EXPECT_EQ(info.CompanyName, "");

    info.LanguageId = "0409";
    info.Read();
    EXPECT_EQ(info.FileVersion, "1.2.4.9");
    EXPECT_EQ(info.Comments, "H\xC3\xA4lsningar \xE2\x82\xAC"); // UTF-16 to the program's UTF-8
    EXPECT_EQ(info.InternalName, "");               // missing from the table: empty
}

TEST(AppInfo, AFileWithoutABlockLeavesTheFieldsAsTheyAre) {
    TempDir dir;
    const std::string plain = dir / "plain.bin";
    TempDir::Write(plain, "just some bytes");
    for (const std::string& path : {plain, dir / "missing.bin"}) {
        TAppInfo info;
        info.LanguageId = "041D";
        info.VersionFile = path;
        info.Read();
        EXPECT_EQ(info.FileVersion, "");
        EXPECT_EQ(info.ProductName, "");
        EXPECT_EQ(info.ProductName + " v" + info.FileVersion, " v");
    }
}
