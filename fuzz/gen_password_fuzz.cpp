// GenPassword with any length, style and generator state, against a model
// of the generator written from its description: the same password, and
// the shared state advanced by exactly the draws the password cost. A
// length beyond the limit fails at once and draws nothing.
//
// Input: the length (4 bytes), the generator state (4 bytes), then the
// style as UTF-16 code units (2 bytes each, little-endian).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "fuzz/fuzz_check.h"
#include "object/KCcodepage.h"
#include "object/KCpassword.h"
#include "object/UKestrune.h"

using kestrune::fuzz::Check;

namespace {

// Longer passwords (up to the limit) cost time without reaching new code.
constexpr std::int32_t LongestChecked = 1 << 12;

struct TModel {
    std::uint32_t state;
    std::uint32_t Draw(std::uint32_t range) {
        state = state * 134775813u + 1;
        return static_cast<std::uint32_t>((static_cast<std::uint64_t>(state) * range) >> 32);
    }
    std::string Password(std::int32_t length, const std::string& pattern) {
        std::string password;
        for (std::int32_t i = 0; i < length; ++i) {
            const char style = static_cast<std::size_t>(i) < pattern.size() ? pattern[i] : '?';
            if (style == '?')
                password += Draw(2) == 1 ? static_cast<char>('A' + Draw(26)) : static_cast<char>('0' + Draw(10));
            else if (style == '0')
                password += static_cast<char>('0' + Draw(10));
            else if (style == 'A')
                password += static_cast<char>('A' + Draw(26));
            else if (style == 'a')
                password += static_cast<char>('a' + Draw(26));
            else
                password += style;
        }
        return password;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    std::int32_t length = 0;
    std::uint32_t state = 0;
    std::memcpy(&length, data, 4);
    std::memcpy(&state, data + 4, 4);
    std::u16string style;
    for (std::size_t i = 8; i + 1 < size; i += 2) style.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));

    kestrune::SetPasswordGeneratorState(state);
    if (length > kestrune::MaxPasswordLength) {
        bool failed = false;
        try {
            kestrune::TKestrune().GenPassword(length, style);
        } catch (const std::bad_alloc&) {
            failed = true;
        }
        Check(failed, "a length beyond the limit fails with out of memory");
        Check(kestrune::PasswordGeneratorState() == state, "a length beyond the limit draws nothing");
        return 0;
    }
    if (length > LongestChecked) length %= LongestChecked;
    const std::u16string password = kestrune::TKestrune().GenPassword(length, style);

    TModel model{state};
    const std::size_t keep = length <= 0 ? 0 : std::min<std::size_t>(style.size(), static_cast<std::size_t>(length));
    const std::string expected = model.Password(length, kestrune::ToAnsi(style.substr(0, keep)));
    Check(password == kestrune::FromAnsi(expected), "the password the generator's description gives");
    Check(kestrune::PasswordGeneratorState() == model.state, "the state advanced by the draws the password cost");
    return 0;
}
