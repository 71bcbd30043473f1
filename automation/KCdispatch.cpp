// IDispatch over the member table, as the platform's dispatch through a
// type library behaves: names resolve without regard to case, arguments are
// matched by position and by name, left-out optional ones take their
// defaults, and each is converted to its declared type the way
// VariantChangeType converts.
#include <array>

#include "automation/KCserver.h"
#include "automation/brindel_Kestrune_TLB.h"

namespace kestrune::automation {
namespace {

constexpr std::size_t MaxParams = 4;

std::u16string_view NameOf(const OLECHAR* name) noexcept {
    if (name == nullptr) return {};
    std::size_t length = 0;
    while (name[length] != 0) ++length;
    return TextOf(name, length);
}

// What a script passes for an argument it leaves out, also by reference.
bool IsMissing(const VARIANT& v) noexcept {
    if (v.vt == VT_ERROR) return v.scode == DISP_E_PARAMNOTFOUND;
    if (v.vt == (VT_ERROR | VT_BYREF)) return v.pscode != nullptr && *v.pscode == DISP_E_PARAMNOTFOUND;
    if (v.vt == (VT_VARIANT | VT_BYREF)) return v.pvarVal != nullptr && v.pvarVal->vt == VT_ERROR &&
                                                 v.pvarVal->scode == DISP_E_PARAMNOTFOUND;
    return false;
}

// The thread's error record, moved into the caller's exception information.
void FillException(HRESULT status, EXCEPINFO* info) noexcept {
    if (info == nullptr) return;  // the record stays on the thread for the caller
    *info = EXCEPINFO{};
    info->scode = status;
    TComPtr<IErrorInfo> record;
    if (GetErrorInfo(0, record.Put()) == S_OK && record) {
        record->GetSource(&info->bstrSource);
        record->GetDescription(&info->bstrDescription);
        record->GetHelpFile(&info->bstrHelpFile);
        record->GetHelpContext(&info->dwHelpContext);
    }
}

HRESULT Fail(HRESULT status, UINT index, UINT* puArgErr) noexcept {
    if (puArgErr != nullptr) *puArgErr = index;
    return status;
}

// An argument converted to type. Nothing (a null object) where a value is
// wanted is a type mismatch on every platform; the platform's own library
// calls it a bad variant type.
HRESULT ConvertArg(TVariant& dest, VARIANT& source, VARTYPE type) noexcept {
    const HRESULT hr = VariantChangeType(dest.Put(), &source, 0, type);
    const VARIANT& value = source.vt == (VT_VARIANT | VT_BYREF) && source.pvarVal != nullptr ? *source.pvarVal : source;
    const VARTYPE object = value.vt & ~VT_BYREF;
    if (hr == DISP_E_BADVARTYPE && (object == VT_DISPATCH || object == VT_UNKNOWN)) return DISP_E_TYPEMISMATCH;
    return hr;
}

HRESULT Put(IKestrune& target, const TKC_member& member, WORD wFlags, const DISPPARAMS& params, UINT* puArgErr) {
    if ((wFlags & DISPATCH_PROPERTYPUT) == 0 || member.put == nullptr) return DISP_E_MEMBERNOTFOUND;
    if (params.cArgs != 1) return DISP_E_BADPARAMCOUNT;
    if (params.cNamedArgs != 1 || params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) return DISP_E_PARAMNOTFOUND;
    TVariant value;
    const HRESULT hr = ConvertArg(value, params.rgvarg[0], VT_I4);
    if (FAILED(hr)) return Fail(hr, 0, puArgErr);
    return member.put(target, value->lVal);
}

HRESULT Call(IKestrune& target, const TKC_member& member, const DISPPARAMS& params, TVariant& result, UINT* puArgErr) {
    const std::size_t count = member.params.size();
    if (count > MaxParams) return E_UNEXPECTED;  // a member the table outgrew
    const UINT positional = params.cArgs - params.cNamedArgs;
    if (positional > count) return DISP_E_BADPARAMCOUNT;

    // Which entry of rgvarg, if any, each parameter gets: positional
    // arguments stand last to first, named ones first.
    std::array<int, MaxParams> source;
    source.fill(-1);
    for (UINT i = 0; i < positional; ++i) source[i] = static_cast<int>(params.cArgs - 1 - i);
    for (UINT j = 0; j < params.cNamedArgs; ++j) {
        const DISPID name = params.rgdispidNamedArgs[j];
        if (name < 0 || static_cast<std::size_t>(name) >= count) return Fail(DISP_E_PARAMNOTFOUND, j, puArgErr);
        if (source[static_cast<std::size_t>(name)] >= 0) return Fail(DISP_E_BADPARAMCOUNT, j, puArgErr);
        source[static_cast<std::size_t>(name)] = static_cast<int>(j);
    }

    std::array<TVariant, MaxParams> args;
    for (std::size_t k = 0; k < count; ++k) {
        const TKC_param& param = member.params[k];
        const int at = source[k];
        if (at < 0 || IsMissing(params.rgvarg[at])) {
            if (param.optional) {
                args[k] = DefaultOf(param);
                if (args[k].Type() == VT_EMPTY) return E_OUTOFMEMORY;
                continue;
            }
            if (at < 0) return DISP_E_BADPARAMCOUNT;
            return Fail(DISP_E_PARAMNOTOPTIONAL, static_cast<UINT>(at), puArgErr);
        }
        const HRESULT hr = ConvertArg(args[k], params.rgvarg[at], param.type);
        if (FAILED(hr)) return Fail(hr, static_cast<UINT>(at), puArgErr);
    }
    return member.call(target, args.data(), result);
}

}  // namespace

HRESULT DispatchIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, DISPID* rgDispId) noexcept {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (rgszNames == nullptr || rgDispId == nullptr || cNames == 0) return E_INVALIDARG;
    for (UINT i = 0; i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
    const TKC_member* member = FindMember(NameOf(rgszNames[0]));
    if (member == nullptr) return DISP_E_UNKNOWNNAME;
    rgDispId[0] = member->dispid;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < cNames; ++i) {
        rgDispId[i] = FindParam(*member, NameOf(rgszNames[i]));
        if (rgDispId[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT DispatchInvoke(IKestrune& target, DISPID dispIdMember, REFIID riid, WORD wFlags, DISPPARAMS* pDispParams,
                       VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (pDispParams == nullptr || (pDispParams->cArgs > 0 && pDispParams->rgvarg == nullptr) ||
        pDispParams->cNamedArgs > pDispParams->cArgs ||
        (pDispParams->cNamedArgs > 0 && pDispParams->rgdispidNamedArgs == nullptr))
        return E_INVALIDARG;
    const TKC_member* member = FindMember(dispIdMember);
    if (member == nullptr) return DISP_E_MEMBERNOTFOUND;
    if (pVarResult != nullptr) VariantInit(pVarResult);

    // A record left over from an earlier call must not pass for this one's.
    SetErrorInfo(0, nullptr);
    HRESULT hr = DISP_E_MEMBERNOTFOUND;
    TVariant result;
    const bool isMethod = member->kind == TKC_memberkind::Method;
    if ((wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0) {
        if (isMethod) return DISP_E_MEMBERNOTFOUND;
        hr = Put(target, *member, wFlags, *pDispParams, puArgErr);
    } else if ((isMethod && (wFlags & DISPATCH_METHOD) != 0) || (!isMethod && (wFlags & DISPATCH_PROPERTYGET) != 0)) {
        hr = Call(target, *member, *pDispParams, result, puArgErr);
    } else {
        return DISP_E_MEMBERNOTFOUND;
    }
    // Failures of the member itself, as against failures to dispatch to it,
    // carry an error record.
    TComPtr<IErrorInfo> pending;
    if (FAILED(hr) && GetErrorInfo(0, pending.Put()) == S_OK) {
        SetErrorInfo(0, pending.Get());
        FillException(hr, pExcepInfo);
        return DISP_E_EXCEPTION;
    }
    if (SUCCEEDED(hr) && pVarResult != nullptr) result.DetachTo(pVarResult);
    return hr;
}

}  // namespace kestrune::automation
