// The end-of-run summary of an export: as text for people, as one JSON object for scripts.
#pragma once

#include "export/ExportRun.h"

#include <optional>
#include <string>

namespace quillmark::cli {

struct RunSummary {
    std::string Folder; // as the tree spells it
    std::string Out;    // the export root as given
    ExportStats Stats;
    ExportOutcome Outcome = ExportOutcome::Completed;
    int ExitCode = 0;
    double Seconds = 0;
    std::optional<std::string> NextResumeFrom; // with --resume, when the run went through the folder
};

// "ok", "finished with failures" or "Break.".
std::string ResultText(ExportOutcome outcome);

// The lines printed after a run ("Exported:           6", ...).
std::string SummaryText(const RunSummary& summary);

// One line holding one JSON object: {"folder":"Inbox","out":"export","result":"ok",...}.
std::string SummaryJson(const RunSummary& summary);

// text as a JSON string literal, quotes included. Text that is not UTF-8 has its stray
// bytes replaced by U+FFFD, so that the object stays valid JSON.
std::string JsonString(const std::string& text);

} // namespace quillmark::cli
