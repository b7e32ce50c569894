// The export: one folder of a store into an export root.
#include "app/cli/CliHost.h"
#include "app/cli/ExportProgress.h"
#include "app/cli/ResumeState.h"
#include "app/cli/RunSummary.h"
#include "app/cli/Terminal.h"

#include "SrcLib/uLib.h"
#include "export/RootGuard.h"
#include "outlook/FolderTree.h"
#include "platform/FileSystem.h"
#include "regex/RegExpr.h"
#include "template/BrowseTemplate.h"
#include "template/DefaultTemplate.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <ostream>

namespace quillmark::cli {

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int) {
    interrupted = 1;
    // A second Ctrl-C ends the program at once, as the user then clearly wants.
    std::signal(SIGINT, SIG_DFL);
}

// Restores the default Ctrl-C on every way out of the run.
struct InterruptHandler {
    InterruptHandler() {
        interrupted = 0;
        std::signal(SIGINT, OnInterrupt);
    }
    ~InterruptHandler() { std::signal(SIGINT, SIG_DFL); }
    InterruptHandler(const InterruptHandler&) = delete;
    InterruptHandler& operator=(const InterruptHandler&) = delete;
};

// The compiler's complaint about expr, or "" when it compiles. In the window a bad
// expression lets no mail pass (and says so in red); a script gets no such hint in time,
// and would archive nothing while reporting success, so here it is a usage error.
std::string SubjectExpressionProblem(const std::string& expr) {
    try {
        TRegExpr re;
        re.SetExpression(expr);
        re.Compile();
    } catch (const ERegExpr& e) {
        // The compiler's messages name the position already ("... (pos 2)").
        std::string text = "--subject '" + expr + "' does not compile: " + e.Message();
        if (text.find("(pos ") == std::string::npos) text += " (pos " + std::to_string(e.ErrorPosition) + ")";
        return text;
    }
    return {};
}

} // namespace

int RunExportCommand(CliHost& host) {
    const CliOptions& o = host.Options();
    const auto started = std::chrono::steady_clock::now();

    // Everything that can be checked without the store is checked before it is opened.
    for (const auto& s : o.Subjects) {
        if (s.empty()) continue; // the run passes over empty lines
        if (const std::string problem = SubjectExpressionProblem(s); !problem.empty()) return host.FailUsage(problem);
    }

    ExportInputs in;
    if (o.Template.empty()) {
        in.TemplateLines = DefaultTemplateLines();
    } else if (o.Template == BrowseTemplateName) {
        in.TemplateLines = BrowseTemplateLines();
    } else {
        in.TemplateFile = o.Template;
        if (!platform::FileExists(in.TemplateFile))
            return host.Fail(ExitError, "Cannot open file " + in.TemplateFile);
    }
    // Tags the catalogue does not know show "tag not found" on every page: said once per
    // name here, before the run; --strict refuses such a template.
    const auto unknownTags = UnknownTemplateTags(in);
    for (const auto& tag : unknownTags) {
        if (o.Strict) host.Fail(ExitUsage, UnknownTagText(tag));
        else host.Warn(UnknownTagText(tag));
    }
    if (o.Strict && !unknownTags.empty())
        return host.FailUsage("the template names tags that do not exist (--strict)");

    host.OpenStores();
    const std::string folderPath = TrimFolderPath(o.Folder);
    const outlook::FolderNode* node = host.FindFolder(o.Folder);
    if (!node) return host.FailUsage("no folder \"" + o.Folder + "\" (see --list)");

    in.FolderEntryID = node->Folder.EntryID;
    in.FolderStoreID = node->Folder.StoreID;
    // The directory helpers build paths from the top, so the root is made absolute here.
    in.ExportRoot = platform::Utf8Path(std::filesystem::absolute(platform::NativePath(o.Out)));
    in.AttachmentsDir = o.Atts;
    // Unlike the window, the command line makes what it needs.
    if (!CreateDirectoryPath(in.ExportRoot)) return host.Fail(ExitError, "Cannot create directory " + in.ExportRoot);
    const std::string attsDir = IncludeTrailingPathDelimiter(in.ExportRoot) + in.AttachmentsDir;
    if (!CreateDirectoryPath(attsDir)) return host.Fail(ExitError, "Cannot create directory " + attsDir);

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
    in.Recursive = o.Recursive;
    in.BuildIndex = true;
    in.FolderPath = folderPath;
    in.ToText = o.To;
    in.SizeText = o.MinBody;
    in.SubjectLines = o.Subjects;

    ExportProgress::Settings settings;
    settings.Program = host.Program();
    settings.Quiet = o.Quiet;
    settings.Terminal = StderrIsTerminal();
    settings.MailLines = !o.Json;
    ExportProgress progress(settings, host.Out(), host.Err());
    ExportRun run(host.NameSpace(), progress, host.Identity());
    progress.Attach(&run);
    progress.SetInterrupted(&interrupted);

    ExportOutcome outcome;
    try {
        InterruptHandler ctrlC;
        outcome = run.ExportMails(in);
    } catch (const ERootInUse& e) {
        progress.Finish();
        return host.Fail(ExitRootInUse, e.Message());
    } catch (...) {
        progress.Finish();
        throw;
    }
    progress.Finish();

    // With failures the run's bound stays at the earliest mail not written, so saving it
    // keeps that mail in the next --resume run.
    const bool visitedAll = outcome == ExportOutcome::Completed || outcome == ExportOutcome::Failed;
    if (visitedAll && o.Resume) SaveResumeFrom(stateFile, stateKey, progress.FromText());

    RunSummary summary;
    summary.Folder = folderPath;
    summary.Out = o.Out;
    summary.Stats = run.Stats();
    summary.Outcome = outcome;
    summary.ExitCode = outcome == ExportOutcome::Completed ? ExitOk
                       : outcome == ExportOutcome::Failed  ? ExitFailures
                                                           : ExitStopped;
    summary.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (visitedAll && o.Resume) summary.NextResumeFrom = progress.FromText();
    if (o.Json) host.Out() << SummaryJson(summary);
    else if (!o.Quiet) host.Out() << SummaryText(summary);
    host.CloseStores();
    return summary.ExitCode;
}

} // namespace quillmark::cli
