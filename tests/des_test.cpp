// DES and Triple DES against OpenSSL, with this system's key-size rules:
// zero padding, two-key Triple DES up to 128 bits, K3 from bytes 16-23.
#include <gtest/gtest.h>
#include <openssl/des.h>

#include "ciphers/KCdes.h"
#include "tests/block_oracle.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace kestrune {
namespace {

using test::Block8;

DES_key_schedule OpenSslSchedule(const std::uint8_t* key8) {
    DES_cblock block;
    std::copy_n(key8, 8, block);
    DES_key_schedule ks;
    DES_set_key_unchecked(&block, &ks);
    return ks;
}

struct OpenSslTripleDes {
    DES_key_schedule k1, k2, k3;
    // Three 8-byte keys laid end to end.
    explicit OpenSslTripleDes(const std::array<std::uint8_t, 24>& keys)
        : k1(OpenSslSchedule(keys.data())),
          k2(OpenSslSchedule(keys.data() + 8)),
          k3(OpenSslSchedule(keys.data() + 16)) {}
    Block8 Run(const Block8& in, int enc) {
        DES_cblock a, b;
        std::copy(in.begin(), in.end(), a);
        DES_ecb3_encrypt(&a, &b, &k1, &k2, &k3, enc);
        Block8 out;
        std::copy_n(b, 8, out.begin());
        return out;
    }
};

void ExpectTripleDes(const std::vector<std::uint8_t>& key, std::uint32_t keyBits,
                     const std::array<std::uint8_t, 24>& k123) {
    TKC_3des ours;
    ours.Init(key, keyBits);
    OpenSslTripleDes ref(k123);
    test::ExpectMatchesReference(
        ours, [&](const Block8& b) { return ref.Run(b, DES_ENCRYPT); },
        [&](const Block8& b) { return ref.Run(b, DES_DECRYPT); }, "3DES " + std::to_string(keyBits) + "-bit key");
}

std::array<std::uint8_t, 24> Keys(const std::vector<std::uint8_t>& k1, const std::vector<std::uint8_t>& k2,
                                  const std::vector<std::uint8_t>& k3) {
    std::array<std::uint8_t, 24> out{};
    std::copy_n(k1.begin(), 8, out.begin());
    std::copy_n(k2.begin(), 8, out.begin() + 8);
    std::copy_n(k3.begin(), 8, out.begin() + 16);
    return out;
}

const std::vector<std::uint8_t> Key24 = test::RandomBytes(24, 3);
const std::vector<std::uint8_t> Zero8(8, 0);

std::vector<std::uint8_t> Part(std::size_t from, std::size_t count) {
    std::vector<std::uint8_t> out(8, 0);
    std::copy_n(Key24.begin() + static_cast<std::ptrdiff_t>(from), count, out.begin());
    return out;
}

TEST(TripleDes, KeySizesGiveTheirThreeKeys) {
    ExpectTripleDes(Key24, 192, Keys(Part(0, 8), Part(8, 8), Part(16, 8)));
    // Up to 128 bits: two-key Triple DES, K3 = K1.
    ExpectTripleDes(Key24, 128, Keys(Part(0, 8), Part(8, 8), Part(0, 8)));
    // 64 bits: K2 is the all-zero key.
    ExpectTripleDes(Key24, 64, Keys(Part(0, 8), Zero8, Part(0, 8)));
    // 160 bits (SHA-1 and RIPEMD-160 passwords): K3 = bytes 16-19 then zeros.
    ExpectTripleDes(Key24, 160, Keys(Part(0, 8), Part(8, 8), Part(16, 4)));
    // Just over 128 bits: the nibble is dropped, but K3 is no longer K1.
    ExpectTripleDes(Key24, 132, Keys(Part(0, 8), Part(8, 8), Zero8));
}

TEST(TripleDes, ThreeEqualKeysAreSingleDes) {
    std::vector<std::uint8_t> key(24);
    for (std::size_t i = 0; i < 24; ++i) key[i] = Key24[i % 8];
    TKC_3des triple;
    TKC_des single;
    triple.Init(key, 192);
    single.Init(key, 64);
    const auto data = test::RandomBytes(800, 9);
    std::vector<std::uint8_t> a = data, b = data;
    triple.Encrypt(a, a);
    single.Encrypt(b, b);
    EXPECT_EQ(a, b);
}

TEST(Des, MatchesOpenSslForRandomKeysAndShortKeysArePadded) {
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        const auto key = test::RandomBytes(8, seed);
        for (std::size_t bytes : {8u, 7u, 5u, 1u}) {
            std::vector<std::uint8_t> padded(8, 0);
            std::copy_n(key.begin(), bytes, padded.begin());
            DES_key_schedule ks = OpenSslSchedule(padded.data());
            auto run = [&ks](const Block8& in, int enc) {
                DES_cblock a, b;
                std::copy(in.begin(), in.end(), a);
                DES_ecb_encrypt(&a, &b, &ks, enc);
                Block8 out;
                std::copy_n(b, 8, out.begin());
                return out;
            };
            TKC_des ours;
            ours.Init(key, static_cast<std::uint32_t>(bytes * 8));
            test::ExpectMatchesReference(
                ours, [&](const Block8& b) { return run(b, DES_ENCRYPT); },
                [&](const Block8& b) { return run(b, DES_DECRYPT); },
                "DES " + std::to_string(bytes * 8) + "-bit key, seed " + std::to_string(seed));
        }
    }
}

TEST(Des, ParityBitsAreIgnored) {
    const auto key = test::RandomBytes(24, 11);
    const auto data = test::RandomBytes(64, 12);
    for (std::size_t flipped = 0; flipped < 24; ++flipped) {
        auto changed = key;
        changed[flipped] ^= 1;
        TKC_3des a, b;
        a.Init(key, 192);
        b.Init(changed, 192);
        std::vector<std::uint8_t> x = data, y = data;
        a.Encrypt(x, x);
        b.Encrypt(y, y);
        EXPECT_EQ(x, y) << "low bit of key byte " << flipped;
    }
}

}  // namespace
}  // namespace kestrune
