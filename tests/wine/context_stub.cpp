// A stand-in for a web server's scripting context, for the script tests
// under Wine: an automation object (KestruneTest.ScriptingContext) that a
// script creates and hands to OnStartPage. It answers for IScriptingContext
// with a part of its own whose references it counts, so that a script can
// see the page object keep one reference for the page and give it back at
// OnEndPage: its one property, read-only, Outstanding, is the number of
// references to that part still held.
#include <atomic>
#include <new>
#include <string>

#include "automation/KCole.h"

namespace {

// Written out here rather than taken from the binding, so that a wrong
// identifier there cannot agree with itself.
constexpr IID IID_IScriptingContext = {0xD97A6DA0, 0xA864, 0x11CF, {0x83, 0xBE, 0x00, 0xA0, 0xC9, 0x0C, 0x2B, 0xD8}};
// {6B0C5E3A-94D1-4F27-B8A6-2E7D1C5F9A40}: this test class only.
constexpr CLSID CLSID_TestContext = {0x6B0C5E3A, 0x94D1, 0x4F27, {0xB8, 0xA6, 0x2E, 0x7D, 0x1C, 0x5F, 0x9A, 0x40}};
constexpr wchar_t ClassKey[] = L"CLSID\\{6B0C5E3A-94D1-4F27-B8A6-2E7D1C5F9A40}";
constexpr wchar_t ClassId[] = L"{6B0C5E3A-94D1-4F27-B8A6-2E7D1C5F9A40}";
constexpr wchar_t ProgId[] = L"KestruneTest.ScriptingContext";
constexpr wchar_t ClassName[] = L"Kestrune test scripting context";

constexpr DISPID DispidOutstanding = 1;

std::atomic<long> LiveObjects{0};
std::atomic<long> ServerLocks{0};

void Anchor() {}

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

class TContext;

// What the page object receives for IScriptingContext: the dispatch part
// of that interface and its five getters, which answer nothing. Its
// references are counted apart and keep the whole object alive.
class TContextPart final : public IDispatch {
public:
    explicit TContextPart(TContext& owner) noexcept : owner_(owner) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argErr) override;
    // Request, Response, Server, Session, Application.
    virtual HRESULT STDMETHODCALLTYPE get_Request(IUnknown** out) { return Nothing(out); }
    virtual HRESULT STDMETHODCALLTYPE get_Response(IUnknown** out) { return Nothing(out); }
    virtual HRESULT STDMETHODCALLTYPE get_Server(IUnknown** out) { return Nothing(out); }
    virtual HRESULT STDMETHODCALLTYPE get_Session(IUnknown** out) { return Nothing(out); }
    virtual HRESULT STDMETHODCALLTYPE get_Application(IUnknown** out) { return Nothing(out); }

    long Outstanding() const noexcept { return outstanding_.load(); }

private:
    static HRESULT Nothing(IUnknown** out) noexcept {
        if (out != nullptr) *out = nullptr;
        return E_NOTIMPL;
    }
    TContext& owner_;
    std::atomic<long> outstanding_{0};
};

class TContext final : public IDispatch {
public:
    TContext() noexcept { LiveObjects.fetch_add(1); }
    ~TContext() { LiveObjects.fetch_sub(1); }
    TContext(const TContext&) = delete;
    TContext& operator=(const TContext&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        if (riid == IID_IScriptingContext) {
            *ppv = &part_;
            part_.AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(refs_.fetch_add(1) + 1); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = refs_.fetch_sub(1) - 1;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
        if (pctinfo == nullptr) return E_INVALIDARG;
        *pctinfo = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override {
        if (ppTInfo != nullptr) *ppTInfo = nullptr;
        return DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        // The property takes no named arguments.
        if (count > 1 || lstrcmpiW(names[0], L"Outstanding") != 0) return DISP_E_UNKNOWNNAME;
        ids[0] = DispidOutstanding;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override {
        if (id != DispidOutstanding) return DISP_E_MEMBERNOTFOUND;
        if ((flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) == 0) return DISP_E_MEMBERNOTFOUND;
        if (params != nullptr && params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
        if (result != nullptr) {
            VariantInit(result);
            result->vt = VT_I4;
            result->lVal = part_.Outstanding();
        }
        return S_OK;
    }

private:
    std::atomic<long> refs_{1};
    TContextPart part_{*this};
};

HRESULT TContextPart::QueryInterface(REFIID riid, void** ppv) { return owner_.QueryInterface(riid, ppv); }
ULONG TContextPart::AddRef() {
    owner_.AddRef();
    return static_cast<ULONG>(outstanding_.fetch_add(1) + 1);
}
ULONG TContextPart::Release() {
    const long left = outstanding_.fetch_sub(1) - 1;
    owner_.Release();
    return static_cast<ULONG>(left);
}
HRESULT TContextPart::GetTypeInfoCount(UINT* pctinfo) { return owner_.GetTypeInfoCount(pctinfo); }
HRESULT TContextPart::GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) {
    return owner_.GetTypeInfo(iTInfo, lcid, ppTInfo);
}
HRESULT TContextPart::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
    return owner_.GetIDsOfNames(riid, names, count, lcid, ids);
}
HRESULT TContextPart::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                             EXCEPINFO* exception, UINT* argErr) {
    return owner_.Invoke(id, riid, lcid, flags, params, result, exception, argErr);
}

class TFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return *ppv = nullptr, E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    // One static factory: its references need no count.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        kestrune::automation::TComPtr<IDispatch> context =
            kestrune::automation::TComPtr<IDispatch>::Attach(new (std::nothrow) TContext);
        if (!context) return E_OUTOFMEMORY;
        return context->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        ServerLocks.fetch_add(lock ? 1 : -1);
        return S_OK;
    }
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

TFactory Factory;

bool SetText(const std::wstring& key, const wchar_t* name, const std::wstring& text) {
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS)
        return false;
    const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    const bool ok = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes) ==
                    ERROR_SUCCESS;
    RegCloseKey(handle);
    return ok;
}

// The key with everything under it; a key that is not there is as good as removed.
bool DeleteTree(const wchar_t* key) {
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

std::wstring ModulePath() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&Anchor), &module))
        return {};
    std::wstring path(MAX_PATH, L'\0');
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return {};
    path.resize(length);
    return path;
}

}  // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (rclsid != CLSID_TestContext) return CLASS_E_CLASSNOTAVAILABLE;
    return Factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() { return LiveObjects.load() == 0 && ServerLocks.load() <= 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
    try {
        const std::wstring path = ModulePath();
        const std::wstring classKey = ClassKey;
        const std::wstring progId = ProgId;
        const bool ok = !path.empty() && SetText(classKey, nullptr, ClassName) &&
                        SetText(classKey + L"\\InprocServer32", nullptr, path) &&
                        SetText(classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
                        SetText(classKey + L"\\ProgID", nullptr, progId) && SetText(progId, nullptr, ClassName) &&
                        SetText(progId + L"\\Clsid", nullptr, ClassId);
        return ok ? S_OK : SELFREG_E_CLASS;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDAPI DllUnregisterServer() {
    const bool classGone = DeleteTree(ClassKey);
    const bool progIdGone = DeleteTree(ProgId);
    return classGone && progIdGone ? S_OK : SELFREG_E_CLASS;
}
