// quillmark-export: its options, its resume file, and the program itself run over a small
// mbox fixture; and the run over the same fixture through the mailbox backend.
#include "ExportTestSupport.h"

#include "SrcLib/DateTime.h"
#include "app/cli/CliOptions.h"
#include "app/cli/ResumeState.h"
#include "export/ExportRun.h"
#include "outlook/StoreFactory.h"
#include "template/DefaultTemplate.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace quillmark::testing {
namespace {

using cli::CliOptions;
using cli::EUsage;
using cli::ParseCliOptions;

const std::string Fixture = std::string(QUILLMARK_TEST_DATA) + "/export/fixture.mbox";

TEST(CliOptions, Values) {
    const CliOptions o = ParseCliOptions({"--store", "a.mbox", "--store=b", "--folder", "Mail/Inbox", "--template",
                                          "t.htm", "--out=o", "--atts", "files", "--from", "2005-01-01", "--to",
                                          "2005-12-31 12:00", "--min-body", "0x10", "--subject", "^Re:", "--subject",
                                          "x", "--resume", "-q"});
    EXPECT_EQ(o.Stores, (std::vector<std::string>{"a.mbox", "b"}));
    EXPECT_EQ(o.Folder, "Mail/Inbox");
    EXPECT_EQ(o.Template, "t.htm");
    EXPECT_EQ(o.Out, "o");
    EXPECT_EQ(o.Atts, "files");
    EXPECT_EQ(o.From.value_or("-"), "2005-01-01");
    EXPECT_EQ(o.To, "2005-12-31 12:00");
    EXPECT_EQ(o.MinBody, "0x10");
    EXPECT_EQ(o.Subjects, (std::vector<std::string>{"^Re:", "x"}));
    EXPECT_TRUE(o.Resume);
    EXPECT_TRUE(o.Quiet);

    const CliOptions d = ParseCliOptions({"--folder", "Inbox"});
    EXPECT_EQ(d.Out, "export");
    EXPECT_EQ(d.Atts, "atts");
    EXPECT_FALSE(d.From.has_value());
    EXPECT_TRUE(ParseCliOptions({"--list"}).List);
    EXPECT_TRUE(ParseCliOptions({"--help"}).Help);
    EXPECT_EQ(ParseCliOptions({"--write-default-template", "t.htm"}).WriteDefaultTemplate, "t.htm");
}

TEST(CliOptions, UsageErrors) {
    const std::vector<std::vector<std::string>> bad = {
        {},                                         // no folder
        {"--folder", "/"},                          // no folder name in it
        {"--folder"},                               // missing value
        {"--folder", "I", "--bogus"},               // unknown option
        {"--folder", "I", "--quiet=yes"},           // a flag with a value
        {"--folder", "I", "--from", "1.3.2005"},    // unreadable date
        {"--folder", "I", "--to", "tomorrow"},      //
        {"--folder", "I", "--min-body", "12abc"},   // unreadable number
        {"--folder", "I", "--out", ""},             // no root
        {"Inbox"},                                  // a stray argument
    };
    for (const auto& args : bad) EXPECT_THROW(ParseCliOptions(args), EUsage) << ::testing::PrintToString(args);
}

TEST(CliOptions, HelpNamesEveryOption) {
    const std::string help = cli::HelpText("quillmark-export");
    for (const char* opt : {"--store", "--folder", "--list", "--template", "--out", "--atts", "--from", "--to",
                            "--min-body", "--subject", "--resume", "--write-default-template", "--quiet", "--help",
                            "130"})
        EXPECT_NE(help.find(opt), std::string::npos) << opt;
}

class ResumeStateTest : public ScratchDir {};

TEST_F(ResumeStateTest, OneBoundPerFolder) {
    const std::string file = Path(cli::ResumeStateFileName);
    EXPECT_FALSE(cli::LoadResumeFrom(file, "Inbox").has_value());
    cli::SaveResumeFrom(file, "Inbox", "2005-03-01 14:02:10");
    cli::SaveResumeFrom(file, "Mail/Sent", "2004-01-01");
    cli::SaveResumeFrom(file, "Inbox", "2005-04-01");
    EXPECT_EQ(cli::LoadResumeFrom(file, "Inbox").value_or(""), "2005-04-01");
    EXPECT_EQ(cli::LoadResumeFrom(file, "Mail/Sent").value_or(""), "2004-01-01");
    EXPECT_FALSE(cli::LoadResumeFrom(file, "Other").has_value());
    // A folder named like a comment keeps its bound (found by fuzzing: it was read as one).
    cli::SaveResumeFrom(file, "#archive", "2006-01-01");
    EXPECT_EQ(cli::LoadResumeFrom(file, "#archive").value_or(""), "2006-01-01");
    EXPECT_EQ(cli::LoadResumeFrom(file, "Inbox").value_or(""), "2005-04-01");
}

// ---- the program itself ----

class CliProgram : public ScratchDir {
protected:
    void SetUp() override {
        ScratchDir::SetUp();
        // Mail times in the fixture are UTC; page names are local time.
        if (platform::UtcToLocal(EncodeDate(2005, 3, 1)) != EncodeDate(2005, 3, 1))
            GTEST_SKIP() << "the page names below assume a UTC time zone";
    }
    // Runs the program with the arguments; returns its exit status, output in Out / Err.
    int Run(const std::string& args) {
        const std::string cmd = std::string("'") + QUILLMARK_EXPORT_EXE + "' " + args + " >'" + Path("stdout") +
                                "' 2>'" + Path("stderr") + "'; echo $? >'" + Path("rc") + "'";
        std::system(cmd.c_str());
        Out = ReadFile(Path("stdout"));
        Err = ReadFile(Path("stderr"));
        return std::atoi(ReadFile(Path("rc")).c_str());
    }
    std::string Export(const std::string& more = {}) {
        return "--store '" + Fixture + "' --folder fixture --out '" + Path("out") + "' " + more;
    }
    std::string Out, Err;
};

TEST_F(CliProgram, ExportsTheFixture) {
    ASSERT_EQ(Run(Export()), 0) << Err;
    EXPECT_EQ(Listing(Path("out/2005")),
              (std::vector<std::string>{"attsimgs", "m200503011402_Re-_Offer.htm", "m200503011402_Re-_Offer_1.htm",
                                        "m200503020900_.htm", "m200503070800_Q_A_-draft-_final_.htm",
                                        "m200512312359_Happy_new_year.htm"}));
    EXPECT_EQ(Listing(Path("out/2006")), (std::vector<std::string>{"m200601021000_Report_2006.htm"}));
    EXPECT_EQ(Listing(Path("out/atts")),
              (std::vector<std::string>{"Q_A_-1-.txt", "README", "data.xls", "data_1.xls"}));
    EXPECT_EQ(Listing(Path("out/2005/attsimgs")), (std::vector<std::string>{"photo.png", "scan.jp"}));
    EXPECT_NE(Out.find("Exported:           6"), std::string::npos) << Out;
    EXPECT_NE(Out.find("Attachments saved:  4 (already saved: 1)"), std::string::npos) << Out;

    const std::string q = ReadFile(Path("out/2005/m200503070800_Q_A_-draft-_final_.htm"));
    EXPECT_NE(q.find("<TITLE>Q&amp;A &lt;draft&gt; &quot;final&quot;</TITLE>"), std::string::npos);
    EXPECT_NE(q.find(">Q&amp;A &lt;1&gt;.txt</A>"), std::string::npos);
    EXPECT_EQ(q.find("tag not found"), std::string::npos);
    const std::string r = ReadFile(Path("out/2006/m200601021000_Report_2006.htm"));
    EXPECT_NE(r.find("href=\"../atts/data.xls\""), std::string::npos); // same content, reused

    // The same export again changes nothing in the tree.
    ASSERT_EQ(Run(Export()), 0) << Err;
    EXPECT_EQ(Listing(Path("out/2005")).size(), 6u);
    EXPECT_EQ(Listing(Path("out/atts")).size(), 4u);
}

TEST_F(CliProgram, PathsOfEveryScriptAreKeptWhole) {
    // Once "??" each: the two roots merged into one folder, and the store "did not exist".
    std::filesystem::create_directories(std::filesystem::u8path(Path("\u90AE\u4EF6")));
    std::filesystem::copy_file(Fixture, std::filesystem::u8path(Path("\u90AE\u4EF6/\u0410\u0440\u0445\u0438\u0432.mbox")));
    for (const char* root : {"\u65E5\u672C", "\u4E2D\u56FD"})
        ASSERT_EQ(Run("--store '" + Path("\u90AE\u4EF6/\u0410\u0440\u0445\u0438\u0432.mbox") +
                      "' --folder \u0410\u0440\u0445\u0438\u0432 --out '" + Path(root) + "' -q"),
                  0)
            << Err;
    EXPECT_EQ(Listing(Path("\u65E5\u672C/2006")), (std::vector<std::string>{"m200601021000_Report_2006.htm"}));
    EXPECT_EQ(Listing(Path("\u4E2D\u56FD/2006")), (std::vector<std::string>{"m200601021000_Report_2006.htm"}));
    EXPECT_FALSE(std::filesystem::exists(Path("??")));
}

TEST_F(CliProgram, FiltersAndResume) {
    ASSERT_EQ(Run(Export("--subject '^Re:' --subject 'year$' -q")), 0) << Err;
    EXPECT_EQ(Out, "");
    EXPECT_EQ(Listing(Path("out/2005")).size(), 4u); // two offers, the new year, attsimgs
    EXPECT_FALSE(Exists(Path("out/2006")));

    std::filesystem::remove_all(Path("out"));
    ASSERT_EQ(Run(Export("--resume --to '2005-12-31 23:59:59'")), 0) << Err;
    EXPECT_FALSE(Exists(Path("out/2006")));
    // The bound moves to the latest mail examined, the filtered 2006 one included.
    EXPECT_NE(Out.find("Next --resume from: 2006-01-02 10:00:00"), std::string::npos) << Out;
    // The archive knows the folder now: --resume exports what it does not hold, whatever
    // its date, and passes over the rest without writing a page.
    ASSERT_EQ(Run(Export("--resume")), 0) << Err;
    EXPECT_NE(Out.find("Exported:           1"), std::string::npos) << Out;
    EXPECT_NE(Out.find("Already archived:   5"), std::string::npos) << Out;
    EXPECT_TRUE(Exists(Path("out/2006/m200601021000_Report_2006.htm")));
    ASSERT_EQ(Run(Export("--resume")), 0) << Err;
    EXPECT_NE(Out.find("Exported:           0"), std::string::npos) << Out;
    EXPECT_EQ(Listing(Path("out/2006")), (std::vector<std::string>{"m200601021000_Report_2006.htm"}));
    // Without --resume a --from bound exports again what it covers, onto the same pages.
    ASSERT_EQ(Run(Export("--from 2005-03-07")), 0) << Err;
    EXPECT_NE(Out.find("Exported:           3"), std::string::npos) << Out;
    EXPECT_EQ(Listing(Path("out/2006")), (std::vector<std::string>{"m200601021000_Report_2006.htm"}));
}

// A folder out of date order, then mails added with dates before and after the bound the
// last run handed back: a resume exports exactly the new ones, and one more over the
// unchanged folder writes nothing at all.
TEST_F(CliProgram, ResumeLosesNoMailWhateverTheOrder) {
    const auto mail = [](int day, const std::string& subject) {
        char d[8];
        std::snprintf(d, sizeof d, "%2d", day);
        return "From a@example.org Mon Mar " + std::string(d) + " 10:00:00 2005\nFrom: a@example.org\nSubject: " +
               subject + "\nDate: " + std::to_string(day) + " Mar 2005 10:00:00 +0000\nMessage-ID: <" + subject +
               "@x>\n\nText of " + subject + ".\n\n";
    };
    const std::string store = Path("box.mbox");
    WriteFile(store, mail(5, "five") + mail(1, "one") + mail(9, "nine") + mail(3, "three"));
    const std::string args = "--store '" + store + "' --folder box --out '" + Path("out") + "' --resume";
    ASSERT_EQ(Run(args), 0) << Err;
    EXPECT_NE(Out.find("Exported:           4"), std::string::npos) << Out;
    EXPECT_NE(Out.find("Next --resume from: 2005-03-09 10:00:00"), std::string::npos) << Out;

    // One before the bound, one after it, appended as a mail program appends.
    WriteFile(store, ReadFile(store) + mail(2, "two") + mail(12, "twelve"));
    ASSERT_EQ(Run(args), 0) << Err;
    EXPECT_NE(Out.find("Exported:           2"), std::string::npos) << Out;
    EXPECT_NE(Out.find("Already archived:   4"), std::string::npos) << Out;
    EXPECT_NE(Out.find("Next --resume from: 2005-03-12 10:00:00"), std::string::npos) << Out;
    const std::vector<std::string> pages = Listing(Path("out/2005"));
    EXPECT_EQ(pages, (std::vector<std::string>{"m200503011000_one.htm", "m200503021000_two.htm",
                                               "m200503031000_three.htm", "m200503051000_five.htm",
                                               "m200503091000_nine.htm", "m200503121000_twelve.htm"}));

    // Nothing new: no page is written (a page rewritten would lose the line added here),
    // and the bound stays at the latest mail.
    for (const auto& page : pages) WriteFile(Path("out/2005/" + page), ReadFile(Path("out/2005/" + page)) + "kept");
    ASSERT_EQ(Run(args), 0) << Err;
    EXPECT_NE(Out.find("Exported:           0"), std::string::npos) << Out;
    EXPECT_NE(Out.find("Already archived:   6"), std::string::npos) << Out;
    EXPECT_NE(Out.find("Next --resume from: 2005-03-12 10:00:00"), std::string::npos) << Out;
    for (const auto& page : pages) {
        const std::string text = ReadFile(Path("out/2005/" + page));
        EXPECT_EQ(text.substr(text.size() - 4), "kept") << page;
    }
}

TEST_F(CliProgram, ExitCodesAndMessages) {
    EXPECT_EQ(Run("--help"), 0);
    EXPECT_NE(Out.find("--write-default-template"), std::string::npos);
    EXPECT_EQ(Run("--frobnicate"), 2);
    EXPECT_NE(Err.find("unknown option --frobnicate"), std::string::npos);
    EXPECT_EQ(Run(Export("--from 1.1.2005")), 2);
    EXPECT_EQ(Run("--store '" + Fixture + "' --folder nowhere"), 2);
    EXPECT_EQ(Run(Export("--template '" + Path("missing.htm") + "'")), 1);
    EXPECT_NE(Err.find("Cannot open file"), std::string::npos) << Err;
    EXPECT_EQ(Run("--store '" + Path("no-such-store") + "' --list"), 1);

    ASSERT_EQ(Run("--store '" + Fixture + "' --list"), 0);
    EXPECT_EQ(Out, "fixture  (6)\n");
}

TEST_F(CliProgram, WritesTheDefaultTemplateByteForByte) {
    ASSERT_EQ(Run("--write-default-template '" + Path("t.htm") + "'"), 0) << Err;
    const std::string t = ReadFile(Path("t.htm"));
    EXPECT_EQ(t.size(), 1140u);
    EXPECT_EQ(t, DefaultTemplateText());
    // Never over a file that is there.
    WriteFile(Path("mine.htm"), "my own");
    EXPECT_EQ(Run("--write-default-template '" + Path("mine.htm") + "'"), 1);
    EXPECT_EQ(ReadFile(Path("mine.htm")), "my own");
    // And the written template exports like the built-in one.
    ASSERT_EQ(Run(Export("--template '" + Path("t.htm") + "' -q")), 0) << Err;
    EXPECT_EQ(ReadFile(Path("out/2005/m200503020900_.htm")).find("tag not found"), std::string::npos);
}

// ---- the run over the mailbox backend, without the program ----

class MailboxRun : public ScratchDir {};

TEST_F(MailboxRun, FixtureThroughTheRun) {
#ifndef QUILLMARK_HAVE_MAILBOX
    GTEST_SKIP() << "this build reads no mailboxes (GMime was not found)";
#endif
    auto app = outlook::ConnectApplication({Fixture});
    auto ns = app->GetNamespace("MAPI");
    ns->Logon();
    auto top = ns->Folders()->Item(1);
    ExportInputs in;
    in.FolderEntryID = top->EntryID();
    in.FolderStoreID = top->StoreID();
    in.TemplateLines = DefaultTemplateLines();
    in.ExportRoot = Path("out");
    std::filesystem::create_directories(Path("out/atts"));
    in.SizeText = "25"; // only the two offers have bodies this long
    RecordingHost host;
    ExportRun run(ns, host, TestIdentity());
    ASSERT_EQ(run.ExportMails(in), ExportOutcome::Completed);
    EXPECT_EQ(run.Stats().Exported, 2);
    EXPECT_EQ(run.Stats().Filtered, 4);
    EXPECT_EQ(host.Statuses.back().Text, "ok");
    EXPECT_EQ(host.FromText.substr(0, 10), "2006-01-02");
    EXPECT_EQ(Listing(Path("out/atts")), (std::vector<std::string>{"data.xls", "data_1.xls"}));
    ns->Logoff();
}

} // namespace
} // namespace quillmark::testing
