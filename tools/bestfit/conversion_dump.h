// What a converter makes of a code page, in one byte string: every UTF-16
// code unit encoded on its own, every byte decoded on its own and, for a
// double-byte page, every two bytes decoded together. Each answer is its
// length (units or bytes, one byte) and then its bytes (units little-endian).
// gen_bestfit records the SHA-256 of Wine's dump of each page; the tests
// compare the portable converter's with it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "hashes/KCsha256.h"

namespace kestrune::tools {

template <typename Encode, typename Decode>
std::string ConversionDump(bool doubleByte, Encode encode, Decode decode) {
    std::string dump;
    dump.reserve(doubleByte ? 0x50000 : 0x30000);
    const auto units = [&](const std::u16string& text) {
        dump.push_back(static_cast<char>(text.size()));
        for (const char16_t unit : text) {
            dump.push_back(static_cast<char>(unit & 0xFF));
            dump.push_back(static_cast<char>(unit >> 8));
        }
    };
    for (std::uint32_t u = 0; u < 0x10000; ++u) {
        const std::string bytes = encode(std::u16string(1, static_cast<char16_t>(u)));
        dump.push_back(static_cast<char>(bytes.size()));
        dump += bytes;
    }
    for (unsigned b = 0; b < 0x100; ++b) units(decode(std::string(1, static_cast<char>(b))));
    if (doubleByte) {
        for (unsigned pair = 0; pair < 0x10000; ++pair) {
            const char bytes[2] = {static_cast<char>(pair >> 8), static_cast<char>(pair & 0xFF)};
            units(decode(std::string(bytes, 2)));
        }
    }
    return dump;
}

inline std::string Sha256Hex(const std::string& data) {
    TKC_sha256 sha;
    sha.Init();
    sha.Update(ConstBytes(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
    std::array<std::uint8_t, 32> digest{};
    sha.Final(digest);
    std::string hex;
    for (const auto byte : digest) {
        hex.push_back("0123456789abcdef"[byte >> 4]);
        hex.push_back("0123456789abcdef"[byte & 0xF]);
    }
    return hex;
}

}  // namespace kestrune::tools
