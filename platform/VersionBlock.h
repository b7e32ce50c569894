// The version block of an executable: the VS_VERSIONINFO layout of Windows version resources
// (a tree of length-prefixed nodes with UTF-16 keys, each on a 32-bit boundary).
//
// On Windows the block is the executable's ordinary version resource; elsewhere the build
// embeds the same bytes in the executable file. In both cases the bytes sit unchanged in the
// file, so one loader (a scan of the file) and one parser serve every platform.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillmark::platform {

struct VersionStringTable {
    std::string LanguageCodePage; // eight hexadecimal digits, e.g. "041D04E4"
    std::vector<std::pair<std::string, std::u16string>> Strings; // entry name, text
};

struct VersionBlockContents {
    std::array<std::uint16_t, 4> FileVersion{};    // 1.2.4.9 -> {1, 2, 4, 9}
    std::array<std::uint16_t, 4> ProductVersion{}; // 0.3 -> {0, 3, 0, 0}
    std::vector<VersionStringTable> Tables;
    // (language, code page) pairs of the VarFileInfo\Translation entry.
    std::vector<std::pair<std::uint16_t, std::uint16_t>> Translations;
};

// The bytes of a VS_VERSIONINFO block holding contents.
std::string BuildVersionBlock(const VersionBlockContents& contents);

// Looks up a path such as "StringFileInfo\041D04E4\FileVersion" (a leading "\" is allowed;
// keys compare without regard to ASCII letter case) and gives the text of that entry up to
// its terminating NUL. nullopt when the path is not in the block or the block is malformed
// at that point. Never reads outside block.
std::optional<std::u16string> QueryVersionString(std::string_view block, std::string_view path);

// "1.2.4.9" -> {1, 2, 4, 9}; missing parts are 0; nullopt on anything else.
std::optional<std::array<std::uint16_t, 4>> ParseVersionNumber(std::string_view text);

// The version block of the file at path: the first well-formed VS_VERSIONINFO block found in
// its bytes. Empty when the file cannot be read or holds no block.
std::string LoadVersionBlock(const std::string& path);

// The same search over bytes already in memory.
std::string FindVersionBlock(std::string_view bytes);

} // namespace quillmark::platform
