// quillmark-export: the export run from the command line, for scripts, schedules and
// machines without a desktop.
#ifdef QUILLMARK_HAVE_APPINFO
#include "app/AppInfo.h"
#endif
#include "app/cli/CliOptions.h"
#include "app/cli/ResumeState.h"
#include "app/cli/Terminal.h"
#include "cli/BuildInfo.h"

#include "SrcLib/DateTime.h"
#include "SrcLib/uLib.h"
#include "export/ExportRun.h"
#include "export/RootGuard.h"
#include "outlook/FolderTree.h"
#include "outlook/StoreFactory.h"
#include "platform/CodePage.h"
#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "template/BrowseTemplate.h"
#include "template/DefaultTemplate.h"
#ifdef QUILLMARK_HAVE_ARCHIVE
#include "archive/IndexPages.h"
#endif

#include <chrono>
#include <csignal>
#include <filesystem>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace quillmark::cli {
namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int) {
    interrupted = 1;
    // A second Ctrl-C ends the program at once, as the user then clearly wants.
    std::signal(SIGINT, SIG_DFL);
}


class CliHost : public ExportHost {
public:
    CliHost(bool quiet, bool terminal) : quiet_(quiet), terminal_(terminal) {}

    void Attach(ExportRun* run) { run_ = run; }

    void ShowStatus(const std::string& text, int mode) override {
        if (text == "Regular expression error...") {
            if (!regexWarned_) std::cerr << "warning: a --subject expression does not compile; no mail passes it\n";
            regexWarned_ = true;
            return;
        }
        if (quiet_) return;
        if (terminal_) {
            status_ = text;
            Draw(false);
        } else if (!text.empty() && text[0] == '#') {
            std::cout << (mode == 1 ? "skipped " : "") << text << '\n';
        } else if (text != "ok") {
            std::cout << text << '\n';
        }
    }
    // Failures go to standard error whatever --quiet says: a script must be able to see them.
    void ReportFailure(const std::string& text) override {
        ClearLine();
        std::cerr << "failed: " << text << '\n';
    }
    void ShowNotice(const std::string& text) override {
        if (quiet_) return;
        ClearLine();
        std::cerr << "note: " << text << '\n';
    }
    void SetProgressMax(int maximum) override { max_ = maximum; }
    void SetProgress(int position) override { position_ = position; }
    void ProcessPendingEvents() override {
        if (interrupted && run_ && !run_->StopRequested) {
            run_->RequestStop();
            ShowStatus("Break.", 1);
        }
    }
    void SetFromText(const std::string& text) override { fromText_ = text; }

    void Finish() {
        if (!quiet_ && terminal_ && drawn_) {
            Draw(true);
            std::cerr << '\n';
        }
    }
    const std::string& FromText() const { return fromText_; }

private:
    // The progress bar shares standard error: a message starts on a line of its own, and the
    // bar is drawn again below it.
    void ClearLine() {
        if (terminal_ && drawn_) std::cerr << "\r\x1b[K";
        drawn_ = false;
    }
    void Draw(bool force) {
        // Redrawing for every mail of a large folder would cost more than the export;
        // a few times a second is all an eye can follow.
        const auto now = std::chrono::steady_clock::now();
        if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
        lastDraw_ = now;
        drawn_ = true;
        constexpr int width = 30;
        const int filled = max_ > 0 ? static_cast<int>(static_cast<long long>(position_) * width / max_) : width;
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.append(static_cast<std::size_t>(width - filled), '.');
        std::string status = status_;
        if (status.size() > 60) status.resize(60);
        std::cerr << "\r[" << bar << "] " << position_ << "/" << max_ << "  " << status << "\x1b[K" << std::flush;
    }

    bool quiet_, terminal_;
    ExportRun* run_ = nullptr;
    int max_ = 0, position_ = 0;
    std::string status_, fromText_;
    bool drawn_ = false, regexWarned_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

AppIdentity BuildIdentity() {
    AppIdentity id;
#ifdef QUILLMARK_HAVE_APPINFO
    InitAppInfo();
    const TAppInfo& info = AppInfo();
    if (!info.ProductName.empty()) {
        id.ProductName = info.ProductName;
        id.ProductVersion = info.ProductVersion;
        id.FileVersion = info.FileVersion;
        id.Comments = info.Comments;
        id.ExecutableBaseName = ExecutableBaseName();
        return id;
    }
#endif
    // No readable version block (a stripped or foreign-built executable): the values the
    // build states, rather than a footer reading " v".
    id.ProductName = QUILLMARK_BUILD_PRODUCT_NAME;
    id.ProductVersion = QUILLMARK_BUILD_PRODUCT_VERSION;
    id.FileVersion = QUILLMARK_BUILD_FILE_VERSION;
    id.Comments = QUILLMARK_BUILD_COMMENTS;
    id.ExecutableBaseName = ExecutableBaseName();
    return id;
}

// The node whose display names, from the top of the tree, spell path. A name may itself
// hold "/": at each level the longest child name that fits the rest of the path wins.
const outlook::FolderNode* FindFolder(const std::vector<std::unique_ptr<outlook::FolderNode>>& level,
                                      const std::string& rest) {
    const outlook::FolderNode* best = nullptr;
    const outlook::FolderNode* bestResult = nullptr;
    for (const auto& node : level) {
        const std::string& name = node->Text;
        if (rest.compare(0, name.size(), name) != 0) continue;
        if (best && best->Text.size() >= name.size()) continue;
        std::size_t next = name.size();
        if (next == rest.size()) {
            best = node.get();
            bestResult = node.get();
            continue;
        }
        if (rest[next] != '/') continue;
        while (next < rest.size() && rest[next] == '/') ++next;
        if (next == rest.size()) {
            best = node.get();
            bestResult = node.get();
            continue;
        }
        if (auto found = FindFolder(node->Children, rest.substr(next))) {
            best = node.get();
            bestResult = found;
        }
    }
    return bestResult;
}

void PrintTree(outlook::NameSpace& ns, const std::vector<std::unique_ptr<outlook::FolderNode>>& level, int depth) {
    for (const auto& node : level) {
        std::string count = "?";
        try {
            auto folder = ns.GetFolderFromID(node->Folder.EntryID, node->Folder.StoreID);
            count = std::to_string(folder->Items()->Count());
        } catch (const std::exception&) {
        }
        std::cout << std::string(static_cast<std::size_t>(depth) * 2, ' ') << node->Text << "  (" << count
                  << ")\n";
        PrintTree(ns, node->Children, depth + 1);
    }
}

// --rebuild-index: the index pages of a root from its manifest, without a store.
int RebuildIndex(const std::string& program, const CliOptions& o) {
    const std::string root = platform::Utf8Path(std::filesystem::absolute(platform::NativePath(o.Out)));
#ifdef QUILLMARK_HAVE_ARCHIVE
    if (!platform::FileExists(IncludeTrailingPathDelimiter(root) + Manifest::RelativePath)) {
        std::cerr << program << ": " << o.Out << " holds no archive (" << Manifest::RelativePath << ")\n";
        return ExitError;
    }
    const auto start = std::chrono::steady_clock::now();
    const IndexBuildStats s = RebuildArchiveIndex(root);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!o.Quiet)
        std::cout << "Index of " << o.Out << ": " << s.Mails << " mails, " << s.Threads << " threads, " << s.Senders
                  << " senders; " << s.Files << " files, " << s.Bytes << " bytes (search data " << s.SearchBytes
                  << "), " << s.FilesRemoved << " old files removed, in " << seconds << " s\n";
    if (s.StartPageKept)
        std::cerr << program << ": " << o.Out << "/index.htm is not the archive's; left as it is (the index pages are in "
                  << ArchiveDirName << "/)\n";
    return ExitOk;
#else
    (void)root;
    std::cerr << program << ": this build keeps no archive manifest (built without SQLite)\n";
    return ExitError;
#endif
}

int Run(int argc, char** argv) {
    InitStartupPaths();
    platform::UseUtf8Console();
    const std::string program = argc > 0 && argv[0] ? FileBaseName(argv[0]) : "quillmark-export";

    CliOptions o;
    try {
        o = ParseCliOptions(platform::CommandLineArguments(argc, argv));
    } catch (const EUsage& e) {
        std::cerr << program << ": " << e.Message() << "\nTry '" << program << " --help'.\n";
        return ExitUsage;
    }
    if (o.Help) {
        std::cout << HelpText(program);
        return 0;
    }
    const AppIdentity identity = BuildIdentity();
    if (o.Version) {
        std::cout << identity.ProductName << " v" << identity.FileVersion << " (" << program << ")\n";
        return 0;
    }
    if (!o.WriteDefaultTemplate.empty()) {
        const std::string path = o.WriteDefaultTemplate;
        if (platform::PathExists(path)) {
            std::cerr << program << ": " << o.WriteDefaultTemplate << " exists; not replaced\n";
            return 1;
        }
        if (o.Template == BrowseTemplateName) {
            platform::AtomicWriteOptions durable;
            durable.Durable = true;
            platform::WriteFileAtomic(path, BrowseTemplateText(), durable);
        } else {
            WriteDefaultTemplate(path);
        }
        if (!o.Quiet) std::cout << "wrote the built-in template to " << o.WriteDefaultTemplate << '\n';
        return 0;
    }
    if (o.RebuildIndex) return RebuildIndex(program, o);

    std::vector<std::string> stores;
    for (const auto& s : o.Stores) stores.push_back(s);
    if (stores.empty()) {
        const std::string sample = outlook::DefaultSampleStorePath();
        if (sample.empty()) throw Exception("no --store given and the bundled sample store was not found");
        stores.push_back(sample);
    }
    auto app = outlook::ConnectApplication(stores);
    const bool quiet = o.Quiet;
    app->SetWarningHandler([quiet](const std::string& message) {
        if (!quiet) std::cerr << "warning: " << message << '\n';
    });
    auto ns = app->GetNamespace("MAPI");
    ns->Logon();

    outlook::FolderTreeModel tree;
    tree.ScanFolders(*ns->Folders(), nullptr);

    if (o.List) {
        PrintTree(*ns, tree.TopLevel(), 0);
        ns->Logoff();
        app->Disconnect();
        return 0;
    }

    const std::string folderPath = o.Folder;
    std::string trimmed = folderPath;
    while (!trimmed.empty() && trimmed.front() == '/') trimmed.erase(0, 1);
    while (!trimmed.empty() && trimmed.back() == '/') trimmed.pop_back();
    const outlook::FolderNode* node = FindFolder(tree.TopLevel(), trimmed);
    if (!node) {
        std::cerr << program << ": no folder \"" << o.Folder << "\" (see --list)\n";
        return ExitUsage;
    }

    ExportInputs in;
    in.FolderEntryID = node->Folder.EntryID;
    in.FolderStoreID = node->Folder.StoreID;
    if (o.Template.empty()) {
        in.TemplateLines = DefaultTemplateLines();
    } else if (o.Template == BrowseTemplateName) {
        in.TemplateLines = BrowseTemplateLines();
    } else {
        in.TemplateFile = o.Template;
        if (!platform::FileExists(in.TemplateFile))
            throw EFOpenError("Cannot open file " + in.TemplateFile);
    }
    // The directory helpers build paths from the top, so the root is made absolute here.
    in.ExportRoot = platform::Utf8Path(std::filesystem::absolute(platform::NativePath(o.Out)));
    in.AttachmentsDir = o.Atts;
    // Unlike the window, the command line makes what it needs.
    if (!CreateDirectoryPath(in.ExportRoot)) throw EFCreateError("Cannot create directory " + in.ExportRoot);
    const std::string attsDir = IncludeTrailingPathDelimiter(in.ExportRoot) + in.AttachmentsDir;
    if (!CreateDirectoryPath(attsDir)) throw EFCreateError("Cannot create directory " + attsDir);

    const std::string stateFile = IncludeTrailingPathDelimiter(in.ExportRoot) + ResumeStateFileName;
    // Keyed by the folder's names as the tree spells them, however --folder was typed.
    std::string stateKey;
    for (const outlook::FolderNode* n = node; n; n = n->Parent)
        stateKey = n->Text + (stateKey.empty() ? "" : "/" + stateKey);
    if (o.From) in.FromText = *o.From;
    if (o.Resume) in.ResumeFromText = LoadResumeFrom(stateFile, stateKey).value_or("");
    // --resume exports what the archive does not hold yet; the stored bound only serves a
    // root whose archive does not know the folder (made by an earlier version).
    in.OnlyNew = o.Resume;
    in.BuildIndex = true;
    in.FolderPath = trimmed;
    in.ToText = o.To;
    in.SizeText = o.MinBody;
    for (const auto& s : o.Subjects) in.SubjectLines.push_back(s);

    CliHost host(o.Quiet, StderrIsTerminal());
    ExportRun run(ns, host, identity);
    host.Attach(&run);
    std::signal(SIGINT, OnInterrupt);

    ExportOutcome outcome;
    try {
        outcome = run.ExportMails(in);
    } catch (const ERootInUse& e) {
        host.Finish();
        std::cerr << program << ": " << e.Message() << '\n';
        return ExitRootInUse;
    } catch (...) {
        host.Finish();
        throw;
    }
    host.Finish();
    std::signal(SIGINT, SIG_DFL);

    // With failures the run's bound stays at the earliest mail not written, so saving it
    // keeps that mail in the next --resume run.
    const bool visitedAll = outcome == ExportOutcome::Completed || outcome == ExportOutcome::Failed;
    if (visitedAll && o.Resume) SaveResumeFrom(stateFile, stateKey, host.FromText());

    if (!o.Quiet) {
        const auto& s = run.Stats();
        std::cout << "Folder:             " << trimmed << "  ->  " << o.Out << '\n'
                  << "Items seen:         " << s.ItemsSeen << " of " << s.ItemCount << '\n'
                  << "Exported:           " << s.Exported << '\n'
                  << "Filtered:           " << s.Filtered << '\n'
                  << "Not mail:           " << s.NotMail << '\n'
                  << "Duplicates:         " << s.Duplicates << '\n'
                  << "Already archived:   " << s.AlreadyArchived << '\n'
                  << "Attachments saved:  " << s.AttachmentsSaved << " (already saved: " << s.AttachmentsReused
                  << ")\n"
                  << "Pictures saved:     " << s.PicturesSaved << " (already saved: " << s.PicturesReused << ")\n"
                  << "Not written:        " << s.Failed << (s.Failed ? " (named on standard error)" : "") << '\n'
                  << "Last mail time:     " << DateTimeToText(s.LastMailTime) << '\n'
                  << "Index written in:   " << s.IndexSeconds << " s\n"
                  << "Result:             "
                  << (outcome == ExportOutcome::Completed ? "ok"
                      : outcome == ExportOutcome::Failed ? "finished with failures"
                                                         : "Break.")
                  << '\n';
        if (visitedAll && o.Resume) std::cout << "Next --resume from: " << host.FromText() << '\n';
    }
    ns->Logoff();
    app->Disconnect();
    switch (outcome) {
    case ExportOutcome::Completed: return ExitOk;
    case ExportOutcome::Failed: return ExitFailures;
    default: return ExitStopped;
    }
}

} // namespace
} // namespace quillmark::cli

int main(int argc, char** argv) {
    quillmark::platform::PinLocalTimeZone();
    try {
        return quillmark::cli::Run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "quillmark-export: " << e.what() << '\n';
        return quillmark::cli::ExitError;
    }
}
