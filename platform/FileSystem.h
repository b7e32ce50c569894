// The file system as the rest of the program sees it. Paths are 8-bit strings in the
// ANSI code page; off Windows they are converted to and from UTF-8 here, so that a
// subject with "ö" becomes a file name the desktop shows as "ö".
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmark::platform {

// "\" on Windows, "/" elsewhere.
extern const char PathDelim;

// True for "\" and "/" on every platform (names from mail may carry either), and ":" where asked.
inline bool IsPathDelimiter(char c) { return c == '\\' || c == '/'; }

bool FileExists(const std::string& path);      // a file, not a directory
bool PathExists(const std::string& path);      // anything
bool IsDirectoryPath(const std::string& path); // the directory attribute is set
bool CreateSingleDirectory(const std::string& path);
bool DeleteFilePath(const std::string& path);
bool RenameFilePath(const std::string& from, const std::string& to);

// Size in bytes (64-bit), or -1 when there is no such entry.
std::int64_t FileSize(const std::string& path);

// What one look at an entry tells. Code that needs several of these facts about the same
// path (the attachment-name search does, for every candidate name) asks once instead of
// once per fact.
struct FileInfo {
    std::int64_t Size = 0; // 0 for a directory, as FileSize says
    bool IsDirectory = false;
    double LastWriteUtc = 0; // date value
};
// nullopt when there is no such entry (or it cannot be looked at).
std::optional<FileInfo> GetFileInfo(const std::string& path);

// Last-write time as a date value in UTC (days since 1899-12-30), or nullopt when the file
// cannot be opened.
std::optional<double> FileLastWriteUtc(const std::string& path);

// Sets the last-write time from a local date value through the two-second DOS date-time
// rule: years 1980 to 2099 only, seconds rounded down to even. False when the value is out
// of range or the file cannot be opened; nothing is changed then.
bool SetFileLastWriteFromLocal(const std::string& path, double localDateValue);

// The directory is writable by this process (used to decide where defaults may go).
bool IsDirectoryWritable(const std::string& path);

// Names in a directory (files and directories, without "." and ".."), unsorted.
std::vector<std::string> ListDirectory(const std::string& path);

struct AtomicWriteOptions {
    // Also sync the data to disk before the rename (settings and templates; pages skip it
    // for speed: a page lost to a power cut is made again by the next run).
    bool Durable = false;
    // The file's last-write time, set by the rules of SetFileLastWriteFromLocal before the
    // file takes its name; out of range, the file keeps the time writing gave it.
    std::optional<double> LocalWriteTime;
    // Never replace an existing file: when the name is taken the new file is not made and
    // the call returns false. Decided by the file system in one step (no look, then write).
    bool KeepExisting = false;
    // With KeepExisting and a taken name: the written temporary file is left where it is and
    // its path stored here, for the caller to rename over a name it settles on (or delete);
    // a page that is replaced after all is then not written twice.
    std::string* TakenTemporary = nullptr;
};

// Writes data to path through a temporary file in the same directory, flushed and renamed
// over the target, so that a crash never leaves a half file in place of a good one.
// Throws EFCreateError when the temporary file cannot be made, and EWriteError with the
// system's reason when writing or renaming fails (both say DiskFull() when the file system
// has no room). Returns true when the file was written (false only with KeepExisting and a
// taken name). The temporary name is path + ".tmp-" + process id + "-" + a number (and on
// Windows one more "-" and number); IsOwnTemporaryName tells such names.
bool WriteFileAtomic(const std::string& path, std::string_view data, const AtomicWriteOptions& options = {});

// True for a name WriteFileAtomic gives its temporary files; pid receives the process id
// in it. Only names that end exactly so count: a file of the user's that happens to hold
// ".tmp-" is not taken for one of ours.
bool IsOwnTemporaryName(const std::string& name, long* pid = nullptr);

// The running process's id, and whether a process of that id runs on this machine (a
// process this one may not look at counts as running).
long CurrentProcessId();
bool ProcessIsRunning(long pid);

// Faults the file system layer can be told to raise, so that tests can show what the user
// sees on a full disk or a file system that refuses a name without needing either.
enum class WriteFault {
    None,
    DiskFull,    // writing the file's bytes fails as on a full disk
    NameRefused, // creating the file (or renaming onto the name) fails as for a name the file system refuses
};
// Asked with the target path before WriteFileAtomic writes a file and before RenameFilePath
// renames onto a name; an empty function (the default) injects nothing. May be called
// from several threads.
void SetWriteFaultHook(std::function<WriteFault(const std::string& path)> hook);
// What the hook says for path (None when there is no hook). For the implementations.
WriteFault InjectedWriteFault(const std::string& path);

// A file opened for reading pieces at given offsets: one system call per piece, no stream
// buffer in between (mail files are read a message at a time, each into its own string).
class ReadOnlyFile {
public:
    // Throws EFOpenError ("Cannot open file %s") when the file cannot be opened.
    explicit ReadOnlyFile(const std::filesystem::path& path);
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // Reads up to size bytes from offset into buffer; fewer only at the end of the file.
    // Throws Exception with the system's reason when reading fails.
    std::size_t ReadAt(std::uint64_t offset, char* buffer, std::size_t size);

private:
    std::filesystem::path path_;
    std::intptr_t handle_; // a descriptor or a HANDLE
};

// Reads a whole file; throws EFOpenError ("Cannot open file %s") when it cannot be opened.
std::string ReadWholeFile(const std::string& path);

// Full path of the running executable as the system reports it.
std::string ExecutableFilePath();

// Per-user directories (XDG on POSIX, %APPDATA% on Windows), without a trailing delimiter.
std::string UserDataDirectory();
std::string UserConfigDirectory();

// The current local date and time as a date value.
double NowLocal();

// Makes local-time conversions use the zone the process started with for its whole life.
// Called once at start by the programs: without it the C library looks at the system's zone
// file again for every conversion from local time (one per page written).
void PinLocalTimeZone();

// Local time <-> UTC for a date value (the zone rules of the date itself).
double LocalToUtc(double localDateValue);
double UtcToLocal(double utcDateValue);

// The native path for a path as the program holds it (UTF-8): what std::fstream and
// std::filesystem take. Off Windows the bytes themselves; on Windows UTF-16.
std::filesystem::path NativePath(const std::string& path);

// The program's (UTF-8) form of a native path.
std::string Utf8Path(const std::filesystem::path& path);

} // namespace quillmark::platform
