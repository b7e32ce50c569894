// The run under faults: a full disk, a file system that refuses names, a root another run
// holds, leftovers of a killed run, and (through the program) kill -9 at random points
// followed by a resumed run, and a real full file system.
#include "ExportTestSupport.h"

#include "SrcLib/DateTime.h"
#include "export/ExportRun.h"
#include "export/RootGuard.h"
#include "platform/DirectoryLock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <regex>

namespace quillmark::testing {
namespace {

using outlook::dispid::Body;
using outlook::dispid::EntryID;
using outlook::dispid::ReceivedTime;
using outlook::dispid::Subject;

double At(int y, int mo, int d, int h = 0, int mi = 0) { return *TryEncodeDateTime(y, mo, d, h, mi, 0); }

// Every file below dir, by its path relative to dir; the archive's database is left out
// (its bytes are SQLite's business; its rows are compared where they matter).
std::vector<std::string> TreeOf(const std::filesystem::path& dir) {
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        const std::string rel = std::filesystem::relative(it->path(), dir).generic_string();
        if (rel.rfind(".quillmark/", 0) == 0) continue;
        if (it->is_regular_file()) files.push_back(rel);
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Files a run leaves only when it is killed or fails to clean up.
std::vector<std::string> Leftovers(const std::filesystem::path& dir) {
    std::vector<std::string> found;
    for (const auto& f : TreeOf(dir))
        if (IsLeftoverTemporaryName(std::filesystem::path(f).filename().string()) || f.find(".tmp-") != std::string::npos)
            found.push_back(f);
    return found;
}

// Every attachment link and picture of every page below root that names a missing file.
std::vector<std::string> DanglingLinks(const std::filesystem::path& root) {
    std::vector<std::string> dangling;
    static const std::regex link(R"re((?:href="\.\./atts/|src="\./attsimgs/)([^"]+)")re");
    for (const auto& f : TreeOf(root)) {
        if (f.size() < 4 || f.substr(f.size() - 4) != ".htm") continue;
        const std::string page = ReadFile((root / f).string());
        const std::string year = f.substr(0, f.find('/'));
        for (std::sregex_iterator m(page.begin(), page.end(), link), end; m != end; ++m) {
            const bool picture = (*m)[0].str().rfind("src=", 0) == 0;
            const auto target = picture ? root / year / "attsimgs" / (*m)[1].str() : root / "atts" / (*m)[1].str();
            if (!std::filesystem::exists(target)) dangling.push_back(f + " -> " + (*m)[1].str());
        }
    }
    return dangling;
}

// A host that also keeps what the run reports as failures and notices.
class FaultHost : public RecordingHost {
public:
    void ReportFailure(const std::string& text) override { Failures.push_back(text); }
    void ShowNotice(const std::string& text) override { Notices.push_back(text); }
    std::vector<std::string> Failures, Notices;
};

class FaultRunTest : public ScratchDir {
protected:
    void SetUp() override {
        ScratchDir::SetUp();
        app = std::make_shared<FakeApplication>();
        inbox = app->Ns->AddStore(u"Personal Folders", u"store-1")->AddFolder(u"Inbox");
        in.FolderEntryID = inbox->Entry;
        in.FolderStoreID = inbox->Store;
        in.ExportRoot = Path("out");
        in.TemplateLines = {"<HTML><BODY>", "<H2><#Subject></H2>", "<#Attachments>", "<#Images>", "</BODY></HTML>"};
        std::filesystem::create_directories(Root / "out" / "atts");
    }
    void TearDown() override {
        platform::SetWriteFaultHook({});
        ScratchDir::TearDown();
    }

    std::shared_ptr<FakeMailItem> Mail(const std::u16string& subject, double received) {
        auto m = inbox->AddMail();
        m->AttachmentsInMemory = true; // the mailbox and data-file stores' way
        m->SetText(Subject, subject).SetDate(ReceivedTime, received).SetText(Body, u"text");
        m->SetText(EntryID, u"EID-" + subject);
        return m;
    }
    // Fails every write whose path holds one of the texts with the fault.
    void Inject(std::map<std::string, platform::WriteFault> faults) {
        platform::SetWriteFaultHook([faults](const std::string& path) {
            for (const auto& [text, fault] : faults)
                if (path.find(text) != std::string::npos) return fault;
            return platform::WriteFault::None;
        });
    }
    ExportOutcome Run() {
        host = FaultHost{};
        ExportRun run(app->Ns, host, TestIdentity());
        try {
            const ExportOutcome outcome = run.ExportMails(in);
            stats = run.Stats();
            return outcome;
        } catch (...) {
            stats = run.Stats();
            throw;
        }
    }
    std::vector<std::string> Pages() {
        std::vector<std::string> pages;
        for (const auto& f : TreeOf(Root / "out"))
            if (f.size() > 4 && f.substr(f.size() - 4) == ".htm") pages.push_back(f);
        return pages;
    }

    std::shared_ptr<FakeApplication> app;
    std::shared_ptr<FakeFolder> inbox;
    ExportInputs in;
    FaultHost host;
    ExportStats stats;
};

// The loss the old run made: an attachment the file system refused was left out, the page
// written without it, the run said "ok" and the next incremental run moved past the mail.
TEST_F(FaultRunTest, ARefusedAttachmentHoldsItsPageBackAndTheFromBound) {
    Mail(u"One", At(2005, 1, 1))->AddAttachment(u"a.pdf", "aaa");
    auto two = Mail(u"Two", At(2005, 1, 2));
    two->AddAttachment(u"good.pdf", "ggg");
    two->AddAttachment(u"CON.pdf", "refused by the file system");
    Mail(u"Three", At(2005, 1, 3))->AddAttachment(u"c.pdf", "ccc");
    Inject({{"CON", platform::WriteFault::NameRefused}});

    ASSERT_EQ(Run(), ExportOutcome::Failed);
    EXPECT_EQ(Pages(), (std::vector<std::string>{"2005/m200501010000_One.htm", "2005/m200501030000_Three.htm"}));
    ASSERT_EQ(host.Failures.size(), 1u);
    EXPECT_NE(host.Failures[0].find("#2 | 2005-01-02 | Two: attachment \"CON.pdf\" not saved"), std::string::npos)
        << host.Failures[0];
    EXPECT_EQ(stats.Failed, 1);
    EXPECT_EQ(stats.Exported, 2);
    EXPECT_EQ(host.FromText, "2005-01-02"); // not "2005-01-03": the next run takes Two again
    EXPECT_EQ(host.Statuses.back().Mode, 1);
    EXPECT_NE(host.Statuses.back().Text.find("1 mail was not exported"), std::string::npos);
    EXPECT_TRUE(Leftovers(Root / "out").empty());

    // Once the file system takes the name, the next run from that bound writes the page whole.
    platform::SetWriteFaultHook({});
    in.FromText = host.FromText;
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    const std::string page = ReadFile(Path("out/2005/m200501020000_Two.htm"));
    EXPECT_NE(page.find("good.pdf"), std::string::npos);
    EXPECT_NE(page.find("../atts/CON_.pdf\""), std::string::npos);
    EXPECT_EQ(host.FromText, "2005-01-03");
}

TEST_F(FaultRunTest, ARefusedPageCostsItsMailOnly) {
    Mail(u"One", At(2005, 1, 1));
    Mail(u"Two", At(2005, 1, 2));
    Mail(u"Three", At(2005, 1, 3));
    Inject({{"_Two.htm", platform::WriteFault::NameRefused}});
    ASSERT_EQ(Run(), ExportOutcome::Failed);
    EXPECT_EQ(Pages(), (std::vector<std::string>{"2005/m200501010000_One.htm", "2005/m200501030000_Three.htm"}));
    ASSERT_EQ(host.Failures.size(), 1u);
    EXPECT_EQ(host.Failures[0].rfind("#2 | 2005-01-02 | Two: Cannot create file ", 0), 0u) << host.Failures[0];
    EXPECT_EQ(stats.Exported, 2);
    EXPECT_EQ(host.FromText, "2005-01-02");
    EXPECT_TRUE(Leftovers(Root / "out").empty());
}

// A full disk stops the run wherever it strikes, and leaves no page that links to an
// attachment that is not there, and no half-written file.
TEST_F(FaultRunTest, AFullDiskStopsTheRunWithTheArchiveWhole) {
    struct Case {
        const char* name;
        const char* strikes; // the path text whose write meets the full disk
        std::vector<std::string> pages;
    };
    const std::vector<Case> cases = {
        {"during an attachment", "b2.pdf", {"2005/m200501010000_One.htm"}},
        {"during a picture", "p2.png", {"2005/m200501010000_One.htm"}},
        {"during a page", "_Two.htm", {"2005/m200501010000_One.htm"}},
        {"at the first write", "One", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(Root / "out");
        std::filesystem::create_directories(Root / "out" / "atts");
        inbox->ItemList.clear();
        auto one = Mail(u"One", At(2005, 1, 1));
        one->AddAttachment(u"a1.pdf", "a1");
        one->AddAttachment(u"p1.png", "p1");
        auto two = Mail(u"Two", At(2005, 1, 2));
        two->AddAttachment(u"a2.pdf", "a2");
        two->AddAttachment(u"b2.pdf", "b2");
        two->AddAttachment(u"p2.png", "p2");
        Mail(u"Three", At(2005, 1, 3))->AddAttachment(u"a3.pdf", "a3");
        Inject({{c.strikes, platform::WriteFault::DiskFull}});
        try {
            Run();
            ADD_FAILURE() << "the run went on over a full disk";
        } catch (const EFileError& e) {
            EXPECT_TRUE(e.DiskFull());
            // The mail is named, and what became of the run.
            EXPECT_NE(std::string(e.what()).find(" | 2005-01-0"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("The export stopped"), std::string::npos) << e.what();
        }
        EXPECT_EQ(Pages(), c.pages);
        EXPECT_EQ(DanglingLinks(Root / "out"), std::vector<std::string>{});
        EXPECT_EQ(Leftovers(Root / "out"), std::vector<std::string>{});
        EXPECT_FALSE(host.FromSet); // the From bound stays where it was
        EXPECT_EQ(host.Statuses.back().Text, "Stopped: the disk is full");
        // The lock is let go: the next run (with room again) goes through and writes everything.
        platform::SetWriteFaultHook({});
        ASSERT_EQ(Run(), ExportOutcome::Completed);
        EXPECT_EQ(Pages().size(), 3u);
        EXPECT_EQ(DanglingLinks(Root / "out"), std::vector<std::string>{});
    }
}

// The loss the old run made: two runs into one root at the same time each took names the
// other had just found free.
TEST_F(FaultRunTest, ARootAnotherRunHoldsIsRefused) {
    Mail(u"One", At(2005, 1, 1));
    platform::DirectoryLock other;
    ASSERT_EQ(other.TryLock(Path("out/" + std::string(RootLockFileName))), platform::DirectoryLock::State::Locked);
    try {
        Run();
        ADD_FAILURE() << "a second run went into a held root";
    } catch (const ERootInUse& e) {
        EXPECT_EQ(e.HolderPid(), platform::CurrentProcessId());
        EXPECT_NE(e.Message().find("in use by another export run (process " +
                                   std::to_string(platform::CurrentProcessId())),
                  std::string::npos)
            << e.Message();
    }
    EXPECT_TRUE(Pages().empty());
    other.Unlock();
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    EXPECT_TRUE(host.Notices.empty()); // a lock let go properly is no stale lock
    EXPECT_EQ(Pages().size(), 1u);
}

// The loss the old run made: a kill -9 left "*.tmp-PID-N" files that no later run removed.
TEST_F(FaultRunTest, AKilledRunsLockIsTakenOverAndItsLeftoversRemoved) {
    const std::string dead = "999999999"; // above any system's process id limit
    // A process that runs and is not this one: the system's first process where there is one.
    const long livePid = platform::CurrentProcessId() == 1 ? 2 : 1;
    const std::string live = std::to_string(livePid);
    WriteFile(Path("out/.quillmark-lock"), dead + " otherhost\n");
    const std::vector<std::string> leftovers = {
        "2005/m200501010000_One.htm.tmp-" + dead + "-3", "atts/a.pdf.tmp-" + dead + "-0", "atts/_tempatt.pdf",
        "2005/attsimgs/_tempimg.png", ".quillmark-state.tmp-" + dead + "-1", "2004/x.htm.tmp-" + dead + "-77-2",
        "atts/_tempatt"};
    std::vector<std::string> kept = {
        "atts/_tempatt.tar.gz", // a saved attachment ("_tempatt.tar" + ".gz")
        "atts/notes.tmp-1.txt", "atts/x.tmp-12-ab", "2005/m200501010000_One.tmp", "notes/y.htm.tmp-" + dead + "-1"};
    // Its process still runs: perhaps a write under way.
    if (platform::ProcessIsRunning(livePid)) kept.push_back("atts/b.pdf.tmp-" + live + "-0");
    for (const auto& f : leftovers) WriteFile(Path("out/" + f), "half");
    for (const auto& f : kept) WriteFile(Path("out/" + f), "mine");
    Mail(u"One", At(2005, 1, 1));

    ASSERT_EQ(Run(), ExportOutcome::Completed);
    ASSERT_EQ(host.Notices.size(), 1u);
    EXPECT_NE(host.Notices[0].find("process " + dead + " on otherhost"), std::string::npos) << host.Notices[0];
    for (const auto& f : leftovers) EXPECT_FALSE(Exists(Path("out/" + f))) << f;
    for (const auto& f : kept) EXPECT_TRUE(Exists(Path("out/" + f))) << f;
    EXPECT_EQ(stats.TemporariesRemoved, static_cast<int>(leftovers.size()));
    // Let go properly: the next run takes the lock without a notice.
    EXPECT_EQ(ReadFile(Path("out/.quillmark-lock")), "");
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    EXPECT_TRUE(host.Notices.empty());
}

// ---- through the program ----

// These drive the program through a POSIX shell (background runs, kill -9, SIGSTOP, a
// mount namespace); the Windows leg runs the in-process tests above.
#if defined(QUILLMARK_EXPORT_EXE) && !defined(_WIN32)

// An mbox of n mails of our own: every third shares its minute and subject with the one
// before (numbered pages), attachments of few names and many contents (numbered files),
// pictures, and an active type.
std::string MakeMbox(int n) {
    std::string box;
    for (int i = 0; i < n; ++i) {
        // Every third mail shares the minute and the subject of the one before it.
        const int base = i % 3 == 2 ? i - 1 : i;
        const int minute = base * 7;
        char date[64], envelope[64];
        std::snprintf(date, sizeof date, "%02d Mar 2005 %02d:%02d:00 +0000", 1 + minute / 1440, (minute / 60) % 24,
                      minute % 60);
        std::snprintf(envelope, sizeof envelope, "Tue Mar %2d %02d:%02d:00 2005", 1 + minute / 1440,
                      (minute / 60) % 24, minute % 60);
        const std::string subject = "Mail " + std::to_string(base);
        box += std::string("From x@example.org ") + envelope + "\n";
        box += "From: Sender <s" + std::to_string(i) + "@example.org>\nTo: a@example.org\nSubject: " + subject +
               "\nDate: " + date + "\nMessage-ID: <k" + std::to_string(i) +
               "@example.org>\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n";
        box += "--b\nContent-Type: text/plain\n\nBody of mail " + std::to_string(i) + ".\n";
        const char* names[] = {"report.pdf", "notes.txt", "page.html", "photo.png"};
        for (int a = 0; a < 1 + i % 3; ++a) {
            const std::string name = names[(i + a) % 4];
            // Content repeats now and then, so that some attachments are found already saved.
            std::string content = "content " + std::to_string((i * 7 + a) % 23) + " " + std::string(2000, 'x');
            box += "--b\nContent-Type: application/octet-stream\nContent-Disposition: attachment; filename=\"" +
                   name + "\"\n\n" + content + "\n";
        }
        box += "--b--\n\n";
    }
    return box;
}

class ProgramFaultTest : public ScratchDir {
protected:
    int Run(const std::string& args) {
        const std::string cmd = std::string("'") + QUILLMARK_EXPORT_EXE + "' " + args + " >'" + Path("stdout") +
                                "' 2>'" + Path("stderr") + "'; echo $? >'" + Path("rc") + "'";
        std::system(cmd.c_str());
        Out = ReadFile(Path("stdout"));
        Err = ReadFile(Path("stderr"));
        return std::atoi(ReadFile(Path("rc")).c_str());
    }
    std::string Export(const std::string& out, const std::string& more = {}) {
        return "--store '" + Path("box.mbox") + "' --folder box --template '" + Path("t.htm") + "' --out '" + out +
               "' " + more;
    }
    void MakeStore(int mails) {
        WriteFile(Path("box.mbox"), MakeMbox(mails));
        WriteFile(Path("t.htm"), "<HTML><BODY>\r\n<H2><#Subject></H2>\r\n<#Body>\r\n<#Attachments>\r\n<#Images>\r\n"
                                 "</BODY></HTML>\r\n");
    }
    std::string Out, Err;
};

// A page's text with the saved attachments' times taken out (the link titles show when the
// file was written, which differs from run to run).
std::string WithoutFileTimes(const std::string& page) {
    static const std::regex title(R"(title="[0-9-]+( [0-9:]+)? \()");
    return std::regex_replace(page, title, "title=\"(");
}

TEST_F(ProgramFaultTest, KilledAtRandomPointsAndResumedGivesTheCleanArchive) {
    MakeStore(150);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Run(Export(Path("clean"), "-q")), 0) << Err;
    const double cleanSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    auto files = TreeOf(Root / "clean");
    const auto ours = [](const std::string& f) { return f != ".quillmark-lock" && f != ".quillmark-state"; };
    files.erase(std::remove_if(files.begin(), files.end(), [&](const std::string& f) { return !ours(f); }),
                files.end());
    ASSERT_GT(files.size(), 150u);

    std::random_device rd;
    const unsigned seed = rd();
    std::mt19937 random(seed);
    // A kill point is a random stage of the run: the program is killed as soon as the archive
    // holds a randomly chosen number of files (the lock file counted), so that the points
    // spread over the run however long its start-up takes on the machine.
    std::uniform_int_distribution<std::size_t> stage(1, files.size());
    int midRun = 0;
    constexpr int KillPoints = 20;
    for (int k = 0; k < KillPoints; ++k) {
        const std::string out = Path("k" + std::to_string(k));
        const std::size_t killAt = stage(random);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", kill point " + std::to_string(k) + " at " +
                     std::to_string(killAt) + " files");
        const std::string killed = "sh -c \"'" + std::string(QUILLMARK_EXPORT_EXE) + "' " + Export(out, "-q") +
                                   " >/dev/null 2>&1 & p=\\$!; until [ \\$(find '" + out +
                                   "' -type f 2>/dev/null | wc -l) -ge " + std::to_string(killAt) +
                                   " ] || ! kill -0 \\$p 2>/dev/null; do :; done; kill -9 \\$p 2>/dev/null; wait\"";
        std::system(killed.c_str());
        const auto before = TreeOf(out);
        const bool partial = std::any_of(before.begin(), before.end(), [](const std::string& f) {
            return f.size() > 4 && f.substr(f.size() - 4) == ".htm";
        }) && before.size() < files.size();
        midRun += partial;

        ASSERT_EQ(Run(Export(out, "--resume -q")), 0) << Err;
        auto after = TreeOf(out);
        after.erase(std::remove_if(after.begin(), after.end(), [&](const std::string& f) { return !ours(f); }),
                    after.end());
        ASSERT_EQ(after, files);
        for (const auto& f : files) {
            const std::string a = ReadFile(Path("clean/" + f)), b = ReadFile(out + "/" + f);
            if (f.size() > 4 && f.substr(f.size() - 4) == ".htm")
                ASSERT_EQ(WithoutFileTimes(a), WithoutFileTimes(b)) << f;
            else
                ASSERT_EQ(a, b) << f;
        }
        EXPECT_EQ(Leftovers(out), std::vector<std::string>{});
        std::filesystem::remove_all(out);
    }
    // Kill points that fell after the last page prove little; most must land inside the run.
    std::printf("%d of %d kill points fell inside the run (clean run %.2f s)\n", midRun, KillPoints, cleanSeconds);
    EXPECT_GE(midRun, KillPoints / 2);
}

TEST_F(ProgramFaultTest, ASecondRunIntoAHeldRootIsRefused) {
    MakeStore(3);
    std::filesystem::create_directories(Path("out"));
    platform::DirectoryLock first;
    ASSERT_EQ(first.TryLock(Path("out/.quillmark-lock")), platform::DirectoryLock::State::Locked);
    EXPECT_EQ(Run(Export(Path("out"))), 4);
    EXPECT_NE(Err.find("is in use by another export run (process " + std::to_string(platform::CurrentProcessId())),
              std::string::npos)
        << Err;
    EXPECT_FALSE(Exists(Path("out/2005")));
    first.Unlock();
    EXPECT_EQ(Run(Export(Path("out"))), 0) << Err;
}

TEST_F(ProgramFaultTest, TwoRunsIntoOneRootTheSecondRefuses) {
    // The first run is held still (SIGSTOP) once it has taken the root, so that the second
    // surely meets it; then it goes on and finishes undisturbed.
    MakeStore(150);
    const std::string exe = std::string("'") + QUILLMARK_EXPORT_EXE + "' ";
    const std::string script = exe + Export(Path("out"), "-q") + " >/dev/null 2>'" + Path("errA") + "' & a=$!\n" +
                               "until [ -s '" + Path("out/.quillmark-lock") +
                               "' ] || ! kill -0 $a 2>/dev/null; do :; done\n"
                               "kill -STOP $a\n" +
                               exe + Export(Path("out"), "-q") + " >/dev/null 2>'" + Path("errB") + "'; echo $? >'" +
                               Path("rcB") + "'\n"
                               "kill -CONT $a\nwait $a; echo $? >'" + Path("rcA") + "'\necho $a >'" + Path("pidA") +
                               "'\n";
    WriteFile(Path("two.sh"), script);
    ASSERT_EQ(std::system(("sh '" + Path("two.sh") + "'").c_str()), 0);
    const std::string pidA = ReadFile(Path("pidA")).substr(0, ReadFile(Path("pidA")).find('\n'));
    EXPECT_EQ(std::atoi(ReadFile(Path("rcB")).c_str()), 4) << ReadFile(Path("errB"));
    EXPECT_NE(ReadFile(Path("errB")).find("in use by another export run (process " + pidA), std::string::npos)
        << ReadFile(Path("errB"));
    EXPECT_EQ(std::atoi(ReadFile(Path("rcA")).c_str()), 0) << ReadFile(Path("errA"));
    // The first run's archive is the whole one.
    ASSERT_EQ(Run(Export(Path("clean"), "-q")), 0) << Err;
    auto a = TreeOf(Root / "out"), b = TreeOf(Root / "clean");
    EXPECT_EQ(a, b);
    EXPECT_EQ(Leftovers(Root / "out"), std::vector<std::string>{});
}

TEST_F(ProgramFaultTest, MailThatCannotBeWrittenIsNamedAndResumedFrom) {
    // A file where the 2005 folder should be: the file system refuses every 2005 page, the
    // 2006 page is written.
    const std::string fixture = std::string(QUILLMARK_TEST_DATA) + "/export/fixture.mbox";
    const std::string args = "--store '" + fixture + "' --folder fixture --out '" + Path("out") + "' --resume";
    WriteFile(Path("out/2005"), "in the way");
    ASSERT_EQ(Run(args), 3) << Err;
    int named = 0;
    for (std::size_t at = Err.find("failed: #"); at != std::string::npos; at = Err.find("failed: #", at + 1)) ++named;
    EXPECT_EQ(named, 5) << Err;
    EXPECT_NE(Out.find("Exported:           1"), std::string::npos) << Out;
    EXPECT_NE(Out.find("Not written:        5"), std::string::npos) << Out;
    EXPECT_NE(Out.find("Result:             finished with failures"), std::string::npos) << Out;
    EXPECT_EQ(TreeOf(Root / "out" / "2006").size(), 1u);

    // Made good, the next --resume run writes the five mails the archive does not hold, and
    // only those.
    std::filesystem::remove(Path("out/2005"));
    ASSERT_EQ(Run(args), 0) << Err;
    EXPECT_NE(Out.find("Exported:           5"), std::string::npos) << Out;
    EXPECT_NE(Out.find("Already archived:   1"), std::string::npos) << Out;
    EXPECT_EQ(Err, "");
}

TEST_F(ProgramFaultTest, ARealFullDiskStopsTheRunCleanly) {
    // A small file system of its own, in a mount namespace of its own (needs root and
    // permission to mount; elsewhere the injected full disk above stands in).
    if (std::system("unshare -m true >/dev/null 2>&1") != 0) GTEST_SKIP() << "cannot make a mount namespace here";
    MakeStore(80);
    std::filesystem::create_directories(Path("small"));
    const std::string script = "mount -t tmpfs -o size=320k tmpfs '" + Path("small") + "' || exit 99; '" +
                               std::string(QUILLMARK_EXPORT_EXE) + "' " + Export(Path("small/out"), "-q") +
                               " 2>'" + Path("stderr") + "'; echo $? >'" + Path("rc") + "'; cp -a '" +
                               Path("small/out") + "' '" + Path("copy") + "'";
    WriteFile(Path("script.sh"), script);
    const int status = std::system(("unshare -m sh '" + Path("script.sh") + "'").c_str());
    if (status != 0) GTEST_SKIP() << "cannot mount a small file system here";
    EXPECT_EQ(std::atoi(ReadFile(Path("rc")).c_str()), 1);
    const std::string err = ReadFile(Path("stderr"));
    // The pages or the archive's database meet the full disk first, whichever it is.
    EXPECT_TRUE(err.find("No space left on device") != std::string::npos ||
                err.find("no space left on the disk") != std::string::npos)
        << err;
    EXPECT_NE(err.find("The export stopped"), std::string::npos) << err;
    const auto pages = TreeOf(Root / "copy");
    EXPECT_GT(pages.size(), 2u); // it did get going
    EXPECT_EQ(DanglingLinks(Root / "copy"), std::vector<std::string>{});
    EXPECT_EQ(Leftovers(Root / "copy"), std::vector<std::string>{});
}

#endif

} // namespace
} // namespace quillmark::testing
