// Batch mode: requests as JSON Lines on one object that lives for the whole
// run, like one page script, and one answer line per request. The object is
// created through the library's class factory and every request goes
// through IDispatch by name, as a script's calls do.
//
//   {"call": "HashString", "args": ["abc", 1]}   -> {"result": "<digest text>"}
//   {"call": "HashString", "args": ["abc"], "named": {"Algorithm": 1}}
//   {"get": "CipherMode"}                        -> {"result": 0}
//   {"put": "CipherMode", "value": 3}            -> {"result": null}
//   anything that fails                          -> {"error": {"hresult": "0x80020003",
//                                                    "description": "...", "source": "..."}}
//
// Member and parameter names ignore case. A JSON string passes as a string,
// an integer as a long (or a double beyond 32 bits), a number with a
// fraction as a double, true and false as booleans; the object converts
// them to the declared types as the platform converts variants. A null in
// the place of an optional argument stands for its default (a script's
// left-out argument). OnStartPage takes a host context: any JSON string or
// object is a context that offers the scripting-context interface, null
// one that does not (the call then fails, as with a host that lacks it).
// A request may carry an "id" (any JSON value), which its answer repeats as
// its first member: {"id": 7, "result": ...}, errors included, and also for
// a line that is not valid JSON or too long where the id can be read from
// its start. Blank lines get no answer. A line longer than MaxLineBytes is
// refused with an error answer and the run goes on.
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "host.h"
#include "secret.h"

namespace kestrune::cli {

// Source of the failures that the tool finds in a request, or that the
// dispatch machinery reports, as against those of the object itself.
inline constexpr std::string_view BatchSource = "kestrune batch";

// The longest request line: 64 MiB. A page's strings come in requests that
// web servers cap at about 30 MB by default, so no real page needs more,
// and a line costs a few times its length in memory while it is answered
// (the line, its parsed value, 16-bit text, 8-bit text), which stays well
// under a gigabyte.
inline constexpr std::size_t MaxLineBytes = std::size_t{64} << 20;

// How much of a line beyond the limit is kept, for the id of its answer.
inline constexpr std::size_t TooLongKeptBytes = 4096;

enum class TLineRead { Line, TooLong, End };

// Reads one line, without its line break, into line. A line longer than
// limit is read to its end in pieces and dropped, so that it costs no more
// memory than limit: line then holds only its first TooLongKeptBytes (at
// most limit) and the answer is TooLong.
TLineRead ReadLine(std::istream& in, TSecretString& line, std::size_t limit = MaxLineBytes);

// The answer to one request line, without a line break; empty for a line
// that holds nothing but white space.
std::optional<std::string> AnswerLine(TScriptHost& host, std::string_view line);
// The same for a line read by ReadLine, which is wiped and released once
// parsed, before the call: a long text is not held twice.
std::optional<std::string> AnswerLine(TScriptHost& host, TSecretString& line);

// Answers each line of in on out, flushing after every answer, until in
// ends. Returns 0, or 1 when out can no longer be written.
int RunBatch(std::istream& in, std::ostream& out, TScriptHost& host, std::size_t maxLine = MaxLineBytes);

}  // namespace kestrune::cli
