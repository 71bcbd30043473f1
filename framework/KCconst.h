// Algorithm identifiers: one numbering space shared by digests and ciphers.
// Stored data never depends on them; they identify a class to callers and tools.
#pragma once

#include <cstdint>

namespace kestrune::ids {

inline constexpr std::int32_t RC2 = 1;
inline constexpr std::int32_t SHA1 = 2;
inline constexpr std::int32_t RC5 = 3;
inline constexpr std::int32_t RC6 = 4;
inline constexpr std::int32_t Blowfish = 5;
inline constexpr std::int32_t Twofish = 6;
inline constexpr std::int32_t Cast128 = 7;
inline constexpr std::int32_t Rijndael = 9;
inline constexpr std::int32_t RipeMD160 = 10;
inline constexpr std::int32_t Misty1 = 11;
inline constexpr std::int32_t IDEA = 12;
inline constexpr std::int32_t Mars = 13;
inline constexpr std::int32_t Haval = 14;
inline constexpr std::int32_t Cast256 = 15;
inline constexpr std::int32_t MD5 = 16;
inline constexpr std::int32_t MD4 = 17;
inline constexpr std::int32_t Tiger = 18;
inline constexpr std::int32_t RC4 = 19;
inline constexpr std::int32_t Ice = 20;
inline constexpr std::int32_t ThinIce = 21;
inline constexpr std::int32_t Ice2 = 22;
inline constexpr std::int32_t DES = 23;
inline constexpr std::int32_t TripleDES = 24;
inline constexpr std::int32_t Tea = 25;
inline constexpr std::int32_t Serpent = 26;
inline constexpr std::int32_t RipeMD128 = 27;
inline constexpr std::int32_t SHA256 = 28;
inline constexpr std::int32_t SHA384 = 29;
inline constexpr std::int32_t SHA512 = 30;
inline constexpr std::int32_t XTea = 31;

}  // namespace kestrune::ids
