#include "SrcLib/DateTime.h"
#include "SrcLib/Exceptions.h"
#include "SrcLib/uLib.h"
#include "TempDir.h"
#include "platform/FileSystem.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

using namespace quillmark;
using quillmark::test::TempDir;

TEST(FileSystem, LastWriteTimeGoesThroughTheDosRule) {
    TempDir dir;
    std::string f = dir.File("page.htm");
    std::ofstream(f) << "x";
    double local = *TryEncodeDateTime(2005, 3, 1, 14, 2, 11); // odd second: rounded down to even
    ASSERT_TRUE(platform::SetFileLastWriteFromLocal(f, local));
    double utc = FileWriteTime(f);
    double expected = platform::LocalToUtc(*TryEncodeDateTime(2005, 3, 1, 14, 2, 10));
    EXPECT_NEAR(utc, expected, 0.5 / 86400.0);
    EXPECT_NEAR(platform::UtcToLocal(utc), *TryEncodeDateTime(2005, 3, 1, 14, 2, 10), 0.5 / 86400.0);
}

TEST(FileSystem, TimesOutsideTheDosRangeLeaveTheFileAlone) {
    TempDir dir;
    std::string f = dir.File("page.htm");
    std::ofstream(f) << "x";
    double before = FileWriteTime(f);
    EXPECT_FALSE(platform::SetFileLastWriteFromLocal(f, EncodeDate(1979, 12, 31)));
    EXPECT_FALSE(platform::SetFileLastWriteFromLocal(f, EncodeDate(2100, 1, 1)));
    EXPECT_FALSE(platform::SetFileLastWriteFromLocal(f, 949998.0));
    EXPECT_FALSE(platform::SetFileLastWriteFromLocal(dir.File("missing"), EncodeDate(2005, 1, 1)));
    EXPECT_EQ(FileWriteTime(f), before);
    EXPECT_TRUE(platform::SetFileLastWriteFromLocal(f, EncodeDate(1980, 1, 1)));
    EXPECT_TRUE(platform::SetFileLastWriteFromLocal(f, *TryEncodeDateTime(2099, 12, 31, 23, 59, 59)));
}

TEST(FileSystem, AtomicWriteReplacesWholeAndLeavesNoTemporaryFiles) {
    TempDir dir;
    std::string f = dir.File("settings.reg");
    platform::WriteFileAtomic(f, "first");
    platform::WriteFileAtomic(f, "second", true);
    EXPECT_EQ(platform::ReadWholeFile(f), "second");
    EXPECT_EQ(platform::ListDirectory(dir.Dir()).size(), 1u);
    EXPECT_THROW(platform::WriteFileAtomic(dir.File("no/such/dir/x"), "y"), EFCreateError);
    EXPECT_THROW(platform::ReadWholeFile(dir.File("missing")), EFOpenError);
}

TEST(FileSystem, AnsiNamesBecomeUtf8OnDisk) {
    TempDir dir;
    std::string f = dir.Dir() + "M\xF6te.htm"; // "Möte" in the ANSI code page
    platform::WriteFileAtomic(f, "x");
#ifdef _WIN32
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / L"M\u00f6te.htm")); // Windows names are UTF-16
#else
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "M\xC3\xB6te.htm"));
#endif
    EXPECT_TRUE(platform::FileExists(f));
    auto names = platform::ListDirectory(dir.Dir());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], "M\xF6te.htm");
    EXPECT_TRUE(platform::RenameFilePath(f, dir.File("b")));
    EXPECT_TRUE(platform::DeleteFilePath(dir.File("b")));
    EXPECT_FALSE(platform::PathExists(dir.File("b")));
}
