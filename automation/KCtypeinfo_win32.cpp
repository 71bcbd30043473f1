// The description of IKestrune from the type library that the library file
// carries as resource TYPELIB 1: the dispatch view of the dual interface.
#include "automation/KCregistry.h"
#include "automation/KCserver.h"
#include "automation/brindel_Kestrune_TLB.h"

namespace kestrune::automation {

HRESULT KestruneTypeInfo(ITypeInfo** ppTInfo) noexcept {
    if (ppTInfo == nullptr) return E_INVALIDARG;
    *ppTInfo = nullptr;
    try {
        // The library's own file, not a registration that may name another copy.
        const std::u16string path = ThisModulePath();
        if (path.empty()) return TYPE_E_CANTLOADLIBRARY;
        const std::wstring file(path.begin(), path.end());
        TComPtr<ITypeLib> library;
        const HRESULT hr = ::LoadTypeLibEx(file.c_str(), REGKIND_NONE, library.Put());
        if (FAILED(hr)) return hr;
        return library->GetTypeInfoOfGuid(IID_IKestrune, ppTInfo);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace kestrune::automation
