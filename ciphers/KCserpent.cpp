#include "KCserpent.h"

#include <algorithm>

#include "KCserpent_tables.inc"

namespace kestrune {
namespace {

// The rounds are written once over a word type W: a plain 32-bit word for one
// block, or a vector of four words that carries four blocks side by side.
using Word4 = std::uint32_t __attribute__((vector_size(16)));
using RoundKeys = std::array<std::array<std::uint32_t, 4>, 33>;

template <int N, typename W>
inline W Rotl(W x) noexcept {
    return (x << N) | (x >> (32 - N));
}

template <typename W>
struct Planes {
    W x0, x1, x2, x3;

    void Mix(const std::array<std::uint32_t, 4>& k) noexcept {
        x0 ^= k[0], x1 ^= k[1], x2 ^= k[2], x3 ^= k[3];
    }
    void Linear() noexcept {
        x0 = Rotl<13>(x0), x2 = Rotl<3>(x2);
        x1 ^= x0 ^ x2, x3 ^= x2 ^ (x0 << 3);
        x1 = Rotl<1>(x1), x3 = Rotl<7>(x3);
        x0 ^= x1 ^ x3, x2 ^= x3 ^ (x1 << 7);
        x0 = Rotl<5>(x0), x2 = Rotl<22>(x2);
    }
    void InverseLinear() noexcept {
        x2 = Rotl<10>(x2), x0 = Rotl<27>(x0);
        x2 ^= x3 ^ (x1 << 7), x0 ^= x1 ^ x3;
        x3 = Rotl<25>(x3), x1 = Rotl<31>(x1);
        x3 ^= x2 ^ (x0 << 3), x1 ^= x0 ^ x2;
        x2 = Rotl<29>(x2), x0 = Rotl<19>(x0);
    }
    template <int Box>
    void S() noexcept {
        using namespace tables;
        if constexpr (Box == 0) SerpentS0(x0, x1, x2, x3);
        if constexpr (Box == 1) SerpentS1(x0, x1, x2, x3);
        if constexpr (Box == 2) SerpentS2(x0, x1, x2, x3);
        if constexpr (Box == 3) SerpentS3(x0, x1, x2, x3);
        if constexpr (Box == 4) SerpentS4(x0, x1, x2, x3);
        if constexpr (Box == 5) SerpentS5(x0, x1, x2, x3);
        if constexpr (Box == 6) SerpentS6(x0, x1, x2, x3);
        if constexpr (Box == 7) SerpentS7(x0, x1, x2, x3);
    }
    template <int Box>
    void InverseS() noexcept {
        using namespace tables;
        if constexpr (Box == 0) SerpentInvS0(x0, x1, x2, x3);
        if constexpr (Box == 1) SerpentInvS1(x0, x1, x2, x3);
        if constexpr (Box == 2) SerpentInvS2(x0, x1, x2, x3);
        if constexpr (Box == 3) SerpentInvS3(x0, x1, x2, x3);
        if constexpr (Box == 4) SerpentInvS4(x0, x1, x2, x3);
        if constexpr (Box == 5) SerpentInvS5(x0, x1, x2, x3);
        if constexpr (Box == 6) SerpentInvS6(x0, x1, x2, x3);
        if constexpr (Box == 7) SerpentInvS7(x0, x1, x2, x3);
    }

    // Rounds First..First+7 with S0..S7; the very last round ends with a
    // key mixing instead of the linear transformation.
    template <int Box = 0>
    void EightRounds(const RoundKeys& k, int first) noexcept {
        if constexpr (Box < 8) {
            Mix(k[first + Box]);
            S<Box>();
            if (first + Box == 31)
                Mix(k[32]);
            else
                Linear();
            EightRounds<Box + 1>(k, first);
        }
    }
    template <int Box = 7>
    void EightInverseRounds(const RoundKeys& k, int first) noexcept {
        if constexpr (Box >= 0) {
            if (first + Box == 31)
                Mix(k[32]);
            else
                InverseLinear();
            InverseS<Box>();
            Mix(k[first + Box]);
            EightInverseRounds<Box - 1>(k, first);
        }
    }
    void Encrypt(const RoundKeys& k) noexcept {
        for (int first = 0; first < 32; first += 8) EightRounds(k, first);
    }
    void Decrypt(const RoundKeys& k) noexcept {
        for (int first = 24; first >= 0; first -= 8) EightInverseRounds(k, first);
    }
};

template <bool Encrypting>
void Crypt(const RoundKeys& keys, ConstBytes source, Bytes dest) noexcept {
    const auto run = [&keys](auto& planes) {
        if constexpr (Encrypting)
            planes.Encrypt(keys);
        else
            planes.Decrypt(keys);
    };
    std::size_t off = 0;
    for (; off + 64 <= source.size(); off += 64) {
        // Four blocks, one per vector lane.
        std::array<std::uint32_t, 16> w;
        for (std::size_t i = 0; i < 16; ++i) w[i] = LoadLE32(source.subspan(off + 4 * i));
        Planes<Word4> p{Word4{w[0], w[4], w[8], w[12]}, Word4{w[1], w[5], w[9], w[13]},
                        Word4{w[2], w[6], w[10], w[14]}, Word4{w[3], w[7], w[11], w[15]}};
        run(p);
        for (std::size_t b = 0; b < 4; ++b) {
            const auto out = dest.subspan(off + 16 * b, 16);
            StoreLE32(out, p.x0[b]);
            StoreLE32(out.subspan(4), p.x1[b]);
            StoreLE32(out.subspan(8), p.x2[b]);
            StoreLE32(out.subspan(12), p.x3[b]);
        }
    }
    for (; off < source.size(); off += 16) {
        const auto in = source.subspan(off, 16);
        Planes<std::uint32_t> p{LoadLE32(in), LoadLE32(in.subspan(4)), LoadLE32(in.subspan(8)),
                                LoadLE32(in.subspan(12))};
        run(p);
        const auto out = dest.subspan(off, 16);
        StoreLE32(out, p.x0);
        StoreLE32(out.subspan(4), p.x1);
        StoreLE32(out.subspan(8), p.x2);
        StoreLE32(out.subspan(12), p.x3);
    }
}

}  // namespace

void TKC_serpent::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    // Whole key bytes; a shorter key than 256 bits gets a 1 at bit keyBits
    // (a partial last byte is dropped first) and zeros above it.
    std::array<std::uint32_t, 140> w{};
    std::array<std::uint8_t, 32> padded{};
    std::copy_n(key.begin(), keyBits / 8, padded.begin());
    for (std::size_t i = 0; i < 8; ++i) w[i] = LoadLE32(ConstBytes(padded).subspan(4 * i));
    if (keyBits < 256) {
        std::uint32_t& word = w[keyBits / 32];
        const std::uint32_t bit = std::uint32_t{1} << (keyBits % 32);
        word = (word & (bit - 1)) | bit;
    }
    // Each prekey needs the one just made: it stays in a register rather
    // than making every step wait for its own store to come back.
    std::uint32_t previous = w[7];
    for (std::size_t i = 8; i < 140; ++i)
        previous = w[i] =
            Rol32(w[i - 8] ^ w[i - 5] ^ w[i - 3] ^ previous ^ 0x9E3779B9U ^ static_cast<std::uint32_t>(i - 8), 11);
    // Round key i is S[(3 - i) mod 8] of four prekeys.
    const auto roundKey = [&]<int Box>(std::size_t i) {
        if (i > 32) return;
        Planes<std::uint32_t> p{w[8 + 4 * i], w[9 + 4 * i], w[10 + 4 * i], w[11 + 4 * i]};
        p.template S<Box>();
        RoundSubkeys[i] = {p.x0, p.x1, p.x2, p.x3};
    };
    for (std::size_t i = 0; i < 33; i += 8) {
        roundKey.operator()<3>(i);
        roundKey.operator()<2>(i + 1);
        roundKey.operator()<1>(i + 2);
        roundKey.operator()<0>(i + 3);
        roundKey.operator()<7>(i + 4);
        roundKey.operator()<6>(i + 5);
        roundKey.operator()<5>(i + 6);
        roundKey.operator()<4>(i + 7);
    }
    SecureZero(w);
    SecureZero(padded);
}

void TKC_serpent::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    Crypt<true>(RoundSubkeys, source, dest);
}

void TKC_serpent::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    Crypt<false>(RoundSubkeys, source, dest);
}

bool TKC_serpent::SelfTest() {
    TKC_serpent cipher;
    const bool k128 = CheckBlockVector(cipher, tables::SerpentSelfTestKey1, tables::SerpentSelfTestPlain1,
                                       tables::SerpentSelfTestCipher1);
    const bool k192 = CheckBlockVector(cipher, tables::SerpentSelfTestKey2, tables::SerpentSelfTestPlain2,
                                       tables::SerpentSelfTestCipher2);
    const bool k256 = CheckBlockVector(cipher, tables::SerpentSelfTestKey3, tables::SerpentSelfTestPlain3,
                                       tables::SerpentSelfTestCipher3);
    return k128 && k192 && k256;
}

}  // namespace kestrune
