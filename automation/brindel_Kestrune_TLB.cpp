#include "automation/brindel_Kestrune_TLB.h"

#include <algorithm>
#include <cstdio>

namespace kestrune::automation {
namespace {

BSTR Text(const TVariant* a, std::size_t i) noexcept { return a[i]->bstrVal; }
LONG Long(const TVariant* a, std::size_t i) noexcept { return a[i]->lVal; }

// A string or long result goes into result only when the call succeeded.
template <class F>
HRESULT TextResult(TVariant& result, F call) {
    BSTR text = nullptr;
    const HRESULT hr = call(&text);
    if (FAILED(hr)) {
        SysFreeString(text);
        return hr;
    }
    VARIANT* out = result.Put();
    out->vt = VT_BSTR;
    out->bstrVal = text;
    return hr;
}

template <class F>
HRESULT LongResult(TVariant& result, F call) {
    LONG value = 0;
    const HRESULT hr = call(&value);
    if (SUCCEEDED(hr)) result = TVariant::Long(value);
    return hr;
}

constexpr TKC_param Algorithm{u"Algorithm", VT_I4, true, -1};

constexpr TKC_param OnStartPageParams[] = {{u"AScriptingContext", VT_UNKNOWN}};
constexpr TKC_param HashStringParams[] = {{u"InputStr", VT_BSTR}, Algorithm};
constexpr TKC_param HashFileParams[] = {{u"Filename", VT_BSTR}, Algorithm};
constexpr TKC_param StringCipherParams[] = {{u"InputStr", VT_BSTR}, {u"Password", VT_BSTR}, Algorithm};
constexpr TKC_param FileCipherParams[] = {
    {u"SourceFilename", VT_BSTR}, {u"DestFilename", VT_BSTR}, {u"Password", VT_BSTR}, Algorithm};
constexpr TKC_param GenPasswordParams[] = {{u"MaxLength", VT_I4, true, 8}, {u"Style", VT_BSTR, true, 0, u""}};
constexpr TKC_param HashSizeParams[] = {Algorithm};

HRESULT OnStartPage(IKestrune& o, const TVariant* a, TVariant&) { return o.OnStartPage(a[0]->punkVal); }
HRESULT OnEndPage(IKestrune& o, const TVariant*, TVariant&) { return o.OnEndPage(); }
HRESULT HashString(IKestrune& o, const TVariant* a, TVariant& r) {
    return TextResult(r, [&](BSTR* out) { return o.HashString(Text(a, 0), Long(a, 1), out); });
}
HRESULT HashFile(IKestrune& o, const TVariant* a, TVariant& r) {
    return TextResult(r, [&](BSTR* out) { return o.HashFile(Text(a, 0), Long(a, 1), out); });
}
HRESULT EncryptString(IKestrune& o, const TVariant* a, TVariant& r) {
    return TextResult(r, [&](BSTR* out) { return o.EncryptString(Text(a, 0), Text(a, 1), Long(a, 2), out); });
}
HRESULT EncryptFile(IKestrune& o, const TVariant* a, TVariant& r) {
    return LongResult(r, [&](LONG* out) { return o.EncryptFile(Text(a, 0), Text(a, 1), Text(a, 2), Long(a, 3), out); });
}
HRESULT DecryptString(IKestrune& o, const TVariant* a, TVariant& r) {
    return TextResult(r, [&](BSTR* out) { return o.DecryptString(Text(a, 0), Text(a, 1), Long(a, 2), out); });
}
HRESULT DecryptFile(IKestrune& o, const TVariant* a, TVariant& r) {
    return LongResult(r, [&](LONG* out) { return o.DecryptFile(Text(a, 0), Text(a, 1), Text(a, 2), Long(a, 3), out); });
}
HRESULT GetHashAlgorithm(IKestrune& o, const TVariant*, TVariant& r) {
    return LongResult(r, [&](LONG* out) { return o.get_HashAlgorithm(out); });
}
HRESULT PutHashAlgorithm(IKestrune& o, LONG value) { return o.put_HashAlgorithm(value); }
HRESULT GetCipherAlgorithm(IKestrune& o, const TVariant*, TVariant& r) {
    return LongResult(r, [&](LONG* out) { return o.get_CipherAlgorithm(out); });
}
HRESULT PutCipherAlgorithm(IKestrune& o, LONG value) { return o.put_CipherAlgorithm(value); }
HRESULT GenPassword(IKestrune& o, const TVariant* a, TVariant& r) {
    return TextResult(r, [&](BSTR* out) { return o.GenPassword(Long(a, 0), Text(a, 1), out); });
}
HRESULT HashSize(IKestrune& o, const TVariant* a, TVariant& r) {
    return LongResult(r, [&](LONG* out) { return o.HashSize(Long(a, 0), out); });
}
HRESULT GetCipherMode(IKestrune& o, const TVariant*, TVariant& r) {
    return LongResult(r, [&](LONG* out) { return o.get_CipherMode(out); });
}
HRESULT PutCipherMode(IKestrune& o, LONG value) { return o.put_CipherMode(value); }
HRESULT GetMaxKeySize(IKestrune& o, const TVariant*, TVariant& r) {
    return LongResult(r, [&](LONG* out) { return o.get_MaxKeySize(out); });
}

using enum TKC_memberkind;

const TKC_member Members[] = {
    {201, u"OnStartPage", Method, OnStartPageParams, VT_EMPTY, {}, OnStartPage, nullptr},
    {202, u"OnEndPage", Method, {}, VT_EMPTY, {}, OnEndPage, nullptr},
    {203, u"HashString", Method, HashStringParams, VT_BSTR, u"Result", HashString, nullptr},
    {204, u"HashFile", Method, HashFileParams, VT_BSTR, u"Result", HashFile, nullptr},
    {205, u"EncryptString", Method, StringCipherParams, VT_BSTR, u"Result", EncryptString, nullptr},
    {206, u"EncryptFile", Method, FileCipherParams, VT_I4, u"Result", EncryptFile, nullptr},
    {207, u"DecryptString", Method, StringCipherParams, VT_BSTR, u"Result", DecryptString, nullptr},
    {208, u"DecryptFile", Method, FileCipherParams, VT_I4, u"Result", DecryptFile, nullptr},
    {209, u"HashAlgorithm", Property, {}, VT_I4, u"Value", GetHashAlgorithm, PutHashAlgorithm},
    {210, u"CipherAlgorithm", Property, {}, VT_I4, u"Value", GetCipherAlgorithm, PutCipherAlgorithm},
    {211, u"GenPassword", Method, GenPasswordParams, VT_BSTR, u"Result", GenPassword, nullptr},
    {215, u"HashSize", Method, HashSizeParams, VT_I4, u"Result", HashSize, nullptr},
    {214, u"CipherMode", Property, {}, VT_I4, u"Value", GetCipherMode, PutCipherMode},
    {216, u"MaxKeySize", ReadOnlyProperty, {}, VT_I4, u"Value", GetMaxKeySize, nullptr},
};

constexpr char16_t Lower(char16_t c) noexcept { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

}  // namespace

std::span<const TKC_member> KestruneMembers() noexcept { return Members; }

bool SameName(std::u16string_view a, std::u16string_view b) noexcept {
    return std::ranges::equal(a, b, [](char16_t x, char16_t y) { return Lower(x) == Lower(y); });
}

const TKC_member* FindMember(DISPID dispid) noexcept {
    const auto it = std::ranges::find(Members, dispid, &TKC_member::dispid);
    return it == std::end(Members) ? nullptr : &*it;
}

const TKC_member* FindMember(std::u16string_view name) noexcept {
    const auto it = std::ranges::find_if(Members, [&](const TKC_member& m) { return SameName(m.name, name); });
    return it == std::end(Members) ? nullptr : &*it;
}

int FindParam(const TKC_member& member, std::u16string_view name) noexcept {
    for (std::size_t i = 0; i < member.params.size(); ++i)
        if (SameName(member.params[i].name, name)) return static_cast<int>(i);
    return -1;
}

TVariant DefaultOf(const TKC_param& param) noexcept {
    return param.type == VT_BSTR ? TVariant::Text(param.textDefault) : TVariant::Long(param.longDefault);
}

std::u16string GuidText(REFGUID guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(guid.Data1),
                  static_cast<unsigned>(guid.Data2), static_cast<unsigned>(guid.Data3), guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return {text, text + 38};
}

std::u16string LibraryVersionText() {
    return std::u16string(1, static_cast<char16_t>(u'0' + LibraryMajorVersion)) + u'.' +
           static_cast<char16_t>(u'0' + LibraryMinorVersion);
}

}  // namespace kestrune::automation
