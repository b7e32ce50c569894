#include "platform/FileSystem.h"

#include "SrcLib/Exceptions.h"
#include "platform/Calendar.h"
#include "platform/CodePage.h"

#include <cerrno>
#include <climits>
#include <cmath>
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

std::string Native(const std::string& ansi) { return Utf8FromAnsi(ansi); }

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

mode_t FileCreationMode() {
    static const mode_t mode = [] {
        mode_t mask = umask(0);
        umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

} // namespace

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(Native(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && lstat(Native(path).c_str(), &st) == 0;
}

bool IsDirectoryPath(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(Native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateSingleDirectory(const std::string& path) { return mkdir(Native(path).c_str(), 0777) == 0; }

bool DeleteFilePath(const std::string& path) { return unlink(Native(path).c_str()) == 0; }

bool RenameFilePath(const std::string& from, const std::string& to) {
    return rename(Native(from).c_str(), Native(to).c_str()) == 0;
}

std::int64_t FileSize(const std::string& path) {
    struct stat st {};
    if (path.empty() || stat(Native(path).c_str(), &st) != 0) return -1;
    return S_ISDIR(st.st_mode) ? 0 : static_cast<std::int64_t>(st.st_size);
}

std::optional<double> FileLastWriteUtc(const std::string& path) {
    int fd = open(Native(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    int rc = fstat(fd, &st);
    close(fd);
    if (rc != 0) return std::nullopt;
    double secs = static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9;
    return kUnixEpochDays + secs / kSecondsPerDay;
}

bool SetFileLastWriteFromLocal(const std::string& path, double localDateValue) {
    std::tm tm{};
    if (!TmOfDateValue(localDateValue, tm)) return false;
    int year = tm.tm_year + 1900;
    if (year < 1980 || year > 2099) return false;
    tm.tm_sec -= tm.tm_sec % 2; // DOS times count seconds in twos
    tm.tm_isdst = -1;
    time_t t = mktime(&tm);
    if (t == static_cast<time_t>(-1)) return false;
    int fd = open(Native(path).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = t;
    times[1].tv_nsec = 0;
    bool ok = futimens(fd, times) == 0;
    close(fd);
    return ok;
}

bool IsDirectoryWritable(const std::string& path) {
    return IsDirectoryPath(path) && access(Native(path).c_str(), W_OK | X_OK) == 0;
}

std::vector<std::string> ListDirectory(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = opendir(Native(path).c_str());
    if (!dir) return names;
    while (dirent* e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        names.push_back(AnsiFromUtf8(e->d_name));
    }
    closedir(dir);
    return names;
}

void WriteFileAtomic(const std::string& path, const std::string& data, bool durable) {
    std::string target = Native(path);
    std::string tmpl = target + ".tmp-XXXXXX";
    int fd = mkstemp(tmpl.data());
    if (fd < 0) throw EFCreateError("Cannot create file " + path);
    fchmod(fd, FileCreationMode());
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int err = errno;
            close(fd);
            unlink(tmpl.c_str());
            throw EWriteError("Cannot write file " + path + ": " + std::strerror(err));
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if ((durable && fsync(fd) != 0) || close(fd) != 0) {
        int err = errno;
        unlink(tmpl.c_str());
        throw EWriteError("Cannot write file " + path + ": " + std::strerror(err));
    }
    if (rename(tmpl.c_str(), target.c_str()) != 0) {
        int err = errno;
        unlink(tmpl.c_str());
        throw EWriteError("Cannot replace file " + path + ": " + std::strerror(err));
    }
}

std::string ReadWholeFile(const std::string& path) {
    int fd = open(Native(path).c_str(), O_RDONLY | O_CLOEXEC);
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
    return AnsiFromUtf8(std::string(buf, static_cast<std::size_t>(n)));
}

namespace {
std::string XdgDir(const char* var, const char* fallbackBelowHome) {
    const char* v = std::getenv(var);
    if (v && v[0] == '/') return AnsiFromUtf8(v);
    const char* home = std::getenv("HOME");
    std::string h = home && home[0] ? home : "/tmp";
    return AnsiFromUtf8(h + fallbackBelowHome);
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

std::filesystem::path NativePath(const std::string& ansiPath) { return std::filesystem::path(Native(ansiPath)); }

std::string AnsiPath(const std::filesystem::path& path) { return AnsiFromUtf8(path.string()); }

} // namespace quillmark::platform
