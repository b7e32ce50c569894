// The native Win32 view of the main window: plain Win32 controls and common controls, all
// text through the wide (UTF-16) API. TF runs the window's logic; this class only shows
// what TF says and hands each user action to TF under the application's error handler.
#pragma once

#include "app/QuillmarkMain.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <map>
#include <memory>
#include <string>

namespace quillmark::win32 {

class TFWin32Window : public TFView {
public:
    TFWin32Window(HINSTANCE instance, TFEnvironment env);
    ~TFWin32Window() override;

    HWND Handle() const { return hwnd_; }
    TF& Form() { return *form_; }
    // Shows the window and runs the message loop until it is closed; the process's exit code.
    int Run(int showCommand);

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

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK SplashProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
    void CreateControls();
    void CreateMenuAndKeys();
    void ApplyFonts();
    void LayOut();
    void OnCommand(int id, int code);
    void OnNotify(NMHDR* header);
    void CloseStoreCommand();
    void OpenStoreCommand();
    // A message taken off the queue: keys of the menu and the dialog-like keyboard first.
    bool Translate(MSG& msg);
    void Guarded(const std::function<void()>& f);
    int Dp(int value) const;
    HWND Control(int id) const { return GetDlgItem(hwnd_, id); }
    HWND FieldControl(TFField field) const;
    void AddTreeChildren(void* parentItem, const outlook::FolderNode& node);

    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    HWND splash_ = nullptr;
    HWND splashMemo_ = nullptr;
    HACCEL keys_ = nullptr;
    HFONT font_ = nullptr, boldFont_ = nullptr, linkFont_ = nullptr, titleFont_ = nullptr;
    HBRUSH redBrush_ = nullptr;
    UINT dpi_ = 96;
    std::unique_ptr<TF> form_;
    std::map<TFField, bool> invalid_;
    int statusMode_ = 0;
    int busyDepth_ = 0;
    bool exportEnabledByForm_ = false;
    bool settingText_ = false; // our own SetWindowText: no change event for TF
    bool fillingTree_ = false; // rebuilding the tree: no selection event for TF
    bool closed_ = false;
    bool quitSeen_ = false;
    int quitCode_ = 0;
};

// The standard error box's text: a full stop added when the message ends in a letter or digit.
std::string ErrorBoxText(const std::string& message);

} // namespace quillmark::win32
