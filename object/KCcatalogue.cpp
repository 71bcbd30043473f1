#include "KCcatalogue.h"

// The family headers list every algorithm's unit.
#include "../include/kestrune/ciphers.h"
#include "../include/kestrune/hashes.h"

namespace kestrune {
namespace {

constexpr TKC_digestrow Digests[] = {
    {1, "MD4", "TKC_md4", HashClassOf<TKC_md4>},
    {2, "RIPEMD-128", "TKC_ripemd128", HashClassOf<TKC_ripemd128>},
    {3, "RIPEMD-160", "TKC_ripemd160", HashClassOf<TKC_ripemd160>},
    {4, "HAVAL", "TKC_haval", HashClassOf<TKC_haval>},
    {5, "SHA-1", "TKC_sha1", HashClassOf<TKC_sha1>},
    {6, "SHA-256", "TKC_sha256", HashClassOf<TKC_sha256>},
    {7, "SHA-384", "TKC_sha384", HashClassOf<TKC_sha384>},
    {8, "SHA-512", "TKC_sha512", HashClassOf<TKC_sha512>},
    {9, "Tiger", "TKC_tiger", HashClassOf<TKC_tiger>},
    {0, "MD5", "TKC_md5", HashClassOf<TKC_md5>},
};

// AES is Rijndael with a 128-bit block, the only Rijndael here. There is no
// "aes-128" or "aes-256": the key is as long as the password's digest (up
// to 256 bits), so the digest decides the key size, not the cipher's name.
constexpr TKC_cipherrow Ciphers[] = {
    {1, "CAST-128", "TKC_cast128", CipherClassOf<TKC_cast128>},
    {2, "CAST-256", "TKC_cast256", CipherClassOf<TKC_cast256>},
    {3, "DES", "TKC_des", CipherClassOf<TKC_des>},
    {4, "Triple DES", "TKC_3des", CipherClassOf<TKC_3des>},
    {5, "ICE", "TKC_ice", CipherClassOf<TKC_ice>},
    {6, "Thin-ICE", "TKC_thinice", CipherClassOf<TKC_thinice>},
    {7, "ICE-2", "TKC_ice2", CipherClassOf<TKC_ice2>},
    {8, "IDEA", "TKC_idea", CipherClassOf<TKC_idea>},
    {9, "MARS", "TKC_mars", CipherClassOf<TKC_mars>},
    {10, "MISTY1", "TKC_misty1", CipherClassOf<TKC_misty1>},
    {11, "RC2", "TKC_rc2", CipherClassOf<TKC_rc2>},
    {12, "RC4", "TKC_rc4", CipherClassOf<TKC_rc4>},
    {13, "RC5", "TKC_rc5", CipherClassOf<TKC_rc5>},
    {14, "RC6", "TKC_rc6", CipherClassOf<TKC_rc6>},
    {15, "Rijndael", "TKC_rijndael", CipherClassOf<TKC_rijndael>, "aes"},
    {16, "Serpent", "TKC_serpent", CipherClassOf<TKC_serpent>},
    {17, "TEA", "TKC_tea", CipherClassOf<TKC_tea>},
    {18, "Twofish", "TKC_twofish", CipherClassOf<TKC_twofish>},
    {19, "XTEA", "TKC_xtea", CipherClassOf<TKC_xtea>},
    {0, "Blowfish", "TKC_blowfish", CipherClassOf<TKC_blowfish>},
};

static_assert(IsWellFormed(std::span<const TKC_digestrow>(Digests)));
static_assert(IsWellFormed(std::span<const TKC_cipherrow>(Ciphers)));

}  // namespace

std::span<const TKC_digestrow> DigestCatalogue() noexcept { return Digests; }
std::span<const TKC_cipherrow> CipherCatalogue() noexcept { return Ciphers; }

const TKC_hashclass& DigestClassFor(std::int32_t code) noexcept { return RowFor(DigestCatalogue(), code).algorithmClass; }
const TKC_cipherclass& CipherClassFor(std::int32_t code) noexcept { return RowFor(CipherCatalogue(), code).algorithmClass; }

std::unique_ptr<TKC_cipher> CreateCipherFor(std::int32_t code) { return CipherClassFor(code).Create(); }

}  // namespace kestrune
