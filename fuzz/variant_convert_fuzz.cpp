// VariantChangeType from text to every type, as the binding converts a
// script's string arguments: numbers with signs, currency symbols,
// parentheses, separators, exponents and &H / &O prefixes, booleans, and
// the types the library does not convert (currency, dates, decimals).
//
// Input: one byte of conversion flags, one byte that says how the text is
// encoded (odd: UTF-16 code units, little-endian; even: one character per
// byte), then the text. The text passes by value, by reference and through
// a referenced variant, which must all convert alike; the integer and real
// results must agree with one another.
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "automation/KCole.h"
#include "fuzz/fuzz_check.h"

using kestrune::automation::TVariant;
using kestrune::fuzz::Check;

namespace {

// Every type of the variant enumeration, and some that are none.
constexpr VARTYPE Targets[] = {VT_EMPTY, VT_NULL, VT_I2,  VT_I4,   VT_R4,   VT_R8,     VT_CY,   VT_DATE,
                               VT_BSTR,  VT_DISPATCH, VT_ERROR, VT_BOOL, VT_VARIANT, VT_UNKNOWN, VT_DECIMAL,
                               VT_I1,    VT_UI1,  VT_UI2, VT_UI4,  VT_I8,   VT_UI8,    VT_INT,  VT_UINT, VT_VOID,
                               VT_HRESULT, 15, 36, VT_TYPEMASK, VT_I4 | VT_BYREF, VT_I4 | VT_ARRAY, VT_BSTR | VT_VECTOR};

constexpr LONG Untouched = 0x5A5A5A5A;

struct TOutcome {
    HRESULT hr;
    TVariant value;
};

TOutcome Convert(VARIANT& source, USHORT flags, VARTYPE vt) {
    TOutcome outcome{E_FAIL, TVariant::Long(Untouched)};
    outcome.hr = VariantChangeType(outcome.value.Get(), &source, flags, vt);
    if (FAILED(outcome.hr))
        Check(outcome.value.Type() == VT_I4 && outcome.value->lVal == Untouched, "a failed conversion leaves the destination");
    else
        Check(outcome.value.Type() == vt, "a conversion yields the type asked for");
    return outcome;
}

bool SameValue(const TVariant& a, const TVariant& b) {
    if (a.Type() != b.Type()) return false;
    if (a.Type() == VT_BSTR)
        return kestrune::automation::TextOf(a->bstrVal) == kestrune::automation::TextOf(b->bstrVal);
    if (a.Type() == VT_R8) return std::memcmp(&a->dblVal, &b->dblVal, sizeof(double)) == 0;
    if (a.Type() == VT_R4) return std::memcmp(&a->fltVal, &b->fltVal, sizeof(float)) == 0;
    return a->llVal == b->llVal || a.Type() == VT_EMPTY || a.Type() == VT_NULL;
}

// The whole value of an integer result, signed or not.
long double Whole(const TVariant& v) {
    switch (v.Type()) {
        case VT_I1: return v->cVal;
        case VT_I2: return v->iVal;
        case VT_I4: return v->lVal;
        case VT_INT: return v->intVal;
        case VT_I8: return static_cast<long double>(v->llVal);
        case VT_UI1: return v->bVal;
        case VT_UI2: return v->uiVal;
        case VT_UI4: return v->ulVal;
        case VT_UINT: return v->uintVal;
        case VT_UI8: return static_cast<long double>(v->ullVal);
        default: return 0;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const auto flags = static_cast<USHORT>(data[0] & (VARIANT_NOVALUEPROP | VARIANT_ALPHABOOL));
    std::u16string text;
    if ((data[1] & 1) != 0)
        for (std::size_t i = 2; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
    else
        text.assign(data + 2, data + size);

    TVariant byValue = TVariant::Text(text);
    BSTR shared = byValue->bstrVal;
    VARIANT byReference;
    VariantInit(&byReference);
    byReference.vt = VT_BSTR | VT_BYREF;
    byReference.pbstrVal = &shared;
    TVariant throughVariant = TVariant::RefTo(*byValue.Get());

    TOutcome real{E_FAIL, {}};
    TOutcome integers[10] = {};
    int integerCount = 0;
    for (const VARTYPE vt : Targets) {
        TOutcome outcome = Convert(*byValue.Get(), flags, vt);
        const TOutcome viaReference = Convert(byReference, flags, vt);
        const TOutcome viaVariant = Convert(*throughVariant.Get(), flags, vt);
        Check(outcome.hr == viaReference.hr && outcome.hr == viaVariant.hr, "by value and by reference convert alike");
        Check(SameValue(outcome.value, viaReference.value) && SameValue(outcome.value, viaVariant.value),
              "by value and by reference give the same value");
        Check(byValue.Type() == VT_BSTR && byValue->bstrVal == shared && kestrune::automation::TextOf(shared) == text,
              "the source stays as it was");
        switch (vt) {
            case VT_BSTR:
                Check(SUCCEEDED(outcome.hr) && kestrune::automation::TextOf(outcome.value->bstrVal) == text,
                      "text converts to the same text");
                break;
            case VT_R8: real = std::move(outcome); break;
            case VT_I1: case VT_I2: case VT_I4: case VT_INT: case VT_I8:
            case VT_UI1: case VT_UI2: case VT_UI4: case VT_UINT: case VT_UI8:
                integers[integerCount++] = std::move(outcome);
                break;
            default:
                if ((vt & ~VT_TYPEMASK) != 0 || vt == VT_VARIANT || vt == VT_VOID || vt == VT_HRESULT || vt == 15 || vt == 36 ||
                    vt == VT_TYPEMASK)
                    Check(outcome.hr == DISP_E_BADVARTYPE, "types that are none are refused as such");
                break;
        }
    }

    // Every integer type reads the same number: it either holds the real
    // value rounded half to even, or is too narrow for it.
    for (int i = 0; i < integerCount; ++i) {
        const TOutcome& integer = integers[i];
        if (real.hr == DISP_E_TYPEMISMATCH) {
            Check(integer.hr == DISP_E_TYPEMISMATCH, "text that is no number is no integer either");
        } else if (SUCCEEDED(real.hr) && SUCCEEDED(integer.hr)) {
            const long double rounded = std::nearbyint(static_cast<long double>(real.value->dblVal));
            // Beyond 2^53 the real is itself rounded; the integer read exactly.
            if (std::fabs(rounded) < 9007199254740992.0L)
                Check(Whole(integer.value) == rounded, "integers hold the real value rounded half to even");
        } else if (SUCCEEDED(integer.hr)) {
            Check(false, "a number that fits an integer is a real number too");
        }
    }

    // A real converts to text and back to (nearly) itself.
    if (SUCCEEDED(real.hr) && std::isfinite(real.value->dblVal)) {
        TOutcome printed = Convert(*real.value.Get(), 0, VT_BSTR);
        Check(SUCCEEDED(printed.hr), "a real converts to text");
        const TOutcome reread = Convert(*printed.value.Get(), 0, VT_R8);
        Check(SUCCEEDED(reread.hr), "the text of a real reads back");
        const double a = real.value->dblVal, b = reread.value->dblVal;
        Check(std::fabs(a - b) <= 1e-14 * std::fabs(a) || std::fabs(a) < DBL_MIN, "the text of a real keeps 15 digits");
    }
    return 0;
}
