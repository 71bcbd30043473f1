#include "KCtwofish.h"

#include <algorithm>

#include "KCtwofish_tables.inc"

namespace kestrune {
namespace {

using tables::TwofishQ0;
using tables::TwofishQ1;
using QTable = std::array<std::uint8_t, 256>;

// The q-permutations met by byte j of a word on its way through h: the
// stage added by a fourth key word, by a third, the two stages every key
// has, and the last one, which the MDS table already includes.
constexpr const QTable* QStage4[4] = {&TwofishQ1, &TwofishQ0, &TwofishQ0, &TwofishQ1};
constexpr const QTable* QStage3[4] = {&TwofishQ1, &TwofishQ1, &TwofishQ0, &TwofishQ0};
constexpr const QTable* QStage2[4] = {&TwofishQ0, &TwofishQ1, &TwofishQ0, &TwofishQ1};
constexpr const QTable* QStage1[4] = {&TwofishQ0, &TwofishQ0, &TwofishQ1, &TwofishQ1};
constexpr const QTable* QStageLast[4] = {&TwofishQ1, &TwofishQ0, &TwofishQ1, &TwofishQ0};

std::uint8_t GfMul(std::uint8_t a, std::uint8_t b, unsigned poly) noexcept {
    unsigned x = a, r = 0;
    for (; b != 0; b >>= 1) {
        if (b & 1) r ^= x;
        x <<= 1;
        if (x & 0x100) x ^= poly;
    }
    return static_cast<std::uint8_t>(r);
}

// A function-local static: C++ guarantees it is built exactly once, and
// that threads arriving meanwhile wait until it is complete.
const TKC_twofish::MdsTable& SharedMdsTable() {
    static const TKC_twofish::MdsTable table = [] {
        TKC_twofish::MdsTable t{};
        for (std::size_t col = 0; col < 4; ++col)
            for (std::size_t x = 0; x < 256; ++x) {
                const std::uint8_t q = (*QStageLast[col])[x];
                std::uint32_t w = 0;
                for (std::size_t row = 0; row < 4; ++row)
                    w |= std::uint32_t{GfMul(tables::TwofishMDS[4 * row + col], q, 0x169)} << (8 * row);
                t[col][x] = w;
            }
        return t;
    }();
    return table;
}

// Byte j of h(x, L) before the last q stage and the MDS matrix.
std::uint8_t HByte(std::size_t j, std::uint8_t x, const std::uint32_t* list, std::size_t k) noexcept {
    const auto keyByte = [&](std::size_t i) { return static_cast<std::uint8_t>(list[i] >> (8 * j)); };
    if (k == 4) x = (*QStage4[j])[x] ^ keyByte(3);
    if (k >= 3) x = (*QStage3[j])[x] ^ keyByte(2);
    x = (*QStage2[j])[x] ^ keyByte(1);
    return (*QStage1[j])[x] ^ keyByte(0);
}

std::uint32_t H(const TKC_twofish::MdsTable& mds, std::uint8_t x, const std::uint32_t* list, std::size_t k) noexcept {
    return mds[0][HByte(0, x, list, k)] ^ mds[1][HByte(1, x, list, k)] ^ mds[2][HByte(2, x, list, k)] ^
           mds[3][HByte(3, x, list, k)];
}

}  // namespace

TKC_twofish::TKC_twofish() noexcept : Mds(SharedMdsTable()) {}

void TKC_twofish::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    // Key length rounded up in bits; the missing bytes are zeros.
    std::array<std::uint8_t, 32> padded{};
    std::copy_n(key.begin(), keyBits / 8, padded.begin());
    const std::size_t k = keyBits <= 128 ? 2 : keyBits <= 192 ? 3 : 4;
    std::array<std::uint32_t, 4> even{}, odd{}, sboxKey{};
    for (std::size_t i = 0; i < k; ++i) {
        const ConstBytes block = ConstBytes(padded).subspan(8 * i, 8);
        even[i] = LoadLE32(block);
        odd[i] = LoadLE32(block.subspan(4));
        // The Reed-Solomon code of each 64-bit key block, last block first.
        std::uint32_t s = 0;
        for (std::size_t row = 0; row < 4; ++row) {
            std::uint8_t r = 0;
            for (std::size_t col = 0; col < 8; ++col) r ^= GfMul(tables::TwofishRS[8 * row + col], block[col], 0x14D);
            s |= std::uint32_t{r} << (8 * row);
        }
        sboxKey[k - 1 - i] = s;
    }
    for (std::size_t i = 0; i < 20; ++i) {
        const std::uint32_t a = H(Mds, static_cast<std::uint8_t>(2 * i), even.data(), k);
        const std::uint32_t b = Rol32(H(Mds, static_cast<std::uint8_t>(2 * i + 1), odd.data(), k), 8);
        RoundSubkeys[2 * i] = a + b;
        RoundSubkeys[2 * i + 1] = Rol32(a + 2 * b, 9);
    }
    // The keyed S-boxes, column by column with the stages fixed outside the
    // loop over x: byte by byte through HByte cost three times as much.
    for (std::size_t j = 0; j < 4; ++j) {
        const auto keyByte = [&](std::size_t i) { return static_cast<std::uint8_t>(sboxKey[i] >> (8 * j)); };
        const std::uint8_t k0 = keyByte(0), k1 = keyByte(1), k2 = keyByte(2), k3 = keyByte(3);
        const QTable &q1 = *QStage1[j], &q2 = *QStage2[j], &q3 = *QStage3[j], &q4 = *QStage4[j];
        const auto& mds = Mds[j];
        auto& out = KeyedSBoxes[j];
        if (k == 2)
            for (std::size_t x = 0; x < 256; ++x) out[x] = mds[q1[q2[x] ^ k1] ^ k0];
        else if (k == 3)
            for (std::size_t x = 0; x < 256; ++x) out[x] = mds[q1[q2[q3[x] ^ k2] ^ k1] ^ k0];
        else
            for (std::size_t x = 0; x < 256; ++x) out[x] = mds[q1[q2[q3[q4[x] ^ k3] ^ k2] ^ k1] ^ k0];
    }
    SecureZero(padded);
    SecureZero(even);
    SecureZero(odd);
    SecureZero(sboxKey);
}

void TKC_twofish::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    const auto& K = RoundSubkeys;
    for (std::size_t off = 0; off < source.size(); off += 16) {
        const auto in = source.subspan(off, 16);
        std::uint32_t a = LoadLE32(in) ^ K[0], b = LoadLE32(in.subspan(4)) ^ K[1];
        std::uint32_t c = LoadLE32(in.subspan(8)) ^ K[2], d = LoadLE32(in.subspan(12)) ^ K[3];
        // Two rounds per step, so that the halves never need swapping.
        for (std::size_t r = 8; r < 40; r += 4) {
            std::uint32_t t0 = G0(a), t1 = G1(b);
            c = Ror32(c ^ (t0 + t1 + K[r]), 1);
            d = Rol32(d, 1) ^ (t0 + 2 * t1 + K[r + 1]);
            t0 = G0(c), t1 = G1(d);
            a = Ror32(a ^ (t0 + t1 + K[r + 2]), 1);
            b = Rol32(b, 1) ^ (t0 + 2 * t1 + K[r + 3]);
        }
        const auto out = dest.subspan(off, 16);
        StoreLE32(out, c ^ K[4]);
        StoreLE32(out.subspan(4), d ^ K[5]);
        StoreLE32(out.subspan(8), a ^ K[6]);
        StoreLE32(out.subspan(12), b ^ K[7]);
    }
}

void TKC_twofish::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    const auto& K = RoundSubkeys;
    for (std::size_t off = 0; off < source.size(); off += 16) {
        const auto in = source.subspan(off, 16);
        std::uint32_t c = LoadLE32(in) ^ K[4], d = LoadLE32(in.subspan(4)) ^ K[5];
        std::uint32_t a = LoadLE32(in.subspan(8)) ^ K[6], b = LoadLE32(in.subspan(12)) ^ K[7];
        for (std::size_t r = 36; r >= 8; r -= 4) {
            std::uint32_t t0 = G0(c), t1 = G1(d);
            a = Rol32(a, 1) ^ (t0 + t1 + K[r + 2]);
            b = Ror32(b ^ (t0 + 2 * t1 + K[r + 3]), 1);
            t0 = G0(a), t1 = G1(b);
            c = Rol32(c, 1) ^ (t0 + t1 + K[r]);
            d = Ror32(d ^ (t0 + 2 * t1 + K[r + 1]), 1);
        }
        const auto out = dest.subspan(off, 16);
        StoreLE32(out, a ^ K[0]);
        StoreLE32(out.subspan(4), b ^ K[1]);
        StoreLE32(out.subspan(8), c ^ K[2]);
        StoreLE32(out.subspan(12), d ^ K[3]);
    }
}

// The iterated table test: 49 steps from an all-zero key and block, each
// keyed with the previous plaintext followed by the leading bytes of the
// previous key; the last ciphertext is the published end value.
bool TKC_twofish::SelfTest() {
    TKC_twofish cipher;
    const auto iterate = [&cipher](std::size_t keyBytes, ConstBytes expected) {
        std::array<std::uint8_t, 32> key{}, nextKey{};
        Block plain{}, block{};
        for (int step = 0; step < 49; ++step) {
            cipher.Init(ConstBytes(key).first(keyBytes), static_cast<std::uint32_t>(keyBytes * 8));
            cipher.EncryptBlock(plain, block);
            cipher.Wipe();
            std::copy(plain.begin(), plain.end(), nextKey.begin());
            std::copy_n(key.begin(), keyBytes - 16, nextKey.begin() + 16);
            key = nextKey;
            plain = block;
        }
        return std::equal(block.begin(), block.end(), expected.begin(), expected.end());
    };
    const bool k128 = iterate(16, tables::TwofishSelfTestEnd128);
    const bool k192 = iterate(24, tables::TwofishSelfTestEnd192);
    const bool k256 = iterate(32, tables::TwofishSelfTestEnd256);
    return k128 && k192 && k256;
}

}  // namespace kestrune
