#include "KCpassword.h"

#include <atomic>
#include <new>

namespace kestrune {
namespace {

constexpr std::uint32_t Multiplier = 0x08088405;
std::atomic<std::uint32_t> GeneratorState{0};

}  // namespace

std::uint32_t DrawRandom(std::uint32_t range) noexcept {
    std::uint32_t old = GeneratorState.load(std::memory_order_relaxed);
    std::uint32_t next;
    do {
        next = old * Multiplier + 1;
    } while (!GeneratorState.compare_exchange_weak(old, next, std::memory_order_relaxed));
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(next) * range) >> 32);
}

std::uint32_t PasswordGeneratorState() noexcept { return GeneratorState.load(); }
void SetPasswordGeneratorState(std::uint32_t state) noexcept { GeneratorState.store(state); }

std::string GeneratePassword(std::int32_t maxLength, std::string_view pattern) {
    std::string password;
    if (maxLength <= 0) return password;
    if (maxLength > MaxPasswordLength) throw std::bad_alloc();
    const auto length = static_cast<std::size_t>(maxLength);
    pattern = pattern.substr(0, length);
    password.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        const char style = i < pattern.size() ? pattern[i] : '?';
        switch (style) {
        case '?':
            if (DrawRandom(2) == 1)
                password.push_back(static_cast<char>('A' + DrawRandom(26)));
            else
                password.push_back(static_cast<char>('0' + DrawRandom(10)));
            break;
        case '0': password.push_back(static_cast<char>('0' + DrawRandom(10))); break;
        case 'A': password.push_back(static_cast<char>('A' + DrawRandom(26))); break;
        case 'a': password.push_back(static_cast<char>('a' + DrawRandom(26))); break;
        default: password.push_back(style); break;
        }
    }
    return password;
}

}  // namespace kestrune
