// The type library of brindel_Kestrune: its identifiers, the dual interface
// IKestrune, and the member table from which dispatch, the type
// information and the tools all work. Nothing else lists the members.
#pragma once

#include <span>
#include <string_view>

#include "automation/KCole.h"

namespace kestrune::automation {

// Generated once and fixed for ever: registrations and references to the
// type library depend on them.
inline constexpr GUID LIBID_brindel_Kestrune = {0xF02B7CFC, 0x07AD, 0x48C3, {0x87, 0x77, 0xA9, 0x98, 0xB3, 0xEE, 0x8E, 0x0A}};
inline constexpr IID IID_IKestrune = {0x6AB2AB04, 0x5A38, 0x4B38, {0x8F, 0x0A, 0x9C, 0x4B, 0x60, 0xBC, 0x03, 0x0E}};
inline constexpr CLSID CLSID_Kestrune = {0x37F87091, 0x2C4D, 0x449A, {0xBA, 0x80, 0x27, 0x9F, 0xF9, 0xC1, 0x37, 0x19}};

// The script host's scripting context, which OnStartPage asks for.
inline constexpr IID IID_IScriptingContext = {0xD97A6DA0, 0xA864, 0x11CF, {0x83, 0xBE, 0x00, 0xA0, 0xC9, 0x0C, 0x2B, 0xD8}};

inline constexpr std::u16string_view LibraryName = u"brindel_Kestrune";
inline constexpr std::u16string_view LibraryHelp = u"brindel_Kestrune Library";
inline constexpr WORD LibraryMajorVersion = 1;
inline constexpr WORD LibraryMinorVersion = 0;
inline constexpr LCID LibraryLocale = 0x0409;
inline constexpr std::u16string_view InterfaceName = u"IKestrune";
inline constexpr std::u16string_view InterfaceHelp = u"Dispatch interface for Kestrune Object";
inline constexpr std::u16string_view ClassName = u"Kestrune";
inline constexpr std::u16string_view ClassHelp = u"Kestrune Object";
inline constexpr std::u16string_view ProgId = u"brindel_Kestrune.Kestrune";
inline constexpr std::u16string_view ThreadingModel = u"Apartment";

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// The interface table of the dual interface, after IDispatch's, in
// declaration order; each returns a status and writes its result last.
struct IKestrune : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE OnStartPage(IUnknown* AScriptingContext) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnEndPage() = 0;
    virtual HRESULT STDMETHODCALLTYPE HashString(BSTR InputStr, LONG Algorithm, BSTR* Result) = 0;
    virtual HRESULT STDMETHODCALLTYPE HashFile(BSTR Filename, LONG Algorithm, BSTR* Result) = 0;
    virtual HRESULT STDMETHODCALLTYPE EncryptString(BSTR InputStr, BSTR Password, LONG Algorithm, BSTR* Result) = 0;
    virtual HRESULT STDMETHODCALLTYPE EncryptFile(BSTR SourceFilename, BSTR DestFilename, BSTR Password, LONG Algorithm,
                                                  LONG* Result) = 0;
    virtual HRESULT STDMETHODCALLTYPE DecryptString(BSTR InputStr, BSTR Password, LONG Algorithm, BSTR* Result) = 0;
    virtual HRESULT STDMETHODCALLTYPE DecryptFile(BSTR SourceFilename, BSTR DestFilename, BSTR Password, LONG Algorithm,
                                                  LONG* Result) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_HashAlgorithm(LONG* Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_HashAlgorithm(LONG Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CipherAlgorithm(LONG* Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_CipherAlgorithm(LONG Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GenPassword(LONG MaxLength, BSTR Style, BSTR* Result) = 0;
    virtual HRESULT STDMETHODCALLTYPE HashSize(LONG Algorithm, LONG* Result) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CipherMode(LONG* Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_CipherMode(LONG Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MaxKeySize(LONG* Value) = 0;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

struct TKC_param {
    std::u16string_view name;
    VARTYPE type;                  // VT_BSTR, VT_I4 or VT_UNKNOWN
    bool optional = false;         // [in, optional] with a default value
    LONG longDefault = 0;          // for VT_I4
    std::u16string_view textDefault = {};  // for VT_BSTR
};

enum class TKC_memberkind { Method, Property, ReadOnlyProperty };

// Arguments arrive converted to their declared types, in declaration order,
// with defaults filled in; the result is stored in result.
using TKC_call = HRESULT (*)(IKestrune& target, const TVariant* args, TVariant& result);
using TKC_put = HRESULT (*)(IKestrune& target, LONG value);

struct TKC_member {
    DISPID dispid;
    std::u16string_view name;
    TKC_memberkind kind;
    std::span<const TKC_param> params;  // a method's; properties take none
    VARTYPE result;                     // VT_BSTR, VT_I4, or VT_EMPTY for none
    std::u16string_view resultName;     // the [out, retval] parameter
    TKC_call call;                      // a method call or a property read
    TKC_put put;                        // null unless the property is writable
};

// In declaration order.
std::span<const TKC_member> KestruneMembers() noexcept;
const TKC_member* FindMember(DISPID dispid) noexcept;
// Names compare without regard to case, as the platform's do.
const TKC_member* FindMember(std::u16string_view name) noexcept;
bool SameName(std::u16string_view a, std::u16string_view b) noexcept;
// A parameter's index, or -1.
int FindParam(const TKC_member& member, std::u16string_view name) noexcept;

// The default value of an optional parameter.
TVariant DefaultOf(const TKC_param& param) noexcept;

// Registry form of an identifier: upper-case hexadecimal in braces.
std::u16string GuidText(REFGUID guid);
// The type library's version as the registry writes it, "1.0".
std::u16string LibraryVersionText();

}  // namespace kestrune::automation
