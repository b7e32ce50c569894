#include "outlook/StoreFactory.h"

#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#ifdef QUILLMARK_HAVE_MAILBOX
#include "outlook/mailbox/MailboxStore.h"
#endif
#ifdef QUILLMARK_HAVE_PST
#include "outlook/pst/PstStore.h"
#endif
#ifdef QUILLMARK_HAVE_COM
#include "outlook/com/ComOutlook.h"
#endif

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace quillmark::outlook {

namespace {

std::string LowerExtension(const std::string& path) {
    std::string ext = platform::NativePath(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

// The top folders of the opened stores, in the order the user named them.
class StoreFolders : public FolderCollection {
public:
    explicit StoreFolders(std::vector<std::shared_ptr<Store>> stores) : stores_(std::move(stores)) {}
    int Count() override { return static_cast<int>(stores_.size()); }
    std::shared_ptr<Folder> Item(int index) override {
        if (index < 1 || index > Count()) throw EStoreError("Array index out of bounds.");
        return stores_[static_cast<std::size_t>(index - 1)]->TopFolder();
    }

private:
    std::vector<std::shared_ptr<Store>> stores_;
};

class StoresNameSpace : public NameSpace {
public:
    StoresNameSpace(std::vector<std::string> paths, std::shared_ptr<WarningSink> warnings)
        : paths_(std::move(paths)), warnings_(std::move(warnings)) {}

    void Logon() override { Open(); }
    void Logoff() override {
        stores_.clear();
        opened_ = false;
    }
    std::shared_ptr<FolderCollection> Folders() override {
        Open();
        return std::make_shared<StoreFolders>(stores_);
    }
    std::shared_ptr<Folder> GetFolderFromID(const WideString& entryId, const WideString& storeId) override {
        Open();
        for (const auto& store : stores_)
            if (store->StoreID() == storeId) return store->GetFolderFromID(entryId);
        throw EStoreError("The mail store " + platform::Utf8FromUtf16(storeId) + " is not open.");
    }

private:
    void Open() {
        if (opened_) return;
        std::vector<std::shared_ptr<Store>> stores;
        std::string firstError;
        for (const auto& path : paths_) {
            try {
                stores.push_back(OpenStore(path, warnings_));
            } catch (const Exception& e) {
                // One unreadable store must not hide the others; it is named in a warning.
                if (firstError.empty()) firstError = e.Message();
                warnings_->Warn(e.Message());
            }
        }
        // Nothing at all could be opened although stores were named: that is a failed logon,
        // not an empty tree.
        if (stores.empty() && !firstError.empty()) throw EStoreError(firstError);
        stores_ = std::move(stores);
        opened_ = true;
    }

    std::vector<std::string> paths_;
    std::shared_ptr<WarningSink> warnings_;
    std::vector<std::shared_ptr<Store>> stores_;
    bool opened_ = false;
};

class StoresApplication : public Application {
public:
    explicit StoresApplication(std::vector<std::string> paths)
        : warnings_(std::make_shared<WarningSink>()),
          ns_(std::make_shared<StoresNameSpace>(std::move(paths), warnings_)) {}

    std::shared_ptr<NameSpace> GetNamespace(const std::string& type) override {
        if (type != "MAPI") throw EStoreError("Unknown namespace type \"" + type + "\".");
        return ns_;
    }
    void Disconnect() override { ns_->Logoff(); }
    void SetWarningHandler(WarningHandler handler) override { warnings_->SetHandler(std::move(handler)); }

private:
    std::shared_ptr<WarningSink> warnings_;
    std::shared_ptr<StoresNameSpace> ns_;
};

} // namespace

std::shared_ptr<Store> OpenStore(const std::string& storePath, std::shared_ptr<WarningSink> warnings) {
    if (!warnings) warnings = std::make_shared<WarningSink>();
    if (!platform::PathExists(storePath)) throw EStoreError("The mail store " + storePath + " does not exist.");
    const std::string ext = LowerExtension(storePath);
    // One branch per backend, most specific first; the mailbox backend takes the rest.
    if (ext == ".pst" || ext == ".ost") {
#ifdef QUILLMARK_HAVE_PST
        return pst::OpenPstStore(storePath, std::move(warnings));
#endif
        throw EStoreError("Cannot open " + storePath + ": this build reads no Outlook data files (.pst/.ost).");
    }
#ifdef QUILLMARK_HAVE_MAILBOX
    return mailbox::OpenMailboxStore(storePath, std::move(warnings));
#else
    throw EStoreError("Cannot open " + storePath + ": this build reads no mailboxes (GMime was not found).");
#endif
}

std::shared_ptr<Application> ConnectApplication(std::vector<std::string> storePaths) {
#ifdef QUILLMARK_HAVE_COM
    // "outlook:" names Outlook itself, reached through COM automation: the running Outlook,
    // else a new one. A class id may follow ("outlook:{...}") for a stand-in server.
    if (storePaths.size() == 1 && storePaths[0].rfind("outlook:", 0) == 0) {
        const std::string classId = storePaths[0].substr(8);
        return com::ConnectOutlook(classId.empty() ? com::OutlookClassId : classId);
    }
#endif
    return std::make_shared<StoresApplication>(std::move(storePaths));
}

std::string DefaultSampleStorePath() {
    // A portable copy carries the store beside the program, an installed one under
    // share/quillmark, and a build run from the source tree finds the committed one.
    namespace fs = std::filesystem;
    std::vector<fs::path> candidates;
    const fs::path exeDir = platform::NativePath(platform::ExecutableFilePath()).parent_path();
    if (!exeDir.empty()) {
        candidates.push_back(exeDir / "samples" / "store");
        candidates.push_back(exeDir.parent_path() / "share" / "quillmark" / "samples" / "store");
    }
#ifdef QUILLMARK_SOURCE_SAMPLES
    candidates.emplace_back(QUILLMARK_SOURCE_SAMPLES);
#endif
    for (const auto& c : candidates) {
        std::error_code ec;
        if (fs::is_directory(c, ec)) return platform::Utf8Path(c);
    }
    return {};
}

} // namespace quillmark::outlook
