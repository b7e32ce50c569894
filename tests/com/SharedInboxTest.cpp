// The mailbox side of the comparison between the backends: the mails of SharedInbox.h, read
// by the mailbox backend from tests/data/com/shared-inbox.mbox and exported by the run with
// the built-in template, give exactly the golden pages in tests/data/com/shared-pages/.
// ComOutlookTest.cpp holds quillmark-export.exe's export of the same mails through COM (the
// fake server) to the same golden pages, in the Windows build, where there is no GMime.
//
// To write the golden pages afresh after an intended change of the pages, run
//     QUILLMARK_UPDATE_GOLDEN=1 build/tests/com/shared_inbox_tests
// and look at the difference in git before committing it; the Windows leg
// (scripts/windows-ci.sh) must then agree with the new pages as well.
#include "PageTree.h"
#include "SharedInbox.h"
#include "TempDir.h"

#include "SrcLib/DateTime.h"
#include "export/ExportRun.h"
#include "outlook/StoreFactory.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Regional.h"
#include "template/DefaultTemplate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>

namespace quillmark::test {
namespace {

namespace fs = std::filesystem;
using shared::DateValue;
using shared::SharedInboxItems;

const fs::path Mbox = fs::path(QUILLMARK_TEST_DATA) / "com" / "shared-inbox.mbox";
const fs::path Golden = fs::path(QUILLMARK_TEST_DATA) / "com" / "shared-pages";

std::string Utf8(const outlook::WideString& w) { return platform::Utf8FromUtf16(w); }

// The comparison folder's times are Central European; a POSIX rule needs no zone database.
class SharedInbox : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        tzset();
        platform::SetRegional(GoldenRegional());
        // Summer time and winter time both, or the comparison below means nothing.
        ASSERT_EQ(DateTimeToText(platform::UtcToLocal(DateValue(2005, 7, 15, 7, 0, 0))), "2005-07-15 9:00:00 AM");
        ASSERT_EQ(DateTimeToText(platform::UtcToLocal(DateValue(2005, 3, 1, 10, 30, 0))), "2005-03-01 11:30:00 AM");
    }
    void TearDown() override { platform::SetRegional(platform::RegionalSettings{}); }

    std::shared_ptr<outlook::NameSpace> Open() {
        app_ = outlook::ConnectApplication({platform::Utf8Path(Mbox)});
        app_->SetWarningHandler([this](const std::string& m) { warnings_.push_back(m); });
        auto ns = app_->GetNamespace("MAPI");
        ns->Logon();
        return ns;
    }

    std::shared_ptr<outlook::Application> app_;
    std::vector<std::string> warnings_;
};

TEST_F(SharedInbox, TheMailboxReadsEveryPropertyTheFakeServerGives) {
    auto ns = Open();
    auto folder = ns->Folders()->Item(1);
    auto items = folder->Items();
    const auto& want = SharedInboxItems();
    ASSERT_EQ(items->Count(), static_cast<int>(want.size()));
    TempDir dir;
    // Date values agree to well under the second that the pages show.
    const double tolerance = 0.001 / 86400.0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("item " + std::to_string(i + 1));
        const auto& w = want[i];
        auto mail = items->Item(static_cast<int>(i + 1))->QueryMailItem();
        ASSERT_EQ(mail != nullptr, w.IsMail);
        if (!mail) continue;
        using namespace outlook;
        EXPECT_EQ(Utf8(mail->GetText(dispid::Subject)), Utf8(w.Subject));
        EXPECT_EQ(Utf8(mail->GetText(dispid::Body)), Utf8(w.Body));
        EXPECT_EQ(Utf8(mail->GetText(dispid::SenderName)), Utf8(w.SenderName));
        EXPECT_EQ(Utf8(mail->GetText(dispid::To)), Utf8(w.To));
        EXPECT_NEAR(mail->GetDate(dispid::ReceivedTime), w.ReceivedTime, tolerance)
            << DateTimeToText(mail->GetDate(dispid::ReceivedTime));
        EXPECT_NEAR(mail->GetDate(dispid::CreationTime), w.CreationTime, tolerance)
            << DateTimeToText(mail->GetDate(dispid::CreationTime));
        EXPECT_EQ(mail->GetInt(dispid::Size), w.Size);
        EXPECT_EQ(mail->GetBool(dispid::UnRead), w.UnRead ? VariantTrue : VariantFalse);
        auto atts = mail->Attachments();
        ASSERT_EQ(atts->Count(), static_cast<int>(w.Attachments.size()));
        for (std::size_t k = 0; k < w.Attachments.size(); ++k) {
            auto a = atts->Item(static_cast<int>(k + 1));
            EXPECT_EQ(Utf8(a->FileName()), Utf8(w.Attachments[k].FileName));
            const std::string path = dir.File("att" + std::to_string(i) + "-" + std::to_string(k));
            a->SaveAsFile(path);
            EXPECT_EQ(platform::ReadWholeFile(path), w.Attachments[k].Bytes) << Utf8(w.Attachments[k].FileName);
        }
    }
    EXPECT_TRUE(warnings_.empty()) << warnings_.front();
    ns->Logoff();
}

class QuietHost : public ExportHost {
public:
    void ShowStatus(const std::string&, int) override {}
    void SetProgressMax(int) override {}
    void SetProgress(int) override {}
    void ProcessPendingEvents() override {}
    void SetFromText(const std::string&) override {}
};

TEST_F(SharedInbox, TheMailboxExportGivesTheGoldenPages) {
    auto ns = Open();
    auto folder = ns->Folders()->Item(1);
    TempDir dir;
    const fs::path root = dir.Path() / "export";
    ExportInputs in;
    in.FolderEntryID = folder->EntryID();
    in.FolderStoreID = folder->StoreID();
    in.TemplateLines = DefaultTemplateLines();
    in.ExportRoot = platform::Utf8Path(root);
    fs::create_directories(root / in.AttachmentsDir); // as quillmark-export makes it
    // quillmark-export's identity, as its version block gives it on Windows.
    AppIdentity identity;
    identity.ProductName = QUILLMARK_PRODUCT_NAME;
    identity.ProductVersion = QUILLMARK_PRODUCT_VERSION;
    identity.FileVersion = QUILLMARK_FILE_VERSION;
    identity.ExecutableBaseName = "quillmark-export";
    QuietHost host;
    ExportRun run(ns, host, identity);
    ASSERT_EQ(run.ExportMails(in), ExportOutcome::Completed);
    EXPECT_EQ(run.Stats().Exported, 5);
    EXPECT_EQ(run.Stats().NotMail, 1);
    ns->Logoff();

    if (const char* update = std::getenv("QUILLMARK_UPDATE_GOLDEN"); update && std::string(update) == "1") {
        fs::remove_all(Golden);
        fs::copy(root, Golden, fs::copy_options::recursive);
        std::cout << "golden pages written to " << Golden.string() << "\n";
    }
    const auto differences = CompareTrees(root, Golden);
    std::string report;
    for (const auto& d : differences) report += d + "\n";
    EXPECT_TRUE(differences.empty()) << report;
}

// The masking hides the run's and the store's own values and nothing next to them.
TEST(PageMasking, OnlyTheRunDependentValuesAreMasked) {
    const std::string page =
        "<!-- quillmark-mail: 1234 -->\r\n"
        "<HTML>\r\n"
        " <META name=\"generator\" content=\"quillmark-export v1.2.4.9 (2026-12-08 7:31:33 PM)\">\r\n"
        " <META name=\"created\" content=\"2005-03-01 11:30:00 AM\">\r\n"
        "<PRE>\r\n"
        "EntryID=in the body\r\n"
        "</PRE>\r\n"
        "<TT><A href=\"../atts/report.txt\" title=\"2026-12-08 7:31:33 PM (16 bytes)\">report.txt</A>; "
        "<A href=\"../atts/n.txt\" title=\"2026-12-08 7:31:34 PM (8 bytes)\">n (1).txt</A></TT>\r\n"
        "EntryID=1234\r\n"
        "</HTML>\r\n";
    struct Case {
        const char* what;
        std::string from, to;
        bool masked;
    };
    const Case cases[] = {
        {"marker identity", "mail: 1234 -->", "mail: crc32-0A1B2C3D -->", true},
        {"export time", "(2026-12-08 7:31:33 PM)\">", "(2027-01-01 12:00:00 AM)\">", true},
        {"EntryID value", "EntryID=1234", "EntryID=", true},
        {"first attachment's write time", "7:31:33 PM (16", "9:00:00 AM (16", true},
        {"second attachment's write time", "7:31:34 PM (8", "7:31:35 PM (8", true},
        {"program version", "v1.2.4.9", "v1.2.5.0", false},
        {"program name", "quillmark-export v", "quillmark v", false},
        {"creation time", "11:30:00 AM", "11:30:01 AM", false},
        {"a body line like the EntryID line", "EntryID=in the body", "EntryID=in the bodY", false},
        {"attachment size", "(16 bytes)", "(17 bytes)", false},
        {"attachment link", "../atts/report.txt", "../atts/report_1.txt", false},
        {"attachment name", ">n (1).txt<", ">n (2).txt<", false},
        {"a line end", "</PRE>\r\n", "</PRE>\n", false},
        {"text before the marker", "<!-- quillmark", " <!-- quillmark", false},
    };
    for (const auto& c : cases) {
        std::string changed = page;
        const auto at = changed.find(c.from);
        ASSERT_NE(at, std::string::npos) << c.what;
        changed.replace(at, c.from.size(), c.to);
        EXPECT_EQ(MaskPage(changed) == MaskPage(page), c.masked) << c.what;
    }
    // A page without the template's lines passes through unchanged.
    EXPECT_EQ(MaskPage("plain\r\ntext\n"), "plain\r\ntext\n");
}

} // namespace
} // namespace quillmark::test
