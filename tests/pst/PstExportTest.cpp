// A data file as the user opens it: through the store factory, and exported by
// quillmark-export --store file.pst.
#include "outlook/StoreFactory.h"

#include "PstFixtures.h"
#include "TempDir.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace quillmark;
using namespace quillmark::outlook;
using quillmark::test::FixtureDir;
using quillmark::test::ReadFile;

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

} // namespace

TEST(PstThroughFactory, DataFilesOpenWithTheirOwnBackend) {
    REQUIRE_PST_FIXTURES();
    auto app = ConnectApplication({FixtureDir() + "pstsdk-sample2-ansi.pst", FixtureDir() + "dist-list.pst"});
    auto ns = app->GetNamespace("MAPI");
    ns->Logon();
    auto tops = ns->Folders();
    ASSERT_EQ(tops->Count(), 2);
    EXPECT_EQ(tops->Item(1)->Name(), u"sample2");
    EXPECT_EQ(tops->Item(2)->Name(), u"Personal Folders");
    // The run reopens the chosen folder by its two identifiers.
    auto sample = tops->Item(1)->Folders()->Item(2);
    auto again = ns->GetFolderFromID(sample->EntryID(), sample->StoreID());
    EXPECT_EQ(again->Name(), u"Sample2");
    EXPECT_EQ(again->Items()->Count(), 1);
    ns->Logoff();
}

TEST(PstThroughFactory, DamagedDataFileIsAWarningNotACrash) {
    REQUIRE_PST_FIXTURES();
    test::TempDir dir;
    std::string damaged = dir.File("damaged.pst");
    platform::WriteFileAtomic(damaged, ReadFile(FixtureDir() + "dist-list.pst").substr(0, 3000));
    std::vector<std::string> warnings;
    auto app = ConnectApplication({damaged, FixtureDir() + "pstsdk-sample2-ansi.pst"});
    app->SetWarningHandler([&](const std::string& m) { warnings.push_back(m); });
    auto ns = app->GetNamespace("MAPI");
    ns->Logon();
    EXPECT_EQ(ns->Folders()->Count(), 1); // the good store stays
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find(damaged), std::string::npos) << warnings[0];
}

TEST(PstExport, CommandLineExportsAnOutlookFolder) {
    REQUIRE_PST_FIXTURES();
    test::TempDir dir;
    const std::string out = dir.File("archive");
    const std::string command = Quote(QUILLMARK_EXPORT_PROGRAM) + " --store " +
                                Quote(FixtureDir() + "pstsdk-sample2-ansi.pst") + " --folder sample2/Sample2 --out " +
                                Quote(out) + " > " + Quote(dir.File("log.txt")) + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(dir.File("log.txt"));

    namespace fs = std::filesystem;
    const fs::path year = fs::path(out) / "2010";
    std::vector<fs::path> pages;
    for (const auto& e : fs::directory_iterator(year))
        if (e.path().extension() == ".htm")
            pages.push_back(e.path());
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].filename().string().substr(0, 9), "m20100315");
    std::string page = ReadFile(pages[0]);
    EXPECT_NE(page.find("Here is a sample message"), std::string::npos);
    EXPECT_NE(page.find("Terry Mahaffey"), std::string::npos);
    EXPECT_NE(page.find("With a sample attachment."), std::string::npos);
    EXPECT_NE(page.find("attsimgs/leah_thumper.jpg"), std::string::npos);
    // The picture, byte for byte.
    std::string jpeg = ReadFile(year / "attsimgs" / "leah_thumper.jpg");
    EXPECT_EQ(jpeg.size(), 93142u);
    EXPECT_EQ(jpeg.substr(0, 4), "\xFF\xD8\xFF\xE0");
}

TEST(PstExport, UnicodeFolderWithAttachedMessages) {
    REQUIRE_PST_FIXTURES();
    test::TempDir dir;
    const std::string out = dir.File("archive");
    const std::string command = Quote(QUILLMARK_EXPORT_PROGRAM) + " --store " +
                                Quote(FixtureDir() + "aspose-passwordprotectedPST.pst") +
                                " --folder 'Personal folders/Inbox' --out " + Quote(out) + " > " +
                                Quote(dir.File("log.txt")) + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(dir.File("log.txt"));
    namespace fs = std::filesystem;
    int pages = 0;
    // The mail pages, in their year folders (the archive's index pages are beside them).
    for (const auto& e : fs::recursive_directory_iterator(out))
        if (e.path().extension() == ".htm" && e.path().parent_path() != fs::path(out) &&
            e.path().parent_path().filename() != "_archive")
            ++pages;
    EXPECT_EQ(pages, 4);
    EXPECT_EQ(ReadFile(fs::path(out) / "atts" / "1.txt"), "This is text attachment file used for Aspose.Email examples.");
    std::string eml = ReadFile(fs::path(out) / "atts" / "creating_an_outlook_message_file.eml");
    EXPECT_NE(eml.find("Subject: creating an outlook message file"), std::string::npos);
}
