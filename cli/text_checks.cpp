#include "text_checks.h"

#include <algorithm>
#include <cstdio>

#include "object/KCcodepage.h"

namespace kestrune::cli {
namespace {

int Base64Value(char16_t c) noexcept {
    if (c >= u'A' && c <= u'Z') return c - u'A';
    if (c >= u'a' && c <= u'z') return c - u'a' + 26;
    if (c >= u'0' && c <= u'9') return c - u'0' + 52;
    if (c == u'+') return 62;
    if (c == u'/') return 63;
    return -1;
}

std::string CodePoint(char32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
    return text;
}

std::string Plural(std::size_t n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

}  // namespace

std::optional<std::string> Base64Problem(std::u16string_view text) {
    std::size_t padding = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'=') {
            ++padding;
            continue;
        }
        const std::string position = "character " + std::to_string(i + 1);
        if (padding > 0) return position + " follows the '=' padding, which may only end the text";
        if (Base64Value(c) < 0) {
            if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r') return position + " is a space or line break";
            return position + " is not in the Base64 alphabet (A-Z, a-z, 0-9, +, /)";
        }
    }
    if (text.size() % 4 != 0)
        return "its length, " + std::to_string(text.size()) + ", is not a multiple of 4 (was the text cut short, or its '=' padding lost?)";
    if (padding > 2) return "it ends in more than two '='";
    // The bits after the last byte must be zero, or two texts would decode alike.
    if (padding > 0) {
        const int last = Base64Value(text[text.size() - padding - 1]);
        if ((last & (padding == 1 ? 0x3 : 0xF)) != 0) return "its last character before the '=' has bits that no byte uses";
    }
    return std::nullopt;
}

std::vector<char32_t> ReplacedCharacters(std::u16string_view text) {
    std::vector<char32_t> replaced;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t units =
            text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF ? 2 : 1;
        const std::u16string_view unit = text.substr(i, units);
        if (FromAnsi(ToAnsi(unit)) != unit) {
            const char32_t c = units == 2 ? 0x10000 + ((char32_t{unit[0]} - 0xD800) << 10) + (unit[1] - 0xDC00) : unit[0];
            if (std::find(replaced.begin(), replaced.end(), c) == replaced.end()) replaced.push_back(c);
        }
        i += units - 1;
    }
    return replaced;
}

std::optional<std::string> ReplacementWarning(std::u16string_view text, std::string_view what, bool secret) {
    const std::vector<char32_t> replaced = ReplacedCharacters(text);
    if (replaced.empty()) return std::nullopt;
    std::string warning = "warning: " + Plural(replaced.size(), "character", "characters") + " of " + std::string(what) +
                          (replaced.size() == 1 ? " has" : " have") + " no equivalent in " + CodePageName(AnsiCodePage()) + " and " +
                          (replaced.size() == 1 ? "was" : "were") + " replaced";
    if (secret) return warning;
    constexpr std::size_t Shown = 10;
    for (std::size_t i = 0; i < replaced.size() && i < Shown; ++i) {
        const char32_t c = replaced[i];
        std::u16string unit;
        if (c >= 0x10000) {
            unit.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            unit.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            unit.push_back(static_cast<char16_t>(c));
        }
        // A lone surrogate has no UTF-8 form: its code alone names it.
        const bool printable = !(c >= 0xD800 && c <= 0xDFFF) && c >= 0x20 && c != 0x7F && !(c >= 0x80 && c < 0xA0);
        warning += (i == 0 ? ": " : ", ");
        warning += printable ? "'" + Utf16ToUtf8(unit) + "' (" + CodePoint(c) + ")" : CodePoint(c);
    }
    if (replaced.size() > Shown) warning += " and " + std::to_string(replaced.size() - Shown) + " more";
    return warning;
}

}  // namespace kestrune::cli
