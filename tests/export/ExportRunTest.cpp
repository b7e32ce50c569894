// The export run end to end over an in-memory store: which mail becomes which page, where,
// with what in it, and what the front end is told.
#include "ExportTestSupport.h"

#include "SrcLib/DateTime.h"
#include "SrcLib/uLib.h"
#include "export/ExportRun.h"
#include "template/DefaultTemplate.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quillmark::testing {
namespace {

using outlook::dispid::Body;
using outlook::dispid::CreationTime;
using outlook::dispid::EntryID;
using outlook::dispid::ReceivedTime;
using outlook::dispid::Subject;

double At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) { return *TryEncodeDateTime(y, mo, d, h, mi, s); }

class ExportRunTest : public ScratchDir {
protected:
    void SetUp() override {
        ScratchDir::SetUp();
        app = std::make_shared<FakeApplication>();
        store = app->Ns->AddStore(u"Personal Folders", u"store-1");
        inbox = store->AddFolder(u"Inbox");
        in.FolderEntryID = inbox->Entry;
        in.FolderStoreID = inbox->Store;
        in.ExportRoot = Path("out");
        in.AttachmentsDir = "atts";
        std::filesystem::create_directories(Root / "out" / "atts");
        UseTemplate({"<HTML><BODY>", "<H2><#Subject></H2>", "<PRE><#Body></PRE>", "</BODY>", "</HTML>"});
    }

    void UseTemplate(const std::vector<std::string>& lines) {
        std::string text;
        for (const auto& l : lines) text += l + "\r\n";
        WriteFile(Path("t.htm"), text);
        in.TemplateFile = Path("t.htm");
    }

    std::shared_ptr<FakeMailItem> Mail(const std::u16string& subject, double received, std::u16string body = u"text") {
        auto m = inbox->AddMail();
        m->SetText(Subject, subject).SetDate(ReceivedTime, received).SetText(Body, std::move(body));
        m->SetText(EntryID, u"EID" + std::u16string(1, static_cast<char16_t>(u'A' + inbox->ItemList.size())));
        return m;
    }

    ExportOutcome Run() {
        ExportRun run(app->Ns, host, TestIdentity());
        return run.ExportMails(in);
    }

    std::string Page(const std::string& rel) { return ReadFile(Path("out/" + rel)); }
    std::vector<std::string> Pages(const std::string& year) {
        std::vector<std::string> htm;
        for (const auto& n : Listing(Path("out/" + year)))
            if (n.size() > 4 && n.substr(n.size() - 4) == ".htm") htm.push_back(n);
        return htm;
    }

    std::shared_ptr<FakeApplication> app;
    std::shared_ptr<FakeFolder> store, inbox;
    ExportInputs in;
    RecordingHost host;
};

TEST_F(ExportRunTest, PageNamesAndYearFolders) {
    Mail(u"Re: Offer", At(2005, 3, 1, 14, 2, 10));
    Mail(u"", At(2005, 3, 1, 14, 2, 10));
    Mail(std::u16string(60, u'x'), At(2006, 12, 31, 23, 59, 59));
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    EXPECT_EQ(Pages("2005"), (std::vector<std::string>{"m200503011402_.htm", "m200503011402_Re-_Offer.htm"}));
    EXPECT_EQ(Pages("2006"), (std::vector<std::string>{"m200612312359_" + std::string(44, 'x') + ".htm"}));
}

TEST_F(ExportRunTest, StatusTextProgressAndEndOfRun) {
    Mail(u"Offer", At(2005, 3, 1, 14, 2, 10));
    inbox->AddNonMail();
    Mail(u"Late", At(2005, 3, 2))->SetText(Body, u"");
    in.SizeText = "1";
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    ASSERT_EQ(host.Statuses.size(), 3u); // two mails and "ok"; the non-mail item says nothing
    EXPECT_EQ(host.Statuses[0].Text, "#1 | 2005-03-01 14:02:10 | Offer");
    EXPECT_EQ(host.Statuses[0].Mode, 0);
    EXPECT_EQ(host.Statuses[1].Text, "#3 | 2005-03-02 | Late");
    EXPECT_EQ(host.Statuses[1].Mode, 1);
    EXPECT_EQ(host.Statuses[2].Text, "ok");
    EXPECT_EQ(host.ProgressMax, 3);
    EXPECT_EQ(host.Progress, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(host.EventTurns, 3);
    // The From field gets the last mail examined, exported or not.
    EXPECT_EQ(host.FromText, "2005-03-02");
}

TEST_F(ExportRunTest, EmptyFolderAndOnlyNonMailGiveFrom18991230) {
    for (int nonMail : {0, 2}) {
        inbox->ItemList.clear();
        for (int i = 0; i < nonMail; ++i) inbox->AddNonMail();
        host = RecordingHost{};
        ASSERT_EQ(Run(), ExportOutcome::Completed);
        EXPECT_EQ(host.FromText, "1899-12-30");
        ASSERT_EQ(host.Statuses.size(), 1u);
        EXPECT_EQ(host.Statuses[0].Text, "ok");
        EXPECT_FALSE(Exists(Path("out/1899")));
    }
}

TEST_F(ExportRunTest, FiltersAreInclusiveAndInOrder) {
    struct Case {
        const char* name;
        std::string from, to, size;
        double time;
        std::u16string body;
        bool exported;
    };
    const double from = At(2005, 3, 1, 10, 0, 0), to = At(2005, 3, 31, 18, 30, 0);
    const std::vector<Case> cases = {
        {"exactly From", "2005-03-01 10:00:00", "2005-03-31 18:30:00", "", from, u"b", true},
        {"a second before From", "2005-03-01 10:00:00", "", "", At(2005, 3, 1, 9, 59, 59), u"b", false},
        {"exactly To", "", "2005-03-31 18:30:00", "", to, u"b", true},
        {"a second after To", "", "2005-03-31 18:30:00", "", At(2005, 3, 31, 18, 30, 1), u"b", false},
        {"To empty: 2099-12-31 00:00:00 passes", "", "", "", At(2099, 12, 31), u"b", true},
        {"To empty: later that day does not", "", "", "", At(2099, 12, 31, 0, 0, 1), u"b", false},
        {"To unreadable falls back", "", "31.12.2005", "", At(2099, 12, 30), u"b", true},
        {"From unreadable falls back to 0", "yesterday", "", "", At(1901, 1, 1), u"b", true},
        {"body as long as the minimum", "", "", "5", from, u"12345", true},
        {"body one short", "", "", "5", from, u"1234", false},
        {"body length in UTF-16 units", "", "", "2", from, u"\U0001F600", true},
        {"size in hex", "", "", "$10", from, std::u16string(15, u'a'), false},
        {"size unreadable means 0", "", "", "12abc", from, u"", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        inbox->ItemList.clear();
        std::filesystem::remove_all(Path("out"));
        std::filesystem::create_directories(Path("out/atts"));
        Mail(u"S", c.time, c.body);
        in.FromText = c.from;
        in.ToText = c.to;
        in.SizeText = c.size;
        host = RecordingHost{};
        ASSERT_EQ(Run(), ExportOutcome::Completed);
        ASSERT_GE(host.Statuses.size(), 2u);
        EXPECT_EQ(host.Statuses[0].Mode, c.exported ? 0 : 1);
        const std::string year = FormatDateTime("yyyy", c.time);
        EXPECT_EQ(Pages(year).size(), c.exported ? 1u : 0u);
    }
}

TEST_F(ExportRunTest, AbsentReceivedTimeFallsBackToCreationTime) {
    Mail(u"At limit", 900000.0)->SetDate(CreationTime, At(2005, 1, 1));
    Mail(u"Absent", outlook::OutlookNoDate)->SetDate(CreationTime, At(2004, 6, 7, 8, 9, 10));
    in.FromText = "2000-01-01";
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    // 900000.0 itself is a (far) received time: filtered out by the default To bound.
    EXPECT_EQ(host.Statuses[0].Mode, 1);
    EXPECT_EQ(host.Statuses[1].Text, "#2 | 2004-06-07 08:09:10 | Absent");
    EXPECT_EQ(Pages("2004"), (std::vector<std::string>{"m200406070809_Absent.htm"}));
    EXPECT_EQ(host.FromText, "2004-06-07 08:09:10");
}

TEST_F(ExportRunTest, PageFileTimeIsTheMailTimeInDosResolution) {
    Mail(u"Timed", At(2005, 3, 1, 14, 2, 11));
    Mail(u"Ancient", At(1975, 5, 5, 5, 5, 5));
    const double before = platform::NowLocal();
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    const double t = platform::UtcToLocal(FileWriteTime(Path("out/2005/m200503011402_Timed.htm")));
    EXPECT_NEAR(t, At(2005, 3, 1, 14, 2, 10), 0.5 / 86400);
    // Outside 1980-2099 the page keeps the time writing gave it.
    const double t2 = platform::UtcToLocal(FileWriteTime(Path("out/1975/m197505050505_Ancient.htm")));
    EXPECT_GE(t2, before - 5.0 / 86400);
}

TEST_F(ExportRunTest, FooterPlacement) {
    struct Case {
        const char* name;
        std::vector<std::string> tmpl;
        std::size_t footerLine; // 0-based line of the page text, after the marker line
    };
    const std::vector<Case> cases = {
        {"</body> on its own line", {"<HTML>", "<BODY>", "x", "</body>", "</HTML>"}, 3},
        {"</Body>", {"<HTML>", "<BODY>", "</Body>", "</HTML>"}, 2},
        {"</body></html> on one line", {"<HTML><BODY>", "x", "</body></html>"}, 3},
        {"no closing body", {"<HTML>", "x"}, 2},
        {"blanks around </body> do not count", {"<BODY>", " </body>", "</BODY>"}, 2},
        {"the first of two", {"</BODY>", "</BODY>"}, 0},
    };
    const std::string footer =
        "<SMALL style=\"font-family: verdana; font-size: 60%; border-top: silver 1px black; padding-top:2px\">\r"
        "<A href=\"" + std::string(MakerWebAddress) + "Quillmark\">Quillmark v0.3</A></SMALL>\r";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        inbox->ItemList.clear();
        std::filesystem::remove_all(Path("out/2005"));
        Mail(u"F", At(2005, 1, 1));
        UseTemplate(c.tmpl);
        host = RecordingHost{};
        ASSERT_EQ(Run(), ExportOutcome::Completed);
        const std::string page = Page("2005/m200501010000_F.htm");
        // Lines as written: each followed by CR LF; the footer holds two bare CRs.
        std::vector<std::string> lines;
        std::size_t pos = 0, next;
        while ((next = page.find("\r\n", pos)) != std::string::npos) {
            lines.push_back(page.substr(pos, next - pos));
            pos = next + 2;
        }
        EXPECT_EQ(pos, page.size());
        ASSERT_EQ(lines.size(), c.tmpl.size() + 2);
        EXPECT_EQ(lines[0].rfind(PageMarkerPrefix, 0), 0u);
        EXPECT_EQ(lines[1 + c.footerLine], footer);
    }
}

TEST_F(ExportRunTest, SameMinuteSameNameIsNumberedAndReExportReusesOwnPages) {
    Mail(u"Hello", At(2005, 3, 1, 14, 2, 1), u"first");
    Mail(u"Hello", At(2005, 3, 1, 14, 2, 40), u"second");
    Mail(u"Hello", At(2005, 3, 1, 14, 2, 59), u"third");
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    const std::vector<std::string> expected{"m200503011402_Hello.htm", "m200503011402_Hello_1.htm",
                                            "m200503011402_Hello_2.htm"};
    EXPECT_EQ(Pages("2005"), expected);
    EXPECT_NE(Page("2005/m200503011402_Hello.htm").find("first"), std::string::npos);
    EXPECT_NE(Page("2005/m200503011402_Hello_1.htm").find("second"), std::string::npos);
    EXPECT_NE(Page("2005/m200503011402_Hello_2.htm").find("third"), std::string::npos);

    // Again, with the middle page deleted: each mail finds its own page (the third one
    // past the gap), the second mail gets its name back, nothing new is numbered.
    std::filesystem::remove(Path("out/2005/m200503011402_Hello_1.htm"));
    host = RecordingHost{};
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    EXPECT_EQ(Pages("2005"), expected);
    EXPECT_NE(Page("2005/m200503011402_Hello_1.htm").find("second"), std::string::npos);
    EXPECT_NE(Page("2005/m200503011402_Hello_2.htm").find("third"), std::string::npos);
}

TEST_F(ExportRunTest, APageWithoutMarkerIsNeverOverwritten) {
    WriteFile(Path("out/2005/m200503011402_Hello.htm"), "a page someone made by hand");
    Mail(u"Hello", At(2005, 3, 1, 14, 2, 1));
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    EXPECT_EQ(Page("2005/m200503011402_Hello.htm"), "a page someone made by hand");
    EXPECT_TRUE(Exists(Path("out/2005/m200503011402_Hello_1.htm")));
}

TEST_F(ExportRunTest, MailsWithoutEntryIdAreToldApartByFingerprint) {
    Mail(u"Same", At(2005, 3, 1, 14, 2, 1), u"one")->SetText(EntryID, u"");
    Mail(u"Same", At(2005, 3, 1, 14, 2, 1), u"two")->SetText(EntryID, u"");
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    EXPECT_EQ(Pages("2005").size(), 2u);
}

TEST_F(ExportRunTest, SecondRunFromTheAdvancedBound) {
    Mail(u"Early", At(2005, 3, 1, 8, 0, 0));
    Mail(u"Last", At(2005, 3, 2, 9, 30, 15));
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    ASSERT_EQ(host.FromText, "2005-03-02 09:30:15");
    const std::string lastPage = Path("out/2005/m200503020930_Last.htm");
    WriteFile(Path("marker"), "");
    std::filesystem::last_write_time(lastPage, std::filesystem::last_write_time(Path("marker")));

    in.FromText = host.FromText;
    host = RecordingHost{};
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    EXPECT_EQ(host.Statuses[0].Mode, 1);
    EXPECT_EQ(host.Statuses[1].Mode, 0); // the last mail passes again ...
    EXPECT_EQ(Pages("2005").size(), 2u); // ... and rewrites its own page
    EXPECT_NEAR(platform::UtcToLocal(FileWriteTime(lastPage)), At(2005, 3, 2, 9, 30, 14), 0.5 / 86400);
}

TEST_F(ExportRunTest, StopIsSeenBeforeTheNextItem) {
    for (int i = 1; i <= 8; ++i) Mail(u"M" + std::u16string(1, static_cast<char16_t>(u'0' + i)), At(2005, 1, i));
    ExportRun run(app->Ns, host, TestIdentity());
    // The stop command arrives while item 5 is handled; the front end delivers it at its
    // next turn of event processing, before item 6.
    host.OnEvents = [&run](int turn) {
        if (turn == 6) run.RequestStop();
    };
    ASSERT_EQ(run.ExportMails(in), ExportOutcome::Stopped);
    EXPECT_EQ(Pages("2005").size(), 5u);
    EXPECT_FALSE(host.FromSet);
    EXPECT_EQ(host.Statuses.back().Text, "#5 | 2005-01-05 | M5");
    EXPECT_EQ(host.Progress.back(), 6);
    EXPECT_EQ(run.Stats().Exported, 5);
    // A new run clears the flag.
    host.OnEvents = nullptr;
    EXPECT_EQ(run.ExportMails(in), ExportOutcome::Completed);
}

TEST_F(ExportRunTest, AnErrorEndsTheRunAndKeepsEarlierPages) {
    Mail(u"One", At(2005, 1, 1));
    Mail(u"Two", At(2005, 1, 2));
    Mail(u"Three", At(2005, 1, 3))->FailOnProperty(Body, "The body is gone");
    Mail(u"Four", At(2005, 1, 4));
    try {
        Run();
        FAIL() << "no error";
    } catch (const EStoreError& e) {
        EXPECT_STREQ(e.what(), "The body is gone");
    }
    EXPECT_EQ(Pages("2005").size(), 2u);
    EXPECT_FALSE(host.FromSet);
    // No temporary file is left beside the pages.
    EXPECT_EQ(Listing(Path("out/2005")).size(), 2u);
}

// No attachment's temporary file may be left behind, whether the run completes or an error
// ends it.
TEST_F(ExportRunTest, AttachmentTemporariesAreGoneWhateverWayTheRunEnds) {
    UseTemplate({"<#Attachments>", "<#Images>"});
    auto sorted = [this](const std::string& rel) {
        auto names = Listing(Path(rel));
        std::sort(names.begin(), names.end());
        return names;
    };
    for (const auto* subject : {u"A", u"B"}) {
        auto m = Mail(subject, At(2005, 1, subject[0] == u'A' ? 1 : 2));
        m->AddAttachment(u"report.pdf", "same");
        m->AddAttachment(u"photo.png", "p");
    }
    Mail(u"C", At(2005, 1, 3))->AddAttachment(u"report.pdf", "diff");
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    EXPECT_EQ(sorted("out/atts"), (std::vector<std::string>{"report.pdf", "report_1.pdf"}));
    EXPECT_EQ(sorted("out/2005/attsimgs"), (std::vector<std::string>{"photo.png"}));
    EXPECT_NE(Page("2005/m200501020000_B.htm").find("../atts/report.pdf\""), std::string::npos);

    Mail(u"D", At(2005, 1, 4))->AddAttachment(u"report.pdf", "same");
    Mail(u"E", At(2005, 1, 5))->FailOnProperty(Body, "The body is gone");
    EXPECT_THROW(Run(), EStoreError);
    EXPECT_EQ(sorted("out/atts"), (std::vector<std::string>{"report.pdf", "report_1.pdf"}));
}

TEST_F(ExportRunTest, AnUnwritablePageCostsItsMailOnly) {
    Mail(u"One", At(2004, 1, 1));
    Mail(u"Two", At(2005, 1, 2));
    Mail(u"Three", At(2006, 1, 3));
    WriteFile(Path("out/2005"), "a file where the year folder should be");
    EXPECT_EQ(Run(), ExportOutcome::Failed);
    EXPECT_EQ(Pages("2004").size(), 1u);
    EXPECT_EQ(Pages("2006").size(), 1u);
    EXPECT_EQ(host.FromText, "2005-01-02"); // held at the mail that was not written
}

TEST_F(ExportRunTest, MissingFolderOrTemplateIsAnError) {
    Mail(u"One", At(2005, 1, 1));
    in.TemplateFile = Path("missing.htm");
    EXPECT_THROW(Run(), EFOpenError);
    in.TemplateFile = Path("t.htm");
    in.FolderEntryID = u"gone";
    EXPECT_THROW(Run(), EStoreError);
}

TEST_F(ExportRunTest, ASecondRunWhileOneIsInProgressIsRefused) {
    Mail(u"One", At(2005, 1, 1));
    Mail(u"Two", At(2005, 1, 2));
    ExportRun run(app->Ns, host, TestIdentity());
    std::vector<ExportOutcome> inner;
    host.OnEvents = [&](int) {
        EXPECT_TRUE(run.IsRunning());
        inner.push_back(run.ExportMails(in));
    };
    ASSERT_EQ(run.ExportMails(in), ExportOutcome::Completed);
    EXPECT_EQ(inner, (std::vector<ExportOutcome>{ExportOutcome::Busy, ExportOutcome::Busy}));
    EXPECT_FALSE(run.IsRunning());
    EXPECT_EQ(Pages("2005").size(), 2u);
}

TEST_F(ExportRunTest, MailTextIsEscapedInThePage) {
    Mail(u"<script>alert(1)</script> & co", At(2005, 1, 1), u"Write to <anna@example.org>\r\nline 2");
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    const auto pages = Pages("2005");
    ASSERT_EQ(pages.size(), 1u);
    const std::string page = Page("2005/" + pages[0]);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_NE(page.find("<H2>&lt;script&gt;alert(1)&lt;/script&gt; &amp; co</H2>"), std::string::npos);
    EXPECT_NE(page.find("<PRE>Write to &lt;anna@example.org&gt;\r\nline 2</PRE>"), std::string::npos);
}

TEST_F(ExportRunTest, SubjectLinesFilterTheRun) {
    Mail(u"Invoice 17", At(2005, 1, 1));
    Mail(u"Hello", At(2005, 1, 2));
    in.SubjectLines = {"^Inv"};
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    EXPECT_EQ(Pages("2005"), (std::vector<std::string>{"m200501010000_Invoice_17.htm"}));

    in.SubjectLines = {"(unclosed"};
    host = RecordingHost{};
    std::filesystem::remove_all(Path("out/2005"));
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    EXPECT_TRUE(Pages("2005").empty());
    EXPECT_EQ(host.Statuses[0].Text, "Regular expression error...");
    EXPECT_EQ(host.Statuses[0].Mode, 1);
    EXPECT_EQ(host.Statuses[1].Mode, 1);
}

TEST_F(ExportRunTest, DefaultTemplateFromMemoryGivesCompletePages) {
    auto m = Mail(u"Offer", At(2005, 3, 7, 14, 5, 9));
    m->SetText(outlook::dispid::SenderName, u"Anna").SetText(outlook::dispid::To, u"Bo").SetInt(outlook::dispid::Size, 1536);
    m->AddAttachment(u"report.pdf", "%PDF-1.4 body");
    m->AddAttachment(u"photo.png", "\x89PNG....");
    in.TemplateFile.clear();
    in.TemplateLines = DefaultTemplateLines();
    ExportRun run(app->Ns, host, TestIdentity());
    ASSERT_EQ(run.ExportMails(in), ExportOutcome::Completed);
    const std::string page = Page("2005/m200503071405_Offer.htm");
    EXPECT_EQ(page.find("tag not found"), std::string::npos);
    EXPECT_NE(page.find("<META name=\"generator\" content=\"quillmark v1.2.4.9 ("), std::string::npos);
    EXPECT_NE(page.find("<TR valign=top><TH>Fr\xE5n:<TD>Anna\r\n"), std::string::npos);
    EXPECT_NE(page.find("(1.5 KB)"), std::string::npos);
    EXPECT_NE(page.find("<A href=\"../atts/report.pdf\""), std::string::npos);
    EXPECT_NE(page.find("<BR><IMG src=\"./attsimgs/photo.png\" title=\"photo.png\" vspace=2>"), std::string::npos);
    EXPECT_NE(page.find("Datetimes=200503 20050307 Mar March Mon Monday"), std::string::npos);
    // The footer stands right before </BODY>.
    EXPECT_NE(page.find("Quillmark v0.3</A></SMALL>\r\r\n</BODY>\r\n</HTML>\r\n"), std::string::npos);
    EXPECT_EQ(run.Stats().AttachmentsSaved, 1);
    EXPECT_EQ(run.Stats().PicturesSaved, 1);
    EXPECT_TRUE(Exists(Path("out/atts/report.pdf")));
    EXPECT_TRUE(Exists(Path("out/2005/attsimgs/photo.png")));
}

} // namespace
} // namespace quillmark::testing
