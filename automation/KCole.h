// The automation platform as the binding sees it: the platform's own headers
// on Windows, the portable stand-in elsewhere; and a few owning wrappers
// that work with either.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>
// <windows.h> maps these to its own ANSI or wide file functions; here they
// are members of IKestrune.
#undef EncryptFile
#undef DecryptFile
#else
#include "automation/KCole_posix.h"
#endif

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace kestrune::automation {

// Automation text as the core's UTF-16 text (OLECHAR is a 16-bit type on
// every platform, char16_t or wchar_t).
inline std::u16string_view TextOf(const OLECHAR* text, std::size_t length) noexcept {
    static_assert(sizeof(OLECHAR) == sizeof(char16_t));
    return {reinterpret_cast<const char16_t*>(text), length};
}

// A null BSTR is the empty string, as the platform treats it.
inline std::u16string_view TextOf(BSTR text) noexcept {
    return text == nullptr ? std::u16string_view() : TextOf(text, SysStringLen(text));
}

// A null-terminated copy for the platform's LPOLESTR parameters.
inline std::basic_string<OLECHAR> OleText(std::u16string_view text) { return {text.begin(), text.end()}; }

// Null when memory runs out.
inline BSTR AllocText(std::u16string_view text) noexcept {
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
}

// A reference to an interface, released when it goes.
template <class T>
class TComPtr {
public:
    TComPtr() noexcept = default;
    // Takes over a reference the caller already holds.
    static TComPtr Attach(T* p) noexcept {
        TComPtr result;
        result.p_ = p;
        return result;
    }
    TComPtr(const TComPtr& other) noexcept : p_(other.p_) {
        if (p_ != nullptr) p_->AddRef();
    }
    TComPtr(TComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    TComPtr& operator=(TComPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~TComPtr() { Reset(); }

    void Reset() noexcept {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    // For out parameters: drops the current reference first.
    T** Put() noexcept {
        Reset();
        return &p_;
    }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }
    T* Get() const noexcept { return p_; }
    T* Detach() noexcept { return std::exchange(p_, nullptr); }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    template <class U>
    HRESULT QueryInto(REFIID riid, TComPtr<U>& target) const noexcept {
        return p_ == nullptr ? E_POINTER : p_->QueryInterface(riid, target.PutVoid());
    }

private:
    T* p_ = nullptr;
};

// An owned BSTR.
class TBstr {
public:
    TBstr() noexcept = default;
    explicit TBstr(std::u16string_view text) noexcept : b_(AllocText(text)) {}
    TBstr(const TBstr&) = delete;
    TBstr& operator=(const TBstr&) = delete;
    TBstr(TBstr&& other) noexcept : b_(std::exchange(other.b_, nullptr)) {}
    TBstr& operator=(TBstr&& other) noexcept {
        std::swap(b_, other.b_);
        return *this;
    }
    ~TBstr() { SysFreeString(b_); }

    BSTR* Put() noexcept {
        SysFreeString(std::exchange(b_, nullptr));
        return &b_;
    }
    BSTR Get() const noexcept { return b_; }
    BSTR Detach() noexcept { return std::exchange(b_, nullptr); }
    std::u16string_view View() const noexcept { return TextOf(b_); }

private:
    BSTR b_ = nullptr;
};

// An owned VARIANT, cleared when it goes.
class TVariant {
public:
    TVariant() noexcept { VariantInit(&v_); }
    TVariant(const TVariant&) = delete;
    TVariant& operator=(const TVariant&) = delete;
    TVariant(TVariant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
    TVariant& operator=(TVariant&& other) noexcept {
        std::swap(v_, other.v_);
        return *this;
    }
    ~TVariant() { VariantClear(&v_); }

    static TVariant Long(LONG value) noexcept {
        TVariant result;
        result.v_.vt = VT_I4;
        result.v_.lVal = value;
        return result;
    }
    static TVariant Double(double value) noexcept {
        TVariant result;
        result.v_.vt = VT_R8;
        result.v_.dblVal = value;
        return result;
    }
    static TVariant Bool(bool value) noexcept {
        TVariant result;
        result.v_.vt = VT_BOOL;
        result.v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        return result;
    }
    // VT_EMPTY if memory runs out.
    static TVariant Text(std::u16string_view text) noexcept {
        TVariant result;
        if (BSTR b = AllocText(text)) {
            result.v_.vt = VT_BSTR;
            result.v_.bstrVal = b;
        }
        return result;
    }
    // Holds a reference of its own to unknown (which may be null).
    static TVariant Unknown(IUnknown* unknown) noexcept {
        TVariant result;
        result.v_.vt = VT_UNKNOWN;
        result.v_.punkVal = unknown;
        if (unknown != nullptr) unknown->AddRef();
        return result;
    }
    // What a script passes for an argument it leaves out.
    static TVariant Missing() noexcept {
        TVariant result;
        result.v_.vt = VT_ERROR;
        result.v_.scode = DISP_E_PARAMNOTFOUND;
        return result;
    }
    // A reference to another variant, as scripts pass their variables.
    static TVariant RefTo(VARIANT& target) noexcept {
        TVariant result;
        result.v_.vt = VT_VARIANT | VT_BYREF;
        result.v_.pvarVal = &target;
        return result;
    }

    VARIANT* Get() noexcept { return &v_; }
    const VARIANT* Get() const noexcept { return &v_; }
    VARIANT* Put() noexcept {
        VariantClear(&v_);
        return &v_;
    }
    // Hands the value over to out, which must hold nothing that needs clearing.
    void DetachTo(VARIANT* out) noexcept {
        *out = v_;
        VariantInit(&v_);
    }
    VARTYPE Type() const noexcept { return v_.vt; }
    const VARIANT& operator*() const noexcept { return v_; }
    const VARIANT* operator->() const noexcept { return &v_; }

private:
    VARIANT v_;
};

}  // namespace kestrune::automation
