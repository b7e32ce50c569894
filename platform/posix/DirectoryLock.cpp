#include "platform/DirectoryLock.h"

#include "platform/Exceptions.h"
#include "platform/FileSystem.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace quillmark::platform {

long CurrentProcessId() { return static_cast<long>(getpid()); }

bool ProcessIsRunning(long pid) {
    if (pid <= 0 || pid > INT_MAX) return false;
    if (kill(static_cast<pid_t>(pid), 0) == 0) return true;
    return errno == EPERM; // there, but another user's
}

std::string HostName() {
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return {};
    return buf;
}

DirectoryLock::State DirectoryLock::TryLock(const std::string& path) {
    Unlock();
    previous_ = Holder{};
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int err = errno;
        throw EFCreateError("Cannot create file " + path + ": " + std::strerror(err), err == ENOSPC || err == EDQUOT);
    }
    char buf[512];
    ssize_t n;
    do n = pread(fd, buf, sizeof buf - 1, 0);
    while (n < 0 && errno == EINTR);
    previous_ = ParseRecord(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0));
    int rc;
    do rc = flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        close(fd);
        if (err == EWOULDBLOCK) return State::HeldByOther;
        throw EFCreateError("Cannot lock file " + path + ": " + std::strerror(err));
    }
    handle_ = fd;
    // Ours now. The record is best effort: a full disk must not keep the run from starting
    // (it then stops at its first page with the reason).
    const std::string record = OwnRecord();
    if (ftruncate(fd, 0) == 0) {
        ssize_t w;
        do w = pwrite(fd, record.data(), record.size(), 0);
        while (w < 0 && errno == EINTR);
    }
    return previous_.Pid > 0 ? State::TookOver : State::Locked;
}

void DirectoryLock::Unlock() {
    if (handle_ == -1) return;
    const int fd = static_cast<int>(handle_);
    handle_ = -1;
    // Cleared while still held: an empty file tells the next run that this one ended well.
    // The file stays (removing it would let two runs lock two different files of one name).
    if (ftruncate(fd, 0) != 0) {
        // nothing to be done: the next run takes it over with a message
    }
    flock(fd, LOCK_UN);
    close(fd);
}

} // namespace quillmark::platform
