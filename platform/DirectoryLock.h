// One writer per directory at a time, across processes: an advisory lock held through a
// small file in the directory. The lock belongs to the open file, so the system lets go of
// it when the process ends in any way (a kill -9 included); the file itself stays and names
// the last holder, which is how a run that ended without cleaning up is recognised.
#pragma once

#include <cstdint>
#include <string>

namespace quillmark::platform {

class DirectoryLock {
public:
    struct Holder {
        long Pid = 0;     // 0 when the file names none
        std::string Host; // the machine it ran on, as it called itself
    };
    enum class State {
        Locked,      // taken; the file named no holder
        TookOver,    // taken; the file named a holder that holds it no more (it ended without letting go)
        HeldByOther, // another process holds it; Previous() names it as far as its file says
    };

    DirectoryLock() = default;
    ~DirectoryLock() { Unlock(); }
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

    // Tries once, without waiting, to lock through the file at path (made when missing).
    // On Locked and TookOver this object holds the lock until Unlock or its end, and the
    // file names this process. Throws EFCreateError when the file cannot be made or opened.
    State TryLock(const std::string& path);
    // Lets go and clears the file, so that the next taker sees a clean end. No-op when not held.
    void Unlock();
    bool Held() const { return handle_ != -1; }
    const Holder& Previous() const { return previous_; }

    // "process 1234 on host", or "another process" when the file names none.
    static std::string Describe(const Holder& holder);
    // The file's text for this process, and the holder a file's text names.
    static std::string OwnRecord();
    static Holder ParseRecord(const std::string& text);

private:
    std::intptr_t handle_ = -1; // a descriptor or a HANDLE
    Holder previous_;
};

// This machine's name ("" when it cannot be had).
std::string HostName();

} // namespace quillmark::platform
