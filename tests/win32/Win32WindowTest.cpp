// The real quillmark.exe window, driven from outside as a user (or an accessibility tool)
// would: started against the stand-in Outlook automation server, its controls found by id,
// text put into its fields with WM_SETTEXT, a folder picked in its tree, Export and Stop
// pressed with BM_CLICK. What the window's logic decides (which texts, which colours, when
// Export is enabled) is tested against the fake view in tests/app; here it is checked that
// the Win32 controls carry it, and that a run and a Stop work in the real event loop.
#include "RunningWindow.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

using namespace quillmark::test::win32window;
namespace fs = std::filesystem;

namespace {

class ServerRegistration : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(RegisterFakeServer(QUILLMARK_FAKE_OUTLOOK_DLL)); }
    void TearDown() override {
        UnregisterFakeServer();
        RegDeleteTreeW(HKEY_CURRENT_USER, SettingsKey);
    }
};
const auto* const gRegistration = ::testing::AddGlobalTestEnvironment(new ServerRegistration);

bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

class Win32WindowTest : public ::testing::Test {
protected:
    Win32WindowTest() {
        root_ = fs::temp_directory_path() / ("quillmark-window-" + std::to_string(GetCurrentProcessId()) + "-" +
                                             std::to_string(GetTickCount()));
    }
    ~Win32WindowTest() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    std::string Root() const { return Narrow(root_.wstring()); }
    int Pages() const {
        int n = 0;
        std::error_code ec;
        if (!fs::exists(root_, ec)) return 0;
        for (const auto& e : fs::recursive_directory_iterator(root_, ec))
            if (e.path().extension() == ".htm") ++n;
        return n;
    }
    fs::path root_;
};

} // namespace

TEST_F(Win32WindowTest, InvalidInputsAreExplainedExportStaysOffAndCreateMakesTheFolders) {
    RunningWindow w;
    ASSERT_TRUE(w.Up()) << "the window did not come up";
    EXPECT_EQ(w.Text(IdPStatus), "Select the folder to export in the tree.");
    w.Type(IdEmaildir, Root());
    w.Select(w.Child(w.TreeRoot(), 0));
    EXPECT_EQ(w.Text(IdBmailout), "5. Export [Inbox] ...");
    EXPECT_FALSE(w.Enabled(IdBmailout));
    EXPECT_EQ(w.Text(IdPStatus), "The export root " + Root() + " does not exist: the Create button makes it.");
    ASSERT_TRUE(w.Enabled(IdBcreate));
    w.Click(IdBcreate);
    ASSERT_TRUE(WaitFor([&] { return w.Enabled(IdBmailout); }, 10000)) << w.Text(IdPStatus);
    EXPECT_TRUE(fs::is_directory(root_ / "atts"));
    EXPECT_FALSE(w.Enabled(IdBcreate));
    EXPECT_TRUE(StartsWith(w.Text(IdPStatus), "Ready to export [Inbox]")) << w.Text(IdPStatus);
    // A template that is not there turns Export off again.
    w.Type(IdEmail, Root() + "\\missing.htm");
    EXPECT_FALSE(w.Enabled(IdBmailout));
    EXPECT_EQ(w.Text(IdPStatus), "The template file " + Root() + "\\missing.htm does not exist.");
}

TEST_F(Win32WindowTest, PickingAFolderInOutlooksTreeNamesItOnTheExportButton) {
    RunningWindow w;
    ASSERT_TRUE(w.Up());
    // The tree's texts cannot be read from another process (the item structure holds a
    // pointer); the folders are found by their places in the stand-in's tree, and the
    // window names the folder it holds on the Export button.
    HTREEITEM personal = w.TreeRoot();
    w.Select(w.Child(personal, 0));
    EXPECT_EQ(w.Text(IdBmailout), "5. Export [Inbox] ...");
    w.Select(w.Child(personal, 1)); // Republic is left out: Pub follows Inbox
    EXPECT_EQ(w.Text(IdBmailout), "5. Export [Pub] ...");
    w.Select(personal);
    EXPECT_EQ(w.Text(IdBmailout), "5. Export [Personal Folders] ...");
}

TEST_F(Win32WindowTest, AnExportThroughTheWindowWritesThePagesAndEnablesExportAgain) {
    fs::create_directories(root_ / "atts");
    RunningWindow w;
    ASSERT_TRUE(w.Up());
    w.Type(IdEmaildir, Root());
    w.Select(w.Child(w.TreeRoot(), 0)); // Personal Folders / Inbox: two mails and an appointment
    ASSERT_TRUE(w.Enabled(IdBmailout)) << w.Text(IdPStatus);
    w.Click(IdBmailout);
    ASSERT_TRUE(w.WaitForStatus([](const std::string& s) { return StartsWith(s, "Done:"); }, 60000))
        << w.Text(IdPStatus);
    EXPECT_TRUE(StartsWith(w.Text(IdPStatus), "Done: 2 mails exported, 0 filtered out, 2 attachments saved"))
        << w.Text(IdPStatus);
    EXPECT_EQ(Pages(), 2);
    EXPECT_TRUE(fs::exists(root_ / "atts" / "report.txt"));
    EXPECT_TRUE(w.Enabled(IdBmailout));
    EXPECT_FALSE(w.Enabled(IdBstop));
    EXPECT_FALSE(w.Text(IdEdat1).empty()); // From advanced
}

TEST_F(Win32WindowTest, IncludeSubfoldersTakesTheFoldersBelowTheOnePicked) {
    fs::create_directories(root_ / "atts");
    RunningWindow w;
    ASSERT_TRUE(w.Up());
    w.Type(IdEmaildir, Root());
    w.Select(w.TreeRoot()); // Personal Folders: no mail of its own, Inbox below it two
    EXPECT_EQ(SendMessageW(w.Control(IdCBsubfolders), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    w.Click(IdCBsubfolders);
    ASSERT_TRUE(WaitFor([&] { return SendMessageW(w.Control(IdCBsubfolders), BM_GETCHECK, 0, 0) == BST_CHECKED; },
                        5000));
    ASSERT_TRUE(w.Enabled(IdBmailout)) << w.Text(IdPStatus);
    w.Click(IdBmailout);
    ASSERT_TRUE(w.WaitForStatus([](const std::string& s) { return StartsWith(s, "Done:"); }, 60000))
        << w.Text(IdPStatus);
    int inbox = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(root_ / "Inbox" / "2005", ec)) inbox += e.path().extension() == ".htm";
    EXPECT_EQ(inbox, 2);
}

TEST_F(Win32WindowTest, StopAnswersWithinASecondInTheMiddleOfALongRun) {
    fs::create_directories(root_ / "atts");
    RunningWindow w(L"3000");
    ASSERT_TRUE(w.Up());
    w.Type(IdEmaildir, Root());
    // Personal Folders: Inbox, Pub, Shared, Long (Republic is left out of the tree).
    w.Select(w.Child(w.TreeRoot(), 3));
    ASSERT_EQ(w.Text(IdBmailout), "5. Export [Long] ...");
    w.Click(IdBmailout);
    ASSERT_TRUE(WaitFor([&] { return w.Progress() >= 20; }, 60000)) << w.Text(IdPStatus);
    ASSERT_TRUE(w.Enabled(IdBstop));
    const auto pressed = Clock::now();
    w.Click(IdBstop);
    ASSERT_TRUE(w.WaitForStatus([](const std::string& s) { return StartsWith(s, "Stopped:"); }, 10000))
        << w.Text(IdPStatus);
    const auto answered = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pressed).count();
    EXPECT_LT(answered, 1000) << "Stop took " << answered << " ms";
    const int pages = Pages();
    std::printf("Stop answered after %lld ms; %d of 3000 pages written\n", static_cast<long long>(answered), pages);
    EXPECT_GT(pages, 0);
    EXPECT_LT(pages, 3000);
    EXPECT_TRUE(w.Enabled(IdBmailout));
    EXPECT_FALSE(w.Enabled(IdBstop));
}

TEST_F(Win32WindowTest, TheEscapeCommandStopsARunAndExitClosesTheWindowSavingTheSettings) {
    fs::create_directories(root_ / "atts");
    RunningWindow w(L"3000");
    ASSERT_TRUE(w.Up());
    w.Type(IdEmaildir, Root());
    w.Select(w.Child(w.TreeRoot(), 3));
    w.Click(IdBmailout);
    ASSERT_TRUE(WaitFor([&] { return w.Progress() >= 20; }, 60000));
    // Escape reaches the window as IDCANCEL, as the dialog keyboard gives it.
    PostMessageW(GetParent(w.Control(IdBstop)), WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
    ASSERT_TRUE(w.WaitForStatus([](const std::string& s) { return StartsWith(s, "Stopped:"); }, 10000));
    PostMessageW(GetParent(w.Control(IdBstop)), WM_COMMAND, MAKEWPARAM(CmdExit, 0), 0);
    EXPECT_TRUE(w.Exited(30000));
    // The settings were written at close.
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, SettingsKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"MailDir", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(Win32WindowTest, TabGoesThroughTheInputsInTheOrderOfTheSteps) {
    fs::create_directories(root_ / "atts");
    RunningWindow w;
    ASSERT_TRUE(w.Up());
    w.Type(IdEmaildir, Root());
    w.Select(w.Child(w.TreeRoot(), 0)); // Export on, Create off (the folders are there)
    ASSERT_TRUE(w.Enabled(IdBmailout));
    // The dialog keyboard's own order; controls that are off are passed over.
    // "Include subfolders" sits under the tree and belongs to the choice of folder, so it comes next.
    const int expected[] = {IdTV,    IdCBsubfolders, IdEmail, IdBmail,    IdEmaildir, IdBroot, IdEattdir,
                            IdBatts, IdEdat1,        IdEdat2, IdEsize,    IdMre_subj, IdBmailout, IdTV};
    HWND at = w.Control(IdTV);
    for (std::size_t i = 1; i < std::size(expected); ++i) {
        at = GetNextDlgTabItem(w.Handle(), at, FALSE);
        ASSERT_NE(at, nullptr);
        EXPECT_EQ(GetDlgCtrlID(at), expected[i]) << "step " << i;
    }
}
