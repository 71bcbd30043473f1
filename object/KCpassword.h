// The password generator: one linear congruential state per process,
// starting at 0, so a process yields the same passwords for the same calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrune {

// maxLength characters following the 8-bit style pattern: '?' (or no
// pattern character) an upper-case letter or digit, '0' a digit, 'A' an
// upper-case letter, 'a' a lower-case letter, anything else itself.
// A longer one fails at once with std::bad_alloc and draws nothing.
std::string GeneratePassword(std::int32_t maxLength, std::string_view pattern);

// The longest password made: far beyond any password or token a page asks
// for, and small enough (16 Mi characters, about 80 MiB with its 16-bit
// copies) that a mistaken length costs neither minutes nor gigabytes.
inline constexpr std::int32_t MaxPasswordLength = 16 * 1024 * 1024;

// Draws a value in 0 to range - 1, advancing the shared state with one
// atomic read-modify-write.
std::uint32_t DrawRandom(std::uint32_t range) noexcept;

// The shared state, for tests that need a known starting point.
std::uint32_t PasswordGeneratorState() noexcept;
void SetPasswordGeneratorState(std::uint32_t state) noexcept;

}  // namespace kestrune
