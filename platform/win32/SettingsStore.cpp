// The settings store on Windows: the registry below HKEY_CURRENT_USER.
//
// Values are read and written with the wide calls, so that the ANSI text of the program is
// stored as proper Unicode text (REG_SZ) and reads back the same in any code page. Strings of
// type REG_EXPAND_SZ are read as stored, without expanding %VARIABLES%.
#include "platform/win32/RegistrySettings.h"

#include "platform/CodePage.h"

#include <windows.h>

#include <cstring>

namespace quillmark::platform {
namespace {

std::wstring WideOf(const std::string& ansi) {
    std::u16string u = Utf16FromUtf8(ansi);
    return std::wstring(u.begin(), u.end());
}

std::string AnsiOfBytes(const std::vector<BYTE>& data) {
    std::u16string text(data.size() / 2, u'\0');
    if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * 2);
    return Utf8FromUtf16(text);
}

// "\Software\Keldane\Quillmark" -> "Software\Keldane\Quillmark"; the registry takes no
// leading delimiter and no empty components.
std::wstring RegistryPath(const std::string& keyPath) {
    std::string out;
    for (char c : keyPath) {
        if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == '\\') out.pop_back();
    return WideOf(out);
}

[[noreturn]] void Fail(const char* what, const std::string& name) {
    throw SettingsError(std::string(what) + " '" + name + "'");
}

class RegistryKey : public SettingsKey {
public:
    explicit RegistryKey(HKEY key) : key_(key) {}
    ~RegistryKey() override { RegCloseKey(key_); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    bool ValueExists(const std::string& name) override {
        return RegQueryValueExW(key_, WideOf(name).c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }

    std::int32_t ReadInteger(const std::string& name) override {
        DWORD type = 0;
        std::vector<BYTE> data = Read(name, type);
        if (type != REG_DWORD) Fail("Invalid data type for", name);
        // An integer is four bytes; longer data cannot be one. Shorter data is zero-extended.
        if (data.size() > 4) Fail("Failed to get data for", name);
        std::uint32_t n = 0;
        for (std::size_t i = 0; i < data.size(); ++i) n |= static_cast<std::uint32_t>(data[i]) << (8 * i);
        return static_cast<std::int32_t>(n);
    }

    std::string ReadString(const std::string& name) override {
        DWORD type = 0;
        std::vector<BYTE> data = Read(name, type);
        if (type != REG_SZ && type != REG_EXPAND_SZ) Fail("Invalid data type for", name);
        std::string text = AnsiOfBytes(data);
        // The text ends at its first NUL (the terminator, or one stored inside the data).
        if (auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
        return text;
    }

    std::vector<std::string> ReadStringList(const std::string& name) override {
        DWORD type = 0;
        std::vector<BYTE> data = Read(name, type);
        if (type != REG_MULTI_SZ) Fail("Invalid data type for", name);
        std::string all = AnsiOfBytes(data);
        std::vector<std::string> list;
        std::size_t start = 0;
        while (start < all.size()) {
            std::size_t nul = all.find('\0', start);
            if (nul == std::string::npos) nul = all.size();
            if (nul == start) break; // the empty string ends the list
            list.push_back(all.substr(start, nul - start));
            start = nul + 1;
        }
        return list;
    }

    void WriteInteger(const std::string& name, std::int32_t value) override {
        const DWORD n = static_cast<DWORD>(value);
        Write(name, REG_DWORD, reinterpret_cast<const BYTE*>(&n), sizeof n);
    }

    void WriteString(const std::string& name, const std::string& value) override {
        std::wstring text = WideOf(value);
        Write(name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
    }

    void WriteStringList(const std::string& name, const std::vector<std::string>& value) override {
        std::wstring all;
        for (const auto& s : value) {
            if (s.empty()) continue; // an empty entry would end the list early
            all += WideOf(s);
            all += L'\0';
        }
        all += L'\0';
        Write(name, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(all.c_str()), all.size() * sizeof(wchar_t));
    }

private:
    // The value's type and raw data. A missing value, or one that cannot be read, fails with
    // "Failed to get data for".
    std::vector<BYTE> Read(const std::string& name, DWORD& type) {
        const std::wstring wideName = WideOf(name);
        DWORD size = 0;
        if (RegQueryValueExW(key_, wideName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            Fail("Failed to get data for", name);
        // The value may grow between the two calls (another program writing it): try again.
        for (int attempt = 0; attempt < 4; ++attempt) {
            std::vector<BYTE> data(size);
            DWORD got = size;
            LONG rc = RegQueryValueExW(key_, wideName.c_str(), nullptr, &type, data.empty() ? nullptr : data.data(), &got);
            if (rc == ERROR_SUCCESS) {
                data.resize(got);
                return data;
            }
            if (rc != ERROR_MORE_DATA) break;
            size = got;
        }
        Fail("Failed to get data for", name);
    }

    void Write(const std::string& name, DWORD type, const BYTE* data, std::size_t size) {
        if (size > 0xFFFFFFFFu ||
            RegSetValueExW(key_, WideOf(name).c_str(), 0, type, data, static_cast<DWORD>(size)) != ERROR_SUCCESS)
            Fail("Failed to set data for", name);
    }

    HKEY key_;
};

} // namespace

RegistrySettingsStore::RegistrySettingsStore(void* rootKey) : root_(rootKey) {}

std::unique_ptr<SettingsKey> RegistrySettingsStore::OpenKey(const std::string& keyPath, bool canCreate) {
    const std::wstring path = RegistryPath(keyPath);
    if (path.empty()) return nullptr;
    HKEY root = static_cast<HKEY>(root_);
    HKEY key = nullptr;
    LONG rc = canCreate ? RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                                          nullptr, &key, nullptr)
                        : RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WRITE, &key);
    if (rc == ERROR_ACCESS_DENIED) {
        // A key the user may read but not change (a policy, a locked-down profile) still gives
        // its values; writes to it are then refused one by one, with the value's name.
        rc = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key);
    }
    if (rc != ERROR_SUCCESS) return nullptr;
    return std::make_unique<RegistryKey>(key);
}

std::unique_ptr<SettingsKey> RegistrySettingsStore::OpenKeyReadOnly(const std::string& keyPath) {
    const std::wstring path = RegistryPath(keyPath);
    HKEY key = nullptr;
    if (path.empty() || RegOpenKeyExW(static_cast<HKEY>(root_), path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return nullptr;
    return std::make_unique<RegistryKey>(key);
}

std::unique_ptr<SettingsStore> CreateUserSettingsStore() {
    return std::make_unique<RegistrySettingsStore>(HKEY_CURRENT_USER);
}

} // namespace quillmark::platform
