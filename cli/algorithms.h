// What a user types to pick a digest, a cipher or a chaining mode, turned
// into the object's selection codes, and the names the tool shows for them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "object/KCcatalogue.h"

namespace kestrune::cli {

// A code of the catalogue (0 to 9 for digests, 0 to 19 for ciphers; the
// object's fallback for other codes is refused here), a catalogue name
// ("SHA-256", "Triple DES"), a class name with or without its prefix
// ("TKC_sha256", "3des"), the text the class gives as its algorithm
// ("SHA256") or an alias ("aes" for Rijndael). Names compare without
// regard to case, spaces, hyphens or underscores. Empty when nothing matches.
// The shipped table, or (the second pair) the rows a caller such as a test gives.
std::optional<std::int32_t> ParseDigest(std::string_view text);
std::optional<std::int32_t> ParseCipher(std::string_view text);
std::optional<std::int32_t> ParseDigest(std::string_view text, std::span<const TKC_digestrow> rows);
std::optional<std::int32_t> ParseCipher(std::string_view text, std::span<const TKC_cipherrow> rows);

// cbc, cfb8, cfbblock, ofb, ctr (any case) or 0 to 4.
std::optional<std::int32_t> ParseMode(std::string_view text);
std::string_view ModeName(std::int32_t mode) noexcept;

// Class name of a catalogue row, by its code ("TKC_md5" for 0).
std::string_view DigestClassName(std::int32_t code) noexcept;
std::string_view CipherClassName(std::int32_t code) noexcept;

// The catalogue name of a cipher code ("Rijndael" for 15), of a digest code ("SHA-256" for 6).
std::string_view CipherName(std::int32_t code) noexcept;
std::string_view DigestName(std::int32_t code) noexcept;

// Names a row also answers to that do not fold to its catalogue name
// ("3des" for Triple DES, "aes" for Rijndael), for list --json and the completions.
std::vector<std::string> Aliases(const TKC_digestrow& row);
std::vector<std::string> Aliases(const TKC_cipherrow& row);
// Of those, the ones the row lists itself ("aes"), not taken from its class name.
std::vector<std::string_view> OwnAliases(const TKC_digestrow& row);
std::vector<std::string_view> OwnAliases(const TKC_cipherrow& row);
std::vector<std::string> DigestAliases(std::int32_t code);
std::vector<std::string> CipherAliases(std::int32_t code);

// The accepted names, for help texts and error messages.
std::string DigestChoices(std::span<const TKC_digestrow> rows = DigestCatalogue());
std::string CipherChoices(std::span<const TKC_cipherrow> rows = CipherCatalogue());

}  // namespace kestrune::cli
