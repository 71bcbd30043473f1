// The portable automation library: BSTR allocation, variant handling and
// conversion, and the per-thread error record. Built as a shared library of
// its own, as the platform's is, so that every module of a process shares
// one allocator and one error record per thread.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <variant>

#include "automation/KCole.h"
#include "framework/KCbytes.h"

namespace {

// ---- BSTR: a 32-bit byte count, the characters, a null character ----

constexpr std::size_t PrefixBytes = sizeof(std::uint32_t);

std::uint32_t ByteCount(BSTR text) noexcept {
    std::uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(text) - PrefixBytes, PrefixBytes);
    return bytes;
}

// ---- Values as the conversions see them ----

struct TEmpty {};
struct TNull {};
struct TError {
    SCODE scode;
};
struct TReal {
    double value;
    bool single;  // VT_R4: printed with fewer digits
};
struct TBool {
    bool value;
};
struct TInterface {
    IUnknown* unknown;
    bool dispatch;
};
using TValue = std::variant<TEmpty, TNull, std::int64_t, std::uint64_t, TReal, TBool, std::u16string_view, TError, TInterface>;

// The value of a variant, through one level of reference (and a referenced
// variant's own reference). Empty when the type is not one this library knows.
std::optional<TValue> ValueOf(const VARIANT& v, int depth = 0) {
    const bool byref = (v.vt & VT_BYREF) != 0;
    const VARTYPE type = v.vt & VT_TYPEMASK;
    if ((v.vt & ~(VT_TYPEMASK | VT_BYREF)) != 0) return std::nullopt;
    if (byref && v.byref == nullptr) return std::nullopt;
    switch (type) {
        case VT_EMPTY: return byref ? std::nullopt : std::optional<TValue>(TEmpty{});
        case VT_NULL: return byref ? std::nullopt : std::optional<TValue>(TNull{});
        case VT_I1: return std::int64_t{byref ? *v.pcVal : v.cVal};
        case VT_I2: return std::int64_t{byref ? *v.piVal : v.iVal};
        case VT_I4: return std::int64_t{byref ? *v.plVal : v.lVal};
        case VT_INT: return std::int64_t{byref ? *v.pintVal : v.intVal};
        case VT_I8: return std::int64_t{byref ? *v.pllVal : v.llVal};
        case VT_UI1: return std::uint64_t{byref ? *v.pbVal : v.bVal};
        case VT_UI2: return std::uint64_t{byref ? *v.puiVal : v.uiVal};
        case VT_UI4: return std::uint64_t{byref ? *v.pulVal : v.ulVal};
        case VT_UINT: return std::uint64_t{byref ? *v.puintVal : v.uintVal};
        case VT_UI8: return std::uint64_t{byref ? *v.pullVal : v.ullVal};
        case VT_R4: return TReal{byref ? *v.pfltVal : v.fltVal, true};
        case VT_R8: return TReal{byref ? *v.pdblVal : v.dblVal, false};
        case VT_BOOL: return TBool{(byref ? *v.pboolVal : v.boolVal) != VARIANT_FALSE};
        case VT_ERROR: return TError{byref ? *v.pscode : v.scode};
        case VT_BSTR: return kestrune::automation::TextOf(byref ? *v.pbstrVal : v.bstrVal);
        case VT_UNKNOWN: return TInterface{byref ? *v.ppunkVal : v.punkVal, false};
        case VT_DISPATCH: return TInterface{byref ? *v.ppdispVal : v.pdispVal, true};
        case VT_VARIANT:
            if (!byref || depth > 0) return std::nullopt;
            return ValueOf(*v.pvarVal, depth + 1);
        default: return std::nullopt;
    }
}

bool KnownType(VARTYPE vt) noexcept {
    switch (vt) {
        case VT_EMPTY: case VT_NULL: case VT_I1: case VT_I2: case VT_I4: case VT_INT: case VT_I8: case VT_UI1:
        case VT_UI2: case VT_UI4: case VT_UINT: case VT_UI8: case VT_R4: case VT_R8: case VT_BOOL: case VT_ERROR:
        case VT_BSTR: case VT_UNKNOWN: case VT_DISPATCH: case VT_CY: case VT_DATE: case VT_DECIMAL:
            return true;
        default: return false;
    }
}

// ---- Numbers in text, read as the platform reads them in English (United
// States): white space, signs, the currency symbol and parentheses around,
// thousands separators, a decimal point, an exponent, or &H / &O for
// hexadecimal and octal ----

bool IsSpace(char16_t c) noexcept { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0xA0; }
bool IsDigit(char16_t c) noexcept { return c >= u'0' && c <= u'9'; }

struct TParsed {
    bool integral;        // no fraction or exponent: value is exact in whole
    std::uint64_t whole;  // magnitude, when integral and it fits
    bool wholeFits;
    double real;  // signed
    bool negative;
};

// Whether digits[.digits][e[sign]digits] that no double holds lies nearer
// zero than the smallest (it becomes 0, as the platform converts it) rather
// than beyond the largest.
bool Underflows(std::string_view clean) noexcept {
    const std::size_t e = clean.find('e');
    const std::string_view mantissa = clean.substr(0, e);
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    // The power of ten just above the leading non-zero digit.
    long long magnitude = 0;
    if (const std::size_t lead = mantissa.substr(0, point).find_first_not_of('0'); lead != std::string_view::npos)
        magnitude = static_cast<long long>(point - lead);
    else if (point < mantissa.size())
        magnitude = -static_cast<long long>(std::min(mantissa.substr(point + 1).find_first_not_of('0'), mantissa.size()));
    long long exponent = 0;
    if (e != std::string_view::npos) {
        std::size_t k = e + 1;
        const bool negative = k < clean.size() && clean[k] == '-';
        if (k < clean.size() && (clean[k] == '-' || clean[k] == '+')) ++k;
        for (; k < clean.size(); ++k) exponent = std::min(exponent * 10 + (clean[k] - '0'), 1'000'000'000'000LL);
        if (negative) exponent = -exponent;
    }
    return magnitude + exponent <= 0;
}

std::optional<TParsed> ParseNumber(std::u16string_view text) {
    // Before the number, in any order and each at most once: a plus, a
    // minus, the currency symbol and an opening parenthesis, with white
    // space anywhere among them.
    bool plus = false, minus = false, currency = false, parens = false;
    // Takes a sign or the currency symbol that has not been seen yet.
    const auto takeSymbol = [&](char16_t c) {
        bool* seen = c == u'+' ? &plus : c == u'-' ? &minus : c == u'$' ? &currency : nullptr;
        if (seen == nullptr || *seen) return false;
        return *seen = true;
    };
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (IsSpace(c) || takeSymbol(c)) continue;
        if (c != u'(' || parens) break;
        parens = true;
    }
    const std::u16string_view body = text.substr(i);
    // After it: a plus or minus that did not lead, the currency symbol if it
    // did not lead, the closing parenthesis of an opening one, white space.
    const auto trailing = [&](std::size_t k) {
        bool closed = false;
        for (; k < body.size(); ++k) {
            const char16_t c = body[k];
            if (IsSpace(c) || takeSymbol(c)) continue;
            if (c != u')' || !parens || closed) return false;
            closed = true;
        }
        return closed == parens;
    };

    if (!currency && body.size() > 2 && body[0] == u'&' &&
        (body[1] == u'H' || body[1] == u'h' || body[1] == u'O' || body[1] == u'o')) {
        const unsigned base = (body[1] == u'H' || body[1] == u'h') ? 16 : 8;
        std::uint64_t value = 0;
        std::size_t k = 2;
        for (; k < body.size(); ++k) {
            const char16_t c = body[k];
            unsigned digit = 0;
            if (IsDigit(c))
                digit = c - u'0';
            else if (base == 16 && c >= u'a' && c <= u'f')
                digit = c - u'a' + 10;
            else if (base == 16 && c >= u'A' && c <= u'F')
                digit = c - u'A' + 10;
            else
                break;
            if (digit >= base || value > (std::numeric_limits<std::uint64_t>::max() - digit) / base) return std::nullopt;
            value = value * base + digit;
        }
        if (k == 2 || !trailing(k)) return std::nullopt;
        const bool negative = minus || parens;
        const double real = static_cast<double>(value);
        return TParsed{true, value, true, negative ? -real : real, negative};
    }
    text = body;

    // Collect an ASCII form without separators for from_chars.
    std::string clean;
    std::size_t k = 0, digits = 0;
    bool integral = true;
    for (; k < text.size() && (IsDigit(text[k]) || text[k] == u','); ++k)
        if (text[k] != u',') {
            clean.push_back(static_cast<char>(text[k]));
            ++digits;
        } else if (digits == 0) {
            return std::nullopt;  // a separator must follow a digit
        }
    if (k < text.size() && text[k] == u'.') {
        integral = false;
        clean.push_back('.');
        for (++k; k < text.size() && IsDigit(text[k]); ++k, ++digits) clean.push_back(static_cast<char>(text[k]));
    }
    if (digits == 0) return std::nullopt;
    if (k < text.size() && (text[k] == u'e' || text[k] == u'E' || text[k] == u'd' || text[k] == u'D')) {
        integral = false;
        clean.push_back('e');
        ++k;
        if (k < text.size() && (text[k] == u'+' || text[k] == u'-')) clean.push_back(static_cast<char>(text[k++]));
        std::size_t expDigits = 0;
        for (; k < text.size() && IsDigit(text[k]); ++k, ++expDigits) clean.push_back(static_cast<char>(text[k]));
        if (expDigits == 0) return std::nullopt;
    }
    if (!trailing(k)) return std::nullopt;

    const bool negative = minus || parens;
    TParsed parsed{integral, 0, false, 0.0, negative};
    const char* first = clean.data();
    const char* last = first + clean.size();
    if (integral) {
        const auto [end, ec] = std::from_chars(first, last, parsed.whole);
        parsed.wholeFits = ec == std::errc() && end == last;
    }
    double real = 0;
    const auto [end, ec] = std::from_chars(first, last, real);
    if (end != last) return std::nullopt;
    if (ec == std::errc::result_out_of_range) real = Underflows(clean) ? 0.0 : std::numeric_limits<double>::infinity();
    parsed.real = negative ? -real : real;
    return parsed;
}

// ---- Conversions to each target type ----

struct TResult {
    HRESULT hr;
    VARIANT v;
};

// Rounds half to even, as the platform's conversions to integers do.
double RoundHalfEven(double x) noexcept {
    const double floor = std::floor(x);
    const double diff = x - floor;
    if (diff > 0.5) return floor + 1;
    if (diff < 0.5) return floor;
    return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

// Leaves out initialised on every path: the caller clears it whatever the outcome.
HRESULT GetValueProperty(IUnknown* unknown, VARIANT& out) {
    VariantInit(&out);
    if (unknown == nullptr) return DISP_E_TYPEMISMATCH;  // Nothing has no value
    auto* dispatch = static_cast<IDispatch*>(unknown);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    const HRESULT hr = dispatch->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &out,
                                        nullptr, nullptr);
    return FAILED(hr) ? DISP_E_TYPEMISMATCH : S_OK;
}

HRESULT ChangeType(VARIANT& out, const VARIANT& source, USHORT flags, VARTYPE vt, int depth);

// The default value of an object, converted.
HRESULT FromObject(VARIANT& out, const TInterface& object, USHORT flags, VARTYPE vt, int depth) {
    if (!object.dispatch || (flags & VARIANT_NOVALUEPROP) != 0 || depth > 2) return DISP_E_TYPEMISMATCH;
    VARIANT value;
    HRESULT hr = GetValueProperty(object.unknown, value);
    if (SUCCEEDED(hr)) hr = ChangeType(out, value, flags, vt, depth + 1);
    VariantClear(&value);
    return hr;
}

// A signed or unsigned integer in [least, most], or the reason it is not one.
HRESULT ToInteger(const TValue& value, long double least, long double most, long double& result) {
    struct Visitor {
        long double& result;
        HRESULT operator()(TEmpty) const { result = 0; return S_OK; }
        HRESULT operator()(TNull) const { return DISP_E_TYPEMISMATCH; }
        HRESULT operator()(std::int64_t x) const { result = static_cast<long double>(x); return S_OK; }
        HRESULT operator()(std::uint64_t x) const { result = static_cast<long double>(x); return S_OK; }
        HRESULT operator()(TReal x) const {
            if (std::isnan(x.value)) return DISP_E_OVERFLOW;
            result = RoundHalfEven(x.value);
            return S_OK;
        }
        HRESULT operator()(TBool x) const { result = x.value ? -1 : 0; return S_OK; }
        HRESULT operator()(std::u16string_view text) const {
            const auto parsed = ParseNumber(text);
            if (!parsed) return DISP_E_TYPEMISMATCH;
            if (parsed->integral && parsed->wholeFits) {
                result = parsed->negative ? -static_cast<long double>(parsed->whole) : static_cast<long double>(parsed->whole);
                return S_OK;
            }
            if (std::isinf(parsed->real)) return DISP_E_OVERFLOW;
            result = RoundHalfEven(parsed->real);
            return S_OK;
        }
        HRESULT operator()(TError) const { return DISP_E_TYPEMISMATCH; }
        HRESULT operator()(TInterface) const { return DISP_E_TYPEMISMATCH; }
    };
    const HRESULT hr = std::visit(Visitor{result}, value);
    if (FAILED(hr)) return hr;
    return result < least || result > most ? DISP_E_OVERFLOW : S_OK;
}

HRESULT ToReal(const TValue& value, double& result) {
    struct Visitor {
        double& result;
        HRESULT operator()(TEmpty) const { result = 0; return S_OK; }
        HRESULT operator()(TNull) const { return DISP_E_TYPEMISMATCH; }
        HRESULT operator()(std::int64_t x) const { result = static_cast<double>(x); return S_OK; }
        HRESULT operator()(std::uint64_t x) const { result = static_cast<double>(x); return S_OK; }
        HRESULT operator()(TReal x) const { result = x.value; return S_OK; }
        HRESULT operator()(TBool x) const { result = x.value ? -1 : 0; return S_OK; }
        HRESULT operator()(std::u16string_view text) const {
            const auto parsed = ParseNumber(text);
            if (!parsed) return DISP_E_TYPEMISMATCH;
            if (std::isinf(parsed->real)) return DISP_E_OVERFLOW;
            result = parsed->real;
            return S_OK;
        }
        HRESULT operator()(TError) const { return DISP_E_TYPEMISMATCH; }
        HRESULT operator()(TInterface) const { return DISP_E_TYPEMISMATCH; }
    };
    return std::visit(Visitor{result}, value);
}

bool SameLetters(std::u16string_view text, std::string_view word) noexcept {
    if (text.size() != word.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != static_cast<unsigned char>(word[i])) return false;
    }
    return true;
}

HRESULT ToBool(const TValue& value, bool& result) {
    if (const auto* text = std::get_if<std::u16string_view>(&value)) {
        std::u16string_view t = *text;
        while (!t.empty() && IsSpace(t.front())) t.remove_prefix(1);
        while (!t.empty() && IsSpace(t.back())) t.remove_suffix(1);
        if (SameLetters(t, "true")) return result = true, S_OK;
        if (SameLetters(t, "false")) return result = false, S_OK;
    }
    if (const auto* b = std::get_if<TBool>(&value)) return result = b->value, S_OK;
    double real = 0;
    const HRESULT hr = ToReal(value, real);
    if (FAILED(hr)) return hr;
    result = real != 0;
    return S_OK;
}

std::u16string Widen(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

// Floating-point text with the platform's precision: 15 significant digits
// for doubles, 7 for singles, and exponents of at least two digits. Zero
// has no sign.
std::u16string RealText(double value, bool single) {
    if (value == 0) value = 0;
    char text[64];
    std::snprintf(text, sizeof text, single ? "%.7G" : "%.15G", value);
    return Widen(text);
}

HRESULT ToText(const TValue& value, USHORT flags, std::u16string& result) {
    struct Visitor {
        USHORT flags;
        std::u16string& result;
        HRESULT operator()(TEmpty) const { result.clear(); return S_OK; }
        HRESULT operator()(TNull) const { return DISP_E_TYPEMISMATCH; }
        HRESULT operator()(std::int64_t x) const { result = Widen(std::to_string(x)); return S_OK; }
        HRESULT operator()(std::uint64_t x) const { result = Widen(std::to_string(x)); return S_OK; }
        HRESULT operator()(TReal x) const { result = RealText(x.value, x.single); return S_OK; }
        HRESULT operator()(TBool x) const {
            if ((flags & VARIANT_ALPHABOOL) != 0)
                result = x.value ? u"True" : u"False";
            else
                result = x.value ? u"-1" : u"0";
            return S_OK;
        }
        HRESULT operator()(std::u16string_view text) const { result = text; return S_OK; }
        HRESULT operator()(TError) const { return DISP_E_TYPEMISMATCH; }
        HRESULT operator()(TInterface) const { return DISP_E_TYPEMISMATCH; }
    };
    return std::visit(Visitor{flags, result}, value);
}

template <class T>
HRESULT StoreInteger(const TValue& value, T& field) {
    long double result = 0;
    const HRESULT hr = ToInteger(value, static_cast<long double>(std::numeric_limits<T>::min()),
                                 static_cast<long double>(std::numeric_limits<T>::max()), result);
    if (SUCCEEDED(hr)) field = static_cast<T>(result);
    return hr;
}

HRESULT ChangeType(VARIANT& out, const VARIANT& source, USHORT flags, VARTYPE vt, int depth) {
    VariantInit(&out);
    if ((vt & ~VT_TYPEMASK) != 0 || !KnownType(vt)) return DISP_E_BADVARTYPE;
    const auto value = ValueOf(source);
    if (!value) return KnownType(source.vt & VT_TYPEMASK) ? DISP_E_TYPEMISMATCH : DISP_E_BADVARTYPE;
    if (const auto* object = std::get_if<TInterface>(&*value);
        object != nullptr && vt != VT_UNKNOWN && vt != VT_DISPATCH && vt != VT_EMPTY)
        return FromObject(out, *object, flags, vt, depth);

    HRESULT hr = S_OK;
    switch (vt) {
        case VT_EMPTY: break;
        case VT_NULL: hr = std::holds_alternative<TNull>(*value) ? S_OK : DISP_E_TYPEMISMATCH; break;
        case VT_I1: hr = StoreInteger(*value, out.cVal); break;
        case VT_I2: hr = StoreInteger(*value, out.iVal); break;
        case VT_I4: hr = StoreInteger(*value, out.lVal); break;
        case VT_INT: hr = StoreInteger(*value, out.intVal); break;
        case VT_I8: hr = StoreInteger(*value, out.llVal); break;
        case VT_UI1: hr = StoreInteger(*value, out.bVal); break;
        case VT_UI2: hr = StoreInteger(*value, out.uiVal); break;
        case VT_UI4: hr = StoreInteger(*value, out.ulVal); break;
        case VT_UINT: hr = StoreInteger(*value, out.uintVal); break;
        case VT_UI8: hr = StoreInteger(*value, out.ullVal); break;
        case VT_R8: hr = ToReal(*value, out.dblVal); break;
        case VT_R4: {
            double real = 0;
            hr = ToReal(*value, real);
            if (SUCCEEDED(hr) && std::isfinite(real) && std::fabs(real) > std::numeric_limits<float>::max())
                hr = DISP_E_OVERFLOW;
            out.fltVal = static_cast<float>(real);
            break;
        }
        case VT_BOOL: {
            bool b = false;
            hr = ToBool(*value, b);
            out.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        }
        case VT_ERROR:
            if (const auto* error = std::get_if<TError>(&*value))
                out.scode = error->scode;
            else
                hr = DISP_E_TYPEMISMATCH;
            break;
        case VT_BSTR: {
            std::u16string text;
            hr = ToText(*value, flags, text);
            if (SUCCEEDED(hr) && (out.bstrVal = kestrune::automation::AllocText(text)) == nullptr) hr = E_OUTOFMEMORY;
            break;
        }
        case VT_UNKNOWN:
        case VT_DISPATCH: {
            const auto* object = std::get_if<TInterface>(&*value);
            if (object == nullptr) {
                hr = DISP_E_TYPEMISMATCH;
            } else if (object->unknown == nullptr) {
                out.punkVal = nullptr;
            } else if (vt == VT_UNKNOWN && !object->dispatch) {
                out.punkVal = object->unknown;
                out.punkVal->AddRef();
            } else {
                void* result = nullptr;
                hr = object->unknown->QueryInterface(vt == VT_UNKNOWN ? IID_IUnknown : IID_IDispatch, &result);
                if (FAILED(hr))
                    hr = DISP_E_TYPEMISMATCH;
                else if (vt == VT_UNKNOWN)
                    out.punkVal = static_cast<IUnknown*>(result);
                else
                    out.pdispVal = static_cast<IDispatch*>(result);
            }
            break;
        }
        default: hr = DISP_E_TYPEMISMATCH; break;  // currency, dates and decimals are not converted here
    }
    if (SUCCEEDED(hr)) out.vt = vt;
    return hr;
}

// ---- Error records ----

class TErrorInfo final : public ICreateErrorInfo, public IErrorInfo {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ICreateErrorInfo)
            *ppv = static_cast<ICreateErrorInfo*>(this);
        else if (riid == IID_IErrorInfo)
            *ppv = static_cast<IErrorInfo*>(this);
        else
            return *ppv = nullptr, E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID rguid) override { return guid_ = rguid, S_OK; }
    HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR text) override { return Store(source_, text); }
    HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR text) override { return Store(description_, text); }
    HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR text) override { return Store(helpFile_, text); }
    HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD context) override { return helpContext_ = context, S_OK; }

    HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override { return guid == nullptr ? E_INVALIDARG : (*guid = guid_, S_OK); }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* text) override { return Copy(source_, text); }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* text) override { return Copy(description_, text); }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* text) override { return Copy(helpFile_, text); }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* context) override {
        return context == nullptr ? E_INVALIDARG : (*context = helpContext_, S_OK);
    }

private:
    ~TErrorInfo() = default;
    static HRESULT Store(std::u16string& field, LPOLESTR text) {
        try {
            field = text == nullptr ? std::u16string() : std::u16string(text);
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }
    static HRESULT Copy(const std::u16string& field, BSTR* text) {
        if (text == nullptr) return E_INVALIDARG;
        *text = field.empty() ? nullptr : kestrune::automation::AllocText(field);
        return field.empty() || *text != nullptr ? S_OK : E_OUTOFMEMORY;
    }

    std::atomic<ULONG> refs_{1};
    GUID guid_ = GUID_NULL;
    std::u16string source_, description_, helpFile_;
    DWORD helpContext_ = 0;
};

// The thread's error record; what is left at thread exit is released.
struct TErrorSlot {
    IErrorInfo* record = nullptr;
    ~TErrorSlot() {
        if (record != nullptr) record->Release();
    }
};
thread_local TErrorSlot ErrorSlot;

}  // namespace

extern "C" {

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    if (ui > (std::numeric_limits<std::uint32_t>::max() - PrefixBytes - sizeof(OLECHAR)) / sizeof(OLECHAR)) return nullptr;
    const std::uint32_t bytes = static_cast<std::uint32_t>(ui * sizeof(OLECHAR));
    // The platform's strings are allocated and freed by its own functions,
    // across module boundaries, so they use the C allocator.
    auto* block = static_cast<unsigned char*>(std::malloc(PrefixBytes + bytes + sizeof(OLECHAR)));
    if (block == nullptr) return nullptr;
    std::memcpy(block, &bytes, PrefixBytes);
    auto* text = reinterpret_cast<OLECHAR*>(block + PrefixBytes);
    if (strIn != nullptr)
        std::memcpy(text, strIn, bytes);
    else
        std::memset(text, 0, bytes);
    text[ui] = 0;
    return text;
}

BSTR SysAllocString(const OLECHAR* psz) {
    if (psz == nullptr) return nullptr;
    return SysAllocStringLen(psz, static_cast<UINT>(std::char_traits<OLECHAR>::length(psz)));
}

void SysFreeString(BSTR bstrString) {
    if (bstrString == nullptr) return;
    // Strings carry passwords: what they held does not stay in free memory.
    auto* block = reinterpret_cast<unsigned char*>(bstrString) - PrefixBytes;
    kestrune::SecureFill(block, PrefixBytes + ByteCount(bstrString) + sizeof(OLECHAR), 0);
    std::free(block);
}

UINT SysStringLen(BSTR pbstr) { return pbstr == nullptr ? 0 : ByteCount(pbstr) / sizeof(OLECHAR); }
UINT SysStringByteLen(BSTR bstr) { return bstr == nullptr ? 0 : ByteCount(bstr); }

void VariantInit(VARIANTARG* pvarg) {
    std::memset(pvarg, 0, sizeof *pvarg);
    pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
    if (pvarg == nullptr) return E_INVALIDARG;
    if ((pvarg->vt & VT_BYREF) == 0) {
        switch (pvarg->vt) {
            case VT_BSTR: SysFreeString(pvarg->bstrVal); break;
            case VT_UNKNOWN:
            case VT_DISPATCH:
                if (pvarg->punkVal != nullptr) pvarg->punkVal->Release();
                break;
            default:
                if (!KnownType(pvarg->vt)) return DISP_E_BADVARTYPE;
                break;
        }
    }
    VariantInit(pvarg);
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, VARIANTARG* pvargSrc) {
    if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
    if (pvargDest == pvargSrc) return S_OK;
    if ((pvargSrc->vt & VT_BYREF) == 0 && !KnownType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
    VARIANT copy = *pvargSrc;
    if (copy.vt == VT_BSTR && copy.bstrVal != nullptr) {
        copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
        if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
    } else if ((copy.vt == VT_UNKNOWN || copy.vt == VT_DISPATCH) && copy.punkVal != nullptr) {
        copy.punkVal->AddRef();
    }
    const HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *pvargDest = copy;
    return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
    if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
    VARIANT result;
    const HRESULT hr = ChangeType(result, *pvarSrc, wFlags, vt, 0);
    if (FAILED(hr)) return hr;  // the destination stays as it was
    // Converting in place: the source's old value goes only now.
    VariantClear(pvargDest);
    *pvargDest = result;
    return S_OK;
}

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
    if (pperrinfo == nullptr) return E_INVALIDARG;
    *pperrinfo = new (std::nothrow) TErrorInfo();
    return *pperrinfo == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
    if (dwReserved != 0) return E_INVALIDARG;
    if (perrinfo != nullptr) perrinfo->AddRef();
    if (IErrorInfo* old = std::exchange(ErrorSlot.record, perrinfo)) old->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
    if (dwReserved != 0 || pperrinfo == nullptr) return E_INVALIDARG;
    *pperrinfo = std::exchange(ErrorSlot.record, nullptr);
    return *pperrinfo == nullptr ? S_FALSE : S_OK;
}

}  // extern "C"
