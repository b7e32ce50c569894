#include "app/cli/RunSummary.h"

#include "SrcLib/DateTime.h"
#include "platform/Unicode.h"

#include <cstdio>
#include <sstream>

namespace quillmark::cli {

std::string ResultText(ExportOutcome outcome) {
    switch (outcome) {
    case ExportOutcome::Completed: return "ok";
    case ExportOutcome::Failed: return "finished with failures";
    default: return "Break.";
    }
}

std::string SummaryText(const RunSummary& r) {
    const ExportStats& s = r.Stats;
    std::ostringstream o;
    o << "Folder:             " << r.Folder << "  ->  " << r.Out << '\n';
    if (s.FolderCount > 1) o << "Folders:            " << s.FolderCount << " (with its subfolders)\n";
    o
      << "Items seen:         " << s.ItemsSeen << " of " << s.ItemCount << '\n'
      << "Exported:           " << s.Exported << '\n'
      << "Filtered:           " << s.Filtered << '\n'
      << "Not mail:           " << s.NotMail << '\n'
      << "Duplicates:         " << s.Duplicates << '\n'
      << "Already archived:   " << s.AlreadyArchived << '\n'
      << "Attachments saved:  " << s.AttachmentsSaved << " (already saved: " << s.AttachmentsReused << ")\n"
      << "Pictures saved:     " << s.PicturesSaved << " (already saved: " << s.PicturesReused << ")\n"
      << "Not written:        " << s.Failed << (s.Failed ? " (named on standard error)" : "") << '\n'
      // No mail read (a resume that found everything archived): no time rather than day zero.
      << "Last mail time:     " << (s.LastMailTime > 0 ? DateTimeToText(s.LastMailTime) : std::string("none")) << '\n'
      << (s.IndexUnchanged ? "Index:              unchanged, left as it was" : [&] {
             char buf[48];
             std::snprintf(buf, sizeof buf, "Index written in:   %.1f s", s.IndexSeconds);
             return std::string(buf);
         }()) << '\n'
      << "Time taken:         " << [&] {
             char buf[32];
             std::snprintf(buf, sizeof buf, "%.1f s", r.Seconds);
             return std::string(buf);
         }() << '\n'
      << "Result:             " << ResultText(r.Outcome) << '\n';
    if (r.NextResumeFrom) o << "Next --resume from: " << *r.NextResumeFrom << '\n';
    return o.str();
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        const char32_t ch = platform::unicode::NextUtf8(text, i);
        if (ch == platform::unicode::kBad) {
            out += "\\ufffd";
            continue;
        }
        if (ch == '"') out += "\\\"";
        else if (ch == '\\') out += "\\\\";
        else if (ch == '\n') out += "\\n";
        else if (ch == '\r') out += "\\r";
        else if (ch == '\t') out += "\\t";
        else if (ch < 0x20 || ch == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(ch));
            out += buf;
        } else {
            out.append(text, start, i - start);
        }
    }
    return out + "\"";
}

std::string SummaryJson(const RunSummary& r) {
    const ExportStats& s = r.Stats;
    std::ostringstream o;
    const char* result = r.Outcome == ExportOutcome::Completed ? "ok"
                         : r.Outcome == ExportOutcome::Failed  ? "failures"
                                                               : "stopped";
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", r.Seconds);
    o << "{\"folder\":" << JsonString(r.Folder) << ",\"out\":" << JsonString(r.Out) << ",\"result\":\"" << result
      << "\",\"exitCode\":" << r.ExitCode << ",\"folders\":" << s.FolderCount << ",\"items\":" << s.ItemCount << ",\"itemsSeen\":" << s.ItemsSeen
      << ",\"exported\":" << s.Exported << ",\"filtered\":" << s.Filtered << ",\"notMail\":" << s.NotMail
      << ",\"duplicates\":" << s.Duplicates << ",\"alreadyArchived\":" << s.AlreadyArchived
      << ",\"attachmentsSaved\":" << s.AttachmentsSaved << ",\"attachmentsReused\":" << s.AttachmentsReused
      << ",\"picturesSaved\":" << s.PicturesSaved << ",\"picturesReused\":" << s.PicturesReused
      << ",\"failed\":" << s.Failed << ",\"failures\":[";
    for (std::size_t i = 0; i < s.Failures.size(); ++i)
        o << (i ? "," : "") << JsonString(s.Failures[i].Text());
    o << "],\"lastMailTime\":" << (s.LastMailTime > 0 ? JsonString(DateTimeToText(s.LastMailTime)) : "null")
      << ",\"seconds\":" << seconds
      << ",\"nextResumeFrom\":" << (r.NextResumeFrom ? JsonString(*r.NextResumeFrom) : "null") << "}\n";
    return o.str();
}

} // namespace quillmark::cli
