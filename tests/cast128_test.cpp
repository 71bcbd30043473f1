// CAST-128 against OpenSSL's CAST5, which also runs 12 rounds for keys of
// up to 10 bytes; here the round count follows the whole bytes of the key.
#include <gtest/gtest.h>
#include <openssl/cast.h>

#include "ciphers/KCcast128.h"
#include "tests/block_oracle.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace kestrune {
namespace {

using test::Block8;

void ExpectCast5(TKC_cast128& ours, const std::vector<std::uint8_t>& refKey, const std::string& what) {
    CAST_KEY ks;
    CAST_set_key(&ks, static_cast<int>(refKey.size()), refKey.data());
    auto run = [&ks](const Block8& in, int enc) {
        Block8 out;
        CAST_ecb_encrypt(in.data(), out.data(), &ks, enc);
        return out;
    };
    test::ExpectMatchesReference(
        ours, [&](const Block8& b) { return run(b, CAST_ENCRYPT); },
        [&](const Block8& b) { return run(b, CAST_DECRYPT); }, what);
}

TEST(Cast128, EveryWholeByteKeyLengthMatchesCast5) {
    const auto key = test::RandomBytes(16, 21);
    for (std::size_t bytes = 1; bytes <= 16; ++bytes) {
        TKC_cast128 ours;
        ours.Init(key, static_cast<std::uint32_t>(8 * bytes));
        ExpectCast5(ours, test::KeyOf(key, bytes), std::to_string(8 * bytes) + "-bit key");
    }
}

TEST(Cast128, RoundCountFollowsWholeKeyBytes) {
    auto key = test::RandomBytes(11, 22);
    key[10] = 0;  // 88 bits whose last byte is zero: the same padded key as 80 bits
    const auto data = test::RandomBytes(64, 23);
    auto encrypt = [&](std::uint32_t bits, std::vector<std::uint8_t> k) {
        TKC_cast128 cipher;
        cipher.Init(k, bits);
        std::vector<std::uint8_t> out = data;
        cipher.Encrypt(out, out);
        return out;
    };
    const auto eighty = encrypt(80, key);
    // 84 bits still hold 10 whole bytes: 12 rounds, the nibble ignored.
    key[10] = 0xF0;
    EXPECT_EQ(encrypt(84, key), eighty);
    // 88 bits: 16 rounds, so a different result for the same padded key.
    key[10] = 0;
    EXPECT_NE(encrypt(88, key), eighty);

    TKC_cast128 sixteenRounds;
    sixteenRounds.Init(key, 88);
    ExpectCast5(sixteenRounds, key, "88-bit key");
    TKC_cast128 twelveRounds;
    twelveRounds.Init(key, 84);
    ExpectCast5(twelveRounds, test::KeyOf(key, 10), "84-bit key");
}

}  // namespace
}  // namespace kestrune
