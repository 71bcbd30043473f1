#include "KCrc6.h"

#include <algorithm>

#include "KCrc6_tables.inc"

namespace kestrune {

void TKC_rc6::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    const std::size_t b = keyBits / 8;
    const std::size_t c = (b + 3) / 4;
    std::array<std::uint8_t, 256> bytes{};
    std::copy_n(key.begin(), b, bytes.begin());
    std::array<std::uint32_t, 64> L;
    for (std::size_t i = 0; i < c; ++i) L[i] = LoadLE32(ConstBytes(bytes).subspan(4 * i));
    auto& S = ExpandedKey;
    // The magic constants P32 and Q32 (from e and the golden ratio).
    S[0] = 0xB7E15163U;
    for (std::size_t i = 1; i < 44; ++i) S[i] = S[i - 1] + 0x9E3779B9U;
    std::uint32_t A = 0, B = 0;
    for (std::size_t s = 0, i = 0, j = 0; s < 3 * std::max<std::size_t>(c, 44); ++s) {
        A = S[i] = Rol32(S[i] + A + B, 3);
        B = L[j] = Rol32(L[j] + A + B, A + B);
        i = (i + 1) % 44;
        j = (j + 1) % c;
    }
    SecureZero(bytes);
    SecureZero(L);
}

void TKC_rc6::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    const auto& S = ExpandedKey;
    for (std::size_t off = 0; off < source.size(); off += 16) {
        const auto in = source.subspan(off, 16);
        std::uint32_t a = LoadLE32(in), b = LoadLE32(in.subspan(4)) + S[0];
        std::uint32_t c = LoadLE32(in.subspan(8)), d = LoadLE32(in.subspan(12)) + S[1];
        for (std::size_t i = 2; i < 42; i += 2) {
            const std::uint32_t t = Rol32(b * (2 * b + 1), 5), u = Rol32(d * (2 * d + 1), 5);
            a = Rol32(a ^ t, u) + S[i];
            c = Rol32(c ^ u, t) + S[i + 1];
            const std::uint32_t x = a;
            a = b, b = c, c = d, d = x;
        }
        const auto out = dest.subspan(off, 16);
        StoreLE32(out, a + S[42]);
        StoreLE32(out.subspan(4), b);
        StoreLE32(out.subspan(8), c + S[43]);
        StoreLE32(out.subspan(12), d);
    }
}

void TKC_rc6::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    const auto& S = ExpandedKey;
    for (std::size_t off = 0; off < source.size(); off += 16) {
        const auto in = source.subspan(off, 16);
        std::uint32_t a = LoadLE32(in) - S[42], b = LoadLE32(in.subspan(4));
        std::uint32_t c = LoadLE32(in.subspan(8)) - S[43], d = LoadLE32(in.subspan(12));
        for (std::size_t i = 40; i >= 2; i -= 2) {
            const std::uint32_t x = d;
            d = c, c = b, b = a, a = x;
            const std::uint32_t t = Rol32(b * (2 * b + 1), 5), u = Rol32(d * (2 * d + 1), 5);
            c = Ror32(c - S[i + 1], t) ^ u;
            a = Ror32(a - S[i], u) ^ t;
        }
        const auto out = dest.subspan(off, 16);
        StoreLE32(out, a);
        StoreLE32(out.subspan(4), b - S[0]);
        StoreLE32(out.subspan(8), c);
        StoreLE32(out.subspan(12), d - S[1]);
    }
}

bool TKC_rc6::SelfTest() {
    TKC_rc6 cipher;
    const bool k128 =
        CheckBlockVector(cipher, tables::RC6SelfTestKey1, tables::RC6SelfTestPlain1, tables::RC6SelfTestCipher1);
    const bool k256 =
        CheckBlockVector(cipher, tables::RC6SelfTestKey2, tables::RC6SelfTestPlain2, tables::RC6SelfTestCipher2);
    return k128 && k256;
}

}  // namespace kestrune
