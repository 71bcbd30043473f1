// The ICE family beyond its published vectors: the shared S-boxes under
// racing first constructions, the key padding and the three levels.
#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <vector>

#include "ciphers/KCice.h"
#include "tests/thread_gate.h"
#include "tests/vectors.h"

namespace kestrune {
namespace {

// ctest runs every test in a process of its own, so here the S-boxes do
// not exist yet and the threads below race to build them.
TEST(IceSharedSBoxes, RacingFirstConstructionsBuildThemOnceAndReadThemWhole) {
    constexpr std::size_t Threads = 8;
    const TKC_cipherclass* classes[] = {&CipherClassOf<TKC_ice>, &CipherClassOf<TKC_thinice>,
                                        &CipherClassOf<TKC_ice2>};
    test::TThreadGate start(static_cast<int>(Threads));
    std::array<bool, Threads> passed{};
    std::array<const IceSBoxes*, Threads> seen{};
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            start.ArriveAndWait();
            // The self-test constructs the first instance and checks a
            // published vector, which a half-built table would fail.
            passed[t] = classes[t % 3]->SelfTest();
            seen[t] = &TKC_customice::SharedSBoxes();
        });
    }
    for (auto& thread : threads) thread.join();
    for (std::size_t t = 0; t < Threads; ++t) {
        EXPECT_TRUE(passed[t]) << "thread " << t;
        EXPECT_EQ(seen[t], seen[0]);
    }
    EXPECT_EQ(TKC_customice::SharedSBoxBuilds(), 1u);
}

std::vector<std::uint8_t> EncryptOne(TKC_blockcipher64& cipher, const std::vector<std::uint8_t>& key,
                                     std::uint32_t keyBits, const std::vector<std::uint8_t>& plain) {
    cipher.Init(key, keyBits);
    std::array<std::uint8_t, 8> block;
    std::copy(plain.begin(), plain.end(), block.begin());
    cipher.EncryptBlock(block, block);
    return {block.begin(), block.end()};
}

TEST(IceFamily, ShortKeysArePaddedWithZeroBytes) {
    const auto plain = test::FromHex("FEDCBA9876543210");
    const auto key = test::FromHex("DEADBEEF01234567");
    auto padded = key;
    padded.resize(16, 0);
    TKC_ice2 ice2;
    EXPECT_EQ(EncryptOne(ice2, key, 64, plain), EncryptOne(ice2, padded, 128, plain));
    // 60 bits: the last key byte is zero.
    auto seven = key;
    seven[7] = 0;
    TKC_ice ice;
    EXPECT_EQ(EncryptOne(ice, key, 60, plain), EncryptOne(ice, seven, 64, plain));
    EXPECT_NE(EncryptOne(ice, key, 60, plain), EncryptOne(ice, key, 64, plain));
}

TEST(IceFamily, LevelsDifferAndEachDecryptsItsOwn) {
    const auto plain = test::FromHex("0011223344556677");
    const auto key = test::FromHex("0123456789ABCDEF");
    TKC_ice ice;
    TKC_thinice thin;
    const auto byIce = EncryptOne(ice, key, 64, plain);
    const auto byThin = EncryptOne(thin, key, 64, plain);
    EXPECT_NE(byIce, byThin);
    for (auto [cipher, text] : {std::pair<TKC_blockcipher64*, const std::vector<std::uint8_t>*>{&ice, &byIce},
                                {&thin, &byThin}}) {
        std::array<std::uint8_t, 8> block;
        std::copy(text->begin(), text->end(), block.begin());
        cipher->DecryptBlock(block, block);
        EXPECT_EQ(test::ToHex({block.begin(), block.end()}), test::ToHex(plain));
    }
}

TEST(IceFamily, WipedOrUnkeyedInstancesRefuseWork) {
    TKC_ice2 cipher;
    std::array<std::uint8_t, 8> block{};
    EXPECT_THROW(cipher.EncryptBlock(block, block), EKC_blockcipher);
    cipher.Init(test::FromHex("00112233445566778899AABBCCDDEEFF"), 128);
    cipher.EncryptBlock(block, block);
    cipher.Wipe();
    EXPECT_FALSE(cipher.IsInitialized());
    EXPECT_THROW(cipher.DecryptBlock(block, block), EKC_blockcipher);
    // A 4-bit key holds no whole byte: it is zero-filled to the all-zero key.
    std::array<std::uint8_t, 8> zeroKeyed{};
    block.fill(0);
    cipher.Init(test::FromHex("F0"), 4);
    cipher.EncryptBlock(block, block);
    cipher.Init(std::array<std::uint8_t, 16>{}, 128);
    cipher.EncryptBlock(zeroKeyed, zeroKeyed);
    EXPECT_EQ(block, zeroKeyed);
}

}  // namespace
}  // namespace kestrune
