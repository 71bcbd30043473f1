#include "KCcodepage.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "KCcodepage_ascii.h"
#include "KCcodepage_bestfit.inc"

namespace kestrune {
namespace {

constexpr auto BuildCp1252Encoder() {
    std::array<std::uint8_t, 0x10000> encoder{};
    encoder.fill('?');
    for (const auto& mapping : tables::Cp1252Encoding) encoder[mapping.unit] = mapping.code;
    return encoder;
}

constexpr auto Cp1252Encoder = BuildCp1252Encoder();

constexpr bool AsciiMapsToItself() {
    for (char16_t unit = 0; unit < 0x80; ++unit)
        if (Cp1252Encoder[unit] != unit || tables::Cp1252Decoding[unit] != unit) return false;
    return true;
}
static_assert(AsciiMapsToItself(), "the ASCII runs below copy without the tables");

constexpr char32_t Replacement = 0xFFFD;

}  // namespace

// ASCII in runs, anything else through the tables one run at a time. The
// output is written through a plain pointer: stores through the string's own
// would make the compiler reload its buffer after each one.
void ToCp1252(std::u16string_view text, char* const out) noexcept {
    for (std::size_t i = 0; i < text.size();) {
        i += CopyAsciiRuns(text.data() + i, text.size() - i, out + i);
        for (const std::size_t end = std::min(i + AsciiRun, text.size()); i < end; ++i)
            out[i] = static_cast<char>(Cp1252Encoder[text[i]]);
    }
}

std::string ToCp1252(std::u16string_view text) {
    std::string out(text.size(), '\0');
    ToCp1252(text, out.data());
    return out;
}

std::u16string FromCp1252(std::string_view text) {
    std::u16string out(text.size(), u'\0');
    char16_t* const p = out.data();
    for (std::size_t i = 0; i < text.size();) {
        i += CopyAsciiRuns(text.data() + i, text.size() - i, p + i);
        for (const std::size_t end = std::min(i + AsciiRun, text.size()); i < end; ++i)
            p[i] = tables::Cp1252Decoding[static_cast<std::uint8_t>(text[i])];
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = Replacement;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        char32_t cp = length == 1 ? lead : length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto cont = static_cast<std::uint8_t>(text[i + k]);
            valid = (cont & 0xC0) == 0x80;
            cp = (cp << 6) | (cont & 0x3F);
        }
        // Reject overlong forms, surrogates and values beyond Unicode.
        static constexpr char32_t MinForLength[] = {0, 0, 0x80, 0x800, 0x10000};
        if (valid) valid = cp >= MinForLength[length] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        if (!valid) {
            out.push_back(static_cast<char16_t>(Replacement));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += length;
    }
    return out;
}

std::string ToNativeFileName(std::u16string_view name) { return Utf16ToUtf8(name); }

}  // namespace kestrune
