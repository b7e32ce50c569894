// The lock that keeps a second run out of an export root, the names of our temporary files,
// and the faults the file system layer can be told to raise.
#include "TempDir.h"
#include "platform/DirectoryLock.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace quillmark;
using platform::DirectoryLock;
using quillmark::test::TempDir;

namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(DirectoryLock, OneHolderAtATimeAndTheSecondLearnsWho) {
    TempDir dir;
    const std::string path = dir.File(".lock");
    DirectoryLock first, second;
    ASSERT_EQ(first.TryLock(path), DirectoryLock::State::Locked);
    EXPECT_EQ(DirectoryLock::ParseRecord(Read(path)).Pid, platform::CurrentProcessId());
    // A second opening of the file is refused, also in the same process.
    EXPECT_EQ(second.TryLock(path), DirectoryLock::State::HeldByOther);
    EXPECT_FALSE(second.Held());
    EXPECT_EQ(second.Previous().Pid, platform::CurrentProcessId());
    EXPECT_EQ(second.Previous().Host, platform::HostName());
    // Let go properly: the file is emptied, and the next taker finds no one to take over from.
    first.Unlock();
    EXPECT_EQ(Read(path), "");
    EXPECT_EQ(second.TryLock(path), DirectoryLock::State::Locked);
    EXPECT_TRUE(second.Held());
}

TEST(DirectoryLock, ALockLeftByAProcessThatEndedIsTakenOver) {
    TempDir dir;
    const std::string path = dir.File(".lock");
    std::ofstream(path) << "999999999 elsewhere\n";
    DirectoryLock lock;
    ASSERT_EQ(lock.TryLock(path), DirectoryLock::State::TookOver);
    EXPECT_EQ(lock.Previous().Pid, 999999999);
    EXPECT_EQ(DirectoryLock::Describe(lock.Previous()), "process 999999999 on elsewhere");
    EXPECT_EQ(DirectoryLock::ParseRecord(Read(path)).Pid, platform::CurrentProcessId());
    // A record that is not one of ours names no one.
    for (const char* junk : {"", "\n", "abc 12", "-5 x", "12345678901234 x"})
        EXPECT_EQ(DirectoryLock::ParseRecord(junk).Pid, 0) << junk;
    EXPECT_EQ(DirectoryLock::Describe({}), "another process");
    EXPECT_THROW(lock.TryLock(dir.File("no/such/dir/.lock")), EFCreateError);
}

TEST(ProcessIds, TheRunningProcessRunsAndImpossibleIdsDoNot) {
    EXPECT_TRUE(platform::ProcessIsRunning(platform::CurrentProcessId()));
    EXPECT_FALSE(platform::ProcessIsRunning(0));
    EXPECT_FALSE(platform::ProcessIsRunning(-3));
    EXPECT_FALSE(platform::ProcessIsRunning(999999999));
}

TEST(TemporaryNames, OnlyTheNamesAtomicWritesMake) {
    struct Case {
        const char* name;
        bool ours;
        long pid;
    };
    const std::vector<Case> cases = {
        {"m200503011402_Offer.htm.tmp-4242-0", true, 4242},
        {"x.tmp-1-2-3", true, 1}, // the Windows form: pid, ticks, counter
        {"README.tmp-77-12", true, 77},
        {".tmp-1-2", false, 0},   // no target name
        {"a.tmp-1", false, 0},    // no counter
        {"a.tmp-1-", false, 0},
        {"a.tmp--1", false, 0},
        {"a.tmp-1-2-3-4", false, 0},
        {"a.tmp-x-2", false, 0},
        {"a.tmp-1-2.txt", false, 0},
        {"notes.tmp", false, 0},
        {"a.tmp-1234567890-2", false, 0}, // no process id is that long
    };
    for (const auto& c : cases) {
        long pid = 0;
        EXPECT_EQ(platform::IsOwnTemporaryName(c.name, &pid), c.ours) << c.name;
        if (c.ours) {
            EXPECT_EQ(pid, c.pid) << c.name;
        }
    }
}

class InjectedFaults : public ::testing::Test {
protected:
    void TearDown() override { platform::SetWriteFaultHook({}); }
};

TEST_F(InjectedFaults, AFullDiskIsSaidSoAndLeavesNoTemporaryFile) {
    TempDir dir;
    std::ofstream(dir.File("page.htm")) << "good";
    platform::SetWriteFaultHook([](const std::string& path) {
        return path.find("page") != std::string::npos ? platform::WriteFault::DiskFull : platform::WriteFault::None;
    });
    for (bool keep : {false, true}) {
        platform::AtomicWriteOptions options;
        options.KeepExisting = keep;
        try {
            platform::WriteFileAtomic(dir.File("page.htm"), "new", options);
            ADD_FAILURE() << "written on a full disk";
        } catch (const EWriteError& e) {
            EXPECT_TRUE(e.DiskFull());
            EXPECT_NE(std::string(e.what()).find("page.htm"), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(Read(dir.File("page.htm")), "good"); // the old file is whole
    EXPECT_EQ(Names(dir.Dir()), std::vector<std::string>{"page.htm"});
    // Other names are not touched by the fault.
    EXPECT_TRUE(platform::WriteFileAtomic(dir.File("other.htm"), "x"));
}

TEST_F(InjectedFaults, ARefusedNameIsNoFullDisk) {
    TempDir dir;
    platform::SetWriteFaultHook([](const std::string&) { return platform::WriteFault::NameRefused; });
    try {
        platform::WriteFileAtomic(dir.File("CON.txt"), "x");
        ADD_FAILURE() << "a refused name was written";
    } catch (const EFCreateError& e) {
        EXPECT_FALSE(e.DiskFull());
    }
    std::ofstream(dir.File("a")) << "a";
    EXPECT_FALSE(platform::RenameFilePath(dir.File("a"), dir.File("CON")));
    EXPECT_EQ(Names(dir.Dir()), std::vector<std::string>{"a"});
}

