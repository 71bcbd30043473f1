#include "password_source.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "framework/KCcrypt.h"
#include "object/KCcodepage.h"

namespace kestrune::cli {
namespace {

// Growth reallocations of this string wipe the storage they leave.
using SecureString = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

template <typename Text>
void WipeText(Text& text) noexcept {
    // Reach the whole allocation, short-string buffer included.
    text.resize(text.capacity());
    SecureFill(text.data(), text.size() * sizeof(typename Text::value_type), 0);
    text.clear();
}

struct FileDescriptor {
    int fd;
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
};

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// The terminal's settings while echo is off, for the signal handler.
std::atomic<int> EchoOffFd{-1};
termios SavedTerminal{};

extern "C" void RestoreTerminalAndExit(int signal) {
    const int fd = EchoOffFd.load();
    if (fd >= 0) {
        ::tcsetattr(fd, TCSAFLUSH, &SavedTerminal);
        static constexpr char NewLine = '\n';
        [[maybe_unused]] auto ignored = ::write(fd, &NewLine, 1);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

constexpr int RestoredSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

class TEchoOff {
public:
    explicit TEchoOff(int fd) : fd_(fd) {
        if (::tcgetattr(fd, &SavedTerminal) != 0) throw EPasswordSource(SystemError("cannot read the terminal settings"));
        for (std::size_t i = 0; i < std::size(RestoredSignals); ++i)
            previous_[i] = std::signal(RestoredSignals[i], RestoreTerminalAndExit);
        EchoOffFd.store(fd);
        termios quiet = SavedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        if (::tcsetattr(fd, TCSAFLUSH, &quiet) != 0) {
            Restore();
            throw EPasswordSource(SystemError("cannot turn off echo on the terminal"));
        }
    }
    ~TEchoOff() { Restore(); }
    TEchoOff(const TEchoOff&) = delete;
    TEchoOff& operator=(const TEchoOff&) = delete;

private:
    void Restore() noexcept {
        ::tcsetattr(fd_, TCSAFLUSH, &SavedTerminal);
        EchoOffFd.store(-1);
        for (std::size_t i = 0; i < std::size(RestoredSignals); ++i) std::signal(RestoredSignals[i], previous_[i]);
    }
    int fd_;
    std::array<void (*)(int), std::size(RestoredSignals)> previous_{};
};

}  // namespace

TSecretText& TSecretText::operator=(TSecretText&& other) noexcept {
    if (this != &other) {
        Wipe();
        text_ = std::move(other.text_);
        other.Wipe();
    }
    return *this;
}

void TSecretText::Wipe() noexcept { WipeText(text_); }

void WipeString(std::string& text) noexcept { WipeText(text); }

TSecretText SecretFromUtf8(std::string_view utf8) {
    // The conversion reserves its whole result at once, so it leaves no
    // copies behind in storage it outgrew.
    return TSecretText(Utf8ToUtf16(utf8));
}

TSecretText ReadPasswordFile(const std::string& path) {
    const FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) throw EPasswordSource(SystemError("cannot read password file '" + path + "'"));
    SecureString line;
    std::array<char, 512> buffer;
    bool ended = false;
    while (!ended) {
        const ssize_t n = ::read(file.fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            SecureZero(buffer);
            throw EPasswordSource(SystemError("cannot read password file '" + path + "'"));
        }
        if (n == 0) break;
        std::string_view piece(buffer.data(), static_cast<std::size_t>(n));
        if (const auto newline = piece.find('\n'); newline != std::string_view::npos) {
            piece = piece.substr(0, newline);
            ended = true;
        }
        line.append(piece);
        if (line.size() > MaxPasswordFileLine) {
            SecureZero(buffer);
            throw EPasswordSource("the first line of password file '" + path + "' is longer than " +
                                  std::to_string(MaxPasswordFileLine) + " bytes");
        }
    }
    SecureZero(buffer);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    TSecretText secret = SecretFromUtf8(line);
    WipeText(line);
    return secret;
}

TSecretText PasswordFromEnvironment(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) throw EPasswordSource("environment variable " + name + " is not set");
    return SecretFromUtf8(value);
}

std::optional<TSecretText> PromptPassword(std::string_view prompt) {
    const FileDescriptor tty{::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)};
    if (tty.fd < 0) return std::nullopt;
    const TEchoOff echoOff(tty.fd);
    if (::write(tty.fd, prompt.data(), prompt.size()) < 0)
        throw EPasswordSource(SystemError("cannot write to the terminal"));
    SecureString line;
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(tty.fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EPasswordSource(SystemError("cannot read from the terminal"));
        if (n == 0 || c == '\n') break;
        line.push_back(c);
    }
    SecureZero(c);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    TSecretText secret = SecretFromUtf8(line);
    WipeText(line);
    return secret;
}

namespace {

TSecretText Checked(TSecretText password, const PasswordOptions& options, const std::string& from) {
    if (password.View().empty() && !options.allowEmpty)
        throw EPasswordSource("the password " + from + " is empty; --allow-empty-password uses it all the same");
    return password;
}

}  // namespace

TSecretText ObtainPassword(const PasswordOptions& options, bool confirm) {
    if (options.literal != nullptr) return Checked(SecretFromUtf8(*options.literal), options, "given by --password");
    if (options.file != nullptr)
        return Checked(ReadPasswordFile(*options.file), options, "in the first line of '" + *options.file + "'");
    if (options.variable != nullptr)
        return Checked(PasswordFromEnvironment(*options.variable), options, "in the variable " + *options.variable);
    if (std::getenv(DefaultPasswordVariable) != nullptr)
        return Checked(PasswordFromEnvironment(DefaultPasswordVariable), options,
                       std::string("in the variable ") + DefaultPasswordVariable);
    auto password = PromptPassword("Password: ");
    if (!password)
        throw EPasswordSource(std::string("no password: use --password-env, --password-file or ") + DefaultPasswordVariable +
                              ", or run from a terminal");
    // Refused before the second prompt: Ctrl-D at the first is no answer.
    password = Checked(std::move(*password), options, "typed at the prompt");
    if (confirm) {
        auto again = PromptPassword("Repeat password: ");
        if (!again || again->View() != password->View()) throw EPasswordSource("the passwords do not match");
    }
    return std::move(*password);
}

}  // namespace kestrune::cli
