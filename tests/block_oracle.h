// Checks a 64-bit block cipher against an independent implementation of
// the same primitive: single blocks, and CBC, CTR, OFB and CFB-block over
// many blocks from the password-style initial vector E(zero block), so that
// the many-block paths and the key schedule are compared, not just one block.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "framework/KCblockciphers.h"
#include "tests/vectors.h"

namespace kestrune::test {

using Block8 = std::array<std::uint8_t, 8>;
// The reference's one-block encryption or decryption.
using ReferenceBlock = std::function<Block8(const Block8&)>;

inline std::vector<std::uint8_t> RandomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(gen());
    return out;
}

// ours must already be keyed (without an initial vector).
inline void ExpectMatchesReference(TKC_blockcipher64& ours, const ReferenceBlock& encrypt,
                                   const ReferenceBlock& decrypt, const std::string& what) {
    const auto data = RandomBytes(8 * 301 + 3, 7);
    for (std::size_t off = 0; off < 24; off += 8) {
        Block8 block, out;
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(off), 8, block.begin());
        ours.EncryptBlock(block, out);
        const Block8 reference = encrypt(block);
        ASSERT_EQ(ToHex({out.begin(), out.end()}), ToHex({reference.begin(), reference.end()})) << what;
        ours.DecryptBlock(out, out);
        ASSERT_EQ(out, block) << what;
        const Block8 theirs = decrypt(encrypt(block));
        ASSERT_EQ(theirs, block) << what << " (reference round trip)";
    }

    const Block8 iv = encrypt(Block8{});
    // CBC over whole blocks, then the keystream tail E(last ciphertext).
    std::vector<std::uint8_t> expected(data.size());
    Block8 chain = iv;
    const std::size_t whole = data.size() / 8 * 8;
    for (std::size_t off = 0; off < whole; off += 8) {
        for (std::size_t i = 0; i < 8; ++i) chain[i] ^= data[off + i];
        chain = encrypt(chain);
        std::copy(chain.begin(), chain.end(), expected.begin() + static_cast<std::ptrdiff_t>(off));
    }
    chain = encrypt(chain);
    for (std::size_t i = whole; i < data.size(); ++i) expected[i] = data[i] ^ chain[i - whole];

    ours.CipherMode = TKC_ciphermode::cmCBC;
    ours.Reset();
    std::vector<std::uint8_t> buffer = data;
    ours.Encrypt(buffer, buffer);
    EXPECT_EQ(ToHex(buffer), ToHex(expected)) << what << " CBC";
    ours.Reset();
    ours.Decrypt(buffer, buffer);
    EXPECT_EQ(buffer, data) << what << " CBC decrypting";

    // CTR: big-endian counter from the initial vector.
    Block8 counter = iv;
    for (std::size_t off = 0; off < data.size(); off += 8) {
        const Block8 ks = encrypt(counter);
        for (std::size_t i = 0; i < 8 && off + i < data.size(); ++i) expected[off + i] = data[off + i] ^ ks[i];
        for (std::size_t i = 8; i-- > 0;)
            if (++counter[i] != 0) break;
    }
    ours.CipherMode = TKC_ciphermode::cmCTR;
    ours.Reset();
    buffer = data;
    ours.Encrypt(buffer, buffer);
    EXPECT_EQ(ToHex(buffer), ToHex(expected)) << what << " CTR";

    // OFB and CFB-block: the tail is the next keystream block in both.
    for (const bool feedback : {false, true}) {
        chain = iv;
        for (std::size_t off = 0; off < data.size(); off += 8) {
            chain = encrypt(chain);
            for (std::size_t i = 0; i < 8 && off + i < data.size(); ++i) {
                expected[off + i] = data[off + i] ^ chain[i];
                if (feedback) chain[i] = expected[off + i];
            }
        }
        ours.CipherMode = feedback ? TKC_ciphermode::cmCFBblock : TKC_ciphermode::cmOFB;
        ours.Reset();
        buffer = data;
        ours.Encrypt(buffer, buffer);
        EXPECT_EQ(ToHex(buffer), ToHex(expected)) << what << (feedback ? " CFB-block" : " OFB");
        ours.Reset();
        ours.Decrypt(buffer, buffer);
        EXPECT_EQ(buffer, data) << what << (feedback ? " CFB-block" : " OFB") << " decrypting";
    }
}

// A key of keyBits made of the first bytes of bytes.
inline std::vector<std::uint8_t> KeyOf(const std::vector<std::uint8_t>& bytes, std::size_t keyBytes) {
    return {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(keyBytes)};
}

}  // namespace kestrune::test
