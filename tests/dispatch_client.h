// A script's view of the object: created through the class factory and
// driven through IDispatch by name, with arguments as a script engine
// passes them. Uses nothing but the platform's interfaces and the library's
// entry points, so that the suites built on it run against any build of
// the library.
#pragma once

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "automation/KCole.h"
#include "automation/brindel_Kestrune_TLB.h"

namespace kestrune::test {

using automation::TBstr;
using automation::TComPtr;
using automation::TVariant;

// The outcome of one Invoke.
struct TCall {
    HRESULT hr = E_FAIL;
    TVariant result;
    SCODE scode = 0;  // of a DISP_E_EXCEPTION
    std::u16string source, description;
    UINT argErr = ~0u;

    LONG Long() const { return result.Type() == VT_I4 ? result->lVal : -999999; }
    std::u16string Text() const { return std::u16string(automation::TextOf(result.Type() == VT_BSTR ? result->bstrVal : nullptr)); }
};

struct TNamed {
    std::u16string name;
    TVariant value;
};

inline TComPtr<IClassFactory> Factory() {
    TComPtr<IClassFactory> factory;
    DllGetClassObject(automation::CLSID_Kestrune, IID_IClassFactory, factory.PutVoid());
    return factory;
}

inline TComPtr<IDispatch> CreateObject() {
    TComPtr<IDispatch> object;
    if (auto factory = Factory()) factory->CreateInstance(nullptr, IID_IDispatch, object.PutVoid());
    return object;
}

class TScriptObject {
public:
    TScriptObject() : object_(CreateObject()) {}
    explicit TScriptObject(TComPtr<IDispatch> object) : object_(std::move(object)) {}

    IDispatch* operator->() const noexcept { return object_.Get(); }
    const TComPtr<IDispatch>& Dispatch() const noexcept { return object_; }

    // DISPIDs of a member and of parameters of it; DISPID_UNKNOWN for names it does not know.
    std::vector<DISPID> IdsOf(const std::vector<std::u16string>& names, HRESULT* hr = nullptr) const {
        std::vector<std::basic_string<OLECHAR>> texts;
        for (const auto& name : names) texts.push_back(automation::OleText(name));
        std::vector<LPOLESTR> pointers;
        for (auto& text : texts) pointers.push_back(text.data());
        std::vector<DISPID> ids(names.size(), 12345);
        const HRESULT result =
            object_->GetIDsOfNames(IID_NULL, pointers.data(), static_cast<UINT>(pointers.size()), LOCALE_USER_DEFAULT, ids.data());
        if (hr != nullptr) *hr = result;
        return ids;
    }
    DISPID IdOf(std::u16string_view name) const { return IdsOf({std::u16string(name)})[0]; }

    // Arguments in script order; named ones by DISPID after them.
    TCall Invoke(DISPID id, WORD flags, std::vector<TVariant> args = {}, std::vector<std::pair<DISPID, TVariant>> named = {}) const {
        std::vector<VARIANT> rgvarg;
        std::vector<DISPID> names;
        for (auto& [dispid, value] : named) {
            rgvarg.push_back(*value);
            names.push_back(dispid);
        }
        for (auto it = args.rbegin(); it != args.rend(); ++it) rgvarg.push_back(**it);
        DISPPARAMS params{rgvarg.empty() ? nullptr : rgvarg.data(), names.empty() ? nullptr : names.data(),
                          static_cast<UINT>(rgvarg.size()), static_cast<UINT>(names.size())};
        TCall call;
        EXCEPINFO info{};
        call.hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, call.result.Put(), &info, &call.argErr);
        call.scode = info.scode;
        call.source = automation::TextOf(info.bstrSource);
        call.description = automation::TextOf(info.bstrDescription);
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        return call;
    }

    // As a script calls: by name, methods and property reads alike.
    TCall Call(std::u16string_view member, std::vector<TVariant> args = {}) const {
        return Invoke(IdOf(member), DISPATCH_METHOD | DISPATCH_PROPERTYGET, std::move(args));
    }
    TCall CallNamed(std::u16string_view member, std::vector<TVariant> args, std::vector<TNamed> named) const {
        std::vector<std::u16string> names{std::u16string(member)};
        for (const auto& n : named) names.push_back(n.name);
        const auto ids = IdsOf(names);
        std::vector<std::pair<DISPID, TVariant>> byId;
        for (std::size_t i = 0; i < named.size(); ++i) byId.emplace_back(ids[i + 1], std::move(named[i].value));
        return Invoke(ids[0], DISPATCH_METHOD, std::move(args), std::move(byId));
    }
    TCall Get(std::u16string_view property) const { return Invoke(IdOf(property), DISPATCH_PROPERTYGET); }
    TCall Put(std::u16string_view property, TVariant value) const {
        std::vector<std::pair<DISPID, TVariant>> named;
        named.emplace_back(DISPID_PROPERTYPUT, std::move(value));
        return Invoke(IdOf(property), DISPATCH_PROPERTYPUT, {}, std::move(named));
    }

private:
    TComPtr<IDispatch> object_;
};

// A new directory of its own under the system's temporary directory; test
// processes may run side by side.
inline std::filesystem::path NewTempDir(const std::string& prefix) {
    std::random_device random;
    for (;;) {
        char suffix[20];
        std::snprintf(suffix, sizeof suffix, "%08x%08x", random(), random());
        const auto path = std::filesystem::temp_directory_path() / (prefix + suffix);
        if (std::filesystem::create_directory(path)) return path;
    }
}

inline TVariant L(LONG value) { return TVariant::Long(value); }
inline TVariant S(std::u16string_view text) { return TVariant::Text(text); }

// A host context: an object that offers the scripting-context interface or
// not, and that counts its references so that tests can see them kept and
// dropped.
class THostContext final : public IUnknown {
public:
    explicit THostContext(bool offersScripting) : offers_(offersScripting) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || (offers_ && riid == automation::IID_IScriptingContext)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // lives on the test's stack
    ULONG References() const noexcept { return refs_; }

private:
    bool offers_;
    ULONG refs_ = 1;
};

}  // namespace kestrune::test
