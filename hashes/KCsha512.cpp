#include "KCsha512.h"

#include <utility>

#include "KCsha_tables.inc"

namespace kestrune {
namespace {

using Word = std::uint64_t;

// Step I: with the eight words in roles (a, b, ..., h), T1 = h + S1(e) +
// Ch(e, f, g) + K + W; d += T1; h = T1 + S0(a) + Maj(a, b, c); then the roles
// shift by one. Role k of step I lives in v[(k - I) mod 8], so every index is
// a compile-time constant. The schedule is kept as a window of 16 words.
template <std::size_t I>
inline void Step(std::array<Word, 8>& v, std::array<Word, 16>& w) noexcept {
    constexpr std::size_t a = (80 - I) % 8, b = (81 - I) % 8, c = (82 - I) % 8, d = (83 - I) % 8, e = (84 - I) % 8,
                          f = (85 - I) % 8, g = (86 - I) % 8, h = (87 - I) % 8;
    if constexpr (I >= 16) {
        const Word w2 = w[(I - 2) % 16], w15 = w[(I - 15) % 16];
        w[I % 16] += (Ror64(w2, 19) ^ Ror64(w2, 61) ^ (w2 >> 6)) + w[(I - 7) % 16] +
                     (Ror64(w15, 1) ^ Ror64(w15, 8) ^ (w15 >> 7));
    }
    const Word t1 = v[h] + (Ror64(v[e], 14) ^ Ror64(v[e], 18) ^ Ror64(v[e], 41)) + (v[g] ^ (v[e] & (v[f] ^ v[g]))) +
                    tables::Sha512Constants[I] + w[I % 16];
    v[d] += t1;
    v[h] = t1 + (Ror64(v[a], 28) ^ Ror64(v[a], 34) ^ Ror64(v[a], 39)) + ((v[a] & v[b]) | (v[c] & (v[a] | v[b])));
}

}  // namespace

void TKC_sha512base::Compress(ConstBytes blocks) noexcept {
    std::array<Word, 16> w;
    for (std::size_t off = 0; off < blocks.size(); off += 128) {
        for (std::size_t i = 0; i < 16; ++i) w[i] = LoadBE64(blocks.subspan(off + 8 * i, 8));
        std::array<Word, 8> v = ChainState;
        [&]<std::size_t... I>(std::index_sequence<I...>) { (Step<I>(v, w), ...); }(std::make_index_sequence<80>{});
        for (std::size_t i = 0; i < 8; ++i) ChainState[i] += v[i];
    }
    SecureZero(w);
}

void TKC_sha512base::Finish(Bytes digest) noexcept {
    PadWithLength(0x80, 16, std::endian::big);
    StoreState(digest, std::endian::big);
}

void TKC_sha384::Start() noexcept { ChainState = tables::Sha384InitialState; }

void TKC_sha512::Start() noexcept { ChainState = tables::Sha512InitialState; }

namespace {
constexpr std::string_view SelfTestLong =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";
}

bool TKC_sha384::SelfTest() {
    TKC_sha384 hash;
    const bool first = CheckDigest(hash, "abc", tables::Sha384SelfTest1);
    const bool second = CheckDigest(hash, SelfTestLong, tables::Sha384SelfTest2);
    return first && second;
}

bool TKC_sha512::SelfTest() {
    TKC_sha512 hash;
    const bool first = CheckDigest(hash, "abc", tables::Sha512SelfTest1);
    const bool second = CheckDigest(hash, SelfTestLong, tables::Sha512SelfTest2);
    return first && second;
}

}  // namespace kestrune
