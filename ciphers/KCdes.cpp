#include "KCdes.h"

#include <algorithm>

#include "KCdes_tables.inc"
#include "../framework/KCcpufeatures.h"
#include "KCbyteslices.h"
#include "KCpaths.h"

namespace kestrune {
namespace {

// The rounds keep both halves rotated left by one bit: then the expansion's
// even 6-bit groups sit in the low bits of the half's bytes and the odd ones
// in the bytes of the half rotated right by four, and the combined S-box and
// P tables (tables::DesSP) return their output in the same rotated form.

// IP by swapping bit groups between the halves; the result is rotated as
// above. W is a word or a vector of words (the AVX-512 path's sets).
template <typename W>
constexpr void InitialPermutation(W& l, W& r) noexcept {
    W w;
    w = ((l >> 4) ^ r) & 0x0F0F0F0FU, r ^= w, l ^= w << 4;
    w = ((l >> 16) ^ r) & 0x0000FFFFU, r ^= w, l ^= w << 16;
    w = ((r >> 2) ^ l) & 0x33333333U, l ^= w, r ^= w << 2;
    w = ((r >> 8) ^ l) & 0x00FF00FFU, l ^= w, r ^= w << 8;
    r = (r << 1) | (r >> 31);
    w = (l ^ r) & 0xAAAAAAAAU, l ^= w, r ^= w;
    l = (l << 1) | (l >> 31);
}

// The exact inverse of InitialPermutation, which is IP^-1 of rotated halves.
template <typename W>
constexpr void FinalPermutation(W& l, W& r) noexcept {
    W w;
    l = (l >> 1) | (l << 31);
    w = (l ^ r) & 0xAAAAAAAAU, l ^= w, r ^= w;
    r = (r >> 1) | (r << 31);
    w = ((r >> 8) ^ l) & 0x00FF00FFU, l ^= w, r ^= w << 8;
    w = ((r >> 2) ^ l) & 0x33333333U, l ^= w, r ^= w << 2;
    w = ((l >> 16) ^ r) & 0x0000FFFFU, r ^= w, l ^= w << 16;
    w = ((l >> 4) ^ r) & 0x0F0F0F0FU, r ^= w, l ^= w << 4;
}

// Bit-by-bit permutation of a 64-bit block through a table (1-based input
// bit numbers, most significant first), to check the swaps against.
constexpr std::uint64_t Permute(const std::array<std::uint8_t, 64>& table, std::uint64_t v) {
    std::uint64_t out = 0;
    for (auto bit : table) out = (out << 1) | ((v >> (64 - bit)) & 1);
    return out;
}

constexpr bool SwapsMatchTables() {
    for (unsigned b = 0; b < 64; ++b) {
        const std::uint64_t v = std::uint64_t{1} << b;
        std::uint32_t l = static_cast<std::uint32_t>(v >> 32), r = static_cast<std::uint32_t>(v);
        InitialPermutation(l, r);
        const std::uint64_t ip = Permute(tables::DesInitialPermutation, v);
        if (l != Rol32(static_cast<std::uint32_t>(ip >> 32), 1) || r != Rol32(static_cast<std::uint32_t>(ip), 1))
            return false;
        l = Rol32(static_cast<std::uint32_t>(v >> 32), 1), r = Rol32(static_cast<std::uint32_t>(v), 1);
        FinalPermutation(l, r);
        if (((std::uint64_t{l} << 32) | r) != Permute(tables::DesFinalPermutation, v)) return false;
    }
    return true;
}
static_assert(SwapsMatchTables(), "the IP and FP swaps must be the FIPS permutations");

// The combined tables repeated four times over: indexed by a whole byte of
// the expanded half, the two bits above each 6-bit group need no masking.
constexpr auto WideSP = [] {
    std::array<std::array<std::uint32_t, 256>, 8> wide{};
    for (std::size_t box = 0; box < 8; ++box)
        for (std::size_t x = 0; x < 256; ++x) wide[box][x] = tables::DesSP[64 * box + (x & 0x3F)];
    return wide;
}();

// A byte of a word, as a table index.
constexpr std::size_t Byte(std::uint32_t w, unsigned n) noexcept { return (w >> (8 * n)) & 0xFF; }

// F of the half r under the round keys at k, several blocks at once: their
// chains of look-ups fill each other's waits.
inline std::uint32_t F(std::uint32_t r, const std::uint32_t* k) noexcept {
    const auto& sp = WideSP;
    const std::uint32_t odd = Ror32(r, 4) ^ k[0], even = r ^ k[1];
    return sp[0][Byte(odd, 3)] ^ sp[2][Byte(odd, 2)] ^ sp[4][Byte(odd, 1)] ^ sp[6][Byte(odd, 0)] ^
           sp[1][Byte(even, 3)] ^ sp[3][Byte(even, 2)] ^ sp[5][Byte(even, 1)] ^ sp[7][Byte(even, 0)];
}

// x ^ F(y) for one block alone, where a round's latency is all that counts.
// The odd groups are taken from y ^ Rol(k[0], 4) four bits up instead of
// from Ror(y, 4) ^ k[0]: the rotation moves to the key, off the chain. The
// sum is a tree shaped by when its terms arrive: the indices that take one
// instruction first, x (known long before) with the first look-up.
inline std::uint32_t RoundAlone(std::uint32_t x, std::uint32_t y, const std::uint32_t* k) noexcept {
    const auto& sp = WideSP;
    const std::uint32_t even = y ^ k[1], odd = y ^ Rol32(k[0], 4);
    std::uint32_t a = x ^ sp[7][Byte(even, 0)];
    std::uint32_t b = sp[5][Byte(even, 1)] ^ sp[1][Byte(even, 3)];
    std::uint32_t c = sp[3][Byte(even, 2)] ^ sp[6][Byte(odd >> 4, 0)];
    std::uint32_t d = sp[4][Byte(odd >> 4, 1)] ^ sp[2][Byte(odd >> 4, 2)];
    std::uint32_t e = sp[0][Byte(Rol32(odd, 4), 0)];
    KeepSum(a), KeepSum(b), KeepSum(c), KeepSum(d), KeepSum(e);
    return ((a ^ b) ^ c) ^ (d ^ e);
}

// Sixteen rounds without the final swap, for N blocks at once: afterwards
// l holds L16 and r R16. Decryption walks the round keys from the last to
// the first. Several blocks go round by round: each block's rounds are one
// chain of dependent look-ups, and the chains of other blocks fill its
// waits (CBC decryption, CTR and CFB decryption hand over many blocks).
// The loop over the rounds stays a loop: unrolled, Triple DES's three
// passes over four blocks made 30 KB of code, more than the processor
// keeps decoded, and ran a quarter slower.
template <bool Forward, std::size_t N>
[[gnu::always_inline]] inline void Rounds(std::uint32_t (&l)[N], std::uint32_t (&r)[N],
                                          const std::uint32_t* k) noexcept {
    if constexpr (Forward) {
        for (int i = 0; i < 32; i += 4) {
            if constexpr (N == 1) {
                l[0] = RoundAlone(l[0], r[0], k + i);
                r[0] = RoundAlone(r[0], l[0], k + i + 2);
            } else {
#pragma GCC unroll 4
                for (std::size_t b = 0; b < N; ++b) l[b] ^= F(r[b], k + i);
#pragma GCC unroll 4
                for (std::size_t b = 0; b < N; ++b) r[b] ^= F(l[b], k + i + 2);
            }
        }
    } else {
        for (int i = 28; i >= 0; i -= 4) {
            if constexpr (N == 1) {
                l[0] = RoundAlone(l[0], r[0], k + i + 2);
                r[0] = RoundAlone(r[0], l[0], k + i);
            } else {
#pragma GCC unroll 4
                for (std::size_t b = 0; b < N; ++b) l[b] ^= F(r[b], k + i + 2);
#pragma GCC unroll 4
                for (std::size_t b = 0; b < N; ++b) r[b] ^= F(l[b], k + i);
            }
        }
    }
}

#if defined(__x86_64__)
// The sixteen rounds of four blocks on processors with BMI2, written out:
// GCC's code for the rounds above copied the word before nearly every
// shift, re-extended bytes it had just zero-extended and took ~37
// instructions per block and round. Here a round's F is a rotate, a copy,
// two key xors, eight index extractions (movzbl of the low and the high
// byte register, bextr for the third byte, and a shift that leaves the
// word as its own last index) and eight look-ups into x, each one
// base+index operand. The even key word sits in a register for all four
// lanes (loaded in each lane, about 2% slower), and the even half goes
// first, its look-ups not waiting on a key load (2-3% faster than odd
// first). All four lanes are one statement, their rounds a loop:
// unrolled, Triple DES's three passes outgrew the processor's decoded-op
// cache. The registers are all taken (fourteen, so that frame-pointer
// builds fit): w needs a high byte (Q), t no REX prefix beside %ah (R),
// mid holds bextr's control for bits 16..23.
// Tried and not kept: a partial sum per lane (no faster), both key words
// in registers (one register too many), halves kept doubled in 64-bit
// words for one key load per lane (twice the table; with the data it
// outgrew the L1 cache, 10% slower), masked indices into the unrepeated
// tables (two more instructions, 10% slower).
#define KC_DES_LANE(X, Y, ODD)                  \
    "movl %k[" #Y "], %k[w]\n\t"                \
    "xorl %k[even], %k[w]\n\t"                  \
    "movzbl %b[w], %k[t]\n\t"                   \
    "xorl 0x1c00(%[s],%q[t],4), %k[" #X "]\n\t" \
    "movzbl %h[w], %k[t]\n\t"                   \
    "xorl 0x1400(%[s],%q[t],4), %k[" #X "]\n\t" \
    "bextrl %k[mid], %k[w], %k[t]\n\t"          \
    "xorl 0xc00(%[s],%q[t],4), %k[" #X "]\n\t"  \
    "shrl $24, %k[w]\n\t"                       \
    "xorl 0x400(%[s],%q[w],4), %k[" #X "]\n\t"  \
    "rorxl $4, %k[" #Y "], %k[w]\n\t"           \
    "xorl " #ODD "(%[k]), %k[w]\n\t"            \
    "movzbl %b[w], %k[t]\n\t"                   \
    "xorl 0x1800(%[s],%q[t],4), %k[" #X "]\n\t" \
    "movzbl %h[w], %k[t]\n\t"                   \
    "xorl 0x1000(%[s],%q[t],4), %k[" #X "]\n\t" \
    "bextrl %k[mid], %k[w], %k[t]\n\t"          \
    "xorl 0x800(%[s],%q[t],4), %k[" #X "]\n\t"  \
    "shrl $24, %k[w]\n\t"                       \
    "xorl (%[s],%q[w],4), %k[" #X "]\n\t"
// x ^= F(y) in every lane with the key words at byte offsets ODD and EVEN.
#define KC_DES_ROUND(X, Y, ODD, EVEN)                                                                    \
    "movl " #EVEN "(%[k]), %k[even]\n\t" KC_DES_LANE(X##0, Y##0, ODD) KC_DES_LANE(X##1, Y##1, ODD) \
        KC_DES_LANE(X##2, Y##2, ODD) KC_DES_LANE(X##3, Y##3, ODD)
#define KC_DES_OPERANDS                                                                                      \
    : [l0] "+r"(l[0]), [l1] "+r"(l[1]), [l2] "+r"(l[2]), [l3] "+r"(l[3]), [r0] "+r"(r[0]), [r1] "+r"(r[1]), \
      [r2] "+r"(r[2]), [r3] "+r"(r[3]), [k] "+r"(k), [mid] "+r"(mid), [w] "=&Q"(w), [t] "=&R"(t),          \
      [even] "=&r"(even)                                                                                   \
    : [s] "r"(WideSP[0].data())                                                                             \
    : "cc", "memory"

// Same rounds and halves as Rounds<Forward> with N = 4.
template <bool Forward>
[[gnu::always_inline]] inline void RoundsBmi(std::uint32_t (&l)[4], std::uint32_t (&r)[4],
                                             const std::uint32_t* keys) noexcept {
    // k walks two rounds' keys per step. bextr reads only the low 16 bits
    // of its control: the bits above count the steps left after this one,
    // and their borrow past zero ends the loop. No register is left for a
    // counter, and a memory operand may need one for its address (the
    // address sanitizer moves locals off the stack).
    const std::uint32_t* k = Forward ? keys : keys + 28;
    std::uint32_t mid = 0x0810U | 7U << 16;
    std::uint32_t w, t, even;
    if constexpr (Forward)
        __asm__("1:\n\t" KC_DES_ROUND(l, r, 0, 4) KC_DES_ROUND(r, l, 8, 12)
                "addq $16, %[k]\n\t"
                "subl $0x10000, %k[mid]\n\t"
                "jnc 1b" KC_DES_OPERANDS);
    else
        __asm__("1:\n\t" KC_DES_ROUND(l, r, 8, 12) KC_DES_ROUND(r, l, 0, 4)
                "subq $16, %[k]\n\t"
                "subl $0x10000, %k[mid]\n\t"
                "jnc 1b" KC_DES_OPERANDS);
}
#undef KC_DES_OPERANDS
#undef KC_DES_ROUND
#undef KC_DES_LANE

// One block alone (the serial modes), where a round's latency is all that
// counts. Each half is kept doubled in a 64-bit word, the half above and
// the half rotated right by four below, and so is each entry of these
// tables: then one xor with the two key words (one load) gives the odd
// groups' bytes below and the even groups' above, and the 64-bit
// look-ups keep both forms of the next half at no extra cost. Byte j of
// that word indexes table j.
inline std::uint64_t Doubled(std::uint32_t half) noexcept { return std::uint64_t{half} << 32 | Ror32(half, 4); }

constexpr auto DoubledSP = [] {
    constexpr std::size_t box[8] = {6, 4, 2, 0, 7, 5, 3, 1};
    std::array<std::array<std::uint64_t, 256>, 8> doubled{};
    for (std::size_t j = 0; j < 8; ++j)
        for (std::size_t x = 0; x < 256; ++x) {
            const std::uint32_t w = WideSP[box[j]][x];
            doubled[j][x] = std::uint64_t{w} << 32 | Ror32(w, 4);
        }
    return doubled;
}();

// x ^= F(y), with w = y ^ the round's key words on entry. The look-ups
// whose index takes one instruction (bytes 0, 1 and 7) go first, and the
// sum is shaped by when the look-ups arrive, about three a cycle. With
// NEXT, the byte offset of the next round's key words, x takes them first
// and w is left x ^ them for the next round: a cycle less on the chain
// than xoring them into the finished x.
#define KC_DES_ALONE_F(X)                        \
    "movzbl %b[w], %k[t]\n\t"                   \
    "xorq (%[s],%q[t],8), %[" #X "]\n\t"        \
    "movzbl %h[w], %k[t]\n\t"                   \
    "movq 0x800(%[s],%q[t],8), %[p]\n\t"        \
    "rorxq $16, %[w], %[u]\n\t"                 \
    "rorxq $32, %[w], %[v]\n\t"                 \
    "rorxq $48, %[w], %[x]\n\t"                 \
    "shrq $56, %[w]\n\t"                        \
    "xorq 0x3800(%[s],%[w],8), %[p]\n\t"        \
    "movzbl %b[u], %k[t]\n\t"                   \
    "movq 0x1000(%[s],%q[t],8), %[q]\n\t"       \
    "movzbl %h[u], %k[t]\n\t"                   \
    "xorq 0x1800(%[s],%q[t],8), %[q]\n\t"       \
    "movzbl %b[v], %k[t]\n\t"                   \
    "xorq %[p], %[" #X "]\n\t"                  \
    "xorq 0x2000(%[s],%q[t],8), %[" #X "]\n\t"  \
    "movzbl %h[v], %k[t]\n\t"                   \
    "xorq 0x2800(%[s],%q[t],8), %[q]\n\t"       \
    "movzbl %b[x], %k[t]\n\t"                   \
    "xorq 0x3000(%[s],%q[t],8), %[q]\n\t"       \
    "xorq %[q], %[" #X "]\n\t"
#define KC_DES_ALONE(X, NEXT)                    \
    "xorq " #NEXT "(%[k]), %[" #X "]\n\t"       \
    KC_DES_ALONE_F(X)                            \
    "movq %[" #X "], %[w]\n\t"                  \
    "xorq " #NEXT "(%[k]), %[" #X "]\n\t"
#define KC_DES_ALONE_OPERANDS                                                                              \
    : [l] "+r"(l), [r] "+r"(r), [k] "+r"(k), [n] "+r"(n), [w] "=&Q"(w), [u] "=&Q"(u), [v] "=&Q"(v),      \
      [x] "=&r"(x), [t] "=&R"(t), [p] "=&r"(p), [q] "=&r"(q)                                              \
    : [s] "r"(DoubledSP[0].data())                                                                        \
    : "cc", "memory"

// Same rounds as Rounds<Forward> with N = 1, on doubled halves: seven
// passes of a loop of two rounds, then the last two, the last one with no
// next key to take.
template <bool Forward>
[[gnu::always_inline]] inline void RoundsAloneBmi(std::uint64_t& l, std::uint64_t& r,
                                                  const std::uint32_t* keys) noexcept {
    const std::uint32_t* k = Forward ? keys : keys + 28;
    std::uint32_t n = 7;
    std::uint64_t w, u, v, x, t, p, q;
    if constexpr (Forward)
        __asm__("movq (%[k]), %[w]\n\t"
                "xorq %[r], %[w]\n\t"
                "1:\n\t" KC_DES_ALONE(l, 8) KC_DES_ALONE(r, 16)
                "addq $16, %[k]\n\t"
                "decl %k[n]\n\t"
                "jnz 1b\n\t" KC_DES_ALONE(l, 8) KC_DES_ALONE_F(r) KC_DES_ALONE_OPERANDS);
    else
        __asm__("movq 8(%[k]), %[w]\n\t"
                "xorq %[r], %[w]\n\t"
                "1:\n\t" KC_DES_ALONE(l, 0) KC_DES_ALONE(r, -8)
                "subq $16, %[k]\n\t"
                "decl %k[n]\n\t"
                "jnz 1b\n\t" KC_DES_ALONE(l, 0) KC_DES_ALONE_F(r) KC_DES_ALONE_OPERANDS);
}
#undef KC_DES_ALONE_OPERANDS
#undef KC_DES_ALONE
#undef KC_DES_ALONE_F
constexpr bool HasBmiLanes = true;
#else
constexpr bool HasBmiLanes = false;
#endif

// Four chains fit the registers of x86-64, two those of 32-bit x86.
constexpr std::size_t Lanes = sizeof(void*) >= 8 ? 4 : 2;

// N blocks from OFF on through BODY, which takes the halves as arrays.
template <std::size_t N, typename Body>
[[gnu::always_inline]] inline void CryptBlocks(ConstBytes source, Bytes dest, std::size_t off, Body& body) noexcept {
    std::uint32_t l[N], r[N];
    for (std::size_t b = 0; b < N; ++b) {
        l[b] = LoadBE32(source.subspan(off + 8 * b, 4));
        r[b] = LoadBE32(source.subspan(off + 8 * b + 4, 4));
        InitialPermutation(l[b], r[b]);
    }
    body(l, r);
    for (std::size_t b = 0; b < N; ++b) {
        // The output is FP of R16 L16.
        FinalPermutation(r[b], l[b]);
        StoreBE32Block(dest.subspan(off + 8 * b, 4), r[b]);
        StoreBE32Block(dest.subspan(off + 8 * b + 4, 4), l[b]);
    }
}

// Whole groups of Lanes blocks, then the rest one by one.
template <typename Body>
inline void ForEachBlock(ConstBytes source, Bytes dest, Body body) noexcept {
    constexpr std::size_t group = 8 * Lanes;
    const std::size_t grouped = source.size() / group * group;
    std::size_t off = 0;
    for (; off < grouped; off += group) CryptBlocks<Lanes>(source, dest, off, body);
    for (; off < source.size(); off += 8) CryptBlocks<1>(source, dest, off, body);
}

// Sixteen rounds of N blocks on the path chosen: the lanes with bextr take
// whole groups, the portable rounds the rest.
template <bool Bmi, bool Forward, std::size_t N>
[[gnu::always_inline]] inline void Pass(std::uint32_t (&l)[N], std::uint32_t (&r)[N],
                                        const std::uint32_t* k) noexcept {
#if defined(__x86_64__)
    if constexpr (Bmi && N == 4) {
        RoundsBmi<Forward>(l, r, k);
        return;
    }
#endif
    Rounds<Forward>(l, r, k);
}

// Triple DES's three passes over one block (the serial modes). On the
// lanes' path the halves are doubled once for all three passes: for DES
// alone, doubling and undoubling each block cost more than the doubled
// rounds saved (2% slower in CBC).
template <bool Bmi>
[[gnu::always_inline]] inline void TriplePass(std::uint32_t (&l)[1], std::uint32_t (&r)[1], const std::uint32_t* k1,
                                              const std::uint32_t* k2, const std::uint32_t* k3) noexcept {
#if defined(__x86_64__)
    if constexpr (Bmi) {
        std::uint64_t dl = Doubled(l[0]), dr = Doubled(r[0]);
        RoundsAloneBmi<true>(dl, dr, k1);
        RoundsAloneBmi<false>(dr, dl, k2);
        RoundsAloneBmi<true>(dl, dr, k3);
        l[0] = static_cast<std::uint32_t>(dl >> 32), r[0] = static_cast<std::uint32_t>(dr >> 32);
        return;
    }
#endif
    Pass<Bmi, true>(l, r, k1);
    Pass<Bmi, false>(r, l, k2);
    Pass<Bmi, true>(l, r, k3);
}

// ForEachBlock with body(path, l, r), path a std::bool_constant: true for
// the lanes with bextr.
template <typename Body>
inline void ForEachBlockOnPath(bool bmi, ConstBytes source, Bytes dest, Body body) noexcept {
    if constexpr (HasBmiLanes)
        if (bmi) return ForEachBlock(source, dest, [&](auto& l, auto& r) { body(std::true_type{}, l, r); });
    ForEachBlock(source, dest, [&](auto& l, auto& r) { body(std::false_type{}, l, r); });
}

// CBC, CFB-block and OFB encryption, the chaining value kept between blocks
// in the form the rounds take. IP and FP only move bits, so IP(a ^ b) is
// IP(a) ^ IP(b), and IP undoes FP: the chain never leaves that form, and
// only the data a block adds or yields passes through IP or FP, off the
// chain of rounds that the next block waits on.
template <TKC_customdes::Serial Mode, typename Body>
inline void EncryptSerial(TKC_blockcipher64::Block& chainBlock, ConstBytes source, Bytes dest,
                          const Body& body) noexcept {
    using Serial = TKC_customdes::Serial;
    std::uint32_t l[1] = {LoadBE32(ConstBytes(chainBlock).first(4))};
    std::uint32_t r[1] = {LoadBE32(ConstBytes(chainBlock).subspan(4))};
    InitialPermutation(l[0], r[0]);
    for (std::size_t off = 0; off < source.size(); off += 8) {
        std::uint32_t dl = LoadBE32(source.subspan(off, 4)), dr = LoadBE32(source.subspan(off + 4, 4));
        InitialPermutation(dl, dr);
        if constexpr (Mode == Serial::Cbc) l[0] ^= dl, r[0] ^= dr;
        body(l, r);
        // The rounds' block is FP of (R16, L16), which IP takes back to (R16, L16).
        std::swap(l[0], r[0]);
        if constexpr (Mode == Serial::Cfb) l[0] ^= dl, r[0] ^= dr;
        std::uint32_t outL = l[0], outR = r[0];
        if constexpr (Mode == Serial::Ofb) outL ^= dl, outR ^= dr;
        FinalPermutation(outL, outR);
        StoreBE32Block(dest.subspan(off, 4), outL);
        StoreBE32Block(dest.subspan(off + 4, 4), outR);
    }
    FinalPermutation(l[0], r[0]);
    StoreBE32Block(Bytes(chainBlock).first(4), l[0]);
    StoreBE32Block(Bytes(chainBlock).subspan(4), r[0]);
}

// CFB-8 encryption with the shift register kept in the rounds' form, so
// that no byte pays for IP and FP on the chain. IP builds each output byte
// from one bit of every input byte, input byte i at bit i from the low
// end. Shifting the register a byte towards the front therefore moves the
// bits of every output byte one place down, and the byte shifted in takes
// their top bits: in the rounds' form, each half rotated right by one with
// those bits cleared. That byte is c = p ^ k, k the first byte of
// E(register): IP of p is a table look-up off the chain, and FP leaves the
// bits of k at the low end of the bytes of the rounds' output, a rotation
// away from where IP of k wants them. The register's plain form is the
// last eight ciphertext bytes, so one FP per eight bytes writes them all.
namespace cfb8 {

constexpr std::uint32_t Incoming = 0x01010101U;  // the new byte's bits, in each half

constexpr std::uint64_t Join(std::uint32_t l, std::uint32_t r) noexcept { return std::uint64_t{l} << 32 | r; }

// IP, in the rounds' form, of a register holding only byte c at its end.
constexpr auto Inserted = [] {
    std::array<std::uint64_t, 256> ip{};
    for (std::uint32_t c = 0; c < 256; ++c) {
        std::uint32_t l = 0, r = c;
        InitialPermutation(l, r);
        ip[c] = Join(l, r);
    }
    return ip;
}();

constexpr std::uint32_t Shifted(std::uint32_t half) noexcept { return Ror32(half, 1) & ~Incoming; }

// The bits of the keystream byte from one half of the output block, in the
// rounds' form (R16 for the register's left half, L16 for its right).
constexpr std::uint32_t KeystreamBits(std::uint32_t half) noexcept { return Rol32(half, 7) & Incoming; }

// The steps above against the permutations, bit by bit (all are linear):
// the shift gives IP(x << 8) from IP(x), and the keystream bits of a
// rounds' output y are IP of a register holding only FP(y)'s first byte.
constexpr bool StepsMatchPermutations() {
    for (unsigned b = 0; b < 64; ++b) {
        const std::uint64_t x = std::uint64_t{1} << b;
        std::uint32_t l = static_cast<std::uint32_t>(x >> 32), r = static_cast<std::uint32_t>(x);
        std::uint32_t sl = static_cast<std::uint32_t>(x << 8 >> 32), sr = static_cast<std::uint32_t>(x << 8);
        InitialPermutation(l, r);
        InitialPermutation(sl, sr);
        if (Join(Shifted(l), Shifted(r)) != Join(sl, sr)) return false;
        const std::uint32_t yl = static_cast<std::uint32_t>(x >> 32), yr = static_cast<std::uint32_t>(x);
        std::uint32_t fl = yl, fr = yr;
        FinalPermutation(fl, fr);
        if (Join(KeystreamBits(yl), KeystreamBits(yr)) != Inserted[fl >> 24]) return false;
    }
    return true;
}
static_assert(StepsMatchPermutations(), "the register's steps must follow IP and FP");

}  // namespace cfb8

// body(l, r) runs the rounds on a copy of the register.
template <typename Body>
inline void EncryptCfb8(TKC_blockcipher64::Block& chainBlock, ConstBytes source, Bytes dest,
                        const Body& body) noexcept {
    using namespace cfb8;
    std::uint32_t a = LoadBE32(ConstBytes(chainBlock).first(4)), b = LoadBE32(ConstBytes(chainBlock).subspan(4));
    InitialPermutation(a, b);
    // The register moves on by the byte p ^ E(register)'s first byte; only
    // the keystream bits wait on the rounds.
    const auto step = [&](std::uint8_t p) {
        const std::uint64_t plain = Inserted[p];
        const std::uint32_t nextA = Shifted(a) ^ static_cast<std::uint32_t>(plain >> 32);
        const std::uint32_t nextB = Shifted(b) ^ static_cast<std::uint32_t>(plain);
        std::uint32_t l[1] = {a}, r[1] = {b};
        body(l, r);
        a = nextA ^ KeystreamBits(r[0]);
        b = nextB ^ KeystreamBits(l[0]);
    };
    std::size_t off = 0;
    for (; source.size() - off >= 8; off += 8) {
        for (std::size_t i = 0; i < 8; ++i) step(source[off + i]);
        std::uint32_t hi = a, lo = b;
        FinalPermutation(hi, lo);
        StoreBE32Block(dest.subspan(off, 4), hi);
        StoreBE32Block(dest.subspan(off + 4, 4), lo);
    }
    const std::size_t rest = source.size() - off;
    for (std::size_t i = 0; i < rest; ++i) step(source[off + i]);
    FinalPermutation(a, b);
    StoreBE32Block(Bytes(chainBlock).first(4), a);
    StoreBE32Block(Bytes(chainBlock).subspan(4), b);
    std::copy_n(chainBlock.begin() + static_cast<std::ptrdiff_t>(8 - rest), rest,
                dest.begin() + static_cast<std::ptrdiff_t>(off));
}

template <typename Body>
inline void EncryptSerial(TKC_customdes::Serial mode, TKC_blockcipher64::Block& chain, ConstBytes source, Bytes dest,
                          const Body& body) noexcept {
    using Serial = TKC_customdes::Serial;
    switch (mode) {
    case Serial::Cbc: return EncryptSerial<Serial::Cbc>(chain, source, dest, body);
    case Serial::Cfb: return EncryptSerial<Serial::Cfb>(chain, source, dest, body);
    case Serial::Ofb: return EncryptSerial<Serial::Ofb>(chain, source, dest, body);
    case Serial::Cfb8: return EncryptCfb8(chain, source, dest, body);
    }
}

#if defined(KESTRUNE_WORD_LANES)
// Sixty-four blocks at a time with the halves byte-sliced in AVX-512
// registers: a round only xors, so the halves stay sliced from IP to FP.
// The look-ups index six bits, and VBMI's byte permute looks up sixty-four
// of them in a table of 64 bytes: each combined S-box and P table is four
// such tables, byte j of its entries. No look-up goes to memory by the data.
using slices::V;
using slices::Word16;
using SlicedSchedule = TKC_customdes::SlicedSchedule;
constexpr std::size_t SetBytes = 8 * 64;

struct ByteTables {
    alignas(64) std::array<std::array<std::array<std::uint8_t, 64>, 4>, 8> box;  // [S-box][byte]
};
constexpr ByteTables SlicedSP = [] {
    ByteTables t{};
    for (std::size_t i = 0; i < 8; ++i)
        for (std::size_t j = 0; j < 4; ++j)
            for (std::size_t x = 0; x < 64; ++x)
                t.box[i][j][x] = static_cast<std::uint8_t>(tables::DesSP[64 * i + x] >> (8 * j));
    return t;
}();

#define KC_INLINE __attribute__((target(KC_SLICES_TARGET), always_inline)) inline

// Sixty-four bytes through a table of 64 (the index's top two bits unused).
// The zero-masking form with every lane kept: GCC's plain one reads an
// undefined vector that -Wmaybe-uninitialized reports.
KC_INLINE V LookUp(const std::array<std::uint8_t, 64>& table, const V& index) noexcept {
    return _mm512_maskz_permutexvar_epi8(~__mmask64{0}, index, slices::Load512(table.data()));
}

// x ^= F(y) with the round's sliced keys kb. Byte j of Ror(y, 4) is the
// high nibble of y's byte j under the low one of byte j + 1 (of 4): 16-bit
// shifts move the nibbles, and a mask keeps each one's own.
KC_INLINE void SlicedF(V (&x)[4], const V (&y)[4], const std::uint32_t* kb) noexcept {
    using Shorts = std::uint16_t __attribute__((vector_size(64)));
    const V low = _mm512_set1_epi8(0x0F);
    V odd[4], even[4], t[4];
#pragma GCC unroll 4
    for (std::size_t j = 0; j < 4; ++j) {
        t[j] = y[j] ^ _mm512_set1_epi32(static_cast<int>(kb[j]));
        even[j] = y[j] ^ _mm512_set1_epi32(static_cast<int>(kb[4 + j]));
    }
#pragma GCC unroll 4
    for (std::size_t j = 0; j < 4; ++j)
        odd[j] = (V(Shorts(t[j]) >> 4) & low) | (V(Shorts(t[(j + 1) % 4]) << 4) & ~low);
    // Box 2i takes odd byte 3 - i, box 2i + 1 even byte 3 - i.
#pragma GCC unroll 4
    for (std::size_t b = 0; b < 4; ++b) {
        V sum = x[b];
#pragma GCC unroll 4
        for (std::size_t i = 0; i < 4; ++i)
            sum ^= LookUp(SlicedSP.box[2 * i][b], odd[3 - i]) ^ LookUp(SlicedSP.box[2 * i + 1][b], even[3 - i]);
        x[b] = sum;
    }
}

// Sixteen rounds as Rounds<Forward> takes them.
template <bool Forward>
KC_INLINE void SlicedPass(V (&l)[4], V (&r)[4], const SlicedSchedule& kb) noexcept {
    if constexpr (Forward) {
        for (std::size_t round = 0; round < 16; round += 2) {
            SlicedF(l, r, kb.data() + 8 * round);
            SlicedF(r, l, kb.data() + 8 * round + 8);
        }
    } else {
        for (std::size_t round = 16; round > 0; round -= 2) {
            SlicedF(l, r, kb.data() + 8 * round - 8);
            SlicedF(r, l, kb.data() + 8 * round - 16);
        }
    }
}

// The round keys sliced with eight byte permutes, each two rounds' 64
// bytes from the 64 of eight rounds: byte i of a pair of rounds is byte
// (i mod 32) / 4 of the round's eight (Rol(odd, 4), then even). Sliced a
// byte at a time in C++, they doubled Triple DES's key set-up.
__attribute__((target(KC_SLICES_TARGET))) void SliceScheduleAvx512(const TKC_customdes::Schedule& k,
                                                                    SlicedSchedule& out) noexcept {
    alignas(64) static constexpr std::array<std::uint8_t, 64> PairIndex = [] {
        std::array<std::uint8_t, 64> index{};
        for (std::size_t i = 0; i < 64; ++i) index[i] = static_cast<std::uint8_t>(8 * (i / 32) + i % 32 / 4);
        return index;
    }();
    const V pair = slices::Load512(PairIndex.data());
    for (std::size_t half = 0; half < 2; ++half) {
        V words = _mm512_loadu_si512(k.data() + 16 * half);
        words = _mm512_mask_rol_epi32(words, 0x5555, words, 4);
        for (std::size_t q = 0; q < 4; ++q) {
            const V index = _mm512_add_epi8(pair, _mm512_set1_epi8(static_cast<char>(16 * q)));
            const V sliced = _mm512_maskz_permutexvar_epi8(~__mmask64{0}, index, words);
            _mm512_storeu_si512(out.data() + 64 * half + 16 * q, sliced);
        }
    }
}

#undef KC_INLINE

// Whole sets of sixty-four blocks through the passes (one for DES, three
// for Triple DES: forward, backward, forward when encrypting, their mirror
// when decrypting, the halves swapping roles between passes); returns the
// bytes done.
template <bool Encrypting>
__attribute__((target(KC_SLICES_TARGET), flatten)) std::size_t CryptSetsAvx512(const SlicedSchedule* keys,
                                                                               std::size_t passes,
                                                                               ConstBytes source,
                                                                               Bytes dest) noexcept {
    const std::size_t done = source.size() / SetBytes * SetBytes;
    for (std::size_t off = 0; off < done; off += SetBytes) {
        Word16 lw[4], rw[4];
        slices::LoadHalves(source.data() + off, lw, rw);
#pragma GCC unroll 4
        for (std::size_t g = 0; g < 4; ++g) InitialPermutation(lw[g], rw[g]);
        V l[4], r[4];
        slices::ToBytes(lw, l), slices::ToBytes(rw, r);
        for (std::size_t p = 0; p < passes; ++p) {
            const bool forward = Encrypting == (p % 2 == 0);
            const SlicedSchedule& k = keys[Encrypting ? p : passes - 1 - p];
            if (p % 2 == 0)
                forward ? SlicedPass<true>(l, r, k) : SlicedPass<false>(l, r, k);
            else
                forward ? SlicedPass<true>(r, l, k) : SlicedPass<false>(r, l, k);
        }
        slices::ToWords(l, lw), slices::ToWords(r, rw);
        // The output is FP of R16 L16.
#pragma GCC unroll 4
        for (std::size_t g = 0; g < 4; ++g) FinalPermutation(rw[g], lw[g]);
        slices::StoreHalves(dest.data() + off, rw, lw);
    }
    return done;
}

#endif

// EncryptSerial with body(path, l, r) as ForEachBlockOnPath gives it.
template <typename Body>
inline void EncryptSerialOnPath(bool bmi, TKC_customdes::Serial mode, TKC_blockcipher64::Block& chain,
                                ConstBytes source, Bytes dest, Body body) noexcept {
    if constexpr (HasBmiLanes)
        if (bmi) return EncryptSerial(mode, chain, source, dest, [&](auto& l, auto& r) { body(std::true_type{}, l, r); });
    EncryptSerial(mode, chain, source, dest, [&](auto& l, auto& r) { body(std::false_type{}, l, r); });
}

}  // namespace

void TKC_customdes::BuildSchedule(ConstBytes key8, Schedule& schedule) noexcept {
    using namespace tables;
    const std::uint64_t key = LoadBE64(key8);
    // PC-1, a key nibble at a time, into the 28-bit halves C and D.
    std::uint32_t c = 0, d = 0;
#pragma GCC unroll 16
    for (unsigned nibble = 0; nibble < 16; ++nibble) {
        const auto v = static_cast<std::size_t>((key >> (60 - 4 * nibble)) & 15);
        c |= DesPc1C[16 * nibble + v];
        d |= DesPc1D[16 * nibble + v];
    }
    // Each round rotates both halves left, then PC-2 picks the round key,
    // seven bits of a half at a time, already in the rounds' packed form.
    for (std::size_t round = 0; round < 16; ++round) {
        const unsigned shift = DesShifts[round];
        c = ((c << shift) | (c >> (28 - shift))) & 0x0FFFFFFF;
        d = ((d << shift) | (d >> (28 - shift))) & 0x0FFFFFFF;
        std::uint32_t odd = 0, even = 0;
#pragma GCC unroll 4
        for (unsigned piece = 0; piece < 4; ++piece) {
            const std::size_t ci = 2 * (128 * piece + ((c >> (21 - 7 * piece)) & 0x7F));
            const std::size_t di = 2 * (128 * piece + ((d >> (21 - 7 * piece)) & 0x7F));
            odd |= DesPc2C[ci] | DesPc2D[di];
            even |= DesPc2C[ci + 1] | DesPc2D[di + 1];
        }
        schedule[2 * round] = odd;
        schedule[2 * round + 1] = even;
    }
    c = d = 0;
}

// The sets of the AVX-512 path first when it is chosen (whole sets, then a
// rest of sixteen blocks or more as one set filled up with zeros); the lanes
// or the portable rounds take what is left.
template <bool Encrypting, std::size_t Passes>
std::size_t CryptSetsFirst(const TKC_customdes::SlicedSchedule* sliced, ConstBytes source, Bytes dest) noexcept {
#if defined(KESTRUNE_WORD_LANES)
    if (sliced)
        return slices::CryptPadded<SetBytes>(source, dest, 8 * 16, [&](ConstBytes in, Bytes out) {
            return CryptSetsAvx512<Encrypting>(sliced, Passes, in, out);
        });
#else
    static_cast<void>(sliced), static_cast<void>(source), static_cast<void>(dest);
#endif
    return 0;
}

void TKC_customdes::EncryptBlocksWith(const SlicedSchedule* sliced, bool bmi, const Schedule& k, ConstBytes source,
                                      Bytes dest) noexcept {
    const std::size_t done = CryptSetsFirst<true, 1>(sliced, source, dest);
    ForEachBlockOnPath(bmi, source.subspan(done), dest.subspan(done), [&](auto path, auto& l, auto& r) {
        Pass<decltype(path)::value, true>(l, r, k.data());
    });
}

void TKC_customdes::DecryptBlocksWith(const SlicedSchedule* sliced, bool bmi, const Schedule& k, ConstBytes source,
                                      Bytes dest) noexcept {
    const std::size_t done = CryptSetsFirst<false, 1>(sliced, source, dest);
    ForEachBlockOnPath(bmi, source.subspan(done), dest.subspan(done), [&](auto path, auto& l, auto& r) {
        Pass<decltype(path)::value, false>(l, r, k.data());
    });
}

// Between the stages FP and the next IP cancel, and the stage's output
// halves swap roles.
void TKC_customdes::EncryptBlocksWith(const SlicedSchedule* sliced, bool bmi, const Schedule& k1, const Schedule& k2,
                                      const Schedule& k3, ConstBytes source, Bytes dest) noexcept {
    const std::size_t done = CryptSetsFirst<true, 3>(sliced, source, dest);
    ForEachBlockOnPath(bmi, source.subspan(done), dest.subspan(done), [&](auto path, auto& l, auto& r) {
        Pass<decltype(path)::value, true>(l, r, k1.data());
        Pass<decltype(path)::value, false>(r, l, k2.data());
        Pass<decltype(path)::value, true>(l, r, k3.data());
    });
}

void TKC_customdes::DecryptBlocksWith(const SlicedSchedule* sliced, bool bmi, const Schedule& k1, const Schedule& k2,
                                      const Schedule& k3, ConstBytes source, Bytes dest) noexcept {
    const std::size_t done = CryptSetsFirst<false, 3>(sliced, source, dest);
    ForEachBlockOnPath(bmi, source.subspan(done), dest.subspan(done), [&](auto path, auto& l, auto& r) {
        Pass<decltype(path)::value, false>(l, r, k3.data());
        Pass<decltype(path)::value, true>(r, l, k2.data());
        Pass<decltype(path)::value, false>(l, r, k1.data());
    });
}

void TKC_customdes::EncryptSerialWith(Serial mode, const Schedule& k, Block& chain, ConstBytes source,
                                      Bytes dest) noexcept {
    EncryptSerial(mode, chain, source, dest, [&](auto& l, auto& r) { Rounds<true>(l, r, k.data()); });
}

void TKC_customdes::EncryptSerialWith(bool bmi, Serial mode, const Schedule& k1, const Schedule& k2,
                                      const Schedule& k3, Block& chain, ConstBytes source, Bytes dest) noexcept {
    EncryptSerialOnPath(bmi, mode, chain, source, dest, [&](auto path, auto& l, auto& r) {
        TriplePass<decltype(path)::value>(l, r, k1.data(), k2.data(), k3.data());
    });
}

std::string_view TKC_customdes::Provider() const noexcept {
    if (IsInitialized() ? SlicedPath : lanes::ByteSlicesUsable()) return "avx512";
    return (IsInitialized() ? BmiLanes : UsableBmiLanes()) ? "bmi2" : "portable";
}

bool TKC_customdes::UsableBmiLanes() noexcept { return HasBmiLanes && CpuFeatures::Has(CpuFeature::Bmi2); }

void TKC_customdes::SliceSchedule(const Schedule& k, SlicedSchedule& out) noexcept {
#if defined(KESTRUNE_WORD_LANES)
    SliceScheduleAvx512(k, out);
#else
    static_cast<void>(k), static_cast<void>(out);  // no sliced path here
#endif
}

void TKC_des::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    BmiLanes = UsableBmiLanes();
    SlicedPath = lanes::ByteSlicesUsable();
    std::array<std::uint8_t, 8> padded{};  // a short key is padded with zero bytes
    std::copy_n(key.begin(), keyBits / 8, padded.begin());
    BuildSchedule(padded, KeySchedule);
    if (SlicedPath) SliceSchedule(KeySchedule, SlicedKeys);
    SecureZero(padded);
}

void TKC_3des::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    BmiLanes = UsableBmiLanes();
    SlicedPath = lanes::ByteSlicesUsable();
    std::array<std::uint8_t, 24> padded{};
    std::copy_n(key.begin(), keyBits / 8, padded.begin());
    BuildSchedule(ConstBytes(padded).first(8), Schedules[0]);
    BuildSchedule(ConstBytes(padded).subspan(8, 8), Schedules[1]);
    // Up to 128 bits the key is two-key Triple DES; longer keys give K3,
    // its missing bytes zero.
    if (keyBits <= 128)
        Schedules[2] = Schedules[0];
    else
        BuildSchedule(ConstBytes(padded).subspan(16, 8), Schedules[2]);
    if (SlicedPath)
        for (std::size_t i = 0; i < 3; ++i) SliceSchedule(Schedules[i], SlicedKeys[i]);
    SecureZero(padded);
}

bool TKC_des::SelfTest() {
    TKC_des cipher;
    using namespace tables;
    const bool first = CheckBlockVector(cipher, DesSelfTestKey1, DesSelfTestPlain1, DesSelfTestCipher1);
    const bool second = CheckBlockVector(cipher, DesSelfTestKey2, DesSelfTestPlain2, DesSelfTestCipher2);
    return first && second;
}

bool TKC_3des::SelfTest() {
    TKC_3des cipher;
    using namespace tables;
    return CheckBlockVector(cipher, TripleDesSelfTestKey1, TripleDesSelfTestPlain1, TripleDesSelfTestCipher1);
}

}  // namespace kestrune
