#include "algorithms.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <span>
#include <utility>

#include "object/KCcatalogue.h"

namespace kestrune::cli {
namespace {

// Class names by catalogue code; the catalogue itself holds class references,
// which are null until an algorithm is built, so the names live here.
constexpr std::pair<std::int32_t, std::string_view> DigestClasses[] = {
    {1, "TKC_md4"},    {2, "TKC_ripemd128"}, {3, "TKC_ripemd160"}, {4, "TKC_haval"}, {5, "TKC_sha1"},
    {6, "TKC_sha256"}, {7, "TKC_sha384"},    {8, "TKC_sha512"},    {9, "TKC_tiger"}, {0, "TKC_md5"},
};

constexpr std::pair<std::int32_t, std::string_view> CipherClasses[] = {
    {1, "TKC_cast128"},  {2, "TKC_cast256"}, {3, "TKC_des"},      {4, "TKC_3des"},  {5, "TKC_ice"},
    {6, "TKC_thinice"},  {7, "TKC_ice2"},    {8, "TKC_idea"},     {9, "TKC_mars"},  {10, "TKC_misty1"},
    {11, "TKC_rc2"},     {12, "TKC_rc4"},    {13, "TKC_rc5"},     {14, "TKC_rc6"},  {15, "TKC_rijndael"},
    {16, "TKC_serpent"}, {17, "TKC_tea"},    {18, "TKC_twofish"}, {19, "TKC_xtea"}, {0, "TKC_blowfish"},
};

constexpr std::string_view ModeNames[] = {"cbc", "cfb8", "cfbblock", "ofb", "ctr"};

// Other names that a cipher goes by, where they name one row only. AES is
// Rijndael with a 128-bit block, which is the only Rijndael here. There is
// no "aes-128" or "aes-256": the key is as long as the password's digest
// (up to 256 bits), so --hash decides the key size, not --cipher.
constexpr std::pair<std::string_view, std::int32_t> CipherNicknames[] = {{"aes", 15}};

// Lower case without spaces, hyphens and underscores: "Triple DES",
// "triple-des" and "TRIPLEDES" are one name.
std::string Folded(std::string_view text) {
    std::string folded;
    for (char c : text) {
        if (c == ' ' || c == '-' || c == '_') continue;
        folded.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    return folded;
}

std::optional<std::int32_t> ParseCode(std::string_view text) {
    std::int32_t code = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), code);
    if (error != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return code;
}

template <std::size_t N>
std::string_view ClassNameFor(const std::pair<std::int32_t, std::string_view> (&names)[N], std::int32_t code) noexcept {
    for (std::size_t i = 0; i + 1 < N; ++i)
        if (names[i].first == code) return names[i].second;
    return names[N - 1].second;
}

// Matches against every name a row goes by; classes not built yet have no
// algorithm text but keep their catalogue and class names.
// Only the codes of the catalogue: the object takes any other as the
// default row, which a person typing 42 does not mean.
template <typename Rows, typename ClassOf>
std::optional<std::int32_t> ParseAlgorithm(std::string_view text, const Rows& rows,
                                           std::string_view (*className)(std::int32_t) noexcept, ClassOf classOf,
                                           std::span<const std::pair<std::string_view, std::int32_t>> aliases = {}) {
    if (auto code = ParseCode(text)) {
        for (const auto& row : rows)
            if (row.code == *code) return code;
        return std::nullopt;
    }
    const std::string wanted = Folded(text);
    if (wanted.empty()) return std::nullopt;
    for (const auto& [alias, code] : aliases)
        if (alias == wanted) return code;
    for (const auto& row : rows) {
        // The class name counts with or without its "TKC_" prefix ("3des").
        const std::string folded = Folded(className(row.code));
        if (Folded(row.name) == wanted || folded == wanted || folded.substr(3) == wanted) return row.code;
        if (const auto* cls = classOf(row); cls != nullptr && Folded(cls->GetAlgorithm()) == wanted) return row.code;
    }
    return std::nullopt;
}

// The class name without its prefix, where it is not the catalogue name folded.
template <typename Rows>
std::vector<std::string> AliasesOf(const Rows& rows, std::string_view (*className)(std::int32_t) noexcept, std::int32_t code) {
    std::vector<std::string> aliases;
    for (const auto& row : rows) {
        if (row.code != code) continue;
        const std::string shortName = Folded(className(code)).substr(3);
        if (shortName != Folded(row.name)) aliases.push_back(shortName);
    }
    return aliases;
}

template <typename Rows>
std::string Choices(const Rows& rows) {
    std::string text;
    std::int32_t highest = 0;
    for (const auto& row : rows) {
        if (!text.empty()) text += ", ";
        text += row.name;
        highest = std::max(highest, row.code);
    }
    return text + " or a code from 0 to " + std::to_string(highest);
}

}  // namespace

std::optional<std::int32_t> ParseDigest(std::string_view text) {
    return ParseAlgorithm(text, DigestCatalogue(), DigestClassName,
                          [](const TKC_digestrow& row) { return row.digestClass; });
}

std::optional<std::int32_t> ParseCipher(std::string_view text) {
    return ParseAlgorithm(text, CipherCatalogue(), CipherClassName,
                          [](const TKC_cipherrow& row) { return row.cipherClass; }, CipherNicknames);
}

std::optional<std::int32_t> ParseMode(std::string_view text) {
    if (auto code = ParseCode(text)) {
        if (*code >= 0 && *code < static_cast<std::int32_t>(std::size(ModeNames))) return code;
        return std::nullopt;
    }
    const std::string wanted = Folded(text);
    for (std::size_t i = 0; i < std::size(ModeNames); ++i)
        if (ModeNames[i] == wanted) return static_cast<std::int32_t>(i);
    return std::nullopt;
}

std::string_view ModeName(std::int32_t mode) noexcept {
    return mode >= 0 && mode < static_cast<std::int32_t>(std::size(ModeNames)) ? ModeNames[mode] : std::string_view{};
}

std::string_view DigestClassName(std::int32_t code) noexcept { return ClassNameFor(DigestClasses, code); }
std::string_view CipherClassName(std::int32_t code) noexcept { return ClassNameFor(CipherClasses, code); }

std::vector<std::string> DigestAliases(std::int32_t code) { return AliasesOf(DigestCatalogue(), DigestClassName, code); }
std::vector<std::string> CipherAliases(std::int32_t code) {
    auto aliases = AliasesOf(CipherCatalogue(), CipherClassName, code);
    for (const auto& [alias, row] : CipherNicknames)
        if (row == code) aliases.emplace_back(alias);
    return aliases;
}

std::string DigestChoices() { return Choices(DigestCatalogue()); }
std::string CipherChoices() {
    std::string text = Choices(CipherCatalogue());
    for (const auto& [alias, code] : CipherNicknames) text += "; " + std::string(alias) + " is " + std::string(CipherName(code));
    return text;
}

std::string_view CipherName(std::int32_t code) noexcept {
    for (const auto& row : CipherCatalogue())
        if (row.code == code) return row.name;
    return {};
}

std::string_view DigestName(std::int32_t code) noexcept {
    for (const auto& row : DigestCatalogue())
        if (row.code == code) return row.name;
    return {};
}

}  // namespace kestrune::cli
