// What a backend gives the store factory: one opened mail store with its top folder.
// The factory puts the stores the user named side by side under one MAPI namespace and
// routes GetFolderFromID to the store whose StoreID it names.
#pragma once

#include "outlook/ObjectModel.h"

#include <memory>
#include <string>
#include <vector>

namespace quillmark::outlook {

// Collects a store's warnings (ANSI text, like every message the front ends show). Stores are opened before the front end has set its handler,
// so warnings are kept until one is set and then handed over in order.
class WarningSink {
public:
    void Warn(const std::string& message) {
        if (handler_) {
            handler_(message);
            return;
        }
        pending_.push_back(message);
    }
    void SetHandler(WarningHandler handler) {
        handler_ = std::move(handler);
        if (!handler_) return;
        auto pending = std::move(pending_);
        pending_.clear();
        for (const auto& m : pending) handler_(m);
    }
    const std::vector<std::string>& Pending() const { return pending_; }

private:
    WarningHandler handler_;
    std::vector<std::string> pending_;
};

class Store {
public:
    virtual ~Store() = default;
    // The identifier every folder of this store reports as its StoreID.
    virtual WideString StoreID() = 0;
    // The store's top folder (the node the tree shows at the top level).
    virtual std::shared_ptr<Folder> TopFolder() = 0;
    // The folder an EntryID of this store names; throws EStoreError when there is none.
    virtual std::shared_ptr<Folder> GetFolderFromID(const WideString& entryId) = 0;
};

} // namespace quillmark::outlook
