// The CTR counter is one big-endian number of the block's width: carries
// cross every byte and word boundary, and the carry out of the top is lost.
#include <gtest/gtest.h>

#include "ciphers/KCblowfish.h"
#include "ciphers/KCrijndael.h"

namespace kestrune {
namespace {

template <std::size_t B>
std::array<std::uint8_t, B> Plus(std::array<std::uint8_t, B> counter, unsigned steps) {
    for (unsigned s = 0; s < steps; ++s)
        for (std::size_t i = B; i-- > 0;)
            if (++counter[i] != 0) break;
    return counter;
}

// Keystream of CTR from the given start, one call over several batches,
// against E(start + i) block by block.
template <typename Cipher, std::size_t B>
void ExpectCounterRun(const std::array<std::uint8_t, B>& start) {
    const std::vector<std::uint8_t> key(16, 0x5C);
    constexpr unsigned Blocks = 140;  // over more than one batch of the modes
    Cipher ctr, ecb;
    ctr.CipherMode = TKC_ciphermode::cmCTR;
    ctr.Init(key, 128, start);
    ecb.Init(key, 128);
    std::vector<std::uint8_t> stream(B * Blocks + 3, 0);
    ctr.Encrypt(stream, stream);
    for (unsigned b = 0; b * B < stream.size(); ++b) {
        auto block = Plus(start, b);
        ecb.EncryptBlock(block, block);
        const std::size_t n = std::min(B, stream.size() - b * B);
        EXPECT_TRUE(std::equal(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n),
                               stream.begin() + static_cast<std::ptrdiff_t>(b * B)))
            << "block " << b;
    }
    // The chaining value left behind is the next counter.
    std::array<std::uint8_t, B> next;
    ctr.GetIV(next);
    EXPECT_EQ(next, Plus(start, Blocks + 1));
}

TEST(CounterMode, CarriesAcrossWordsAndWrapsAround) {
    std::array<std::uint8_t, 16> low{};  // ...00 FF FF FF FF FF FF FF C0
    std::fill(low.begin() + 8, low.end(), 0xFF);
    low[15] = 0xC0;
    ExpectCounterRun<TKC_rijndael>(low);
    std::array<std::uint8_t, 16> top;  // FF...FF C0: wraps to zero
    top.fill(0xFF);
    top[15] = 0xC0;
    ExpectCounterRun<TKC_rijndael>(top);
    std::array<std::uint8_t, 16> ff00{};
    ff00[15] = 0xFF;
    ExpectCounterRun<TKC_rijndael>(ff00);
    std::array<std::uint8_t, 8> small;
    small.fill(0xFF);
    small[7] = 0xE0;
    ExpectCounterRun<TKC_blowfish>(small);
}

}  // namespace
}  // namespace kestrune
