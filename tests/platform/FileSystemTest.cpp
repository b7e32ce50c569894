#include "SrcLib/DateTime.h"
#include "platform/Exceptions.h"
#include "SrcLib/uLib.h"
#include "TempDir.h"
#include "platform/FileSystem.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#ifndef _WIN32
#include <sys/stat.h>
#endif

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
    platform::AtomicWriteOptions durable;
    durable.Durable = true;
    platform::WriteFileAtomic(f, "second", durable);
    EXPECT_EQ(platform::ReadWholeFile(f), "second");
    EXPECT_EQ(platform::ListDirectory(dir.Dir()).size(), 1u);
    EXPECT_THROW(platform::WriteFileAtomic(dir.File("no/such/dir/x"), "y"), EFCreateError);
    EXPECT_THROW(platform::ReadWholeFile(dir.File("missing")), EFOpenError);
#ifndef _WIN32
    // The file gets the permissions the umask leaves, like any file the user makes (not the
    // owner-only mode of a private temporary file).
    const auto perms = std::filesystem::status(f).permissions();
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(static_cast<mode_t>(perms), static_cast<mode_t>(0666 & ~mask));
#endif
}

TEST(FileSystem, AtomicWriteCanRefuseATakenName) {
    TempDir dir;
    std::string f = dir.File("page.htm");
    platform::AtomicWriteOptions keep;
    keep.KeepExisting = true;
    EXPECT_TRUE(platform::WriteFileAtomic(f, "first", keep));
    EXPECT_FALSE(platform::WriteFileAtomic(f, "second", keep));
    EXPECT_EQ(platform::ReadWholeFile(f), "first");
    ASSERT_TRUE(platform::CreateSingleDirectory(dir.File("folder")));
    EXPECT_FALSE(platform::WriteFileAtomic(dir.File("folder"), "x", keep));
    EXPECT_EQ(platform::ListDirectory(dir.Dir()).size(), 2u); // no temporary file left
    EXPECT_TRUE(platform::WriteFileAtomic(f, "third"));       // replacing is still the default
    EXPECT_EQ(platform::ReadWholeFile(f), "third");

    // Asked for, the refused file stays under its temporary name, ready to be renamed.
    std::string taken;
    keep.TakenTemporary = &taken;
    EXPECT_FALSE(platform::WriteFileAtomic(f, "fourth", keep));
    ASSERT_FALSE(taken.empty());
    EXPECT_EQ(platform::ReadWholeFile(taken), "fourth");
    EXPECT_EQ(platform::ReadWholeFile(f), "third");
    EXPECT_TRUE(platform::RenameFilePath(taken, f));
    EXPECT_EQ(platform::ReadWholeFile(f), "fourth");
    EXPECT_EQ(platform::ListDirectory(dir.Dir()).size(), 2u);
}

TEST(FileSystem, TheTemporaryOfANonAsciiNameCanBeRenamed) {
    TempDir dir;
    std::string f = dir.Dir() + "M\xC3\xB6te.htm"; // "Möte"
    platform::WriteFileAtomic(f, "old");
    platform::AtomicWriteOptions keep;
    keep.KeepExisting = true;
    std::string taken;
    keep.TakenTemporary = &taken;
    EXPECT_FALSE(platform::WriteFileAtomic(f, "new", keep));
    EXPECT_TRUE(platform::RenameFilePath(taken, f)); // the reported name is in the same (ANSI) form
    EXPECT_EQ(platform::ReadWholeFile(f), "new");
    EXPECT_EQ(platform::ListDirectory(dir.Dir()).size(), 1u);
}

TEST(FileSystem, AtomicWriteSetsTheTimeByTheDosRule) {
    TempDir dir;
    std::string f = dir.File("page.htm");
    platform::AtomicWriteOptions at;
    at.LocalWriteTime = *TryEncodeDateTime(2005, 3, 1, 14, 2, 11);
    platform::WriteFileAtomic(f, "x", at);
    EXPECT_NEAR(platform::UtcToLocal(FileWriteTime(f)), *TryEncodeDateTime(2005, 3, 1, 14, 2, 10), 0.5 / 86400.0);
    // Out of range: the time of writing stays.
    at.LocalWriteTime = EncodeDate(1979, 12, 31);
    const double before = platform::LocalToUtc(platform::NowLocal());
    platform::WriteFileAtomic(f, "y", at);
    EXPECT_GE(FileWriteTime(f), before - 2.0 / 86400.0);
    EXPECT_EQ(platform::ReadWholeFile(f), "y");
}

TEST(FileSystem, FileInfoTellsSizeKindAndTimeInOneLook) {
    TempDir dir;
    std::string f = dir.File("a.bin");
    std::ofstream(f, std::ios::binary) << std::string(1234, 'a');
    ASSERT_TRUE(platform::SetFileLastWriteFromLocal(f, EncodeDate(2010, 6, 1)));
    const auto file = platform::GetFileInfo(f);
    ASSERT_TRUE(file);
    EXPECT_FALSE(file->IsDirectory);
    EXPECT_EQ(file->Size, 1234);
    EXPECT_EQ(file->LastWriteUtc, FileWriteTime(f));
    const auto folder = platform::GetFileInfo(dir.Dir());
    ASSERT_TRUE(folder);
    EXPECT_TRUE(folder->IsDirectory);
    EXPECT_EQ(folder->Size, 0);
    EXPECT_FALSE(platform::GetFileInfo(dir.File("missing")));
    EXPECT_FALSE(platform::GetFileInfo(""));
}

TEST(FileSystem, NamesOfEveryScriptReachTheDiskWhole) {
    TempDir dir;
    // "Möte", "日本" and an emoji: the program's UTF-8 names, on disk as the system spells them.
    for (const std::string name : {"M\xC3\xB6te.htm", "\xE6\x97\xA5\xE6\x9C\xAC", "\xF0\x9F\x8E\x89.txt"}) {
        const std::string f = dir.Dir() + name;
        platform::WriteFileAtomic(f, "x");
        EXPECT_TRUE(std::filesystem::exists(dir.Path() / std::filesystem::u8path(name))) << name;
        EXPECT_TRUE(platform::FileExists(f)) << name;
        auto names = platform::ListDirectory(dir.Dir());
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(names[0], name);
        EXPECT_TRUE(platform::RenameFilePath(f, dir.File("b")));
        EXPECT_TRUE(platform::DeleteFilePath(dir.File("b")));
        EXPECT_FALSE(platform::PathExists(dir.File("b")));
    }
}

TEST(FileSystem, ReadOnlyFileReadsPiecesAtOffsets) {
    TempDir dir;
    const std::string f = dir.Dir() + "M\xC3\xB6te.mbox";
    platform::WriteFileAtomic(f, "0123456789");
    platform::ReadOnlyFile file(platform::NativePath(f));
    struct Case {
        std::uint64_t offset;
        std::size_t size;
        std::string expected; // fewer bytes only at the end of the file
    };
    for (const auto& c : std::vector<Case>{{0, 4, "0123"}, {6, 4, "6789"}, {8, 5, "89"}, {10, 3, ""}, {99, 1, ""}}) {
        std::string buffer(c.size, '\0');
        buffer.resize(file.ReadAt(c.offset, buffer.data(), buffer.size()));
        EXPECT_EQ(buffer, c.expected) << c.offset << "+" << c.size;
    }
    // The file grows while open: the new bytes are read.
    std::ofstream(platform::NativePath(f), std::ios::app | std::ios::binary) << "AB";
    std::string tail(4, '\0');
    tail.resize(file.ReadAt(9, tail.data(), tail.size()));
    EXPECT_EQ(tail, "9AB");
    EXPECT_THROW(platform::ReadOnlyFile(platform::NativePath(dir.Dir() + "missing")), EFOpenError);
}
