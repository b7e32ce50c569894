#include "platform/DirectoryLock.h"

#include "platform/Exceptions.h"
#include "platform/FileSystem.h"

#include <windows.h>

namespace quillmark::platform {

namespace {

std::wstring WideOfUtf8(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string Utf8OfWide(const wchar_t* wide, int length) {
    if (length <= 0) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, length, text.data(), n, nullptr, nullptr);
    return text;
}

// The lock covers one byte far beyond the record: a locked range cannot be read by others,
// and the record must stay readable so that a second run can say who holds the lock.
constexpr DWORD LockOffsetHigh = 0x7FFFFFFF;

} // namespace

long CurrentProcessId() { return static_cast<long>(GetCurrentProcessId()); }

bool ProcessIsRunning(long pid) {
    if (pid <= 0) return false;
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!h) return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool running = GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
    CloseHandle(h);
    return running;
}

std::string HostName() {
    wchar_t buf[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(buf, &n)) return {};
    return Utf8OfWide(buf, static_cast<int>(n));
}

DirectoryLock::State DirectoryLock::TryLock(const std::string& path) {
    Unlock();
    previous_ = Holder{};
    HANDLE h = CreateFileW(WideOfUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        throw EFCreateError("Cannot create file " + path, err == ERROR_DISK_FULL || err == ERROR_HANDLE_DISK_FULL);
    }
    char buf[512];
    DWORD got = 0;
    if (!ReadFile(h, buf, sizeof buf - 1, &got, nullptr)) got = 0;
    previous_ = ParseRecord(std::string(buf, got));
    OVERLAPPED where{};
    where.OffsetHigh = LockOffsetHigh;
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
        const DWORD err = GetLastError();
        CloseHandle(h);
        if (err == ERROR_LOCK_VIOLATION || err == ERROR_IO_PENDING) return State::HeldByOther;
        throw EFCreateError("Cannot lock file " + path);
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    const std::string record = OwnRecord();
    LARGE_INTEGER zero{};
    DWORD written = 0;
    if (SetFilePointerEx(h, zero, nullptr, FILE_BEGIN) && SetEndOfFile(h))
        WriteFile(h, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    return previous_.Pid > 0 ? State::TookOver : State::Locked;
}

void DirectoryLock::Unlock() {
    if (handle_ == -1) return;
    HANDLE h = reinterpret_cast<HANDLE>(handle_);
    handle_ = -1;
    LARGE_INTEGER zero{};
    if (SetFilePointerEx(h, zero, nullptr, FILE_BEGIN)) SetEndOfFile(h);
    OVERLAPPED where{};
    where.OffsetHigh = LockOffsetHigh;
    UnlockFileEx(h, 0, 1, 0, &where);
    CloseHandle(h);
}

} // namespace quillmark::platform
