// Moving legacy values into age files: decrypt with the legacy settings,
// encrypt to age recipients, in one pass, so that the plaintext never sits
// anywhere but in wiped memory. And back: age files read for round trips.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "age.h"
#include "object/KCfiles.h"

namespace kestrune::cli {

// What produced a legacy value.
struct TLegacySettings {
    std::int32_t cipher = 0, hash = 0, mode = 0;
};

// A legacy string (the Base64 text that encrypt-string writes) as age
// armor, with its final line break: the text's plaintext is stored as
// UTF-8. std::runtime_error with the reason when the value is not such
// Base64 (unless lenient) or does not decrypt.
std::string UpgradeString(const TLegacySettings& settings, std::u16string_view value, std::u16string_view password,
                          const age::TRecipients& recipients, bool lenient);

// A legacy file into an age file, streamed; dest is committed only when
// all of it is written. The failure's reason, or throws age::EAge.
FileStatus UpgradeFile(const TLegacySettings& settings, TKC_sourcefile& source, TKC_destinationfile& dest,
                       std::u16string_view password, const age::TRecipients& recipients, bool armor);

// Reads the age file source into dest and commits it once the last chunk
// has authenticated. Standard output and other streams cannot be taken
// back: there the plaintext is held in memory, up to HeldOutputLimit, and
// written only once all of it has authenticated; a larger one goes out
// chunk by chunk, each only once it has authenticated. Throws
// std::runtime_error with the reason.
inline constexpr std::size_t HeldOutputLimit = std::size_t{64} << 20;
void AgeDecryptFile(TKC_sourcefile& source, TKC_destinationfile& dest, const std::string& sourceName,
                    const std::string& destName, const age::TIdentities& identities);

// Batch upgrade: one JSON object per line, one answer line per request.
//   {"id": 1, "value": "<Base64>"}                 -> {"id": 1, "result": "-----BEGIN AGE...\n...\n"}
//   {"value": "...", "cipher": "des", "hash": "sha1"}   (settings of this value only)
//   {"source": "a.enc", "dest": "a.age", "mode": "ofb"} -> {"result": "a.age"}
//   anything that fails                            -> {"id": 1, "error": "why"}
// Blank lines get no answer. Returns 0 when every request succeeded, 1
// otherwise (all are still answered).
int RunUpgradeBatch(std::istream& in, std::ostream& out, const TLegacySettings& settings, std::u16string_view password,
                    const age::TRecipients& recipients, bool armor, bool lenient);

}  // namespace kestrune::cli
