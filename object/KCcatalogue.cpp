#include "KCcatalogue.h"

#include <string>

#include "ciphers/KCblowfish.h"
#include "ciphers/KCcast128.h"
#include "ciphers/KCcast256.h"
#include "ciphers/KCdes.h"
#include "ciphers/KCice.h"
#include "ciphers/KCidea.h"
#include "ciphers/KCmars.h"
#include "ciphers/KCmisty1.h"
#include "ciphers/KCrc2.h"
#include "ciphers/KCrc4.h"
#include "ciphers/KCrc5.h"
#include "ciphers/KCrc6.h"
#include "ciphers/KCrijndael.h"
#include "ciphers/KCserpent.h"
#include "ciphers/KCtea.h"
#include "ciphers/KCtwofish.h"
#include "ciphers/KCxtea.h"
#include "hashes/KChaval.h"
#include "hashes/KCmd4.h"
#include "hashes/KCmd5.h"
#include "hashes/KCripemd128.h"
#include "hashes/KCripemd160.h"
#include "hashes/KCsha1.h"
#include "hashes/KCsha256.h"
#include "hashes/KCsha512.h"
#include "hashes/KCtiger.h"
#include "object/UKestrune.h"

namespace kestrune {
namespace {

constexpr TKC_digestrow Digests[] = {
    {1, "MD4", &HashClassOf<TKC_md4>},
    {2, "RIPEMD-128", &HashClassOf<TKC_ripemd128>},
    {3, "RIPEMD-160", &HashClassOf<TKC_ripemd160>},
    {4, "HAVAL", &HashClassOf<TKC_haval>},
    {5, "SHA-1", &HashClassOf<TKC_sha1>},
    {6, "SHA-256", &HashClassOf<TKC_sha256>},
    {7, "SHA-384", &HashClassOf<TKC_sha384>},
    {8, "SHA-512", &HashClassOf<TKC_sha512>},
    {9, "Tiger", &HashClassOf<TKC_tiger>},
    {0, "MD5", &HashClassOf<TKC_md5>},
};

constexpr TKC_cipherrow Ciphers[] = {
    {1, "CAST-128", &CipherClassOf<TKC_cast128>},
    {2, "CAST-256", &CipherClassOf<TKC_cast256>},
    {3, "DES", &CipherClassOf<TKC_des>},
    {4, "Triple DES", &CipherClassOf<TKC_3des>},
    {5, "ICE", &CipherClassOf<TKC_ice>},
    {6, "Thin-ICE", &CipherClassOf<TKC_thinice>},
    {7, "ICE-2", &CipherClassOf<TKC_ice2>},
    {8, "IDEA", &CipherClassOf<TKC_idea>},
    {9, "MARS", &CipherClassOf<TKC_mars>},
    {10, "MISTY1", &CipherClassOf<TKC_misty1>},
    {11, "RC2", &CipherClassOf<TKC_rc2>},
    {12, "RC4", &CipherClassOf<TKC_rc4>},
    {13, "RC5", &CipherClassOf<TKC_rc5>},
    {14, "RC6", &CipherClassOf<TKC_rc6>},
    {15, "Rijndael", &CipherClassOf<TKC_rijndael>},
    {16, "Serpent", &CipherClassOf<TKC_serpent>},
    {17, "TEA", &CipherClassOf<TKC_tea>},
    {18, "Twofish", &CipherClassOf<TKC_twofish>},
    {19, "XTEA", &CipherClassOf<TKC_xtea>},
    {0, "Blowfish", &CipherClassOf<TKC_blowfish>},
};

template <typename Row, std::size_t N>
const Row& RowFor(const Row (&rows)[N], std::int32_t code) noexcept {
    for (std::size_t i = 0; i + 1 < N; ++i)
        if (rows[i].code == code) return rows[i];
    return rows[N - 1];
}

[[noreturn]] void NotBuilt(std::string_view kind, std::string_view name, std::int32_t code) {
    throw EKestrune(std::string(kind) + " " + std::string(name) + " (code " + std::to_string(code) +
                    ") is not available in this build");
}

}  // namespace

std::span<const TKC_digestrow> DigestCatalogue() noexcept { return Digests; }
std::span<const TKC_cipherrow> CipherCatalogue() noexcept { return Ciphers; }

const TKC_hashclass& DigestClassFor(std::int32_t code) {
    const auto& row = RowFor(Digests, code);
    if (row.digestClass == nullptr) NotBuilt("Digest", row.name, code);
    return *row.digestClass;
}

const TKC_cipherclass& CipherClassFor(std::int32_t code) {
    const auto& row = RowFor(Ciphers, code);
    if (row.cipherClass == nullptr) NotBuilt("Cipher", row.name, code);
    return *row.cipherClass;
}

std::unique_ptr<TKC_cipher> CreateCipherFor(std::int32_t code) { return CipherClassFor(code).Create(); }

}  // namespace kestrune
