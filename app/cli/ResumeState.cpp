#include "app/cli/ResumeState.h"

#include "platform/FileSystem.h"

#include <sstream>
#include <vector>

namespace quillmark::cli {

// File format: a comment line (no TAB), then one line per folder: the folder key, a TAB, the From
// text. Keys are the --folder texts; a TAB or line break cannot be typed into them usefully,
// so they are replaced by blanks.
namespace {

std::string CleanKey(std::string key) {
    for (auto& c : key)
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    return key;
}

std::vector<std::pair<std::string, std::string>> ReadEntries(const std::string& stateFile) {
    std::vector<std::pair<std::string, std::string>> entries;
    if (!platform::FileExists(stateFile)) return entries;
    std::string text;
    try {
        text = platform::ReadWholeFile(stateFile);
    } catch (const std::exception&) {
        return entries;
    }
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // Lines without a TAB are comments; a folder whose name starts with "#" is a folder.
        const auto tab = line.find('\t');
        if (tab == std::string::npos) continue;
        entries.emplace_back(line.substr(0, tab), line.substr(tab + 1));
    }
    return entries;
}

} // namespace

std::optional<std::string> LoadResumeFrom(const std::string& stateFile, const std::string& folderKey) {
    const std::string key = CleanKey(folderKey);
    for (const auto& [k, v] : ReadEntries(stateFile))
        if (k == key) return v;
    return std::nullopt;
}

void SaveResumeFrom(const std::string& stateFile, const std::string& folderKey, const std::string& fromText) {
    const std::string key = CleanKey(folderKey);
    auto entries = ReadEntries(stateFile);
    bool found = false;
    for (auto& [k, v] : entries)
        if (k == key) {
            v = fromText;
            found = true;
        }
    if (!found) entries.emplace_back(key, fromText);
    std::string text = "# quillmark-export --resume: where the next run over each folder starts\n";
    for (const auto& [k, v] : entries) text += k + "\t" + v + "\n";
    platform::WriteFileAtomic(stateFile, text);
}

} // namespace quillmark::cli
