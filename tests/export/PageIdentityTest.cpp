// Which page belongs to which mail: mails of different stores never take each other's
// pages, the same mail twice in a folder makes one page, and a name shared by many mails
// is numbered without losing any of them.
#include "ExportTestSupport.h"

#include "SrcLib/DateTime.h"
#include "export/ExportRun.h"

#include <gtest/gtest.h>

namespace quillmark::testing {
namespace {

using outlook::dispid::Body;
using outlook::dispid::EntryID;
using outlook::dispid::InternetMessageID;
using outlook::dispid::ReceivedTime;
using outlook::dispid::Subject;

class PageIdentityTest : public ScratchDir {
protected:
    void SetUp() override {
        ScratchDir::SetUp();
        app = std::make_shared<FakeApplication>();
        // Two stores whose mails have the same identities inside them, as two mbox files
        // have (a mail's identity there is its place in the file).
        first = app->Ns->AddStore(u"First", u"/mail/first.mbox")->AddFolder(u"Inbox", u"inbox");
        second = app->Ns->AddStore(u"Second", u"/mail/second.mbox")->AddFolder(u"Inbox", u"inbox");
        in.ExportRoot = Path("out");
        std::filesystem::create_directories(Root / "out" / "atts");
        WriteFile(Path("t.htm"), "<HTML><BODY><#Subject>|<#Body>\r\n</BODY></HTML>\r\n");
        in.TemplateFile = Path("t.htm");
    }
    std::shared_ptr<FakeMailItem> Mail(FakeFolder& folder, const char16_t* id, const std::u16string& body) {
        auto m = folder.AddMail();
        m->SetText(Subject, u"Weekly report").SetText(Body, body).SetText(EntryID, id);
        m->SetDate(ReceivedTime, *TryEncodeDateTime(2020, 1, 6, 9, 0, 0));
        return m;
    }
    ExportOutcome Run(FakeFolder& folder) {
        in.FolderEntryID = folder.Entry;
        in.FolderStoreID = folder.Store;
        ExportRun run(app->Ns, host, TestIdentity());
        const ExportOutcome outcome = run.ExportMails(in);
        stats = run.Stats();
        return outcome;
    }
    std::vector<std::string> Bodies() {
        std::vector<std::string> bodies;
        for (const auto& name : Listing(Path("out/2020"))) {
            const std::string page = ReadFile(Path("out/2020/" + name));
            const auto bar = page.find('|');
            bodies.push_back(name + ":" + page.substr(bar + 1, page.find('\r', bar) - bar - 1));
        }
        return bodies;
    }

    std::shared_ptr<FakeApplication> app;
    std::shared_ptr<FakeFolder> first, second;
    ExportInputs in;
    RecordingHost host;
    ExportStats stats;
};

TEST_F(PageIdentityTest, AMailOfAnotherStoreNeverTakesAPage) {
    Mail(*first, u"000000000000", u"from the first store");
    Mail(*second, u"000000000000", u"from the second store");
    ASSERT_EQ(Run(*first), ExportOutcome::Completed);
    ASSERT_EQ(Run(*second), ExportOutcome::Completed);
    // Each store's mail exported again replaces its own page and nothing else.
    ASSERT_EQ(Run(*first), ExportOutcome::Completed);
    ASSERT_EQ(Run(*second), ExportOutcome::Completed);
    EXPECT_EQ(Bodies(),
              (std::vector<std::string>{"m202001060900_Weekly_report.htm:from the first store",
                                        "m202001060900_Weekly_report_1.htm:from the second store"}));
}

TEST_F(PageIdentityTest, APageOfAnEarlierVersionIsTheMailsOwnOnlyUnderItsOwnNameAndIdentity) {
    // Earlier versions wrote the identity alone into the marker.
    std::filesystem::create_directories(Root / "out" / "2020");
    WriteFile(Path("out/2020/m202001060900_Weekly_report.htm"),
              PageMarkerLine("000000000001") + "\r\nold|old\r\n");
    Mail(*first, u"000000000001", u"the same mail");
    Mail(*first, u"000000000002", u"another mail");
    ASSERT_EQ(Run(*first), ExportOutcome::Completed);
    EXPECT_EQ(Bodies(), (std::vector<std::string>{"m202001060900_Weekly_report.htm:the same mail",
                                                  "m202001060900_Weekly_report_1.htm:another mail"}));
}

TEST_F(PageIdentityTest, TheSameMailTwiceInAFolderMakesOnePage) {
    for (const char16_t* id : {u"1", u"2", u"3"})
        Mail(*first, id, u"copied")->SetText(InternetMessageID, u"<a@x>");
    // Same Message-ID, other content (an edited resend): a mail of its own.
    Mail(*first, u"4", u"edited")->SetText(InternetMessageID, u"<a@x>");
    // No Message-ID: two mails that read alike are still two mails.
    Mail(*first, u"5", u"no id");
    Mail(*first, u"6", u"no id");
    ASSERT_EQ(Run(*first), ExportOutcome::Completed);
    EXPECT_EQ(stats.Exported, 4);
    EXPECT_EQ(stats.Duplicates, 2);
    EXPECT_EQ(Bodies().size(), 4u);
}

TEST_F(PageIdentityTest, ManyMailsOfOneNameAreAllKeptAndFindTheirPagesAgain) {
    for (int i = 0; i < 300; ++i)
        Mail(*first,
             (u"id" + std::u16string(1, char16_t(u'A' + i % 26)) + std::u16string(1, char16_t(u'a' + i / 26)))
                 .c_str(),
             u"mail " + std::u16string(1, char16_t(u'0' + i % 10)));
    ASSERT_EQ(Run(*first), ExportOutcome::Completed);
    const auto once = Bodies();
    ASSERT_EQ(once.size(), 300u);
    ASSERT_EQ(Run(*first), ExportOutcome::Completed);
    EXPECT_EQ(Bodies(), once);
    EXPECT_EQ(Listing(Path("out/2020")).back(), "m202001060900_Weekly_report_99.htm");
}

#ifdef QUILLMARK_HAVE_ARCHIVE
TEST_F(PageIdentityTest, OnlyNewMailsAreExportedWhateverTheirDatesAndOrder) {
    // A folder out of date order, exported once.
    for (auto [id, day] : {std::pair{u"a", 20}, {u"b", 5}, {u"c", 25}, {u"d", 10}}) {
        Mail(*first, id, u"mail")->SetDate(ReceivedTime, *TryEncodeDateTime(2020, 1, day, 9, 0, 0));
    }
    in.OnlyNew = true;
    ASSERT_EQ(Run(*first), ExportOutcome::Completed);
    EXPECT_EQ(stats.Exported, 4);
    // Mails arrive dated before every mail there is, between them, and after them: nothing
    // already archived is written again, nothing new is passed over.
    Mail(*first, u"early", u"new")->SetDate(ReceivedTime, *TryEncodeDateTime(2019, 12, 1, 9, 0, 0));
    Mail(*first, u"between", u"new")->SetDate(ReceivedTime, *TryEncodeDateTime(2020, 1, 15, 9, 0, 0));
    Mail(*first, u"late", u"new")->SetDate(ReceivedTime, *TryEncodeDateTime(2020, 2, 1, 9, 0, 0));
    ASSERT_EQ(Run(*first), ExportOutcome::Completed);
    EXPECT_EQ(stats.Exported, 3);
    EXPECT_EQ(stats.AlreadyArchived, 4);
    ASSERT_EQ(Run(*first), ExportOutcome::Completed);
    EXPECT_EQ(stats.Exported, 0);
    // The bound handed back is the latest mail time, not the last mail's in the folder.
    EXPECT_EQ(host.FromText, "2020-02-01 09:00:00");
}
#endif

} // namespace
} // namespace quillmark::testing
