// The few pieces of COM automation the Outlook backend needs: a reference-counted pointer,
// a VARIANT that clears itself, and calls through IDispatch that raise the server's own
// message (EXCEPINFO) as EStoreError. Included only by the backend's sources.
#pragma once

#include "platform/Exceptions.h"

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>
#include <vector>

namespace quillmark::outlook::com {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes over a reference the caller owns (as a call's out parameter gives one).
    static ComPtr Attach(T* p) {
        ComPtr c;
        c.p_ = p;
        return c;
    }
    ComPtr(const ComPtr& o) : p_(o.p_) {
        if (p_) p_->AddRef();
    }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~ComPtr() {
        if (p_) p_->Release();
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** Out() {
        *this = nullptr;
        return &p_;
    }
    void Reset() { *this = nullptr; }

private:
    T* p_ = nullptr;
};

class Variant {
public:
    Variant() { VariantInit(&v_); }
    ~Variant() { VariantClear(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    Variant(Variant&& o) noexcept {
        v_ = o.v_;
        VariantInit(&o.v_);
    }

    static Variant Int(long value);
    static Variant Bool(bool value);
    static Variant Text(std::u16string_view value);
    // An optional argument left out (VT_ERROR with DISP_E_PARAMNOTFOUND).
    static Variant Missing();

    VARIANT* Raw() { return &v_; }
    const VARIANT& Value() const { return v_; }

    std::u16string AsText() const;
    double AsDate() const;
    std::int16_t AsBool() const;
    std::int32_t AsInt() const;
    // The object the value holds; throws EStoreError when it holds none.
    ComPtr<IDispatch> AsObject() const;

private:
    VARIANT v_;
};

// A BSTR that frees itself.
class Bstr {
public:
    explicit Bstr(std::u16string_view text);
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return b_; }

private:
    BSTR b_;
};

// The system's text for an HRESULT, "OLE error 8004010F" when it has none.
std::string HResultText(HRESULT hr);

// Raises the failure of a call: the server's own description when it gave one (EXCEPINFO),
// else the system's text for the result code.
[[noreturn]] void RaiseFailure(HRESULT hr, EXCEPINFO* info);

// Calls member id of object. args are in the member's own order (first argument first).
// flags: DISPATCH_METHOD, DISPATCH_PROPERTYGET or both.
Variant Invoke(IDispatch* object, DISPID id, WORD flags, std::vector<Variant*> args = {});
// The same, giving the failing HRESULT back instead of raising it (result empty then), for
// members the caller may find missing (DISP_E_MEMBERNOTFOUND).
HRESULT TryInvoke(IDispatch* object, DISPID id, WORD flags, std::vector<Variant*> args, Variant& result,
                  std::string& message);

// The DispID of a member by its name (GetIDsOfNames); throws EStoreError when unknown.
DISPID IdOfName(IDispatch* object, const wchar_t* name);

} // namespace quillmark::outlook::com
