// Fuzz target for the settings file (the registry export format the window keeps its inputs
// in off Windows). Whatever the bytes, reading either succeeds or says EParserError; what was
// read, written again, must read back the same — else settings saved once would be lost at
// the next start.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/Exceptions.h"
#include "platform/SettingsStore.h"

using namespace quillmark;
using namespace quillmark::platform;

namespace {

bool Same(const std::vector<SettingsSection>& a, const std::vector<SettingsSection>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].KeyPath != b[i].KeyPath || a[i].Values.size() != b[i].Values.size()) return false;
        for (std::size_t k = 0; k < a[i].Values.size(); ++k) {
            const auto& x = a[i].Values[k];
            const auto& y = b[i].Values[k];
            if (x.Name != y.Name || x.Type != y.Type || x.Data != y.Data) return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 64 * 1024) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<SettingsSection> sections;
    try {
        sections = ParseSettingsFile(text, "fuzz.reg");
    } catch (const EParserError&) {
        return 0;
    }
    const std::string written = FormatSettingsFile(sections);
    std::vector<SettingsSection> again;
    try {
        again = ParseSettingsFile(written, "fuzz.reg");
    } catch (const EParserError&) {
        std::abort(); // we wrote what we cannot read
    }
    if (!Same(sections, again)) std::abort();
    return 0;
}
