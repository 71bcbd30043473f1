// The tool as a script host: it creates the object through the library's
// class factory and calls members by name through IDispatch, exactly as a
// page script does, and turns what fails into a status, a description and
// a source.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "automation/KCole.h"

namespace kestrune::cli {

using automation::TComPtr;
using automation::TVariant;

struct TFailure {
    HRESULT hresult;
    std::string description;
    std::string source;
};

// A member as the type description gives it.
struct TParamShape {
    std::u16string name;
    VARTYPE type;
    bool optional;
};
struct TMemberShape {
    DISPID dispid = DISPID_UNKNOWN;
    std::u16string name;
    bool method = false, readable = false, writable = false;
    std::vector<TParamShape> params;  // a method's
    std::size_t Required() const noexcept;
};

// An argument given by parameter name.
struct TNamedArg {
    std::u16string name;
    TVariant value;
};

enum class TInvokeKind { Call, Get, Put, Script };  // Script: a call or a read, as scripts do

class TScriptHost {
public:
    // source names the tool in failures that the host finds itself.
    explicit TScriptHost(std::string source);

    // Null with the failure when the object could not be created.
    const std::optional<TFailure>& CreationFailure() const noexcept { return creationFailure_; }

    // The member's description, or a failure for a name the object does not know.
    std::variant<TMemberShape, TFailure> Shape(std::u16string_view member);

    // Arguments in order, then named ones; a put takes one argument.
    std::variant<TVariant, TFailure> Invoke(const TMemberShape& member, TInvokeKind kind, std::vector<TVariant> args,
                                            std::vector<TNamedArg> named = {});

    // Shape and Invoke in one.
    std::variant<TVariant, TFailure> Invoke(std::u16string_view member, TInvokeKind kind, std::vector<TVariant> args,
                                            std::vector<TNamedArg> named = {});

private:
    TFailure Refusal(HRESULT hr, std::string description) const { return {hr, std::move(description), source_}; }

    std::string source_;
    TComPtr<IDispatch> object_;
    TComPtr<ITypeInfo> typeInfo_;
    std::optional<TFailure> creationFailure_;
};

// A host context for OnStartPage: it offers the scripting-context
// interface or it does not.
TComPtr<IUnknown> NewHostContext(bool offersScriptingContext);

// "0x8000FFFF"
std::string HResultText(HRESULT hr);

}  // namespace kestrune::cli
