#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <climits>
#include <stdexcept>

#include "KCcodepage.h"

namespace kestrune {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

int CheckedLength(std::size_t size) {
    if (size > static_cast<std::size_t>(INT_MAX)) throw std::length_error("text too long to convert");
    return static_cast<int>(size);
}

}  // namespace

// The calling thread's code page, not the system's: a page that sets its
// LCID changes its thread's locale, and with it the bytes that are digested
// and encrypted.
unsigned AnsiCodePage() {
    DWORD codePage = 0;
    if (GetLocaleInfoW(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                       reinterpret_cast<LPWSTR>(&codePage), sizeof codePage / sizeof(WCHAR)) == 0 || codePage == 0)
        return GetACP();
    return codePage;
}

// Flags 0: best-fit characters on, the code page's default character
// otherwise, as the portable converter does.
std::string ToAnsi(std::u16string_view text) {
    if (text.empty()) return {};
    const auto* units = reinterpret_cast<const wchar_t*>(text.data());
    const int length = CheckedLength(text.size());
    const int size = WideCharToMultiByte(CP_THREAD_ACP, 0, units, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) throw std::runtime_error("text conversion failed");
    std::string out(static_cast<std::size_t>(size), '\0');
    if (WideCharToMultiByte(CP_THREAD_ACP, 0, units, length, out.data(), size, nullptr, nullptr) != size)
        throw std::runtime_error("text conversion failed");
    return out;
}

// Measured first, so that nothing is written when it does not fit.
std::optional<std::size_t> ToAnsi(std::u16string_view text, std::span<char> out) {
    if (text.empty()) return 0;
    const auto* units = reinterpret_cast<const wchar_t*>(text.data());
    const int length = CheckedLength(text.size());
    const int size = WideCharToMultiByte(CP_THREAD_ACP, 0, units, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) throw std::runtime_error("text conversion failed");
    if (static_cast<std::size_t>(size) > out.size()) return std::nullopt;
    if (WideCharToMultiByte(CP_THREAD_ACP, 0, units, length, out.data(), size, nullptr, nullptr) != size)
        throw std::runtime_error("text conversion failed");
    return static_cast<std::size_t>(size);
}

std::u16string FromAnsi(std::string_view text) {
    if (text.empty()) return {};
    const int length = CheckedLength(text.size());
    const int size = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, nullptr, 0);
    if (size <= 0) throw std::runtime_error("text conversion failed");
    std::u16string out(static_cast<std::size_t>(size), u'\0');
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, reinterpret_cast<wchar_t*>(out.data()), size) != size)
        throw std::runtime_error("text conversion failed");
    return out;
}

}  // namespace kestrune
