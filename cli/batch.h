// Batch mode: requests as JSON Lines on one object that lives for the whole
// run, like one page script, and one answer line per request.
//
//   {"call": "HashString", "args": ["abc", 1]}   -> {"result": "<digest text>"}
//   {"get": "CipherMode"}                        -> {"result": 0}
//   {"put": "CipherMode", "value": 3}            -> {"result": null}
//   anything that fails                          -> {"error": {"hresult": "0x80020003",
//                                                    "description": "...", "source": "..."}}
//
// Member names ignore case. A JSON string passes as a string, a JSON integer
// as a 32-bit signed long; trailing optional arguments may be left out, and
// a null in the place of an optional argument also stands for its default.
// OnStartPage takes a host context: any JSON string or object is a context
// that offers the scripting-context interface, null one that does not (the
// call then fails, as with a host that lacks it). Blank lines get no answer.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "object/UKestrune.h"

namespace kestrune::cli {

// Source of the errors that the object raises, and of those that the batch
// layer finds in a request before the object sees it.
inline constexpr std::string_view ObjectSource = "brindel_Kestrune.Kestrune";
inline constexpr std::string_view BatchSource = "kestrune batch";

// The automation platform's codes for requests that cannot be dispatched.
namespace hresult {
inline constexpr std::uint32_t DISP_E_MEMBERNOTFOUND = 0x80020003;
inline constexpr std::uint32_t DISP_E_TYPEMISMATCH = 0x80020005;
inline constexpr std::uint32_t DISP_E_OVERFLOW = 0x8002000A;
inline constexpr std::uint32_t DISP_E_BADPARAMCOUNT = 0x8002000E;
inline constexpr std::uint32_t E_INVALIDARG = 0x80070057;
inline constexpr std::uint32_t E_UNEXPECTED = 0x8000FFFF;
}  // namespace hresult

// The answer to one request line, without a line break; empty for a line
// that holds nothing but white space.
std::optional<std::string> AnswerLine(TKestrune& object, std::string_view line);

// Answers each line of in on out, flushing after every answer, until in
// ends. Returns 0, or 1 when out can no longer be written.
int RunBatch(std::istream& in, std::ostream& out, TKestrune& object);

}  // namespace kestrune::cli
