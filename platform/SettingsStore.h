// The per-user settings store: the Windows registry under HKEY_CURRENT_USER, or elsewhere a
// text file per key in the registry's own export format, so that the key path, the value
// names, the value types and the error texts are the same everywhere.
//
// A key is opened, read and written value by value, and closed. Reading a value of another
// type than asked fails with "Invalid data type for '%s'", an integer whose data is longer
// than four bytes with "Failed to get data for '%s'", and a write the store refuses with
// "Failed to set data for '%s'" (the value name in place of %s), all as SettingsError.
#pragma once

#include "platform/Exceptions.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quillmark::platform {

class SettingsError : public Exception {
public:
    using Exception::Exception;
};

// The registry's value types (the numbers are the registry's own).
enum class SettingsValueType : std::uint32_t {
    None = 0,
    String = 1,       // REG_SZ
    ExpandString = 2, // REG_EXPAND_SZ
    Binary = 3,       // REG_BINARY
    DWord = 4,        // REG_DWORD (little-endian)
    DWordBigEndian = 5,
    MultiString = 7, // REG_MULTI_SZ
    QWord = 11,
};

// One open key. Text is 8-bit ANSI like everywhere else in the program.
class SettingsKey {
public:
    virtual ~SettingsKey() = default;

    virtual bool ValueExists(const std::string& name) = 0;

    // A REG_DWORD value. Throws SettingsError as described above.
    virtual std::int32_t ReadInteger(const std::string& name) = 0;
    // A REG_SZ or REG_EXPAND_SZ value (not expanded), ending at its first NUL.
    virtual std::string ReadString(const std::string& name) = 0;
    // A REG_MULTI_SZ value.
    virtual std::vector<std::string> ReadStringList(const std::string& name) = 0;

    virtual void WriteInteger(const std::string& name, std::int32_t value) = 0;
    virtual void WriteString(const std::string& name, const std::string& value) = 0;
    virtual void WriteStringList(const std::string& name, const std::vector<std::string>& value) = 0;
};

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // Opens the key below the per-user root ("Software\Keldane\Quillmark"; a leading "\" is
    // allowed), creating it when canCreate is set. Null when the key cannot be opened or
    // made. Throws SettingsError when the store exists but cannot be read at all (a settings
    // file that does not parse): that is reported, never taken for an empty store.
    virtual std::unique_ptr<SettingsKey> OpenKey(const std::string& keyPath, bool canCreate) = 0;
};

// The user's own store: the registry on Windows, else a FileSettingsStore under the XDG
// config directory.
std::unique_ptr<SettingsStore> CreateUserSettingsStore();

// The file form of the store: key "Software\A\B" lives in <rootDirectory>/A/B.reg (the first
// component, "Software", is implied), one file per key, so that two programs with different
// base names never overwrite each other's values. Every write rewrites the file atomically.
class FileSettingsStore : public SettingsStore {
public:
    explicit FileSettingsStore(std::string rootDirectory);
    std::unique_ptr<SettingsKey> OpenKey(const std::string& keyPath, bool canCreate) override;
    // The file that holds a key (whether it exists or not).
    std::string KeyFilePath(const std::string& keyPath) const;

private:
    std::string root_;
};

// ---- the file format, public for its tests ----

struct SettingsValue {
    std::string Name; // "" is the key's default value ("@")
    SettingsValueType Type = SettingsValueType::String;
    std::vector<std::uint8_t> Data; // the registry's raw bytes (strings UTF-16LE with NUL)
};

struct SettingsSection {
    std::string KeyPath; // as in the file, e.g. "HKEY_CURRENT_USER\Software\Keldane\Quillmark"
    std::vector<SettingsValue> Values;
};

// Parses the text of a registry export file ("Windows Registry Editor Version 5.00" or
// "REGEDIT4"; UTF-8, or UTF-16LE with its byte-order mark). Throws EParserError naming
// fileName and the line on anything it cannot read.
std::vector<SettingsSection> ParseSettingsFile(const std::string& text, const std::string& fileName);
// Writes sections in the same format, UTF-8, lines ending in LF.
std::string FormatSettingsFile(const std::vector<SettingsSection>& sections);

} // namespace quillmark::platform
