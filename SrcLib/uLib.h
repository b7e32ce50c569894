// Text, file and path helpers over 8-bit ANSI strings, and the start-up paths of the
// running executable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillmark {

// ---- text ----
// "1.5 KB" and the like, with the regional decimal separator; "" for counts <= 0.
std::string FormatByteSize(std::int64_t count);
// CR LF / LF -> \n, CR -> \r, TAB -> \t (as two characters each).
std::string EscapeLineBreaks(const std::string& text);
// \r\n -> CR LF, \r -> CR, \n -> CR LF, \t -> TAB.
std::string UnescapeLineBreaks(const std::string& text);

// ---- files and paths ----
// Which characters beyond Windows-1252 a name keeps: the letters, digits and symbols of
// every script, or none (as names were made before names kept them: each became "-").
enum class NameScript { Unicode, Latin };
// A safe file-name fragment of UTF-8 text: ASCII letters and digits, "!", "-", "_", the
// accented Latin letters folded to their base letter, and (NameScript::Unicode) the
// letters, digits and symbols of other scripts; everything else becomes "-" or "_".
std::string SanitizeFileName(const std::string& text, NameScript script = NameScript::Unicode);
// The first maxCharacters characters of UTF-8 text (never half a character).
std::string Utf8Prefix(const std::string& text, std::size_t maxCharacters);
// UTF-8 text with ASCII and the code page's letters in lower case; other characters kept.
std::string LowerCaseText(const std::string& text);
// The name part (after the last "\", "/" or ":") without its extension.
std::string FileBaseName(const std::string& path);
// Size in bytes, or -1 when there is no such entry. 64-bit: 2 GiB files keep their size.
std::int64_t FileSizeOf(const std::string& path);
// Last-write time in UTC as a date value, 0 when the file cannot be opened.
double FileWriteTime(const std::string& path);
// CRC-32 (IEEE 802.3) of the file's bytes; throws EFOpenError when it cannot be opened.
std::uint32_t FileCrc32(const std::string& path);
// CRC-32 of bytes in memory (the same value FileCrc32 gives for a file holding them).
std::uint32_t Crc32(std::string_view bytes);
// The table step on its own.
std::uint32_t Crc32Update(const void* block, std::size_t length, std::uint32_t crc);
bool IsDirectory(const std::string& path);
// Creates the directory and its parents; true when it exists afterwards by these rules.
bool CreateDirectoryPath(const std::string& dir);
// path with exactly one trailing PathDelim ensured ("\" or "/" already there counts).
std::string IncludeTrailingPathDelimiter(const std::string& path);

// ---- start-up values ----
// Fixed by InitStartupPaths() (called once at program start; the first read does it too).
void InitStartupPaths();
// For tests: computes the values from a given executable path.
void InitStartupPathsFrom(const std::string& executablePath);
const std::string& ExecutablePath();
const std::string& ApplicationDir();     // with trailing delimiter
const std::string& ExecutableBaseName(); // "tool" for tool.exe

} // namespace quillmark
