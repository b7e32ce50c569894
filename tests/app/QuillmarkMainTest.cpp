// The window's logic against a fake view and an in-memory store: start-up, validation, the
// commands, an export through the button, the close rules and the remembered settings.
#include "app/QuillmarkMain.h"
#include "export/RootGuard.h"
#include "platform/DirectoryLock.h"

#include "FakeOutlook.h"
#include "FakeView.h"
#include "SrcLib/DateTime.h"
#include "SrcLib/uLib.h"
#include "TempDir.h"
#include "platform/FileSystem.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace quillmark;
using namespace quillmark::testing;
using outlook::dispid::ReceivedTime;
using outlook::dispid::Subject;
using platform::FileSettingsStore;

namespace fs = std::filesystem;

namespace {

class WindowTest : public ::testing::Test {
protected:
    WindowTest() {
        fs::create_directories(dir / "bin");
        info.LanguageId = "041D";
        info.ProductName = "Quillmark";
        info.FileVersion = "1.2.4.9";
        info.ProductVersion = "0.3";

        auto personal = app->Ns->AddStore(u"Personal Folders", u"store-1");
        inbox = personal->AddFolder(u"Inbox");
        for (int i = 1; i <= 3; ++i) {
            auto mail = inbox->AddMail();
            mail->SetText(Subject, u"Offer " + std::u16string(1, char16_t(u'0' + i)));
            mail->SetDate(ReceivedTime, EncodeDate(2005, 3, i) + 0.5);
        }
        personal->AddFolder(u"Sent");
        auto pub = app->Ns->AddStore(u"Public Folders", u"store-2");
        pub->AddFolder(u"All Public");
        auto mailbox = app->Ns->AddStore(u"Mailbox", u"store-3");
        mailbox->AddFolder(u"Republic")->AddFolder(u"Below");
        mailbox->AddFolder(u"Pub");
    }

    TFEnvironment Env() {
        TFEnvironment env;
        env.ApplicationDir = dir / "bin/";
        env.ExecutableBaseName = "quillmark";
        env.Info = &info;
        env.Settings = &store;
        env.Connect = [this](const std::vector<std::string>& paths) -> std::shared_ptr<outlook::Application> {
            connects.push_back(paths);
            if (connectError) throw EStoreError(*connectError);
            return app;
        };
        env.SampleStorePath = [] { return std::string("/usr/share/quillmark/samples/store"); };
        env.UserDataDir = dir / "data";
        env.DirectoryWritable = [this](const std::string&) { return binWritable; };
        env.Now = [] { return EncodeDate(2026, 12, 8) + 0.75; };
        return env;
    }

    void Start() {
        form = std::make_unique<TF>(view, Env());
        form->Start();
    }

    // The inputs of a valid export: an existing root with its attachments directory.
    std::string MakeRoot() {
        const std::string root = dir / "root";
        fs::create_directories(root + "/atts");
        return root;
    }

    void SelectInbox() { view.Select(*form, view.Find({"Personal Folders", "Inbox"})); }

    std::string SettingsFile() const { return dir / "config/Keldane/quillmark.reg"; }

    TempDir dir;
    FileSettingsStore store{dir / "config"};
    std::shared_ptr<FakeApplication> app = std::make_shared<FakeApplication>();
    std::shared_ptr<FakeFolder> inbox;
    TAppInfo info;
    FakeView view;
    std::unique_ptr<TF> form;
    std::vector<std::vector<std::string>> connects;
    std::optional<std::string> connectError;
    bool binWritable = true;
};

} // namespace

// ---- start-up ----

TEST_F(WindowTest, StartUpReportsEachStageOnTheSplashAndFillsTheTree) {
    Start();
    EXPECT_EQ(view.SplashLines,
              (std::vector<std::string>{"", "Init...", "ShortDateFormat=yyyy-MM-dd", "DateSeparator=-",
                                        "Outlook.Connect...", "NmSpace...", "Logon...", "TreeScan..."}));
    EXPECT_FALSE(view.SplashVisible);
    EXPECT_TRUE(view.Errors.empty());
    EXPECT_EQ(view.Title, "Quillmark v1.2.4.9");
    EXPECT_TRUE(app->Log->Has("GetNamespace(MAPI)"));
    EXPECT_TRUE(app->Log->Has("Logon"));

    // Public Folders and every folder named like it are left out with all below them.
    ASSERT_NE(view.Tree, nullptr);
    ASSERT_EQ(view.Tree->TopLevel().size(), 2u);
    EXPECT_NE(view.Find({"Personal Folders", "Inbox"}), nullptr);
    EXPECT_EQ(view.Find({"Public Folders"}), nullptr);
    EXPECT_EQ(view.Find({"Mailbox", "Republic"}), nullptr);
    EXPECT_NE(view.Find({"Mailbox", "Pub"}), nullptr);
    EXPECT_FALSE(view.ExportEnabled); // nothing selected yet
}

TEST_F(WindowTest, TheTitleComesFromTheExecutablesOwnVersionBlock) {
    info = TAppInfo();
    info.LanguageId = "041D";
    info.VersionFile = ExecutablePath();
    info.Read();
    Start();
    EXPECT_EQ(view.Title, "Quillmark v1.2.4.9");
}

TEST_F(WindowTest, FirstStartWritesTheDefaultTemplateNextToTheProgramAndCreatesTheKey) {
    Start();
    EXPECT_EQ(view.Texts[TFField::Email], dir / "bin/quillmark-template.htm");
    EXPECT_EQ(view.Texts[TFField::Emaildir], dir / "bin/export/");
    EXPECT_TRUE(platform::FileExists(dir / "bin/quillmark-template.htm"));
    EXPECT_TRUE(view.Valid[TFField::Email]);
    EXPECT_FALSE(view.Valid[TFField::Emaildir]); // no directory is made by the program
    // The key exists, still empty, until the first close fills it.
    EXPECT_EQ(TempDir::Read(SettingsFile()),
              "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Keldane\\quillmark]\n");
    EXPECT_EQ(view.WindowBounds.Left, 695);
    EXPECT_EQ(view.WindowBounds.Top, 439);
}

TEST_F(WindowTest, AnInstalledProgramTakesItsDefaultsFromTheUserDataDirectory) {
    binWritable = false;
    Start();
    EXPECT_TRUE(view.Errors.empty()) << view.Errors.front();
    EXPECT_EQ(view.Texts[TFField::Email], dir / "data/Quillmark/quillmark-template.htm");
    EXPECT_EQ(view.Texts[TFField::Emaildir], dir / "data/Quillmark/export/");
    EXPECT_TRUE(platform::FileExists(dir / "data/Quillmark/quillmark-template.htm"));
    EXPECT_FALSE(fs::exists(dir / "bin/quillmark-template.htm"));
}

TEST_F(WindowTest, AStoreThatCannotBeReachedShowsTheErrorAfterConnectAndOpensAnEmptyWindow) {
    connectError = "Outlook cannot be started.";
    Start();
    ASSERT_EQ(view.Errors, std::vector<std::string>{"Outlook cannot be started."});
    EXPECT_EQ(view.ErrorSplashLines.front(), "Outlook.Connect...");
    EXPECT_TRUE(platform::FileExists(dir / "bin/quillmark-template.htm")); // earlier steps ran
    EXPECT_TRUE(view.Tree == nullptr || view.Tree->TopLevel().empty());
    EXPECT_FALSE(view.ExportEnabled);
    EXPECT_FALSE(view.SplashVisible); // hidden once the error has been shown
}

TEST_F(WindowTest, AScanThatFailsKeepsTheNodesAddedBeforeIt) {
    app->Ns->FailOn("Folders.Item(3)", "The mailbox is offline.");
    Start();
    ASSERT_EQ(view.Errors, std::vector<std::string>{"The mailbox is offline."});
    EXPECT_EQ(view.ErrorSplashLines.front(), "TreeScan...");
    ASSERT_NE(view.Tree, nullptr);
    EXPECT_EQ(view.Tree->TopLevel().size(), 1u);
    EXPECT_NE(view.Find({"Personal Folders", "Inbox"}), nullptr);
}

TEST_F(WindowTest, ASettingOfTheWrongTypeEndsStartUpBeforeTheTemplateAndTheStore) {
    TempDir::Write(SettingsFile(), "Windows Registry Editor Version 5.00\n\n"
                                   "[HKEY_CURRENT_USER\\Software\\Keldane\\quillmark]\n"
                                   "\"Left\"=dword:00000010\n\"Top\"=\"100\"\n");
    Start();
    ASSERT_EQ(view.Errors, std::vector<std::string>{"Invalid data type for 'Top'"});
    EXPECT_EQ(view.ErrorSplashLines.front(), "DateSeparator=-");
    EXPECT_FALSE(platform::FileExists(dir / "bin/quillmark-template.htm"));
    EXPECT_TRUE(connects.empty());
    EXPECT_EQ(view.WindowBounds.Left, 695); // Top comes first, so Left was never reached
}

TEST_F(WindowTest, ATemplateInAMissingDirectoryCannotBeCreatedAndEndsStartUp) {
    const std::string missing = dir / "nowhere/t.htm";
    store.OpenKey("\\Software\\Keldane\\quillmark", true)->WriteString("MailTemplate", missing);
    Start();
    ASSERT_EQ(view.Errors.size(), 1u);
    EXPECT_EQ(view.Errors.front(), "Cannot create file " + missing);
    EXPECT_TRUE(connects.empty());
}

TEST_F(WindowTest, StoredValuesReplaceTheDefaultsUnchecked) {
    TempDir::Write(SettingsFile(), "Windows Registry Editor Version 5.00\n\n"
                                   "[HKEY_CURRENT_USER\\Software\\Keldane\\quillmark]\n"
                                   "\"Top\"=dword:00000010\n\"Left\"=dword:00000020\n"
                                   "\"Width\"=dword:00000005\n\"Height\"=dword:00000005\n"
                                   "\"FromDateTime\"=\"yesterday\"\n\"BodySize\"=\"lots\"\n"
                                   "\"AttsDir\"=\"\"\n");
    Start();
    EXPECT_TRUE(view.Errors.empty());
    EXPECT_EQ(view.WindowBounds.Top, 16);
    EXPECT_EQ(view.WindowBounds.Left, 32);
    EXPECT_EQ(view.WindowBounds.Width, 5); // the view keeps its own minimum
    EXPECT_EQ(view.WindowBounds.Height, 5);
    EXPECT_EQ(view.Texts[TFField::Edat1], "yesterday");
    EXPECT_EQ(view.Texts[TFField::Esize], "lots");
    EXPECT_EQ(view.Texts[TFField::Eattdir], "");
}

// ---- validation ----

TEST_F(WindowTest, EveryCheckColoursItsOwnFieldAndTheButtonNeedsThemAll) {
    Start();
    const std::string root = dir / "root";
    const std::string templ = dir / "t.htm";
    for (int mask = 0; mask < 16; ++mask) {
        const bool selected = mask & 1, templateThere = mask & 2, rootThere = mask & 4, attsThere = mask & 8;
        fs::remove_all(root);
        fs::remove(templ);
        if (templateThere) TempDir::Write(templ, "<html></html>");
        if (rootThere) fs::create_directories(root);
        if (attsThere) fs::create_directories(root + "/atts"); // made even without the root check
        view.Texts[TFField::Email] = templ;
        view.Texts[TFField::Emaildir] = root; // no trailing delimiter: root/atts is checked
        view.Texts[TFField::Eattdir] = "atts";
        view.Select(*form, selected ? view.Find({"Personal Folders", "Inbox"}) : nullptr);
        SCOPED_TRACE(mask);
        EXPECT_EQ(form->SelectedFolder != nullptr, selected);
        EXPECT_EQ(view.Valid[TFField::Email], templateThere);
        EXPECT_EQ(view.Valid[TFField::Emaildir], rootThere || attsThere);
        EXPECT_EQ(view.Valid[TFField::Eattdir], attsThere);
        EXPECT_EQ(view.ExportEnabled, selected && templateThere && attsThere);
    }
}

TEST_F(WindowTest, AnEmptyAttachmentsNameChecksTheRootItself) {
    Start();
    const std::string root = dir / "root";
    fs::create_directories(root);
    view.Type(*form, TFField::Emaildir, root + "/");
    view.Type(*form, TFField::Eattdir, "atts");
    EXPECT_FALSE(view.Valid[TFField::Eattdir]);
    view.Type(*form, TFField::Eattdir, "");
    EXPECT_TRUE(view.Valid[TFField::Eattdir]);
}

TEST_F(WindowTest, SelectingANodeNamesItOnTheExportButton) {
    Start();
    SelectInbox();
    EXPECT_EQ(view.ExportCaption, "5. Export [Inbox] ...");
    EXPECT_EQ(form->SelectedFolder, &view.Find({"Personal Folders", "Inbox"})->Folder);
    view.Select(*form, nullptr);
    EXPECT_EQ(view.ExportCaption, "5. Export [Inbox] ..."); // no node: caption unchanged
    EXPECT_EQ(form->SelectedFolder, nullptr);
}

TEST_F(WindowTest, BrowsingToAnExistingTemplateEnablesExportWithoutTouchingTheTree) {
    Start();
    const std::string root = MakeRoot();
    view.Type(*form, TFField::Emaildir, root);
    view.Type(*form, TFField::Email, dir / "gone/missing.htm");
    SelectInbox();
    EXPECT_FALSE(view.ExportEnabled);
    EXPECT_FALSE(view.Valid[TFField::Email]);

    view.DialogAnswer.reset(); // cancel: nothing changes
    form->BmailClick();
    EXPECT_EQ(view.DialogArgs, (std::vector<std::string>{dir / "gone/", dir / "gone/missing.htm",
                                                         "Template html files (*.htm)|*.htm", "htm"}));
    EXPECT_EQ(view.Texts[TFField::Email], dir / "gone/missing.htm");

    const std::string chosen = dir / "mine.htm";
    TempDir::Write(chosen, "<html><#Subject></html>");
    view.DialogAnswer = chosen;
    form->BmailClick();
    EXPECT_EQ(view.Texts[TFField::Email], chosen);
    EXPECT_TRUE(view.Valid[TFField::Email]);
    EXPECT_TRUE(view.ExportEnabled);
}

TEST_F(WindowTest, TheDateLinksFillTheDateFields) {
    Start();
    form->L1990Click();
    EXPECT_EQ(view.Texts[TFField::Edat1], "1990-01-01");
    form->L2005Click(); // "today" is 2026-12-08 in the afternoon
    EXPECT_EQ(view.Texts[TFField::Edat2], "2026-12-09");
}

// ---- the export command ----

TEST_F(WindowTest, AnExportThroughTheButtonWritesThePagesAndAdvancesFrom) {
    Start();
    const std::string root = MakeRoot();
    view.Type(*form, TFField::Emaildir, root);
    SelectInbox();
    ASSERT_TRUE(view.ExportEnabled);
    bool busyDuringRun = false, stopDuringRun = false, exportDuringRun = true;
    view.OnEvents = [&](int) {
        busyDuringRun = view.Busy;
        stopDuringRun = view.StopEnabled;
        exportDuringRun = view.ExportEnabled;
    };
    form->BmailoutClick();
    EXPECT_TRUE(view.Errors.empty()) << view.Errors.front();
    EXPECT_TRUE(busyDuringRun);
    EXPECT_TRUE(stopDuringRun);
    EXPECT_FALSE(exportDuringRun);
    EXPECT_FALSE(view.Busy);
    EXPECT_FALSE(view.StopEnabled);
    EXPECT_EQ(view.Status.rfind("Done: 3 mails exported, 0 filtered out, 0 attachments saved, ", 0), 0u) << view.Status;
    EXPECT_EQ(view.StatusMode, 0);
    EXPECT_EQ(view.Texts[TFField::Edat1], DateTimeToText(EncodeDate(2005, 3, 3) + 0.5));
    EXPECT_EQ(std::distance(fs::directory_iterator(root + "/2005"), fs::directory_iterator()), 3);

    // The inputs still hold: the button is back without touching a field.
    EXPECT_TRUE(view.ExportEnabled);
#ifdef QUILLMARK_HAVE_ARCHIVE
    // The run ends with the archive's start page, which "Open archive" opens.
    form->OpenArchiveClick();
    EXPECT_EQ(view.OpenedFolders, std::vector<std::string>{root + "/index.htm"});
#endif
}

TEST_F(WindowTest, IncludeSubfoldersExportsEachFolderBelowIntoItsOwnPlaceAndTheBarCountsThemAll) {
    auto old = inbox->AddFolder(u"Old");
    for (int i = 1; i <= 2; ++i) {
        auto mail = old->AddMail();
        mail->SetText(Subject, u"Older " + std::u16string(1, char16_t(u'0' + i)));
        mail->SetDate(ReceivedTime, EncodeDate(2004, 6, i) + 0.5);
    }
    old->AddFolder(u"Older still")->AddMail()->SetDate(ReceivedTime, EncodeDate(2003, 1, 1));
    Start();
    const std::string root = MakeRoot();
    view.Type(*form, TFField::Emaildir, root);
    SelectInbox();
    view.Subfolders = true;
    form->BmailoutClick();
    EXPECT_TRUE(view.Errors.empty()) << view.Errors.front();
    EXPECT_EQ(view.Status.rfind("Done: 6 mails exported", 0), 0u) << view.Status;
    // One bar over all three folders, filled to its end.
    EXPECT_EQ(view.ProgressMax, 6);
    EXPECT_EQ(view.Progress, 6);
    auto pages = [](const std::string& dir) { return std::distance(fs::directory_iterator(dir), fs::directory_iterator()); };
    EXPECT_EQ(pages(root + "/2005"), 3);
    EXPECT_EQ(pages(root + "/Old/2004"), 2);
    EXPECT_EQ(pages(root + "/Old/Older_still/2003"), 1);
    // The From bound stays where no folder misses a mail: at the oldest folder's latest.
    EXPECT_EQ(view.Texts[TFField::Edat1], DateTimeToText(EncodeDate(2003, 1, 1)));

    // Without the box, the folder alone, as before.
    fs::remove_all(root + "/Old");
    view.Subfolders = false;
    form->BmailoutClick();
    EXPECT_FALSE(fs::exists(root + "/Old"));
    EXPECT_EQ(view.ProgressMax, 3);

    // Stop in the middle of a subfolder ends the whole run: the folders after it are not
    // begun, and From stays.
    fs::remove_all(root);
    fs::create_directories(root + "/atts");
    view.Subfolders = true;
    view.Texts[TFField::Edat1] = "";
    view.OnEvents = [&](int turn) {
        if (turn == 5) form->BstopClick(); // before the second mail of Old
    };
    view.EventTurns = 0;
    form->BmailoutClick();
    EXPECT_EQ(view.Status.rfind("Stopped: 4 mails exported", 0), 0u) << view.Status;
    EXPECT_EQ(pages(root + "/Old/2004"), 1);
    EXPECT_FALSE(fs::exists(root + "/Old/Older_still"));
    EXPECT_EQ(view.Texts[TFField::Edat1], "");
}

TEST_F(WindowTest, StopDuringARunFinishesTheItemUnderWayAndSaysBreak) {
    Start();
    const std::string root = MakeRoot();
    view.Type(*form, TFField::Emaildir, root);
    SelectInbox();
    // The click lands while the window handles events before item 2.
    view.OnEvents = [&](int turn) {
        if (turn == 2) form->BstopClick();
    };
    form->BmailoutClick();
    EXPECT_NE(std::find(view.StatusHistory.begin(), view.StatusHistory.end(), "Break."), view.StatusHistory.end());
    EXPECT_EQ(view.Status.rfind("Stopped: 1 mail exported, 0 filtered out", 0), 0u) << view.Status;
    EXPECT_EQ(view.StatusMode, 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(root + "/2005"), fs::directory_iterator()), 1);
    EXPECT_EQ(view.Texts[TFField::Edat1], ""); // From is not advanced by a stopped run
    EXPECT_FALSE(view.StopEnabled);
    EXPECT_TRUE(view.ExportEnabled);
}

TEST_F(WindowTest, ASecondExportCannotStartInsideTheFirst) {
    Start();
    view.Type(*form, TFField::Emaildir, MakeRoot());
    SelectInbox();
    int turns = 0;
    view.OnEvents = [&](int) {
        ++turns;
        view.Type(*form, TFField::Eattdir, "atts"); // validation during the run
        EXPECT_FALSE(view.ExportEnabled);
        form->BmailoutClick(); // a queued click
    };
    form->BmailoutClick();
    EXPECT_EQ(turns, 3); // one run over three items, no nested run
    EXPECT_TRUE(view.Errors.empty());
}

TEST_F(WindowTest, AFailingRunShowsItsErrorAndRestoresTheCursor) {
    Start();
    view.Type(*form, TFField::Emaildir, MakeRoot());
    SelectInbox();
    inbox->FailOn("Items.Item(2)", "Cannot read item");
    EXPECT_FALSE(form->Guarded([&] { form->BmailoutClick(); }));
    EXPECT_EQ(view.Errors, std::vector<std::string>{"Cannot read item"});
    EXPECT_FALSE(view.Busy);
    EXPECT_FALSE(form->Exporting());
}

TEST_F(WindowTest, AMailNotWrittenWholeIsNamedInRedAndHoldsFromBack) {
    Start();
    const std::string root = MakeRoot();
    view.Type(*form, TFField::Emaildir, root);
    SelectInbox();
    inbox->ItemList[1]->Mail->AddAttachment(u"x.pdf", "x")->FailOn("SaveAsFile", "The attachment cannot be read");
    form->BmailoutClick();
    EXPECT_TRUE(view.Errors.empty());
    EXPECT_EQ(view.StatusMode, 1);
    // The failure stays in front of the run's summary.
    // The time taken at the end depends on the machine's load; the rest is exact.
    const std::string summary = "1 mail was not exported (the first: #2 | " + DateTimeToText(EncodeDate(2005, 3, 2) + 0.5) +
                                " | Offer 2: attachment \"x.pdf\" not saved: The attachment cannot be read) - 2 mails "
                                "exported, 0 filtered out, 0 attachments saved, ";
    EXPECT_EQ(view.Status.substr(0, summary.size()), summary) << view.Status;
    EXPECT_EQ(view.Status.substr(view.Status.size() - 3), " s.") << view.Status;
    EXPECT_NE(std::find(view.StatusHistory.begin(), view.StatusHistory.end(),
                        "#2 | " + DateTimeToText(EncodeDate(2005, 3, 2) + 0.5) +
                            " | Offer 2: attachment \"x.pdf\" not saved: The attachment cannot be read"),
              view.StatusHistory.end());
    // From stops at the mail that was not written, not at the last mail.
    EXPECT_EQ(view.Texts[TFField::Edat1], DateTimeToText(EncodeDate(2005, 3, 2) + 0.5));
    EXPECT_EQ(std::distance(fs::directory_iterator(root + "/2005"), fs::directory_iterator()), 2);
    EXPECT_FALSE(form->Exporting());
}

TEST_F(WindowTest, ARootAnotherRunHoldsIsAnErrorAndNothingIsWritten) {
    Start();
    const std::string root = MakeRoot();
    view.Type(*form, TFField::Emaildir, root);
    SelectInbox();
    platform::DirectoryLock other;
    ASSERT_EQ(other.TryLock(root + "/" + RootLockFileName), platform::DirectoryLock::State::Locked);
    EXPECT_FALSE(form->Guarded([&] { form->BmailoutClick(); }));
    ASSERT_EQ(view.Errors.size(), 1u);
    EXPECT_NE(view.Errors[0].find("is in use by another export run (process " +
                                  std::to_string(platform::CurrentProcessId())),
              std::string::npos)
        << view.Errors[0];
    EXPECT_FALSE(fs::exists(root + "/2005"));
    EXPECT_EQ(view.Texts[TFField::Edat1], "");
    EXPECT_FALSE(view.Busy);
}

// ---- closing ----

TEST_F(WindowTest, ClosingDuringARunWaitsForItsEndThenSavesTheSettings) {
    Start();
    view.Type(*form, TFField::Emaildir, MakeRoot());
    SelectInbox();
    view.OnEvents = [&](int turn) {
        if (turn == 1) {
            EXPECT_FALSE(form->FormCloseQuery());
        }
    };
    bool closeAllowed = false;
    view.OnClose = [&] { closeAllowed = form->FormCloseQuery(); };
    form->BmailoutClick();
    EXPECT_EQ(view.Status.rfind("Done: 3 mails exported", 0), 0u); // the run went on to its last item
    EXPECT_EQ(view.CloseRequests, 1);
    EXPECT_TRUE(closeAllowed); // the view closes again; now the close rules let it go
    form->Close();
    EXPECT_TRUE(app->Log->Has("Logoff"));
    EXPECT_TRUE(app->Disconnected);
    auto key = store.OpenKey(form->SettingsKeyPath(), false);
    EXPECT_EQ(key->ReadString("FromDateTime"), DateTimeToText(EncodeDate(2005, 3, 3) + 0.5));
}

TEST_F(WindowTest, ClosingDuringARunThatFailsClosesAfterTheError) {
    Start();
    view.Type(*form, TFField::Emaildir, MakeRoot());
    SelectInbox();
    inbox->FailOn("Items.Item(2)", "Cannot read item");
    view.OnEvents = [&](int turn) {
        if (turn == 1) {
            EXPECT_FALSE(form->FormCloseQuery());
        }
    };
    bool closeAllowed = false;
    view.OnClose = [&] { closeAllowed = form->FormCloseQuery(); };
    form->Guarded([&] { form->BmailoutClick(); });
    EXPECT_EQ(view.Errors, std::vector<std::string>{"Cannot read item"});
    EXPECT_EQ(view.CloseRequests, 1);
    EXPECT_TRUE(closeAllowed);
}

TEST_F(WindowTest, AnErrorAtCloseEndsTheCloseSequenceThere) {
    Start();
    app->Ns->FailOn("Logoff", "Outlook has gone away.");
    form->Close();
    EXPECT_EQ(view.Errors, std::vector<std::string>{"Outlook has gone away."});
    EXPECT_FALSE(app->Disconnected);
    EXPECT_FALSE(store.OpenKey(form->SettingsKeyPath(), false)->ValueExists("MailTemplate"));
}

TEST_F(WindowTest, TheSettingsTravelFromOneRunOfTheProgramToTheNext) {
    Start();
    view.Texts[TFField::Mre_subj] = "a\r\nb";
    view.Texts[TFField::Esize] = "100";
    view.WindowBounds = {12, 34, 900, 450};
    view.Subfolders = true;
    form->Close();
    const std::string text = TempDir::Read(SettingsFile());
    EXPECT_NE(text.find("\"RE_Subj\"=\"a\\\\nb\"\n"), std::string::npos) << text; // one line: a\nb
    EXPECT_NE(text.find("\"Width\"=dword:00000384\n"), std::string::npos);

    FakeView second;
    TF again(second, Env());
    again.Start();
    EXPECT_EQ(second.Texts[TFField::Mre_subj], "a\r\nb");
    EXPECT_EQ(second.Texts[TFField::Esize], "100");
    EXPECT_EQ(second.WindowBounds.Left, 12);
    EXPECT_EQ(second.WindowBounds.Top, 34);
    EXPECT_EQ(second.WindowBounds.Width, 900); // the size the window was left with
    EXPECT_EQ(second.WindowBounds.Height, 450);
    EXPECT_TRUE(second.Subfolders);
}

TEST_F(WindowTest, AnotherBaseNameUsesAnotherKey) {
    Start();
    view.Texts[TFField::Esize] = "100";
    form->Close();

    FakeView renamed;
    TFEnvironment env = Env();
    env.ExecutableBaseName = "archiver";
    TF other(renamed, env);
    other.Start();
    EXPECT_EQ(renamed.Texts[TFField::Esize], "");
    EXPECT_EQ(renamed.Texts[TFField::Email], dir / "bin/archiver-template.htm");
    EXPECT_TRUE(fs::exists(dir / "config/Keldane/archiver.reg"));
}

// ---- mail stores ----

TEST_F(WindowTest, TheStoresNamedAreConnectedAndRemembered) {
    Start(); // none named: the sample store
    ASSERT_EQ(connects.size(), 1u);
    EXPECT_EQ(connects[0], std::vector<std::string>{"/usr/share/quillmark/samples/store"});
    EXPECT_TRUE(form->MailStores().empty());

    form->OpenMailStore("/home/ann/Mail/inbox.mbox");
    ASSERT_EQ(connects.size(), 2u);
    EXPECT_EQ(connects[1], std::vector<std::string>{"/home/ann/Mail/inbox.mbox"});
    EXPECT_TRUE(app->Log->Has("Logoff")); // the old connection was let go
    EXPECT_NE(view.Find({"Personal Folders", "Inbox"}), nullptr);
    form->Close();

    FakeView second;
    TF again(second, Env());
    again.Start();
    EXPECT_EQ(connects.back(), std::vector<std::string>{"/home/ann/Mail/inbox.mbox"});
    again.CloseMailStore("/home/ann/Mail/inbox.mbox");
    EXPECT_EQ(connects.back(), std::vector<std::string>{"/usr/share/quillmark/samples/store"});
}

TEST_F(WindowTest, StoresOnTheCommandLineReplaceTheRememberedOnes) {
    TFEnvironment env = Env();
    env.StoreArguments = {"/a.pst", "/b"};
    form = std::make_unique<TF>(view, env);
    form->SetMailStores({"/old"});
    form->Start();
    EXPECT_EQ(connects.back(), (std::vector<std::string>{"/a.pst", "/b"}));
    EXPECT_EQ(form->MailStores(), (std::vector<std::string>{"/a.pst", "/b"}));
}

// ---- the window explains itself ----

TEST_F(WindowTest, WhileExportIsOffTheStatusLineSaysWhichInputIsWrong) {
    Start();
    const std::string root = dir / "root";
    const std::string templ = dir / "t.htm";
    TempDir::Write(templ, "<html></html>");
    struct Case {
        const char* what;
        bool select;
        std::string templ, root;
        bool makeRoot, makeAtts;
        std::string status;
        int mode;
        bool create;
    };
    const Case cases[] = {
        {"nothing selected", false, templ, root, true, true, "Select the folder to export in the tree.", 0, false},
        {"no template named", true, "", root, true, true, "Name the template file (step 2).", 1, false},
        {"template missing", true, dir / "gone.htm", root, true, true,
         "The template file " + (dir / "gone.htm") + " does not exist.", 1, false},
        {"no root named", true, templ, "", false, false, "Name the export root directory (step 3).", 1, false},
        {"root missing", true, templ, root, false, false,
         "The export root " + root + " does not exist: the Create button makes it.", 1, true},
        {"attachments missing", true, templ, root, true, false,
         "The attachments directory " + IncludeTrailingPathDelimiter(root) + "atts does not exist: the Create button makes it.",
         1, true},
        {"all there", true, templ, root, true, true, "Ready to export [Inbox] into " + root, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root);
        if (c.makeRoot) fs::create_directories(root);
        if (c.makeAtts) fs::create_directories(root + "/atts");
        view.Texts[TFField::Email] = c.templ;
        view.Texts[TFField::Eattdir] = "atts";
        view.Type(*form, TFField::Emaildir, c.root);
        view.Select(*form, c.select ? view.Find({"Personal Folders", "Inbox"}) : nullptr);
        EXPECT_EQ(view.Status, c.status);
        EXPECT_EQ(view.StatusMode, c.mode);
        EXPECT_EQ(view.CreateFoldersEnabled, c.create);
        EXPECT_EQ(view.ExportEnabled, c.status.rfind("Ready", 0) == 0);
    }
}

TEST_F(WindowTest, CreateFoldersMakesTheRootAndItsAttachmentsDirectoryAndEnablesExport) {
    Start();
    const std::string root = dir / "new/root";
    view.Type(*form, TFField::Emaildir, root);
    view.Type(*form, TFField::Eattdir, "files");
    SelectInbox();
    ASSERT_FALSE(view.ExportEnabled);
    ASSERT_TRUE(view.CreateFoldersEnabled);
    form->CreateFoldersClick();
    EXPECT_TRUE(fs::is_directory(root + "/files"));
    EXPECT_TRUE(view.ExportEnabled);
    EXPECT_FALSE(view.CreateFoldersEnabled);
    EXPECT_TRUE(view.Valid[TFField::Emaildir]);
    EXPECT_EQ(view.Status, "Ready to export [Inbox] into " + root);
}

TEST_F(WindowTest, TheRunsSummaryAndAStoresWarningStayUntilTheUserChangesSomething) {
    Start();
    const std::string root = MakeRoot();
    view.Type(*form, TFField::Emaildir, root);
    SelectInbox();
    form->BmailoutClick();
    const std::string summary = view.Status;
    ASSERT_EQ(summary.rfind("Done:", 0), 0u);
    form->TestValid(); // a check with nothing changed keeps the summary
    EXPECT_EQ(view.Status, summary);
    form->ShowStatus("Store B could not be read", 1);
    form->TestValid();
    EXPECT_EQ(view.Status, "Store B could not be read");
    view.Type(*form, TFField::Emaildir, dir / "elsewhere");
    EXPECT_EQ(view.Status.rfind("The export root ", 0), 0u) << view.Status;
}

TEST_F(WindowTest, TheSubjectExpressionsFilterTheRunAndTheSummaryCountsTheRest) {
    Start();
    const std::string root = MakeRoot();
    view.Type(*form, TFField::Emaildir, root);
    view.Texts[TFField::Mre_subj] = "Offer 2\r\n\r\n^Offer 3$";
    SelectInbox();
    form->BmailoutClick();
    ASSERT_TRUE(view.Errors.empty()) << view.Errors.front();
    EXPECT_EQ(std::distance(fs::directory_iterator(root + "/2005"), fs::directory_iterator()), 2);
    EXPECT_EQ(view.Status.rfind("Done: 2 mails exported, 1 filtered out, ", 0), 0u) << view.Status;
}

TEST_F(WindowTest, TheTreeShowsEachFoldersMailCount) {
    Start();
    EXPECT_EQ(form->NodeCaption(*view.Find({"Personal Folders", "Inbox"})), "Inbox (3)");
    EXPECT_EQ(form->NodeCaption(*view.Find({"Personal Folders", "Sent"})), "Sent (0)");
    // The export button names the folder alone.
    SelectInbox();
    EXPECT_EQ(view.ExportCaption, "5. Export [Inbox] ...");
}

TEST_F(WindowTest, OpenArchiveFolderOpensAnExistingRootAndExplainsAMissingOne) {
    Start();
    view.Type(*form, TFField::Emaildir, dir / "none");
    form->OpenArchiveFolderClick();
    EXPECT_TRUE(view.OpenedFolders.empty());
    EXPECT_EQ(view.StatusMode, 1);
    EXPECT_NE(view.Status.find(dir / "none"), std::string::npos);
    const std::string root = MakeRoot();
    view.Type(*form, TFField::Emaildir, root);
    form->OpenArchiveFolderClick();
    EXPECT_EQ(view.OpenedFolders, std::vector<std::string>{root});
    // Nothing exported yet: no start page to open, and the status line says so.
    form->OpenArchiveClick();
    EXPECT_EQ(view.OpenedFolders.size(), 1u);
    EXPECT_NE(view.Status.find("holds no archive yet"), std::string::npos) << view.Status;
}

TEST_F(WindowTest, AboutNamesTheVersionAndTheLibrariesWithTheirLicences) {
    TFEnvironment env = Env();
    env.Libraries = {"GMime 3.2 (LGPL 2.1 or later)", "Qt 6.4 (LGPL 3)"};
    form = std::make_unique<TF>(view, env);
    form->Start();
    form->AboutClick();
    EXPECT_EQ(view.AboutTitle, "About Quillmark");
    EXPECT_NE(view.AboutText.find("Quillmark 0.3 (file version 1.2.4.9)"), std::string::npos) << view.AboutText;
    EXPECT_NE(view.AboutText.find("GMime 3.2 (LGPL 2.1 or later)\n"), std::string::npos);
    EXPECT_NE(view.AboutText.find("Qt 6.4 (LGPL 3)\n"), std::string::npos);
}

TEST_F(WindowTest, BrowsingForTheRootAndForAnAttachmentsDirectoryBelowIt) {
    Start();
    const std::string root = MakeRoot();
    view.Texts[TFField::Eattdir] = "atts";
    SelectInbox();
    view.FolderAnswer = root;
    form->BrowseRootClick();
    EXPECT_EQ(view.Texts[TFField::Emaildir], IncludeTrailingPathDelimiter(root));
    EXPECT_TRUE(view.ExportEnabled);

    fs::create_directories(root + "/files/2026");
    view.FolderAnswer = root + "/files/2026/";
    form->BrowseAttsClick();
    EXPECT_EQ(view.FolderDialogArgs.back(), IncludeTrailingPathDelimiter(root) + "atts");
    EXPECT_EQ(view.Texts[TFField::Eattdir], "files/2026");

    view.FolderAnswer = dir / "elsewhere"; // not below the root: refused, said why
    form->BrowseAttsClick();
    EXPECT_EQ(view.Texts[TFField::Eattdir], "files/2026");
    EXPECT_EQ(view.StatusMode, 1);
    EXPECT_NE(view.Status.find("below the export root"), std::string::npos);

    view.FolderAnswer.reset(); // cancel: nothing changes
    form->BrowseRootClick();
    EXPECT_EQ(view.Texts[TFField::Emaildir], IncludeTrailingPathDelimiter(root));
}
