#include "outlook/pst/PstStore.h"

#include "outlook/pst/PstFile.h"
#include "outlook/pst/PstMessage.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include <algorithm>

namespace quillmark::outlook::pst {

namespace {

namespace prop {
constexpr std::uint32_t MessageClass = 0x001A;
constexpr std::uint32_t RecordKey = 0x0FF9;
constexpr std::uint32_t DisplayName = 0x3001;
constexpr std::uint32_t IpmSubtreeEntryId = 0x35E0;
} // namespace prop

// The node id Outlook gives the IPM subtree in every data file it writes; used only when
// the message store does not say where the subtree is.
constexpr std::uint32_t UsualIpmSubtreeId = 0x8022;

std::string Ansi(const WideString& text) { return platform::Utf8FromUtf16(text); }

std::uint8_t ItemType(const ItemHandle& item) {
    std::uint8_t type = 0;
    PffError error;
    if (libpff_item_get_type(item.Get(), &type, error.Out()) != 1)
        return LIBPFF_ITEM_TYPE_UNDEFINED;
    return type;
}

class PstFolder;

class PstFolderCollection : public FolderCollection {
public:
    PstFolderCollection(std::shared_ptr<StoreContext> store, std::shared_ptr<ItemHandle> folder)
        : store_(std::move(store)), folder_(std::move(folder)) {}

    int Count() override {
        int count = 0;
        PffError error;
        if (libpff_folder_get_number_of_sub_folders(folder_->Get(), &count, error.Out()) != 1)
            throw EStoreError("Cannot read the folders of \"" + store_->file->Path() + "\": " + error.Reason());
        return std::max(count, 0);
    }
    std::shared_ptr<Folder> Item(int index) override;

private:
    std::shared_ptr<StoreContext> store_;
    std::shared_ptr<ItemHandle> folder_;
};

// An item libpff could not read: it keeps its place in the collection (so the item numbers
// stay those of the file) but offers no mail-item interface. It was reported when fetched.
class UnreadableItem : public ItemObject {
public:
    std::shared_ptr<MailItem> QueryMailItem() override { return nullptr; }
};

class PstItem : public ItemObject {
public:
    PstItem(std::shared_ptr<StoreContext> store, std::shared_ptr<ItemHandle> message)
        : store_(std::move(store)), message_(std::move(message)) {}

    std::shared_ptr<MailItem> QueryMailItem() override {
        std::optional<WideString> messageClass;
        try {
            messageClass = message_->FindText(prop::MessageClass, 1252);
        } catch (const EStoreError& e) {
            store_->file->Warn(e.Message());
            return nullptr;
        }
        if (!messageClass || !IsMailMessageClass(*messageClass))
            return nullptr;
        return MakeMailItem(store_, message_);
    }

private:
    std::shared_ptr<StoreContext> store_;
    std::shared_ptr<ItemHandle> message_;
};

class PstItemCollection : public ItemCollection {
public:
    PstItemCollection(std::shared_ptr<StoreContext> store, std::shared_ptr<ItemHandle> folder, WideString folderName)
        : store_(std::move(store)), folder_(std::move(folder)), folderName_(std::move(folderName)) {}

    int Count() override {
        int count = 0;
        PffError error;
        if (libpff_folder_get_number_of_sub_messages(folder_->Get(), &count, error.Out()) != 1)
            throw EStoreError("Cannot read the messages of folder \"" + Ansi(folderName_) + "\" in \"" +
                              store_->file->Path() + "\": " + error.Reason());
        return std::max(count, 0);
    }

    std::shared_ptr<ItemObject> Item(int index) override {
        if (index < 1 || index > Count())
            throw EStoreError("Array index out of bounds.");
        libpff_item_t* message = nullptr;
        PffError error;
        if (libpff_folder_get_sub_message(folder_->Get(), index - 1, &message, error.Out()) != 1 || !message) {
            // One damaged message must not end the archive run; it is reported, not
            // silently dropped.
            store_->file->Warn("Message " + std::to_string(index) + " of folder \"" + Ansi(folderName_) + "\" in \"" +
                               store_->file->Path() + "\" cannot be read: " + error.Reason());
            return std::make_shared<UnreadableItem>();
        }
        return std::make_shared<PstItem>(store_, std::make_shared<ItemHandle>(store_->file, message));
    }

private:
    std::shared_ptr<StoreContext> store_;
    std::shared_ptr<ItemHandle> folder_;
    WideString folderName_;
};

class PstFolder : public Folder {
public:
    PstFolder(std::shared_ptr<StoreContext> store, std::shared_ptr<ItemHandle> folder)
        : store_(std::move(store)), folder_(std::move(folder)) {}

    WideString Name() override {
        // The IPM subtree is the store's top folder and is shown under the store's name,
        // as Outlook shows "Personal Folders" rather than "Top of Personal Folders".
        if (folder_->Identifier() == store_->ipmSubtreeId)
            return store_->displayName;
        return folder_->FindText(prop::DisplayName, 1252).value_or(WideString());
    }
    WideString EntryID() override { return FormatEntryID(store_->recordKey, folder_->Identifier()); }
    WideString StoreID() override { return store_->storeId; }
    std::shared_ptr<FolderCollection> Folders() override {
        return std::make_shared<PstFolderCollection>(store_, folder_);
    }
    std::shared_ptr<ItemCollection> Items() override {
        return std::make_shared<PstItemCollection>(store_, folder_, Name());
    }

private:
    std::shared_ptr<StoreContext> store_;
    std::shared_ptr<ItemHandle> folder_;
};

std::shared_ptr<Folder> PstFolderCollection::Item(int index) {
    if (index < 1 || index > Count())
        throw EStoreError("Array index out of bounds.");
    libpff_item_t* sub = nullptr;
    PffError error;
    if (libpff_folder_get_sub_folder(folder_->Get(), index - 1, &sub, error.Out()) != 1 || !sub)
        throw EStoreError("Cannot read folder " + std::to_string(index) + " in \"" + store_->file->Path() +
                          "\": " + error.Reason());
    return std::make_shared<PstFolder>(store_, std::make_shared<ItemHandle>(store_->file, sub));
}

class PstStore : public Store {
public:
    PstStore(std::shared_ptr<StoreContext> store, std::shared_ptr<ItemHandle> top)
        : store_(std::move(store)), top_(std::move(top)) {}

    WideString StoreID() override { return store_->storeId; }
    std::shared_ptr<Folder> TopFolder() override { return std::make_shared<PstFolder>(store_, top_); }

    std::shared_ptr<Folder> GetFolderFromID(const WideString& entryId) override {
        auto parsed = ParseEntryID(entryId);
        if (!parsed || parsed->recordKey != store_->recordKey)
            throw EStoreError("The folder " + Ansi(entryId) + " is not in \"" + store_->file->Path() + "\".");
        std::string reason;
        auto item = GetItemById(store_->file, parsed->nodeId, reason);
        if (!item)
            throw EStoreError("Cannot open folder " + Ansi(entryId) + " in \"" + store_->file->Path() + "\": " + reason);
        if (ItemType(*item) != LIBPFF_ITEM_TYPE_FOLDER)
            throw EStoreError("Cannot open folder " + Ansi(entryId) + " in \"" + store_->file->Path() +
                              "\": it is not a folder.");
        return std::make_shared<PstFolder>(store_, item);
    }

private:
    std::shared_ptr<StoreContext> store_;
    std::shared_ptr<ItemHandle> top_;
};

// The file's name without its directory, what the tree shows for a store without a
// display name.
std::string FileName(const std::string& path) {
    std::size_t slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where the store's mail lives: the IPM subtree the message store names, else the node
// Outlook always uses for it, else a root folder called "Top of ...", else the root itself.
std::shared_ptr<ItemHandle> FindIpmSubtree(StoreContext& store, std::uint32_t namedId) {
    const auto& file = store.file;
    std::string reason;
    for (std::uint32_t id : {namedId, UsualIpmSubtreeId}) {
        if (id == 0)
            continue;
        if (auto item = GetItemById(file, id, reason); item && ItemType(*item) == LIBPFF_ITEM_TYPE_FOLDER)
            return item;
    }
    libpff_item_t* root = nullptr;
    PffError error;
    if (libpff_file_get_root_folder(file->Handle(), &root, error.Out()) != 1 || !root) {
        std::string reason = error.Reason();
        throw EStoreError("Cannot open the Outlook data file \"" + file->Path() + "\": it has no readable folders" +
                          (reason == "unknown error" ? std::string(".") : " (" + reason + ")."));
    }
    auto rootItem = std::make_shared<ItemHandle>(file, root);
    int count = 0;
    if (libpff_folder_get_number_of_sub_folders(root, &count, error.Out()) == 1) {
        for (int i = 0; i < count; ++i) {
            libpff_item_t* sub = nullptr;
            PffError subError;
            if (libpff_folder_get_sub_folder(root, i, &sub, subError.Out()) != 1 || !sub)
                continue;
            auto item = std::make_shared<ItemHandle>(file, sub);
            auto name = item->FindText(prop::DisplayName, 1252);
            if (name && name->rfind(u"Top of ", 0) == 0)
                return item;
        }
    }
    return rootItem;
}

std::shared_ptr<Store> OpenWith(std::shared_ptr<PstFile> file, const std::string& path) {
    auto store = std::make_shared<StoreContext>();
    store->file = file;
    store->storeId = platform::Utf16FromUtf8(path);
    std::uint32_t namedSubtree = 0;

    libpff_item_t* messageStore = nullptr;
    PffError error;
    int found = libpff_file_get_message_store(file->Handle(), &messageStore, error.Out());
    if (found < 0)
        throw EStoreError("Cannot open the Outlook data file \"" + path + "\": " + error.Reason());
    if (found == 1 && messageStore) {
        ItemHandle info(file, messageStore);
        // The message store gives the name, the record key and where the IPM subtree is;
        // each has a fallback, so a damaged message store is reported, not fatal.
        try {
            if (auto key = info.Find(prop::RecordKey); key && key->data.size() == 16)
                std::copy(key->data.begin(), key->data.end(), store->recordKey.begin());
            if (auto subtree = info.Find(prop::IpmSubtreeEntryId); subtree && subtree->data.size() == 24) {
                namedSubtree = *ReadUInt32(std::string_view(subtree->data).substr(20));
                // A store without its own record key still names itself in its entry ids.
                if (store->recordKey == RecordKey{})
                    std::copy(subtree->data.begin() + 4, subtree->data.begin() + 20, store->recordKey.begin());
            }
            store->displayName = info.FindText(prop::DisplayName, 1252).value_or(WideString());
        } catch (const EStoreError& e) {
            file->Warn(e.Message());
        }
    }
    if (store->displayName.empty())
        store->displayName = platform::Utf16FromUtf8(FileName(path));

    auto top = FindIpmSubtree(*store, namedSubtree);
    try {
        store->ipmSubtreeId = top->Identifier();
    } catch (const EStoreError& e) {
        throw EStoreError("Cannot open the Outlook data file \"" + path + "\": " + e.Message());
    }
    return std::make_shared<PstStore>(store, top);
}

} // namespace

std::shared_ptr<Store> OpenPstStore(const std::string& path, std::shared_ptr<WarningSink> warnings) {
    if (!platform::FileExists(path))
        throw EStoreError("Cannot open the Outlook data file \"" + path + "\": no such file.");
    return OpenWith(PstFile::Open(path, std::move(warnings)), path);
}

std::shared_ptr<Store> OpenPstStoreFromMemory(std::string bytes, const std::string& name,
                                              std::shared_ptr<WarningSink> warnings) {
    return OpenWith(PstFile::OpenMemory(std::move(bytes), name, std::move(warnings)), name);
}

} // namespace quillmark::outlook::pst
