// The members a script reaches on the object: names, dispatch identifiers,
// parameters with their defaults, and how each is carried out. Batch mode
// dispatches through this table and nothing else knows the members, so a
// dispatch layer of another kind can take its place.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "object/UKestrune.h"

namespace kestrune::cli {

// What the host hands to OnStartPage: a context that offers the
// scripting-context interface or one that does not.
struct THostContext {
    bool offersScriptingContext;
};

// An argument or a result: nothing, a 32-bit signed long, a string, a host context.
using TValue = std::variant<std::monostate, std::int32_t, std::u16string, THostContext>;

enum class TParamType { Long, String, Unknown };

struct TParam {
    std::string_view name;
    TParamType type;
    bool optional = false;
    std::int32_t longDefault = 0;
    std::u16string_view stringDefault = {};
};

enum class TMemberKind { Method, Property, ReadOnlyProperty };

struct TMember {
    std::int32_t dispid;
    std::string_view name;
    TMemberKind kind;
    std::span<const TParam> params;  // methods only
    // A method call with every argument present and of its declared type,
    // or a property read.
    TValue (*invoke)(TKestrune& object, std::span<const TValue> args);
    void (*put)(TKestrune& object, std::int32_t value);  // null unless writable
};

std::span<const TMember> KestruneMembers() noexcept;

// Names compare without regard to case, as the automation layer's do.
const TMember* FindMember(std::string_view name) noexcept;

// The value an optional parameter takes when it is left out.
TValue DefaultOf(const TParam& param);

// Parameters that cannot be left out.
std::size_t RequiredCount(const TMember& member) noexcept;

}  // namespace kestrune::cli
