// The settings store off Windows: one text file per key in the registry's export format.
//
//     Windows Registry Editor Version 5.00
//
//     [HKEY_CURRENT_USER\Software\Keldane\Quillmark]
//     "Top"=dword:000001b7
//     "MailDir"="/home/ann/export/"
//
// The file is the user's to read and even to edit, so it is parsed strictly: a file that
// cannot be read as this format is reported with its name and line, and it is never
// overwritten by a program that could not understand it.
#include "platform/SettingsStore.h"

#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace quillmark::platform {

namespace {

constexpr const char* RootKeyName = "HKEY_CURRENT_USER";
constexpr const char* FileHeader = "Windows Registry Editor Version 5.00";

std::string Lower(std::string text) {
    for (auto& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool SameName(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

// "\Software\Keldane\Quillmark" -> {"Software", "Keldane", "Quillmark"}
std::vector<std::string> SplitKeyPath(const std::string& keyPath) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : keyPath) {
        if (c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

std::string JoinKeyPath(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& p : parts) {
        if (!out.empty()) out += '\\';
        out += p;
    }
    return out;
}

// ---- value data <-> text ----

std::vector<std::uint8_t> Utf16Bytes(const std::u16string& text, bool terminate) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() * 2 + 2);
    for (char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    if (terminate) {
        bytes.push_back(0);
        bytes.push_back(0);
    }
    return bytes;
}

std::u16string Utf16FromBytes(const std::vector<std::uint8_t>& data) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2)
        text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    return text;
}

// A string value as the program sees it: up to the first NUL.
std::string StringFromData(const std::vector<std::uint8_t>& data) {
    std::u16string text = Utf16FromBytes(data);
    auto nul = text.find(u'\0');
    if (nul != std::u16string::npos) text.resize(nul);
    return Utf8FromUtf16(text);
}

std::string EscapeQuoted(const std::string& utf8) {
    std::string out;
    for (char c : utf8) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

std::string HexList(const std::vector<std::uint8_t>& data, std::size_t firstLineUsed) {
    // Wrapped like the registry editor does it: a trailing "\" continues the line.
    std::string out;
    std::size_t column = firstLineUsed;
    char buf[4];
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", data[i]);
        out += buf;
        column += 2;
        if (i + 1 < data.size()) {
            out += ',';
            ++column;
            if (column > 75) {
                out += "\\\n  ";
                column = 2;
            }
        }
    }
    return out;
}

std::string FormatValue(const SettingsValue& v) {
    std::string line = v.Name.empty() ? "@" : "\"" + EscapeQuoted(v.Name) + "\"";
    line += '=';
    if (v.Type == SettingsValueType::DWord && v.Data.size() == 4) {
        std::uint32_t n = v.Data[0] | (v.Data[1] << 8) | (v.Data[2] << 16) | (static_cast<std::uint32_t>(v.Data[3]) << 24);
        char buf[16];
        std::snprintf(buf, sizeof buf, "%08x", n);
        return line + "dword:" + buf;
    }
    if (v.Type == SettingsValueType::String) {
        // The quoted form holds one line of text ending in exactly one NUL; anything else
        // (line breaks, inner NULs, no terminator) keeps its bytes as hex(1).
        std::u16string text = Utf16FromBytes(v.Data);
        bool quotable = v.Data.size() % 2 == 0 && !text.empty() && text.back() == u'\0';
        if (quotable) {
            text.pop_back();
            for (char16_t c : text)
                if (c < 0x20) quotable = false;
        }
        if (quotable) return line + "\"" + EscapeQuoted(Utf8FromUtf16(text)) + "\"";
    }
    std::string prefix = v.Type == SettingsValueType::Binary ? "hex:" : "hex(" + [&] {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(v.Type));
        return std::string(buf);
    }() + "):";
    line += prefix;
    return line + HexList(v.Data, line.size());
}

// ---- parsing ----

class LineParser {
public:
    LineParser(const std::string& fileName, int lineNumber, const std::string& text)
        : file_(fileName), line_(lineNumber), text_(text) {}

    [[noreturn]] void Fail(const std::string& what) const {
        throw EParserError("Settings file " + file_ + " cannot be read: " + what + " on line " +
                           std::to_string(line_));
    }

    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
    void Expect(char c) {
        if (Peek() != c) Fail(std::string("'") + c + "' expected");
        ++pos_;
    }
    bool Take(const std::string& word) {
        if (Lower(text_.substr(pos_, word.size())) != word) return false;
        pos_ += word.size();
        return true;
    }
    // A quoted text with \\ and \" escapes; returns it as UTF-8 (the file's encoding).
    std::string Quoted() {
        Expect('"');
        std::string out;
        while (true) {
            if (AtEnd()) Fail("unterminated quoted text");
            char c = text_[pos_++];
            if (c == '"') break;
            if (c == '\\') {
                if (AtEnd()) Fail("unterminated quoted text");
                char e = text_[pos_++];
                if (e != '\\' && e != '"') Fail(std::string("unknown escape \\") + e);
                c = e;
            }
            out += c;
        }
        return out;
    }
    std::uint32_t HexNumber(std::size_t maxDigits) {
        std::size_t start = pos_;
        std::uint32_t n = 0;
        while (!AtEnd() && std::isxdigit(static_cast<unsigned char>(Peek())) && pos_ - start < maxDigits + 1) {
            char c = text_[pos_++];
            n = n * 16 + static_cast<std::uint32_t>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                                                : (c | 0x20) - 'a' + 10);
        }
        if (pos_ == start || pos_ - start > maxDigits) Fail("bad hexadecimal number");
        return n;
    }
    std::vector<std::uint8_t> HexBytes() {
        std::vector<std::uint8_t> bytes;
        SkipBlanks();
        if (AtEnd()) return bytes;
        while (true) {
            SkipBlanks();
            bytes.push_back(static_cast<std::uint8_t>(HexNumber(2)));
            SkipBlanks();
            if (AtEnd()) break;
            Expect(',');
        }
        return bytes;
    }
    void SkipBlanks() {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t')) ++pos_;
    }

private:
    const std::string& file_;
    int line_;
    const std::string& text_;
    std::size_t pos_ = 0;
};

std::string ToUtf8Text(const std::string& raw) {
    if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF && static_cast<unsigned char>(raw[1]) == 0xFE) {
        std::u16string wide;
        for (std::size_t i = 2; i + 1 < raw.size(); i += 2)
            wide += static_cast<char16_t>(static_cast<unsigned char>(raw[i]) |
                                          (static_cast<unsigned char>(raw[i + 1]) << 8));
        return Utf8FromUtf16(wide);
    }
    if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) return raw.substr(3);
    return raw;
}

// A value line whose data is a hex list (only those continue on the next line; a quoted
// string may end in "\\" and must not swallow the line after it).
bool IsHexValueLine(const std::string& line) {
    std::size_t p = line.find_first_not_of(" \t");
    if (p == std::string::npos) return false;
    if (line[p] == '@') {
        ++p;
    } else if (line[p] == '"') {
        for (++p; p < line.size() && line[p] != '"'; ++p)
            if (line[p] == '\\') ++p;
        if (p >= line.size()) return false;
        ++p;
    } else {
        return false;
    }
    p = line.find_first_not_of(" \t", p);
    if (p == std::string::npos || line[p] != '=') return false;
    p = line.find_first_not_of(" \t", p + 1);
    return p != std::string::npos && Lower(line.substr(p, 3)) == "hex";
}

} // namespace

std::vector<SettingsSection> ParseSettingsFile(const std::string& rawText, const std::string& fileName) {
    std::string text = ToUtf8Text(rawText);
    // Physical lines, CR LF or LF.
    std::vector<std::string> lines;
    {
        std::string line;
        for (char c : text) {
            if (c == '\n') {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                lines.push_back(line);
                line.clear();
            } else {
                line += c;
            }
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }

    std::vector<SettingsSection> sections;
    bool headerSeen = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        int lineNumber = static_cast<int>(i) + 1;
        std::string line = lines[i];
        // A hex list continues on the next line after a trailing "\".
        while (!line.empty() && line.back() == '\\' && IsHexValueLine(line) && i + 1 < lines.size()) {
            line.pop_back();
            std::string next = lines[++i];
            next.erase(0, next.find_first_not_of(" \t"));
            line += next;
        }
        std::string trimmed = line;
        trimmed.erase(0, trimmed.find_first_not_of(" \t"));
        while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\t')) trimmed.pop_back();
        LineParser p(fileName, lineNumber, trimmed);
        if (trimmed.empty() || trimmed[0] == ';') continue;
        if (!headerSeen) {
            if (trimmed != FileHeader && trimmed != "REGEDIT4") p.Fail("not a registry export file (header missing)");
            headerSeen = true;
            continue;
        }
        if (trimmed[0] == '[') {
            if (trimmed.back() != ']' || trimmed.size() < 3) p.Fail("bad key line");
            std::string key = trimmed.substr(1, trimmed.size() - 2);
            if (key[0] == '-') p.Fail("key deletion is not supported");
            sections.push_back({key, {}});
            continue;
        }
        if (sections.empty()) p.Fail("value outside of a key");
        SettingsValue value;
        if (p.Peek() == '@') {
            p.Expect('@');
        } else {
            value.Name = p.Quoted();
        }
        p.SkipBlanks();
        p.Expect('=');
        p.SkipBlanks();
        if (p.Peek() == '"') {
            value.Type = SettingsValueType::String;
            value.Data = Utf16Bytes(Utf16FromUtf8(p.Quoted()), true);
        } else if (p.Take("dword:")) {
            std::uint32_t n = p.HexNumber(8);
            value.Type = SettingsValueType::DWord;
            value.Data = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                          static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
        } else if (p.Take("hex:")) {
            value.Type = SettingsValueType::Binary;
            value.Data = p.HexBytes();
        } else if (p.Take("hex(")) {
            value.Type = static_cast<SettingsValueType>(p.HexNumber(8));
            p.Expect(')');
            p.Expect(':');
            value.Data = p.HexBytes();
        } else if (p.Peek() == '-') {
            p.Fail("value deletion is not supported");
        } else {
            p.Fail("unknown value data");
        }
        p.SkipBlanks();
        if (!p.AtEnd()) p.Fail("unexpected text after the value");
        auto& values = sections.back().Values;
        auto same = std::find_if(values.begin(), values.end(),
                                 [&](const SettingsValue& v) { return SameName(v.Name, value.Name); });
        if (same != values.end())
            *same = std::move(value); // the registry editor lets the later line win
        else
            values.push_back(std::move(value));
    }
    if (!headerSeen) {
        LineParser p(fileName, 1, text);
        p.Fail("not a registry export file (header missing)");
    }
    return sections;
}

std::string FormatSettingsFile(const std::vector<SettingsSection>& sections) {
    std::string out = std::string(FileHeader) + "\n";
    for (const auto& s : sections) {
        out += "\n[" + s.KeyPath + "]\n";
        for (const auto& v : s.Values) out += FormatValue(v) + "\n";
    }
    return out;
}

namespace {

class FileSettingsKey : public SettingsKey {
public:
    FileSettingsKey(std::string filePath, std::vector<SettingsSection> sections, std::size_t section)
        : path_(std::move(filePath)), sections_(std::move(sections)), section_(section) {}

    bool ValueExists(const std::string& name) override { return Find(name) != nullptr; }

    std::int32_t ReadInteger(const std::string& name) override {
        const SettingsValue* v = Find(name);
        if (!v) throw SettingsError("Failed to get data for '" + name + "'");
        if (v->Type != SettingsValueType::DWord) throw SettingsError("Invalid data type for '" + name + "'");
        // The data must fit the four bytes of an integer; shorter data is zero-extended.
        if (v->Data.size() > 4) throw SettingsError("Failed to get data for '" + name + "'");
        std::uint32_t n = 0;
        for (std::size_t i = 0; i < v->Data.size(); ++i) n |= static_cast<std::uint32_t>(v->Data[i]) << (8 * i);
        return static_cast<std::int32_t>(n);
    }

    std::string ReadString(const std::string& name) override {
        const SettingsValue* v = Find(name);
        if (!v) throw SettingsError("Failed to get data for '" + name + "'");
        if (v->Type != SettingsValueType::String && v->Type != SettingsValueType::ExpandString)
            throw SettingsError("Invalid data type for '" + name + "'");
        return StringFromData(v->Data);
    }

    std::vector<std::string> ReadStringList(const std::string& name) override {
        const SettingsValue* v = Find(name);
        if (!v) throw SettingsError("Failed to get data for '" + name + "'");
        if (v->Type != SettingsValueType::MultiString) throw SettingsError("Invalid data type for '" + name + "'");
        std::vector<std::string> list;
        std::u16string all = Utf16FromBytes(v->Data);
        std::size_t start = 0;
        while (start < all.size()) {
            std::size_t nul = all.find(u'\0', start);
            if (nul == std::u16string::npos) nul = all.size();
            if (nul == start) break; // the empty string ends the list
            list.push_back(Utf8FromUtf16(all.substr(start, nul - start)));
            start = nul + 1;
        }
        return list;
    }

    void WriteInteger(const std::string& name, std::int32_t value) override {
        auto n = static_cast<std::uint32_t>(value);
        Store(name, SettingsValueType::DWord,
              {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n >> 16),
               static_cast<std::uint8_t>(n >> 24)});
    }

    void WriteString(const std::string& name, const std::string& value) override {
        Store(name, SettingsValueType::String, Utf16Bytes(Utf16FromUtf8(value), true));
    }

    void WriteStringList(const std::string& name, const std::vector<std::string>& value) override {
        std::vector<std::uint8_t> data;
        for (const auto& s : value) {
            if (s.empty()) continue; // an empty entry would end the list early
            auto bytes = Utf16Bytes(Utf16FromUtf8(s), true);
            data.insert(data.end(), bytes.begin(), bytes.end());
        }
        data.push_back(0);
        data.push_back(0);
        Store(name, SettingsValueType::MultiString, std::move(data));
    }

private:
    const SettingsValue* Find(const std::string& name) const {
        for (const auto& v : sections_[section_].Values)
            if (SameName(v.Name, name)) return &v;
        return nullptr;
    }

    // Like a registry write, each value goes to the file at once; a write that fails leaves
    // the file and this key as they were.
    void Store(const std::string& name, SettingsValueType type, std::vector<std::uint8_t> data) {
        auto before = sections_;
        auto& values = sections_[section_].Values;
        auto it = std::find_if(values.begin(), values.end(), [&](const SettingsValue& v) { return SameName(v.Name, name); });
        if (it != values.end()) {
            it->Type = type;
            it->Data = std::move(data);
        } else {
            values.push_back({name, type, std::move(data)});
        }
        try {
            WriteFileAtomic(path_, FormatSettingsFile(sections_));
        } catch (const std::exception&) {
            sections_ = std::move(before);
            throw SettingsError("Failed to set data for '" + name + "'");
        }
    }

    std::string path_;
    std::vector<SettingsSection> sections_;
    std::size_t section_;
};

} // namespace

FileSettingsStore::FileSettingsStore(std::string rootDirectory) : root_(std::move(rootDirectory)) {}

std::string FileSettingsStore::KeyFilePath(const std::string& keyPath) const {
    auto parts = SplitKeyPath(keyPath);
    if (!parts.empty() && SameName(parts.front(), "Software")) parts.erase(parts.begin());
    std::string path = root_;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::string part = parts[i];
        // A key name may hold any character but "\"; keep it from leaving the directory.
        std::replace(part.begin(), part.end(), '/', '_');
        if (part == "." || part == "..") part = "_" + part;
        path += PathDelim;
        path += part;
        if (i + 1 == parts.size()) path += ".reg";
    }
    return path;
}

std::unique_ptr<SettingsKey> FileSettingsStore::OpenKey(const std::string& keyPath, bool canCreate) {
    auto parts = SplitKeyPath(keyPath);
    if (parts.empty()) return nullptr;
    const std::string file = KeyFilePath(keyPath);
    const std::string fullKey = std::string(RootKeyName) + "\\" + JoinKeyPath(parts);

    std::vector<SettingsSection> sections;
    if (FileExists(file)) {
        std::string raw;
        try {
            raw = ReadWholeFile(file);
        } catch (const std::exception&) {
            return nullptr; // unreadable: the key cannot be opened
        }
        sections = ParseSettingsFile(raw, file);
    } else if (PathExists(file) || !canCreate) {
        return nullptr;
    }

    for (std::size_t i = 0; i < sections.size(); ++i)
        if (SameName(sections[i].KeyPath, fullKey))
            return std::make_unique<FileSettingsKey>(file, std::move(sections), i);

    if (!canCreate) return nullptr;
    // Creating the key makes it exist at once, before any value is written.
    sections.push_back({fullKey, {}});
    std::error_code ec;
    std::filesystem::create_directories(NativePath(file).parent_path(), ec);
    try {
        WriteFileAtomic(file, FormatSettingsFile(sections));
    } catch (const std::exception&) {
        return nullptr;
    }
    const std::size_t index = sections.size() - 1;
    return std::make_unique<FileSettingsKey>(file, std::move(sections), index);
}

#ifndef _WIN32
std::unique_ptr<SettingsStore> CreateUserSettingsStore() {
    return std::make_unique<FileSettingsStore>(UserConfigDirectory());
}
#endif

} // namespace quillmark::platform
