#include "platform/FileSystem.h"

#include "platform/Exceptions.h"
#include "platform/Calendar.h"
#include "platform/CodePage.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace quillmark::platform {

const char PathDelim = '/';

namespace {

using calendar::DaysFromCivil;
using calendar::kUnixEpochDays;
constexpr double kSecondsPerDay = 86400.0;


// A broken-down time (as the fields say, no zone) as a date value.
double DateValueOfTm(const std::tm& tm) {
    double days = static_cast<double>(DaysFromCivil(tm.tm_year + 1900LL, tm.tm_mon + 1, tm.tm_mday));
    double secs = tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec;
    return days + kUnixEpochDays + secs / kSecondsPerDay;
}

// A date value split into whole seconds as broken-down fields (no zone).
bool TmOfDateValue(double value, std::tm& tm) {
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6) return false;
    long long totalSecs = std::llround((value - kUnixEpochDays) * kSecondsPerDay);
    time_t t = static_cast<time_t>(totalSecs);
    return gmtime_r(&t, &tm) != nullptr;
}

// A local date value through the DOS date-time rule (1980-2099, seconds rounded down to
// even) as seconds since the epoch; nullopt out of range.
std::optional<time_t> DosRuleWriteTime(double localDateValue) {
    std::tm tm{};
    if (!TmOfDateValue(localDateValue, tm)) return std::nullopt;
    int year = tm.tm_year + 1900;
    if (year < 1980 || year > 2099) return std::nullopt;
    tm.tm_sec -= tm.tm_sec % 2; // DOS times count seconds in twos
    tm.tm_isdst = -1;
    time_t t = mktime(&tm);
    if (t == static_cast<time_t>(-1)) return std::nullopt;
    return t;
}

bool SetWriteTime(int fd, time_t utc) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = utc;
    times[1].tv_nsec = 0;
    return futimens(fd, times) == 0;
}

// Gives from the name to; true when done, false when to was taken, nullopt (errno set) on
// another failure. Atomic where the file system allows: renameat2 with RENAME_NOREPLACE,
// else a hard link (which also refuses a taken name), else - on file systems with neither,
// such as FAT - a look and then a rename.
std::optional<bool> RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) return false;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return std::nullopt;
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) return false;
    struct stat st {};
    if (lstat(to.c_str(), &st) == 0) return false;
    if (rename(from.c_str(), to.c_str()) == 0) return true;
    return std::nullopt;
}

// The file system has no room: nothing more can be written there.
bool IsDiskFull(int err) { return err == ENOSPC || err == EDQUOT; }

double DateValueOfTimespec(const struct timespec& ts) {
    double secs = static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
    return kUnixEpochDays + secs / kSecondsPerDay;
}

} // namespace

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && lstat(path.c_str(), &st) == 0;
}

bool IsDirectoryPath(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateSingleDirectory(const std::string& path) { return mkdir(path.c_str(), 0777) == 0; }

bool DeleteFilePath(const std::string& path) { return unlink(path.c_str()) == 0; }

bool RenameFilePath(const std::string& from, const std::string& to) {
    if (InjectedWriteFault(to) == WriteFault::NameRefused) {
        errno = EINVAL;
        return false;
    }
    return rename(from.c_str(), to.c_str()) == 0;
}

std::int64_t FileSize(const std::string& path) {
    const auto info = GetFileInfo(path);
    return info ? info->Size : -1;
}

std::optional<double> FileLastWriteUtc(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    int rc = fstat(fd, &st);
    close(fd);
    if (rc != 0) return std::nullopt;
    return DateValueOfTimespec(st.st_mtim);
}

std::optional<FileInfo> GetFileInfo(const std::string& path) {
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0) return std::nullopt;
    FileInfo info;
    info.IsDirectory = S_ISDIR(st.st_mode);
    info.Size = info.IsDirectory ? 0 : static_cast<std::int64_t>(st.st_size);
    info.LastWriteUtc = DateValueOfTimespec(st.st_mtim);
    return info;
}

bool SetFileLastWriteFromLocal(const std::string& path, double localDateValue) {
    const auto utc = DosRuleWriteTime(localDateValue);
    if (!utc) return false;
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = SetWriteTime(fd, *utc);
    close(fd);
    return ok;
}

bool IsDirectoryWritable(const std::string& path) {
    return IsDirectoryPath(path) && access(path.c_str(), W_OK | X_OK) == 0;
}

std::vector<std::string> ListDirectory(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (!dir) return names;
    while (dirent* e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        names.push_back(e->d_name);
    }
    closedir(dir);
    return names;
}

bool WriteFileAtomic(const std::string& path, std::string_view data, const AtomicWriteOptions& options) {
    std::string target = path;
    const WriteFault fault = InjectedWriteFault(path);
    // A temporary name of our own made with O_EXCL rather than mkstemp: the file is created
    // with the permissions the user's umask gives (mkstemp's 0600 would need one more call
    // to widen), and a name left by a crashed run is simply passed over.
    static std::atomic<unsigned> counter{0};
    static const std::string pid = std::to_string(getpid());
    std::string suffix, tmp; // the suffix is ASCII: the same in the ANSI and the native name
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        suffix = ".tmp-" + pid + "-" + std::to_string(counter.fetch_add(1));
        tmp = target + suffix;
        if (fault == WriteFault::NameRefused) {
            errno = EINVAL;
            break;
        }
        fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        const int err = errno;
        throw EFCreateError("Cannot create file " + path + ": " + std::strerror(err), IsDiskFull(err));
    }
    auto fail = [&](const char* what) {
        int err = errno;
        close(fd);
        unlink(tmp.c_str());
        throw EWriteError(what + path + ": " + std::strerror(err), IsDiskFull(err));
    };
    if (fault == WriteFault::DiskFull) {
        errno = ENOSPC;
        fail("Cannot write file ");
    }
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail("Cannot write file ");
        if (n == 0) {
            errno = EIO;
            fail("Cannot write file ");
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (options.Durable && fsync(fd) != 0) fail("Cannot write file ");
    // The time is set on the open file, after the last write: nothing afterwards changes it.
    if (options.LocalWriteTime)
        if (const auto utc = DosRuleWriteTime(*options.LocalWriteTime)) SetWriteTime(fd, *utc);
    if (close(fd) != 0) {
        int err = errno;
        unlink(tmp.c_str());
        throw EWriteError("Cannot write file " + path + ": " + std::strerror(err), IsDiskFull(err));
    }
    if (options.KeepExisting) {
        if (const auto placed = RenameNoReplace(tmp, target)) {
            if (!*placed) {
                if (options.TakenTemporary)
                    *options.TakenTemporary = path + suffix;
                else
                    unlink(tmp.c_str());
            }
            return *placed;
        }
        int err = errno;
        unlink(tmp.c_str());
        throw EWriteError("Cannot write file " + path + ": " + std::strerror(err));
    }
    if (rename(tmp.c_str(), target.c_str()) != 0) {
        int err = errno;
        unlink(tmp.c_str());
        throw EWriteError("Cannot replace file " + path + ": " + std::strerror(err));
    }
    return true;
}

ReadOnlyFile::ReadOnlyFile(const std::filesystem::path& path) : path_(path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw EFOpenError("Cannot open file " + Utf8Path(path));
    handle_ = fd;
}

ReadOnlyFile::~ReadOnlyFile() { close(static_cast<int>(handle_)); }

std::size_t ReadOnlyFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(static_cast<int>(handle_), buffer + done, size - done,
                                static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw Exception("Cannot read file " + Utf8Path(path_) + ": " + std::strerror(errno));
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::string ReadWholeFile(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw EFOpenError("Cannot open file " + path);
    std::string data;
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            throw EFOpenError("Cannot open file " + path);
        }
        if (n == 0) break;
        data.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    return data;
}

std::string ExecutableFilePath() {
    char buf[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0) return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

namespace {
std::string XdgDir(const char* var, const char* fallbackBelowHome) {
    const char* v = std::getenv(var);
    if (v && v[0] == '/') return v;
    const char* home = std::getenv("HOME");
    std::string h = home && home[0] ? home : "/tmp";
    return h + fallbackBelowHome;
}
} // namespace

std::string UserDataDirectory() { return XdgDir("XDG_DATA_HOME", "/.local/share"); }
std::string UserConfigDirectory() { return XdgDir("XDG_CONFIG_HOME", "/.config"); }

double NowLocal() {
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    localtime_r(&ts.tv_sec, &tm);
    return DateValueOfTm(tm) + (ts.tv_nsec / 1e9) / kSecondsPerDay;
}

void PinLocalTimeZone() {
    // With TZ unset the C library stands for "/etc/localtime" but checks that file again on
    // every mktime; naming the same file in TZ keeps the meaning and drops the checks.
    if (!std::getenv("TZ")) setenv("TZ", ":/etc/localtime", 1);
    tzset();
}

double LocalToUtc(double localDateValue) {
    std::tm tm{};
    if (!TmOfDateValue(localDateValue, tm)) return localDateValue;
    double frac = localDateValue - DateValueOfTm(tm); // sub-second part
    tm.tm_isdst = -1;
    time_t t = mktime(&tm);
    if (t == static_cast<time_t>(-1)) return localDateValue;
    return kUnixEpochDays + static_cast<double>(t) / kSecondsPerDay + frac;
}

double UtcToLocal(double utcDateValue) {
    std::tm utc{};
    if (!TmOfDateValue(utcDateValue, utc)) return utcDateValue;
    double frac = utcDateValue - DateValueOfTm(utc);
    time_t t = static_cast<time_t>(std::llround((utcDateValue - frac - kUnixEpochDays) * kSecondsPerDay));
    std::tm local{};
    if (!localtime_r(&t, &local)) return utcDateValue;
    return DateValueOfTm(local) + frac;
}

std::filesystem::path NativePath(const std::string& path) { return std::filesystem::path(path); }

std::string Utf8Path(const std::filesystem::path& path) { return path.string(); }

} // namespace quillmark::platform
