#include "KCsha256.h"

#include <utility>

#include "KCsha_tables.inc"
#include "KCshani.h"

namespace kestrune {
namespace {

using Word = std::uint32_t;

// The four functions of FIPS 180-2, each rotation nested in the next so that
// no copy of the argument is kept for each of them.
constexpr Word Sigma0(Word a) noexcept { return Ror32(Ror32(Ror32(a, 9) ^ a, 11) ^ a, 2); }
constexpr Word Sigma1(Word e) noexcept { return Ror32(Ror32(Ror32(e, 14) ^ e, 5) ^ e, 6); }
constexpr Word sigma0(Word x) noexcept { return Ror32(Ror32(x, 11) ^ x, 7) ^ (x >> 3); }
constexpr Word sigma1(Word x) noexcept { return Ror32(Ror32(x, 2) ^ x, 17) ^ (x >> 10); }

// Step I: with the eight words in roles (a, b, ..., h), T1 = h + S1(e) +
// Ch(e, f, g) + K + W; d += T1; h = T1 + S0(a) + Maj(a, b, c); then the roles
// shift by one. Role k of step I lives in v[(k - I) mod 8], so every index is
// a compile-time constant. The schedule is kept as a window of 16 words.
// Maj(a, b, c) = ((a ^ b) & (b ^ c)) ^ b, and this step's a ^ b is the next
// step's b ^ c, carried in bc.
template <std::size_t I>
[[gnu::always_inline]] inline void Step(std::array<Word, 8>& v, std::array<Word, 16>& w, Word& bc) noexcept {
    constexpr std::size_t a = (64 - I) % 8, b = (65 - I) % 8, d = (67 - I) % 8, e = (68 - I) % 8, f = (69 - I) % 8,
                          g = (70 - I) % 8, h = (71 - I) % 8;
    if constexpr (I >= 16) w[I % 16] += sigma1(w[(I - 2) % 16]) + w[(I - 7) % 16] + sigma0(w[(I - 15) % 16]);
    const Word t1 = v[h] + Sigma1(v[e]) + (v[g] ^ (v[e] & (v[f] ^ v[g]))) + tables::Sha256Constants[I] + w[I % 16];
    const Word ab = v[a] ^ v[b];
    v[d] += t1;
    v[h] = t1 + Sigma0(v[a]) + ((ab & bc) ^ v[b]);
    bc = ab;
}

template <std::size_t... I>
[[gnu::always_inline]] inline void Steps(std::array<Word, 8>& v, std::array<Word, 16>& w,
                                         std::index_sequence<I...>) noexcept {
    Word bc = v[1] ^ v[2];
    (Step<I>(v, w, bc), ...);
}

}  // namespace

void TKC_sha256::CompressPortable(std::array<Word, 8>& state, ConstBytes blocks) noexcept {
    std::array<Word, 16> w;
    for (std::size_t off = 0; off < blocks.size(); off += 64) {
        for (std::size_t i = 0; i < 16; ++i) w[i] = LoadBE32(blocks.subspan(off + 4 * i, 4));
        std::array<Word, 8> v = state;
        Steps(v, w, std::make_index_sequence<64>{});
        for (std::size_t i = 0; i < 8; ++i) state[i] += v[i];
    }
    SecureZero(w);
}

void TKC_sha256::Start() noexcept { ChainState = tables::Sha256InitialState; }

void TKC_sha256::Compress(ConstBytes blocks) noexcept {
    if (shani::Usable())
        shani::CompressSha256(ChainState, blocks);
    else
        CompressPortable(ChainState, blocks);
}

std::string_view TKC_sha256::Provider() const noexcept { return shani::Usable() ? "sha-ni" : "portable"; }

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
