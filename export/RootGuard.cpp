#include "export/RootGuard.h"

#include "SrcLib/uLib.h"
#include "platform/FileSystem.h"

namespace quillmark {

ExportRootGuard::ExportRootGuard(const std::string& root) {
    const std::string path = IncludeTrailingPathDelimiter(root) + RootLockFileName;
    using State = platform::DirectoryLock::State;
    switch (lock_.TryLock(path)) {
    case State::HeldByOther:
        throw ERootInUse("The export root " + root + " is in use by another export run (" +
                             platform::DirectoryLock::Describe(lock_.Previous()) +
                             "). Try again when it has finished.",
                         lock_.Previous().Pid);
    case State::TookOver:
        notice_ = "An earlier export run into this root (" + platform::DirectoryLock::Describe(lock_.Previous()) +
                  ") ended without finishing; its lock is taken over and what it left half-written is removed.";
        break;
    case State::Locked: break;
    }
}

bool IsLeftoverTemporaryName(const std::string& name) {
    if (platform::IsOwnTemporaryName(name)) return true;
    // "_tempatt" / "_tempimg" with at most one extension: saved attachments never have these
    // names (their base names never start with "_t", and the temporary name itself is passed
    // over when an attachment would take it).
    if (name.size() < 8 || (name.compare(0, 8, "_tempatt") != 0 && name.compare(0, 8, "_tempimg") != 0)) return false;
    if (name.size() == 8) return true;
    return name[8] == '.' && name.find('.', 9) == std::string::npos;
}

namespace {

int RemoveIn(const std::string& dir) {
    int removed = 0;
    const long self = platform::CurrentProcessId();
    for (const auto& name : platform::ListDirectory(dir)) {
        if (!IsLeftoverTemporaryName(name)) continue;
        long pid = 0;
        // Another run's atomic write may be under way only if its process still runs; no
        // other run of ours writes here while this one holds the root's lock, but a writer
        // that is not a run (or one on another machine) is left alone all the same.
        if (platform::IsOwnTemporaryName(name, &pid) && pid != self && platform::ProcessIsRunning(pid)) continue;
        const std::string path = dir + name;
        const auto info = platform::GetFileInfo(path);
        if (!info || info->IsDirectory) continue;
        if (platform::DeleteFilePath(path)) ++removed;
    }
    return removed;
}

bool IsYearName(const std::string& name) {
    if (name.size() != 4) return false;
    for (char c : name)
        if (c < '0' || c > '9') return false;
    return true;
}

} // namespace

int RemoveLeftoverTemporaries(const std::string& root, const std::string& attachmentsDir) {
    const std::string top = IncludeTrailingPathDelimiter(root);
    int removed = RemoveIn(top);
    if (!attachmentsDir.empty()) removed += RemoveIn(IncludeTrailingPathDelimiter(top + attachmentsDir));
    for (const auto& name : platform::ListDirectory(top)) {
        if (!IsYearName(name) || !platform::IsDirectoryPath(top + name)) continue;
        const std::string year = top + name + platform::PathDelim;
        removed += RemoveIn(year);
        removed += RemoveIn(year + "attsimgs" + platform::PathDelim);
    }
    return removed;
}

} // namespace quillmark
