#include "KCrc5.h"

#include <algorithm>

#include "KCserial.h"
#include "KCwordlanes.h"

#include "KCrc5_tables.inc"

namespace kestrune {
namespace {

// The magic constants of RC5-32: odd integers nearest (e - 2) * 2^32 and
// (phi - 1) * 2^32.
constexpr std::uint32_t P32 = 0xB7E15163U;
constexpr std::uint32_t Q32 = 0x9E3779B9U;

using Schedule = std::array<std::uint32_t, 26>;

// The rounds are written once over a word type W: a plain word for one
// block, or a vector that carries a block per lane. Each half round of
// every set right after the same one of the others: a set alone waits on
// the chain of operations within its half round.
template <bool Encrypting, typename W, std::size_t Sets>
inline void Rounds(const Schedule& s, W (&a)[Sets], W (&b)[Sets]) noexcept {
    if constexpr (Encrypting) {
#pragma GCC unroll 8
        for (std::size_t k = 0; k < Sets; ++k) a[k] += s[0], b[k] += s[1];
        for (std::size_t i = 2; i < 26; i += 2) {
#pragma GCC unroll 8
            for (std::size_t k = 0; k < Sets; ++k) {
                a[k] ^= b[k];
                lanes::RotlBy(a[k], b[k]);
                a[k] += s[i];
            }
#pragma GCC unroll 8
            for (std::size_t k = 0; k < Sets; ++k) {
                b[k] ^= a[k];
                lanes::RotlBy(b[k], a[k]);
                b[k] += s[i + 1];
            }
        }
    } else {
        for (std::size_t i = 24; i >= 2; i -= 2) {
#pragma GCC unroll 8
            for (std::size_t k = 0; k < Sets; ++k) {
                b[k] -= s[i + 1];
                lanes::RotrBy(b[k], a[k]);
                b[k] ^= a[k];
            }
#pragma GCC unroll 8
            for (std::size_t k = 0; k < Sets; ++k) {
                a[k] -= s[i];
                lanes::RotrBy(a[k], b[k]);
                a[k] ^= b[k];
            }
        }
#pragma GCC unroll 8
        for (std::size_t k = 0; k < Sets; ++k) a[k] -= s[0], b[k] -= s[1];
    }
}

// Whole groups on the path chosen at keying; the rest, one block at a time.
template <bool Encrypting>
void Crypt(std::uint8_t path, const Schedule& s, ConstBytes source, Bytes dest) noexcept {
    lanes::CryptOnPath<lanes::Pairs<false>, TKC_rc5::HasSse2Path>(path, source, dest, [&s](auto& a, auto& b) {
        Rounds<Encrypting>(s, a, b);
    });
}

// One block's words, for the serial modes (KCserial.h); through
// EncryptBlocks, each block went to memory and back on the chain.
struct Single {
    static constexpr std::size_t Size = 8;
    std::uint32_t a[1], b[1];

    static Single Load(ConstBytes in) noexcept {
        Single x{{LoadLE32(in)}, {LoadLE32(in.subspan(4))}};
        x.Pin();
        return x;
    }
    void Pin() noexcept { KeepSum(a[0]), KeepSum(b[0]); }
    void Store(Bytes out) const noexcept { StoreLE32(out, a[0]), StoreLE32(out.subspan(4), b[0]); }
    Single operator^(const Single& y) const noexcept { return {{a[0] ^ y.a[0]}, {b[0] ^ y.b[0]}}; }
    void Encrypt(const Schedule& s) noexcept {
        Rounds<true>(s, a, b);
        Pin();
    }
    std::uint32_t FirstByte() const noexcept { return a[0] & 0xFF; }
    void ShiftIn(std::uint32_t byte) noexcept { *this = {{(a[0] >> 8) | (b[0] << 24)}, {(b[0] >> 8) | (byte << 24)}}; }
    void Wipe() noexcept {
        a[0] = b[0] = 0;
        Pin();
    }
};

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
    ChoosePath();
}

void TKC_rc5::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    Crypt<true>(Path, ExpandedKey, source, dest);
}

void TKC_rc5::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    Crypt<false>(Path, ExpandedKey, source, dest);
}

[[gnu::flatten]] void TKC_rc5::EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptCbc<Single>(ExpandedKey, chain, source, dest);
}

[[gnu::flatten]] void TKC_rc5::EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptCfb<Single>(ExpandedKey, chain, source, dest);
}

[[gnu::flatten]] void TKC_rc5::EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptOfb<Single>(ExpandedKey, chain, source, dest);
}

[[gnu::flatten]] void TKC_rc5::EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptCfb8<Single>(ExpandedKey, chain, source, dest);
}

bool TKC_rc5::SelfTest() {
    TKC_rc5 cipher;
    using namespace tables;
    const bool first = CheckBlockVector(cipher, Rc5SelfTestKey1, Rc5SelfTestPlain1, Rc5SelfTestCipher1);
    const bool second = CheckBlockVector(cipher, Rc5SelfTestKey2, Rc5SelfTestPlain2, Rc5SelfTestCipher2);
    return first && second;
}

}  // namespace kestrune
