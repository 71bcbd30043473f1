#include "KCserpent.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "../framework/KCcpufeatures.h"
#include "KCwordlanes.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KESTRUNE_SERPENT_SIMD 1
#endif

#include "KCserpent_tables.inc"

namespace kestrune {
namespace {

// The rounds are written once over a word type W: a plain 32-bit word for one
// block, or a vector of four, eight or sixteen words that carries as many
// blocks side by side. Vectors pass by reference only: a wide vector by
// value would change the calling convention between paths built for
// different targets.
using Word4 = std::uint32_t __attribute__((vector_size(16)));
using Word8 = std::uint32_t __attribute__((vector_size(32)));
using Word16 = std::uint32_t __attribute__((vector_size(64)));
using RoundKeys = std::array<std::array<std::uint32_t, 4>, 33>;

template <int N, typename W>
inline void Rotl(W& x) noexcept {
    x = (x << N) | (x >> (32 - N));
}

template <typename W>
struct Planes {
    W x0, x1, x2, x3;

    void Mix(const std::array<std::uint32_t, 4>& k) noexcept {
        x0 ^= k[0], x1 ^= k[1], x2 ^= k[2], x3 ^= k[3];
    }
    void Linear() noexcept {
        Rotl<13>(x0), Rotl<3>(x2);
        x1 ^= x0 ^ x2, x3 ^= x2 ^ (x0 << 3);
        Rotl<1>(x1), Rotl<7>(x3);
        x0 ^= x1 ^ x3, x2 ^= x3 ^ (x1 << 7);
        Rotl<5>(x0), Rotl<22>(x2);
    }
    void InverseLinear() noexcept {
        Rotl<10>(x2), Rotl<27>(x0);
        x2 ^= x3 ^ (x1 << 7), x0 ^= x1 ^ x3;
        Rotl<25>(x3), Rotl<31>(x1);
        x3 ^= x2 ^ (x0 << 3), x1 ^= x0 ^ x2;
        Rotl<29>(x2), Rotl<19>(x0);
    }
    template <int Box>
    void S() noexcept {
        using namespace tables;
        if constexpr (Box == 0) SerpentS0(x0, x1, x2, x3);
        if constexpr (Box == 1) SerpentS1(x0, x1, x2, x3);
        if constexpr (Box == 2) SerpentS2(x0, x1, x2, x3);
        if constexpr (Box == 3) SerpentS3(x0, x1, x2, x3);
        if constexpr (Box == 4) SerpentS4(x0, x1, x2, x3);
        if constexpr (Box == 5) SerpentS5(x0, x1, x2, x3);
        if constexpr (Box == 6) SerpentS6(x0, x1, x2, x3);
        if constexpr (Box == 7) SerpentS7(x0, x1, x2, x3);
    }
    // The same boxes with the shorter chains that one block alone waits on.
    template <int Box>
    void SerialS() noexcept {
        using namespace tables;
        if constexpr (Box == 0) SerpentSerialS0(x0, x1, x2, x3);
        if constexpr (Box == 1) SerpentSerialS1(x0, x1, x2, x3);
        if constexpr (Box == 2) SerpentSerialS2(x0, x1, x2, x3);
        if constexpr (Box == 3) SerpentSerialS3(x0, x1, x2, x3);
        if constexpr (Box == 4) SerpentSerialS4(x0, x1, x2, x3);
        if constexpr (Box == 5) SerpentSerialS5(x0, x1, x2, x3);
        if constexpr (Box == 6) SerpentSerialS6(x0, x1, x2, x3);
        if constexpr (Box == 7) SerpentSerialS7(x0, x1, x2, x3);
    }
    template <int Box>
    void InverseS() noexcept {
        using namespace tables;
        if constexpr (Box == 0) SerpentInvS0(x0, x1, x2, x3);
        if constexpr (Box == 1) SerpentInvS1(x0, x1, x2, x3);
        if constexpr (Box == 2) SerpentInvS2(x0, x1, x2, x3);
        if constexpr (Box == 3) SerpentInvS3(x0, x1, x2, x3);
        if constexpr (Box == 4) SerpentInvS4(x0, x1, x2, x3);
        if constexpr (Box == 5) SerpentInvS5(x0, x1, x2, x3);
        if constexpr (Box == 6) SerpentInvS6(x0, x1, x2, x3);
        if constexpr (Box == 7) SerpentInvS7(x0, x1, x2, x3);
    }

    // Round r with S-box Box (r mod 8); the very last round ends with a key
    // mixing instead of the linear transformation.
    template <int Box>
    void Round(const RoundKeys& k, int r) noexcept {
        Mix(k[r]);
        S<Box>();
        if (r == 31)
            Mix(k[32]);
        else
            Linear();
    }
    template <int Box>
    void InverseRound(const RoundKeys& k, int r) noexcept {
        if (r == 31)
            Mix(k[32]);
        else
            InverseLinear();
        InverseS<Box>();
        Mix(k[r]);
    }
};

// Rounds first..first+7 of every set of planes given, each round of one set
// right after the same round of the other: a set alone waits on the chain
// of operations within each round, two independent ones fill those waits.
template <int Box = 0, typename... P>
inline void EightRounds(const RoundKeys& k, int first, P&... planes) noexcept {
    if constexpr (Box < 8) {
        (planes.template Round<Box>(k, first + Box), ...);
        EightRounds<Box + 1>(k, first, planes...);
    }
}

template <int Box = 7, typename... P>
inline void EightInverseRounds(const RoundKeys& k, int first, P&... planes) noexcept {
    if constexpr (Box >= 0) {
        (planes.template InverseRound<Box>(k, first + Box), ...);
        EightInverseRounds<Box - 1>(k, first, planes...);
    }
}

template <bool Encrypting, typename... P>
inline void Run(const RoundKeys& keys, P&... planes) noexcept {
    if constexpr (Encrypting)
        for (int first = 0; first < 32; first += 8) EightRounds(keys, first, planes...);
    else
        for (int first = 24; first >= 0; first -= 8) EightInverseRounds(keys, first, planes...);
}

template <bool Encrypting>
void CryptPortable(const RoundKeys& keys, ConstBytes source, Bytes dest) noexcept {
    const auto run = [&keys](auto& planes) { Run<Encrypting>(keys, planes); };
    std::size_t off = 0;
    for (; off + 64 <= source.size(); off += 64) {
        // Four blocks, one per vector lane.
        std::array<std::uint32_t, 16> w;
        for (std::size_t i = 0; i < 16; ++i) w[i] = LoadLE32(source.subspan(off + 4 * i));
        Planes<Word4> p{Word4{w[0], w[4], w[8], w[12]}, Word4{w[1], w[5], w[9], w[13]},
                        Word4{w[2], w[6], w[10], w[14]}, Word4{w[3], w[7], w[11], w[15]}};
        run(p);
        for (std::size_t b = 0; b < 4; ++b) {
            const auto out = dest.subspan(off + 16 * b, 16);
            StoreLE32(out, p.x0[b]);
            StoreLE32(out.subspan(4), p.x1[b]);
            StoreLE32(out.subspan(8), p.x2[b]);
            StoreLE32(out.subspan(12), p.x3[b]);
        }
    }
    for (; off < source.size(); off += 16) {
        const auto in = source.subspan(off, 16);
        Planes<std::uint32_t> p{LoadLE32(in), LoadLE32(in.subspan(4)), LoadLE32(in.subspan(8)),
                                LoadLE32(in.subspan(12))};
        run(p);
        const auto out = dest.subspan(off, 16);
        StoreLE32(out, p.x0);
        StoreLE32(out.subspan(4), p.x1);
        StoreLE32(out.subspan(8), p.x2);
        StoreLE32(out.subspan(12), p.x3);
    }
}

#ifdef KESTRUNE_SERPENT_SIMD
// Blocks become word planes by a 4x4 transpose of 32-bit words within each
// 128-bit part (lanes::Transpose); the transpose is its own inverse and
// brings them back. On this little-endian family a block loaded whole
// already holds its words. In AVX2 registers lanes 0-3 carry blocks 0, 2,
// 4, 6 and lanes 4-7 blocks 1, 3, 5, 7 (in AVX-512 registers, lane 4q + i
// carries block 4i + q), which is as good an order as any while they are
// planes.

// Two sets in flight where sixteen vector registers hold both sets' planes
// and the S-boxes' temporaries; 32-bit code has eight, and takes one set.
constexpr std::size_t SetsInFlight = sizeof(void*) == 8 ? 2 : 1;
// AVX-512 has 32 registers: four sets of sixteen blocks (measured: 2, 3
// and 4 sets ran CTR at 1640, 1957 and 2176 MiB/s).
template <typename W>
constexpr std::size_t SetsInFlightOf = sizeof(W) == 64 && sizeof(void*) == 8 ? 4 : SetsInFlight;

// One group of Sets sets of sizeof(W) / 4 blocks. load(i, planes) fills set
// i's planes, store(i, planes) takes them. The sets go back last first: a
// store may read the block just before its own set, which the set before
// still has to write (the modes that chain on the previous ciphertext
// block, run in place).
template <bool Encrypting, typename W, std::size_t Sets, typename Load, typename Store>
inline void CryptGroup(const RoundKeys& keys, Load load, Store store) noexcept {
    std::array<Planes<W>, Sets> p;
    for (std::size_t i = 0; i < Sets; ++i) load(i, p[i]);
    std::apply([&](auto&... sets) { Run<Encrypting>(keys, sets...); }, p);
    for (std::size_t i = Sets; i-- > 0;) store(i, p[i]);
}

// Whole sets of the first size bytes, SetsInFlightOf<W> at a time and then one:
// load(offset, planes) and store(offset, planes) take the byte offset of a
// set, and start(offset, bytes) runs before each group. Returns the bytes done;
// the caller takes the rest.
template <bool Encrypting, typename W, typename Start, typename Load, typename Store>
inline std::size_t CryptSets(const RoundKeys& keys, std::size_t size, Start start, Load load,
                             Store store) noexcept {
    constexpr std::size_t set = 4 * sizeof(W);
    const auto groups = [&]<std::size_t Sets>(std::size_t off) {
        for (; off + Sets * set <= size; off += Sets * set) {
            start(off, Sets * set);
            CryptGroup<Encrypting, W, Sets>(
                keys, [&](std::size_t i, Planes<W>& p) { load(off + i * set, p); },
                [&](std::size_t i, Planes<W>& p) { store(off + i * set, p); });
        }
        return off;
    };
    constexpr std::size_t inFlight = SetsInFlightOf<W>;
    std::size_t done = groups.template operator()<inFlight>(0);
    if constexpr (inFlight > 1) done = groups.template operator()<1>(done);
    return done;
}

template <typename W>
inline void LoadSet(Planes<W>& p, const std::uint8_t* in) noexcept {
    lanes::Load(p.x0, in), lanes::Load(p.x1, in + sizeof(W));
    lanes::Load(p.x2, in + 2 * sizeof(W)), lanes::Load(p.x3, in + 3 * sizeof(W));
}

// Registers of whole blocks to planes and back.
template <typename W>
inline void Transpose(Planes<W>& p) noexcept {
    lanes::Transpose(p.x0, p.x1, p.x2, p.x3);
}

template <typename W>
inline void StoreSet(std::uint8_t* out, const Planes<W>& p) noexcept {
    lanes::Store(out, p.x0), lanes::Store(out + sizeof(W), p.x1);
    lanes::Store(out + 2 * sizeof(W), p.x2), lanes::Store(out + 3 * sizeof(W), p.x3);
}

// The blocks of a set shifted back by one: the block before the set (from
// previous when the set starts a group, whose block before may already be
// overwritten in place) and all but its last.
__attribute__((target("sse2"))) inline void LoadShifted(Planes<Word4>& p, const std::uint8_t* in,
                                                        const Word4* previous) noexcept {
    if (previous)
        p.x0 = *previous;
    else
        lanes::Load(p.x0, in - 16);
    lanes::Load(p.x1, in), lanes::Load(p.x2, in + 16), lanes::Load(p.x3, in + 32);
}
__attribute__((target("avx2"))) inline void LoadShifted(Planes<Word8>& p, const std::uint8_t* in,
                                                        const Word4* previous) noexcept {
    if (previous)
        p.x0 = Word8(_mm256_inserti128_si256(_mm256_castsi128_si256(__m128i(*previous)),
                                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), 1));
    else
        lanes::Load(p.x0, in - 16);
    lanes::Load(p.x1, in + 16), lanes::Load(p.x2, in + 48), lanes::Load(p.x3, in + 80);
}
__attribute__((target("avx512f"))) inline void LoadShifted(Planes<Word16>& p, const std::uint8_t* in,
                                                           const Word4* previous) noexcept {
    if (previous) {
        // Joined by generic shuffles: GCC's AVX-512 insert intrinsics read an
        // undefined vector that -Wmaybe-uninitialized reports.
        Word4 block0;
        Word8 rest;
        lanes::Load(block0, in), lanes::Load(rest, in + 16);
        const Word8 first = __builtin_shufflevector(*previous, block0, 0, 1, 2, 3, 4, 5, 6, 7);
        p.x0 = __builtin_shufflevector(first, rest, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    } else {
        lanes::Load(p.x0, in - 16);
    }
    lanes::Load(p.x1, in + 48), lanes::Load(p.x2, in + 112), lanes::Load(p.x3, in + 176);
}

template <typename W>
inline void XorSet(Planes<W>& p, const Planes<W>& q) noexcept {
    p.x0 ^= q.x0, p.x1 ^= q.x1, p.x2 ^= q.x2, p.x3 ^= q.x3;
}

template <bool Encrypting, typename W>
inline std::size_t CryptBlocksOn(const RoundKeys& keys, ConstBytes source, Bytes dest) noexcept {
    return CryptSets<Encrypting, W>(
        keys, source.size(), [](std::size_t, std::size_t) {},
        [&](std::size_t off, Planes<W>& p) { LoadSet(p, source.data() + off), Transpose(p); },
        [&](std::size_t off, Planes<W>& p) { Transpose(p), StoreSet(dest.data() + off, p); });
}

// CBC decryption: each plaintext block is D(C[i]) ^ C[i-1]; chain is the
// ciphertext block before the source, left as the last one.
template <typename W>
inline std::size_t DecryptCBCOn(const RoundKeys& keys, Word4& chain, ConstBytes source, Bytes dest) noexcept {
    Word4 previous = chain;
    std::size_t groupStart = 0;
    const std::size_t done = CryptSets<false, W>(
        keys, source.size(),
        [&](std::size_t off, std::size_t group) {
            previous = chain, groupStart = off;
            lanes::Load(chain, source.data() + off + group - 16);
        },
        [&](std::size_t off, Planes<W>& p) { LoadSet(p, source.data() + off), Transpose(p); },
        [&](std::size_t off, Planes<W>& p) {
            Transpose(p);
            Planes<W> c;
            LoadShifted(c, source.data() + off, off == groupStart ? &previous : nullptr);
            XorSet(p, c);
            StoreSet(dest.data() + off, p);
        });
    return done;
}

// CFB decryption: each plaintext block is C[i] ^ E(C[i-1]); chain as for CBC.
template <typename W>
inline std::size_t DecryptCFBOn(const RoundKeys& keys, Word4& chain, ConstBytes source, Bytes dest) noexcept {
    Word4 previous = chain;
    std::size_t groupStart = 0;
    const std::size_t done = CryptSets<true, W>(
        keys, source.size(),
        [&](std::size_t off, std::size_t group) {
            previous = chain, groupStart = off;
            lanes::Load(chain, source.data() + off + group - 16);
        },
        [&](std::size_t off, Planes<W>& p) {
            LoadShifted(p, source.data() + off, off == groupStart ? &previous : nullptr);
            Transpose(p);
        },
        [&](std::size_t off, Planes<W>& p) {
            Transpose(p);
            Planes<W> c;
            LoadSet(c, source.data() + off);
            XorSet(p, c);
            StoreSet(dest.data() + off, p);
        });
    return done;
}

// CTR: the counter blocks are made as planes. Lane j of a set's planes
// holds the block the transpose above puts there; each lane adds
// its block's offset to the counter's low word and runs the carry through
// the other three words without a branch: a counter derived from the key is
// as secret as the key. Words are big-endian in the block.
template <typename W>
inline void CounterPlanes(Planes<W>& p, const std::array<std::uint32_t, 4>& limbs, std::uint32_t first) noexcept {
    // Lane 4q + i of a register of L 128-bit parts holds block L * i + q.
    constexpr std::uint32_t parts = sizeof(W) / 16;
    W offset;
    for (std::uint32_t j = 0; j < sizeof(W) / 4; ++j) offset[j] = first + parts * (j % 4) + j / 4;
    W w3 = limbs[3] + offset;
    W carry = W(w3 < offset);
    W w2 = limbs[2] - carry;
    carry &= W(w2 == 0);
    W w1 = limbs[1] - carry;
    carry &= W(w1 == 0);
    W w0 = limbs[0] - carry;
    lanes::SwapBytes(w0), lanes::SwapBytes(w1), lanes::SwapBytes(w2), lanes::SwapBytes(w3);
    p = {w0, w1, w2, w3};
}

template <typename W>
inline std::size_t EncryptCTROn(const RoundKeys& keys, std::uint64_t (&counter)[2], ConstBytes source,
                                Bytes dest) noexcept {
    std::array<std::uint32_t, 4> limbs{};
    std::size_t groupStart = 0;
    const std::size_t done = CryptSets<true, W>(
        keys, source.size(),
        [&](std::size_t off, std::size_t group) {
            groupStart = off;
            limbs = {static_cast<std::uint32_t>(counter[0] >> 32), static_cast<std::uint32_t>(counter[0]),
                     static_cast<std::uint32_t>(counter[1] >> 32), static_cast<std::uint32_t>(counter[1])};
            const std::uint64_t blocks = group / 16;
            counter[1] += blocks;
            counter[0] += counter[1] < blocks;
        },
        [&](std::size_t off, Planes<W>& p) {
            CounterPlanes(p, limbs, static_cast<std::uint32_t>((off - groupStart) / 16));
        },
        [&](std::size_t off, Planes<W>& p) {
            Transpose(p);
            Planes<W> c;
            LoadSet(c, source.data() + off);
            XorSet(p, c);
            StoreSet(dest.data() + off, p);
        });
    SecureZero(limbs);
    return done;
}

// The paths carry the target and inline everything (flatten), so that the
// rounds are built for it.
template <bool Encrypting>
__attribute__((target("sse2"), flatten)) std::size_t CryptSse2(const RoundKeys& keys, ConstBytes source,
                                                               Bytes dest) noexcept {
    return CryptBlocksOn<Encrypting, Word4>(keys, source, dest);
}
template <bool Encrypting>
__attribute__((target("avx2"), flatten)) std::size_t CryptAvx2(const RoundKeys& keys, ConstBytes source,
                                                               Bytes dest) noexcept {
    return CryptBlocksOn<Encrypting, Word8>(keys, source, dest);
}
template <bool Encrypting>
__attribute__((target("avx512f"), flatten)) std::size_t CryptAvx512(const RoundKeys& keys, ConstBytes source,
                                                                    Bytes dest) noexcept {
    return CryptBlocksOn<Encrypting, Word16>(keys, source, dest);
}
// CBC (Cfb false) or CFB decryption.
template <bool Cfb, typename W>
inline std::size_t DecryptChainedOn(const RoundKeys& keys, Word4& chain, ConstBytes source, Bytes dest) noexcept {
    if constexpr (Cfb)
        return DecryptCFBOn<W>(keys, chain, source, dest);
    else
        return DecryptCBCOn<W>(keys, chain, source, dest);
}
template <bool Cfb>
__attribute__((target("sse2"), flatten)) std::size_t DecryptChainedSse2(const RoundKeys& keys, Word4& chain,
                                                                        ConstBytes source, Bytes dest) noexcept {
    return DecryptChainedOn<Cfb, Word4>(keys, chain, source, dest);
}
template <bool Cfb>
__attribute__((target("avx2"), flatten)) std::size_t DecryptChainedAvx2(const RoundKeys& keys, Word4& chain,
                                                                        ConstBytes source, Bytes dest) noexcept {
    return DecryptChainedOn<Cfb, Word8>(keys, chain, source, dest);
}
template <bool Cfb>
__attribute__((target("avx512f"), flatten)) std::size_t DecryptChainedAvx512(const RoundKeys& keys, Word4& chain,
                                                                             ConstBytes source, Bytes dest) noexcept {
    return DecryptChainedOn<Cfb, Word16>(keys, chain, source, dest);
}
__attribute__((target("sse2"), flatten)) std::size_t EncryptCTRSse2(const RoundKeys& keys, std::uint64_t (&counter)[2],
                                                                    ConstBytes source, Bytes dest) noexcept {
    return EncryptCTROn<Word4>(keys, counter, source, dest);
}
__attribute__((target("avx2"), flatten)) std::size_t EncryptCTRAvx2(const RoundKeys& keys, std::uint64_t (&counter)[2],
                                                                    ConstBytes source, Bytes dest) noexcept {
    return EncryptCTROn<Word8>(keys, counter, source, dest);
}
__attribute__((target("avx512f"), flatten)) std::size_t EncryptCTRAvx512(const RoundKeys& keys,
                                                                         std::uint64_t (&counter)[2],
                                                                         ConstBytes source, Bytes dest) noexcept {
    return EncryptCTROn<Word16>(keys, counter, source, dest);
}
#endif

// CBC or CFB decryption on the vector path chosen at keying, both chained
// on the previous ciphertext block; returns the bytes done, the rest going
// to the portable code.
template <bool Cfb>
std::size_t DecryptChained(std::uint8_t path, const RoundKeys& keys, std::array<std::uint8_t, 16>& chain,
                           ConstBytes source, Bytes dest) noexcept {
    std::size_t done = 0;
#ifdef KESTRUNE_SERPENT_SIMD
    if (path != TKC_serpent::PathPortable) {
        Word4 previous;
        std::memcpy(&previous, chain.data(), 16);
        done = path == TKC_serpent::PathAvx512 ? DecryptChainedAvx512<Cfb>(keys, previous, source, dest)
               : path == TKC_serpent::PathAvx2 ? DecryptChainedAvx2<Cfb>(keys, previous, source, dest)
                                               : DecryptChainedSse2<Cfb>(keys, previous, source, dest);
        std::memcpy(chain.data(), &previous, 16);
    }
#else
    static_cast<void>(path), static_cast<void>(keys), static_cast<void>(chain), static_cast<void>(source),
        static_cast<void>(dest);
#endif
    return done;
}

// The groups on the path chosen at keying; what is left of them, on the
// portable code.
template <bool Encrypting>
void Crypt(std::uint8_t path, const RoundKeys& keys, ConstBytes source, Bytes dest) noexcept {
    std::size_t done = 0;
#ifdef KESTRUNE_SERPENT_SIMD
    if (path == TKC_serpent::PathAvx512)
        done = CryptAvx512<Encrypting>(keys, source, dest);
    else if (path == TKC_serpent::PathAvx2)
        done = CryptAvx2<Encrypting>(keys, source, dest);
    else if (path == TKC_serpent::PathSse2)
        done = CryptSse2<Encrypting>(keys, source, dest);
#else
    static_cast<void>(path);
#endif
    CryptPortable<Encrypting>(keys, source.subspan(done), dest.subspan(done));
}

// The serial modes run one block at a time, each waiting for the one
// before: their speed is the latency of the 32 rounds on one block. The
// chaining value stays in general registers, in block order, between
// blocks, and the rounds are unrolled whole so that the key words are
// fixed offsets. Each word is pinned to its register: left alone, the
// compiler moves the value through a vector register between blocks.
using Words = Planes<std::uint32_t>;

[[gnu::always_inline]] inline void Pin(Words& x) noexcept {
    KeepSum(x.x0), KeepSum(x.x1), KeepSum(x.x2), KeepSum(x.x3);
}

[[gnu::always_inline]] inline Words LoadWords(ConstBytes in) noexcept {
    Words x{LoadLE32(in), LoadLE32(in.subspan(4)), LoadLE32(in.subspan(8)), LoadLE32(in.subspan(12))};
    Pin(x);
    return x;
}

[[gnu::always_inline]] inline void StoreWords(Bytes out, const Words& x) noexcept {
    StoreLE32(out, x.x0), StoreLE32(out.subspan(4), x.x1), StoreLE32(out.subspan(8), x.x2);
    StoreLE32(out.subspan(12), x.x3);
}

[[gnu::always_inline]] inline Words operator^(Words a, const Words& b) noexcept {
    a.x0 ^= b.x0, a.x1 ^= b.x1, a.x2 ^= b.x2, a.x3 ^= b.x3;
    return a;
}

[[gnu::always_inline]] inline void WipeWords(Words& x) noexcept {
    x = {};
    Pin(x);
}

// Round R on one block whose words already hold its key: the S-box, then
// the linear transformation with the next round key mixed in. Words 0 and 2
// come out of it last, after a rotation; their key words go in before it,
// rotated the other way, where the other operands are still being made,
// and the key mixing leaves the chain from one S-box to the next.
template <int R = 0>
[[gnu::always_inline]] inline void SerialRounds(const RoundKeys& k, Words& x) noexcept {
    if constexpr (R < 32) {
        x.template SerialS<R % 8>();
        if constexpr (R == 31) {
            x.Mix(k[32]);
        } else {
            const auto& next = k[R + 1];
            Rotl<13>(x.x0), Rotl<3>(x.x2);
            x.x1 ^= x.x2, x.x3 ^= x.x2;
            x.x1 ^= x.x0, x.x3 ^= x.x0 << 3;
            Rotl<1>(x.x1), Rotl<7>(x.x3);
            std::uint32_t x0 = x.x0 ^ Ror32(next[0], 5), x2 = x.x2 ^ Ror32(next[2], 22);
            KeepSum(x0), KeepSum(x2);
            x0 ^= x.x1 ^ x.x3, x2 ^= x.x3 ^ (x.x1 << 7);
            x.x0 = Rol32(x0, 5), x.x2 = Rol32(x2, 22);
            x.x1 ^= next[1], x.x3 ^= next[3];
        }
        SerialRounds<R + 1>(k, x);
    }
}

[[gnu::always_inline]] inline Words EncryptWords(const RoundKeys& keys, Words x) noexcept {
    x.Mix(keys[0]);
    SerialRounds(keys, x);
    Pin(x);
    return x;
}

}  // namespace

void TKC_serpent::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    // Whole key bytes; a shorter key than 256 bits gets a 1 at bit keyBits
    // (a partial last byte is dropped first) and zeros above it.
    std::array<std::uint32_t, 140> w;  // every word written before it is read
    std::array<std::uint8_t, 32> padded{};
    std::copy_n(key.begin(), keyBits / 8, padded.begin());
    for (std::size_t i = 0; i < 8; ++i) w[i] = LoadLE32(ConstBytes(padded).subspan(4 * i));
    if (keyBits < 256) {
        std::uint32_t& word = w[keyBits / 32];
        const std::uint32_t bit = std::uint32_t{1} << (keyBits % 32);
        word = (word & (bit - 1)) | bit;
    }
    // Each prekey needs the one just made: it stays in a register rather
    // than making every step wait for its own store to come back, and is
    // xored in last, so that the chain is one xor and one rotation per step
    // (the compiler otherwise puts it first of five xors).
    std::uint32_t previous = w[7];
#pragma GCC unroll 132
    for (std::size_t i = 8; i < 140; ++i) {
        std::uint32_t others = w[i - 8] ^ w[i - 5] ^ w[i - 3] ^ 0x9E3779B9U ^ static_cast<std::uint32_t>(i - 8);
        KeepSum(others);
        previous = w[i] = Rol32(others ^ previous, 11);
    }
    // Round key i is S[(3 - i) mod 8] of four prekeys.
    const auto roundKey = [&]<int Box>(std::size_t i) {
        if (i > 32) return;
        Planes<std::uint32_t> p{w[8 + 4 * i], w[9 + 4 * i], w[10 + 4 * i], w[11 + 4 * i]};
        p.template S<Box>();
        RoundSubkeys[i] = {p.x0, p.x1, p.x2, p.x3};
    };
    for (std::size_t i = 0; i < 33; i += 8) {
        roundKey.operator()<3>(i);
        roundKey.operator()<2>(i + 1);
        roundKey.operator()<1>(i + 2);
        roundKey.operator()<0>(i + 3);
        roundKey.operator()<7>(i + 4);
        roundKey.operator()<6>(i + 5);
        roundKey.operator()<5>(i + 6);
        roundKey.operator()<4>(i + 7);
    }
    SecureZero(w);
    SecureZero(padded);
    ChoosePath();
}

void TKC_serpent::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    Crypt<true>(Path, RoundSubkeys, source, dest);
}

void TKC_serpent::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    Crypt<false>(Path, RoundSubkeys, source, dest);
}

void TKC_serpent::DecryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    const std::size_t done = DecryptChained<false>(Path, RoundSubkeys, chain, source, dest);
    TKC_blockcipher128::DecryptCBCBlocks(chain, source.subspan(done), dest.subspan(done));
}

void TKC_serpent::DecryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    const std::size_t done = DecryptChained<true>(Path, RoundSubkeys, chain, source, dest);
    TKC_blockcipher128::DecryptCFBBlocks(chain, source.subspan(done), dest.subspan(done));
}

void TKC_serpent::EncryptCTRBlocks(Block& counter, ConstBytes source, Bytes dest) const noexcept {
    std::size_t done = 0;
#ifdef KESTRUNE_SERPENT_SIMD
    if (Path != PathPortable) {
        std::uint64_t next[2] = {LoadBE64(counter), LoadBE64(ConstBytes(counter).subspan(8))};
        done = Path == PathAvx512 ? EncryptCTRAvx512(RoundSubkeys, next, source, dest)
               : Path == PathAvx2 ? EncryptCTRAvx2(RoundSubkeys, next, source, dest)
                                  : EncryptCTRSse2(RoundSubkeys, next, source, dest);
        StoreBE64(counter, next[0]), StoreBE64(Bytes(counter).subspan(8), next[1]);
    }
#endif
    TKC_blockcipher128::EncryptCTRBlocks(counter, source.subspan(done), dest.subspan(done));
}

[[gnu::flatten]] void TKC_serpent::EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    Words x = LoadWords(chain);
    for (std::size_t off = 0; off < source.size(); off += 16) {
        x = EncryptWords(RoundSubkeys, x ^ LoadWords(source.subspan(off, 16)));
        StoreWords(dest.subspan(off, 16), x);
    }
    StoreWords(chain, x);
    WipeWords(x);
}

[[gnu::flatten]] void TKC_serpent::EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    Words x = LoadWords(chain);
    for (std::size_t off = 0; off < source.size(); off += 16) {
        x = EncryptWords(RoundSubkeys, x) ^ LoadWords(source.subspan(off, 16));
        StoreWords(dest.subspan(off, 16), x);
    }
    StoreWords(chain, x);
    WipeWords(x);
}

[[gnu::flatten]] void TKC_serpent::EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    Words x = LoadWords(chain);
    for (std::size_t off = 0; off < source.size(); off += 16) {
        x = EncryptWords(RoundSubkeys, x);
        StoreWords(dest.subspan(off, 16), x ^ LoadWords(source.subspan(off, 16)));
    }
    StoreWords(chain, x);
    WipeWords(x);
}

[[gnu::flatten]] void TKC_serpent::EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    Words x = LoadWords(chain);
    for (std::size_t i = 0; i < source.size(); ++i) {
        const std::uint32_t c = source[i] ^ (EncryptWords(RoundSubkeys, x).x0 & 0xFF);
        dest[i] = static_cast<std::uint8_t>(c);
        // The register moves on by a byte: the first falls out, c comes in last.
        x = {(x.x0 >> 8) | (x.x1 << 24), (x.x1 >> 8) | (x.x2 << 24), (x.x2 >> 8) | (x.x3 << 24),
             (x.x3 >> 8) | (c << 24)};
    }
    StoreWords(chain, x);
    WipeWords(x);
}

bool TKC_serpent::SelfTest() {
    TKC_serpent cipher;
    const bool k128 = CheckBlockVector(cipher, tables::SerpentSelfTestKey1, tables::SerpentSelfTestPlain1,
                                       tables::SerpentSelfTestCipher1);
    const bool k192 = CheckBlockVector(cipher, tables::SerpentSelfTestKey2, tables::SerpentSelfTestPlain2,
                                       tables::SerpentSelfTestCipher2);
    const bool k256 = CheckBlockVector(cipher, tables::SerpentSelfTestKey3, tables::SerpentSelfTestPlain3,
                                       tables::SerpentSelfTestCipher3);
    return k128 && k192 && k256;
}

}  // namespace kestrune
