// Passwords for the tool: from the command line, the first line of a file,
// an environment variable or a prompt on the terminal with echo off. They
// are held in buffers that are wiped when they go and are never printed.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kestrune::cli {

// UTF-16 text that is wiped when it goes.
class TSecretText {
public:
    TSecretText() = default;
    explicit TSecretText(std::u16string text) noexcept : text_(std::move(text)) {}
    TSecretText(TSecretText&& other) noexcept : text_(std::move(other.text_)) { other.Wipe(); }
    TSecretText& operator=(TSecretText&& other) noexcept;
    TSecretText(const TSecretText&) = delete;
    TSecretText& operator=(const TSecretText&) = delete;
    ~TSecretText() { Wipe(); }

    std::u16string_view View() const noexcept { return text_; }
    void Wipe() noexcept;

private:
    std::u16string text_;
};

// UTF-8 bytes as a secret; no unwiped copy is left behind.
TSecretText SecretFromUtf8(std::string_view utf8);

// Overwrites a string that held a secret, then empties it.
void WipeString(std::string& text) noexcept;

class EPasswordSource : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* DefaultPasswordVariable = "KESTRUNE_PASSWORD";

// Longest first line a password file may have.
inline constexpr std::size_t MaxPasswordFileLine = 65536;

// The first line of the file without its line break (LF or CR LF).
TSecretText ReadPasswordFile(const std::string& path);

// The variable's value; EPasswordSource when it is not set.
TSecretText PasswordFromEnvironment(const std::string& name);

// Asks on the controlling terminal with echo off; empty when the process
// has no terminal. The terminal's settings come back also on an interrupt.
std::optional<TSecretText> PromptPassword(std::string_view prompt);

struct PasswordOptions {
    const std::string* literal = nullptr;   // --password
    const std::string* file = nullptr;      // --password-file
    const std::string* variable = nullptr;  // --password-env
    bool allowEmpty = false;                // --allow-empty-password
};

// The first source given among --password, --password-file and
// --password-env; otherwise KESTRUNE_PASSWORD when set; otherwise the
// terminal, asked twice when confirm is set (a typing error while
// encrypting would lose the data). EPasswordSource when none is available,
// and when the password is empty unless allowEmpty: an empty variable or
// file, or Ctrl-D at the prompt, is almost always a mistake, and a key made
// from nothing protects nothing.
TSecretText ObtainPassword(const PasswordOptions& options, bool confirm);

}  // namespace kestrune::cli
