// Fuzz target for the version block reader (the executable's VS_VERSIONINFO block, read from
// the file's own bytes). Whatever the bytes: no read outside them (the sanitizers watch), a
// block that is found lies inside them, and every lookup stays inside the block.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/VersionBlock.h"

using namespace quillmark::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 256 * 1024) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    static const char* const paths[] = {
        "StringFileInfo\\041D04E4\\FileVersion", "\\StringFileInfo\\041D04E4\\ProductName",
        "VarFileInfo\\Translation", "", "\\", "StringFileInfo", "stringfileinfo\\041d04e4\\comments",
    };
    // The bytes taken as a block themselves, and the block a search finds in them.
    for (const char* path : paths) (void)QueryVersionString(bytes, path);
    const std::string block = FindVersionBlock(bytes);
    if (!block.empty()) {
        if (block.size() > bytes.size() || bytes.find(block) == std::string::npos) std::abort();
        for (const char* path : paths) (void)QueryVersionString(block, path);
    }
    // The same bytes as a version number's text.
    (void)ParseVersionNumber(std::string_view(bytes).substr(0, 64));
    return 0;
}
