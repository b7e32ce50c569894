// An in-memory mail store behind the object-model interface, for tests of everything that
// talks to a store (folder tree, export run, tag catalogue, window logic).
//
// Build a world in code:
//
//     auto app = std::make_shared<FakeApplication>();
//     auto personal = app->Ns->AddStore(u"Personal Folders", u"store-1");
//     auto inbox = personal->AddFolder(u"Inbox");
//     auto mail = inbox->AddMail();
//     mail->SetText(dispid::Subject, u"Hello");
//     mail->SetDate(dispid::ReceivedTime, EncodeDate(2005, 3, 7));
//     mail->AddAttachment(u"report.pdf", "%PDF-1.4 ...");
//     inbox->AddNonMail();                       // an appointment, say
//
// Make a chosen call fail with a store message:
//
//     inbox->FailOn("Folders", "The store is not available.");
//     inbox->FailOn("Items.Item(3)", "Cannot read item");
//     mail->FailOnProperty(dispid::Body, "The body is gone");
//     app->Ns->FailOn("Logon", "No profile");
//
// Every call is written to the shared call log (app->Log), e.g. "Inbox.StoreID",
// "Inbox.Folders.Count", "Inbox.Folders.Item(2)", "MAPI.Folders.Count", "Logon",
// "Inbox.Items.Item(1)", "Mail(1).GetText(0x37)", "Attachment(report.pdf).SaveAsFile".
#pragma once

#include "outlook/ObjectModel.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmark::testing {

using outlook::AutomationBool;
using outlook::DispId;
using outlook::WideString;

struct FakeCallLog {
    std::vector<std::string> Calls;
    void Add(std::string call) { Calls.push_back(std::move(call)); }
    void Clear() { Calls.clear(); }
    // How often a call was made.
    int CountOf(const std::string& call) const {
        int n = 0;
        for (const auto& c : Calls)
            if (c == call) ++n;
        return n;
    }
    bool Has(const std::string& call) const { return CountOf(call) > 0; }
};

// Failure switches shared by every fake object: FailOn(member, message) makes that member
// throw EStoreError(message) from then on (until Heal(member)).
class FakeFailures {
public:
    void FailOn(const std::string& member, const std::string& message) { fail_[member] = message; }
    void Heal(const std::string& member) { fail_.erase(member); }

    void Check(const std::string& member) const {
        auto it = fail_.find(member);
        if (it != fail_.end()) throw EStoreError(it->second);
    }

private:
    std::map<std::string, std::string> fail_;
};

inline std::string FakeLabel(const WideString& text) { return platform::Utf8FromUtf16(text); }

inline std::string FakeHex(DispId id) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(id));
    return buf;
}

class FakeAttachment : public outlook::Attachment, public FakeFailures {
public:
    FakeAttachment(WideString fileName, std::string bytes, std::shared_ptr<FakeCallLog> log)
        : Name(std::move(fileName)), Bytes(std::move(bytes)), Log(std::move(log)) {}

    WideString FileName() override {
        Log->Add(Label() + ".FileName");
        Check("FileName");
        return Name;
    }
    void SaveAsFile(const std::string& path) override {
        Log->Add(Label() + ".SaveAsFile");
        Check("SaveAsFile");
        std::ofstream out(platform::NativePath(path), std::ios::binary | std::ios::trunc);
        if (!out) throw EStoreError("Cannot save the attachment to " + path);
        out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
        out.flush();
        if (!out) throw EStoreError("Cannot save the attachment to " + path);
        SavedTo.push_back(path);
    }
    // Only when InMemory (a store that reads mail from files); refusing to save is refusing
    // to give the bytes.
    std::optional<std::string_view> Content() override {
        if (!InMemory) return std::nullopt;
        Log->Add(Label() + ".Content");
        Check("SaveAsFile");
        return std::string_view(Bytes);
    }

    std::string ContentId() override { return ContentIdValue; }

    std::string Label() const { return "Attachment(" + FakeLabel(Name) + ")"; }

    WideString Name;
    std::string ContentIdValue;
    std::string Bytes;
    bool InMemory = false;
    std::vector<std::string> SavedTo; // every path SaveAsFile wrote
    std::shared_ptr<FakeCallLog> Log;
};

class FakeMailItem;

class FakeAttachmentCollection : public outlook::AttachmentCollection {
public:
    explicit FakeAttachmentCollection(std::shared_ptr<FakeMailItem> owner) : owner_(std::move(owner)) {}
    int Count() override;
    std::shared_ptr<outlook::Attachment> Item(int index) override;

private:
    std::shared_ptr<FakeMailItem> owner_;
};

class FakeMailItem : public outlook::MailItem, public FakeFailures, public std::enable_shared_from_this<FakeMailItem> {
public:
    FakeMailItem(std::string label, std::shared_ptr<FakeCallLog> log) : Label(std::move(label)), Log(std::move(log)) {}

    // ---- building ----
    FakeMailItem& SetText(DispId id, WideString value) {
        Texts[id] = std::move(value);
        return *this;
    }
    FakeMailItem& SetDate(DispId id, double value) {
        Dates[id] = value;
        return *this;
    }
    FakeMailItem& SetBool(DispId id, bool value) {
        Bools[id] = value ? outlook::VariantTrue : outlook::VariantFalse;
        return *this;
    }
    FakeMailItem& SetInt(DispId id, std::int32_t value) {
        Ints[id] = value;
        return *this;
    }
    std::shared_ptr<FakeAttachment> AddAttachment(WideString fileName, std::string bytes) {
        auto a = std::make_shared<FakeAttachment>(std::move(fileName), std::move(bytes), Log);
        a->InMemory = AttachmentsInMemory;
        AttachmentList.push_back(a);
        return a;
    }
    // Makes reading this one property throw.
    void FailOnProperty(DispId id, const std::string& message) { FailOn("Prop(" + FakeHex(id) + ")", message); }

    // ---- the interface ----
    WideString GetText(DispId id) override {
        Log->Add(Label + ".GetText(" + FakeHex(id) + ")");
        Check("Prop(" + FakeHex(id) + ")");
        auto it = Texts.find(id);
        return it == Texts.end() ? WideString() : it->second;
    }
    double GetDate(DispId id) override {
        Log->Add(Label + ".GetDate(" + FakeHex(id) + ")");
        Check("Prop(" + FakeHex(id) + ")");
        auto it = Dates.find(id);
        return it == Dates.end() ? 0.0 : it->second;
    }
    AutomationBool GetBool(DispId id) override {
        Log->Add(Label + ".GetBool(" + FakeHex(id) + ")");
        Check("Prop(" + FakeHex(id) + ")");
        auto it = Bools.find(id);
        return it == Bools.end() ? outlook::VariantFalse : it->second;
    }
    std::int32_t GetInt(DispId id) override {
        Log->Add(Label + ".GetInt(" + FakeHex(id) + ")");
        Check("Prop(" + FakeHex(id) + ")");
        auto it = Ints.find(id);
        return it == Ints.end() ? 0 : it->second;
    }
    std::shared_ptr<outlook::AttachmentCollection> Attachments() override {
        Log->Add(Label + ".Attachments");
        Check("Attachments");
        return std::make_shared<FakeAttachmentCollection>(shared_from_this());
    }

    std::string Label;
    std::map<DispId, WideString> Texts;
    std::map<DispId, double> Dates;
    std::map<DispId, AutomationBool> Bools;
    std::map<DispId, std::int32_t> Ints;
    std::vector<std::shared_ptr<FakeAttachment>> AttachmentList;
    bool AttachmentsInMemory = false; // attachments added from now on give their Content
    std::shared_ptr<FakeCallLog> Log;
};

inline int FakeAttachmentCollection::Count() {
    owner_->Log->Add(owner_->Label + ".Attachments.Count");
    owner_->Check("Attachments.Count");
    return static_cast<int>(owner_->AttachmentList.size());
}

inline std::shared_ptr<outlook::Attachment> FakeAttachmentCollection::Item(int index) {
    const std::string member = "Attachments.Item(" + std::to_string(index) + ")";
    owner_->Log->Add(owner_->Label + "." + member);
    owner_->Check(member);
    if (index < 1 || index > static_cast<int>(owner_->AttachmentList.size()))
        throw EStoreError("Array index out of bounds.");
    return owner_->AttachmentList[static_cast<std::size_t>(index - 1)];
}

// An item of a folder: a mail (Mail set) or something else (Mail null).
class FakeItem : public outlook::ItemObject, public FakeFailures {
public:
    FakeItem(std::shared_ptr<FakeMailItem> mail, std::shared_ptr<FakeCallLog> log)
        : Mail(std::move(mail)), Log(std::move(log)) {}
    std::shared_ptr<outlook::MailItem> QueryMailItem() override {
        Log->Add("QueryMailItem");
        Check("QueryMailItem");
        return Mail;
    }
    std::shared_ptr<FakeMailItem> Mail;
    std::shared_ptr<FakeCallLog> Log;
};

class FakeFolder;

class FakeFolderCollection : public outlook::FolderCollection {
public:
    // label: "<owner>.Folders"; failures: the owner's switches ("Folders.Count", "Folders.Item(n)").
    FakeFolderCollection(std::string label, std::vector<std::shared_ptr<FakeFolder>>* folders, FakeFailures* failures,
                         std::shared_ptr<void> keepAlive, std::shared_ptr<FakeCallLog> log)
        : label_(std::move(label)), folders_(folders), failures_(failures), keepAlive_(std::move(keepAlive)),
          log_(std::move(log)) {}
    int Count() override;
    std::shared_ptr<outlook::Folder> Item(int index) override;

private:
    std::string label_;
    std::vector<std::shared_ptr<FakeFolder>>* folders_;
    FakeFailures* failures_;
    std::shared_ptr<void> keepAlive_;
    std::shared_ptr<FakeCallLog> log_;
};

class FakeItemCollection : public outlook::ItemCollection {
public:
    explicit FakeItemCollection(std::shared_ptr<FakeFolder> owner) : owner_(std::move(owner)) {}
    int Count() override;
    std::shared_ptr<outlook::ItemObject> Item(int index) override;

private:
    std::shared_ptr<FakeFolder> owner_;
};

class FakeFolder : public outlook::Folder, public FakeFailures, public std::enable_shared_from_this<FakeFolder> {
public:
    FakeFolder(WideString name, WideString entryId, WideString storeId, std::shared_ptr<FakeCallLog> log)
        : FolderName(std::move(name)), Entry(std::move(entryId)), Store(std::move(storeId)), Log(std::move(log)) {}

    // ---- building ----
    // A subfolder; its EntryID is made unique from the parent's unless given.
    std::shared_ptr<FakeFolder> AddFolder(WideString name, WideString entryId = {}) {
        if (entryId.empty()) entryId = Entry + u"/" + name;
        auto f = std::make_shared<FakeFolder>(std::move(name), std::move(entryId), Store, Log);
        Subfolders.push_back(f);
        return f;
    }
    std::shared_ptr<FakeMailItem> AddMail() {
        auto m = std::make_shared<FakeMailItem>("Mail(" + std::to_string(ItemList.size() + 1) + ")", Log);
        m->SetText(outlook::dispid::MessageClass, u"IPM.Note");
        ItemList.push_back(std::make_shared<FakeItem>(m, Log));
        return m;
    }
    std::shared_ptr<FakeItem> AddNonMail() {
        auto item = std::make_shared<FakeItem>(nullptr, Log);
        ItemList.push_back(item);
        return item;
    }

    // ---- the interface ----
    WideString Name() override { return Read("Name", FolderName); }
    WideString EntryID() override { return Read("EntryID", Entry); }
    WideString StoreID() override { return Read("StoreID", Store); }
    std::shared_ptr<outlook::FolderCollection> Folders() override {
        Log->Add(Label() + ".Folders");
        Check("Folders");
        return std::make_shared<FakeFolderCollection>(Label() + ".Folders", &Subfolders, this, shared_from_this(), Log);
    }
    std::shared_ptr<outlook::ItemCollection> Items() override {
        Log->Add(Label() + ".Items");
        Check("Items");
        return std::make_shared<FakeItemCollection>(shared_from_this());
    }

    std::string Label() const { return FakeLabel(FolderName); }

    WideString FolderName, Entry, Store;
    std::vector<std::shared_ptr<FakeFolder>> Subfolders;
    std::vector<std::shared_ptr<FakeItem>> ItemList;
    std::shared_ptr<FakeCallLog> Log;

private:
    WideString Read(const char* member, const WideString& value) {
        Log->Add(Label() + "." + member);
        Check(member);
        return value;
    }
};

inline int FakeFolderCollection::Count() {
    log_->Add(label_ + ".Count");
    failures_->Check(label_.substr(label_.rfind('.') + 1) + ".Count");
    return static_cast<int>(folders_->size());
}

inline std::shared_ptr<outlook::Folder> FakeFolderCollection::Item(int index) {
    const std::string member = "Item(" + std::to_string(index) + ")";
    log_->Add(label_ + "." + member);
    failures_->Check(label_.substr(label_.rfind('.') + 1) + "." + member);
    if (index < 1 || index > static_cast<int>(folders_->size())) throw EStoreError("Array index out of bounds.");
    return (*folders_)[static_cast<std::size_t>(index - 1)];
}

inline int FakeItemCollection::Count() {
    owner_->Log->Add(owner_->Label() + ".Items.Count");
    owner_->Check("Items.Count");
    return static_cast<int>(owner_->ItemList.size());
}

inline std::shared_ptr<outlook::ItemObject> FakeItemCollection::Item(int index) {
    const std::string member = "Items.Item(" + std::to_string(index) + ")";
    owner_->Log->Add(owner_->Label() + "." + member);
    owner_->Check(member);
    if (index < 1 || index > static_cast<int>(owner_->ItemList.size())) throw EStoreError("Array index out of bounds.");
    return owner_->ItemList[static_cast<std::size_t>(index - 1)];
}

class FakeNameSpace : public outlook::NameSpace, public FakeFailures, public std::enable_shared_from_this<FakeNameSpace> {
public:
    explicit FakeNameSpace(std::shared_ptr<FakeCallLog> log) : Log(std::move(log)) {}

    // A store's top folder; the store's StoreID is storeId, the top folder's EntryID is made
    // from it unless given.
    std::shared_ptr<FakeFolder> AddStore(WideString name, WideString storeId, WideString entryId = {}) {
        if (entryId.empty()) entryId = storeId + u":" + name;
        auto f = std::make_shared<FakeFolder>(std::move(name), std::move(entryId), std::move(storeId), Log);
        Stores.push_back(f);
        return f;
    }

    void Logon() override {
        Log->Add("Logon");
        Check("Logon");
        LoggedOn = true;
    }
    void Logoff() override {
        Log->Add("Logoff");
        Check("Logoff");
        LoggedOn = false;
    }
    std::shared_ptr<outlook::FolderCollection> Folders() override {
        Log->Add("MAPI.Folders");
        Check("Folders");
        return std::make_shared<FakeFolderCollection>("MAPI.Folders", &Stores, this, shared_from_this(), Log);
    }
    std::shared_ptr<outlook::Folder> GetFolderFromID(const WideString& entryId, const WideString& storeId) override {
        Log->Add("GetFolderFromID");
        Check("GetFolderFromID");
        for (const auto& store : Stores)
            if (auto f = Find(store, entryId, storeId)) return f;
        throw EStoreError("The operation failed. An object could not be found.");
    }

    std::vector<std::shared_ptr<FakeFolder>> Stores;
    bool LoggedOn = false;
    std::shared_ptr<FakeCallLog> Log;

private:
    static std::shared_ptr<FakeFolder> Find(const std::shared_ptr<FakeFolder>& f, const WideString& entryId,
                                            const WideString& storeId) {
        if (f->Entry == entryId && f->Store == storeId) return f;
        for (const auto& sub : f->Subfolders)
            if (auto found = Find(sub, entryId, storeId)) return found;
        return nullptr;
    }
};

class FakeApplication : public outlook::Application, public FakeFailures {
public:
    FakeApplication() : Log(std::make_shared<FakeCallLog>()), Ns(std::make_shared<FakeNameSpace>(Log)) {}

    std::shared_ptr<outlook::NameSpace> GetNamespace(const std::string& type) override {
        Log->Add("GetNamespace(" + type + ")");
        Check("GetNamespace");
        if (type != "MAPI") throw EStoreError("Unknown namespace type " + type);
        return Ns;
    }
    void Disconnect() override {
        Log->Add("Disconnect");
        Check("Disconnect");
        Disconnected = true;
    }
    void SetWarningHandler(outlook::WarningHandler handler) override { Warn = std::move(handler); }

    // Sends a warning the way a backend would.
    void EmitWarning(const std::string& message) {
        if (Warn) Warn(message);
    }

    std::shared_ptr<FakeCallLog> Log;
    std::shared_ptr<FakeNameSpace> Ns;
    outlook::WarningHandler Warn;
    bool Disconnected = false;
};

} // namespace quillmark::testing
