#include "KCtwofish.h"

#include <algorithm>
#include <cstring>

#include "../framework/KCcpufeatures.h"
#include "KCtwofish_tables.inc"
#include "KCbyteslices.h"
#include "KCpaths.h"

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

constexpr std::uint8_t GfMul(std::uint8_t a, std::uint8_t b, unsigned poly) noexcept {
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

// The first q stage of h in each column, the four columns' bytes packed in
// a word, for key words k = 2, 3 and 4: the stage that meets x before any
// key byte is the same for every key, and one load and one xor with a key
// word take x through it in all four columns.
constexpr std::array<std::uint32_t, 256> PackedStage(const QTable* const (&stage)[4]) {
    std::array<std::uint32_t, 256> packed{};
    for (std::size_t x = 0; x < 256; ++x)
        for (std::size_t j = 0; j < 4; ++j) packed[x] |= std::uint32_t{(*stage[j])[x]} << (8 * j);
    return packed;
}
constexpr std::array<std::uint32_t, 256> FirstStage[3] = {PackedStage(QStage2), PackedStage(QStage3),
                                                          PackedStage(QStage4)};

// h(x, L) for a list L of K key words, one column's byte at a time with the
// column's stages fixed: y = mds[j][q1(q2(... w_j ...) ^ L1_j) ^ L0_j].
template <std::size_t K>
struct H {
    const TKC_twofish::MdsTable& mds;
    const std::array<std::uint32_t, 4>& list;

    // The key bytes pass through KeepSum as words of unknown range: a byte
    // xored with a known byte is narrowed to 8 bits, and each look-up that
    // follows would wait for a zero extension.
    [[gnu::always_inline]] std::uint32_t Column(std::size_t j, std::uint32_t w) const noexcept {
        const auto keyByte = [&](std::size_t i) {
            std::uint32_t byte = (list[i] >> (8 * j)) & 0xFF;
            KeepSum(byte);
            return byte;
        };
        std::uint32_t b = (w >> (8 * j)) & 0xFF;
        if constexpr (K == 4) b = (*QStage3[j])[b] ^ keyByte(2);
        if constexpr (K >= 3) b = (*QStage2[j])[b] ^ keyByte(1);
        return mds[j][(*QStage1[j])[b] ^ keyByte(0)];
    }
    // The word after the first stage and the last key word.
    [[gnu::always_inline]] std::uint32_t Entered(std::size_t x) const noexcept {
        return FirstStage[K - 2][x] ^ list[K - 1];
    }
    [[gnu::always_inline]] std::uint32_t operator()(std::size_t x) const noexcept {
        const std::uint32_t w = Entered(x);
        return Column(0, w) ^ Column(1, w) ^ Column(2, w) ^ Column(3, w);
    }
    // The keyed S-boxes: every x through every column.
    void Boxes(std::array<std::array<std::uint32_t, 256>, 4>& out) const noexcept {
        for (std::size_t x = 0; x < 256; ++x) {
            const std::uint32_t w = Entered(x);
#pragma GCC unroll 4
            for (std::size_t j = 0; j < 4; ++j) out[j][x] = Column(j, w);
        }
    }
};

template <std::size_t K>
void Schedule(const TKC_twofish::MdsTable& mds, const std::array<std::uint32_t, 4>& even,
              const std::array<std::uint32_t, 4>& odd, const std::array<std::uint32_t, 4>& sboxKey,
              std::array<std::uint32_t, 40>& subkeys, std::array<std::array<std::uint32_t, 256>, 4>& boxes) noexcept {
    const H<K> hEven{mds, even}, hOdd{mds, odd};
    for (std::size_t i = 0; i < 20; ++i) {
        const std::uint32_t a = hEven(2 * i), b = Rol32(hOdd(2 * i + 1), 8);
        subkeys[2 * i] = a + b;
        subkeys[2 * i + 1] = Rol32(a + 2 * b, 9);
    }
    H<K>{mds, sboxKey}.Boxes(boxes);
}

// The product of the Reed-Solomon matrix with the key block (low word,
// high word), taken as the remainder of the block, read as a polynomial over
// GF(2^8) mod 0x14D, by the code's generator x^4 + (a + 1/a)x^3 + a x^2 +
// (a + 1/a)x + 1, a the class of x: eight shifts by a byte, with masks
// rather than branches on the key's bits. The 32 multiplications bit by bit
// it replaces branched on them and took a sixth of the key set-up.
std::uint32_t ReedSolomon(std::uint32_t low, std::uint32_t high) noexcept {
    const auto shift = [](std::uint32_t r) {
        const std::uint32_t top = r >> 24;
        const std::uint32_t timesA = ((top << 1) ^ (0x14D & (0u - (top >> 7)))) & 0xFF;
        const std::uint32_t timesAPlusInverse = (top >> 1) ^ ((0x14D >> 1) & (0u - (top & 1))) ^ timesA;
        return (r << 8) ^ (timesAPlusInverse << 24) ^ (timesA << 16) ^ (timesAPlusInverse << 8) ^ top;
    };
    std::uint32_t r = high;
    for (int i = 0; i < 4; ++i) r = shift(r);
    r ^= low;
    for (int i = 0; i < 4; ++i) r = shift(r);
    return r;
}

#if defined(KESTRUNE_WORD_LANES)
// The keyed substitutions alone, taken from the keyed tables: each column of
// the MDS matrix has a 1 in one row, and that byte of the column's table is
// the substitution's.
void SubstitutionBytes(const std::array<std::array<std::uint32_t, 256>, 4>& boxes,
                       std::array<std::array<std::uint8_t, 256>, 4>& bytes) noexcept;
#endif

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
        sboxKey[k - 1 - i] = ReedSolomon(even[i], odd[i]);
    }
    if (k == 2)
        Schedule<2>(Mds, even, odd, sboxKey, RoundSubkeys, KeyedSBoxes);
    else if (k == 3)
        Schedule<3>(Mds, even, odd, sboxKey, RoundSubkeys, KeyedSBoxes);
    else
        Schedule<4>(Mds, even, odd, sboxKey, RoundSubkeys, KeyedSBoxes);
    SlicedPath = UsableSlicedPath();
#if defined(KESTRUNE_WORD_LANES)
    if (SlicedPath) SubstitutionBytes(KeyedSBoxes, KeyedBytes);
#endif
    SecureZero(padded);
    SecureZero(even);
    SecureZero(odd);
    SecureZero(sboxKey);
}

namespace {

using Subkeys = std::array<std::uint32_t, 40>;
using KeyedBoxes = std::array<std::array<std::uint32_t, 256>, 4>;

// g of x, and g of x rotated left by 8.
[[gnu::always_inline]] inline std::uint32_t G0(const KeyedBoxes& s, std::uint32_t x) noexcept {
    return s[0][x & 0xFF] ^ s[1][(x >> 8) & 0xFF] ^ s[2][(x >> 16) & 0xFF] ^ s[3][x >> 24];
}
[[gnu::always_inline]] inline std::uint32_t G1(const KeyedBoxes& s, std::uint32_t x) noexcept {
    return s[0][x >> 24] ^ s[1][x & 0xFF] ^ s[2][(x >> 8) & 0xFF] ^ s[3][(x >> 16) & 0xFF];
}

// One round with subkeys k[r], k[r + 1]: the halves (x0, x1) go through g
// and the pseudo-Hadamard transform into (y0, y1).
[[gnu::always_inline]] inline void EncryptRound(const Subkeys& k, const KeyedBoxes& s, std::size_t r, std::uint32_t x0,
                                                std::uint32_t x1, std::uint32_t& y0, std::uint32_t& y1) noexcept {
    const std::uint32_t t0 = G0(s, x0), t1 = G1(s, x1);
    y0 = Ror32(y0 ^ (t0 + t1 + k[r]), 1);
    y1 = Rol32(y1, 1) ^ (t0 + 2 * t1 + k[r + 1]);
}
[[gnu::always_inline]] inline void DecryptRound(const Subkeys& k, const KeyedBoxes& s, std::size_t r, std::uint32_t x0,
                                                std::uint32_t x1, std::uint32_t& y0, std::uint32_t& y1) noexcept {
    const std::uint32_t t0 = G0(s, x0), t1 = G1(s, x1);
    y0 = Rol32(y0, 1) ^ (t0 + t1 + k[r]);
    y1 = Ror32(y1 ^ (t0 + 2 * t1 + k[r + 1]), 1);
}

// Lanes blocks side by side, word by word. One block's rounds are a single
// chain of dependent look-ups that leaves most of the processor idle; the
// rounds of three blocks interleaved fill each other's waits, and their
// twelve words still leave room for temporaries in sixteen registers. Two
// blocks measured slower than three on x86-64. 32-bit x86 keeps most of
// the words on the stack and still gains (under Wine, CTR 96-116 -> 187-189
// MiB/s, CBC-dec 101-123 -> 128-157).
template <std::size_t Lanes>
struct BlockWords {
    std::array<std::uint32_t, Lanes> a, b, c, d;
};

constexpr std::size_t LanesInFlight = 3;

// Two rounds, so that the halves never need swapping.
template <std::size_t Lanes>
[[gnu::always_inline]] inline void EncryptTwoRounds(const Subkeys& k, const KeyedBoxes& s, BlockWords<Lanes>& w,
                                                    std::size_t r) noexcept {
#pragma GCC unroll 4
    for (std::size_t i = 0; i < Lanes; ++i) EncryptRound(k, s, r, w.a[i], w.b[i], w.c[i], w.d[i]);
#pragma GCC unroll 4
    for (std::size_t i = 0; i < Lanes; ++i) EncryptRound(k, s, r + 2, w.c[i], w.d[i], w.a[i], w.b[i]);
}
template <std::size_t Lanes>
[[gnu::always_inline]] inline void DecryptTwoRounds(const Subkeys& k, const KeyedBoxes& s, BlockWords<Lanes>& w,
                                                    std::size_t r) noexcept {
#pragma GCC unroll 4
    for (std::size_t i = 0; i < Lanes; ++i) DecryptRound(k, s, r + 2, w.a[i], w.b[i], w.c[i], w.d[i]);
#pragma GCC unroll 4
    for (std::size_t i = 0; i < Lanes; ++i) DecryptRound(k, s, r, w.c[i], w.d[i], w.a[i], w.b[i]);
}

// The sixteen rounds. A single block's are unrolled: with the subkeys at
// fixed offsets no register goes to a subkey pointer or a count, and the
// block's words and the modes' pointers all stay in registers.
template <std::size_t Lanes>
[[gnu::always_inline]] inline void EncryptRounds(const Subkeys& k, const KeyedBoxes& s, BlockWords<Lanes>& w) noexcept {
    if constexpr (Lanes == 1) {
#pragma GCC unroll 8
        for (std::size_t r = 8; r < 40; r += 4) EncryptTwoRounds(k, s, w, r);
    } else {
        for (std::size_t r = 8; r < 40; r += 4) EncryptTwoRounds(k, s, w, r);
    }
}
template <std::size_t Lanes>
[[gnu::always_inline]] inline void DecryptRounds(const Subkeys& k, const KeyedBoxes& s, BlockWords<Lanes>& w) noexcept {
    if constexpr (Lanes == 1) {
#pragma GCC unroll 8
        for (std::size_t r = 36; r >= 8; r -= 4) DecryptTwoRounds(k, s, w, r);
    } else {
        for (std::size_t r = 36; r >= 8; r -= 4) DecryptTwoRounds(k, s, w, r);
    }
}

// The blocks at source go in as (a, b, c, d) whitened with k[first..];
// they come out as (c, d, a, b) whitened with k[last..].
template <std::size_t Lanes>
[[gnu::always_inline]] inline BlockWords<Lanes> LoadBlocks(ConstBytes source, const Subkeys& k,
                                                           std::size_t first) noexcept {
    BlockWords<Lanes> w;
    for (std::size_t i = 0; i < Lanes; ++i) {
        const auto in = source.subspan(16 * i, 16);
        w.a[i] = LoadLE32(in) ^ k[first], w.b[i] = LoadLE32(in.subspan(4)) ^ k[first + 1];
        w.c[i] = LoadLE32(in.subspan(8)) ^ k[first + 2], w.d[i] = LoadLE32(in.subspan(12)) ^ k[first + 3];
    }
    return w;
}
template <std::size_t Lanes>
[[gnu::always_inline]] inline void StoreBlocks(const BlockWords<Lanes>& w, const Subkeys& k, std::size_t last,
                                               Bytes dest) noexcept {
    for (std::size_t i = 0; i < Lanes; ++i) {
        const auto out = dest.subspan(16 * i, 16);
        StoreLE32(out, w.c[i] ^ k[last]), StoreLE32(out.subspan(4), w.d[i] ^ k[last + 1]);
        StoreLE32(out.subspan(8), w.a[i] ^ k[last + 2]), StoreLE32(out.subspan(12), w.b[i] ^ k[last + 3]);
    }
}

template <bool Encrypting, std::size_t Lanes>
[[gnu::always_inline]] inline void CryptBlocks(const Subkeys& k, const KeyedBoxes& s, ConstBytes source,
                                               Bytes dest) noexcept {
    auto w = LoadBlocks<Lanes>(source, k, Encrypting ? 0 : 4);
    if constexpr (Encrypting)
        EncryptRounds(k, s, w);
    else
        DecryptRounds(k, s, w);
    StoreBlocks(w, k, Encrypting ? 4 : 0, dest);
}

template <bool Encrypting>
void Crypt(const Subkeys& k, const KeyedBoxes& s, ConstBytes source, Bytes dest) noexcept {
    constexpr std::size_t group = 16 * LanesInFlight;
    std::size_t off = 0;
    for (; off + group <= source.size(); off += group)
        CryptBlocks<Encrypting, LanesInFlight>(k, s, source.subspan(off, group), dest.subspan(off, group));
    for (; off < source.size(); off += 16)
        CryptBlocks<Encrypting, 1>(k, s, source.subspan(off, 16), dest.subspan(off, 16));
}

// The serial modes keep their chaining value in registers as four words in
// block order, with no store and reload of it between blocks. Each word is
// pinned to a general register: left alone, the compiler moves the value
// through a vector register, and the moves between the two register files
// lengthen every block's path.
struct Words {
    std::uint32_t w0, w1, w2, w3;

    static Words Load(ConstBytes in) noexcept {
        Words x{LoadLE32(in), LoadLE32(in.subspan(4)), LoadLE32(in.subspan(8)), LoadLE32(in.subspan(12))};
        x.Pin();
        return x;
    }
    void Store(Bytes out) const noexcept {
        StoreLE32(out, w0), StoreLE32(out.subspan(4), w1), StoreLE32(out.subspan(8), w2);
        StoreLE32(out.subspan(12), w3);
    }
    Words operator^(const Words& y) const noexcept { return {w0 ^ y.w0, w1 ^ y.w1, w2 ^ y.w2, w3 ^ y.w3}; }
    void Pin() noexcept { KeepSum(w0), KeepSum(w1), KeepSum(w2), KeepSum(w3); }
    void Wipe() noexcept {
        w0 = w1 = w2 = w3 = 0;
        Pin();
    }
};

[[gnu::always_inline]] inline Words EncryptWords(const Subkeys& k, const KeyedBoxes& s, const Words& x) noexcept {
    BlockWords<1> w{{x.w0 ^ k[0]}, {x.w1 ^ k[1]}, {x.w2 ^ k[2]}, {x.w3 ^ k[3]}};
    EncryptRounds(k, s, w);
    Words y{w.c[0] ^ k[4], w.d[0] ^ k[5], w.a[0] ^ k[6], w.b[0] ^ k[7]};
    y.Pin();
    return y;
}

// Sixty-four blocks at a time in AVX-512 registers, byte-sliced through g.
// g is four keyed byte substitutions followed by the MDS matrix: the
// substitutions are look-ups within registers (VBMI's two-table byte
// permutes), and each multiplication by a matrix entry, linear over GF(2),
// is one GFNI affine step. Nothing is looked up in memory, so this path
// takes the same time for every key and block. The blocks' words stay in
// 32-bit lanes for the additions and rotations; each g regroups its input
// by byte position and its output back into words.
#if defined(KESTRUNE_WORD_LANES)
#define KC_TWOFISH_TARGET KC_SLICES_TARGET ",gfni"

using lanes::Word16;
using slices::Load512;
using slices::Substitute;
using slices::ToBytes;
using slices::ToWords;
using slices::V;
using ByteBoxes = std::array<std::array<std::uint8_t, 256>, 4>;
constexpr std::size_t SetBytes = 16 * 64;

// The 8x8 bit matrix of multiplication by c in Twofish's GF(2^8), as the
// affine step takes it: byte 7 - i says which input bits make output bit i.
constexpr std::uint64_t MultiplierMatrix(std::uint8_t c) {
    std::uint64_t matrix = 0;
    for (unsigned k = 0; k < 8; ++k) {
        const std::uint8_t product = GfMul(c, static_cast<std::uint8_t>(1u << k), 0x169);
        for (unsigned i = 0; i < 8; ++i)
            if (product & (1u << i)) matrix |= std::uint64_t{1} << (8 * (7 - i) + k);
    }
    return matrix;
}
constexpr std::uint64_t Times5B = MultiplierMatrix(0x5B), TimesEF = MultiplierMatrix(0xEF);

// Which product of a substituted byte an MDS entry takes: itself, by 5B or by EF.
constexpr std::size_t ProductOf(std::size_t row, std::size_t col) {
    const std::uint8_t m = tables::TwofishMDS[4 * row + col];
    return m == 0x01 ? 0 : m == 0x5B ? 1 : 2;
}
static_assert([] {
    for (const std::uint8_t m : tables::TwofishMDS)
        if (m != 0x01 && m != 0x5B && m != 0xEF) return false;
    return true;
}());

// The keyed substitutions before the MDS matrix, 256 bytes each in four registers.
struct Substitutions {
    V part[4][4];
};

#define KC_INLINE __attribute__((target(KC_TWOFISH_TARGET), always_inline)) inline

// Row i of the MDS matrix times the substituted bytes.
template <std::size_t I>
KC_INLINE V MdsRow(const V (&product)[3][4]) noexcept {
    constexpr std::size_t p0 = ProductOf(I, 0), p1 = ProductOf(I, 1), p2 = ProductOf(I, 2), p3 = ProductOf(I, 3);
    return product[p0][0] ^ product[p1][1] ^ product[p2][2] ^ product[p3][3];
}

// g of the words w rotated left by 8 * rotation bits: a rotation by a byte
// only renames the byte positions.
template <std::size_t Rotation>
KC_INLINE void G(const Substitutions& s, const Word16 (&w)[4], Word16 (&out)[4]) noexcept {
    V x[4];
    ToBytes(w, x);
    V product[3][4];
#pragma GCC unroll 4
    for (std::size_t j = 0; j < 4; ++j) {
        V y = x[(j + 4 - Rotation) % 4];
        Substitute(s.part[j], y);
        product[0][j] = y;
        product[1][j] = _mm512_gf2p8affine_epi64_epi8(y, _mm512_set1_epi64(Times5B), 0);
        product[2][j] = _mm512_gf2p8affine_epi64_epi8(y, _mm512_set1_epi64(TimesEF), 0);
    }
    const V y[4] = {MdsRow<0>(product), MdsRow<1>(product), MdsRow<2>(product), MdsRow<3>(product)};
    ToWords(y, out);
}

// A set's words: (a, b, c, d) of sixty-four blocks, sixteen per register.
struct SetWords {
    Word16 a[4], b[4], c[4], d[4];
};

KC_INLINE Word16 Rol1(const Word16& x) noexcept { return (x << 1) | (x >> 31); }
KC_INLINE Word16 Ror1(const Word16& x) noexcept { return (x >> 1) | (x << 31); }

// One round from (x0, x1) into (y0, y1) with subkeys k[r], k[r + 1].
template <bool Encrypting>
KC_INLINE void Round(const Substitutions& s, const Subkeys& k, std::size_t r, const Word16 (&x0)[4],
                     const Word16 (&x1)[4], Word16 (&y0)[4], Word16 (&y1)[4]) noexcept {
    Word16 t0[4], t1[4];
    G<0>(s, x0, t0);
    G<1>(s, x1, t1);
    const std::uint32_t k0 = k[r], k1 = k[r + 1];
#pragma GCC unroll 4
    for (std::size_t g = 0; g < 4; ++g) {
        if constexpr (Encrypting) {
            y0[g] = Ror1(y0[g] ^ (t0[g] + t1[g] + k0));
            y1[g] = Rol1(y1[g]) ^ (t0[g] + t1[g] + t1[g] + k1);
        } else {
            y0[g] = Rol1(y0[g]) ^ (t0[g] + t1[g] + k0);
            y1[g] = Ror1(y1[g] ^ (t0[g] + t1[g] + t1[g] + k1));
        }
    }
}

// Whole sets of sixty-four blocks; returns the bytes done.
template <bool Encrypting>
KC_INLINE std::size_t CryptSets(const Subkeys& k, const ByteBoxes& boxes, ConstBytes source, Bytes dest) noexcept {
    Substitutions s;
#pragma GCC unroll 4
    for (std::size_t j = 0; j < 4; ++j)
#pragma GCC unroll 4
        for (std::size_t q = 0; q < 4; ++q) s.part[j][q] = Load512(boxes[j].data() + 64 * q);
    const std::size_t first = Encrypting ? 0 : 4, last = Encrypting ? 4 : 0;
    const std::size_t done = source.size() / SetBytes * SetBytes;
    for (std::size_t off = 0; off < done; off += SetBytes) {
        SetWords w;
        slices::LoadQuads<false>(source.data() + off, w.a, w.b, w.c, w.d);
#pragma GCC unroll 4
        for (std::size_t g = 0; g < 4; ++g)
            w.a[g] ^= k[first], w.b[g] ^= k[first + 1], w.c[g] ^= k[first + 2], w.d[g] ^= k[first + 3];
        if constexpr (Encrypting) {
            for (std::size_t r = 8; r < 40; r += 4) {
                Round<true>(s, k, r, w.a, w.b, w.c, w.d);
                Round<true>(s, k, r + 2, w.c, w.d, w.a, w.b);
            }
        } else {
            for (std::size_t r = 36; r >= 8; r -= 4) {
                Round<false>(s, k, r + 2, w.a, w.b, w.c, w.d);
                Round<false>(s, k, r, w.c, w.d, w.a, w.b);
            }
        }
#pragma GCC unroll 4
        for (std::size_t g = 0; g < 4; ++g)
            w.c[g] ^= k[last], w.d[g] ^= k[last + 1], w.a[g] ^= k[last + 2], w.b[g] ^= k[last + 3];
        slices::StoreQuads<false>(dest.data() + off, w.c, w.d, w.a, w.b);
    }
    return done;
}

#undef KC_INLINE

__attribute__((target(KC_TWOFISH_TARGET))) void SubstitutionBytes(const KeyedBoxes& boxes, ByteBoxes& bytes) noexcept {
    for (std::size_t col = 0; col < 4; ++col) {
        unsigned row = 0;
        while (tables::TwofishMDS[4 * row + col] != 0x01) ++row;
        for (std::size_t x = 0; x < 256; x += 16) {
            using Bytes16 = std::uint8_t __attribute__((vector_size(16)));
            Word16 w;
            std::memcpy(&w, boxes[col].data() + x, sizeof w);
            const Bytes16 b = __builtin_convertvector(w >> (8 * row), Bytes16);
            std::memcpy(bytes[col].data() + x, &b, sizeof b);
        }
    }
}

template <bool Encrypting>
__attribute__((target(KC_TWOFISH_TARGET), flatten)) std::size_t CryptSetsAvx512(const Subkeys& k,
                                                                                const ByteBoxes& boxes,
                                                                                ConstBytes source,
                                                                                Bytes dest) noexcept {
    return CryptSets<Encrypting>(k, boxes, source, dest);
}

// A rest of sixteen blocks or more goes as one set filled up with zeros.
template <bool Encrypting>
std::size_t CryptSliced(const Subkeys& k, const ByteBoxes& boxes, ConstBytes source, Bytes dest) noexcept {
    return slices::CryptPadded<SetBytes>(source, dest, 16 * 16, [&](ConstBytes in, Bytes out) {
        return CryptSetsAvx512<Encrypting>(k, boxes, in, out);
    });
}
#endif

}  // namespace

bool TKC_twofish::UsableSlicedPath() noexcept {
    return lanes::ByteSlicesUsable() && CpuFeatures::Has(CpuFeature::Gfni);
}

std::string_view TKC_twofish::Provider() const noexcept {
    return (IsInitialized() ? SlicedPath : UsableSlicedPath()) ? "avx512" : "portable";
}

void TKC_twofish::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    std::size_t done = 0;
#if defined(KESTRUNE_WORD_LANES)
    if (SlicedPath) done = CryptSliced<true>(RoundSubkeys, KeyedBytes, source, dest);
#endif
    Crypt<true>(RoundSubkeys, KeyedSBoxes, source.subspan(done), dest.subspan(done));
}

void TKC_twofish::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    std::size_t done = 0;
#if defined(KESTRUNE_WORD_LANES)
    if (SlicedPath) done = CryptSliced<false>(RoundSubkeys, KeyedBytes, source, dest);
#endif
    Crypt<false>(RoundSubkeys, KeyedSBoxes, source.subspan(done), dest.subspan(done));
}

void TKC_twofish::EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    Words x = Words::Load(chain);
    for (std::size_t off = 0; off < source.size(); off += 16) {
        x = EncryptWords(RoundSubkeys, KeyedSBoxes, x ^ Words::Load(source.subspan(off, 16)));
        x.Store(dest.subspan(off, 16));
    }
    x.Store(chain);
    x.Wipe();
}

void TKC_twofish::EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    Words x = Words::Load(chain);
    for (std::size_t off = 0; off < source.size(); off += 16) {
        x = EncryptWords(RoundSubkeys, KeyedSBoxes, x) ^ Words::Load(source.subspan(off, 16));
        x.Store(dest.subspan(off, 16));
    }
    x.Store(chain);
    x.Wipe();
}

void TKC_twofish::EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    Words x = Words::Load(chain);
    for (std::size_t off = 0; off < source.size(); off += 16) {
        x = EncryptWords(RoundSubkeys, KeyedSBoxes, x);
        (x ^ Words::Load(source.subspan(off, 16))).Store(dest.subspan(off, 16));
    }
    x.Store(chain);
    x.Wipe();
}

void TKC_twofish::EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    Words x = Words::Load(chain);
    for (std::size_t i = 0; i < source.size(); ++i) {
        const std::uint32_t c = source[i] ^ (EncryptWords(RoundSubkeys, KeyedSBoxes, x).w0 & 0xFF);
        dest[i] = static_cast<std::uint8_t>(c);
        // The register moves on by a byte: the first falls out, c comes in last.
        x = {(x.w0 >> 8) | (x.w1 << 24), (x.w1 >> 8) | (x.w2 << 24), (x.w2 >> 8) | (x.w3 << 24), (x.w3 >> 8) | (c << 24)};
    }
    x.Store(chain);
    x.Wipe();
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
