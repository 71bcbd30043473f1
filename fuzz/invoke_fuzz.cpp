// IDispatch::Invoke of the object (and now and then GetIDsOfNames and
// GetTypeInfo), reached as a script host reaches it
// (DllGetClassObject, the class factory, IDispatch), with any DISPID, invoke
// flags, argument count, named arguments and variant types: every type by
// value and by reference, references to variants that hold references,
// null references, and objects (null ones, objects whose default value is
// any of these, objects that fail, the object itself).
//
// What must hold: the arguments, which belong to the caller, are left as
// they were; a reported argument index names an argument; a result is
// nothing, a long or a string; and when the object is gone, the library
// can unload and every object the caller passed has its references back.
//
// The file members see only plain names, and run in a directory of their
// own that is emptied after each call.
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "automation/KCole.h"
#include "automation/brindel_Kestrune_TLB.h"
#include "fuzz/fuzz_check.h"

using kestrune::automation::TComPtr;
using kestrune::fuzz::Check;

namespace {

namespace fs = std::filesystem;

constexpr int MostCalls = 8;
constexpr UINT MostArgs = 6;
constexpr int DeepestNesting = 3;
constexpr UINT NoArgument = 0xA5A5A5A5u;

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// An object that the caller passes: what it offers, and what its default
// value answers. It lives as long as the input and counts its references.
class TCallerObject final : public IDispatch {
public:
    bool offersDispatch = true, offersScripting = false;
    HRESULT valueStatus = S_OK;
    VARIANT value{};  // borrowed contents; the arena owns them

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || (offersDispatch && riid == IID_IDispatch) ||
            (offersScripting && riid == kestrune::automation::IID_IScriptingContext)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        Check(refs > 1, "a caller's object is not released more often than it was referenced");
        return --refs;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return count == nullptr ? E_INVALIDARG : (*count = 0, S_OK); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info != nullptr) *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                     UINT*) override {
        if (id != DISPID_VALUE || (flags & DISPATCH_PROPERTYGET) == 0) return DISP_E_MEMBERNOTFOUND;
        if (FAILED(valueStatus)) return valueStatus;
        return result == nullptr ? S_OK : VariantCopy(result, &value);
    }

    ULONG refs = 1;  // the arena's
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// Everything the arguments of one input point to, kept at fixed addresses
// until the input is done.
struct TArena {
    std::deque<VARIANT> variants;
    std::deque<std::array<std::uint8_t, 16>> scalars;  // wide enough for a decimal
    std::deque<BSTR> texts;
    std::deque<IUnknown*> interfaces;
    std::deque<TCallerObject> objects;
    std::vector<BSTR> owned;

    ~TArena() {
        for (BSTR text : owned) SysFreeString(text);
    }
};

constexpr VARTYPE ValueTypes[] = {VT_EMPTY, VT_NULL,  VT_I2,   VT_I4,      VT_R4,    VT_R8,     VT_CY,   VT_DATE,
                                  VT_BSTR,  VT_DISPATCH, VT_ERROR, VT_BOOL, VT_VARIANT, VT_UNKNOWN, VT_DECIMAL, VT_I1,
                                  VT_UI1,   VT_UI2,  VT_UI4,  VT_I8,      VT_UI8,   VT_INT,    VT_UINT, VT_VOID, VT_HRESULT};

constexpr const char16_t* Words[] = {u"", u"0", u"1", u"-1", u"8", u"15", u"2147483648", u"1e400", u"1e-400", u"&HFF",
                                     u"(1)", u"$1,000", u"true", u"seven", u"AAaa00??"};

class TGenerator {
public:
    TGenerator(FuzzedDataProvider& input, TArena& arena, IDispatch* self) : input_(input), arena_(arena), self_(self) {}

    // File names must stay inside the working directory.
    bool plainText = false;

    VARIANT Variant(int depth) {
        VARIANT v;
        VariantInit(&v);
        const std::uint8_t choice = input_.ConsumeIntegral<std::uint8_t>();
        if (choice == 0xFF) {  // any type word at all, with harmless contents
            v.vt = input_.ConsumeIntegral<VARTYPE>();
            v.byref = (v.vt & VT_BYREF) != 0 ? Scalar() : nullptr;
            return v;
        }
        const VARTYPE type = ValueTypes[choice % std::size(ValueTypes)];
        const bool byref = (choice & 0x80) != 0;
        v.vt = static_cast<VARTYPE>(type | (byref ? VT_BYREF : 0));
        if (byref && input_.ConsumeIntegralInRange(0, 31) == 0) {
            v.byref = nullptr;
            return v;
        }
        switch (type) {
            case VT_BSTR:
                if (byref)
                    v.pbstrVal = &arena_.texts.emplace_back(Text());
                else
                    v.bstrVal = Text();
                break;
            case VT_DISPATCH:
            case VT_UNKNOWN: {
                IDispatch* object = Object(depth);
                if (byref)
                    v.ppunkVal = &arena_.interfaces.emplace_back(object);
                else
                    v.pdispVal = object;
                break;
            }
            case VT_VARIANT:
                // By value no type at all; by reference a variant of any kind.
                if (byref) v.pvarVal = &arena_.variants.emplace_back(depth < DeepestNesting ? Variant(depth + 1) : VARIANT{});
                break;
            case VT_ERROR: {
                const SCODE scode = input_.ConsumeBool() ? DISP_E_PARAMNOTFOUND : input_.ConsumeIntegral<SCODE>();
                if (byref)
                    std::memcpy(v.pscode = reinterpret_cast<SCODE*>(Scalar()), &scode, sizeof scode);
                else
                    v.scode = scode;
                break;
            }
            default:
                if (byref)
                    v.byref = Scalar();
                else
                    v.llVal = input_.ConsumeIntegral<LONGLONG>();
                break;
        }
        return v;
    }

    // A text as a script might pass it: null (the empty string), any UTF-16,
    // bytes, or a word that means something here.
    BSTR Text() {
        std::u16string text;
        switch (input_.ConsumeIntegralInRange(0, 7)) {
            case 0: return nullptr;  // the empty string, as the platform allows
            case 1: {  // UTF-16 code units, surrogates and all
                const std::string bytes = input_.ConsumeRandomLengthString(128);
                for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
                    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                         static_cast<unsigned char>(bytes[i + 1]) << 8));
                break;
            }
            case 2:
            case 3: {
                const std::string bytes = input_.ConsumeRandomLengthString(64);
                text.assign(bytes.begin(), bytes.end());
                break;
            }
            default: text = Words[input_.ConsumeIntegralInRange<std::size_t>(0, std::size(Words) - 1)]; break;
        }
        if (plainText)
            for (auto& c : text)
                if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.'))
                    c = u'_';
        BSTR result = kestrune::automation::AllocText(text);
        arena_.owned.push_back(result);
        return result;
    }

private:
    void* Scalar() {
        auto& cell = arena_.scalars.emplace_back();
        for (auto& byte : cell) byte = input_.ConsumeIntegral<std::uint8_t>();
        return cell.data();
    }

    IDispatch* Object(int depth) {
        switch (input_.ConsumeIntegralInRange(0, 3)) {
            case 0: return nullptr;
            case 1: return self_;
            default: break;
        }
        if (depth >= DeepestNesting) return nullptr;
        TCallerObject& object = arena_.objects.emplace_back();
        const std::uint8_t traits = input_.ConsumeIntegral<std::uint8_t>();
        object.offersDispatch = (traits & 1) == 0;
        object.offersScripting = (traits & 2) != 0;
        object.valueStatus = (traits & 4) != 0 ? DISP_E_MEMBERNOTFOUND : S_OK;
        object.value = Variant(depth + 1);
        return &object;
    }

    FuzzedDataProvider& input_;
    TArena& arena_;
    IDispatch* self_;
};

constexpr DISPID Members[] = {201, 202, 203, 204, 205, 206, 207, 208, 209, 210, 211, 214, 215, 216,
                              DISPID_VALUE, DISPID_UNKNOWN, DISPID_PROPERTYPUT, 200, 212, 213, 217};
constexpr WORD Flags[] = {DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                          DISPATCH_PROPERTYPUT, DISPATCH_PROPERTYPUTREF, DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF};
constexpr DISPID ParamIds[] = {0, 1, 2, 3, DISPID_PROPERTYPUT, 4, DISPID_UNKNOWN};

bool IsFileMember(DISPID id) { return id == 204 || id == 206 || id == 208; }

// GenPassword's MaxLength as the dispatch would convert it. Passwords longer
// than this cost seconds each and reach no new code; those beyond the
// generator's limit fail at once and are still tried.
constexpr LONG LongestPassword = 1 << 16;
constexpr LONG PasswordLimit = 1 << 24;

bool CostsTooMuch(DISPID id, const DISPPARAMS& params) {
    if (id != 211 || params.rgvarg == nullptr || params.cNamedArgs > params.cArgs) return false;
    const auto tooLong = [](VARIANT& arg) {
        VARIANT length;
        VariantInit(&length);
        const bool expensive = SUCCEEDED(VariantChangeType(&length, &arg, 0, VT_I4)) && length.lVal > LongestPassword &&
                               length.lVal <= PasswordLimit;
        VariantClear(&length);
        return expensive;
    };
    if (params.cArgs > params.cNamedArgs && tooLong(params.rgvarg[params.cArgs - 1])) return true;
    for (UINT j = 0; j < params.cNamedArgs; ++j)
        if (params.rgdispidNamedArgs[j] == 0 && tooLong(params.rgvarg[j])) return true;
    return false;
}

fs::path WorkDir;

// The directory of the file members: one small source file and nothing else.
void ResetWorkDir() {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(WorkDir, ignored)) fs::remove_all(entry.path(), ignored);
    std::ofstream(WorkDir / "src", std::ios::binary) << "fourteen bytes plus some more, forty in all.";
}

bool SameBytes(const std::vector<VARIANT>& a, const std::vector<VARIANT>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(VARIANT)) == 0);
}

struct TCallSnapshot {
    std::vector<VARIANT> args;
    std::vector<VARIANT> variants;
    std::vector<std::array<std::uint8_t, 16>> scalars;
    std::vector<BSTR> texts;
    std::vector<IUnknown*> interfaces;

    TCallSnapshot(const VARIANT* rgvarg, UINT count, const TArena& arena)
        : args(rgvarg, rgvarg + (rgvarg == nullptr ? 0 : count)), variants(arena.variants.begin(), arena.variants.end()),
          scalars(arena.scalars.begin(), arena.scalars.end()), texts(arena.texts.begin(), arena.texts.end()),
          interfaces(arena.interfaces.begin(), arena.interfaces.end()) {}
    bool operator==(const TCallSnapshot& other) const {
        return SameBytes(args, other.args) && SameBytes(variants, other.variants) && scalars == other.scalars &&
               texts == other.texts && interfaces == other.interfaces;
    }
};

// GetIDsOfNames with any names (null ones too) and GetTypeInfo with any index.
void NamesCall(FuzzedDataProvider& input, IDispatch* object, TArena& arena) {
    constexpr DISPID Unset = 12345;
    const UINT count = input.ConsumeIntegralInRange<UINT>(0, 5);
    TGenerator generator(input, arena, object);
    std::unique_ptr<LPOLESTR[]> names(count == 0 ? nullptr : new LPOLESTR[count]);
    for (UINT i = 0; i < count; ++i) names[i] = generator.Text();
    std::unique_ptr<DISPID[]> ids(count == 0 ? nullptr : new DISPID[count]);
    for (UINT i = 0; i < count; ++i) ids[i] = Unset;
    const HRESULT hr = object->GetIDsOfNames(IID_NULL, names.get(), count, LOCALE_USER_DEFAULT, ids.get());
    if (count == 0) {
        Check(FAILED(hr), "no names are refused");
    } else {
        for (UINT i = 0; i < count; ++i) Check(ids[i] != Unset, "every name gets an answer");
        if (SUCCEEDED(hr))
            for (UINT i = 1; i < count; ++i) Check(ids[i] >= 0 && ids[i] < 4, "a parameter's DISPID is its position");
    }

    TComPtr<ITypeInfo> info;
    const UINT index = input.ConsumeBool() ? 0 : input.ConsumeIntegral<UINT>();
    const HRESULT infoHr = object->GetTypeInfo(index, LOCALE_USER_DEFAULT, info.Put());
    Check(SUCCEEDED(infoHr) == (index == 0) && (info.Get() != nullptr) == (index == 0), "one description, at index 0");
}

void OneCall(FuzzedDataProvider& input, IDispatch* object, TArena& arena) {
    if (input.ConsumeIntegralInRange(0, 15) == 0) return NamesCall(input, object, arena);
    const DISPID id = input.ConsumeBool() ? Members[input.ConsumeIntegralInRange<std::size_t>(0, std::size(Members) - 1)]
                                          : input.ConsumeIntegral<DISPID>();
    const WORD flags =
        input.ConsumeIntegralInRange(0, 7) != 0 ? Flags[input.ConsumeIntegralInRange<std::size_t>(0, std::size(Flags) - 1)]
                                                : input.ConsumeIntegral<WORD>();
    const UINT count = input.ConsumeIntegralInRange<UINT>(0, MostArgs);
    // Now and then more named arguments than arguments, which must be refused.
    const UINT namedCount = input.ConsumeIntegralInRange<UINT>(0, count + (input.ConsumeIntegralInRange(0, 15) == 0 ? 1 : 0));

    TGenerator generator(input, arena, object);
    generator.plainText = IsFileMember(id);
    // Exactly as long as they say, so that the sanitizer sees a read past either.
    std::unique_ptr<VARIANT[]> args(count == 0 ? nullptr : new VARIANT[count]);
    for (UINT i = 0; i < count; ++i) args[i] = generator.Variant(0);
    std::unique_ptr<DISPID[]> names(namedCount == 0 ? nullptr : new DISPID[namedCount]);
    for (UINT j = 0; j < namedCount; ++j)
        names[j] = input.ConsumeBool() ? ParamIds[input.ConsumeIntegralInRange<std::size_t>(0, std::size(ParamIds) - 1)]
                                       : input.ConsumeIntegral<DISPID>();
    const std::uint8_t options = input.ConsumeIntegral<std::uint8_t>();
    DISPPARAMS params{(options & 0x70) == 0x70 ? nullptr : args.get(), names.get(), count, namedCount};

    if (CostsTooMuch(id, params)) return;
    // KESTRUNE_FUZZ_TRACE=1 shows the calls of an input being replayed.
    static const bool trace = std::getenv("KESTRUNE_FUZZ_TRACE") != nullptr;
    if (trace) {
        std::fprintf(stderr, "Invoke(%d, flags %#x, %u args, %u named:", static_cast<int>(id), flags, count, namedCount);
        for (UINT i = 0; i < count; ++i) std::fprintf(stderr, " vt %#x", args[i].vt);
        std::fprintf(stderr, ")\n");
    }

    VARIANT result;
    VariantInit(&result);
    EXCEPINFO info{};
    UINT argErr = NoArgument;
    const TCallSnapshot before(params.rgvarg, count, arena);
    // The file members' relative names resolve in the work directory; the
    // fuzzer's own paths stay relative to where it was started.
    const fs::path started = fs::current_path();
    if (IsFileMember(id)) fs::current_path(WorkDir);
    const HRESULT hr = object->Invoke(id, (options & 0x0F) == 0x0F ? IID_IDispatch : IID_NULL, LOCALE_USER_DEFAULT, flags,
                                      &params, (options & 0x80) != 0 ? nullptr : &result,
                                      (options & 0x30) == 0x30 ? nullptr : &info, (options & 0x0C) == 0x0C ? nullptr : &argErr);
    Check(TCallSnapshot(params.rgvarg, count, arena) == before, "the caller's arguments are left as they were");
    Check(argErr == NoArgument || argErr < count, "a reported argument index names an argument");
    if (SUCCEEDED(hr))
        Check(result.vt == VT_EMPTY || result.vt == VT_I4 || result.vt == VT_BSTR, "a result is nothing, a long or a string");
    if (hr == DISP_E_EXCEPTION && (options & 0x30) != 0x30) Check(FAILED(info.scode), "an exception carries a failure");
    VariantClear(&result);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    SetErrorInfo(0, nullptr);
    if (IsFileMember(id)) {
        fs::current_path(started);
        ResetWorkDir();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    WorkDir = base / ("kestrune-fuzz-invoke-" + std::to_string(::getpid()));
    fs::create_directories(WorkDir);
    ResetWorkDir();
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(WorkDir, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    {
        TArena arena;
        TComPtr<IDispatch> object;
        {
            TComPtr<IClassFactory> factory;
            Check(SUCCEEDED(DllGetClassObject(kestrune::automation::CLSID_Kestrune, IID_IClassFactory, factory.PutVoid())),
                  "the class factory is there");
            Check(SUCCEEDED(factory->CreateInstance(nullptr, IID_IDispatch, object.PutVoid())), "the object is created");
        }
        for (int calls = 0; calls < MostCalls && input.remaining_bytes() > 0; ++calls) OneCall(input, object.Get(), arena);
        object.Reset();
        for (const TCallerObject& passed : arena.objects) Check(passed.refs == 1, "every object passed has its references back");
    }
    Check(DllCanUnloadNow() == S_OK, "no object or lock outlives its last reference");
    return 0;
}
