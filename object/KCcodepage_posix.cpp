#include <atomic>
#include <cstdlib>
#include <stdexcept>

#include "KCcodepage.h"

namespace kestrune {
namespace {

// POSIX has no ANSI code page: 1252, what Western Windows servers use,
// unless the program or its environment names the page of the site whose
// data it reads.
constexpr unsigned DefaultCodePage = 1252;

struct TEnvironmentSetting {
    unsigned codePage = DefaultCodePage;
    std::string error;
};

TEnvironmentSetting ReadEnvironment() {
    TEnvironmentSetting setting;
    const char* value = std::getenv("KESTRUNE_CODEPAGE");
    if (!value || !*value) return setting;
    try {
        setting.codePage = ParseCodePage(value);
    } catch (const std::invalid_argument& e) {
        setting.error = std::string("KESTRUNE_CODEPAGE: ") + e.what();
    }
    return setting;
}

const TEnvironmentSetting& Environment() {
    static const TEnvironmentSetting setting = ReadEnvironment();
    return setting;
}

std::atomic<unsigned> ChosenCodePage{0};  // 0: none chosen by the program

}  // namespace

unsigned AnsiCodePage() {
    if (const unsigned chosen = ChosenCodePage.load(std::memory_order_relaxed)) return chosen;
    const auto& setting = Environment();
    // Text converted in another page than the site's would give other
    // digests and keys without a word, so a wrong setting fails every call.
    if (!setting.error.empty()) throw std::invalid_argument(setting.error);
    return setting.codePage;
}

void SetAnsiCodePage(unsigned codePage) {
    ParseCodePage(std::to_string(codePage));
    ChosenCodePage.store(codePage, std::memory_order_relaxed);
}

std::string ToAnsi(std::u16string_view text) { return ToCodePage(AnsiCodePage(), text); }

std::optional<std::size_t> ToAnsi(std::u16string_view text, std::span<char> out) {
    return ToCodePage(AnsiCodePage(), text, out);
}

std::u16string FromAnsi(std::string_view text) { return FromCodePage(AnsiCodePage(), text); }

}  // namespace kestrune
