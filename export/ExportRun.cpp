#include "export/ExportRun.h"

#include "SrcLib/DateTime.h"
#include "SrcLib/uLib.h"
#include "export/Attachments.h"
#include "export/HtmlText.h"
#include "export/MailTags.h"
#include "export/PagePlacer.h"
#include "export/PageWriter.h"
#include "export/RootGuard.h"
#ifdef QUILLMARK_HAVE_ARCHIVE
#include "archive/IndexPages.h"
#include "archive/Manifest.h"
#endif
#include "export/SubjectFilter.h"
#include "platform/CodePage.h"
#include "platform/Cp1252.h"
#include "platform/Unicode.h"
#include "platform/FileSystem.h"
#include "template/PageProducer.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <unordered_set>

namespace quillmark {

namespace {

constexpr std::size_t MaxSubjectNameLength = 44;

// Clears the running flag on every way out of a run, errors included.
struct RunningFlag {
    explicit RunningFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~RunningFlag() { flag_ = false; }
    RunningFlag(const RunningFlag&) = delete;
    RunningFlag& operator=(const RunningFlag&) = delete;
    bool& flag_;
};

// A path below the root with "/" between names, in the platform's delimiters.
std::string NativeSubDir(std::string path) {
    for (char& c : path)
        if (c == '/') c = platform::PathDelim;
    return path;
}

std::string AsciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool AllDigits(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string PercentEncodeIdentity(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Pieces

std::string PageFileName(double mailTime, const std::string& subject, NameScript script) {
    const std::string name = Utf8Prefix(SanitizeFileName(subject, script), MaxSubjectNameLength);
    return "m" + FormatDateTime("yyyymmddhhnn", mailTime) + "_" + name + ".htm";
}

namespace {

// The first position from i on that may end a line: a byte below 14 (CR, LF, NUL, and the
// rare other controls, which the caller passes over). Eight bytes at a time: every page is
// cut into lines here, and most of a page is long runs of text.
std::size_t NextLineEndCandidate(std::string_view text, std::size_t i) {
    const std::size_t n = text.size();
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
    while (n - i >= 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        // Not zero exactly when some byte of the word is below 14; the caller then goes
        // through the word a byte at a time.
        if ((word - 14 * kOnes) & ~word & kHigh) break;
        i += 8;
    }
    return i;
}

// Calls f with each line of the text as SplitPageLines cuts it.
template <typename F>
void ForEachPageLine(std::string_view text, F&& f) {
    std::size_t start = 0;
    const std::size_t n = text.size();
    std::size_t i = 0;
    for (; i < n; ++i) {
        i = NextLineEndCandidate(text, i);
        if (i >= n) break;
        const char c = text[i];
        if (c == '\0') break;
        if (c == '\r' || c == '\n') {
            f(text.substr(start, i - start));
            if (c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    // The rest after the last line break is a line of its own, unless the text ended right
    // at a break.
    if (i > start) f(text.substr(start, i - start));
}

// The line the footer goes before: exactly "</body>" in any letter case.
bool IsBodyEndLine(std::string_view line) {
    if (line.size() != 7) return false;
    for (std::size_t k = 0; k < 7; ++k) {
        char c = line[k];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != "</body>"[k]) return false;
    }
    return true;
}

std::string FooterLine(const AppIdentity& identity, PageCharset charset) {
    std::string footer =
        "<SMALL style=\"font-family: verdana; font-size: 60%; border-top: silver 1px black; padding-top:2px\">";
    footer += '\r';
    footer += "<A href=\"";
    footer += MakerWebAddress;
    footer += UrlEncodePath(identity.ProductName);
    footer += "\">";
    AppendInPageCharset(footer, HtmlEscape(identity.ProductName), charset);
    footer += " v";
    AppendInPageCharset(footer, HtmlEscape(identity.ProductVersion), charset);
    footer += "</A></SMALL>";
    footer += '\r';
    return footer;
}

} // namespace

void SplitPageLines(const std::string& text, std::vector<std::string>& lines) {
    ForEachPageLine(text, [&lines](std::string_view line) { lines.emplace_back(line); });
}

void AddFooter(std::vector<std::string>& lines, const AppIdentity& identity, PageCharset charset) {
    std::size_t position = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (IsBodyEndLine(lines[i])) {
            position = i;
            break;
        }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(position), FooterLine(identity, charset));
}

std::string AssemblePage(const std::string& markerLine, std::string_view expanded, const AppIdentity& identity,
                         PageCharset charset) {
    // The same as splitting, adding the footer and joining with CR LF, in one pass and
    // without a string per line (a long mail has thousands).
    const std::string footer = FooterLine(identity, charset);
    std::string page;
    page.reserve(markerLine.size() + expanded.size() + expanded.size() / 16 + footer.size() + 16);
    page += markerLine;
    page += "\r\n";
    bool placed = false;
    ForEachPageLine(expanded, [&](std::string_view line) {
        if (!placed && IsBodyEndLine(line)) {
            page += footer;
            page += "\r\n";
            placed = true;
        }
        page += line;
        page += "\r\n";
    });
    if (!placed) {
        page += footer;
        page += "\r\n";
    }
    return page;
}

std::vector<UnknownTemplateTag> UnknownTemplateTags(const ExportInputs& inputs) {
    std::vector<UnknownTemplateTag> unknown;
    std::unordered_set<std::string> seen;
    TPageProducer producer;
    if (inputs.TemplateFile.empty()) producer.SetHTMLDoc(inputs.TemplateLines);
    else producer.SetHTMLFile(inputs.TemplateFile);
    producer.OnHTMLTag = [&](TPageProducer& sender, TTag, const std::string& tagString, TStrings&, std::string&) {
        if (IsMailTagName(tagString)) return;
        std::string name = tagString;
        for (auto& c : name)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (seen.insert(name).second) unknown.push_back({tagString, sender.TagLine()});
    };
    producer.ExpandTemplate();
    return unknown;
}

std::string UnknownTagText(const UnknownTemplateTag& tag) {
    return "template line " + std::to_string(tag.Line) + ": unknown tag <#" + tag.Name +
           "> (the pages show \"tag not found\" there)";
}

std::string MailIdentity(outlook::MailItem& mail, double mailTime, const std::string& subject) {
    const std::string entryId = platform::Utf8FromUtf16(mail.GetText(outlook::dispid::EntryID));
    if (!entryId.empty()) return PercentEncodeIdentity(entryId);
    // A store without EntryIDs: the mail's time to the second, subject, sender and body
    // tell it from its neighbours well enough to keep it from taking another mail's page.
    std::uint32_t crc = 0;
    auto feed = [&crc](const std::string& s) {
        crc = Crc32Update(s.data(), s.size(), crc);
        crc = Crc32Update("\n", 1, crc);
    };
    feed(FormatDateTime("yyyymmddhhnnss", mailTime));
    // The subject as earlier versions held it (Windows-1252, "?" for what it lacks), so that
    // the fingerprints of pages they wrote still match.
    std::string legacySubject;
    for (std::size_t i = 0; i < subject.size();) {
        const char32_t ch = platform::unicode::NextUtf8(subject, i);
        const int b = ch == platform::unicode::kBad ? -1 : platform::cp1252::FromUnicode(ch);
        legacySubject += b < 0 ? '?' : static_cast<char>(b);
    }
    feed(legacySubject);
    feed(platform::Utf8FromUtf16(mail.GetText(outlook::dispid::SenderName)));
    feed(platform::Utf8FromUtf16(mail.GetText(outlook::dispid::Body)));
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(crc));
    return std::string("crc32-") + buf;
}

std::vector<SubfolderDir> SubfolderDirs(std::shared_ptr<outlook::Folder> top, const std::string& attachmentsDir) {
    // The root holds the archive's own entries beside the folders; none of them may be
    // taken by a folder's name. Names are compared without letter case, as the file systems
    // of Windows and macOS do.
    const std::set<std::string> rootEntries = {"_archive", ".quillmark", "index.htm", AsciiLower(RootLockFileName),
                                               AsciiLower(RemotePicturesScriptName), AsciiLower(attachmentsDir)};
    std::vector<SubfolderDir> out;
    out.push_back({top, std::string(), std::string()});
    // Parents before their children: the list is walked as it grows.
    for (std::size_t i = 0; i < out.size(); ++i) {
        auto children = out[i].Folder->Folders();
        const int count = children ? children->Count() : 0;
        std::set<std::string> taken; // names given to this folder's children so far
        for (int k = 1; k <= count; ++k) {
            auto child = children->Item(k);
            if (!child) continue;
            const std::string name = platform::Utf8FromUtf16(child->Name());
            // The page names' policy, letters of every script kept, cut so that deep trees
            // stay within the path lengths of Windows.
            std::string base = Utf8Prefix(SanitizeFileName(name), 60);
            if (base.empty() || IsReservedDeviceName(base)) base += "_";
            // Every folder's directory holds its own year folders, so names of digits alone
            // are set apart at every level, the root's entries at the top only. The same
            // tree gives the same names on every run, so pages keep their places.
            auto free = [&](const std::string& candidate) {
                const std::string lower = AsciiLower(candidate);
                return !AllDigits(candidate) && !taken.count(lower) && (i > 0 || !rootEntries.count(lower));
            };
            std::string dir = base;
            for (int n = 2; !free(dir); ++n) dir = base + "-" + std::to_string(n);
            taken.insert(AsciiLower(dir));
            out.push_back({child, out[i].Dir.empty() ? dir : out[i].Dir + "/" + dir,
                           out[i].Path.empty() ? name : out[i].Path + "/" + name});
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// The run

std::string ExportFailure::Text() const {
    return "#" + std::to_string(Index) + " | " + DateTimeToText(MailTime) + " | " + Subject + ": " + Reason;
}

struct ExportRun::FolderResult {
    ExportOutcome Outcome;
    double From; // the From bound this folder would hand back
    int Items;   // its items, for the progress of the folders after it
};

struct ExportRun::Impl {
    TPageProducer PPMail;
    MailTagContext Tags;
    AttachmentCounts Attachments, Pictures;
    SavedFileIndex SavedFiles;
    std::vector<AttachmentFailure> AttachmentFailures; // of the page being made
    // Failures recorded (by the page writer's thread, too) and not yet told to the host.
    std::mutex FailureMutex;
    std::vector<ExportFailure> NewFailures;
    // Used on the page writer's thread only.
    PagePlacer Placer;
#ifdef QUILLMARK_HAVE_ARCHIVE
    // The root's archive: a row per page written (on the writer's thread), and what
    // OnlyNew passes over.
    std::unique_ptr<Manifest> Archive;
    std::unordered_set<std::string> Archived; // identities of this folder's archived mails
#endif
    std::vector<SavedAttachment> SavedNow; // files the current mail's page links
    // Mails of this run by Message-ID and content: the same mail twice in a folder (after an
    // import or a merge) makes one page.
    std::unordered_set<std::string> SeenMails;
    std::string StoreKey;
    std::string SubDir; // the current folder's place below the root: "" or "Name/Sub/"
    // The year folder last made sure of in this run: mails come mostly in order, so this
    // spares a look at the folder for nearly every page.
    std::string KnownYearDir;
};

namespace {

// The character set the run's template declares, read once per run from its head.
PageCharset TemplateCharset(const ExportInputs& inputs) {
    std::string head;
    if (inputs.TemplateFile.empty()) {
        for (const auto& line : inputs.TemplateLines) {
            head += line;
            head += '\n';
            if (head.size() > 8192) break;
        }
    } else {
        std::ifstream in(platform::NativePath(inputs.TemplateFile), std::ios::binary);
        head.resize(8192);
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        head.resize(static_cast<std::size_t>(in.gcount()));
    }
    return DetectPageCharset(head);
}

} // namespace

ExportRun::ExportRun(std::shared_ptr<outlook::NameSpace> nameSpace, ExportHost& host, AppIdentity identity)
    : OutlookNameSpace(std::move(nameSpace)), host_(host), identity_(std::move(identity)),
      impl_(std::make_unique<Impl>()) {
    impl_->PPMail.OnHTMLTag = [this](TPageProducer&, TTag, const std::string& tagString, TStrings& tagParams,
                                     std::string& replaceText) {
        PPMailHTMLTag(impl_->Tags, tagString, tagParams, replaceText);
    };
}

ExportRun::~ExportRun() = default;

void ExportRun::RecordFailure(ExportFailure failure) {
    std::lock_guard lock(impl_->FailureMutex);
    impl_->NewFailures.push_back(std::move(failure));
}

void ExportRun::ReportFailures() {
    std::vector<ExportFailure> failures;
    {
        std::lock_guard lock(impl_->FailureMutex);
        failures.swap(impl_->NewFailures);
    }
    for (auto& f : failures) {
        host_.ReportFailure(f.Text());
        ++stats_.Failed;
        if (f.PageRefused) --stats_.Exported; // counted when it was handed to the writer
        stats_.Failures.push_back(std::move(f));
    }
}

ExportOutcome ExportRun::ExportMails(const ExportInputs& inputs) {
    // The front end's event processing runs inside the item loop; a second export command
    // arriving there must not start a run within the run.
    if (running_) return ExportOutcome::Busy;
    RunningFlag runningFlag(running_);

    stats_ = ExportStats{};
    impl_->Attachments = AttachmentCounts{};
    impl_->Pictures = AttachmentCounts{};

    if (!OutlookNameSpace) throw Exception("No mail store is open");
    CurrentFolder = OutlookNameSpace->GetFolderFromID(inputs.FolderEntryID, inputs.FolderStoreID);
    std::vector<SubfolderDir> folders;
    if (inputs.Recursive) folders = SubfolderDirs(CurrentFolder, inputs.AttachmentsDir);
    else folders.push_back({CurrentFolder, std::string(), std::string()});

    // One run per root: two runs naming pages and attachments in the same folders at once
    // would each take a name the other has just looked at and found free.
    ExportRootGuard rootGuard(inputs.ExportRoot);
    if (!rootGuard.TakeOverNotice().empty()) host_.ShowNotice(rootGuard.TakeOverNotice());
    const std::string root = IncludeTrailingPathDelimiter(inputs.ExportRoot);
    stats_.TemporariesRemoved = RemoveLeftoverTemporaries(inputs.ExportRoot, inputs.AttachmentsDir);
    for (std::size_t f = 1; f < folders.size(); ++f)
        stats_.TemporariesRemoved += RemoveLeftoverTemporaries(root + NativeSubDir(folders[f].Dir), std::string());
    {
        std::lock_guard lock(impl_->FailureMutex);
        impl_->NewFailures.clear();
    }
    StopRequested = false;
    impl_->SavedFiles.Clear();

    // The bar stands for the whole run: every folder's items are counted before the first
    // is read.
    int total = 0;
    for (const auto& f : folders) total += f.Folder->Items()->Count();
    stats_.ItemCount = total;
    stats_.FolderCount = static_cast<int>(folders.size());
    host_.SetProgressMax(total);

    // The From bound handed back must not pass a mail of any folder that the next run should
    // see: it is the earliest of the folders' own bounds (folders without mail have none).
    std::optional<double> from;
    bool stopped = false;
    int progressBase = 0;
    for (std::size_t f = 0; f < folders.size() && !stopped; ++f) {
        CurrentFolder = folders[f].Folder;
        ExportInputs folderInputs;
        const ExportInputs* use = &inputs;
        if (f > 0) {
            folderInputs = inputs;
            const std::string top =
                inputs.FolderPath.empty() ? platform::Utf8FromUtf16(folders[0].Folder->Name()) : inputs.FolderPath;
            folderInputs.FolderPath = top + "/" + folders[f].Path;
            use = &folderInputs;
        }
        const FolderResult result = ExportFolder(*use, folders[f].Dir, f == 0, progressBase);
        progressBase += result.Items;
        stopped = result.Outcome == ExportOutcome::Stopped;
        if (!stopped && (result.From > 0 || folders.size() == 1)) from = std::min(from.value_or(result.From), result.From);
    }
    UpdateArchiveIndex(inputs);
    if (stopped) {
        host_.ShowRunEvent(RunEvent::Stopped, std::string(), 1);
        return ExportOutcome::Stopped;
    }
    host_.SetFromText(DateTimeToText(from.value_or(0)));
    if (stats_.Failed > 0) {
        const ExportFailure& first = stats_.Failures.front();
        host_.ShowRunEvent(RunEvent::CompletedWithFailures,
                           std::to_string(stats_.Failed) + (stats_.Failed == 1 ? " mail was" : " mails were") +
                               " not exported (the first: " + first.Text() + ")",
                           1);
        return ExportOutcome::Failed;
    }
    host_.ShowRunEvent(RunEvent::Completed, "ok", 0);
    return ExportOutcome::Completed;
}

ExportRun::FolderResult ExportRun::ExportFolder(const ExportInputs& inputs, const std::string& subDir, bool first,
                                                int progressBase) {
    const std::int32_t minBodyLength = TryParseInt(inputs.SizeText).value_or(0);
    const double fromTime = TryParseDateTime(inputs.FromText).value_or(0.0);
    const double toTime = TryParseDateTime(inputs.ToText).value_or(EncodeDate(2099, 12, 31));

    auto& tags = impl_->Tags;
    tags.ExportRoot = inputs.ExportRoot;
    tags.AttachmentsDir = inputs.AttachmentsDir;
    tags.Identity = identity_;
    tags.Attachments = &impl_->Attachments;
    tags.Pictures = &impl_->Pictures;
    // The pages of a subfolder lie deeper: their links back to the root climb further.
    impl_->SubDir = subDir.empty() ? std::string() : subDir + "/";
    tags.PageDepth = 1 + static_cast<int>(std::count(impl_->SubDir.begin(), impl_->SubDir.end(), '/'));
    impl_->Placer = PagePlacer();
    impl_->SeenMails.clear();
    impl_->StoreKey = quillmark::StoreKey(CurrentFolder->StoreID(), CurrentFolder->EntryID());
    impl_->KnownYearDir.clear();
    tags.SavedFiles = &impl_->SavedFiles;
    tags.AttachmentFailures = &impl_->AttachmentFailures;
    tags.CurrentMailItem.reset();
    if (inputs.TemplateFile.empty()) impl_->PPMail.SetHTMLDoc(inputs.TemplateLines);
    tags.Charset = TemplateCharset(inputs);
    impl_->SavedNow.clear();
    tags.SavedAttachments = &impl_->SavedNow;
    bool onlyNew = false;
#ifdef QUILLMARK_HAVE_ARCHIVE
    impl_->Archive = std::make_unique<Manifest>(inputs.ExportRoot);
    impl_->Archived.clear();
    if (inputs.OnlyNew) {
        impl_->Archived = impl_->Archive->IdentitiesOf(impl_->StoreKey);
        onlyNew = !impl_->Archived.empty();
    }
#endif
    // By identity where the archive knows the folder; else by the stored bound, as before.
    // That bound was kept for the folder the run names: a subfolder the archive does not
    // know yet is new to it, and is exported whole.
    double fromBound = fromTime;
    if (inputs.OnlyNew && !onlyNew && first)
        fromBound = std::max(fromBound, TryParseDateTime(inputs.ResumeFromText).value_or(0.0));
    // The From bound handed back is the latest mail time seen, but never a time after the
    // run's start: one mail with a date in the future (a wrong clock, spam) would otherwise
    // move the bound past every mail still to come.
    const double now = platform::NowLocal();

    // The From bound moves to the latest mail seen, not to the last in the folder's order:
    // a folder is not always in date order. Mails passed over as archived count with the
    // times the archive holds for them (they were seen by the runs that wrote them).
    double latestTime = 0;
#ifdef QUILLMARK_HAVE_ARCHIVE
    if (onlyNew) latestTime = impl_->Archive->LatestReceivedOf(impl_->StoreKey, now);
#endif

    const int count = CurrentFolder->Items()->Count();
    const std::size_t failuresBefore = stats_.Failures.size();

    // Pages go to disk on a thread of their own while the next mails are read. Whatever way
    // the run ends, the pages handed over before are written: Finish on the ways out below,
    // the writer's destructor when an error ends the run.
    PageWriter writer;

    const StatusFunction showStatus = [this](const std::string& text, int mode) {
        host_.ShowRunEvent(RunEvent::SubjectExpressionError, text, mode);
    };
    const auto takeCounts = [this] {
        stats_.AttachmentsSaved = impl_->Attachments.Saved;
        stats_.AttachmentsReused = impl_->Attachments.Reused;
        stats_.PicturesSaved = impl_->Pictures.Saved;
        stats_.PicturesReused = impl_->Pictures.Reused;
    };
    double mailTime = 0;
    try {
        for (int index = 1; index <= count; ++index) {
            ReportFailures();
            host_.SetProgress(progressBase + index);
            host_.ProcessPendingEvents();
            if (StopRequested) {
                writer.Finish();
#ifdef QUILLMARK_HAVE_ARCHIVE
                impl_->Archive->Commit();
#endif
                ReportFailures();
                takeCounts();
                return {ExportOutcome::Stopped, 0, count};
            }

            CurrentMailItem.reset();
            tags.CurrentMailItem.reset();
            auto items = CurrentFolder->Items();
#ifdef QUILLMARK_HAVE_ARCHIVE
            // A mail the archive holds, known by the identity the store gives without reading
            // it, is not read at all: an incremental run over an unchanged store costs little
            // more than the store's index.
            if (onlyNew) {
                const std::u16string id = items->EntryIdOf(index);
                if (!id.empty() && impl_->Archived.count(PercentEncodeIdentity(platform::Utf8FromUtf16(id)))) {
                    ++stats_.ItemsSeen;
                    ++stats_.AlreadyArchived;
                    continue;
                }
            }
#endif
            auto item = items->Item(index);
            ++stats_.ItemsSeen;
            auto mail = item ? item->QueryMailItem() : nullptr;
            if (!mail) {
                ++stats_.NotMail;
                continue;
            }
            CurrentMailItem = mail;

            mailTime = mail->GetDate(outlook::dispid::ReceivedTime);
            if (mailTime > outlook::AbsentDateThreshold) mailTime = mail->GetDate(outlook::dispid::CreationTime);
            stats_.LastMailTime = mailTime;
            if (mailTime <= now) latestTime = std::max(latestTime, mailTime);
            const std::int64_t bodyLength = static_cast<std::int64_t>(mail->GetText(outlook::dispid::Body).size());
            const std::string subject = platform::Utf8FromUtf16(mail->GetText(outlook::dispid::Subject));

            const bool passes = SubjectMatches(inputs.SubjectLines, subject, showStatus) &&
                                bodyLength >= minBodyLength && mailTime >= fromBound && mailTime <= toTime;
            host_.ShowRunEvent(passes ? RunEvent::MailPassed : RunEvent::MailFiltered,
                               "#" + std::to_string(index) + " | " + DateTimeToText(mailTime) + " | " + subject,
                               passes ? 0 : 1);
            if (!passes) {
                ++stats_.Filtered;
                continue;
            }
#ifdef QUILLMARK_HAVE_ARCHIVE
            if (onlyNew && impl_->Archived.count(MailIdentity(*mail, mailTime, subject))) {
                ++stats_.AlreadyArchived;
                continue;
            }
#endif
            if (IsRepeatedMail(*mail, mailTime, subject)) {
                ++stats_.Duplicates;
                continue;
            }
            if (ExportPage(inputs, index, mailTime, subject, writer)) ++stats_.Exported;
            takeCounts();
        }
        writer.Finish();
#ifdef QUILLMARK_HAVE_ARCHIVE
        impl_->Archive->Commit();
#endif
    } catch (const EFileError& e) {
        if (!e.DiskFull()) throw;
        // A full disk: whatever was handed to the writer before is settled (those pages fail
        // too, or fit), and the run ends with the archive whole: no page was written ahead
        // of its attachments, and no page is half-written.
        try {
            writer.Finish();
        } catch (const std::exception&) {
        }
#ifdef QUILLMARK_HAVE_ARCHIVE
        try {
            impl_->Archive->Commit(); // the rows of the pages written stay true
        } catch (const std::exception&) {
        }
#endif
        ReportFailures();
        takeCounts();
        host_.ShowRunEvent(RunEvent::DiskFull, "Stopped: the disk is full", 1);
        throw EWriteError(std::string(e.what()) +
                              ". The export stopped there; the pages written are whole. Make room and export again.",
                          true);
    }
    ReportFailures();
    takeCounts();
    // The From bound must not pass a mail that was not written: it stays at the earliest.
    double from = latestTime;
    for (std::size_t f = failuresBefore; f < stats_.Failures.size(); ++f) from = std::min(from, stats_.Failures[f].MailTime);
    return {stats_.Failures.size() > failuresBefore ? ExportOutcome::Failed : ExportOutcome::Completed, from, count};
}

void ExportRun::UpdateArchiveIndex(const ExportInputs& inputs) {
#ifdef QUILLMARK_HAVE_ARCHIVE
    if (!inputs.BuildIndex || !impl_->Archive) return;
    // The index lists what the archive holds, this run's pages with the rest. A failure
    // here costs the index only: the pages and the manifest are written, and the next run
    // or --rebuild-index makes the index again.
    const auto start = std::chrono::steady_clock::now();
    try {
        // An archive whose rows did not change keeps the index it has (a resume that found
        // nothing new writes nothing).
        const IndexBuildStats index = WriteArchiveIndexFrom(inputs.ExportRoot, *impl_->Archive, false);
        stats_.IndexUnchanged = index.Unchanged;
        if (index.StartPageKept)
            host_.ShowNotice("index.htm in the export root is not the archive's start page; it was left as it is "
                             "(the archive's pages are in " + std::string(ArchiveDirName) + ")");
    } catch (const std::exception& e) {
        host_.ShowNotice(std::string("The archive's index pages were not written: ") + e.what());
    }
    stats_.IndexSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
#else
    (void)inputs;
#endif
}

bool ExportRun::IsRepeatedMail(outlook::MailItem& mail, double mailTime, const std::string& subject) {
    // Only a mail that carries a Message-ID can be told for the same mail: without one, two
    // mails that read alike are two mails, and both keep their pages.
    const std::u16string messageId = mail.GetText(outlook::dispid::InternetMessageID);
    if (messageId.empty()) return false;
    // The same Message-ID is not enough (a resent or edited mail keeps it): the content the
    // page shows must be the same too.
    std::uint32_t crc = 0;
    auto feed = [&crc](const std::string& s) {
        crc = Crc32Update(s.data(), s.size(), crc);
        crc = Crc32Update("\n", 1, crc);
    };
    feed(FormatDateTime("yyyymmddhhnnss", mailTime));
    feed(subject);
    for (outlook::DispId id : {outlook::dispid::SenderName, outlook::dispid::To, outlook::dispid::CC,
                               outlook::dispid::Body}) {
        const std::u16string value = mail.GetText(id);
        crc = Crc32Update(value.data(), value.size() * sizeof(char16_t), crc);
        crc = Crc32Update("\n", 1, crc);
    }
    feed(std::to_string(mail.GetInt(outlook::dispid::Size)));
    if (auto attachments = mail.Attachments()) {
        const int count = attachments->Count();
        feed(std::to_string(count));
        for (int i = 1; i <= count; ++i)
            if (auto a = attachments->Item(i)) feed(platform::Utf8FromUtf16(a->FileName()));
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(crc));
    return !impl_->SeenMails.insert(platform::Utf8FromUtf16(messageId) + "\n" + buf).second;
}

#ifdef QUILLMARK_HAVE_ARCHIVE
constexpr std::size_t kArchiveTextCharacters = 2000;

ManifestMail ExportRun::ArchiveRow(const ExportInputs& inputs, const std::string& root, double mailTime,
                                   const std::string& subject) {
    namespace d = outlook::dispid;
    outlook::MailItem& mail = *CurrentMailItem;
    auto text = [&mail](outlook::DispId id) { return platform::Utf8FromUtf16(mail.GetText(id)); };
    ManifestMail row;
    row.StoreKey = impl_->StoreKey;
    row.Identity = MailIdentity(mail, mailTime, subject);
    row.Folder = inputs.FolderPath.empty() ? platform::Utf8FromUtf16(CurrentFolder->Name()) : inputs.FolderPath;
    row.Received = mailTime;
    const double sent = mail.GetDate(d::SentOn);
    row.Sent = sent > 0 && sent < outlook::AbsentDateThreshold ? sent : 0;
    row.Sender = text(d::SenderName);
    row.Recipients = text(d::To);
    const std::string cc = text(d::CC);
    if (!cc.empty()) row.Recipients += (row.Recipients.empty() ? "" : "; ") + cc;
    row.Subject = subject;
    row.Size = mail.GetInt(d::Size);
    row.MessageId = text(d::InternetMessageID);
    row.InReplyTo = text(d::InReplyToID);
    row.References = text(d::InternetReferences);
    // The beginning of the body, for search: the whole body is on the page already, and a
    // second copy in the archive's database would double what a run writes.
    std::u16string body = mail.GetText(d::Body);
    if (body.size() > kArchiveTextCharacters) {
        std::size_t cut = kArchiveTextCharacters;
        if (body[cut - 1] >= 0xD800 && body[cut - 1] <= 0xDBFF) --cut; // never half a pair
        body.resize(cut);
    }
    row.Text = platform::Utf8FromUtf16(body);
    // Paths relative to the root, "/" between names, as links in the index want them.
    for (const auto& f : impl_->SavedNow) {
        std::string rel = f.Path.compare(0, root.size(), root) == 0 ? f.Path.substr(root.size()) : f.Path;
        for (char& c : rel)
            if (c == '\\') c = '/';
        row.Files.push_back({rel, f.Size, f.Crc, f.Picture});
    }
    return row;
}
#endif

bool ExportRun::ExportPage(const ExportInputs& inputs, int index, double mailTime, const std::string& subject,
                           PageWriter& writer) {
    const std::string root = IncludeTrailingPathDelimiter(inputs.ExportRoot);
    const std::string year = impl_->SubDir + FormatDateTime("yyyy", mailTime);
    const std::string pageName = PageFileName(mailTime, subject);
    YearDir = root + NativeSubDir(year);

    auto& tags = impl_->Tags;
    tags.CurrentMailItem = CurrentMailItem;
    tags.YearDir = YearDir;
    *tags.ArchiveScriptInPage = false;

    ExportFailure failure;
    failure.Index = index;
    failure.MailTime = mailTime;
    failure.Subject = subject;

    // The attachments are saved while the page is expanded, so they are on disk before the
    // page that links to them. One that could not be saved holds the page back: a page
    // without it would lose it in silence.
    auto& producer = impl_->PPMail;
    impl_->AttachmentFailures.clear();
    impl_->SavedNow.clear();
    if (!inputs.TemplateFile.empty()) producer.SetHTMLFile(inputs.TemplateFile);
    std::string expanded;
    try {
        expanded = producer.ExpandTemplate();
    } catch (const EFileError& e) {
        if (!e.DiskFull()) throw;
        throw EWriteError(failure.Text() + e.what(), true);
    }
    if (!impl_->AttachmentFailures.empty()) {
        for (const auto& a : impl_->AttachmentFailures) {
            if (!failure.Reason.empty()) failure.Reason += "; ";
            failure.Reason += "attachment \"" + a.FileName + "\" not saved: " + a.Reason;
        }
        RecordFailure(std::move(failure));
        return false;
    }

    // A folder that cannot be made is not remembered: its page then fails and says why.
    if (YearDir != impl_->KnownYearDir && CreateDirectoryPath(YearDir)) impl_->KnownYearDir = YearDir;
    const std::string dir = YearDir + platform::PathDelim;

    // The name is settled and the page written on the writer's thread, after the pages of
    // the mails before (two mails of one minute and subject in a row must see each other).
    // A page the file system refuses costs its mail; a full disk stops the writer, and the
    // run with it.
    const std::string owner = PageOwner(MailIdentity(*CurrentMailItem, mailTime, subject), impl_->StoreKey);
    const std::size_t bytes = expanded.size();
    // The name an earlier version gave the page, where it differs (a subject in other
    // scripts): a page it wrote for this mail is this mail's page still.
    std::string legacyName = PageFileName(mailTime, subject, NameScript::Latin);
    if (legacyName == pageName) legacyName.clear();
#ifdef QUILLMARK_HAVE_ARCHIVE
    ManifestMail row = ArchiveRow(inputs, root, mailTime, subject);
#endif
    writer.Write(bytes, [this, dir, year, pageName, legacyName, owner, text = std::move(expanded), mailTime,
                         charset = tags.Charset, failure = std::move(failure)
#ifdef QUILLMARK_HAVE_ARCHIVE
                         ,
                         row = std::move(row)
#endif
    ]() mutable {
        try {
            const std::string placed = impl_->Placer.Place(
                dir, pageName, owner, AssemblePage(PageMarkerLine(owner), text, identity_, charset), mailTime,
                legacyName);
#ifdef QUILLMARK_HAVE_ARCHIVE
            // Recorded once the page is on disk: the archive never lists a page that is not.
            row.Page = year + "/" + placed;
            impl_->Archive->Record(row);
#else
            (void)placed;
#endif
        } catch (const EFileError& e) {
            if (e.DiskFull()) throw EWriteError(failure.Text() + e.what(), true);
            failure.Reason = e.what();
            failure.PageRefused = true;
            RecordFailure(std::move(failure));
        } catch (const std::exception& e) {
            failure.Reason = e.what();
            failure.PageRefused = true;
            RecordFailure(std::move(failure));
        }
    });
    return true;
}

} // namespace quillmark
