// The automation binding as a script host sees it: the class factory, the
// library's counts, names and DISPIDs, the type description, defaults,
// named and by-reference arguments, conversions, property reads and
// writes, error records and the page protocol. Written against the
// platform's interfaces and the library's entry points only.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "dispatch_client.h"
#include "vectors.h"

namespace kestrune::test {
namespace {

using automation::CLSID_Kestrune;
using automation::IID_IKestrune;

// After every test of the program the library is as a host finds it before
// unloading it: every object, factory reference and lock given back.
class TUnloadCheck final : public testing::Environment {
public:
    void TearDown() override { EXPECT_EQ(DllCanUnloadNow(), S_OK) << "an object, factory or lock is still held"; }
};
[[maybe_unused]] testing::Environment* const UnloadCheck =
    testing::AddGlobalTestEnvironment(std::make_unique<TUnloadCheck>().release());

bool PrintableAscii(const std::vector<std::uint8_t>& bytes) {
    return std::ranges::all_of(bytes, [](std::uint8_t b) { return b >= 0x20 && b < 0x7F; });
}

// The members with their DISPIDs, invoke kinds and parameters, as scripts
// and the type description know them.
struct TExpectedParam {
    std::u16string_view name;
    VARTYPE type;
    bool optional;
    LONG longDefault;
};
struct TExpectedMember {
    std::u16string_view name;
    DISPID dispid;
    INVOKEKIND kind;  // INVOKE_FUNC, or INVOKE_PROPERTYGET (with a put when writable)
    bool writable;
    std::vector<TExpectedParam> params;
    VARTYPE result;  // VT_VOID for none
};

const std::vector<TExpectedMember>& ExpectedMembers() {
    static const std::vector<TExpectedMember> members = {
        {u"OnStartPage", 201, INVOKE_FUNC, false, {{u"AScriptingContext", VT_UNKNOWN, false, 0}}, VT_VOID},
        {u"OnEndPage", 202, INVOKE_FUNC, false, {}, VT_VOID},
        {u"HashString", 203, INVOKE_FUNC, false, {{u"InputStr", VT_BSTR, false, 0}, {u"Algorithm", VT_I4, true, -1}}, VT_BSTR},
        {u"HashFile", 204, INVOKE_FUNC, false, {{u"Filename", VT_BSTR, false, 0}, {u"Algorithm", VT_I4, true, -1}}, VT_BSTR},
        {u"EncryptString", 205, INVOKE_FUNC, false,
         {{u"InputStr", VT_BSTR, false, 0}, {u"Password", VT_BSTR, false, 0}, {u"Algorithm", VT_I4, true, -1}}, VT_BSTR},
        {u"EncryptFile", 206, INVOKE_FUNC, false,
         {{u"SourceFilename", VT_BSTR, false, 0}, {u"DestFilename", VT_BSTR, false, 0}, {u"Password", VT_BSTR, false, 0},
          {u"Algorithm", VT_I4, true, -1}}, VT_I4},
        {u"DecryptString", 207, INVOKE_FUNC, false,
         {{u"InputStr", VT_BSTR, false, 0}, {u"Password", VT_BSTR, false, 0}, {u"Algorithm", VT_I4, true, -1}}, VT_BSTR},
        {u"DecryptFile", 208, INVOKE_FUNC, false,
         {{u"SourceFilename", VT_BSTR, false, 0}, {u"DestFilename", VT_BSTR, false, 0}, {u"Password", VT_BSTR, false, 0},
          {u"Algorithm", VT_I4, true, -1}}, VT_I4},
        {u"HashAlgorithm", 209, INVOKE_PROPERTYGET, true, {}, VT_I4},
        {u"CipherAlgorithm", 210, INVOKE_PROPERTYGET, true, {}, VT_I4},
        {u"GenPassword", 211, INVOKE_FUNC, false, {{u"MaxLength", VT_I4, true, 8}, {u"Style", VT_BSTR, true, 0}}, VT_BSTR},
        {u"HashSize", 215, INVOKE_FUNC, false, {{u"Algorithm", VT_I4, true, -1}}, VT_I4},
        {u"CipherMode", 214, INVOKE_PROPERTYGET, true, {}, VT_I4},
        {u"MaxKeySize", 216, INVOKE_PROPERTYGET, false, {}, VT_I4},
    };
    return members;
}

std::string Narrow(std::u16string_view text) { return {text.begin(), text.end()}; }

class TempDir {
public:
    TempDir() : path_(NewTempDir("kestrune-dispatch-")) {}
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

template <class... T>
std::vector<TVariant> A(T&&... values) {
    std::vector<TVariant> args;
    (args.push_back(std::forward<T>(values)), ...);
    return args;
}

std::u16string PathText(const std::filesystem::path& path) { return path.u16string(); }

std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// ---- The class factory and the library's counts ----

TEST(DispatchFactory, ForeignClassIdsGetNoFactory) {
    const CLSID foreign = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    void* out = &out;
    EXPECT_EQ(DllGetClassObject(foreign, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    out = &out;
    EXPECT_EQ(DllGetClassObject(IID_IKestrune, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    out = &out;
    EXPECT_EQ(DllGetClassObject(CLSID_Kestrune, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    TComPtr<IUnknown> unknown;
    EXPECT_EQ(DllGetClassObject(CLSID_Kestrune, IID_IUnknown, unknown.PutVoid()), S_OK);
    EXPECT_TRUE(unknown);
}

TEST(DispatchFactory, UnloadWaitsForObjectsFactoriesAndLocks) {
    ASSERT_EQ(DllCanUnloadNow(), S_OK) << "an earlier test left something alive";
    {
        auto factory = Factory();
        ASSERT_TRUE(factory);
        EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
        TComPtr<IDispatch> object;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.PutVoid()), S_OK);
        factory.Reset();
        EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // the object holds the library
        TComPtr<IDispatch> second = object;
        object.Reset();
        EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // one reference is left
    }
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    auto factory = Factory();
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Reset();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    factory = Factory();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.Reset();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(DispatchFactory, CreationRefusalsLeaveNothingBehind) {
    auto factory = Factory();
    const IID foreign = {0xABCDEF01, 0x1111, 0x2222, {3, 3, 3, 3, 3, 3, 3, 3}};
    void* out = &out;
    EXPECT_EQ(factory->CreateInstance(nullptr, foreign, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    THostContext outer(false);
    out = &out;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    factory.Reset();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(DispatchFactory, EveryCreationMakesAnObjectOfItsOwn) {
    TScriptObject first, second;
    ASSERT_TRUE(first.Dispatch() && second.Dispatch());
    EXPECT_NE(first.Dispatch().Get(), second.Dispatch().Get());
    first.Put(u"CipherAlgorithm", L(15));
    EXPECT_EQ(first.Get(u"CipherAlgorithm").Long(), 15);
    EXPECT_EQ(second.Get(u"CipherAlgorithm").Long(), 0);
}

TEST(DispatchFactory, OneIdentityAcrossInterfaces) {
    TScriptObject object;
    TComPtr<IUnknown> viaDispatch, viaErrorInfo;
    TComPtr<ISupportErrorInfo> errorInfo;
    TComPtr<automation::IKestrune> dual;
    ASSERT_EQ(object.Dispatch().QueryInto(IID_IUnknown, viaDispatch), S_OK);
    ASSERT_EQ(object.Dispatch().QueryInto(IID_ISupportErrorInfo, errorInfo), S_OK);
    ASSERT_EQ(errorInfo.QueryInto(IID_IUnknown, viaErrorInfo), S_OK);
    EXPECT_EQ(viaDispatch.Get(), viaErrorInfo.Get());
    EXPECT_EQ(object.Dispatch().QueryInto(IID_IKestrune, dual), S_OK);
    TComPtr<IClassFactory> notOffered;
    EXPECT_EQ(object.Dispatch().QueryInto(IID_IClassFactory, notOffered), E_NOINTERFACE);
    EXPECT_FALSE(notOffered);
    EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IKestrune), S_OK);
    EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IClassFactory), S_FALSE);
}

// ---- Names, DISPIDs and the type description ----

TEST(DispatchNames, EveryMemberAndParameterResolvesWithoutRegardToCase) {
    TScriptObject object;
    for (const auto& member : ExpectedMembers()) {
        std::u16string upper(member.name), lower(member.name);
        for (auto& c : upper) c = (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
        for (auto& c : lower) c = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
        for (const auto& name : {std::u16string(member.name), upper, lower})
            EXPECT_EQ(object.IdOf(name), member.dispid) << Narrow(name);
        std::vector<std::u16string> names{std::u16string(member.name)};
        for (const auto& param : member.params) names.emplace_back(param.name);
        HRESULT hr = E_FAIL;
        const auto ids = object.IdsOf(names, &hr);
        EXPECT_EQ(hr, S_OK) << Narrow(member.name);
        for (std::size_t i = 1; i < ids.size(); ++i) EXPECT_EQ(ids[i], static_cast<DISPID>(i - 1)) << Narrow(names[i]);
    }
    EXPECT_EQ(object.IdsOf({u"hashstring", u"ALGORITHM", u"inputstr"}), (std::vector<DISPID>{203, 1, 0}));
}

TEST(DispatchNames, UnknownNamesAreMinusOne) {
    TScriptObject object;
    HRESULT hr = S_OK;
    EXPECT_EQ(object.IdsOf({u"Frobnicate", u"InputStr"}, &hr), (std::vector<DISPID>{DISPID_UNKNOWN, DISPID_UNKNOWN}));
    EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);
    EXPECT_EQ(object.IdsOf({u"HashString", u"Password", u"Algorithm"}, &hr), (std::vector<DISPID>{203, DISPID_UNKNOWN, 1}));
    EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);
    EXPECT_EQ(object.IdsOf({u"HashStrin"}, &hr)[0], DISPID_UNKNOWN);
    EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);
}

TEST(DispatchTypeInfo, OneDescriptionOfTheDualInterface) {
    TScriptObject object;
    UINT count = 0;
    ASSERT_EQ(object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* none = reinterpret_cast<ITypeInfo*>(&count);
    EXPECT_EQ(object->GetTypeInfo(1, LOCALE_USER_DEFAULT, &none), DISP_E_BADINDEX);
    EXPECT_EQ(none, nullptr);

    TComPtr<ITypeInfo> info;
    ASSERT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(attr->guid == IID_IKestrune);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_NE(attr->wTypeFlags & TYPEFLAG_FDUAL, 0);
    EXPECT_NE(attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE, 0);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    const WORD functions = attr->cFuncs;
    info->ReleaseTypeAttr(attr);

    TBstr name, help;
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, name.Put(), help.Put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(name.View(), u"IKestrune");
    EXPECT_EQ(help.View(), u"Dispatch interface for Kestrune Object");

    // Every member with its invoke kinds, parameter types, flags and
    // defaults; the description may hold the inherited functions too.
    for (const auto& member : ExpectedMembers()) {
        int gets = 0, puts = 0;
        for (WORD i = 0; i < functions; ++i) {
            FUNCDESC* desc = nullptr;
            ASSERT_EQ(info->GetFuncDesc(i, &desc), S_OK);
            if (desc->memid == member.dispid) {
                const std::string what = Narrow(member.name) + " kind " + std::to_string(desc->invkind);
                if (desc->invkind == INVOKE_PROPERTYPUT) {
                    ++puts;
                    EXPECT_EQ(desc->cParams, 1) << what;
                    EXPECT_EQ(desc->lprgelemdescParam[0].tdesc.vt, VT_I4) << what;
                } else {
                    ++gets;
                    EXPECT_EQ(desc->invkind, member.kind) << what;
                    EXPECT_EQ(desc->elemdescFunc.tdesc.vt, member.result) << what;
                    ASSERT_EQ(desc->cParams, static_cast<SHORT>(member.params.size())) << what;
                    for (std::size_t k = 0; k < member.params.size(); ++k) {
                        const auto& expected = member.params[k];
                        const ELEMDESC& elem = desc->lprgelemdescParam[k];
                        EXPECT_EQ(elem.tdesc.vt, expected.type) << what << " param " << k;
                        const USHORT flags = elem.paramdesc.wParamFlags;
                        EXPECT_NE(flags & PARAMFLAG_FIN, 0) << what;
                        EXPECT_EQ((flags & PARAMFLAG_FHASDEFAULT) != 0, expected.optional) << what << " param " << k;
                        if (!expected.optional) continue;
                        ASSERT_NE(elem.paramdesc.pparamdescex, nullptr) << what;
                        const VARIANT& value = elem.paramdesc.pparamdescex->varDefaultValue;
                        if (expected.type == VT_I4) {
                            TVariant asLong;
                            // The platform declares the source without const; it is only read.
                            ASSERT_EQ(VariantChangeType(asLong.Put(), const_cast<VARIANT*>(&value), 0, VT_I4), S_OK);
                            EXPECT_EQ(asLong->lVal, expected.longDefault) << what;
                        } else {
                            ASSERT_EQ(value.vt, VT_BSTR) << what;
                            EXPECT_EQ(SysStringLen(value.bstrVal), 0u) << what;
                        }
                    }
                }
            }
            info->ReleaseFuncDesc(desc);
        }
        EXPECT_EQ(gets, 1) << Narrow(member.name);
        EXPECT_EQ(puts, member.writable ? 1 : 0) << Narrow(member.name);
    }

    BSTR names[4] = {};
    UINT got = 0;
    ASSERT_EQ(info->GetNames(206, names, 4, &got), S_OK);
    ASSERT_EQ(got, 4u);
    EXPECT_EQ(automation::TextOf(names[0]), u"EncryptFile");
    EXPECT_EQ(automation::TextOf(names[3]), u"Password");
    for (UINT i = 0; i < got; ++i) SysFreeString(names[i]);
}

// ---- Invoking every member ----

TEST(DispatchInvoke, EveryMemberByDispid) {
    TScriptObject object;
    TempDir dir;
    const auto plain = dir / "plain.txt", sealed = dir / "sealed.bin", opened = dir / "opened.txt";
    std::ofstream(plain, std::ios::binary) << "abc";
    const auto call = [&](DISPID id, std::vector<TVariant> args = {}) { return object.Invoke(id, DISPATCH_METHOD, std::move(args)); };

    THostContext host(true);
    EXPECT_EQ(call(201, A(TVariant::Unknown(&host))).hr, S_OK);
    EXPECT_EQ(call(202).hr, S_OK);

    const auto md5 = RecordsFor("md.vec", "MD5");
    const auto abc = std::ranges::find_if(md5, [](const VectorRecord& r) { return r.fields.at("In") == "616263"; });
    ASSERT_NE(abc, md5.end());
    EXPECT_EQ(Narrow(call(203, A(S(u"abc"))).Text()), abc->fields.at("Out"));
    EXPECT_EQ(Narrow(call(204, A(S(PathText(plain)))).Text()), abc->fields.at("Out"));

    std::vector<TVariant> encrypt;
    encrypt.push_back(S(u"Attack at dawn"));
    encrypt.push_back(S(u"pw"));
    const TCall cipher = call(205, std::move(encrypt));
    ASSERT_EQ(cipher.hr, S_OK);
    EXPECT_FALSE(cipher.Text().empty());
    std::vector<TVariant> decrypt;
    decrypt.push_back(S(cipher.Text()));
    decrypt.push_back(S(u"pw"));
    EXPECT_EQ(call(207, std::move(decrypt)).Text(), u"Attack at dawn");

    std::vector<TVariant> files;
    files.push_back(S(PathText(plain)));
    files.push_back(S(PathText(sealed)));
    files.push_back(S(u"pw"));
    EXPECT_EQ(call(206, std::move(files)).Long(), 0);
    files.clear();
    files.push_back(S(PathText(sealed)));
    files.push_back(S(PathText(opened)));
    files.push_back(S(u"pw"));
    EXPECT_EQ(call(208, std::move(files)).Long(), 0);
    EXPECT_EQ(Slurp(opened), "abc");
    EXPECT_NE(Slurp(sealed), "abc");

    for (DISPID id : {209, 210, 214}) {
        EXPECT_EQ(object.Invoke(id, DISPATCH_PROPERTYGET).Long(), 0) << id;
        std::vector<std::pair<DISPID, TVariant>> value;
        value.emplace_back(DISPID_PROPERTYPUT, L(1));
        EXPECT_EQ(object.Invoke(id, DISPATCH_PROPERTYPUT, {}, std::move(value)).hr, S_OK) << id;
        EXPECT_EQ(object.Invoke(id, DISPATCH_PROPERTYGET).Long(), 1) << id;
    }
    EXPECT_EQ(call(211).Text().size(), 8u);
    EXPECT_EQ(call(215).Long(), 128);
    object.Put(u"CipherAlgorithm", L(0));
    EXPECT_EQ(object.Invoke(216, DISPATCH_PROPERTYGET).Long(), 448);
}

TEST(DispatchInvoke, DigestsAgreeWithTheKnownAnswers) {
    TScriptObject object;
    int checked = 0;
    for (const auto& [family, code] : {std::pair{"MD5", -1}, {"MD4", 1}}) {
        for (const auto& record : RecordsFor("md.vec", family)) {
            const auto bytes = record.Bytes("In");
            if (record.Has("Repeat") || !PrintableAscii(bytes)) continue;
            const std::u16string text(bytes.begin(), bytes.end());
            EXPECT_EQ(Narrow(object.Call(u"HashString", A(S(text), L(code))).Text()), record.fields.at("Out"))
                << record.Where();
            ++checked;
        }
    }
    EXPECT_GE(checked, 10);
}

// ---- Defaults ----

TEST(DispatchDefaults, LeftOutOrMissingArgumentsTakeTheTypeLibraryDefaults) {
    TScriptObject object;
    const std::u16string md5 = object.Call(u"HashString", A(S(u"abc"), L(0))).Text();
    const std::u16string md4 = object.Call(u"HashString", A(S(u"abc"), L(1))).Text();
    ASSERT_NE(md5, md4);
    EXPECT_EQ(object.Call(u"HashString", A(S(u"abc"))).Text(), md5);
    EXPECT_EQ(object.Call(u"HashString", A(S(u"abc"), TVariant::Missing())).Text(), md5);
    object.Put(u"HashAlgorithm", L(1));  // -1, the default, stands for the property
    EXPECT_EQ(object.Call(u"HashString", A(S(u"abc"))).Text(), md4);
    EXPECT_EQ(object.Call(u"HashString", A(S(u"abc"), L(-1))).Text(), md4);
    EXPECT_EQ(object.Call(u"HashString", A(S(u"abc"), TVariant::Missing())).Text(), md4);
    EXPECT_EQ(object.Call(u"HashString", A(S(u"abc"), L(42))).Text(), md5);

    EXPECT_EQ(object.Call(u"HashSize").Long(), 128);
    EXPECT_EQ(object.Call(u"HashSize", A(TVariant::Missing())).Long(), 128);
    EXPECT_EQ(object.Call(u"HashSize", A(L(-2))).Long(), 128);
    // With a digest of another size built, the default follows the property.
    if (const TCall sha384 = object.Call(u"HashSize", A(L(7))); sha384.hr == S_OK) {
        EXPECT_EQ(sha384.Long(), 384);
        object.Put(u"HashAlgorithm", L(7));
        EXPECT_EQ(object.Call(u"HashSize").Long(), 384);
        object.Put(u"HashAlgorithm", L(1));
    }

    const std::u16string sealed = object.Call(u"EncryptString", A(S(u"text"), S(u"pw"))).Text();
    EXPECT_EQ(object.Call(u"EncryptString", A(S(u"text"), S(u"pw"), L(-1))).Text(), sealed);
    EXPECT_EQ(object.Call(u"EncryptString", A(S(u"text"), S(u"pw"), TVariant::Missing())).Text(), sealed);
    EXPECT_EQ(object.Call(u"EncryptString", A(S(u"text"), S(u"pw"), L(0))).Text(), sealed);  // CipherAlgorithm is 0
    EXPECT_EQ(object.Call(u"DecryptString", A(S(sealed), S(u"pw"))).Text(), u"text");
}

TEST(DispatchDefaults, GenPasswordWithoutArgumentsIsEightCharactersOfTheDefaultStyle) {
    TScriptObject object;
    const auto defaultStyle = [](const std::u16string& text) {
        return text.size() == 8 && std::ranges::all_of(text, [](char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'); });
    };
    EXPECT_TRUE(defaultStyle(object.Call(u"GenPassword").Text()));
    EXPECT_TRUE(defaultStyle(object.Call(u"GenPassword", A(TVariant::Missing(), TVariant::Missing())).Text()));
    EXPECT_TRUE(defaultStyle(object.Call(u"GenPassword", A(L(8), S(u""))).Text()));
    const std::u16string styled = object.Call(u"GenPassword", A(TVariant::Missing(), S(u"aaaa"))).Text();
    ASSERT_EQ(styled.size(), 8u);
    EXPECT_TRUE(std::all_of(styled.begin(), styled.begin() + 4, [](char16_t c) { return c >= u'a' && c <= u'z'; })) << Narrow(styled);
    EXPECT_EQ(object.Call(u"GenPassword", A(L(3))).Text().size(), 3u);
}

TEST(DispatchDefaults, FileOperationsTakeTheCipherPropertyByDefault) {
    TScriptObject object;
    TempDir dir;
    std::ofstream(dir / "in", std::ios::binary) << std::string(100, 'x');
    const auto encrypt = [&](const std::string& out, std::vector<TVariant> extra) {
        auto args = A(S(PathText(dir / "in")), S(PathText(dir / out)), S(u"pw"));
        for (auto& e : extra) args.push_back(std::move(e));
        EXPECT_EQ(object.Call(u"EncryptFile", std::move(args)).Long(), 0);
        return Slurp(dir / out);
    };
    const std::string byDefault = encrypt("a", {});
    EXPECT_EQ(encrypt("b", A(L(-1))), byDefault);
    EXPECT_EQ(encrypt("c", A(TVariant::Missing())), byDefault);
    EXPECT_EQ(encrypt("d", A(L(0))), byDefault);
    EXPECT_EQ(byDefault.size(), 100u);
}

// ---- Named and by-reference arguments ----

TEST(DispatchArguments, NamedArgumentsMatchTheirParameters) {
    TScriptObject object;
    const std::u16string md4 = object.Call(u"HashString", A(S(u"abc"), L(1))).Text();
    std::vector<TNamed> named;
    named.push_back({u"Algorithm", L(1)});
    EXPECT_EQ(object.CallNamed(u"HashString", A(S(u"abc")), std::move(named)).Text(), md4);
    named.clear();
    named.push_back({u"algorithm", L(1)});
    named.push_back({u"INPUTSTR", S(u"abc")});
    EXPECT_EQ(object.CallNamed(u"HashString", {}, std::move(named)).Text(), md4);
    named.clear();
    named.push_back({u"Style", S(u"000")});
    const std::u16string digits = object.CallNamed(u"GenPassword", {}, std::move(named)).Text();
    ASSERT_EQ(digits.size(), 8u);
    EXPECT_TRUE(std::all_of(digits.begin(), digits.begin() + 3, [](char16_t c) { return c >= u'0' && c <= u'9'; }));
    // A required parameter that only a name could have given is missing.
    named.clear();
    named.push_back({u"Algorithm", L(1)});
    EXPECT_EQ(object.CallNamed(u"HashString", {}, std::move(named)).hr, DISP_E_BADPARAMCOUNT);
}

TEST(DispatchArguments, ByReferenceArgumentsAreReadThrough) {
    TScriptObject object;
    const std::u16string md4 = object.Call(u"HashString", A(S(u"abc"), L(1))).Text();
    BSTR text = SysAllocString(OLESTR("abc"));
    LONG code = 1;
    // The references point into this frame; clearing them must not free it.
    TVariant byRefText, byRefLong;
    VARIANT* t = byRefText.Put();
    t->vt = VT_BSTR | VT_BYREF;
    t->pbstrVal = &text;
    VARIANT* l = byRefLong.Put();
    l->vt = VT_I4 | VT_BYREF;
    l->plVal = &code;
    EXPECT_EQ(object.Call(u"HashString", A(std::move(byRefText), std::move(byRefLong))).Text(), md4);

    TVariant variable = S(u"abc"), number = S(u"1");  // script variables hold variants
    EXPECT_EQ(object.Call(u"HashString", A(TVariant::RefTo(*variable.Get()), TVariant::RefTo(*number.Get()))).Text(), md4);
    EXPECT_EQ(variable.Type(), VT_BSTR);  // [in] arguments are left as they were
    EXPECT_EQ(number.Type(), VT_BSTR);
    SysFreeString(text);
}

// ---- Conversions ----

TEST(DispatchConversions, ArgumentsConvertAsVariantsDo) {
    TScriptObject object;
    const auto hash = [&](TVariant text, TVariant code) { return object.Call(u"HashString", A(std::move(text), std::move(code))); };
    const std::u16string md4 = hash(S(u"abc"), L(1)).Text();
    EXPECT_EQ(hash(S(u"abc"), S(u"1")).Text(), md4);
    EXPECT_EQ(hash(S(u"abc"), S(u" 1 ")).Text(), md4);
    EXPECT_EQ(hash(S(u"abc"), TVariant::Double(1.0)).Text(), md4);
    EXPECT_EQ(hash(S(u"123"), L(1)).Text(), hash(L(123), L(1)).Text());
    EXPECT_EQ(hash(S(u"1.5"), L(1)).Text(), hash(TVariant::Double(1.5), L(1)).Text());

    TVariant small, byte;
    VARIANT* s = small.Put();
    s->vt = VT_I2;
    s->iVal = 1;
    VARIANT* b = byte.Put();
    b->vt = VT_UI1;
    b->bVal = 1;
    EXPECT_EQ(hash(S(u"abc"), std::move(small)).Text(), md4);
    EXPECT_EQ(hash(S(u"abc"), std::move(byte)).Text(), md4);

    EXPECT_EQ(object.Put(u"HashAlgorithm", TVariant::Bool(true)).hr, S_OK);
    EXPECT_EQ(object.Get(u"HashAlgorithm").Long(), -1);  // true is -1
    EXPECT_EQ(object.Put(u"CipherMode", S(u"3")).hr, S_OK);
    EXPECT_EQ(object.Get(u"CipherMode").Long(), 3);
    object.Put(u"CipherMode", TVariant::Double(2.5));  // halves round to even
    EXPECT_EQ(object.Get(u"CipherMode").Long(), 2);
    object.Put(u"CipherMode", TVariant::Double(3.5));
    EXPECT_EQ(object.Get(u"CipherMode").Long(), 4);
    EXPECT_EQ(object.Call(u"HashSize", A(S(u"-1"))).Long(), 128);
}

TEST(DispatchConversions, UnconvertibleArgumentsAreRefusedWithTheirPosition) {
    TScriptObject object;
    TCall call = object.Call(u"HashString", A(S(u"abc"), S(u"seven")));
    EXPECT_EQ(call.hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(call.argErr, 0u);  // arguments stand last to first
    call = object.Call(u"HashString", A(S(u"abc"), S(u"")));
    EXPECT_EQ(call.hr, DISP_E_TYPEMISMATCH);
    TVariant null;
    null.Put()->vt = VT_NULL;
    call = object.Call(u"HashString", A(std::move(null), L(1)));
    EXPECT_EQ(call.hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(call.argErr, 1u);
    for (int k = 0; k < 2; ++k) {  // HashString(Nothing), twice: nothing stale is left behind
        TVariant nothing;
        nothing.Put()->vt = VT_DISPATCH;
        call = object.Call(u"HashString", A(std::move(nothing)));
        EXPECT_EQ(call.hr, DISP_E_TYPEMISMATCH);
        EXPECT_EQ(call.argErr, 0u);
    }
    TVariant nothing;
    nothing.Put()->vt = VT_DISPATCH;
    EXPECT_EQ(object.Put(u"CipherMode", std::move(nothing)).hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(object.Call(u"HashSize", A(TVariant::Double(3e10))).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(object.Call(u"HashSize", A(S(u"99999999999"))).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(object.Call(u"OnStartPage", A(L(7))).hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(object.Put(u"CipherMode", S(u"three")).hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(object.Get(u"CipherMode").Long(), 0);
}

// ---- Argument counts and invoke kinds ----

TEST(DispatchCounts, MissingAndSurplusArgumentsAreBadParameterCounts) {
    TScriptObject object;
    EXPECT_EQ(object.Call(u"HashString").hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(object.Call(u"HashString", A(S(u"a"), L(1), L(2))).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(object.Call(u"EncryptFile", A(S(u"a"), S(u"b"))).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(object.Call(u"OnEndPage", A(L(1))).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(object.Call(u"OnStartPage").hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(object.Call(u"GenPassword", A(L(1), S(u""), S(u""))).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(object.Invoke(216, DISPATCH_PROPERTYGET, A(L(1))).hr, DISP_E_BADPARAMCOUNT);
}

TEST(DispatchCounts, MembersAnswerOnlyTheirOwnInvokeKinds) {
    TScriptObject object;
    EXPECT_EQ(object.Invoke(999, DISPATCH_METHOD).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(object.Invoke(DISPID_UNKNOWN, DISPATCH_METHOD).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(object.Invoke(214, DISPATCH_METHOD).hr, DISP_E_MEMBERNOTFOUND);       // a property is not called
    EXPECT_EQ(object.Invoke(215, DISPATCH_PROPERTYGET).hr, DISP_E_MEMBERNOTFOUND);  // nor a method read
    EXPECT_EQ(object.Put(u"MaxKeySize", L(64)).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(object.Put(u"HashSize", L(64)).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(object.Invoke(216, DISPATCH_METHOD | DISPATCH_PROPERTYGET).Long(), 448);  // as scripts read
    EXPECT_EQ(object.Invoke(215, DISPATCH_METHOD | DISPATCH_PROPERTYGET).Long(), 128);

    const IID foreign = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(object->Invoke(215, foreign, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    LPOLESTR name = const_cast<LPOLESTR>(OLESTR("HashSize"));
    DISPID id = 0;
    EXPECT_EQ(object->GetIDsOfNames(foreign, &name, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNINTERFACE);
}

// ---- Properties ----

TEST(DispatchProperties, WritesAreKeptAsWrittenAndModesStayValid) {
    TScriptObject object;
    for (LONG code : {20, 0, -5}) {
        EXPECT_EQ(object.Put(u"CipherAlgorithm", L(code)).hr, S_OK);
        EXPECT_EQ(object.Get(u"CipherAlgorithm").Long(), code);
        EXPECT_EQ(object.Get(u"MaxKeySize").Long(), 448);  // codes outside the table select Blowfish
    }
    object.Put(u"HashAlgorithm", L(42));
    EXPECT_EQ(object.Get(u"HashAlgorithm").Long(), 42);
    EXPECT_EQ(object.Call(u"HashString", A(S(u"abc"))).Text(), object.Call(u"HashString", A(S(u"abc"), L(0))).Text());
    object.Put(u"CipherMode", L(4));
    for (LONG ignored : {5, -1, 100}) {
        EXPECT_EQ(object.Put(u"CipherMode", L(ignored)).hr, S_OK);
        EXPECT_EQ(object.Get(u"CipherMode").Long(), 4);
    }
}

// ---- Error records and the page protocol ----

TEST(DispatchErrors, AFailedCallCarriesItsStatusDescriptionAndSource) {
    TScriptObject object;
    object.Put(u"CipherAlgorithm", L(15));
    THostContext withoutScripting(false);
    const TCall call = object.Call(u"OnStartPage", A(TVariant::Unknown(&withoutScripting)));
    EXPECT_EQ(call.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(call.scode, E_NOINTERFACE);
    EXPECT_EQ(call.source, u"brindel_Kestrune.Kestrune");
    EXPECT_FALSE(call.description.empty());
    EXPECT_EQ(object.Get(u"CipherAlgorithm").Long(), 0);  // reset before the failure
    EXPECT_EQ(withoutScripting.References(), 1u);         // nothing kept

    // Without room for the exception information the record stays on the thread.
    std::vector<VARIANT> arg(1);
    VariantInit(&arg[0]);
    arg[0].vt = VT_UNKNOWN;
    arg[0].punkVal = &withoutScripting;
    DISPPARAMS params{arg.data(), nullptr, 1, 0};
    EXPECT_EQ(object->Invoke(201, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              DISP_E_EXCEPTION);
    TComPtr<IErrorInfo> record;
    ASSERT_EQ(GetErrorInfo(0, record.Put()), S_OK);
    TBstr source, description;
    record->GetSource(source.Put());
    record->GetDescription(description.Put());
    EXPECT_EQ(source.View(), u"brindel_Kestrune.Kestrune");
    EXPECT_EQ(description.View(), call.description);
    EXPECT_EQ(GetErrorInfo(0, record.Put()), S_FALSE);  // taken once
}

TEST(DispatchErrors, TheDualInterfaceReportsThroughTheErrorRecord) {
    TScriptObject object;
    TComPtr<automation::IKestrune> dual;
    ASSERT_EQ(object.Dispatch().QueryInto(IID_IKestrune, dual), S_OK);
    THostContext withoutScripting(false);
    EXPECT_EQ(dual->OnStartPage(&withoutScripting), E_NOINTERFACE);
    TComPtr<IErrorInfo> record;
    ASSERT_EQ(GetErrorInfo(0, record.Put()), S_OK);
    TBstr source;
    record->GetSource(source.Put());
    EXPECT_EQ(source.View(), u"brindel_Kestrune.Kestrune");

    EXPECT_TRUE(FAILED(dual->OnStartPage(nullptr)));
    GetErrorInfo(0, record.Put());
    EXPECT_EQ(dual->HashString(nullptr, -1, nullptr), E_POINTER);
    TBstr digest;
    ASSERT_EQ(dual->HashString(nullptr, -1, digest.Put()), S_OK);  // a null string is the empty string
    EXPECT_EQ(digest.View(), object.Call(u"HashString", A(S(u""))).Text());
    LONG size = 0;
    EXPECT_EQ(dual->HashSize(-1, &size), S_OK);
    EXPECT_EQ(size, 128);
}

TEST(DispatchPage, OnStartPageKeepsTheScriptingContextUntilOnEndPage) {
    THostContext host(true);
    {
        TScriptObject object;
        object.Put(u"HashAlgorithm", L(3));
        object.Put(u"CipherMode", L(2));
        ASSERT_EQ(object.Call(u"OnStartPage", A(TVariant::Unknown(&host))).hr, S_OK);
        EXPECT_EQ(object.Get(u"HashAlgorithm").Long(), 0);
        EXPECT_EQ(object.Get(u"CipherMode").Long(), 0);
        EXPECT_EQ(host.References(), 2u);  // kept for the page
        object.Put(u"CipherAlgorithm", L(15));
        ASSERT_EQ(object.Call(u"OnEndPage").hr, S_OK);
        EXPECT_EQ(host.References(), 1u);
        EXPECT_EQ(object.Get(u"CipherAlgorithm").Long(), 15);  // the end of a page leaves the selections

        ASSERT_EQ(object.Call(u"OnStartPage", A(TVariant::Unknown(&host))).hr, S_OK);
        EXPECT_EQ(host.References(), 2u);
    }
    EXPECT_EQ(host.References(), 1u);  // released with the object
}

TEST(DispatchPage, ANullContextFailsAfterTheReset) {
    TScriptObject object;
    object.Put(u"HashAlgorithm", L(3));
    const TCall call = object.Call(u"OnStartPage", A(TVariant::Unknown(nullptr)));
    EXPECT_EQ(call.hr, DISP_E_EXCEPTION);
    EXPECT_TRUE(FAILED(call.scode));
    EXPECT_EQ(call.source, u"brindel_Kestrune.Kestrune");
    EXPECT_EQ(object.Get(u"HashAlgorithm").Long(), 0);
}

}  // namespace
}  // namespace kestrune::test
