#include "app/QuillmarkMain.h"

#include "SrcLib/DateTime.h"
#include "SrcLib/uLib.h"
#include "app/Settings.h"
#include "platform/FileSystem.h"
#include "template/DefaultTemplate.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>

namespace quillmark {

std::string DirectoryPart(const std::string& path) {
    auto pos = path.find_last_of("\\/");
    return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

TF::TF(TFView& view, TFEnvironment env) : view_(view), env_(std::move(env)) {}

TF::~TF() = default;

bool TF::Guarded(const std::function<void()>& f) {
    try {
        f();
        return true;
    } catch (const std::exception& e) {
        view_.ShowError(e.what());
    } catch (...) {
        view_.ShowError("Unknown error");
    }
    return false;
}

void TF::SetText(TFField field, const std::string& text) {
    view_.SetFieldText(field, text);
    FieldChanged(field);
}

void TF::FieldChanged(TFField field) {
    userActed_ = true;
    if (field == TFField::Email || field == TFField::Emaildir || field == TFField::Eattdir) TestValid();
}

std::string TF::SettingsKeyPath() const { return "\\Software\\Keldane\\" + env_.ExecutableBaseName; }

void TF::LoadSettings() { quillmark::LoadSettings(*this); }

void TF::SaveSettings() { quillmark::SaveSettings(*this); }

AppIdentity TF::Identity() const {
    AppIdentity id;
    if (env_.Info) {
        id.ProductName = env_.Info->ProductName;
        id.ProductVersion = env_.Info->ProductVersion;
        id.FileVersion = env_.Info->FileVersion;
        id.Comments = env_.Info->Comments;
    }
    id.ExecutableBaseName = env_.ExecutableBaseName;
    return id;
}

void TF::FormCreate() {
    view_.ShowSplash();
    view_.AddSplashLine("Init...");
    // The date format is fixed program-wide in the date module; the lines report it.
    view_.AddSplashLine(std::string("ShortDateFormat=") + ShortDateFormat);
    view_.AddSplashLine(std::string("DateSeparator=") + DateSeparator);

    view_.SetTitle((env_.Info ? env_.Info->ProductName : std::string()) + " v" +
                   (env_.Info ? env_.Info->FileVersion : std::string()));

    // An installed program's directory (/usr/bin, Program Files) is not writable: a default
    // template written there would fail with "Cannot create file" and end every first start.
    // Then the defaults come from the per-user data directory; a portable copy in a writable
    // directory keeps the defaults next to the executable.
    std::string defaultsDir = env_.ApplicationDir;
    bool writable = env_.DirectoryWritable ? env_.DirectoryWritable(env_.ApplicationDir) : true;
    if (!writable && !env_.UserDataDir.empty()) {
        defaultsDir = IncludeTrailingPathDelimiter(IncludeTrailingPathDelimiter(env_.UserDataDir) + "Quillmark");
        CreateDirectoryPath(defaultsDir);
    }
    SetText(TFField::Email, defaultsDir + env_.ExecutableBaseName + "-template.htm");
    SetText(TFField::Emaildir, defaultsDir + "export" + platform::PathDelim);

    LoadSettings();

    const std::string templatePath = Text(TFField::Email);
    if (!platform::FileExists(templatePath)) {
        WriteDefaultTemplate(templatePath);
        TestValid(); // the template field turns from red to valid
    }

    SelectedFolder = nullptr;
    Tree.Clear();
    view_.ShowTree(Tree);

    view_.AddSplashLine("Outlook.Connect...");
    ConnectStores();
    view_.AddSplashLine("NmSpace...");
    OutlookNameSpace = Outlook->GetNamespace("MAPI");
    run_ = std::make_unique<ExportRun>(OutlookNameSpace, *this, Identity());
    view_.AddSplashLine("Logon...");
    OutlookNameSpace->Logon();
    view_.AddSplashLine("TreeScan...");
    try {
        ScanTree();
    } catch (...) {
        view_.ShowTree(Tree); // the nodes added before the error stay
        throw;
    }
    view_.ShowTree(Tree);
    TestValid();
    view_.HideSplash();
}

void TF::ScanTree() {
    mailCounts_.clear();
    Tree.ScanFolders(*OutlookNameSpace->Folders(), nullptr);
    CountMails();
}

void TF::CountMails() {
    // A folder whose count cannot be had shows its name alone; the tree is still usable.
    std::function<void(const outlook::FolderNode&)> count = [&](const outlook::FolderNode& node) {
        try {
            auto folder = OutlookNameSpace->GetFolderFromID(node.Folder.EntryID, node.Folder.StoreID);
            if (folder) {
                auto items = folder->Items();
                if (items) mailCounts_[&node] = items->Count();
            }
        } catch (const std::exception&) {
        }
        for (const auto& child : node.Children) count(*child);
    };
    for (const auto& top : Tree.TopLevel()) count(*top);
}

std::string TF::NodeCaption(const outlook::FolderNode& node) const {
    auto it = mailCounts_.find(&node);
    if (it == mailCounts_.end()) return node.Text;
    return node.Text + " (" + std::to_string(it->second) + ")";
}

void TF::Start() {
    if (!Guarded([this] { FormCreate(); })) view_.HideSplash();
}

void TF::ConnectStores() {
    connectedStores_ = !env_.StoreArguments.empty() ? env_.StoreArguments : mailStores_;
    if (!env_.StoreArguments.empty()) mailStores_ = env_.StoreArguments;
    if (connectedStores_.empty() && env_.SampleStorePath) {
        std::string sample = env_.SampleStorePath();
        if (!sample.empty()) connectedStores_.push_back(sample);
    }
    if (!env_.Connect) throw EStoreError("No mail store connection is available.");
    Outlook = env_.Connect(connectedStores_);
    if (!Outlook) throw EStoreError("The mail stores cannot be opened.");
    // Stores that could not be read are left out; say so on the status line.
    Outlook->SetWarningHandler([this](const std::string& message) { ShowStatus(message, 1); });
}

void TF::DisconnectStores() {
    if (OutlookNameSpace) {
        auto ns = std::move(OutlookNameSpace);
        OutlookNameSpace.reset();
        ns->Logoff();
    }
    if (Outlook) {
        auto app = std::move(Outlook);
        Outlook.reset();
        app->Disconnect();
    }
}

void TF::Reconnect() {
    if (exporting_) return;
    SelectedFolder = nullptr;
    run_.reset();
    mailCounts_.clear();
    Tree.Clear();
    view_.ShowTree(Tree);
    TestValid();
    DisconnectStores();
    // Stores named on the command line were only this start's choice; from here on the
    // list in the window is what counts.
    env_.StoreArguments.clear();
    ConnectStores();
    OutlookNameSpace = Outlook->GetNamespace("MAPI");
    run_ = std::make_unique<ExportRun>(OutlookNameSpace, *this, Identity());
    OutlookNameSpace->Logon();
    try {
        ScanTree();
    } catch (...) {
        view_.ShowTree(Tree);
        TestValid();
        throw;
    }
    view_.ShowTree(Tree);
    TestValid();
}

void TF::OpenMailStore(const std::string& path) {
    if (exporting_ || path.empty()) return;
    if (std::find(mailStores_.begin(), mailStores_.end(), path) == mailStores_.end()) mailStores_.push_back(path);
    Reconnect();
}

void TF::CloseMailStore(const std::string& path) {
    if (exporting_) return;
    auto it = std::find(mailStores_.begin(), mailStores_.end(), path);
    if (it == mailStores_.end()) return;
    mailStores_.erase(it);
    Reconnect();
}

void TF::TestValid() {
    bool valid = true;
    const outlook::FolderNode* node = view_.SelectedNode();
    if (node) {
        SelectedFolder = &node->Folder;
    } else {
        SelectedFolder = nullptr;
        valid = false;
    }
    // Every check runs every time, so each field shows its own colour.
    bool templateOk = platform::FileExists(Text(TFField::Email));
    view_.SetFieldValid(TFField::Email, templateOk);
    valid = valid && templateOk;

    const std::string root = Text(TFField::Emaildir);
    bool rootOk = IsDirectory(root);
    view_.SetFieldValid(TFField::Emaildir, rootOk);
    valid = valid && rootOk;

    bool attsOk = IsDirectory(IncludeTrailingPathDelimiter(root) + Text(TFField::Eattdir));
    view_.SetFieldValid(TFField::Eattdir, attsOk);
    valid = valid && attsOk;

    // A run in progress keeps the export command off, whatever the inputs say: a second run
    // must not start inside the first.
    view_.SetExportEnabled(valid && !exporting_);
    view_.SetCreateFoldersEnabled(!exporting_ && !root.empty() && !attsOk);

    // The colours alone do not say what is wrong; the status line does, unless it holds a
    // message the user has not acted on yet (a run's summary, a store's warning).
    if (exporting_ || !(statusExplains_ || userActed_)) return;
    userActed_ = false;
    const std::string problem = ExportProblem();
    if (!problem.empty()) {
        view_.SetStatus(problem, node && !problem.empty() ? 1 : 0);
    } else {
        view_.SetStatus("Ready to export [" + node->Text + "] into " + root, 0);
    }
    statusExplains_ = true;
}

std::string TF::ExportProblem() {
    const outlook::FolderNode* node = view_.SelectedNode();
    if (!node) return "Select the folder to export in the tree.";
    const std::string templ = Text(TFField::Email);
    if (templ.empty()) return "Name the template file (step 2).";
    if (!platform::FileExists(templ)) return "The template file " + templ + " does not exist.";
    const std::string root = Text(TFField::Emaildir);
    if (root.empty()) return "Name the export root directory (step 3).";
    if (!IsDirectory(root))
        return "The export root " + root + " does not exist: the Create button makes it.";
    const std::string atts = IncludeTrailingPathDelimiter(root) + Text(TFField::Eattdir);
    if (!IsDirectory(atts))
        return "The attachments directory " + atts + " does not exist: the Create button makes it.";
    return "";
}

void TF::CreateFoldersClick() {
    if (exporting_) return;
    const std::string root = Text(TFField::Emaildir);
    if (root.empty()) return;
    // The same folders a run from the command line creates: the root, and the attachments
    // directory below it.
    CreateDirectoryPath(IncludeTrailingPathDelimiter(IncludeTrailingPathDelimiter(root) + Text(TFField::Eattdir)));
    userActed_ = true;
    TestValid();
}

void TF::BrowseRootClick() {
    auto chosen = view_.AskFolder(Text(TFField::Emaildir));
    if (!chosen) return;
    userActed_ = true;
    SetText(TFField::Emaildir, IncludeTrailingPathDelimiter(*chosen));
}

void TF::BrowseAttsClick() {
    const std::string root = IncludeTrailingPathDelimiter(Text(TFField::Emaildir));
    auto chosen = view_.AskFolder(root + Text(TFField::Eattdir));
    if (!chosen) return;
    userActed_ = true;
    std::string dir = *chosen;
    while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();
    // Compared as the file system spells them: one delimiter kind, letter case as typed.
    auto same = [](char a, char b) { return a == b || ((a == '/' || a == '\\') && (b == '/' || b == '\\')); };
    if (dir.size() >= root.size() && std::equal(root.begin(), root.end(), dir.begin(), same)) {
        SetText(TFField::Eattdir, dir.substr(root.size()));
        return;
    }
    ShowStatus("The attachments directory must lie below the export root " + root, 1);
}

void TF::OpenArchiveFolderClick() {
    const std::string root = Text(TFField::Emaildir);
    if (!IsDirectory(root)) {
        ShowStatus("The export root " + root + " does not exist yet: nothing has been exported there.", 1);
        return;
    }
    view_.OpenFolder(root);
}

void TF::OpenArchiveClick() {
    const std::string root = Text(TFField::Emaildir);
    const std::string start = IncludeTrailingPathDelimiter(root) + "index.htm";
    if (!platform::FileExists(start)) {
        ShowStatus("The export root " + root + " holds no archive yet: its start page appears after an export.", 1);
        return;
    }
    view_.OpenFolder(start); // the desktop opens a page with the user's browser
}

std::string TF::AboutText() const {
    std::string text;
    const TAppInfo* info = env_.Info;
    text += (info ? info->ProductName : std::string("Quillmark")) + " " + (info ? info->ProductVersion : "");
    if (info && !info->FileVersion.empty()) text += " (file version " + info->FileVersion + ")";
    text += "\n";
    if (info && !info->Comments.empty()) text += info->Comments + "\n";
    text += "\nTurns a folder of mail into a static, browsable archive of HTML pages.\n";
    if (!env_.Libraries.empty()) {
        text += "\nBuilt with:\n";
        for (const auto& line : env_.Libraries) text += "  " + line + "\n";
    }
    return text;
}

void TF::AboutClick() {
    view_.ShowAbout("About " + (env_.Info ? env_.Info->ProductName : std::string("Quillmark")), AboutText());
}

void TF::TVChange(const outlook::FolderNode* node) {
    if (node) view_.SetExportCaption("5. Export [" + node->Text + "] ...");
    userActed_ = true;
    TestValid();
}

void TF::BmailClick() {
    const std::string current = Text(TFField::Email);
    auto chosen = view_.AskOpenFile(DirectoryPart(current), current, TemplateFilter, "htm");
    if (chosen) {
        userActed_ = true;
        SetText(TFField::Email, *chosen);
    }
}

void TF::L1990Click() { SetText(TFField::Edat1, DateTimeToText(EncodeDate(1990, 1, 1))); }

void TF::L2005Click() {
    double now = env_.Now ? env_.Now() : platform::NowLocal();
    SetText(TFField::Edat2, DateTimeToText(std::floor(now) + 1));
}

void TF::BstopClick() {
    if (run_) run_->RequestStop();
    ShowStatus("Break.", 1);
}

void TF::BmailoutClick() {
    // The button is off while a run goes on, but a click can still be queued from before;
    // a second run never starts inside the first.
    if (exporting_ || !run_) return;
    if (!SelectedFolder) return;

    ExportInputs in;
    in.FolderEntryID = SelectedFolder->EntryID;
    in.FolderStoreID = SelectedFolder->StoreID;
    in.TemplateFile = Text(TFField::Email);
    in.ExportRoot = Text(TFField::Emaildir);
    in.AttachmentsDir = Text(TFField::Eattdir);
    in.FromText = Text(TFField::Edat1);
    in.ToText = Text(TFField::Edat2);
    in.SizeText = Text(TFField::Esize);
    in.Recursive = view_.IncludeSubfolders();
    // The archive's start page, dates, threads and search are written again when the run ends,
    // as the command line does, so that "Open archive" shows what was just exported.
    in.BuildIndex = true;
    // One expression per line of the memo; empty lines are no expressions.
    SplitPageLines(Text(TFField::Mre_subj), in.SubjectLines);
    in.SubjectLines.erase(std::remove_if(in.SubjectLines.begin(), in.SubjectLines.end(),
                                         [](const std::string& l) { return l.find_first_not_of(" \t") == std::string::npos; }),
                          in.SubjectLines.end());

    struct RunGuard {
        TF& form;
        explicit RunGuard(TF& f) : form(f) {
            form.exporting_ = true;
            form.view_.SetBusyCursor(true);
        }
        ~RunGuard() {
            form.exporting_ = false;
            form.view_.SetBusyCursor(false);
        }
    };
    std::exception_ptr failure;
    ExportOutcome outcome = ExportOutcome::Busy;
    const auto started = std::chrono::steady_clock::now();
    {
        RunGuard guard(*this);
        try {
            view_.SetStopEnabled(true);
            view_.SetExportEnabled(false);
            view_.SetCreateFoldersEnabled(false);
            outcome = run_->ExportMails(in);
            view_.SetStopEnabled(false);
        } catch (...) {
            // A failed run leaves Stop as it was.
            failure = std::current_exception();
        }
    }
    // The inputs are checked again: Export comes back when they still hold, without the
    // user having to touch a field.
    TestValid();
    if (!failure) ShowRunSummary(outcome, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    if (failure) {
        if (!closeRequested_) std::rethrow_exception(failure);
        // The close the user asked for during the run still follows, once the error has
        // been shown.
        Guarded([&] { std::rethrow_exception(failure); });
    }
    if (closeRequested_) view_.CloseWindow();
}

bool TF::FormCloseQuery() {
    if (exporting_) {
        // The run goes on to its end with the window up; then the window closes.
        closeRequested_ = true;
        return false;
    }
    return true;
}

void TF::FormDestroy() {
    if (OutlookNameSpace) OutlookNameSpace->Logoff();
    if (Outlook) Outlook->Disconnect();
    SaveSettings();
}

void TF::Close() { Guarded([this] { FormDestroy(); }); }

void TF::ShowRunSummary(ExportOutcome outcome, double seconds) {
    if (outcome == ExportOutcome::Busy || !run_) return;
    const ExportStats& st = run_->Stats();
    auto count = [](int n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); };
    char time[32];
    std::snprintf(time, sizeof time, "%.1f s", seconds);
    std::string summary = count(st.Exported, "mail", "mails") + " exported, " + std::to_string(st.Filtered) +
                          " filtered out, " + count(st.AttachmentsSaved, "attachment", "attachments") + " saved";
    if (st.AttachmentsReused > 0) summary += " (" + std::to_string(st.AttachmentsReused) + " already there)";
    summary += ", " + std::string(time);
    switch (outcome) {
    case ExportOutcome::Completed:
        ShowStatus("Done: " + summary + ".", 0);
        break;
    case ExportOutcome::Stopped:
        ShowStatus("Stopped: " + summary + " before the stop.", 1);
        break;
    case ExportOutcome::Failed:
        // The run's own red line names the first mail that failed; it stays in front.
        ShowStatus(lastRunStatus_ + " - " + summary + ".", 1);
        break;
    case ExportOutcome::Busy:
        break;
    }
}

void TF::ShowStatus(const std::string& text, int mode) {
    statusExplains_ = false;
    lastRunStatus_ = text;
    view_.SetStatus(text, mode);
}

void TF::SetProgressMax(int maximum) { view_.SetProgressMax(maximum); }

void TF::SetProgress(int position) { view_.SetProgress(position); }

void TF::ProcessPendingEvents() { view_.ProcessPendingEvents(); }

void TF::SetFromText(const std::string& text) { SetText(TFField::Edat1, text); }

} // namespace quillmark
