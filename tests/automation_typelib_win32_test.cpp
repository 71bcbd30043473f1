// The type library that the DLL carries (compiled by the platform's IDL
// compiler) describes exactly the member table that dispatch follows:
// names, DISPIDs, invoke kinds, order in the interface table, parameter
// types, flags and defaults, and the library's, interface's and class's
// identity. Script engines and the platform's own dispatch read it; if it
// drifted from the table, scripts would see other defaults than our callers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "automation/brindel_Kestrune_TLB.h"

namespace kestrune::automation {
namespace {

std::u16string Text(BSTR text) {
    std::u16string result(TextOf(text));
    SysFreeString(text);
    return result;
}

TComPtr<ITypeLib> LoadLibraryTypes() {
    TComPtr<ITypeLib> library;
    const std::string path = KESTRUNE_DLL;
    const std::wstring file(path.begin(), path.end());
    EXPECT_EQ(LoadTypeLibEx(file.c_str(), REGKIND_NONE, library.Put()), S_OK) << path;
    return library;
}

// One function of the interface table as the type library describes it.
struct TFunctionShape {
    DISPID memid;
    INVOKEKIND invkind;
    std::u16string name;
    std::vector<std::u16string> paramNames;  // methods only: properties share their names
    std::vector<VARTYPE> types;              // VT_PTR | VT_x for an [out] pointer
    std::vector<USHORT> flags;
    std::vector<std::u16string> defaults;    // "" where there is none, else type:value

    bool operator==(const TFunctionShape&) const = default;
};

std::u16string DefaultText(const PARAMDESC& desc) {
    if ((desc.wParamFlags & PARAMFLAG_FHASDEFAULT) == 0 || desc.pparamdescex == nullptr) return u"";
    const VARIANT& value = desc.pparamdescex->varDefaultValue;
    if (value.vt == VT_I4) {
        const std::string number = std::to_string(value.lVal);
        return u"long:" + std::u16string(number.begin(), number.end());
    }
    if (value.vt == VT_BSTR) return u"BSTR:\"" + std::u16string(TextOf(value.bstrVal)) + u"\"";
    return u"other";
}

std::u16string DefaultText(const TKC_param& param) {
    if (!param.optional) return u"";
    if (param.type == VT_BSTR) return u"BSTR:\"" + std::u16string(param.textDefault) + u"\"";
    const std::string number = std::to_string(param.longDefault);
    return u"long:" + std::u16string(number.begin(), number.end());
}

VARTYPE TypeOf(const TYPEDESC& desc) {
    if (desc.vt == VT_PTR && desc.lptdesc != nullptr) return static_cast<VARTYPE>(VT_BYREF | desc.lptdesc->vt);
    return desc.vt;
}

std::vector<TFunctionShape> ShapesFromTypeLibrary(ITypeInfo& info, UINT count) {
    std::vector<TFunctionShape> shapes;
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* desc = nullptr;
        if (info.GetFuncDesc(i, &desc) != S_OK) break;
        TFunctionShape shape{desc->memid, desc->invkind, {}, {}, {}, {}, {}};
        BSTR name = nullptr;
        info.GetDocumentation(desc->memid, &name, nullptr, nullptr, nullptr);
        shape.name = Text(name);
        if (desc->invkind == INVOKE_FUNC) {
            std::vector<BSTR> names(static_cast<std::size_t>(desc->cParams) + 1);
            UINT got = 0;
            info.GetNames(desc->memid, names.data(), static_cast<UINT>(names.size()), &got);
            for (UINT n = 0; n < got; ++n) {
                std::u16string text = Text(names[n]);
                if (n > 0) shape.paramNames.push_back(std::move(text));
            }
        }
        for (SHORT p = 0; p < desc->cParams; ++p) {
            const ELEMDESC& param = desc->lprgelemdescParam[p];
            shape.types.push_back(TypeOf(param.tdesc));
            shape.flags.push_back(param.paramdesc.wParamFlags & ~PARAMFLAG_FHASCUSTDATA);
            shape.defaults.push_back(DefaultText(param.paramdesc));
        }
        info.ReleaseFuncDesc(desc);
        shapes.push_back(std::move(shape));
    }
    return shapes;
}

// The interface table the member table implies: a method with its
// parameters and result, a property's read, then its write.
std::vector<TFunctionShape> ShapesFromMemberTable() {
    constexpr USHORT In = PARAMFLAG_FIN, Optional = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT,
                     Result = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    std::vector<TFunctionShape> shapes;
    for (const auto& member : KestruneMembers()) {
        const std::u16string name(member.name);
        const auto resultType = static_cast<VARTYPE>(VT_BYREF | member.result);
        if (member.kind == TKC_memberkind::Method) {
            TFunctionShape shape{member.dispid, INVOKE_FUNC, name, {}, {}, {}, {}};
            for (const auto& param : member.params) {
                shape.paramNames.emplace_back(param.name);
                shape.types.push_back(param.type);
                shape.flags.push_back(param.optional ? Optional : In);
                shape.defaults.push_back(DefaultText(param));
            }
            if (member.result != VT_EMPTY) {
                shape.paramNames.emplace_back(member.resultName);
                shape.types.push_back(resultType);
                shape.flags.push_back(Result);
                shape.defaults.emplace_back();
            }
            shapes.push_back(std::move(shape));
            continue;
        }
        shapes.push_back({member.dispid, INVOKE_PROPERTYGET, name, {}, {resultType}, {Result}, {u""}});
        if (member.put != nullptr)
            shapes.push_back({member.dispid, INVOKE_PROPERTYPUT, name, {}, {member.result}, {In}, {u""}});
    }
    return shapes;
}

TEST(TypeLibrary, TheLibraryCarriesItsIdentity) {
    auto library = LoadLibraryTypes();
    ASSERT_TRUE(library);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_TRUE(attributes->guid == LIBID_brindel_Kestrune);
    EXPECT_EQ(attributes->wMajorVerNum, LibraryMajorVersion);
    EXPECT_EQ(attributes->wMinorVerNum, LibraryMinorVersion);
    EXPECT_EQ(attributes->lcid, LibraryLocale);
    library->ReleaseTLibAttr(attributes);
    BSTR name = nullptr, help = nullptr;
    ASSERT_EQ(library->GetDocumentation(-1, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(Text(name), LibraryName);
    EXPECT_EQ(Text(help), LibraryHelp);
}

TEST(TypeLibrary, TheClassIsCreatableWithIKestruneAsItsDefault) {
    auto library = LoadLibraryTypes();
    ASSERT_TRUE(library);
    TComPtr<ITypeInfo> coclass;
    ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_Kestrune, coclass.Put()), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->typekind, TKIND_COCLASS);
    EXPECT_NE(attributes->wTypeFlags & TYPEFLAG_FCANCREATE, 0);
    EXPECT_EQ(attributes->cImplTypes, 1);
    coclass->ReleaseTypeAttr(attributes);
    BSTR name = nullptr, help = nullptr;
    ASSERT_EQ(coclass->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(Text(name), ClassName);
    EXPECT_EQ(Text(help), ClassHelp);
    INT implFlags = 0;
    ASSERT_EQ(coclass->GetImplTypeFlags(0, &implFlags), S_OK);
    EXPECT_NE(implFlags & IMPLTYPEFLAG_FDEFAULT, 0);
    HREFTYPE ref = 0;
    TComPtr<ITypeInfo> iface;
    ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &ref), S_OK);
    ASSERT_EQ(coclass->GetRefTypeInfo(ref, iface.Put()), S_OK);
    ASSERT_EQ(iface->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(attributes->guid == IID_IKestrune);
    iface->ReleaseTypeAttr(attributes);
}

TEST(TypeLibrary, IKestruneIsTheMemberTableInTheDualInterfacesOrder) {
    auto library = LoadLibraryTypes();
    ASSERT_TRUE(library);
    TComPtr<ITypeInfo> dispatchView, tableView;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IKestrune, dispatchView.Put()), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(dispatchView->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->typekind, TKIND_DISPATCH);
    constexpr WORD DispatchFlags = TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE;
    EXPECT_EQ(attributes->wTypeFlags & DispatchFlags, DispatchFlags);
    dispatchView->ReleaseTypeAttr(attributes);
    BSTR help = nullptr;
    ASSERT_EQ(dispatchView->GetDocumentation(MEMBERID_NIL, nullptr, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(Text(help), InterfaceHelp);

    // The interface-table half of the dual interface.
    HREFTYPE ref = 0;
    ASSERT_EQ(dispatchView->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
    ASSERT_EQ(dispatchView->GetRefTypeInfo(ref, tableView.Put()), S_OK);
    ASSERT_EQ(tableView->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
    constexpr WORD TableFlags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION;
    EXPECT_EQ(attributes->wTypeFlags & TableFlags, TableFlags);
    const UINT count = attributes->cFuncs;
    tableView->ReleaseTypeAttr(attributes);

    const auto expected = ShapesFromMemberTable();
    const auto actual = ShapesFromTypeLibrary(*tableView.Get(), count);
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_TRUE(actual[i] == expected[i]) << "function " << i;

    // Each function's slot follows IDispatch's seven in declaration order.
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* desc = nullptr;
        ASSERT_EQ(tableView->GetFuncDesc(i, &desc), S_OK);
        EXPECT_EQ(desc->oVft, static_cast<SHORT>((7 + i) * sizeof(void*))) << "function " << i;
        EXPECT_EQ(desc->callconv, CC_STDCALL);
        EXPECT_EQ(desc->elemdescFunc.tdesc.vt, VT_HRESULT);
        tableView->ReleaseFuncDesc(desc);
    }
}

TEST(TypeLibrary, NamesResolveToTheTablesDispids) {
    auto library = LoadLibraryTypes();
    ASSERT_TRUE(library);
    TComPtr<ITypeInfo> dispatchView;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IKestrune, dispatchView.Put()), S_OK);
    for (const auto& member : KestruneMembers()) {
        auto name = OleText(member.name);
        LPOLESTR names[] = {name.data()};
        MEMBERID id = 0;
        ASSERT_EQ(dispatchView->GetIDsOfNames(names, 1, &id), S_OK) << std::string(member.name.begin(), member.name.end());
        EXPECT_EQ(id, member.dispid);
    }
}

}  // namespace
}  // namespace kestrune::automation
