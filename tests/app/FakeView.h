// A window without a display for the tests of TF: it records what TF shows and lets a test
// script the user's answers (file dialog, clicks during a run).
#pragma once

#include "app/QuillmarkMain.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillmark::testing {

class FakeView : public TFView {
public:
    void ShowSplash() override {
        SplashVisible = true;
        SplashLines = {""}; // the memo starts with one empty line
    }
    void AddSplashLine(const std::string& text) override { SplashLines.push_back(text); }
    void HideSplash() override { SplashVisible = false; }
    void SetTitle(const std::string& title) override { Title = title; }
    std::string FieldText(TFField field) override { return Texts[field]; }
    void SetFieldText(TFField field, const std::string& text) override { Texts[field] = text; }
    void SetFieldValid(TFField field, bool valid) override { Valid[field] = valid; }
    void SetExportEnabled(bool enabled) override { ExportEnabled = enabled; }
    void SetExportCaption(const std::string& caption) override { ExportCaption = caption; }
    void SetStopEnabled(bool enabled) override { StopEnabled = enabled; }
    void SetStatus(const std::string& text, int mode) override {
        Status = text;
        StatusMode = mode;
        StatusHistory.push_back(text);
    }
    void SetProgressMax(int maximum) override { ProgressMax = maximum; }
    void SetProgress(int position) override { Progress = position; }
    void ProcessPendingEvents() override {
        ++EventTurns;
        if (OnEvents) OnEvents(EventTurns);
    }
    void SetBusyCursor(bool busy) override { Busy = busy; }
    TFBounds Bounds() override { return WindowBounds; }
    void MoveTo(int left, int top) override {
        WindowBounds.Left = left;
        WindowBounds.Top = top;
    }
    void SetSize(int width, int height) override {
        WindowBounds.Width = width;
        WindowBounds.Height = height;
    }
    void SetCreateFoldersEnabled(bool enabled) override { CreateFoldersEnabled = enabled; }
    void OpenFolder(const std::string& path) override { OpenedFolders.push_back(path); }
    void ShowAbout(const std::string& title, const std::string& text) override {
        AboutTitle = title;
        AboutText = text;
    }
    void ShowTree(const outlook::FolderTreeModel& tree) override {
        Tree = &tree;
        Selected = nullptr;
        ++TreeShows;
    }
    const outlook::FolderNode* SelectedNode() override { return Selected; }
    bool IncludeSubfolders() override { return Subfolders; }
    void SetIncludeSubfolders(bool include) override { Subfolders = include; }
    std::optional<std::string> AskOpenFile(const std::string& initialDir, const std::string& fileName,
                                           const std::string& filter, const std::string& defaultExt) override {
        DialogArgs = {initialDir, fileName, filter, defaultExt};
        return DialogAnswer;
    }
    std::optional<std::string> AskFolder(const std::string& initialDir) override {
        FolderDialogArgs.push_back(initialDir);
        return FolderAnswer;
    }
    void ShowError(const std::string& message) override {
        Errors.push_back(message);
        ErrorSplashLines.push_back(SplashVisible ? SplashLines.back() : std::string());
    }
    void CloseWindow() override {
        ++CloseRequests;
        if (OnClose) OnClose();
    }

    // Selects a node the way a click does: the view changes its selection, then TF hears.
    void Select(TF& form, const outlook::FolderNode* node) {
        Selected = node;
        form.TVChange(node);
    }
    // Types into a field.
    void Type(TF& form, TFField field, const std::string& text) {
        Texts[field] = text;
        form.FieldChanged(field);
    }
    // The top-level node with the given text, or a child of it by path.
    const outlook::FolderNode* Find(const std::vector<std::string>& path) const {
        const std::vector<std::unique_ptr<outlook::FolderNode>>* level = &Tree->TopLevel();
        const outlook::FolderNode* found = nullptr;
        for (const auto& name : path) {
            found = nullptr;
            for (const auto& n : *level)
                if (n->Text == name) found = n.get();
            if (!found) return nullptr;
            level = &found->Children;
        }
        return found;
    }

    bool SplashVisible = false;
    std::vector<std::string> SplashLines;
    std::string Title;
    std::map<TFField, std::string> Texts;
    std::map<TFField, bool> Valid;
    bool ExportEnabled = false;
    std::string ExportCaption = "5. Export ...";
    bool StopEnabled = false;
    std::string Status;
    int StatusMode = 0;
    std::vector<std::string> StatusHistory;
    int ProgressMax = 100, Progress = 0;
    int EventTurns = 0;
    std::function<void(int)> OnEvents;
    bool Busy = false;
    TFBounds WindowBounds;
    const outlook::FolderTreeModel* Tree = nullptr;
    int TreeShows = 0;
    const outlook::FolderNode* Selected = nullptr;
    bool Subfolders = false; // the "Include subfolders" check box
    std::vector<std::string> DialogArgs;
    std::optional<std::string> DialogAnswer;
    std::vector<std::string> Errors;
    std::vector<std::string> ErrorSplashLines; // last splash line when each error came up
    int CloseRequests = 0;
    bool CreateFoldersEnabled = false;
    std::vector<std::string> OpenedFolders;
    std::string AboutTitle, AboutText;
    std::vector<std::string> FolderDialogArgs;
    std::optional<std::string> FolderAnswer;
    std::function<void()> OnClose; // the window's own close, which asks TF again
};

} // namespace quillmark::testing
