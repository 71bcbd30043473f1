// The in-process server: the class factory, the library's counts, error
// records, and the entry points DllGetClassObject and DllCanUnloadNow.
#include <atomic>

#include "automation/KCserver.h"
#include "automation/brindel_Kestrune_TLB.h"

namespace kestrune::automation {
namespace {

// Everything DllCanUnloadNow consults. Signed, so that a count that went
// wrong shows as wrong instead of wrapping to a large positive value.
std::atomic<long> LiveObjects{0};
std::atomic<long> ServerLocks{0};
std::atomic<long> FactoryReferences{0};

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// One factory for the library's lifetime; its references are counted so
// that the library stays while a client holds it.
class TKestruneFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return *ppv = nullptr, E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(FactoryReferences.fetch_add(1) + 1); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(FactoryReferences.fetch_sub(1) - 1); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) return E_POINTER;
        *ppvObject = nullptr;
        if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
        return CreateKestrune(riid, ppvObject);
    }

    // An unlock without a lock is refused rather than letting the count go
    // below zero, where it would keep the library loaded for ever.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override {
        if (fLock) {
            ServerLocks.fetch_add(1);
            return S_OK;
        }
        long locks = ServerLocks.load();
        do {
            if (locks <= 0) return E_UNEXPECTED;
        } while (!ServerLocks.compare_exchange_weak(locks, locks - 1));
        return S_OK;
    }
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

TKestruneFactory Factory;

}  // namespace

void ObjectCreated() noexcept { LiveObjects.fetch_add(1); }
void ObjectDestroyed() noexcept { LiveObjects.fetch_sub(1); }

HRESULT ReportFailure(HRESULT status, std::u16string_view description) noexcept {
    try {
        TComPtr<ICreateErrorInfo> record;
        if (SUCCEEDED(CreateErrorInfo(record.Put()))) {
            auto source = OleText(ProgId);
            auto text = OleText(description);
            record->SetGUID(IID_IKestrune);
            record->SetSource(source.data());
            record->SetDescription(text.data());
            TComPtr<IErrorInfo> info;
            if (SUCCEEDED(record.QueryInto(IID_IErrorInfo, info))) SetErrorInfo(0, info.Get());
        }
    } catch (...) {
        // Out of memory for the record: the status still tells the failure.
    }
    return status;
}

}  // namespace kestrune::automation

using namespace kestrune::automation;

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (rclsid != CLSID_Kestrune) return CLASS_E_CLASSNOTAVAILABLE;
    return Factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() {
    return LiveObjects.load() == 0 && ServerLocks.load() == 0 && FactoryReferences.load() == 0 ? S_OK : S_FALSE;
}
