#include "outlook/com/ComDispatch.h"

#include "platform/CodePage.h"

#include <cstdio>

namespace quillmark::outlook::com {

namespace {

std::u16string_view View(BSTR b) {
    return b ? std::u16string_view(reinterpret_cast<const char16_t*>(b), SysStringLen(b)) : std::u16string_view();
}

// A value of another type than wanted, changed by the automation rules; false when it
// cannot be (the caller then gives its empty value).
bool Changed(const VARIANT& from, VARTYPE to, VARIANT& out) {
    VariantInit(&out);
    return SUCCEEDED(VariantChangeTypeEx(&out, const_cast<VARIANT*>(&from), LOCALE_INVARIANT, 0, to));
}

} // namespace

Variant Variant::Int(long value) {
    Variant v;
    v.v_.vt = VT_I4;
    v.v_.lVal = value;
    return v;
}

Variant Variant::Bool(bool value) {
    Variant v;
    v.v_.vt = VT_BOOL;
    v.v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

Variant Variant::Text(std::u16string_view value) {
    Variant v;
    v.v_.vt = VT_BSTR;
    v.v_.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(value.data()), static_cast<UINT>(value.size()));
    if (!v.v_.bstrVal) throw EStoreError("Out of memory");
    return v;
}

Variant Variant::Missing() {
    Variant v;
    v.v_.vt = VT_ERROR;
    v.v_.scode = DISP_E_PARAMNOTFOUND;
    return v;
}

std::u16string Variant::AsText() const {
    if (v_.vt == VT_BSTR) return std::u16string(View(v_.bstrVal));
    if (v_.vt == VT_EMPTY || v_.vt == VT_NULL) return {};
    VARIANT t;
    if (!Changed(v_, VT_BSTR, t)) return {};
    std::u16string text(View(t.bstrVal));
    VariantClear(&t);
    return text;
}

double Variant::AsDate() const {
    if (v_.vt == VT_DATE) return v_.date;
    VARIANT t;
    if (!Changed(v_, VT_DATE, t)) return 0.0;
    return t.date;
}

std::int16_t Variant::AsBool() const {
    if (v_.vt == VT_BOOL) return v_.boolVal;
    VARIANT t;
    if (!Changed(v_, VT_BOOL, t)) return 0;
    return t.boolVal;
}

std::int32_t Variant::AsInt() const {
    if (v_.vt == VT_I4) return v_.lVal;
    VARIANT t;
    if (!Changed(v_, VT_I4, t)) return 0;
    return t.lVal;
}

ComPtr<IDispatch> Variant::AsObject() const {
    IUnknown* unknown = nullptr;
    if (v_.vt == VT_DISPATCH) unknown = v_.pdispVal;
    else if (v_.vt == VT_UNKNOWN) unknown = v_.punkVal;
    ComPtr<IDispatch> object;
    if (!unknown || FAILED(unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(object.Out()))))
        throw EStoreError("The server gave no object where one was expected");
    return object;
}

Bstr::Bstr(std::u16string_view text)
    : b_(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()))) {
    if (!b_) throw EStoreError("Out of memory");
}

std::string HResultText(HRESULT hr) {
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (n > 0 && buffer)
        text = platform::Utf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), n));
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (text.empty()) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "OLE error %08lX", static_cast<unsigned long>(hr));
        text = buf;
    }
    return text;
}

namespace {

std::string MessageOf(HRESULT hr, EXCEPINFO* info) {
    if (hr == DISP_E_EXCEPTION && info) {
        if (info->pfnDeferredFillIn) info->pfnDeferredFillIn(info);
        std::string message = platform::Utf8FromUtf16(View(info->bstrDescription));
        HRESULT code = info->scode ? info->scode : (info->wCode ? MAKE_HRESULT(1, FACILITY_ITF, info->wCode) : hr);
        SysFreeString(info->bstrDescription);
        SysFreeString(info->bstrSource);
        SysFreeString(info->bstrHelpFile);
        *info = {};
        return message.empty() ? HResultText(code) : message;
    }
    return HResultText(hr);
}

HRESULT Call(IDispatch* object, DISPID id, WORD flags, std::vector<Variant*>& args, Variant& result,
             EXCEPINFO& info) {
    // DISPPARAMS holds the arguments last first.
    std::vector<VARIANTARG> reversed;
    reversed.reserve(args.size());
    for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(*(*it)->Raw());
    DISPPARAMS params{};
    params.rgvarg = reversed.empty() ? nullptr : reversed.data();
    params.cArgs = static_cast<UINT>(reversed.size());
    UINT argError = 0;
    // The copies in reversed share the arguments' contents; the arguments still own them.
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result.Raw(), &info, &argError);
}

} // namespace

void RaiseFailure(HRESULT hr, EXCEPINFO* info) { throw EStoreError(MessageOf(hr, info)); }

Variant Invoke(IDispatch* object, DISPID id, WORD flags, std::vector<Variant*> args) {
    if (!object) throw EStoreError("The object is no longer connected");
    Variant result;
    EXCEPINFO info{};
    HRESULT hr = Call(object, id, flags, args, result, info);
    if (FAILED(hr)) RaiseFailure(hr, &info);
    return result;
}

HRESULT TryInvoke(IDispatch* object, DISPID id, WORD flags, std::vector<Variant*> args, Variant& result,
                  std::string& message) {
    if (!object) {
        message = "The object is no longer connected";
        return E_POINTER;
    }
    EXCEPINFO info{};
    HRESULT hr = Call(object, id, flags, args, result, info);
    if (FAILED(hr)) message = MessageOf(hr, &info);
    return hr;
}

DISPID IdOfName(IDispatch* object, const wchar_t* name) {
    if (!object) throw EStoreError("The object is no longer connected");
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        std::u16string n(reinterpret_cast<const char16_t*>(name));
        throw EStoreError("Unknown name \"" + platform::Utf8FromUtf16(n) + "\": " + HResultText(hr));
    }
    return id;
}

} // namespace quillmark::outlook::com
