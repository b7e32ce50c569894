// A stand-in for Outlook for the COM backend's tests: an in-process automation server that
// answers Outlook's application class id, its interface ids, DispIDs and member names, with
// a small mailbox held in memory. It is registered for the current user only, in the test
// run's own Wine prefix (or Windows profile), under a class id the test chooses.
//
// Besides the COM entry points it exports FakeOutlookLog (the calls the server saw, for the
// tests to check) and FakeOutlookLiveObjects (objects not yet released).
#include "SharedInbox.h"
#include "outlook/ObjectModel.h"

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cwctype>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace quillmark::outlook;

std::atomic<long> gLive{0};
std::wstring gLog;
HMODULE gModule = nullptr;

const GUID IID_DApplication = {0x00063001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID IID_DMailItem = {0x00063034, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID IID_DAppointmentItem = {0x00063033, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID IID_DAttachment = {0x00063007, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

void Log(const std::wstring& entry) {
    if (!gLog.empty()) gLog += L" ";
    gLog += entry;
}

// ---------------------------------------------------------------- the mailbox

struct FakeAttachment {
    std::wstring FileName;
    std::string Bytes;
};

struct FakeMail {
    bool IsMail = true;
    std::wstring Subject, Body, SenderName, To;
    double ReceivedTime = 0, CreationTime = 0;
    long Size = 0;
    bool UnRead = false;
    std::vector<FakeAttachment> Attachments;
    std::wstring FailingBody; // non-empty: reading Body fails with this message
};

struct FakeFolder {
    std::wstring Name, EntryID, StoreID;
    std::vector<std::shared_ptr<FakeFolder>> Children;
    std::vector<std::shared_ptr<FakeMail>> Items;
};

std::shared_ptr<FakeFolder> Folder(std::wstring name, std::wstring entry, std::wstring store) {
    auto f = std::make_shared<FakeFolder>();
    f->Name = std::move(name);
    f->EntryID = std::move(entry);
    f->StoreID = std::move(store);
    return f;
}

std::wstring Wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

// The comparison folder: the mails the mailbox tests read from an mbox, as Outlook gives them.
std::shared_ptr<FakeFolder> SharedFolder() {
    auto shared = Folder(L"Shared", L"E-P-SHARED", L"S-PST");
    for (const auto& item : quillmark::test::shared::SharedInboxItems()) {
        auto m = std::make_shared<FakeMail>();
        m->IsMail = item.IsMail;
        m->Subject = Wide(item.Subject);
        m->Body = Wide(item.Body);
        m->SenderName = Wide(item.SenderName);
        m->To = Wide(item.To);
        m->ReceivedTime = item.ReceivedTime;
        m->CreationTime = item.CreationTime;
        m->Size = item.Size;
        m->UnRead = item.UnRead;
        for (const auto& a : item.Attachments) m->Attachments.push_back({Wide(a.FileName), a.Bytes});
        shared->Items.push_back(m);
    }
    return shared;
}

std::vector<std::shared_ptr<FakeFolder>> MakeStores() {
    auto personal = Folder(L"Personal Folders", L"E-P", L"S-PST");
    auto inbox = Folder(L"Inbox", L"E-P-INBOX", L"S-PST");
    auto m1 = std::make_shared<FakeMail>();
    m1->Subject = L"Quarterly report";
    m1->Body = L"Hello Ann,\r\nthe report is attached.\r\n";
    m1->SenderName = L"Bo Berg";
    m1->To = L"Ann Andersson";
    m1->ReceivedTime = 38412.5;  // 2005-03-01 12:00
    m1->CreationTime = 38412.25;
    m1->Size = 4242;
    m1->UnRead = true;
    m1->Attachments.push_back({L"report.txt", "figures\n"});
    m1->Attachments.push_back({L"\u4f1a\u8bae.txt", "meeting\n"});
    auto appointment = std::make_shared<FakeMail>();
    appointment->IsMail = false;
    appointment->Subject = L"Dentist";
    auto m2 = std::make_shared<FakeMail>();
    m2->Subject = L"M\u00f6te \u2013 \u4f1a\u8bae";
    m2->Body = L"Agenda";
    m2->SenderName = L"Cecilia \u00c5str\u00f6m";
    m2->ReceivedTime = 949998.0; // Outlook's "no date": the creation time counts
    m2->CreationTime = 38413.75;
    m2->Size = 100;
    inbox->Items = {m1, appointment, m2};
    auto republic = Folder(L"Republic", L"E-P-REP", L"S-PST");
    republic->Children.push_back(Folder(L"Deep", L"E-P-REP-DEEP", L"S-PST"));
    personal->Children = {inbox, republic, Folder(L"Pub", L"E-P-PUB", L"S-PST"), SharedFolder()};
    // A long folder for the window's tests of Stop, only when the test asks for one
    // (QUILLMARK_FAKE_OUTLOOK_LONG=<number of mails>): the other tests see the tree as always.
    wchar_t count[16] = {};
    if (GetEnvironmentVariableW(L"QUILLMARK_FAKE_OUTLOOK_LONG", count, 16) > 0) {
        auto longFolder = Folder(L"Long", L"E-P-LONG", L"S-PST");
        const long n = wcstol(count, nullptr, 10);
        for (long i = 1; i <= n; ++i) {
            auto m = std::make_shared<FakeMail>();
            m->Subject = L"Long mail " + std::to_wstring(i);
            m->Body = L"Body of long mail " + std::to_wstring(i) + L"\r\n";
            m->SenderName = L"Bo Berg";
            m->ReceivedTime = 38412.0 + i / 1440.0; // a minute apart
            m->CreationTime = m->ReceivedTime;
            m->Size = 200;
            longFolder->Items.push_back(m);
        }
        personal->Children.push_back(longFolder);
    }

    auto pub = Folder(L"Public Folders", L"E-PUB", L"S-PUBLIC");
    pub->Children.push_back(Folder(L"All Public Folders", L"E-PUB-ALL", L"S-PUBLIC"));

    auto mailbox = Folder(L"Mailbox - Ann", L"E-M", L"S-EXCH");
    auto sent = Folder(L"Sent Items", L"E-M-SENT", L"S-EXCH");
    auto broken = std::make_shared<FakeMail>();
    broken->Subject = L"Broken";
    broken->ReceivedTime = 38000.0;
    broken->FailingBody = L"The message store is not available. (fake)";
    sent->Items = {broken};
    mailbox->Children = {sent};
    return {personal, pub, mailbox};
}

std::vector<std::shared_ptr<FakeFolder>>& Stores() {
    static std::vector<std::shared_ptr<FakeFolder>> stores = MakeStores();
    return stores;
}

std::shared_ptr<FakeFolder> FindFolder(const std::vector<std::shared_ptr<FakeFolder>>& in, const std::wstring& entry,
                                       const std::wstring& store) {
    for (const auto& f : in) {
        if (f->EntryID == entry && f->StoreID == store) return f;
        if (auto found = FindFolder(f->Children, entry, store)) return found;
    }
    return nullptr;
}

// ---------------------------------------------------------------- one generic object

using Handler = std::function<HRESULT(WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* error)>;

class FakeObject : public IDispatch {
public:
    explicit FakeObject(std::vector<GUID> iids) : iids_(std::move(iids)) { ++gLive; }
    virtual ~FakeObject() { --gLive; }

    void On(DISPID id, const wchar_t* name, Handler handler) {
        std::wstring lower = name;
        for (auto& c : lower) c = static_cast<wchar_t>(std::towlower(c));
        names_[lower] = id;
        handlers_[id] = std::move(handler);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        bool known = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch);
        for (const auto& iid : iids_) known = known || IsEqualIID(riid, iid);
        if (!known) return E_NOINTERFACE;
        AddRef();
        *out = static_cast<IDispatch*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        long n = --refs_;
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        if (n) *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            std::wstring lower = names[i];
            for (auto& c : lower) c = static_cast<wchar_t>(std::towlower(c));
            auto it = names_.find(lower);
            ids[i] = it == names_.end() ? DISPID_UNKNOWN : it->second;
            if (it == names_.end()) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* error, UINT*) override {
        auto it = handlers_.find(id);
        if (it == handlers_.end()) return DISP_E_MEMBERNOTFOUND;
        if (result) VariantInit(result);
        return it->second(flags, params, result, error);
    }

private:
    std::atomic<long> refs_{1};
    std::vector<GUID> iids_;
    std::map<std::wstring, DISPID> names_;
    std::map<DISPID, Handler> handlers_;
};

HRESULT Fail(EXCEPINFO* error, const std::wstring& message) {
    if (error) {
        *error = {};
        error->scode = E_FAIL;
        error->bstrSource = SysAllocString(L"Microsoft Outlook");
        error->bstrDescription = SysAllocString(message.c_str());
    }
    return DISP_E_EXCEPTION;
}

HRESULT Text(VARIANT* r, const std::wstring& s) {
    if (r) {
        r->vt = VT_BSTR;
        r->bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    }
    return S_OK;
}
HRESULT Int(VARIANT* r, long n) {
    if (r) {
        r->vt = VT_I4;
        r->lVal = n;
    }
    return S_OK;
}
HRESULT Date(VARIANT* r, double d) {
    if (r) {
        r->vt = VT_DATE;
        r->date = d;
    }
    return S_OK;
}
HRESULT Bool(VARIANT* r, bool b) {
    if (r) {
        r->vt = VT_BOOL;
        r->boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    }
    return S_OK;
}
// Hands out a new object; the result owns the one reference.
HRESULT Object(VARIANT* r, FakeObject* o) {
    if (!r) {
        o->Release();
        return S_OK;
    }
    r->vt = VT_DISPATCH;
    r->pdispVal = o;
    return S_OK;
}

// Argument i in the caller's order (DISPPARAMS holds them last first).
VARIANT* Arg(DISPPARAMS* p, UINT i) {
    if (!p || i >= p->cArgs) return nullptr;
    return &p->rgvarg[p->cArgs - 1 - i];
}

bool IndexArg(DISPPARAMS* p, long& index) {
    VARIANT* a = Arg(p, 0);
    if (!a) return false;
    VARIANT v;
    VariantInit(&v);
    if (FAILED(VariantChangeType(&v, a, 0, VT_I4))) return false;
    index = v.lVal;
    return true;
}

std::wstring TextArg(DISPPARAMS* p, UINT i) {
    VARIANT* a = Arg(p, i);
    if (!a) return {};
    VARIANT v;
    VariantInit(&v);
    if (FAILED(VariantChangeType(&v, a, 0, VT_BSTR))) return L"?";
    std::wstring s(v.bstrVal, SysStringLen(v.bstrVal));
    VariantClear(&v);
    return s;
}

std::wstring DescribeArg(VARIANT* a) {
    if (!a) return L"none";
    if (a->vt == VT_ERROR && a->scode == DISP_E_PARAMNOTFOUND) return L"missing";
    if (a->vt == VT_BOOL) return a->boolVal ? L"true" : L"false";
    if (a->vt == VT_BSTR) return std::wstring(a->bstrVal, SysStringLen(a->bstrVal));
    return L"vt" + std::to_wstring(a->vt);
}

// A 1-based collection of count elements, made by make(i) on each Item call.
template <class Make>
FakeObject* Collection(long count, DISPID countId, DISPID itemId, Make make) {
    auto* c = new FakeObject({});
    c->On(countId, L"Count", [count](WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*) { return Int(r, count); });
    c->On(itemId, L"Item", [count, make](WORD, DISPPARAMS* p, VARIANT* r, EXCEPINFO* e) {
        long i = 0;
        if (!IndexArg(p, i)) return DISP_E_BADPARAMCOUNT;
        if (i < 1 || i > count) return Fail(e, L"Array index out of bounds.");
        return Object(r, make(i));
    });
    return c;
}

FakeObject* MakeAttachment(const FakeAttachment& a) {
    auto* o = new FakeObject({IID_DAttachment});
    o->On(dispid::FileName, L"FileName", [a](WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*) { return Text(r, a.FileName); });
    o->On(dispid::SaveAsFile, L"SaveAsFile", [a](WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO* e) {
        std::wstring path = TextArg(p, 0);
        Log(L"SaveAsFile(" + a.FileName + L")");
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return Fail(e, L"Cannot save the attachment. Path does not exist.");
        DWORD written = 0;
        WriteFile(h, a.Bytes.data(), static_cast<DWORD>(a.Bytes.size()), &written, nullptr);
        CloseHandle(h);
        return S_OK;
    });
    return o;
}

FakeObject* MakeItem(const std::shared_ptr<FakeMail>& m) {
    auto* o = new FakeObject({m->IsMail ? IID_DMailItem : IID_DAppointmentItem});
    auto text = [m](DISPID id, const wchar_t* name, std::wstring FakeMail::*field) {
        return std::make_tuple(id, name, field);
    };
    for (auto [id, name, field] : {text(dispid::Subject, L"Subject", &FakeMail::Subject),
                                   text(dispid::SenderName, L"SenderName", &FakeMail::SenderName),
                                   text(dispid::To, L"To", &FakeMail::To)})
        o->On(id, name, [m, field](WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*) { return Text(r, (*m).*field); });
    o->On(dispid::Body, L"Body", [m](WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO* e) {
        if (!m->FailingBody.empty()) return Fail(e, m->FailingBody);
        return Text(r, m->Body);
    });
    o->On(dispid::MessageClass, L"MessageClass",
          [m](WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*) { return Text(r, m->IsMail ? L"IPM.Note" : L"IPM.Appointment"); });
    o->On(dispid::ReceivedTime, L"ReceivedTime",
          [m](WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*) { return Date(r, m->ReceivedTime); });
    o->On(dispid::CreationTime, L"CreationTime",
          [m](WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*) { return Date(r, m->CreationTime); });
    o->On(dispid::Size, L"Size", [m](WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*) { return Int(r, m->Size); });
    o->On(dispid::UnRead, L"UnRead", [m](WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*) { return Bool(r, m->UnRead); });
    o->On(dispid::Attachments, L"Attachments", [m](WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*) {
        return Object(r, Collection(static_cast<long>(m->Attachments.size()), dispid::Count, dispid::Item,
                                    [m](long i) { return MakeAttachment(m->Attachments[static_cast<std::size_t>(i - 1)]); }));
    });
    return o;
}

FakeObject* MakeFolders(const std::vector<std::shared_ptr<FakeFolder>>& folders);

FakeObject* MakeFolder(const std::shared_ptr<FakeFolder>& f) {
    auto* o = new FakeObject({});
    // Folder members are reached by name; the DispIDs are the server's business.
    o->On(0x2102, L"Name", [f](WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*) { return Text(r, f->Name); });
    o->On(0xF01E, L"EntryID", [f](WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*) { return Text(r, f->EntryID); });
    o->On(0x3108, L"StoreID", [f](WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*) { return Text(r, f->StoreID); });
    o->On(0x2103, L"Folders", [f](WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*) {
        Log(L"Folders(" + f->Name + L")");
        return Object(r, MakeFolders(f->Children));
    });
    o->On(dispid::Items, L"Items", [f](WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*) {
        return Object(r, Collection(static_cast<long>(f->Items.size()), dispid::Count, dispid::Item,
                                    [f](long i) { return MakeItem(f->Items[static_cast<std::size_t>(i - 1)]); }));
    });
    return o;
}

FakeObject* MakeFolders(const std::vector<std::shared_ptr<FakeFolder>>& folders) {
    // Outlook's folder collections number their members differently from the items; the
    // client finds them by name.
    return Collection(static_cast<long>(folders.size()), 0x1001, 0x1002,
                      [folders](long i) { return MakeFolder(folders[static_cast<std::size_t>(i - 1)]); });
}

FakeObject* MakeNameSpace() {
    auto* ns = new FakeObject({});
    ns->On(dispid::Logon, L"Logon", [](WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*) {
        std::wstring args;
        for (UINT i = 0; i < (p ? p->cArgs : 0); ++i) args += (i ? L"," : L"") + DescribeArg(Arg(p, i));
        Log(L"Logon(" + args + L")");
        return S_OK;
    });
    ns->On(dispid::Logoff, L"Logoff", [](WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*) {
        Log(L"Logoff");
        return S_OK;
    });
    ns->On(dispid::Folders, L"Folders",
           [](WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*) { return Object(r, MakeFolders(Stores())); });
    ns->On(dispid::GetFolderFromID, L"GetFolderFromID", [](WORD, DISPPARAMS* p, VARIANT* r, EXCEPINFO* e) {
        auto f = FindFolder(Stores(), TextArg(p, 0), TextArg(p, 1));
        if (!f) return Fail(e, L"The operation failed. An object could not be found.");
        return Object(r, MakeFolder(f));
    });
    return ns;
}

FakeObject* MakeApplication() {
    auto* app = new FakeObject({IID_DApplication});
    app->On(dispid::GetNamespace, L"GetNamespace", [](WORD, DISPPARAMS* p, VARIANT* r, EXCEPINFO* e) {
        std::wstring type = TextArg(p, 0);
        Log(L"GetNamespace(" + type + L")");
        if (type != L"MAPI") return Fail(e, L"Could not complete the operation. One or more parameter values are not valid.");
        return Object(r, MakeNameSpace());
    });
    app->On(0x113, L"Quit", [](WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*) {
        Log(L"Quit");
        return S_OK;
    });
    return app;
}

// ---------------------------------------------------------------- class factory

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        Log(L"CreateInstance");
        FakeObject* app = MakeApplication();
        HRESULT hr = app->QueryInterface(riid, out);
        app->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory gFactory;

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) gModule = instance;
    return TRUE;
}

// Any class id the test registered for this module gets the fake application.
__declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID riid, LPVOID* out) {
    return gFactory.QueryInterface(riid, out);
}

__declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }

__declspec(dllexport) const wchar_t* FakeOutlookLog() { return gLog.c_str(); }

__declspec(dllexport) void FakeOutlookClearLog() { gLog.clear(); }

__declspec(dllexport) long FakeOutlookLiveObjects() { return gLive.load(); }
}
