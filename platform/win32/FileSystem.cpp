// The file system on Windows, through the wide (UTF-16) Win32 calls: the program's 8-bit
// paths are in the ANSI code page and are widened here, so every name the code page can
// hold works, whatever the C runtime's own locale is.
#include "platform/FileSystem.h"

#include "platform/Exceptions.h"
#include "platform/Calendar.h"
#include "platform/CodePage.h"

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <cmath>

namespace quillmark::platform {

const char PathDelim = '\\';

namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr double kTicksPerDay = 864000000000.0;        // 100-ns ticks
constexpr double kFileTimeEpochDays = 109205.0;        // 1601-01-01 .. 1899-12-30

std::wstring WideOf(std::string_view utf8) {
    std::u16string u = Utf16FromUtf8(utf8);
    return std::wstring(u.begin(), u.end());
}

std::string Utf8Of(const wchar_t* wide, std::size_t length) {
    return Utf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(wide), length));
}

std::string Utf8Of(const std::wstring& wide) { return Utf8Of(wide.data(), wide.size()); }

// The wide path for a system call. Paths near or over MAX_PATH only work with the "\\?\"
// prefix, which also turns off the system's own clean-up of the path; so such a path is
// first made full (resolving "/", "." and "..") and then prefixed. Short paths go as they
// are, so relative names keep meaning what they mean to the user.
std::wstring Win(const std::string& ansi) {
    std::wstring path = WideOf(ansi);
    // 248 rather than 260: a directory's name must leave room for an 8.3 file name in it.
    if (path.size() < 248 || path.rfind(L"\\\\?\\", 0) == 0) return path;
    DWORD need = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (need == 0) return path;
    std::wstring full(need, L'\0');
    DWORD got = GetFullPathNameW(path.c_str(), need, full.data(), nullptr);
    if (got == 0 || got >= need) return path;
    full.resize(got);
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2); // \\server\share
    if (full.size() >= 2 && full[1] == L':') return L"\\\\?\\" + full;
    return path;
}

// The system's text for the last error, for messages that must say why.
std::string LastErrorText(DWORD error) {
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (n > 0 && buffer) {
        text = Utf8Of(buffer, n);
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
            text.pop_back();
    }
    if (buffer) LocalFree(buffer);
    return text.empty() ? "system error " + std::to_string(error) : text;
}

// The volume has no room: nothing more can be written there.
bool IsDiskFull(DWORD error) {
    constexpr DWORD DiskQuotaExceeded = 1295; // ERROR_DISK_QUOTA_EXCEEDED, missing from some headers
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL || error == DiskQuotaExceeded;
}

class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (Valid()) CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE Get() const { return h_; }
    // Closes now and reports whether closing worked.
    bool Close() {
        HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return CloseHandle(h) != 0;
    }

private:
    HANDLE h_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

using calendar::DaysFromCivil;
using calendar::kUnixEpochDays;

// A date value as calendar fields to the whole second (rounded), like the POSIX build.
bool SystemTimeOfDateValue(double value, SYSTEMTIME& st) {
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6) return false;
    long long secs = std::llround((value - kUnixEpochDays) * kSecondsPerDay);
    long long days = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
    long long rest = secs - days * 86400;
    const auto civil = calendar::CivilFromDays(days);
    const int y = civil.Year;
    const unsigned m = civil.Month, d = civil.Day;
    if (y < 1601 || y > 30827) return false; // what SYSTEMTIME and FILETIME can hold
    st = {};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(m);
    st.wDay = static_cast<WORD>(d);
    st.wDayOfWeek = static_cast<WORD>(((days % 7) + 7 + 4) % 7); // 1970-01-01 was a Thursday
    st.wHour = static_cast<WORD>(rest / 3600);
    st.wMinute = static_cast<WORD>(rest / 60 % 60);
    st.wSecond = static_cast<WORD>(rest % 60);
    return true;
}

double DateValueOfSystemTime(const SYSTEMTIME& st) {
    double days = static_cast<double>(DaysFromCivil(st.wYear, st.wMonth, st.wDay)) + kUnixEpochDays;
    double secs = st.wHour * 3600.0 + st.wMinute * 60.0 + st.wSecond + st.wMilliseconds / 1000.0;
    return days + secs / kSecondsPerDay;
}

double DateValueOfFileTime(const FILETIME& ft) {
    ULARGE_INTEGER ticks;
    ticks.LowPart = ft.dwLowDateTime;
    ticks.HighPart = ft.dwHighDateTime;
    return static_cast<double>(ticks.QuadPart) / kTicksPerDay - kFileTimeEpochDays;
}

std::wstring KnownFolder(REFKNOWNFOLDERID id, const wchar_t* environmentFallback) {
    PWSTR path = nullptr;
    std::wstring out;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)) && path) out = path;
    CoTaskMemFree(path);
    if (out.empty()) {
        wchar_t buf[MAX_PATH * 2];
        DWORD n = GetEnvironmentVariableW(environmentFallback, buf, MAX_PATH * 2);
        if (n > 0 && n < MAX_PATH * 2) out.assign(buf, n);
    }
    while (!out.empty() && (out.back() == L'\\' || out.back() == L'/')) out.pop_back();
    return out;
}

} // namespace

bool FileExists(const std::string& path) {
    if (path.empty()) return false;
    DWORD a = GetFileAttributesW(Win(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::string& path) {
    return !path.empty() && GetFileAttributesW(Win(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectoryPath(const std::string& path) {
    if (path.empty()) return false;
    DWORD a = GetFileAttributesW(Win(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateSingleDirectory(const std::string& path) { return CreateDirectoryW(Win(path).c_str(), nullptr) != 0; }

bool DeleteFilePath(const std::string& path) { return DeleteFileW(Win(path).c_str()) != 0; }

bool RenameFilePath(const std::string& from, const std::string& to) {
    // Replaces an existing target, as rename does on the other platforms, and like it never
    // falls back to copying across volumes: a rename is all or nothing.
    if (InjectedWriteFault(to) == WriteFault::NameRefused) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    return MoveFileExW(Win(from).c_str(), Win(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::int64_t FileSize(const std::string& path) {
    const auto info = GetFileInfo(path);
    return info ? info->Size : -1;
}

std::optional<FileInfo> GetFileInfo(const std::string& path) {
    // One call for all three facts, of exactly this path: a directory search (FindFirstFile)
    // would take "?" and "*" as wildcards, and "?" is what unmappable characters become.
    if (path.empty()) return std::nullopt;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(Win(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    FileInfo info;
    info.IsDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.Size = info.IsDirectory
                    ? 0
                    : static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    info.LastWriteUtc = DateValueOfFileTime(data.ftLastWriteTime);
    return info;
}

std::optional<double> FileLastWriteUtc(const std::string& path) {
    // Opened for its attributes only and shared with everyone: a file that a viewer, the
    // indexer or a virus scanner holds open still has its time (refusing to share would give
    // "no time", which pages show as 1899-12-30). Directories open too, as elsewhere.
    Handle h(CreateFileW(Win(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.Valid()) return std::nullopt;
    FILETIME written{};
    if (!GetFileTime(h.Get(), nullptr, nullptr, &written)) return std::nullopt;
    return DateValueOfFileTime(written);
}

namespace {

// A local date value through a DOS date-time (two-second steps, 1980 to 2099) as a UTC file
// time; nullopt out of range.
std::optional<FILETIME> DosRuleWriteTime(double localDateValue) {
    SYSTEMTIME local{};
    if (!SystemTimeOfDateValue(localDateValue, local)) return std::nullopt;
    if (local.wYear < 1980 || local.wYear > 2099) return std::nullopt;
    const WORD dosDate = static_cast<WORD>(((local.wYear - 1980) << 9) | (local.wMonth << 5) | local.wDay);
    const WORD dosTime = static_cast<WORD>((local.wHour << 11) | (local.wMinute << 5) | (local.wSecond / 2));
    FILETIME localFt{};
    if (!DosDateTimeToFileTime(dosDate, dosTime, &localFt)) return std::nullopt;
    // Local to UTC by the zone rules of that date, not by LocalFileTimeToFileTime: that one
    // applies today's daylight-saving offset to every date, so a July mail exported in
    // December would be stamped an hour off (and the POSIX build uses the date's rules).
    SYSTEMTIME localSt{}, utcSt{};
    FILETIME utcFt{};
    if (!FileTimeToSystemTime(&localFt, &localSt) || !TzSpecificLocalTimeToSystemTime(nullptr, &localSt, &utcSt) ||
        !SystemTimeToFileTime(&utcSt, &utcFt))
        return std::nullopt;
    return utcFt;
}

} // namespace

bool SetFileLastWriteFromLocal(const std::string& path, double localDateValue) {
    const auto utc = DosRuleWriteTime(localDateValue);
    if (!utc) return false;
    Handle h(CreateFileW(Win(path).c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.Valid()) return false;
    return SetFileTime(h.Get(), nullptr, nullptr, &*utc) != 0;
}

bool IsDirectoryWritable(const std::string& path) {
    // Permissions on Windows are lists of rules (and Program Files may be redirected), so the
    // only reliable answer is to try: create a probe file that deletes itself when closed.
    if (!IsDirectoryPath(path)) return false;
    static std::atomic<unsigned> counter{0};
    std::string dir = path;
    if (!IsPathDelimiter(dir.back())) dir += PathDelim;
    std::string probe = dir + ".quillmark-probe-" + std::to_string(GetCurrentProcessId()) + "-" +
                        std::to_string(counter.fetch_add(1));
    Handle h(CreateFileW(Win(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return h.Valid();
}

std::vector<std::string> ListDirectory(const std::string& path) {
    std::vector<std::string> names;
    std::string pattern = path;
    if (pattern.empty() || !IsPathDelimiter(pattern.back())) pattern += PathDelim;
    pattern += '*';
    WIN32_FIND_DATAW found{};
    HANDLE h = FindFirstFileW(Win(pattern).c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        names.push_back(Utf8Of(name));
    } while (FindNextFileW(h, &found));
    FindClose(h);
    return names;
}

bool WriteFileAtomic(const std::string& path, std::string_view data, const AtomicWriteOptions& options) {
    static std::atomic<unsigned> counter{0};
    const std::string tmp = path + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" +
                            std::to_string(GetTickCount64()) + "-" + std::to_string(counter.fetch_add(1));
    const std::wstring wideTmp = Win(tmp);
    const WriteFault fault = InjectedWriteFault(path);
    Handle h(fault == WriteFault::NameRefused
                 ? INVALID_HANDLE_VALUE
                 : CreateFileW(wideTmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid()) {
        const DWORD error = fault == WriteFault::NameRefused ? ERROR_INVALID_NAME : GetLastError();
        throw EFCreateError("Cannot create file " + path + ": " + LastErrorText(error), IsDiskFull(error));
    }
    auto fail = [&](const std::string& what, DWORD error) {
        h.Close();
        DeleteFileW(wideTmp.c_str());
        throw EWriteError(what + path + ": " + LastErrorText(error), IsDiskFull(error));
    };
    if (fault == WriteFault::DiskFull) fail("Cannot write file ", ERROR_DISK_FULL);
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(left, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(h.Get(), p, chunk, &written, nullptr) || written == 0) fail("Cannot write file ", GetLastError());
        p += written;
        left -= written;
    }
    if (options.Durable && !FlushFileBuffers(h.Get())) fail("Cannot write file ", GetLastError());
    // The time is set on the open file, after the last write: nothing afterwards changes it.
    if (options.LocalWriteTime)
        if (const auto utc = DosRuleWriteTime(*options.LocalWriteTime)) SetFileTime(h.Get(), nullptr, nullptr, &*utc);
    if (!h.Close()) {
        DWORD error = GetLastError();
        DeleteFileW(wideTmp.c_str());
        throw EWriteError("Cannot write file " + path + ": " + LastErrorText(error), IsDiskFull(error));
    }
    // Without MOVEFILE_REPLACE_EXISTING the move refuses a taken name, in one step.
    const DWORD flags = options.KeepExisting ? MOVEFILE_WRITE_THROUGH : MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (!MoveFileExW(wideTmp.c_str(), Win(path).c_str(), flags)) {
        DWORD error = GetLastError();
        // Taken: by a file (ALREADY_EXISTS) or by a directory (refused with another error).
        if (options.KeepExisting && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ||
                                     GetFileAttributesW(Win(path).c_str()) != INVALID_FILE_ATTRIBUTES)) {
            if (options.TakenTemporary)
                *options.TakenTemporary = tmp;
            else
                DeleteFileW(wideTmp.c_str());
            return false;
        }
        DeleteFileW(wideTmp.c_str());
        throw EWriteError("Cannot replace file " + path + ": " + LastErrorText(error));
    }
    return true;
}

ReadOnlyFile::ReadOnlyFile(const std::filesystem::path& path) : path_(path) {
    // Others may go on writing the file (a mail program appending to its mailbox).
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw EFOpenError("Cannot open file " + Utf8Path(path));
    handle_ = reinterpret_cast<std::intptr_t>(h);
}

ReadOnlyFile::~ReadOnlyFile() { CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

std::size_t ReadOnlyFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const std::uint64_t at = offset + done;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer + done, chunk, &got, &where)) {
            const DWORD error = GetLastError();
            if (error == ERROR_HANDLE_EOF) break;
            throw Exception("Cannot read file " + Utf8Path(path_) + ": " + LastErrorText(error));
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

std::string ReadWholeFile(const std::string& path) {
    Handle h(CreateFileW(Win(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid()) throw EFOpenError("Cannot open file " + path);
    std::string data;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(h.Get(), &size) && size.QuadPart > 0) data.reserve(static_cast<std::size_t>(size.QuadPart));
    char buf[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(h.Get(), buf, sizeof buf, &got, nullptr)) throw EFOpenError("Cannot open file " + path);
        if (got == 0) break;
        data.append(buf, got);
    }
    return data;
}

std::string ExecutableFilePath() {
    // The system's answer for the program's own module. A fixed buffer of MAX_PATH would cut
    // a longer path into a wrong one, so the buffer grows until the path fits.
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) {
            buf.resize(n);
            break;
        }
        if (buf.size() >= 32768) return {};
        buf.resize(buf.size() * 2);
    }
    // UTF-8 holds every name the system gives, whatever the user's language.
    return Utf8Of(buf);
}

std::string UserDataDirectory() { return Utf8Of(KnownFolder(FOLDERID_RoamingAppData, L"APPDATA")); }

// Settings live in the registry on Windows; files that stand for settings go beside the
// user's other roaming data, like the registry's per-user part roams with the user.
std::string UserConfigDirectory() { return Utf8Of(KnownFolder(FOLDERID_RoamingAppData, L"APPDATA")); }

double NowLocal() {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    return DateValueOfSystemTime(st);
}

void PinLocalTimeZone() {
    // Nothing to do: the system's conversions read the zone from memory.
}

double LocalToUtc(double localDateValue) {
    SYSTEMTIME local{}, utc{};
    if (!SystemTimeOfDateValue(localDateValue, local)) return localDateValue;
    double frac = localDateValue - DateValueOfSystemTime(local); // what the whole seconds leave
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc)) return localDateValue;
    return DateValueOfSystemTime(utc) + frac;
}

double UtcToLocal(double utcDateValue) {
    SYSTEMTIME utc{}, local{};
    if (!SystemTimeOfDateValue(utcDateValue, utc)) return utcDateValue;
    double frac = utcDateValue - DateValueOfSystemTime(utc);
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return utcDateValue;
    return DateValueOfSystemTime(local) + frac;
}

std::filesystem::path NativePath(const std::string& path) { return std::filesystem::path(WideOf(path)); }

std::string Utf8Path(const std::filesystem::path& path) { return Utf8Of(path.wstring()); }

} // namespace quillmark::platform
