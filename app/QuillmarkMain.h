// TF, the main window's logic: the start-up sequence, input validation, the commands, the
// export run's wiring and the close rules. It drives the window through TFView, so the same
// logic runs under the Qt widgets, a future native view and the tests' fake view, and it
// needs no display.
#pragma once

#include "app/AppInfo.h"
#include "export/ExportRun.h"
#include "outlook/FolderTree.h"
#include "outlook/ObjectModel.h"
#include "platform/SettingsStore.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillmark {

// The inputs of the window whose texts TF reads and writes.
enum class TFField { Email, Emaildir, Eattdir, Edat1, Edat2, Esize, Mre_subj };

struct TFBounds {
    int Left = 695, Top = 439, Width = 784, Height = 401;
};

// The window as TF sees it. Setting a text must not call back into TF: TF runs the
// validation itself where a change of text calls for it.
class TFView {
public:
    virtual ~TFView() = default;

    // Splash window: its memo starts with one empty line; each call appends a line.
    virtual void ShowSplash() = 0;
    virtual void AddSplashLine(const std::string& text) = 0;
    virtual void HideSplash() = 0;

    virtual void SetTitle(const std::string& title) = 0;
    virtual std::string FieldText(TFField field) = 0;
    // Mre_subj takes and gives its lines joined by CR LF.
    virtual void SetFieldText(TFField field, const std::string& text) = 0;
    // Font colour of an input: the window-text colour when valid, red when not.
    virtual void SetFieldValid(TFField field, bool valid) = 0;
    virtual void SetExportEnabled(bool enabled) = 0;
    virtual void SetExportCaption(const std::string& caption) = 0;
    virtual void SetStopEnabled(bool enabled) = 0;
    // The status line: mode 0 button-face colour, 1 red, other modes keep the colour; the
    // line is repainted at once.
    virtual void SetStatus(const std::string& text, int mode) = 0;
    virtual void SetProgressMax(int maximum) = 0;
    virtual void SetProgress(int position) = 0;
    // One turn of the event loop: clicks (Stop among them) are handled in here.
    virtual void ProcessPendingEvents() = 0;
    virtual void SetBusyCursor(bool busy) = 0;

    virtual TFBounds Bounds() = 0;
    virtual void MoveTo(int left, int top) = 0;
    // The window's outer size; the view keeps it no smaller than its minimum.
    virtual void SetSize(int width, int height) = 0;
    // The command that creates a missing export root / attachments folder is offered only
    // while one of them is missing.
    virtual void SetCreateFoldersEnabled(bool enabled) = 0;
    // Opens a folder in the desktop's file manager.
    virtual void OpenFolder(const std::string& path) = 0;
    // The About box.
    virtual void ShowAbout(const std::string& title, const std::string& text) = 0;

    // Rebuilds the tree view from the model (nodes keep their addresses for the model's
    // life) and clears the selection.
    virtual void ShowTree(const outlook::FolderTreeModel& tree) = 0;
    virtual const outlook::FolderNode* SelectedNode() = 0;
    // The check box under the tree: the run takes the selected folder's subfolders too.
    virtual bool IncludeSubfolders() = 0;
    virtual void SetIncludeSubfolders(bool include) = 0;

    // The file-open dialog; nullopt on cancel. filter is "Description (*.ext)|*.ext".
    virtual std::optional<std::string> AskOpenFile(const std::string& initialDir, const std::string& fileName,
                                                   const std::string& filter, const std::string& defaultExt) = 0;
    // The folder picker; nullopt on cancel.
    virtual std::optional<std::string> AskFolder(const std::string& initialDir) = 0;
    // The standard error message box.
    virtual void ShowError(const std::string& message) = 0;
    // Closes the window (the close rules run again).
    virtual void CloseWindow() = 0;
};

// What TF takes from the program around it; tests fill it with fakes.
struct TFEnvironment {
    std::string ApplicationDir;     // with trailing delimiter
    std::string ExecutableBaseName; // "quillmark"
    const TAppInfo* Info = nullptr;
    platform::SettingsStore* Settings = nullptr;
    // Opens the mail stores at the given paths as one Outlook-like application.
    std::function<std::shared_ptr<outlook::Application>(const std::vector<std::string>&)> Connect;
    // The bundled sample store, used when no store is named ("" when there is none).
    std::function<std::string()> SampleStorePath;
    // Stores named on the command line; they replace the remembered list.
    std::vector<std::string> StoreArguments;
    // Where defaults go when ApplicationDir is not writable (per-user data directory).
    std::string UserDataDir;
    std::function<bool(const std::string&)> DirectoryWritable;
    std::function<double()> Now; // local date and time
    // The libraries the program is built with, one line each with its licence, for About.
    std::vector<std::string> Libraries;
};

class TF : public ExportHost {
public:
    static constexpr const char* ShortDateFormat = "yyyy-MM-dd";
    static constexpr const char* DateSeparator = "-";
    static constexpr const char* TemplateFilter = "Template html files (*.htm)|*.htm";

    TF(TFView& view, TFEnvironment env);
    ~TF() override;

    // Event handlers, named as the window wires them. They do not catch errors: the
    // application's handler (Guarded) shows them.
    void FormCreate();
    void FormDestroy();
    void TestValid();
    void TVChange(const outlook::FolderNode* node);
    void BmailClick();
    void BmailoutClick();
    void BstopClick();
    void L1990Click();
    void L2005Click();
    // Creates the export root and the attachments folder below it, as the command line
    // creates them before a run.
    void CreateFoldersClick();
    // Browse for the export root, and for the attachments directory (which must lie below
    // the root: the field holds its name relative to the root).
    void BrowseRootClick();
    void BrowseAttsClick();
    // The menu's "Open archive folder": the export root in the file manager.
    void OpenArchiveFolderClick();
    // The archive's start page (index.htm of the export root) in the user's browser.
    void OpenArchiveClick();
    void AboutClick();
    // The user changed the text of an input.
    void FieldChanged(TFField field);

    // Why Export cannot run with the inputs as they are ("" when it can). In the order the
    // window numbers its steps: the folder, the template, the root, the attachments folder.
    std::string ExportProblem();
    // The tree node's caption: the folder's name and its number of items.
    std::string NodeCaption(const outlook::FolderNode& node) const;
    std::string AboutText() const;

    // Start-up as the program runs it: FormCreate under the application's handler. A failed
    // start-up shows its error over the splash (whose last line names the stage that
    // failed) and then hides the splash, so it never stays on screen over the window.
    void Start();
    // Asked before the window closes. While an export runs the answer is no, and the window
    // closes by itself once the run has returned.
    bool FormCloseQuery();
    // The close sequence as the program runs it: FormDestroy under the application's handler.
    void Close();

    // Mail stores (additive, off Windows): the list the user named, remembered in the
    // settings. Opening or closing one reconnects and rebuilds the tree; refused while an
    // export runs.
    void OpenMailStore(const std::string& path);
    void CloseMailStore(const std::string& path);
    const std::vector<std::string>& MailStores() const { return mailStores_; }
    void SetMailStores(std::vector<std::string> stores) { mailStores_ = std::move(stores); }
    // The paths the store connection was made with (the sample store when none is named).
    const std::vector<std::string>& ConnectedStores() const { return connectedStores_; }

    // The application's handler: runs f, shows any escaping error in the error box and goes
    // on. False when an error was shown.
    bool Guarded(const std::function<void()>& f);

    void ShowStatus(const std::string& text, int mode) override;

    // Text of a field, and setting one the way the program does (which validates).
    std::string Text(TFField field) { return view_.FieldText(field); }
    void SetText(TFField field, const std::string& text);

    void LoadSettings();
    void SaveSettings();
    std::string SettingsKeyPath() const;

    TFView& View() { return view_; }
    const TFEnvironment& Environment() const { return env_; }
    bool Exporting() const { return exporting_; }
    ExportRun* Run() { return run_.get(); }

    // State kept for the window's life.
    std::shared_ptr<outlook::Application> Outlook;
    std::shared_ptr<outlook::NameSpace> OutlookNameSpace;
    const outlook::TOLFolder* SelectedFolder = nullptr;
    outlook::FolderTreeModel Tree;

private:
    // ExportHost
    void SetProgressMax(int maximum) override;
    void SetProgress(int position) override;
    void ProcessPendingEvents() override;
    void SetFromText(const std::string& text) override;

    void ConnectStores();
    void ScanTree();
    void CountMails();
    void ShowRunSummary(ExportOutcome outcome, double seconds);
    void DisconnectStores();
    void Reconnect();
    AppIdentity Identity() const;

    TFView& view_;
    TFEnvironment env_;
    std::unique_ptr<ExportRun> run_;
    std::vector<std::string> mailStores_;
    std::vector<std::string> connectedStores_;
    bool exporting_ = false;
    bool closeRequested_ = false;
    // The status line shows TF's own explanation of the inputs (or nothing): a new one may
    // replace it. Other messages (a run's summary, a store's warning) stay until the user
    // changes an input.
    bool statusExplains_ = true;
    bool userActed_ = false;
    std::string lastRunStatus_;
    std::map<const outlook::FolderNode*, int> mailCounts_;
};

// The directory part of a path, up to and including its last "\" or "/" ("" when none).
std::string DirectoryPart(const std::string& path);

} // namespace quillmark
