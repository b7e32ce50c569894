// The parts of the file system layer that are the same on every system: the injected write
// faults, the names of our own temporary files, and the lock file's record.
#include "platform/DirectoryLock.h"
#include "platform/FileSystem.h"

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <mutex>

namespace quillmark::platform {

namespace {
std::mutex gFaultMutex;
std::function<WriteFault(const std::string&)> gFaultHook;
std::atomic<bool> gFaultHookSet{false}; // spares the mutex on every write when no test set one

bool AllDigits(const std::string& s, std::size_t from, std::size_t to) {
    if (from >= to) return false;
    for (std::size_t i = from; i < to; ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}
} // namespace

void SetWriteFaultHook(std::function<WriteFault(const std::string& path)> hook) {
    std::lock_guard lock(gFaultMutex);
    gFaultHook = std::move(hook);
    gFaultHookSet = static_cast<bool>(gFaultHook);
}

WriteFault InjectedWriteFault(const std::string& path) {
    if (!gFaultHookSet) return WriteFault::None;
    std::lock_guard lock(gFaultMutex);
    return gFaultHook ? gFaultHook(path) : WriteFault::None;
}

bool IsOwnTemporaryName(const std::string& name, long* pid) {
    // <target>.tmp-<pid>-<n> (POSIX) or <target>.tmp-<pid>-<ticks>-<n> (Windows), with a
    // target name of at least one character.
    const std::size_t mark = name.rfind(".tmp-");
    if (mark == std::string::npos || mark == 0) return false;
    const std::size_t start = mark + 5;
    std::size_t dash1 = name.find('-', start);
    if (dash1 == std::string::npos || !AllDigits(name, start, dash1)) return false;
    std::size_t dash2 = name.find('-', dash1 + 1);
    if (dash2 == std::string::npos) {
        if (!AllDigits(name, dash1 + 1, name.size())) return false;
    } else if (!AllDigits(name, dash1 + 1, dash2) || !AllDigits(name, dash2 + 1, name.size())) {
        return false;
    }
    if (dash1 - start > 9) return false; // no process id is that long: not one of ours
    if (pid) *pid = std::strtol(name.c_str() + start, nullptr, 10);
    return true;
}

std::string DirectoryLock::OwnRecord() { return std::to_string(CurrentProcessId()) + " " + HostName() + "\n"; }

DirectoryLock::Holder DirectoryLock::ParseRecord(const std::string& text) {
    Holder h;
    std::size_t i = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    if (i == 0 || i > 9) return h;
    h.Pid = std::strtol(text.c_str(), nullptr, 10);
    std::size_t end = text.find_first_of("\r\n", i);
    if (end == std::string::npos) end = text.size();
    while (i < end && text[i] == ' ') ++i;
    h.Host = text.substr(i, end - i);
    return h;
}

std::string DirectoryLock::Describe(const Holder& holder) {
    if (holder.Pid <= 0) return "another process";
    std::string text = "process " + std::to_string(holder.Pid);
    if (!holder.Host.empty()) text += " on " + holder.Host;
    return text;
}

} // namespace quillmark::platform
