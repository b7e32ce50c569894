// What every command of quillmark-export shares: the program's name and options, how it
// speaks to the user (every error once, on standard error, after the program's name), the
// application's identity, and the mail stores it opens.
#pragma once

#include "app/cli/CliOptions.h"
#include "export/ExportRun.h"

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace quillmark::outlook {
class Application;
class NameSpace;
class FolderTreeModel;
struct FolderNode;
} // namespace quillmark::outlook

namespace quillmark::cli {

class CliHost {
public:
    CliHost(std::string programName, CliOptions options, AppIdentity identity, std::ostream& out,
            std::ostream& err);
    ~CliHost();
    CliHost(const CliHost&) = delete;
    CliHost& operator=(const CliHost&) = delete;

    const std::string& Program() const { return program_; }
    const CliOptions& Options() const { return options_; }
    const AppIdentity& Identity() const { return identity_; }
    std::ostream& Out() { return out_; }
    std::ostream& Err() { return err_; }

    // "quillmark-export: text" on standard error. Returns code, so that a command can end
    // with `return host.Fail(ExitUsage, "...")`.
    int Fail(int code, const std::string& text);
    // A usage error: the message and the hint to --help.
    int FailUsage(const std::string& text);
    // "quillmark-export: warning: text"; silent with --quiet.
    void Warn(const std::string& text);

    // Opens the stores of --store (or the bundled sample store), logs on and reads the
    // folder tree. Store errors leave as exceptions.
    void OpenStores();
    void CloseStores();
    const std::shared_ptr<outlook::NameSpace>& NameSpace() const { return nameSpace_; }
    const outlook::FolderTreeModel& Tree() const { return *tree_; }
    // The folder named by its display names from the top of the tree, joined by "/".
    const outlook::FolderNode* FindFolder(const std::string& path) const;

private:
    std::string program_;
    CliOptions options_;
    AppIdentity identity_;
    std::ostream& out_;
    std::ostream& err_;
    std::shared_ptr<outlook::Application> app_;
    std::shared_ptr<outlook::NameSpace> nameSpace_;
    std::unique_ptr<outlook::FolderTreeModel> tree_;
};

// The commands; each returns the program's exit status.
int RunExportCommand(CliHost& host);
int RunListCommand(CliHost& host);
int RunWriteTemplateCommand(CliHost& host);
int RunRebuildIndexCommand(CliHost& host);

// The folder path without "/" at either end, as the tree spells paths.
std::string TrimFolderPath(const std::string& path);

} // namespace quillmark::cli
