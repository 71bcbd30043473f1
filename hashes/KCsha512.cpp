#include "KCsha512.h"

#include <utility>

#include "KCsha_tables.inc"

namespace kestrune {
namespace {

using Word = std::uint64_t;

// The four functions of FIPS 180-2, each rotation nested in the next so that
// no copy of the argument is kept for each of them.
constexpr Word Sigma0(Word a) noexcept { return Ror64(Ror64(Ror64(a, 5) ^ a, 6) ^ a, 28); }
constexpr Word Sigma1(Word e) noexcept { return Ror64(Ror64(Ror64(e, 23) ^ e, 4) ^ e, 14); }
constexpr Word sigma0(Word x) noexcept { return Ror64(Ror64(x, 7) ^ x, 1) ^ (x >> 7); }
constexpr Word sigma1(Word x) noexcept { return Ror64(Ror64(x, 42) ^ x, 19) ^ (x >> 6); }

// Step I: with the eight words in roles (a, b, ..., h), T1 = h + S1(e) +
// Ch(e, f, g) + K + W; d += T1; h = T1 + S0(a) + Maj(a, b, c); then the roles
// shift by one. Role k of step I lives in v[(k - I) mod 8], so every index is
// a compile-time constant. The schedule is kept as a window of 16 words.
// Maj(a, b, c) = ((a ^ b) & (b ^ c)) ^ b, and this step's a ^ b is the next
// step's b ^ c, carried in bc.
template <std::size_t I>
[[gnu::always_inline]] inline void Step(std::array<Word, 8>& v, std::array<Word, 16>& w, Word& bc) noexcept {
    constexpr std::size_t a = (80 - I) % 8, b = (81 - I) % 8, d = (83 - I) % 8, e = (84 - I) % 8,
                          f = (85 - I) % 8, g = (86 - I) % 8, h = (87 - I) % 8;
    if constexpr (I >= 16) w[I % 16] += sigma1(w[(I - 2) % 16]) + w[(I - 7) % 16] + sigma0(w[(I - 15) % 16]);
    const Word t1 = v[h] + Sigma1(v[e]) + (v[g] ^ (v[e] & (v[f] ^ v[g]))) + tables::Sha512Constants[I] + w[I % 16];
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

void TKC_sha512base::Compress(ConstBytes blocks) noexcept {
    std::array<Word, 16> w;
    for (std::size_t off = 0; off < blocks.size(); off += 128) {
        for (std::size_t i = 0; i < 16; ++i) w[i] = LoadBE64(blocks.subspan(off + 8 * i, 8));
        std::array<Word, 8> v = ChainState;
        Steps(v, w, std::make_index_sequence<80>{});
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
