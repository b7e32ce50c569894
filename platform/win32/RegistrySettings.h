// The registry form of the settings store (Windows only): keys below a root such as
// HKEY_CURRENT_USER, values of the registry's own types.
#pragma once

#include "platform/SettingsStore.h"

namespace quillmark::platform {

class RegistrySettingsStore : public SettingsStore {
public:
    // rootKey is an open registry key (an HKEY), normally HKEY_CURRENT_USER; it is not closed.
    explicit RegistrySettingsStore(void* rootKey);
    std::unique_ptr<SettingsKey> OpenKey(const std::string& keyPath, bool canCreate) override;
    // The key opened for reading only, so that every write is refused as on a key the
    // user may not change.
    std::unique_ptr<SettingsKey> OpenKeyReadOnly(const std::string& keyPath);

private:
    void* root_;
};

} // namespace quillmark::platform
