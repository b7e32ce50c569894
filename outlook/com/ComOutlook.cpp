// Outlook's object model through IDispatch, member by member as the archiver uses it: the
// application, namespace, items, mail items and attachments by their DispIDs, the folders
// and folder collections by name (GetIDsOfNames), as Outlook's own type library has them.
#include "outlook/com/ComOutlook.h"

#include "outlook/com/ComDispatch.h"
#include "platform/CodePage.h"

namespace quillmark::outlook::com {

const char* const OutlookClassId = "{0006F033-0000-0000-C000-000000000046}";

namespace {

// Interfaces asked for by their identifiers.
const GUID IID_DApplication = {0x00063001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID IID_DMailItem = {0x00063034, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID IID_DAttachment = {0x00063007, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

constexpr WORD Get = DISPATCH_PROPERTYGET;
constexpr WORD Method = DISPATCH_METHOD;
// Collections' Item is a method that is also the default property; either call works.
constexpr WORD ItemCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

// The interface iid of an object, as an IDispatch; null when the object does not offer it.
ComPtr<IDispatch> Query(IDispatch* object, const GUID& iid) {
    ComPtr<IDispatch> out;
    if (!object || FAILED(object->QueryInterface(iid, reinterpret_cast<void**>(out.Out())))) return nullptr;
    return out;
}

// A collection's Item(index) by DispID or name.
ComPtr<IDispatch> ItemAt(IDispatch* collection, DISPID itemId, int index) {
    Variant i = Variant::Int(index);
    return Invoke(collection, itemId, ItemCall, {&i}).AsObject();
}

class ComAttachment : public Attachment {
public:
    explicit ComAttachment(ComPtr<IDispatch> a) : a_(std::move(a)) {}
    WideString FileName() override { return Invoke(a_.Get(), dispid::FileName, Get).AsText(); }
    void SaveAsFile(const std::string& path) override {
        Variant p = Variant::Text(platform::Utf16FromUtf8(path));
        Invoke(a_.Get(), dispid::SaveAsFile, Method, {&p});
    }

private:
    ComPtr<IDispatch> a_;
};

class ComAttachments : public AttachmentCollection {
public:
    explicit ComAttachments(ComPtr<IDispatch> c) : c_(std::move(c)) {}
    int Count() override { return Invoke(c_.Get(), dispid::Count, Get).AsInt(); }
    std::shared_ptr<Attachment> Item(int index) override {
        ComPtr<IDispatch> item = ItemAt(c_.Get(), dispid::Item, index);
        ComPtr<IDispatch> attachment = Query(item.Get(), IID_DAttachment);
        if (!attachment) throw EStoreError("Attachment " + std::to_string(index) + " offers no attachment interface");
        return std::make_shared<ComAttachment>(std::move(attachment));
    }

private:
    ComPtr<IDispatch> c_;
};

class ComMailItem : public MailItem {
public:
    explicit ComMailItem(ComPtr<IDispatch> m) : m_(std::move(m)) {}
    WideString GetText(DispId id) override {
        // Our own numbers name no Outlook member: never ask Outlook for them.
        if (id >= dispid::FirstPrivateDispId) return {};
        Variant v;
        return Read(id, v) ? v.AsText() : WideString();
    }
    double GetDate(DispId id) override {
        Variant v;
        return Read(id, v) ? v.AsDate() : 0.0;
    }
    AutomationBool GetBool(DispId id) override {
        Variant v;
        return Read(id, v) ? v.AsBool() : VariantFalse;
    }
    std::int32_t GetInt(DispId id) override {
        Variant v;
        return Read(id, v) ? v.AsInt() : 0;
    }
    std::shared_ptr<AttachmentCollection> Attachments() override {
        return std::make_shared<ComAttachments>(Invoke(m_.Get(), dispid::Attachments, Get).AsObject());
    }

private:
    // A property this version of Outlook does not have reads as empty; any other failure is
    // the server's error and goes up with its message.
    bool Read(DispId id, Variant& out) {
        std::string message;
        HRESULT hr = TryInvoke(m_.Get(), id, Get, {}, out, message);
        if (SUCCEEDED(hr)) return true;
        if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_UNKNOWNNAME) return false;
        throw EStoreError(message);
    }

    ComPtr<IDispatch> m_;
};

class ComItem : public ItemObject {
public:
    explicit ComItem(ComPtr<IDispatch> i) : i_(std::move(i)) {}
    std::shared_ptr<MailItem> QueryMailItem() override {
        ComPtr<IDispatch> mail = Query(i_.Get(), IID_DMailItem);
        if (!mail) return nullptr; // an appointment, a contact, a report: passed over
        return std::make_shared<ComMailItem>(std::move(mail));
    }

private:
    ComPtr<IDispatch> i_;
};

class ComItems : public ItemCollection {
public:
    explicit ComItems(ComPtr<IDispatch> c) : c_(std::move(c)) {}
    int Count() override { return Invoke(c_.Get(), dispid::Count, Get).AsInt(); }
    std::shared_ptr<ItemObject> Item(int index) override {
        return std::make_shared<ComItem>(ItemAt(c_.Get(), dispid::Item, index));
    }

private:
    ComPtr<IDispatch> c_;
};

class ComFolders;

class ComFolder : public Folder {
public:
    explicit ComFolder(ComPtr<IDispatch> f) : f_(std::move(f)) {}
    WideString Name() override { return ByName(L"name").AsText(); }
    WideString EntryID() override { return ByName(L"EntryID").AsText(); }
    WideString StoreID() override { return ByName(L"StoreID").AsText(); }
    std::shared_ptr<FolderCollection> Folders() override;
    std::shared_ptr<ItemCollection> Items() override {
        return std::make_shared<ComItems>(Invoke(f_.Get(), dispid::Items, Get).AsObject());
    }

private:
    Variant ByName(const wchar_t* name) { return Invoke(f_.Get(), IdOfName(f_.Get(), name), Get); }

    ComPtr<IDispatch> f_;
};

class ComFolders : public FolderCollection {
public:
    explicit ComFolders(ComPtr<IDispatch> c) : c_(std::move(c)) {}
    int Count() override { return Invoke(c_.Get(), IdOfName(c_.Get(), L"Count"), Get).AsInt(); }
    std::shared_ptr<Folder> Item(int index) override {
        return std::make_shared<ComFolder>(ItemAt(c_.Get(), IdOfName(c_.Get(), L"Item"), index));
    }

private:
    ComPtr<IDispatch> c_;
};

std::shared_ptr<FolderCollection> ComFolder::Folders() {
    return std::make_shared<ComFolders>(ByName(L"Folders").AsObject());
}

class ComNameSpace : public NameSpace {
public:
    explicit ComNameSpace(ComPtr<IDispatch> ns) : ns_(std::move(ns)) {}
    void Logon() override {
        // Profile and password left out; no dialog, no new session: the user's running
        // Outlook session is used as it is.
        Variant profile = Variant::Missing(), password = Variant::Missing();
        Variant showDialog = Variant::Bool(false), newSession = Variant::Bool(false);
        Invoke(ns_.Get(), dispid::Logon, Method, {&profile, &password, &showDialog, &newSession});
    }
    void Logoff() override { Invoke(ns_.Get(), dispid::Logoff, Method); }
    std::shared_ptr<FolderCollection> Folders() override {
        return std::make_shared<ComFolders>(Invoke(ns_.Get(), dispid::Folders, Get).AsObject());
    }
    std::shared_ptr<Folder> GetFolderFromID(const WideString& entryId, const WideString& storeId) override {
        Variant entry = Variant::Text(entryId), store = Variant::Text(storeId);
        return std::make_shared<ComFolder>(Invoke(ns_.Get(), dispid::GetFolderFromID, Method, {&entry, &store}).AsObject());
    }

private:
    ComPtr<IDispatch> ns_;
};

class ComApplication : public Application {
public:
    explicit ComApplication(ComPtr<IDispatch> app) : app_(std::move(app)) {}
    std::shared_ptr<NameSpace> GetNamespace(const std::string& type) override {
        Variant t = Variant::Text(platform::Utf16FromUtf8(type));
        return std::make_shared<ComNameSpace>(Invoke(app_.Get(), dispid::GetNamespace, Method, {&t}).AsObject());
    }
    // Only our reference goes: Outlook keeps running (it may be the user's own window).
    void Disconnect() override { app_.Reset(); }
    // Outlook reports its problems as errors; there is nothing it reads past.
    void SetWarningHandler(WarningHandler) override {}

private:
    ComPtr<IDispatch> app_;
};

} // namespace

std::shared_ptr<Application> ConnectOutlook(const std::string& classId) {
    // The program is expected to have entered its apartment; a thread that has not gets a
    // single-threaded one here, kept for the thread's life (Outlook's objects need it for as
    // long as they are held).
    HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    (void)init; // S_FALSE (already entered) and RPC_E_CHANGED_MODE (a multithreaded one) both do

    std::u16string wide = platform::Utf16FromUtf8(classId);
    CLSID clsid{};
    HRESULT hr = CLSIDFromString(reinterpret_cast<LPCOLESTR>(wide.c_str()), &clsid);
    if (FAILED(hr)) throw EStoreError("Invalid class string " + classId + ": " + HResultText(hr));

    ComPtr<IUnknown> unknown;
    // The Outlook the user has open, if any; else a new one.
    if (FAILED(GetActiveObject(clsid, nullptr, unknown.Out()))) {
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER, IID_IUnknown,
                              reinterpret_cast<void**>(unknown.Out()));
        if (FAILED(hr)) throw EStoreError(HResultText(hr));
    }
    ComPtr<IDispatch> app;
    if (FAILED(unknown->QueryInterface(IID_DApplication, reinterpret_cast<void**>(app.Out()))) &&
        FAILED(unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(app.Out()))))
        throw EStoreError("The Outlook application offers no automation interface");
    return std::make_shared<ComApplication>(std::move(app));
}

ComApartment::ComApartment() : entered_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}

ComApartment::~ComApartment() {
    if (entered_) CoUninitialize();
}

} // namespace quillmark::outlook::com
