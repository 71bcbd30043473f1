#include "KCrc5.h"

#include <algorithm>

#include "KCrc5_tables.inc"

namespace kestrune {
namespace {

// The magic constants of RC5-32: odd integers nearest (e - 2) * 2^32 and
// (phi - 1) * 2^32.
constexpr std::uint32_t P32 = 0xB7E15163U;
constexpr std::uint32_t Q32 = 0x9E3779B9U;

}  // namespace

void TKC_rc5::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    const std::size_t b = keyBits / 8;  // at least 1 (MinKeyBits)
    const std::size_t c = (b + 3) / 4;
    std::array<std::uint8_t, 256> bytes{};
    std::copy_n(key.begin(), b, bytes.begin());
    std::array<std::uint32_t, 64> l;
    for (std::size_t i = 0; i < c; ++i) l[i] = LoadLE32(ConstBytes(bytes).subspan(4 * i, 4));
    SecureZero(bytes);

    auto& s = ExpandedKey;
    s[0] = P32;
    for (std::size_t i = 1; i < 26; ++i) s[i] = s[i - 1] + Q32;
    std::uint32_t x = 0, y = 0;
    for (std::size_t step = 0, i = 0, j = 0; step < 3 * std::max<std::size_t>(c, 26); ++step) {
        x = s[i] = Rol32(s[i] + x + y, 3);
        y = l[j] = Rol32(l[j] + x + y, x + y);
        i = i + 1 == 26 ? 0 : i + 1;
        j = j + 1 == c ? 0 : j + 1;
    }
    SecureZero(l);
}

void TKC_rc5::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    const auto& s = ExpandedKey;
    for (std::size_t off = 0; off < source.size(); off += 8) {
        std::uint32_t a = LoadLE32(source.subspan(off, 4)) + s[0], b = LoadLE32(source.subspan(off + 4, 4)) + s[1];
        for (std::size_t i = 2; i < 26; i += 2) {
            a = Rol32(a ^ b, b) + s[i];
            b = Rol32(b ^ a, a) + s[i + 1];
        }
        StoreLE32(dest.subspan(off, 4), a);
        StoreLE32(dest.subspan(off + 4, 4), b);
    }
}

void TKC_rc5::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    const auto& s = ExpandedKey;
    for (std::size_t off = 0; off < source.size(); off += 8) {
        std::uint32_t a = LoadLE32(source.subspan(off, 4)), b = LoadLE32(source.subspan(off + 4, 4));
        for (std::size_t i = 24; i >= 2; i -= 2) {
            b = Ror32(b - s[i + 1], a) ^ a;
            a = Ror32(a - s[i], b) ^ b;
        }
        StoreLE32(dest.subspan(off, 4), a - s[0]);
        StoreLE32(dest.subspan(off + 4, 4), b - s[1]);
    }
}

bool TKC_rc5::SelfTest() {
    TKC_rc5 cipher;
    using namespace tables;
    const bool first = CheckBlockVector(cipher, Rc5SelfTestKey1, Rc5SelfTestPlain1, Rc5SelfTestCipher1);
    const bool second = CheckBlockVector(cipher, Rc5SelfTestKey2, Rc5SelfTestPlain2, Rc5SelfTestCipher2);
    return first && second;
}

}  // namespace kestrune
