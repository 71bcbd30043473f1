#include "host.h"

#include <atomic>
#include <cstdio>

#include "automation/brindel_Kestrune_TLB.h"
#include "object/KCcodepage.h"

namespace kestrune::cli {
namespace {

using automation::TBstr;

std::string Text(std::u16string_view text) { return Utf16ToUtf8(text); }

std::string Arguments(std::size_t n) { return std::to_string(n) + (n == 1 ? " argument" : " arguments"); }

std::string CountText(const TMemberShape& member) {
    const std::size_t most = member.params.size(), least = member.Required();
    return least == most ? Arguments(most) : std::to_string(least) + " to " + Arguments(most);
}

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

class THostContext final : public IUnknown {
public:
    explicit THostContext(bool offers) noexcept : offers_(offers) {}
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
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

private:
    ~THostContext() = default;
    bool offers_;
    std::atomic<ULONG> refs_{1};
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

}  // namespace

std::size_t TMemberShape::Required() const noexcept {
    std::size_t required = 0;
    for (const auto& param : params)
        if (!param.optional) ++required;
    return required;
}

std::string HResultText(HRESULT hr) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

TComPtr<IUnknown> NewHostContext(bool offersScriptingContext) {
    return TComPtr<IUnknown>::Attach(new THostContext(offersScriptingContext));
}

TScriptHost::TScriptHost(std::string source) : source_(std::move(source)) {
    TComPtr<IClassFactory> factory;
    HRESULT hr = DllGetClassObject(automation::CLSID_Kestrune, IID_IClassFactory, factory.PutVoid());
    if (SUCCEEDED(hr)) hr = factory->CreateInstance(nullptr, IID_IDispatch, object_.PutVoid());
    if (SUCCEEDED(hr)) hr = object_->GetTypeInfo(0, LOCALE_USER_DEFAULT, typeInfo_.Put());
    if (FAILED(hr)) creationFailure_ = Refusal(hr, "the Kestrune object could not be created");
}

std::variant<TMemberShape, TFailure> TScriptHost::Shape(std::u16string_view member) {
    if (creationFailure_) return *creationFailure_;
    auto name = automation::OleText(member);
    LPOLESTR names[] = {name.data()};
    TMemberShape shape;
    if (FAILED(object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &shape.dispid)))
        return Refusal(DISP_E_UNKNOWNNAME, "Unknown name: the object has no member '" + Text(member) + "'");
    shape.name = member;

    TYPEATTR* attr = nullptr;
    if (FAILED(typeInfo_->GetTypeAttr(&attr))) return shape;
    const WORD functions = attr->cFuncs;
    typeInfo_->ReleaseTypeAttr(attr);
    for (WORD i = 0; i < functions; ++i) {
        FUNCDESC* desc = nullptr;
        if (FAILED(typeInfo_->GetFuncDesc(i, &desc))) continue;
        if (desc->memid == shape.dispid) {
            if (desc->invkind == INVOKE_PROPERTYPUT) shape.writable = true;
            if (desc->invkind == INVOKE_PROPERTYGET) shape.readable = true;
            if (desc->invkind == INVOKE_FUNC) {
                shape.method = true;
                for (SHORT k = 0; k < desc->cParams; ++k) {
                    const ELEMDESC& elem = desc->lprgelemdescParam[k];
                    shape.params.push_back({u"", elem.tdesc.vt, (elem.paramdesc.wParamFlags & PARAMFLAG_FOPT) != 0});
                }
            }
        }
        typeInfo_->ReleaseFuncDesc(desc);
    }
    BSTR names2[8] = {};
    UINT count = 0;
    if (SUCCEEDED(typeInfo_->GetNames(shape.dispid, names2, 8, &count))) {
        for (UINT i = 0; i < count; ++i) {
            if (i == 0)
                shape.name = automation::TextOf(names2[0]);
            else if (i - 1 < shape.params.size())
                shape.params[i - 1].name = automation::TextOf(names2[i]);
            SysFreeString(names2[i]);
        }
    }
    return shape;
}

std::variant<TVariant, TFailure> TScriptHost::Invoke(std::u16string_view member, TInvokeKind kind, std::vector<TVariant> args,
                                                     std::vector<TNamedArg> named) {
    auto shape = Shape(member);
    if (auto* failure = std::get_if<TFailure>(&shape)) return std::move(*failure);
    return Invoke(std::get<TMemberShape>(shape), kind, std::move(args), std::move(named));
}

std::variant<TVariant, TFailure> TScriptHost::Invoke(const TMemberShape& member, TInvokeKind kind, std::vector<TVariant> args,
                                                     std::vector<TNamedArg> named) {
    if (creationFailure_) return *creationFailure_;
    const std::string name = Text(member.name);

    // Named arguments resolve through the member's own name.
    std::vector<DISPID> namedIds;
    if (kind == TInvokeKind::Put) {
        namedIds.push_back(DISPID_PROPERTYPUT);
    } else if (!named.empty()) {
        std::vector<std::basic_string<OLECHAR>> texts{automation::OleText(member.name)};
        for (const auto& arg : named) texts.push_back(automation::OleText(arg.name));
        std::vector<LPOLESTR> pointers;
        for (auto& text : texts) pointers.push_back(text.data());
        namedIds.resize(pointers.size());
        object_->GetIDsOfNames(IID_NULL, pointers.data(), static_cast<UINT>(pointers.size()), LOCALE_USER_DEFAULT,
                               namedIds.data());
        namedIds.erase(namedIds.begin());
        for (std::size_t i = 0; i < named.size(); ++i)
            if (namedIds[i] == DISPID_UNKNOWN)
                return Refusal(DISP_E_UNKNOWNNAME, "Unknown name: " + name + " has no parameter '" + Text(named[i].name) + "'");
    }

    // Named arguments first, then the others last to first.
    std::vector<VARIANT> rgvarg;
    for (auto& arg : named) rgvarg.push_back(*arg.value);
    if (kind == TInvokeKind::Put)
        rgvarg.push_back(*args.at(0));  // the value, named DISPID_PROPERTYPUT
    else
        for (auto it = args.rbegin(); it != args.rend(); ++it) rgvarg.push_back(**it);
    DISPPARAMS params{rgvarg.empty() ? nullptr : rgvarg.data(), namedIds.empty() ? nullptr : namedIds.data(),
                      static_cast<UINT>(rgvarg.size()), static_cast<UINT>(namedIds.size())};
    WORD flags = DISPATCH_METHOD;
    switch (kind) {
        case TInvokeKind::Call: flags = DISPATCH_METHOD; break;
        case TInvokeKind::Get: flags = DISPATCH_PROPERTYGET; break;
        case TInvokeKind::Put: flags = DISPATCH_PROPERTYPUT; break;
        case TInvokeKind::Script: flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET; break;
    }

    TVariant result;
    EXCEPINFO info{};
    UINT argErr = ~0u;
    const HRESULT hr = object_->Invoke(member.dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result.Put(), &info, &argErr);
    if (hr == DISP_E_EXCEPTION) {
        TFailure failure{info.scode != 0 ? info.scode : hr, Text(automation::TextOf(info.bstrDescription)),
                         Text(automation::TextOf(info.bstrSource))};
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        return failure;
    }
    if (SUCCEEDED(hr)) return result;

    // Which argument a conversion failed on.
    const auto argument = [&]() -> std::string {
        if (kind == TInvokeKind::Put) return "the value of " + name;
        if (argErr < named.size()) return "argument " + Text(named[argErr].name) + " of " + name;
        if (argErr >= rgvarg.size()) return "an argument of " + name;
        const std::size_t position = rgvarg.size() - 1 - argErr;
        std::string text = "argument " + std::to_string(position + 1);
        if (position < member.params.size()) text += " (" + Text(member.params[position].name) + ")";
        return text + " of " + name;
    };
    switch (hr) {
        case DISP_E_MEMBERNOTFOUND:
            if (kind == TInvokeKind::Put && !member.method) return Refusal(hr, "Member not found: " + name + " is read-only");
            if (kind == TInvokeKind::Call && !member.method)
                return Refusal(hr, "Member not found: " + name + " is a property: use get or put");
            if (kind != TInvokeKind::Call && member.method)
                return Refusal(hr, "Member not found: " + name + " is a method: use call, not " +
                                       (kind == TInvokeKind::Put ? "put" : "get"));
            return Refusal(hr, "Member not found: " + name);
        case DISP_E_BADPARAMCOUNT:
            if (!member.method) return Refusal(hr, "Invalid number of parameters: " + name + " takes no arguments");
            return Refusal(hr, "Invalid number of parameters: " + name + " takes " + CountText(member) + ", not " +
                                   std::to_string(rgvarg.size()));
        case DISP_E_TYPEMISMATCH: return Refusal(hr, "Type mismatch: " + argument());
        case DISP_E_OVERFLOW: return Refusal(hr, "Out of present range: " + argument());
        case DISP_E_PARAMNOTOPTIONAL: return Refusal(hr, "Parameter not optional: " + argument());
        case DISP_E_PARAMNOTFOUND: return Refusal(hr, "Parameter not found: " + argument());
        default: return Refusal(hr, name + " failed with " + HResultText(hr));
    }
}

}  // namespace kestrune::cli
