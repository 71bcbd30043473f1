#include "KCcast256.h"

#include <algorithm>

#include "KCcast256_tables.inc"

namespace kestrune {
namespace {

using tables::Cast256SBoxes;

constexpr std::uint32_t Box(std::size_t i, std::uint32_t x, unsigned shift) noexcept {
    return Cast256SBoxes[i][(x >> shift) & 0xFF];
}

// The three round function types; Ia is the most significant byte of I.
inline std::uint32_t F1(std::uint32_t d, std::uint32_t kr, std::uint32_t km) noexcept {
    const std::uint32_t i = Rol32(km + d, kr);
    return ((Box(0, i, 24) ^ Box(1, i, 16)) - Box(2, i, 8)) + Box(3, i, 0);
}
inline std::uint32_t F2(std::uint32_t d, std::uint32_t kr, std::uint32_t km) noexcept {
    const std::uint32_t i = Rol32(km ^ d, kr);
    return ((Box(0, i, 24) - Box(1, i, 16)) + Box(2, i, 8)) ^ Box(3, i, 0);
}
inline std::uint32_t F3(std::uint32_t d, std::uint32_t kr, std::uint32_t km) noexcept {
    const std::uint32_t i = Rol32(km - d, kr);
    return ((Box(0, i, 24) + Box(1, i, 16)) ^ Box(2, i, 8)) - Box(3, i, 0);
}

struct Quad {
    std::uint32_t a, b, c, d;

    void Forward(const std::array<std::uint32_t, 4>& kr, const std::array<std::uint32_t, 4>& km) noexcept {
        c ^= F1(d, kr[0], km[0]);
        b ^= F2(c, kr[1], km[1]);
        a ^= F3(b, kr[2], km[2]);
        d ^= F1(a, kr[3], km[3]);
    }
    void Reverse(const std::array<std::uint32_t, 4>& kr, const std::array<std::uint32_t, 4>& km) noexcept {
        d ^= F1(a, kr[3], km[3]);
        a ^= F3(b, kr[2], km[2]);
        b ^= F2(c, kr[1], km[1]);
        c ^= F1(d, kr[0], km[0]);
    }
};

Quad Load(ConstBytes in) noexcept {
    return {LoadBE32(in), LoadBE32(in.subspan(4)), LoadBE32(in.subspan(8)), LoadBE32(in.subspan(12))};
}

void Store(Bytes out, const Quad& q) noexcept {
    StoreBE32(out, q.a);
    StoreBE32(out.subspan(4), q.b);
    StoreBE32(out.subspan(8), q.c);
    StoreBE32(out.subspan(12), q.d);
}

}  // namespace

void TKC_cast256::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    std::array<std::uint8_t, 32> padded{};
    std::copy_n(key.begin(), keyBits / 8, padded.begin());
    std::array<std::uint32_t, 8> k;  // kappa = A..H
    for (std::size_t i = 0; i < 8; ++i) k[i] = LoadBE32(ConstBytes(padded).subspan(4 * i));
    // Tm and Tr run on through the 24 octaves, eight values each.
    std::uint32_t cm = 0x5A827999U, cr = 19;
    const auto octave = [&] {
        std::array<std::uint32_t, 8> tm, tr;
        for (std::size_t j = 0; j < 8; ++j) {
            tm[j] = cm, cm += 0x6ED9EBA1U;
            tr[j] = cr, cr += 17;
        }
        auto& [A, B, C, D, E, F, G, H] = k;
        G ^= F1(H, tr[0], tm[0]);
        F ^= F2(G, tr[1], tm[1]);
        E ^= F3(F, tr[2], tm[2]);
        D ^= F1(E, tr[3], tm[3]);
        C ^= F2(D, tr[4], tm[4]);
        B ^= F3(C, tr[5], tm[5]);
        A ^= F1(B, tr[6], tm[6]);
        H ^= F2(A, tr[7], tm[7]);
    };
    for (std::size_t i = 0; i < 12; ++i) {
        octave();
        octave();
        RotationKeys[i] = {k[0] & 31, k[2] & 31, k[4] & 31, k[6] & 31};
        MaskingKeys[i] = {k[7], k[5], k[3], k[1]};
    }
    SecureFill(padded, 0xFF);
    SecureFill(k, 0xFF);
}

void TKC_cast256::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    for (std::size_t off = 0; off < source.size(); off += 16) {
        Quad q = Load(source.subspan(off, 16));
        for (std::size_t i = 0; i < 6; ++i) q.Forward(RotationKeys[i], MaskingKeys[i]);
        for (std::size_t i = 6; i < 12; ++i) q.Reverse(RotationKeys[i], MaskingKeys[i]);
        Store(dest.subspan(off, 16), q);
    }
}

void TKC_cast256::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    for (std::size_t off = 0; off < source.size(); off += 16) {
        Quad q = Load(source.subspan(off, 16));
        for (std::size_t i = 12; i-- > 6;) q.Forward(RotationKeys[i], MaskingKeys[i]);
        for (std::size_t i = 6; i-- > 0;) q.Reverse(RotationKeys[i], MaskingKeys[i]);
        Store(dest.subspan(off, 16), q);
    }
}

bool TKC_cast256::SelfTest() {
    TKC_cast256 cipher;
    const bool k128 = CheckBlockVector(cipher, tables::Cast256SelfTestKey1, tables::Cast256SelfTestPlain1,
                                       tables::Cast256SelfTestCipher1);
    const bool k192 = CheckBlockVector(cipher, tables::Cast256SelfTestKey2, tables::Cast256SelfTestPlain2,
                                       tables::Cast256SelfTestCipher2);
    const bool k256 = CheckBlockVector(cipher, tables::Cast256SelfTestKey3, tables::Cast256SelfTestPlain3,
                                       tables::Cast256SelfTestCipher3);
    return k128 && k192 && k256;
}

}  // namespace kestrune
