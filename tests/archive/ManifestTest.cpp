// The archive manifest: rows survive reopening and a killed writer, a mail exported again
// has one row (with its latest files), stores are kept apart.
#include "archive/Manifest.h"

#include "../TempDir.h"
#include "platform/Exceptions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace quillmark {
namespace {

using test::TempDir;

ManifestMail Row(const std::string& store, const std::string& id, double received = 1) {
    ManifestMail m;
    m.StoreKey = store;
    m.Identity = id;
    m.Folder = "Inbox";
    m.Page = "2024/m" + id + ".htm";
    m.Received = received;
    m.Subject = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 " + id; // "Привет"
    return m;
}

TEST(Manifest, RowsSurviveReopeningAndStoresAreKeptApart) {
    TempDir dir;
    {
        Manifest m(dir.Dir());
        m.Record(Row("S1", "a", 3));
        m.Record(Row("S1", "b", 1));
        m.Record(Row("S2", "a", 2));
    }
    Manifest m(dir.Dir());
    EXPECT_EQ(m.Count(), 3);
    EXPECT_EQ(m.IdentitiesOf("S1"), (std::unordered_set<std::string>{"a", "b"}));
    EXPECT_EQ(m.IdentitiesOf("S2"), (std::unordered_set<std::string>{"a"}));
    const auto all = m.All();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].Identity, "b"); // oldest received first
    EXPECT_EQ(all[2].Subject, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 a");
}

// Oldest received first; rows of one time in the order they were recorded (a mail recorded
// again counts from then), each with its own files.
TEST(Manifest, RowsOfOneTimeKeepTheOrderTheyWereRecordedIn) {
    TempDir dir;
    Manifest m(dir.Dir());
    const struct {
        const char* Id;
        double Received;
    } rows[] = {{"late", 9}, {"x", 5}, {"early", 1}, {"y", 5}, {"z", 5}, {"x", 5}};
    for (const auto& r : rows) {
        ManifestMail row = Row("S1", r.Id, r.Received);
        row.Files = {{std::string("atts/") + r.Id + ".pdf", 1, 0, false}};
        m.Record(row);
    }
    const auto all = m.All();
    std::vector<std::string> order;
    for (const auto& mail : all) {
        order.push_back(mail.Identity);
        ASSERT_EQ(mail.Files.size(), 1u) << mail.Identity;
        EXPECT_EQ(mail.Files[0].Path, "atts/" + mail.Identity + ".pdf");
    }
    EXPECT_EQ(order, (std::vector<std::string>{"early", "y", "z", "x", "late"}));
}

TEST(Manifest, AMailExportedAgainHasOneRowWithItsLatestFiles) {
    TempDir dir;
    Manifest m(dir.Dir());
    ManifestMail row = Row("S1", "a");
    row.Files = {{"atts/report.pdf", 10, 0xDEADBEEF, false}, {"2024/attsimgs/p.png", 5, 1, true}};
    m.Record(row);
    row.Page = "2024/m_a_1.htm";
    row.Files = {{"atts/report_1.pdf", 11, 2, false}};
    m.Record(row);
    m.Commit();
    const auto all = m.All();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].Page, "2024/m_a_1.htm");
    ASSERT_EQ(all[0].Files.size(), 1u);
    EXPECT_EQ(all[0].Files[0].Path, "atts/report_1.pdf");
    EXPECT_EQ(all[0].Files[0].Crc32, 2u);
}

TEST(Manifest, ARootOfAnyScriptAndAForeignFileAreHandled) {
    TempDir dir;
    const std::string root = dir.Dir() + "\xE6\x97\xA5\xE6\x9C\xAC"; // 日本
    {
        Manifest m(root);
        m.Record(Row("S", "x"));
    }
    EXPECT_EQ(Manifest(root).Count(), 1);
    // Something else under the manifest's name is reported, never overwritten.
    const std::string other = dir.Dir() + "other";
    std::filesystem::create_directories(std::filesystem::u8path(other + "/.quillmark"));
    std::ofstream(std::filesystem::u8path(other + "/" + Manifest::RelativePath))
        << "not a database, but someone's file";
    EXPECT_THROW(Manifest{other}, Exception);
}

#ifndef _WIN32
TEST(Manifest, AKilledWriterLosesOnlyItsUnfinishedBatch) {
    TempDir dir;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Manifest m(dir.Dir());
        for (int i = 0; i < 300; ++i)
            m.Record(Row("S", std::to_string(i)));
        _exit(0); // as a kill: no destructor, no last commit
    }
    int status = 0;
    waitpid(child, &status, 0);
    Manifest m(dir.Dir());
    // The first full batch was committed; the rest is made again by the next run.
    EXPECT_EQ(m.Count(), 256);
    m.Record(Row("S", "new"));
    m.Commit();
    EXPECT_EQ(m.Count(), 257);
}
#endif

} // namespace
} // namespace quillmark
