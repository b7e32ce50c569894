// The export run: one pass over the items of one folder, a page per mail that passes the
// filters, written into a folder per year below the export root.
//
// The run owns its state (CurrentFolder, CurrentMailItem, YearDir, StopRequested, ...) and
// talks to whatever drives it (the window, the command line, a test) through ExportHost:
// the status line, the progress bar, one turn of the front end's event processing per item,
// and the "From datetime:" field that a complete run advances. The front end hands in the
// inputs and the application's identity as plain data, so this layer knows nothing of app/.
#pragma once

#include "SrcLib/uLib.h"
#include "export/PageCharset.h"
#include "export/PagePlacer.h"
#include "outlook/ObjectModel.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillmark {

class PageWriter;
struct ManifestMail;

// The application's identity as the tags and the footer show it: what the version block
// and the start-up paths hold.
struct AppIdentity {
    std::string ProductName;
    std::string ProductVersion;
    std::string FileVersion;
    std::string Comments;
    std::string ExecutableBaseName;
};

// What one run reads from its front end, as the user typed it.
struct ExportInputs {
    // The folder to export, by the identifiers of its tree node (TOLFolder).
    outlook::WideString FolderEntryID;
    outlook::WideString FolderStoreID;
    // The template file; when empty, TemplateLines is used instead (a template held in
    // memory, e.g. the built-in one).
    std::string TemplateFile;
    std::vector<std::string> TemplateLines;
    std::string ExportRoot;                     // "Emaildir"
    std::string AttachmentsDir = "atts";        // "Eattdir", a name below the root
    std::string FromText;                       // "Edat1"
    // Export only the mails the root's archive does not hold yet (by their identity, whatever
    // their dates and order). Where the archive holds no mail of this folder yet (a root made
    // by an earlier version, or a new folder), ResumeFromText bounds the run instead, as the
    // From bound of earlier versions did.
    bool OnlyNew = false;
    std::string ResumeFromText;
    // The folder's display path, for the archive's index ("" : the folder's name).
    std::string FolderPath;
    std::string ToText;                         // "Edat2"
    std::string SizeText;                       // "Esize"
    std::vector<std::string> SubjectLines;      // "Mre_subj": one expression per line
    // Write the archive's index pages (index.htm, _archive/) from the manifest when the run
    // ends, whether it completed, failed on some mails or was stopped. The front ends ask
    // for it; a run that writes pages only (a test, a tool) leaves the root's index alone.
    bool BuildIndex = false;
    // Export the folder's subfolders too, all of them, each into a folder of its own below
    // the root (SubfolderDirs); the folder itself goes to the root as without this.
    bool Recursive = false;
};

// A mail that passed the filters but could not be written whole: its page or one of its
// attachments was refused. Its page is not written (or not replaced), and the run's From
// bound does not move past it, so the next run tries it again.
struct ExportFailure {
    int Index = 0;          // its item number in the folder
    double MailTime = 0;
    std::string Subject;
    std::string Reason;
    bool PageRefused = false; // the page itself was refused (not one of its attachments)
    // "#17 | 2005-03-01 14:02:10 | Offer: <reason>"
    std::string Text() const;
};

// Counts of one run, for front ends that report a summary. The window shows none of them.
struct ExportStats {
    int FolderCount = 0;      // folders exported (more than one with ExportInputs::Recursive)
    int ItemCount = 0;        // items in the folder (in all of them)
    int ItemsSeen = 0;        // items visited (mail or not)
    int Exported = 0;         // pages written
    int Filtered = 0;         // mail items that failed a filter
    int NotMail = 0;          // items without the mail-item interface
    int Duplicates = 0;       // mails met before in this run (same Message-ID and content): one page
    int AlreadyArchived = 0;  // with OnlyNew: mails the archive holds already, passed over
    int AttachmentsSaved = 0; // attachment files newly written
    int AttachmentsReused = 0;// attachments found already saved (same size and CRC-32)
    int PicturesSaved = 0;    // picture files newly written
    int PicturesReused = 0;
    double LastMailTime = 0;  // MailTime of the last mail item examined
    int Failed = 0;           // mails not written whole (see Failures)
    std::vector<ExportFailure> Failures;
    int TemporariesRemoved = 0; // files half-written by killed runs, removed at the start
    double IndexSeconds = 0;    // writing the archive's index at the end
    bool IndexUnchanged = false; // the archive's rows had not changed: its index was left as it was
};

// What a status line shown by the run stands for, so that a front end can act on it without
// reading the text (which is for people and may change).
enum class RunEvent {
    MailPassed,        // "#17 | 2005-03-01 14:02:10 | Offer": the mail passed the filters
    MailFiltered,      // the same line for a mail a filter left out (red)
    SubjectExpressionError, // a subject expression does not compile: the mail counts as not matching
    Completed,         // "ok": every item visited
    CompletedWithFailures, // every item visited, some mails not written (red summary)
    Stopped,           // the stop command was seen; no text of the run's own
    DiskFull,          // "Stopped: the disk is full"
};

// The front end as the run sees it. Every call comes from the thread running ExportMails.
class ExportHost {
public:
    virtual ~ExportHost() = default;
    // The status line: mode 0 normal colour, 1 red.
    virtual void ShowStatus(const std::string& text, int mode) = 0;
    virtual void SetProgressMax(int maximum) = 0;
    virtual void SetProgress(int position) = 0;
    // One turn of the front end's event processing; the stop command gets in here (it calls
    // ExportRun::RequestStop). Called once per item, before the stop flag is polled.
    virtual void ProcessPendingEvents() = 0;
    // A complete run hands the "From datetime:" field its new text.
    virtual void SetFromText(const std::string& text) = 0;
    // A mail that could not be written, named (ExportFailure::Text). The run goes on.
    virtual void ReportFailure(const std::string& text) { ShowStatus(text, 1); }
    // Something the user should know that is no failure (a killed run's lock taken over).
    virtual void ShowNotice(const std::string& text) { ShowStatus(text, 0); }
    // A status line of the run together with what it stands for. Front ends that only show
    // the text keep this default; an empty text (Stopped) leaves the status line as it is.
    virtual void ShowRunEvent(RunEvent event, const std::string& text, int mode) {
        (void)event;
        if (!text.empty()) ShowStatus(text, mode);
    }
};

enum class ExportOutcome {
    Completed, // every item visited; From advanced; status "ok"
    Failed,    // every item visited, but some mails were not written whole (Stats().Failures):
               // each was reported; From advanced only as far as the earliest of them; status red
    Stopped,   // StopRequested seen before an item; pages so far kept; From unchanged
    Busy,      // a run was already in progress; nothing was done
};


// The fixed address of the maker that the footer link points to; the product name follows.
constexpr const char* MakerWebAddress = "https://www.keldane.se/";

class ExportRun {
public:
    ExportRun(std::shared_ptr<outlook::NameSpace> nameSpace, ExportHost& host, AppIdentity identity);
    ~ExportRun();
    ExportRun(const ExportRun&) = delete;
    ExportRun& operator=(const ExportRun&) = delete;

    // Runs over the folder named by the inputs. A page or attachment that cannot be written
    // costs its mail only (Failed). A full disk ends the run by an EFileError whose
    // DiskFull() is true, once the pages handed in before are written; no page is written
    // without its attachments. Other errors (store calls, the template) end the run by an
    // exception too; pages written before stay. While the run goes on it holds the export
    // root's lock: another run into the same root (of this process or another) throws
    // ERootInUse. Called while a run is in progress (from inside ProcessPendingEvents, say)
    // it does nothing and returns Busy.
    ExportOutcome ExportMails(const ExportInputs& inputs);

    // The stop command: the run sees it before its next item.
    void RequestStop() { StopRequested = true; }
    bool IsRunning() const { return running_; }
    const ExportStats& Stats() const { return stats_; }
    const AppIdentity& Identity() const { return identity_; }

    // Run state, kept between runs as the window keeps it.
    std::shared_ptr<outlook::NameSpace> OutlookNameSpace;
    std::shared_ptr<outlook::Folder> CurrentFolder;
    std::shared_ptr<outlook::MailItem> CurrentMailItem;
    std::string YearDir;
    bool StopRequested = false;

private:
    struct Impl;
    struct FolderResult;
    // One folder of the run into its place below the root (relative, "" for the root).
    FolderResult ExportFolder(const ExportInputs& inputs, const std::string& subDir, bool first, int progressBase);
    bool IsRepeatedMail(outlook::MailItem& mail, double mailTime, const std::string& subject);
#ifdef QUILLMARK_HAVE_ARCHIVE
    // The archive's row for the current mail, its page name still to come.
    ManifestMail ArchiveRow(const ExportInputs& inputs, const std::string& root, double mailTime,
                            const std::string& subject);
#endif
    // False when the page was held back (an attachment failed; the failure is recorded).
    bool ExportPage(const ExportInputs& inputs, int index, double mailTime, const std::string& subject,
                    PageWriter& writer);
    void UpdateArchiveIndex(const ExportInputs& inputs);
    void RecordFailure(ExportFailure failure); // any thread
    void ReportFailures();                     // the run's thread: tells the host

    ExportHost& host_;
    AppIdentity identity_;
    ExportStats stats_;
    bool running_ = false;
    std::unique_ptr<Impl> impl_;
};

// ---- pieces of the run, public for their own tests ----

// A folder of a recursive run and where its pages go.
struct SubfolderDir {
    std::shared_ptr<outlook::Folder> Folder;
    std::string Dir;  // below the root, "/" between names; "" for the folder the run names
    std::string Path; // display names from that folder down, "/" between them
};
// The folder and all folders below it, parents before their children. Each subfolder's
// directory is its name made safe as a file name, below its parent's; a name that could be
// taken for one of the root's own entries (a year folder, the archive's files, the
// attachments folder), or that another sibling's name made alike, gets a "-2", "-3", ...
std::vector<SubfolderDir> SubfolderDirs(std::shared_ptr<outlook::Folder> top, const std::string& attachmentsDir);

// "m" + yyyymmddhhnn + "_" + sanitised subject cut to 44 characters + ".htm". With
// NameScript::Latin, the name an earlier version gave the page (letters beyond Windows-1252
// became "-"), by which a re-run finds the pages such a version wrote.
std::string PageFileName(double mailTime, const std::string& subject, NameScript script = NameScript::Unicode);
// A tag of a template that the mail tag catalogue does not know, by its first use.
struct UnknownTemplateTag {
    std::string Name; // as first written in the template
    int Line = 0;     // 1-based line of the template
    bool operator==(const UnknownTemplateTag&) const = default;
};
// The distinct unknown tag names of the run's template (file or lines), in the order of
// their first use; names are told apart without regard to ASCII letter case, as the
// catalogue does. Throws what expanding the template throws (EFOpenError, ...).
std::vector<UnknownTemplateTag> UnknownTemplateTags(const ExportInputs& inputs);
// "template line 12: unknown tag <#Nmae> (the pages show \"tag not found\" there)"
std::string UnknownTagText(const UnknownTemplateTag& tag);

// Splits expanded text into lines at CR LF, a lone CR or a lone LF; a NUL ends the text.
void SplitPageLines(const std::string& text, std::vector<std::string>& lines);

// Inserts the footer line before the first entry equal to "</body>" in any letter case,
// or as the last entry when there is none.
void AddFooter(std::vector<std::string>& lines, const AppIdentity& identity,
               PageCharset charset = PageCharset::Windows1252);

// The page file's bytes: the marker line, then the expanded text's lines with the footer
// added, each ended by CR LF.
std::string AssemblePage(const std::string& markerLine, std::string_view expanded, const AppIdentity& identity,
                         PageCharset charset = PageCharset::Windows1252);

// The identity a page is recognised by: the mail's EntryID; for a store that gives none,
// a fingerprint of the mail's time, subject, sender and body.
std::string MailIdentity(outlook::MailItem& mail, double mailTime, const std::string& subject);

} // namespace quillmark
