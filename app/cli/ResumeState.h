// The From bound that --resume keeps between runs, one per folder, in a small text file in
// the export root (the window keeps the same value in its settings).
#pragma once

#include <optional>
#include <string>

namespace quillmark::cli {

constexpr const char* ResumeStateFileName = ".quillmark-state";

// The bound stored for folderKey, if any. A missing or unreadable file gives none.
std::optional<std::string> LoadResumeFrom(const std::string& stateFile, const std::string& folderKey);

// Stores the bound for folderKey, keeping the other folders' lines; written atomically.
void SaveResumeFrom(const std::string& stateFile, const std::string& folderKey, const std::string& fromText);

} // namespace quillmark::cli
