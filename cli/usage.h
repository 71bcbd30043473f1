// Wrong usage, told as the tool's other errors are: one line on standard
// error that starts with "kestrune: ", says what is wrong and, where it can,
// what was meant. The exit status is then 2.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <CLI/CLI.hpp>

namespace kestrune::cli {

inline constexpr int ExitSuccess = 0;
inline constexpr int ExitFailure = 1;  // the operation failed
inline constexpr int ExitUsage = 2;    // the command line was wrong

// The parser's message for e with the tool's prefix. Surplus arguments are
// named when they are options and only counted otherwise, since one may be
// the value of a misplaced --password.
std::string UsageMessage(const CLI::App* app, const CLI::Error& e);

// The known name nearest to typed, if one is near enough to be meant
// ("hashstring" gives "hash-string").
std::optional<std::string> NearestName(std::string_view typed, std::span<const std::string> names);

// The message for a first argument that names no command of app, or
// nothing when it is an option or a command.
std::optional<std::string> UnknownCommand(const CLI::App& app, int argc, const char* const* argv);

// A count from 0 to the largest 32-bit value, said plainly when it is not.
CLI::Validator CountRange();

// Flushes standard output. When it cannot be written (a full disk, a
// closed pipe), says so on standard error and gives ExitFailure; otherwise
// status.
int FinishOutput(int status);

}  // namespace kestrune::cli
