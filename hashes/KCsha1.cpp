#include "KCsha1.h"

#include <utility>

#include "KCsha_tables.inc"
#include "KCshani.h"

namespace kestrune {
namespace {

using Word = std::uint32_t;

template <std::size_t Round>
constexpr Word F(Word b, Word c, Word d) noexcept {
    if constexpr (Round == 0) return d ^ (b & (c ^ d));
    if constexpr (Round == 2) return (b & c) | (d & (b | c));
    if constexpr (Round == 1 || Round == 3) return b ^ c ^ d;
}

// Step I: E += (A <<< 5) + f(B, C, D) + K + W, B = B <<< 30, then the words
// change roles, (A, B, C, D, E) -> (E, A, B, C, D). Role k of step I lives in
// v[(k - I) mod 5]. The schedule is kept as a window of 16 words.
template <std::size_t I>
[[gnu::always_inline]] inline void Step(std::array<Word, 5>& v, std::array<Word, 16>& w) noexcept {
    constexpr std::size_t a = (80 - I) % 5, b = (81 - I) % 5, c = (82 - I) % 5, d = (83 - I) % 5, e = (84 - I) % 5;
    if constexpr (I >= 16)
        w[I % 16] = Rol32(w[(I - 3) % 16] ^ w[(I - 8) % 16] ^ w[(I - 14) % 16] ^ w[I % 16], 1);
    v[e] += Rol32(v[a], 5) + F<I / 20>(v[b], v[c], v[d]) + tables::Sha1Constants[I / 20] + w[I % 16];
    v[b] = Rol32(v[b], 30);
}

template <std::size_t... I>
[[gnu::always_inline]] inline void Steps(std::array<Word, 5>& v, std::array<Word, 16>& w,
                                         std::index_sequence<I...>) noexcept {
    (Step<I>(v, w), ...);
}

}  // namespace

void TKC_sha1::CompressPortable(std::array<Word, 5>& state, ConstBytes blocks) noexcept {
    std::array<Word, 16> w;
    for (std::size_t off = 0; off < blocks.size(); off += 64) {
        for (std::size_t i = 0; i < 16; ++i) w[i] = LoadBE32(blocks.subspan(off + 4 * i, 4));
        std::array<Word, 5> v = state;
        Steps(v, w, std::make_index_sequence<80>{});
        for (std::size_t i = 0; i < 5; ++i) state[i] += v[i];
    }
    SecureZero(w);
}

void TKC_sha1::Start() noexcept { ChainState = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0}; }

void TKC_sha1::Compress(ConstBytes blocks) noexcept {
    if (shani::Usable())
        shani::CompressSha1(ChainState, blocks);
    else
        CompressPortable(ChainState, blocks);
}

std::string_view TKC_sha1::Provider() const noexcept { return shani::Usable() ? "sha-ni" : "portable"; }

void TKC_sha1::Finish(Bytes digest) noexcept {
    PadWithLength(0x80, 8, std::endian::big);
    StoreState(digest, std::endian::big);
}

bool TKC_sha1::SelfTest() {
    TKC_sha1 hash;
    const bool first = CheckDigest(hash, "abc", tables::Sha1SelfTest1);
    const bool second =
        CheckDigest(hash, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", tables::Sha1SelfTest2);
    return first && second;
}

}  // namespace kestrune
