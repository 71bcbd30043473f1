// The description of IKestrune as type information, made from the member
// table, where no platform type library exists to load it from. It answers
// as the dispatch view of a dual interface does: one function per method,
// property read and property write, results as return types.
#include <array>
#include <atomic>
#include <new>
#include <vector>

#include "automation/KCserver.h"
#include "automation/brindel_Kestrune_TLB.h"

namespace kestrune::automation {
namespace {

constexpr std::size_t MaxParams = 4;

struct TFunction {
    const TKC_member* member;
    INVOKEKIND invkind;
};

const std::vector<TFunction>& Functions() {
    static const std::vector<TFunction> functions = [] {
        std::vector<TFunction> list;
        for (const auto& member : KestruneMembers()) {
            if (member.kind == TKC_memberkind::Method) {
                list.push_back({&member, INVOKE_FUNC});
                continue;
            }
            list.push_back({&member, INVOKE_PROPERTYGET});
            if (member.put != nullptr) list.push_back({&member, INVOKE_PROPERTYPUT});
        }
        return list;
    }();
    return functions;
}

// A FUNCDESC with the storage it points into, freed in one piece.
struct TFuncBlock {
    FUNCDESC desc;
    std::array<ELEMDESC, MaxParams> params;
    std::array<PARAMDESCEX, MaxParams> defaults;
};

HRESULT CopyName(std::u16string_view text, BSTR* out) {
    if (out == nullptr) return S_OK;
    *out = AllocText(text);
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

class TKestruneTypeInfo final : public ITypeInfo {
public:
    TKestruneTypeInfo() noexcept { ObjectCreated(); }
    TKestruneTypeInfo(const TKestruneTypeInfo&) = delete;
    TKestruneTypeInfo& operator=(const TKestruneTypeInfo&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid != IID_IUnknown && riid != IID_ITypeInfo) return *ppv = nullptr, E_NOINTERFACE;
        *ppv = static_cast<ITypeInfo*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.fetch_add(1) + 1; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = refs_.fetch_sub(1) - 1;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** ppTypeAttr) override {
        if (ppTypeAttr == nullptr) return E_INVALIDARG;
        auto* attr = new (std::nothrow) TYPEATTR{};
        if ((*ppTypeAttr = attr) == nullptr) return E_OUTOFMEMORY;
        attr->guid = IID_IKestrune;
        attr->lcid = LibraryLocale;
        attr->memidConstructor = MEMBERID_NIL;
        attr->memidDestructor = MEMBERID_NIL;
        attr->cbSizeInstance = sizeof(void*);
        attr->typekind = TKIND_DISPATCH;
        attr->cFuncs = static_cast<WORD>(Functions().size());
        attr->cImplTypes = 1;
        attr->cbSizeVft = static_cast<WORD>(7 * sizeof(void*));  // IUnknown's and IDispatch's entries
        attr->cbAlignment = alignof(void*);
        attr->wTypeFlags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
        attr->wMajorVerNum = LibraryMajorVersion;
        attr->wMinorVerNum = LibraryMinorVersion;
        return S_OK;
    }
    void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* pTypeAttr) override { delete pTypeAttr; }

    HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) override {
        if (ppFuncDesc == nullptr) return E_INVALIDARG;
        *ppFuncDesc = nullptr;
        if (index >= Functions().size()) return TYPE_E_ELEMENTNOTFOUND;
        const auto& [member, invkind] = Functions()[index];
        if (member->params.size() > MaxParams) return E_UNEXPECTED;
        auto* block = new (std::nothrow) TFuncBlock{};
        if (block == nullptr) return E_OUTOFMEMORY;
        FUNCDESC& desc = block->desc;
        desc.memid = member->dispid;
        desc.funckind = FUNC_DISPATCH;
        desc.invkind = invkind;
        desc.callconv = CC_STDCALL;
        desc.lprgelemdescParam = block->params.data();
        if (invkind == INVOKE_PROPERTYPUT) {
            desc.cParams = 1;
            block->params[0].tdesc.vt = VT_I4;
            block->params[0].paramdesc.wParamFlags = PARAMFLAG_FIN;
            desc.elemdescFunc.tdesc.vt = VT_VOID;
        } else {
            desc.cParams = static_cast<SHORT>(member->params.size());
            for (std::size_t k = 0; k < member->params.size(); ++k) {
                const TKC_param& param = member->params[k];
                ELEMDESC& elem = block->params[k];
                elem.tdesc.vt = param.type;
                elem.paramdesc.wParamFlags = PARAMFLAG_FIN;
                if (!param.optional) continue;
                elem.paramdesc.wParamFlags |= PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
                PARAMDESCEX& extra = block->defaults[k];
                extra.cBytes = sizeof(PARAMDESCEX);
                DefaultOf(param).DetachTo(&extra.varDefaultValue);
                elem.paramdesc.pparamdescex = &extra;
            }
            desc.elemdescFunc.tdesc.vt = member->result == VT_EMPTY ? VARTYPE{VT_VOID} : member->result;
        }
        *ppFuncDesc = &block->desc;
        return S_OK;
    }
    void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* pFuncDesc) override {
        if (pFuncDesc == nullptr) return;
        auto* block = reinterpret_cast<TFuncBlock*>(pFuncDesc);  // desc is the block's first member
        for (auto& extra : block->defaults) VariantClear(&extra.varDefaultValue);
        delete block;
    }

    HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) override {
        if (rgBstrNames == nullptr || pcNames == nullptr) return E_INVALIDARG;
        *pcNames = 0;
        const TKC_member* member = FindMember(memid);
        if (member == nullptr) return TYPE_E_ELEMENTNOTFOUND;
        std::vector<std::u16string_view> names{member->name};
        for (const auto& param : member->params) names.push_back(param.name);
        for (UINT i = 0; i < cMaxNames && i < names.size(); ++i) {
            if (FAILED(CopyName(names[i], &rgBstrNames[i]))) {
                while (i > 0) SysFreeString(rgBstrNames[--i]);
                return E_OUTOFMEMORY;
            }
            *pcNames = i + 1;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) override {
        return DispatchIDsOfNames(IID_NULL, rgszNames, cNames, pMemId);
    }

    HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                               DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override {
        std::u16string_view name = InterfaceName, help = InterfaceHelp;
        if (memid != MEMBERID_NIL) {
            const TKC_member* member = FindMember(memid);
            if (member == nullptr) return TYPE_E_ELEMENTNOTFOUND;
            name = member->name;
            help = {};
        }
        if (pdwHelpContext != nullptr) *pdwHelpContext = 0;
        if (pBstrHelpFile != nullptr) *pBstrHelpFile = nullptr;
        if (pBstrDocString != nullptr) *pBstrDocString = nullptr;
        if (FAILED(CopyName(name, pBstrName))) return E_OUTOFMEMORY;
        if (!help.empty() && FAILED(CopyName(help, pBstrDocString))) {
            if (pBstrName != nullptr) SysFreeString(std::exchange(*pBstrName, nullptr));
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

private:
    ~TKestruneTypeInfo() { ObjectDestroyed(); }
    std::atomic<ULONG> refs_{1};
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

}  // namespace

HRESULT KestruneTypeInfo(ITypeInfo** ppTInfo) noexcept {
    if (ppTInfo == nullptr) return E_INVALIDARG;
    *ppTInfo = new (std::nothrow) TKestruneTypeInfo();
    return *ppTInfo == nullptr ? E_OUTOFMEMORY : S_OK;
}

}  // namespace kestrune::automation
