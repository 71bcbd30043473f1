// The Kestrune automation object: IKestrune over TKestrune. Every member
// turns a failure that the operation does not absorb into a failed status
// with an error record; nothing escapes as an exception.
#include <atomic>
#include <memory>
#include <new>

#include "automation/KCserver.h"
#include "automation/brindel_Kestrune_TLB.h"
#include "object/KCcodepage.h"
#include "object/UKestrune.h"

namespace kestrune::automation {
namespace {

// The host's context, asked for the scripting context on the object's behalf.
class TPageContext final : public IKC_pagecontext {
public:
    explicit TPageContext(IUnknown* context) noexcept : context_(context) {}
    std::shared_ptr<void> QueryScriptingContext() override {
        void* scripting = nullptr;
        if (FAILED(context_->QueryInterface(IID_IScriptingContext, &scripting)) || scripting == nullptr) return nullptr;
        // Should the control block not be allocated, the deleter still runs.
        return {scripting, [](void* p) { static_cast<IUnknown*>(p)->Release(); }};
    }

private:
    IUnknown* context_;
};

HRESULT Failure(HRESULT status, std::string_view message) noexcept {
    try {
        return ReportFailure(status, Utf8ToUtf16(message));
    } catch (...) {
        return ReportFailure(status, u"");
    }
}

// Runs a member's work; a failure becomes its own negative status, or
// E_UNEXPECTED, with an error record.
template <class F>
HRESULT Guarded(F&& work) noexcept {
    try {
        work();
        return S_OK;
    } catch (const EKestrune& e) {
        return Failure(e.Status < 0 ? e.Status : E_UNEXPECTED, e.what());
    } catch (const std::bad_alloc&) {
        return Failure(E_UNEXPECTED, "Out of memory");
    } catch (const std::exception& e) {
        return Failure(E_UNEXPECTED, e.what());
    } catch (...) {
        return Failure(E_UNEXPECTED, "Unexpected failure");
    }
}

BSTR NewText(std::u16string_view text) {
    BSTR result = AllocText(text);
    if (result == nullptr) throw std::bad_alloc();
    return result;
}

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

class TAutoKestrune final : public IKestrune, public ISupportErrorInfo {
public:
    TAutoKestrune() noexcept { ObjectCreated(); }
    TAutoKestrune(const TAutoKestrune&) = delete;
    TAutoKestrune& operator=(const TAutoKestrune&) = delete;

    // IUnknown: one identity, whichever interface is asked.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IKestrune)
            *ppv = static_cast<IKestrune*>(this);
        else if (riid == IID_ISupportErrorInfo)
            *ppv = static_cast<ISupportErrorInfo*>(this);
        else
            return *ppv = nullptr, E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return riid == IID_IKestrune || riid == IID_IDispatch ? S_OK : S_FALSE;
    }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
        if (pctinfo == nullptr) return E_INVALIDARG;
        *pctinfo = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) override {
        if (ppTInfo == nullptr) return E_INVALIDARG;
        *ppTInfo = nullptr;
        if (iTInfo != 0) return DISP_E_BADINDEX;
        return KestruneTypeInfo(ppTInfo);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID,
                                            DISPID* rgDispId) override {
        return DispatchIDsOfNames(riid, rgszNames, cNames, rgDispId);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                                     VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
        return DispatchInvoke(*this, dispIdMember, riid, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
    }

    // IKestrune
    HRESULT STDMETHODCALLTYPE OnStartPage(IUnknown* AScriptingContext) override {
        return Guarded([&] {
            if (AScriptingContext == nullptr) return FObject.OnStartPage(nullptr);
            TPageContext context(AScriptingContext);
            FObject.OnStartPage(&context);
        });
    }
    HRESULT STDMETHODCALLTYPE OnEndPage() override {
        return Guarded([&] { FObject.OnEndPage(); });
    }
    HRESULT STDMETHODCALLTYPE HashString(BSTR InputStr, LONG Algorithm, BSTR* Result) override {
        return TextResult(Result, [&] { return FObject.HashString(TextOf(InputStr), Algorithm); });
    }
    HRESULT STDMETHODCALLTYPE HashFile(BSTR Filename, LONG Algorithm, BSTR* Result) override {
        return TextResult(Result, [&] { return FObject.HashFile(TextOf(Filename), Algorithm); });
    }
    HRESULT STDMETHODCALLTYPE EncryptString(BSTR InputStr, BSTR Password, LONG Algorithm, BSTR* Result) override {
        return TextResult(Result, [&] { return FObject.EncryptString(TextOf(InputStr), TextOf(Password), Algorithm); });
    }
    HRESULT STDMETHODCALLTYPE EncryptFile(BSTR SourceFilename, BSTR DestFilename, BSTR Password, LONG Algorithm,
                                          LONG* Result) override {
        return LongResult(Result, [&] {
            return FObject.EncryptFile(TextOf(SourceFilename), TextOf(DestFilename), TextOf(Password), Algorithm);
        });
    }
    HRESULT STDMETHODCALLTYPE DecryptString(BSTR InputStr, BSTR Password, LONG Algorithm, BSTR* Result) override {
        return TextResult(Result, [&] { return FObject.DecryptString(TextOf(InputStr), TextOf(Password), Algorithm); });
    }
    HRESULT STDMETHODCALLTYPE DecryptFile(BSTR SourceFilename, BSTR DestFilename, BSTR Password, LONG Algorithm,
                                          LONG* Result) override {
        return LongResult(Result, [&] {
            return FObject.DecryptFile(TextOf(SourceFilename), TextOf(DestFilename), TextOf(Password), Algorithm);
        });
    }
    HRESULT STDMETHODCALLTYPE get_HashAlgorithm(LONG* Value) override {
        return LongResult(Value, [&] { return FObject.GetHashAlgorithm(); });
    }
    HRESULT STDMETHODCALLTYPE put_HashAlgorithm(LONG Value) override {
        FObject.SetHashAlgorithm(Value);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_CipherAlgorithm(LONG* Value) override {
        return LongResult(Value, [&] { return FObject.GetCipherAlgorithm(); });
    }
    HRESULT STDMETHODCALLTYPE put_CipherAlgorithm(LONG Value) override {
        FObject.SetCipherAlgorithm(Value);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GenPassword(LONG MaxLength, BSTR Style, BSTR* Result) override {
        return TextResult(Result, [&] { return FObject.GenPassword(MaxLength, TextOf(Style)); });
    }
    HRESULT STDMETHODCALLTYPE HashSize(LONG Algorithm, LONG* Result) override {
        return LongResult(Result, [&] { return FObject.HashSize(Algorithm); });
    }
    HRESULT STDMETHODCALLTYPE get_CipherMode(LONG* Value) override {
        return LongResult(Value, [&] { return FObject.GetCipherMode(); });
    }
    HRESULT STDMETHODCALLTYPE put_CipherMode(LONG Value) override {
        FObject.SetCipherMode(Value);  // values outside the five modes are ignored
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_MaxKeySize(LONG* Value) override {
        return LongResult(Value, [&] { return FObject.MaxKeySize(); });
    }

private:
    ~TAutoKestrune() { ObjectDestroyed(); }

    // The result is emptied on entry, so that a failed call leaves no stale string.
    template <class F>
    static HRESULT TextResult(BSTR* result, F work) noexcept {
        if (result == nullptr) return E_POINTER;
        *result = nullptr;
        return Guarded([&] { *result = NewText(work()); });
    }
    template <class F>
    static HRESULT LongResult(LONG* result, F work) noexcept {
        if (result == nullptr) return E_POINTER;
        *result = 0;
        return Guarded([&] { *result = work(); });
    }

    std::atomic<ULONG> refs_{1};
    TKestrune FObject;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

}  // namespace

HRESULT CreateKestrune(REFIID riid, void** ppv) noexcept {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    auto* object = new (std::nothrow) TAutoKestrune();
    if (object == nullptr) return E_OUTOFMEMORY;
    // The creation reference goes; a refused interface takes the object with it.
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

}  // namespace kestrune::automation
