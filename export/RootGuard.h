// One export run per export root at a time. A run takes the root's lock file before it
// writes anything and lets go when it ends; a second run into the same root is refused
// and told which process holds it. A run that was killed left its lock file naming it; the
// next run takes the lock over (the system freed it when the process ended) and says so,
// and removes the temporary files the killed run left behind.
#pragma once

#include "platform/DirectoryLock.h"
#include "platform/Exceptions.h"

#include <string>

namespace quillmark {

constexpr const char* RootLockFileName = ".quillmark-lock";

// The root is in use by another run.
class ERootInUse : public Exception {
public:
    ERootInUse(const std::string& message, long holderPid) : Exception(message), holderPid_(holderPid) {}
    long HolderPid() const { return holderPid_; }

private:
    long holderPid_;
};

class ExportRootGuard {
public:
    // Takes the lock of root (a directory that exists). Throws ERootInUse when another
    // process holds it, EFCreateError when the lock file cannot be made.
    explicit ExportRootGuard(const std::string& root);
    // "" unless a killed run's lock was taken over: then the notice to show the user.
    const std::string& TakeOverNotice() const { return notice_; }

private:
    platform::DirectoryLock lock_;
    std::string notice_;
};

// Removes the temporary files that runs into this root left when they were killed: the
// atomic writes' "<name>.tmp-<pid>-<n>" of processes that no longer run (or of this one,
// which writes nothing there at this point), and the attachment and picture temporaries
// "_tempatt<.ext>" / "_tempimg<.ext>". Looks in the root, its attachments directory, the
// year folders and their picture folders only. Call with the root's lock held. Returns how
// many files were removed.
int RemoveLeftoverTemporaries(const std::string& root, const std::string& attachmentsDir);

// True for the names RemoveLeftoverTemporaries removes when their process is gone.
bool IsLeftoverTemporaryName(const std::string& name);

} // namespace quillmark
