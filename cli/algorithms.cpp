#include "algorithms.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <span>

namespace kestrune::cli {
namespace {

constexpr std::string_view ModeNames[] = {"cbc", "cfb8", "cfbblock", "ofb", "ctr"};

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

// The words of a row's alias list.
template <typename Class>
std::vector<std::string_view> OwnAliasesOf(const TKC_catalogrow<Class>& row) {
    std::vector<std::string_view> names;
    std::string_view rest = row.aliases;
    while (!rest.empty()) {
        const auto space = rest.find(' ');
        if (space != 0) names.push_back(rest.substr(0, space));
        rest = space == std::string_view::npos ? std::string_view{} : rest.substr(space + 1);
    }
    return names;
}

// Matches against every name a row goes by. Only the codes of the table:
// the object takes any other as the default row, which a person typing 42
// does not mean.
template <typename Class>
std::optional<std::int32_t> ParseAlgorithm(std::string_view text, std::span<const TKC_catalogrow<Class>> rows) {
    if (auto code = ParseCode(text)) {
        for (const auto& row : rows)
            if (row.code == *code) return code;
        return std::nullopt;
    }
    const std::string wanted = Folded(text);
    if (wanted.empty()) return std::nullopt;
    for (const auto& row : rows)
        for (std::string_view alias : OwnAliasesOf(row))
            if (Folded(alias) == wanted) return row.code;
    for (const auto& row : rows) {
        // The class name counts with or without its "TKC_" prefix ("3des").
        const std::string folded = Folded(row.className);
        if (Folded(row.name) == wanted || folded == wanted || folded.substr(3) == wanted ||
            Folded(row.algorithmClass.GetAlgorithm()) == wanted)
            return row.code;
    }
    return std::nullopt;
}

// The class name without its prefix, where it is not the catalogue name
// folded, then the row's aliases.
template <typename Class>
std::vector<std::string> AliasesOf(const TKC_catalogrow<Class>& row) {
    std::vector<std::string> aliases;
    const std::string shortName = Folded(row.className).substr(3);
    if (shortName != Folded(row.name)) aliases.push_back(shortName);
    for (std::string_view alias : OwnAliasesOf(row)) aliases.emplace_back(alias);
    return aliases;
}

template <typename Class>
std::string Choices(std::span<const TKC_catalogrow<Class>> rows) {
    std::string text, aliases;
    std::int32_t highest = 0;
    for (const auto& row : rows) {
        if (!text.empty()) text += ", ";
        text += row.name;
        highest = std::max(highest, row.code);
        for (std::string_view alias : OwnAliasesOf(row)) aliases += "; " + std::string(alias) + " is " + std::string(row.name);
    }
    return text + " or a code from 0 to " + std::to_string(highest) + aliases;
}

// A row by its exact code; null for codes that no row has.
template <typename Class>
const TKC_catalogrow<Class>* ExactRow(std::span<const TKC_catalogrow<Class>> rows, std::int32_t code) noexcept {
    for (const auto& row : rows)
        if (row.code == code) return &row;
    return nullptr;
}

}  // namespace

std::optional<std::int32_t> ParseDigest(std::string_view text) { return ParseAlgorithm(text, DigestCatalogue()); }
std::optional<std::int32_t> ParseCipher(std::string_view text) { return ParseAlgorithm(text, CipherCatalogue()); }

std::optional<std::int32_t> ParseDigest(std::string_view text, std::span<const TKC_digestrow> rows) {
    return ParseAlgorithm(text, rows);
}

std::optional<std::int32_t> ParseCipher(std::string_view text, std::span<const TKC_cipherrow> rows) {
    return ParseAlgorithm(text, rows);
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

std::string_view DigestClassName(std::int32_t code) noexcept { return RowFor(DigestCatalogue(), code).className; }
std::string_view CipherClassName(std::int32_t code) noexcept { return RowFor(CipherCatalogue(), code).className; }

std::vector<std::string> Aliases(const TKC_digestrow& row) { return AliasesOf(row); }
std::vector<std::string> Aliases(const TKC_cipherrow& row) { return AliasesOf(row); }
std::vector<std::string_view> OwnAliases(const TKC_digestrow& row) { return OwnAliasesOf(row); }
std::vector<std::string_view> OwnAliases(const TKC_cipherrow& row) { return OwnAliasesOf(row); }

std::vector<std::string> DigestAliases(std::int32_t code) {
    const auto* row = ExactRow(DigestCatalogue(), code);
    return row != nullptr ? AliasesOf(*row) : std::vector<std::string>{};
}
std::vector<std::string> CipherAliases(std::int32_t code) {
    const auto* row = ExactRow(CipherCatalogue(), code);
    return row != nullptr ? AliasesOf(*row) : std::vector<std::string>{};
}

std::string DigestChoices(std::span<const TKC_digestrow> rows) { return Choices(rows); }
std::string CipherChoices(std::span<const TKC_cipherrow> rows) { return Choices(rows); }

std::string_view CipherName(std::int32_t code) noexcept {
    const auto* row = ExactRow(CipherCatalogue(), code);
    return row != nullptr ? row->name : std::string_view{};
}

std::string_view DigestName(std::int32_t code) noexcept {
    const auto* row = ExactRow(DigestCatalogue(), code);
    return row != nullptr ? row->name : std::string_view{};
}

}  // namespace kestrune::cli
