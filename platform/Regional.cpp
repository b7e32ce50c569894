// The regional settings in force: read from the user's locale on first use (each platform's
// ReadRegionalFromLocale), replaceable by a front end or a test.
#include "platform/Regional.h"

#include <mutex>
#include <optional>

namespace quillmark::platform {
namespace {
std::mutex gMutex;
std::optional<RegionalSettings> gSettings;
} // namespace

const RegionalSettings& Regional() {
    std::lock_guard lock(gMutex);
    if (!gSettings) gSettings = ReadRegionalFromLocale();
    return *gSettings;
}

void SetRegional(const RegionalSettings& settings) {
    std::lock_guard lock(gMutex);
    gSettings = settings;
}

} // namespace quillmark::platform
