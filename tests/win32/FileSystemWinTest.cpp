#include "SrcLib/DateTime.h"
#include "SrcLib/uLib.h"
#include "TempDir.h"
#include "platform/FileSystem.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>

using namespace quillmark;
using quillmark::test::TempDir;

namespace {

// The file's last-write time exactly as the file system holds it.
FILETIME RawWriteTime(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME ft{};
    if (h != INVALID_HANDLE_VALUE) {
        GetFileTime(h, nullptr, nullptr, &ft);
        CloseHandle(h);
    }
    return ft;
}

std::wstring Wide(const std::filesystem::path& p) { return p.wstring(); }

} // namespace

TEST(FileSystemWin, FileTimeIsTheDosDateTimeOfTheLocalTime) {
    TempDir dir;
    std::string f = dir.File("page.htm");
    std::ofstream(f) << "x";
    struct Case {
        int y, mo, d, h, mi, s;
        int expectSecond;
    } cases[] = {
        {2005, 3, 1, 14, 2, 11, 10}, // odd seconds round down to even
        {1980, 1, 1, 0, 0, 0, 0},    // the first DOS day
        {2099, 12, 31, 23, 59, 59, 58},
        {2024, 2, 29, 12, 0, 1, 0},  // a leap day
        {2026, 7, 15, 9, 30, 0, 0},  // summer time where the zone has it
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(platform::SetFileLastWriteFromLocal(f, *TryEncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s)));
        // What the system itself makes of that DOS date-time, taken to UTC by the date's rules.
        const WORD dosDate = static_cast<WORD>(((c.y - 1980) << 9) | (c.mo << 5) | c.d);
        const WORD dosTime = static_cast<WORD>((c.h << 11) | (c.mi << 5) | (c.s / 2));
        FILETIME localFt{}, expected{};
        SYSTEMTIME localSt{}, utcSt{};
        ASSERT_TRUE(DosDateTimeToFileTime(dosDate, dosTime, &localFt));
        ASSERT_TRUE(FileTimeToSystemTime(&localFt, &localSt));
        ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &localSt, &utcSt));
        ASSERT_TRUE(SystemTimeToFileTime(&utcSt, &expected));
        FILETIME got = RawWriteTime(Wide(dir.Path() / "page.htm"));
        EXPECT_EQ(got.dwLowDateTime, expected.dwLowDateTime) << c.y;
        EXPECT_EQ(got.dwHighDateTime, expected.dwHighDateTime) << c.y;
        // And our reading of it: UTC, ticks / 864e9 - 109205.
        ULARGE_INTEGER ticks{};
        ticks.LowPart = expected.dwLowDateTime;
        ticks.HighPart = expected.dwHighDateTime;
        EXPECT_DOUBLE_EQ(FileWriteTime(f), static_cast<double>(ticks.QuadPart) / 864000000000.0 - 109205.0);
        EXPECT_NEAR(platform::UtcToLocal(FileWriteTime(f)), *TryEncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.expectSecond),
                    0.5 / 86400.0);
    }
}

TEST(FileSystemWin, ATimeIsReadFromAFileHeldOpenElsewhere) {
    TempDir dir;
    std::string f = dir.File("att.bin");
    std::ofstream(f) << "abc";
    HANDLE h = CreateFileW(Wide(dir.Path() / "att.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_GT(FileWriteTime(f), 40000.0);
    EXPECT_EQ(FileSizeOf(f), 3);
    CloseHandle(h);
}

TEST(FileSystemWin, WildcardsInANameMatchNothingElse) {
    TempDir dir;
    std::ofstream(dir.File("ab.txt")) << "12345";
    // "?" is what a character outside the code page becomes; it must not find "ab.txt".
    EXPECT_EQ(FileSizeOf(dir.Dir() + "a?.txt"), -1);
    EXPECT_EQ(FileSizeOf(dir.Dir() + "*.txt"), -1);
    EXPECT_EQ(FileSizeOf(dir.Dir() + "ab.txt"), 5);
    EXPECT_EQ(FileSizeOf(dir.Dir()), 0); // a directory entry counts, with no size
}

TEST(FileSystemWin, PathsLongerThanMaxPathWork) {
    TempDir dir;
    std::string deep = dir.Dir();
    for (int i = 0; i < 8; ++i) deep += std::string(40, static_cast<char>('a' + i)) + "\\";
    ASSERT_GT(deep.size(), 300u);
    ASSERT_TRUE(CreateDirectoryPath(deep));
    EXPECT_TRUE(IsDirectory(deep));
    std::string page = deep + "200501011200_Subject.htm";
    platform::WriteFileAtomic(page, "<html></html>");
    EXPECT_EQ(platform::ReadWholeFile(page), "<html></html>");
    EXPECT_EQ(FileSizeOf(page), 13);
    EXPECT_EQ(FileCrc32(page), ~Crc32Update("<html></html>", 13, 0xFFFFFFFFu));
    EXPECT_TRUE(platform::SetFileLastWriteFromLocal(page, EncodeDate(2005, 1, 1)));
    EXPECT_GT(FileWriteTime(page), 38000.0);
    EXPECT_EQ(platform::ListDirectory(deep).size(), 1u);
}

TEST(FileSystemWin, TheExecutableAndTheStartupPaths) {
    const std::string exe = platform::ExecutableFilePath();
    ASSERT_GT(exe.size(), 7u);
    EXPECT_EQ(exe[1], ':') << exe; // a full path with a drive
    EXPECT_EQ(exe.substr(exe.size() - 4), ".exe");
    EXPECT_TRUE(platform::FileExists(exe));
    InitStartupPathsFrom(exe);
    EXPECT_EQ(ExecutableBaseName(), "win32_tests");
    EXPECT_EQ(ApplicationDir().back(), '\\');
    EXPECT_TRUE(IsDirectory(ApplicationDir()));
    // Started through the "\\?\" form, the directory loses the prefix and still exists.
    InitStartupPathsFrom("\\\\?\\" + exe);
    EXPECT_EQ(ApplicationDir().rfind("\\\\?\\", 0), std::string::npos);
    EXPECT_TRUE(IsDirectory(ApplicationDir()));
}

TEST(FileSystemWin, RenameReplacesAndAtomicWritesLeaveNoTemporaryFile) {
    TempDir dir;
    std::string a = dir.File("a"), b = dir.File("b");
    platform::WriteFileAtomic(a, "new");
    platform::WriteFileAtomic(b, "old");
    EXPECT_TRUE(platform::RenameFilePath(a, b));
    EXPECT_EQ(platform::ReadWholeFile(b), "new");
    EXPECT_FALSE(platform::PathExists(a));
    EXPECT_EQ(platform::ListDirectory(dir.Dir()).size(), 1u);
    EXPECT_TRUE(platform::IsDirectoryWritable(dir.Dir()));
    EXPECT_EQ(platform::ListDirectory(dir.Dir()).size(), 1u); // the probe is gone again
    EXPECT_FALSE(platform::IsDirectoryWritable(dir.File("missing")));
}
