// The Qt 6 view of the main window: the controls of TF laid out as designed, each event
// handed to TF under the application's error handler.
#pragma once

#include "app/QuillmarkMain.h"
#include "app/gui/QuillmarkSplash.h"

#include <QWidget>

#include <map>
#include <memory>

class QGroupBox;
class QLabel;
class QMenuBar;
class QAction;
class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace quillmark::gui {

// A label that acts as a link: navy, underlined, hand cursor, a click runs an action.
class TLinkLabel;

class TFMainWindow : public QWidget, public TFView {
public:
    explicit TFMainWindow(TFEnvironment env);
    ~TFMainWindow() override;

    TF& Form() { return *form_; }
    TFsplash& Splash() { return splash_; }

    // Controls by their design names, for tests and the screenshot script.
    QTreeWidget* TV() const { return tv_; }
    QCheckBox* Subfolders() const { return subfolders_; }
    QLineEdit* Edit(TFField field) const;
    QPlainTextEdit* Mre_subj() const { return mreSubj_; }
    QPushButton* Bmailout() const { return bmailout_; }
    QPushButton* Bstop() const { return bstop_; }
    QPushButton* Bmail() const { return bmail_; }
    QLabel* PStatus() const { return pstatus_; }
    QProgressBar* PB() const { return pb_; }
    QLabel* L1990() const;
    QLabel* L2005() const;
    QPushButton* Bcreate() const { return bcreate_; }
    QMenuBar* MenuBar() const { return menuBar_; }
    // The menu command with the given object name ("FileOpenStore", "FileCloseStore",
    // "FileOpenArchive", "FileExit", "HelpAbout").
    QAction* Command(const char* name) const;
    QLabel* Label1() const { return label1_; }
    QTreeWidgetItem* ItemOf(const outlook::FolderNode* node) const;

    // Replaces the modal dialogs (tests under the offscreen platform have no user).
    std::function<void(const std::string&)> ErrorHook;
    std::function<std::optional<std::string>()> OpenFileHook;
    std::function<std::optional<std::string>()> FolderHook;
    std::function<void(const std::string&)> OpenFolderHook;
    std::function<void(const std::string&, const std::string&)> AboutHook;
    // Picks one of several stores to close; nullopt on cancel.
    std::function<std::optional<std::string>(const std::vector<std::string>&)> ChooseStoreHook;

    // TFView
    void ShowSplash() override;
    void AddSplashLine(const std::string& text) override;
    void HideSplash() override;
    void SetTitle(const std::string& title) override;
    std::string FieldText(TFField field) override;
    void SetFieldText(TFField field, const std::string& text) override;
    void SetFieldValid(TFField field, bool valid) override;
    void SetExportEnabled(bool enabled) override;
    void SetExportCaption(const std::string& caption) override;
    void SetStopEnabled(bool enabled) override;
    void SetStatus(const std::string& text, int mode) override;
    void SetProgressMax(int maximum) override;
    void SetProgress(int position) override;
    void ProcessPendingEvents() override;
    void SetBusyCursor(bool busy) override;
    TFBounds Bounds() override;
    void MoveTo(int left, int top) override;
    void SetSize(int width, int height) override;
    void SetCreateFoldersEnabled(bool enabled) override;
    void OpenFolder(const std::string& path) override;
    void ShowAbout(const std::string& title, const std::string& text) override;
    void ShowTree(const outlook::FolderTreeModel& tree) override;
    const outlook::FolderNode* SelectedNode() override;
    bool IncludeSubfolders() override;
    void SetIncludeSubfolders(bool include) override;
    std::optional<std::string> AskOpenFile(const std::string& initialDir, const std::string& fileName,
                                           const std::string& filter, const std::string& defaultExt) override;
    std::optional<std::string> AskFolder(const std::string& initialDir) override;
    void ShowError(const std::string& message) override;
    void CloseWindow() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildControls();
    void BuildMenu();
    // Places every control for the window's current size: the tree grows in height and takes
    // a quarter of any extra width, the fields and the expression memo take the rest.
    void LayOut();
    // How much taller than designed the status line must be for its font.
    int StatusExtra() const;
    void OpenStoreCommand();
    void CloseStoreCommand();
    void ShowTreeMenu(const QPoint& at);
    void AddChildren(QTreeWidgetItem* parent, const outlook::FolderNode& node);

    TFsplash splash_;
    QMenuBar* menuBar_ = nullptr;
    QWidget* body_ = nullptr;
    QPushButton* bcreate_ = nullptr;
    QLabel* label1_ = nullptr;
    std::map<std::string, QWidget*> labels_;
    std::unique_ptr<TF> form_;
    QTreeWidget* tv_ = nullptr;
    QCheckBox* subfolders_ = nullptr;
    std::map<TFField, QLineEdit*> edits_;
    QPlainTextEdit* mreSubj_ = nullptr;
    QPushButton* bmail_ = nullptr;
    QPushButton* bmailout_ = nullptr;
    QPushButton* bstop_ = nullptr;
    QProgressBar* pb_ = nullptr;
    QLabel* pstatus_ = nullptr;
    QGroupBox* gbrestrict_ = nullptr;
    TLinkLabel* l1990_ = nullptr;
    TLinkLabel* l2005_ = nullptr;
    std::map<const outlook::FolderNode*, QTreeWidgetItem*> items_;
    int busyDepth_ = 0;
    bool closed_ = false; // the close sequence runs once
};

// The standard error box's text: the message with a full stop added when it ends in a
// letter or digit (as the desktop framework's own box does).
std::string ErrorBoxText(const std::string& message);

} // namespace quillmark::gui
