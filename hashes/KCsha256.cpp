#include "KCsha256.h"

#include <utility>

#include "KCsha_tables.inc"

namespace kestrune {
namespace {

using Word = std::uint32_t;

// Step I: with the eight words in roles (a, b, ..., h), T1 = h + S1(e) +
// Ch(e, f, g) + K + W; d += T1; h = T1 + S0(a) + Maj(a, b, c); then the roles
// shift by one. Role k of step I lives in v[(k - I) mod 8], so every index is
// a compile-time constant. The schedule is kept as a window of 16 words.
template <std::size_t I>
inline void Step(std::array<Word, 8>& v, std::array<Word, 16>& w) noexcept {
    constexpr std::size_t a = (64 - I) % 8, b = (65 - I) % 8, c = (66 - I) % 8, d = (67 - I) % 8, e = (68 - I) % 8,
                          f = (69 - I) % 8, g = (70 - I) % 8, h = (71 - I) % 8;
    if constexpr (I >= 16) {
        const Word w2 = w[(I - 2) % 16], w15 = w[(I - 15) % 16];
        w[I % 16] += (Ror32(w2, 17) ^ Ror32(w2, 19) ^ (w2 >> 10)) + w[(I - 7) % 16] +
                     (Ror32(w15, 7) ^ Ror32(w15, 18) ^ (w15 >> 3));
    }
    const Word t1 = v[h] + (Ror32(v[e], 6) ^ Ror32(v[e], 11) ^ Ror32(v[e], 25)) + (v[g] ^ (v[e] & (v[f] ^ v[g]))) +
                    tables::Sha256Constants[I] + w[I % 16];
    v[d] += t1;
    v[h] = t1 + (Ror32(v[a], 2) ^ Ror32(v[a], 13) ^ Ror32(v[a], 22)) + ((v[a] & v[b]) | (v[c] & (v[a] | v[b])));
}

}  // namespace

void TKC_sha256::CompressPortable(std::array<Word, 8>& state, ConstBytes blocks) noexcept {
    std::array<Word, 16> w;
    for (std::size_t off = 0; off < blocks.size(); off += 64) {
        for (std::size_t i = 0; i < 16; ++i) w[i] = LoadBE32(blocks.subspan(off + 4 * i, 4));
        std::array<Word, 8> v = state;
        [&]<std::size_t... I>(std::index_sequence<I...>) { (Step<I>(v, w), ...); }(std::make_index_sequence<64>{});
        for (std::size_t i = 0; i < 8; ++i) state[i] += v[i];
    }
    SecureZero(w);
}

void TKC_sha256::Start() noexcept { ChainState = tables::Sha256InitialState; }

void TKC_sha256::Compress(ConstBytes blocks) noexcept {
    CompressPortable(ChainState, blocks);
}

void TKC_sha256::Finish(Bytes digest) noexcept {
    PadWithLength(0x80, 8, std::endian::big);
    StoreState(digest, std::endian::big);
}

bool TKC_sha256::SelfTest() {
    TKC_sha256 hash;
    const bool first = CheckDigest(hash, "abc", tables::Sha256SelfTest1);
    const bool second =
        CheckDigest(hash, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", tables::Sha256SelfTest2);
    return first && second;
}

}  // namespace kestrune
