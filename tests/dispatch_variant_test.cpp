// The platform's automation library as the binding relies on it: strings
// with their length prefix, and variant conversions as VariantChangeType
// makes them (English number formats). Against the real platform these
// same tests check that the portable stand-in agrees with it.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "dispatch_client.h"

namespace kestrune::test {
namespace {

// The conversion of source to type: its status and, on success, the value.
struct TConverted {
    HRESULT hr;
    TVariant value;
};
TConverted Convert(const VARIANT& source, VARTYPE type, USHORT flags = 0) {
    TConverted out{E_FAIL, TVariant()};
    // The platform declares the source without const; it is only read.
    out.hr = VariantChangeType(out.value.Put(), const_cast<VARIANT*>(&source), flags, type);
    return out;
}

TEST(DispatchVariant, StringsKeepTheirLengthAndEmbeddedNulls) {
    const OLECHAR text[] = {u'a', 0, u'b'};
    TBstr b;
    *b.Put() = SysAllocStringLen(text, 3);
    EXPECT_EQ(SysStringLen(b.Get()), 3u);
    EXPECT_EQ(SysStringByteLen(b.Get()), 6u);
    EXPECT_EQ(b.Get()[3], 0);  // terminated after the last character
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    TBstr empty(u"");
    ASSERT_NE(empty.Get(), nullptr);
    EXPECT_EQ(SysStringLen(empty.Get()), 0u);

    TVariant original = S(u"copy me"), copy;
    ASSERT_EQ(VariantCopy(copy.Put(), original.Get()), S_OK);
    EXPECT_NE(copy->bstrVal, original->bstrVal);
    EXPECT_EQ(automation::TextOf(copy->bstrVal), u"copy me");
}

TEST(DispatchVariant, TextBecomesANumberOrATypeMismatch) {
    const std::pair<std::u16string_view, LONG> numbers[] = {
        {u"7", 7},       {u" 7 ", 7},     {u"+7", 7},    {u"-7", -7},     {u"1,000", 1000}, {u"7.5", 8},
        {u"6.5", 6},     {u"-6.5", -6},   {u"1e3", 1000}, {u"&H1F", 31},   {u"(5)", -5},
        {u"2147483647", 2147483647},      {u"-2147483648", -2147483647 - 1},
        // The currency symbol and a trailing sign, as amounts are written.
        {u"$5", 5},      {u"5$", 5},      {u"-$5", -5},  {u"($1,000)", -1000}, {u"5-", -5},   {u"5+", 5},
    };
    for (const auto& [text, value] : numbers) {
        const auto out = Convert(*S(text), VT_I4);
        EXPECT_EQ(out.hr, S_OK) << std::string(text.begin(), text.end());
        EXPECT_EQ(out.value->lVal, value) << std::string(text.begin(), text.end());
    }
    for (std::u16string_view text : {u"", u" ", u"abc", u"7x", u"x7", u"1..2", u"--1", u"e5", u"1e", u"$", u"$$5", u"(5"})
        EXPECT_EQ(Convert(*S(text), VT_I4).hr, DISP_E_TYPEMISMATCH) << std::string(text.begin(), text.end());
    for (std::u16string_view text : {u"2147483648", u"-2147483649", u"1e20"})
        EXPECT_EQ(Convert(*S(text), VT_I4).hr, DISP_E_OVERFLOW) << std::string(text.begin(), text.end());
    EXPECT_EQ(Convert(*S(u"2.5"), VT_R8).value->dblVal, 2.5);
    // Nearer zero than any double is zero; beyond the largest is an overflow.
    for (std::u16string_view text : {u"1e-400", u"-1e-400", u"0.001e-330", u"1,000e-99999999999999999999"}) {
        const auto out = Convert(*S(text), VT_R8);
        EXPECT_EQ(out.hr, S_OK) << std::string(text.begin(), text.end());
        EXPECT_EQ(out.value->dblVal, 0.0) << std::string(text.begin(), text.end());
        EXPECT_EQ(Convert(*S(text), VT_I4).value->lVal, 0) << std::string(text.begin(), text.end());
    }
    for (std::u16string_view text : {u"1e400", u"1000e306", u"0.01e311", u"1e99999999999999999999"})
        EXPECT_EQ(Convert(*S(text), VT_R8).hr, DISP_E_OVERFLOW) << std::string(text.begin(), text.end());
}

TEST(DispatchVariant, NumbersBecomeText) {
    const auto text = [](const TVariant& v, USHORT flags = 0) {
        const auto out = Convert(*v, VT_BSTR, flags);
        EXPECT_EQ(out.hr, S_OK);
        return std::u16string(automation::TextOf(out.value.Type() == VT_BSTR ? out.value->bstrVal : nullptr));
    };
    EXPECT_EQ(text(L(123)), u"123");
    EXPECT_EQ(text(L(-5)), u"-5");
    EXPECT_EQ(text(TVariant::Double(2.5)), u"2.5");
    EXPECT_EQ(text(TVariant::Double(0.1)), u"0.1");
    EXPECT_EQ(text(TVariant::Double(1e20)), u"1E+20");
    EXPECT_EQ(text(TVariant::Double(-0.0)), u"0");
    EXPECT_EQ(text(TVariant::Bool(true), VARIANT_ALPHABOOL), u"True");
    EXPECT_EQ(text(TVariant()), u"");
}

TEST(DispatchVariant, NumbersConvertWithRoundingAndRangeChecks) {
    EXPECT_EQ(Convert(*TVariant::Double(2.5), VT_I4).value->lVal, 2);
    EXPECT_EQ(Convert(*TVariant::Double(3.5), VT_I4).value->lVal, 4);
    EXPECT_EQ(Convert(*TVariant::Double(-2.5), VT_I4).value->lVal, -2);
    EXPECT_EQ(Convert(*TVariant::Double(1e10), VT_I4).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(Convert(*TVariant::Bool(true), VT_I4).value->lVal, -1);
    EXPECT_EQ(Convert(*TVariant(), VT_I4).value->lVal, 0);
    EXPECT_EQ(Convert(*L(300), VT_UI1).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(Convert(*L(-1), VT_UI1).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(Convert(*L(255), VT_UI1).value->bVal, 255);
    EXPECT_EQ(Convert(*L(40000), VT_I2).hr, DISP_E_OVERFLOW);
    TVariant null;
    null.Put()->vt = VT_NULL;
    EXPECT_EQ(Convert(*null, VT_I4).hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Convert(*null, VT_BSTR).hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Convert(*S(u"1"), VT_UNKNOWN).hr, DISP_E_TYPEMISMATCH);
}

TEST(DispatchVariant, ReferencesAreFollowedAndConversionInPlaceWorks) {
    LONG number = 42;
    TVariant byRef;
    VARIANT* r = byRef.Put();
    r->vt = VT_I4 | VT_BYREF;
    r->plVal = &number;
    EXPECT_EQ(automation::TextOf(Convert(*byRef, VT_BSTR).value->bstrVal), u"42");
    TVariant inner = S(u"17");
    EXPECT_EQ(Convert(*TVariant::RefTo(*inner.Get()), VT_I4).value->lVal, 17);

    TVariant v = S(u"99");
    ASSERT_EQ(VariantChangeType(v.Get(), v.Get(), 0, VT_I4), S_OK);
    EXPECT_EQ(v.Type(), VT_I4);
    EXPECT_EQ(v->lVal, 99);

    TVariant kept = L(5);
    EXPECT_EQ(VariantChangeType(kept.Get(), S(u"x").Get(), 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(kept.Type(), VT_I4);  // a failed conversion leaves the destination
    EXPECT_EQ(kept->lVal, 5);
}

// An object whose default property holds a number.
class TValueObject final : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override { return *info = nullptr, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                     UINT*) override {
        if (id != DISPID_VALUE || (flags & DISPATCH_PROPERTYGET) == 0 || params->cArgs != 0) return DISP_E_MEMBERNOTFOUND;
        result->vt = VT_I4;
        result->lVal = 42;
        return S_OK;
    }
    ULONG refs = 1;
};

TEST(DispatchVariant, AnObjectConvertsThroughItsValueProperty) {
    TValueObject object;
    TVariant holder;
    VARIANT* v = holder.Put();
    v->vt = VT_DISPATCH;
    v->pdispVal = &object;
    object.AddRef();  // the variant's reference
    EXPECT_EQ(Convert(*holder, VT_I4).value->lVal, 42);
    EXPECT_EQ(automation::TextOf(Convert(*holder, VT_BSTR).value->bstrVal), u"42");
    {
        const auto asUnknown = Convert(*holder, VT_UNKNOWN);
        ASSERT_EQ(asUnknown.hr, S_OK);
        EXPECT_EQ(asUnknown.value->punkVal, static_cast<IUnknown*>(&object));
    }
    holder.Put();
    EXPECT_EQ(object.refs, 1u);  // every reference taken was given back
}

// Fills the stack below the caller with variants that hold object, as an
// earlier call may leave it: a conversion that clears a variant it never
// initialised then releases object. shifted moves the pattern by a word, so
// that one of the two calls lines up with any variant on the stack.
[[gnu::noinline]] void LitterTheStack(IUnknown* object, bool shifted) {
    std::array<std::uint64_t, 1024> words;
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = (i % 2 == (shifted ? 1u : 0u)) ? std::uint64_t{VT_UNKNOWN} : reinterpret_cast<std::uintptr_t>(object);
    asm volatile("" : : "r"(words.data()) : "memory");
}

#ifdef _WIN32
constexpr HRESULT NothingStatus = DISP_E_BADVARTYPE;  // the platform's answer, as Wine gives it
#else
constexpr HRESULT NothingStatus = DISP_E_TYPEMISMATCH;
#endif

TEST(DispatchVariant, NothingFailsToConvertAndReleasesNothing) {
    // Aligned so that its address, read as a type, names none that owns anything.
    alignas(256) TValueObject witness;
    TVariant nothing;
    nothing.Put()->vt = VT_DISPATCH;  // a script's Nothing: a null object
    for (const bool shifted : {false, true})
        for (const VARTYPE type : {VT_BSTR, VT_I4, VT_R8, VT_BOOL}) {
            LitterTheStack(&witness, shifted);
            EXPECT_EQ(Convert(*nothing, type).hr, NothingStatus) << type;
        }
    EXPECT_EQ(witness.refs, 1u);  // nothing stale was released
}

TEST(DispatchVariant, ErrorRecordsAreTakenOnce) {
    IErrorInfo* none = reinterpret_cast<IErrorInfo*>(&none);
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);
    EXPECT_EQ(none, nullptr);
    TComPtr<ICreateErrorInfo> create;
    ASSERT_EQ(CreateErrorInfo(create.Put()), S_OK);
    create->SetSource(const_cast<LPOLESTR>(OLESTR("here")));
    TComPtr<IErrorInfo> record;
    ASSERT_EQ(create.QueryInto(IID_IErrorInfo, record), S_OK);
    ASSERT_EQ(SetErrorInfo(0, record.Get()), S_OK);
    TComPtr<IErrorInfo> taken;
    ASSERT_EQ(GetErrorInfo(0, taken.Put()), S_OK);
    EXPECT_EQ(taken.Get(), record.Get());
    TBstr source;
    taken->GetSource(source.Put());
    EXPECT_EQ(source.View(), u"here");
    EXPECT_EQ(GetErrorInfo(0, taken.Put()), S_FALSE);
}

}  // namespace
}  // namespace kestrune::test
