#include "KCrijndael.h"

#include <algorithm>

#include "../framework/KCcpufeatures.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KESTRUNE_AESNI 1
#endif

#include "KCrijndael_tables.inc"

namespace kestrune {
namespace {

// The portable path is bitsliced, so that no memory address and no branch
// depends on the key or the data (a table look-up per byte leaks both
// through the cache). Four blocks lie in eight 64-bit words: word i holds
// bit i of all 64 state bytes, byte (row, column) of block b at bit
// 16 * row + 4 * column + b. A row rotation is then a rotation of the word
// by 16 bits, and ShiftRows a rotation inside each 16-bit lane.
using Slices = std::array<std::uint64_t, 8>;

inline void SwapMove(std::uint64_t& a, std::uint64_t& b, std::uint64_t mask, unsigned n) noexcept {
    const std::uint64_t t = ((a >> n) ^ b) & mask;
    b ^= t;
    a ^= t << n;
}

// Bit i of byte m of word j trades places with bit j of byte m of word i.
// Its own inverse.
inline void Transpose(Slices& x) noexcept {
    for (std::size_t j = 0; j < 8; j += 2) SwapMove(x[j], x[j + 1], 0x5555555555555555, 1);
    for (std::size_t j : {0u, 1u, 4u, 5u}) SwapMove(x[j], x[j + 2], 0x3333333333333333, 2);
    for (std::size_t j = 0; j < 4; ++j) SwapMove(x[j], x[j + 4], 0x0F0F0F0F0F0F0F0F, 4);
}

// Bytes 0..3 and 4..7 of z interleaved (0 4 1 5 2 6 3 7), and back.
inline std::uint64_t Zip(std::uint64_t z) noexcept {
    std::uint64_t t = ((z >> 16) ^ z) & 0x00000000FFFF0000;
    z ^= t ^ (t << 16);
    t = ((z >> 8) ^ z) & 0x0000FF000000FF00;
    return z ^ t ^ (t << 8);
}

inline std::uint64_t Unzip(std::uint64_t z) noexcept {
    std::uint64_t t = ((z >> 8) ^ z) & 0x0000FF000000FF00;
    z ^= t ^ (t << 8);
    t = ((z >> 16) ^ z) & 0x00000000FFFF0000;
    return z ^ t ^ (t << 16);
}

// Word 4 * (column & 1) + b gets block b's columns 0 and 2 (or 1 and 3),
// row by row, so that the transposition lands each byte where the layout
// above wants it.
inline Slices Load4(const std::uint8_t* in) noexcept {
    Slices x;
    for (std::size_t b = 0; b < 4; ++b) {
        const std::uint64_t lo = LoadLE64(ConstBytes(in + 16 * b, 8)), hi = LoadLE64(ConstBytes(in + 16 * b + 8, 8));
        x[b] = Zip((lo & 0xFFFFFFFF) | (hi << 32));
        x[4 + b] = Zip((lo >> 32) | (hi & 0xFFFFFFFF00000000));
    }
    Transpose(x);
    return x;
}

inline void Store4(Slices x, std::uint8_t* out) noexcept {
    Transpose(x);
    for (std::size_t b = 0; b < 4; ++b) {
        const std::uint64_t even = Unzip(x[b]), odd = Unzip(x[4 + b]);
        StoreLE64(Bytes(out + 16 * b, 8), (even & 0xFFFFFFFF) | (odd << 32));
        StoreLE64(Bytes(out + 16 * b + 8, 8), (even >> 32) | (odd & 0xFFFFFFFF00000000));
    }
}

// The S-box as a circuit of 113 gates: the depth-16 circuit of Boyar and
// Peralta (a linear layer, the inversion in GF(2^8) through GF(2^4), a
// linear layer with the affine map). u0 is the most significant bit.
// Inlined, so that the planes stay in registers between the round's steps.
[[gnu::always_inline]] inline void SubBytes(Slices& q) noexcept {
    const std::uint64_t u0 = q[7], u1 = q[6], u2 = q[5], u3 = q[4], u4 = q[3], u5 = q[2], u6 = q[1], u7 = q[0];

    const std::uint64_t t1 = u0 ^ u3, t2 = u0 ^ u5, t3 = u0 ^ u6, t4 = u3 ^ u5, t5 = u4 ^ u6;
    const std::uint64_t t6 = t1 ^ t5, t7 = u1 ^ u2, t8 = u7 ^ t6, t9 = u7 ^ t7, t10 = t6 ^ t7;
    const std::uint64_t t11 = u1 ^ u5, t12 = u2 ^ u5, t13 = t3 ^ t4, t14 = t6 ^ t11, t15 = t5 ^ t11;
    const std::uint64_t t16 = t5 ^ t12, t17 = t9 ^ t16, t18 = u3 ^ u7, t19 = t7 ^ t18, t20 = t1 ^ t19;
    const std::uint64_t t21 = u6 ^ u7, t22 = t7 ^ t21, t23 = t2 ^ t22, t24 = t2 ^ t10, t25 = t20 ^ t17;
    const std::uint64_t t26 = t3 ^ t16, t27 = t1 ^ t12;

    const std::uint64_t m1 = t13 & t6, m2 = t23 & t8, m3 = t14 ^ m1, m4 = t19 & u7, m5 = m4 ^ m1;
    const std::uint64_t m6 = t3 & t16, m7 = t22 & t9, m8 = t26 ^ m6, m9 = t20 & t17, m10 = m9 ^ m6;
    const std::uint64_t m11 = t1 & t15, m12 = t4 & t27, m13 = m12 ^ m11, m14 = t2 & t10, m15 = m14 ^ m11;
    const std::uint64_t m16 = m3 ^ m2, m17 = m5 ^ t24, m18 = m8 ^ m7, m19 = m10 ^ m15, m20 = m16 ^ m13;
    const std::uint64_t m21 = m17 ^ m15, m22 = m18 ^ m13, m23 = m19 ^ t25, m24 = m22 ^ m23, m25 = m22 & m20;
    const std::uint64_t m26 = m21 ^ m25, m27 = m20 ^ m21, m28 = m23 ^ m25, m29 = m28 & m27, m30 = m26 & m24;
    const std::uint64_t m31 = m20 & m23, m32 = m27 & m31, m33 = m27 ^ m25, m34 = m21 & m22, m35 = m24 & m34;
    const std::uint64_t m36 = m24 ^ m25, m37 = m21 ^ m29, m38 = m32 ^ m33, m39 = m23 ^ m30, m40 = m35 ^ m36;
    const std::uint64_t m41 = m38 ^ m40, m42 = m37 ^ m39, m43 = m37 ^ m38, m44 = m39 ^ m40, m45 = m42 ^ m41;
    const std::uint64_t m46 = m44 & t6, m47 = m40 & t8, m48 = m39 & u7, m49 = m43 & t16, m50 = m38 & t9;
    const std::uint64_t m51 = m37 & t17, m52 = m42 & t15, m53 = m45 & t27, m54 = m41 & t10, m55 = m44 & t13;
    const std::uint64_t m56 = m40 & t23, m57 = m39 & t19, m58 = m43 & t3, m59 = m38 & t22, m60 = m37 & t20;
    const std::uint64_t m61 = m42 & t1, m62 = m45 & t4, m63 = m41 & t2;

    const std::uint64_t l0 = m61 ^ m62, l1 = m50 ^ m56, l2 = m46 ^ m48, l3 = m47 ^ m55, l4 = m54 ^ m58;
    const std::uint64_t l5 = m49 ^ m61, l6 = m62 ^ l5, l7 = m46 ^ l3, l8 = m51 ^ m59, l9 = m52 ^ m53;
    const std::uint64_t l10 = m53 ^ l4, l11 = m60 ^ l2, l12 = m48 ^ m51, l13 = m50 ^ l0, l14 = m52 ^ m61;
    const std::uint64_t l15 = m55 ^ l1, l16 = m56 ^ l0, l17 = m57 ^ l1, l18 = m58 ^ l8, l19 = m63 ^ l4;
    const std::uint64_t l20 = l0 ^ l1, l21 = l1 ^ l7, l22 = l3 ^ l12, l23 = l18 ^ l2, l24 = l15 ^ l9;
    const std::uint64_t l25 = l6 ^ l10, l26 = l7 ^ l9, l27 = l8 ^ l10, l28 = l11 ^ l14, l29 = l11 ^ l17;

    q[7] = l6 ^ l24;
    q[6] = ~(l16 ^ l26);
    q[5] = ~(l19 ^ l28);
    q[4] = l6 ^ l21;
    q[3] = l20 ^ l22;
    q[2] = l25 ^ l29;
    q[1] = ~(l13 ^ l27);
    q[0] = ~(l6 ^ l23);
}

// The inverse of the S-box's affine map (x <<< 1 ^ x <<< 3 ^ x <<< 6 ^ 0x05
// on each byte). Since S = A o inv, inv = A' o S, and the inverse S-box,
// inv o A', is A' o S o A': one circuit serves both directions.
inline void InvAffine(Slices& q) noexcept {
    const Slices x = q;
    #pragma GCC unroll 8
    for (std::size_t i = 0; i < 8; ++i) q[i] = x[(i + 7) % 8] ^ x[(i + 5) % 8] ^ x[(i + 2) % 8];
    q[0] = ~q[0];
    q[2] = ~q[2];
}

inline void InvSubBytes(Slices& q) noexcept {
    InvAffine(q);
    SubBytes(q);
    InvAffine(q);
}

// Row r moves left by r columns: its lane rotates right by 4r bits, done
// as a swap of bytes in the lanes of rows 2 and 3 (a rotation by 8), then
// a rotation by 4 in the lanes of rows 1 and 3.
inline std::uint64_t SwapRowBytes(std::uint64_t x) noexcept {
    const std::uint64_t t = ((x >> 8) ^ x) & 0x00FF00FF00000000;
    return x ^ t ^ (t << 8);
}

inline std::uint64_t ShiftRow(std::uint64_t x) noexcept {
    x = SwapRowBytes(x);
    return (x & 0x0000FFFF0000FFFF) | ((x >> 4) & 0x0FFF00000FFF0000) | ((x << 12) & 0xF0000000F0000000);
}

inline std::uint64_t InvShiftRow(std::uint64_t x) noexcept {
    x = SwapRowBytes(x);
    return (x & 0x0000FFFF0000FFFF) | ((x << 4) & 0xFFF00000FFF00000) | ((x >> 12) & 0x000F0000000F0000);
}

// Multiplication by x in GF(2^8) on every byte: a shift of the planes, the
// reduction by x^8 + x^4 + x^3 + x + 1 folding the top plane back in.
inline Slices Times2(const Slices& a) noexcept {
    return {a[7], a[0] ^ a[7], a[1], a[2] ^ a[7], a[3] ^ a[7], a[4], a[5], a[6]};
}

// out_r = 2 a_r + 3 a_r+1 + a_r+2 + a_r+3 = 2 t_r + a_r+1 + t_r+2, with
// t_r = a_r + a_r+1; row r + k is a rotation by 16k.
inline void MixColumns(Slices& q) noexcept {
    Slices t;
    #pragma GCC unroll 8
    for (std::size_t i = 0; i < 8; ++i) t[i] = q[i] ^ Ror64(q[i], 16);
    const Slices t2 = Times2(t);
    #pragma GCC unroll 8
    for (std::size_t i = 0; i < 8; ++i) q[i] = t2[i] ^ Ror64(q[i], 16) ^ Ror64(t[i], 32);
}

// InvMixColumns is MixColumns after the circulant (5, 0, 4, 0):
// a_r += 4 (a_r + a_r+2).
inline void InvMixColumns(Slices& q) noexcept {
    Slices t;
    #pragma GCC unroll 8
    for (std::size_t i = 0; i < 8; ++i) t[i] = q[i] ^ Ror64(q[i], 32);
    const Slices t4 = Times2(Times2(t));
    #pragma GCC unroll 8
    for (std::size_t i = 0; i < 8; ++i) q[i] ^= t4[i];
    MixColumns(q);
}

inline void AddRoundKey(Slices& q, const std::uint64_t* k) noexcept {
    #pragma GCC unroll 8
    for (std::size_t i = 0; i < 8; ++i) q[i] ^= k[i];
}

void Encrypt4(const std::uint64_t* sk, std::uint32_t rounds, Slices& q) noexcept {
    AddRoundKey(q, sk);
    for (std::uint32_t r = 1; r < rounds; ++r) {
        SubBytes(q);
        #pragma GCC unroll 8
        for (auto& w : q) w = ShiftRow(w);
        MixColumns(q);
        AddRoundKey(q, sk + 8 * r);
    }
    SubBytes(q);
    #pragma GCC unroll 8
    for (auto& w : q) w = ShiftRow(w);
    AddRoundKey(q, sk + 8 * rounds);
}

void Decrypt4(const std::uint64_t* sk, std::uint32_t rounds, Slices& q) noexcept {
    AddRoundKey(q, sk + 8 * rounds);
    for (std::uint32_t r = rounds - 1; r > 0; --r) {
        #pragma GCC unroll 8
        for (auto& w : q) w = InvShiftRow(w);
        InvSubBytes(q);
        AddRoundKey(q, sk + 8 * r);
        InvMixColumns(q);
    }
    #pragma GCC unroll 8
    for (auto& w : q) w = InvShiftRow(w);
    InvSubBytes(q);
    AddRoundKey(q, sk);
}

// Groups of four blocks; a last group of one to three is padded in a local
// buffer that is wiped afterwards.
template <bool Encrypting>
void CryptSliced(const std::uint64_t* sk, std::uint32_t rounds, ConstBytes source, Bytes dest) noexcept {
    const auto crypt = [&](const std::uint8_t* in, std::uint8_t* out) {
        Slices q = Load4(in);
        Encrypting ? Encrypt4(sk, rounds, q) : Decrypt4(sk, rounds, q);
        Store4(q, out);
        SecureZero(q);
    };
    const std::size_t whole = source.size() / 64 * 64;
    for (std::size_t off = 0; off < whole; off += 64) crypt(source.data() + off, dest.data() + off);
    if (whole == source.size()) return;
    std::array<std::uint8_t, 64> group{};
    const std::size_t rest = source.size() - whole;
    std::copy_n(source.data() + whole, rest, group.data());
    crypt(group.data(), group.data());
    std::copy_n(group.data(), rest, dest.data() + whole);
    SecureZero(group);
}

// SubWord for the key expansion through the same circuit: the word's four
// bytes become byte lanes 0..3 of the planes by one transposition, and
// come back by another.
std::uint32_t SubWord(std::uint32_t w) noexcept {
    Slices q{w};
    Transpose(q);
    SubBytes(q);
    Transpose(q);
    const auto out = static_cast<std::uint32_t>(q[0]);
    SecureZero(q);
    return out;
}

// Each round key in the sliced layout, the same for all four blocks: four
// round keys are sliced at once as if they were four blocks, then block
// b's bits are spread over the other three.
void SliceRoundKeys(const std::uint32_t* rk, std::uint32_t rounds, std::uint64_t* sk) noexcept {
    std::array<std::uint8_t, 64> keys;
    for (std::uint32_t first = 0; first <= rounds; first += 4) {
        const std::uint32_t count = std::min<std::uint32_t>(4, rounds + 1 - first);
        keys.fill(0);
        for (std::size_t i = 0; i < 4 * count; ++i) StoreLE32(Bytes(keys).subspan(4 * i, 4), rk[4 * first + i]);
        Slices q = Load4(keys.data());
        for (std::uint32_t b = 0; b < count; ++b)
            for (std::size_t i = 0; i < 8; ++i) sk[8 * (first + b) + i] = ((q[i] >> b) & 0x1111111111111111) * 0xF;
        SecureZero(q);
    }
    SecureZero(keys);
}

#ifdef KESTRUNE_AESNI
// The AES instructions take round keys as the 16 state bytes in FIPS-197
// order, which is how the key words lie in memory on this little-endian
// processor family. Eight blocks at a time keep the pipelined unit busy.
#define KESTRUNE_AES_TARGET __attribute__((target("aes,sse4.1")))

template <bool Encrypting>
KESTRUNE_AES_TARGET inline __m128i Round(__m128i x, __m128i k) noexcept {
    if constexpr (Encrypting) return _mm_aesenc_si128(x, k);
    else return _mm_aesdec_si128(x, k);
}

template <bool Encrypting>
KESTRUNE_AES_TARGET inline __m128i LastRound(__m128i x, __m128i k) noexcept {
    if constexpr (Encrypting) return _mm_aesenclast_si128(x, k);
    else return _mm_aesdeclast_si128(x, k);
}

KESTRUNE_AES_TARGET inline __m128i LoadBlock(const std::uint8_t* p) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

KESTRUNE_AES_TARGET inline void StoreBlock(std::uint8_t* p, __m128i x) noexcept {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), x);
}

// Key expansion with AESKEYGENASSIST for 128- and 256-bit keys (the round
// constant is an immediate, so the rounds are spelt out); the bytes are
// those of the word-by-word expansion.
KESTRUNE_AES_TARGET inline __m128i ExpandStep(__m128i key, __m128i assist) noexcept {
    // The running xor of the four words in two shifts (by one word, then by
    // two) rather than three: the expansion is one chain through the rounds.
    key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
    key = _mm_xor_si128(key, _mm_slli_si128(key, 8));
    // Whole before the assist joins it: reassociated, the compiler put two
    // xors after the assist on the chain instead of one.
    asm("" : "+x"(key));
    return _mm_xor_si128(key, assist);
}

template <int Rcon>
KESTRUNE_AES_TARGET inline __m128i Next128(__m128i key) noexcept {
    return ExpandStep(key, _mm_shuffle_epi32(_mm_aeskeygenassist_si128(key, Rcon), 0xFF));
}

// The expansions hand each round key, in order, to put(r, k), which stores
// it in both schedules. No target of their own: they take the caller's, the
// 128-bit one's or the VAES one's that stores in pairs.
template <typename Put>
[[gnu::always_inline]] inline void Expand128(const std::uint8_t* key, Put&& put) noexcept {
    __m128i k = LoadBlock(key);
    put(0, k);
    put(1, k = Next128<0x01>(k));
    put(2, k = Next128<0x02>(k));
    put(3, k = Next128<0x04>(k));
    put(4, k = Next128<0x08>(k));
    put(5, k = Next128<0x10>(k));
    put(6, k = Next128<0x20>(k));
    put(7, k = Next128<0x40>(k));
    put(8, k = Next128<0x80>(k));
    put(9, k = Next128<0x1B>(k));
    put(10, Next128<0x36>(k));
}

// The next pair of 256-bit round keys: RotWord+SubWord+Rcon from the odd
// half, then SubWord alone from the new even half.
template <int Rcon>
KESTRUNE_AES_TARGET inline __m128i NextEven256(__m128i even, __m128i odd) noexcept {
    return ExpandStep(even, _mm_shuffle_epi32(_mm_aeskeygenassist_si128(odd, Rcon), 0xFF));
}

KESTRUNE_AES_TARGET inline __m128i NextOdd256(__m128i even, __m128i odd) noexcept {
    return ExpandStep(odd, _mm_shuffle_epi32(_mm_aeskeygenassist_si128(even, 0), 0xAA));
}

template <typename Put>
[[gnu::always_inline]] inline void Expand256(const std::uint8_t* key, Put&& put) noexcept {
    __m128i even = LoadBlock(key), odd = LoadBlock(key + 16);
    put(0, even);
    put(1, odd);
    put(2, even = NextEven256<0x01>(even, odd));
    put(3, odd = NextOdd256(even, odd));
    put(4, even = NextEven256<0x02>(even, odd));
    put(5, odd = NextOdd256(even, odd));
    put(6, even = NextEven256<0x04>(even, odd));
    put(7, odd = NextOdd256(even, odd));
    put(8, even = NextEven256<0x08>(even, odd));
    put(9, odd = NextOdd256(even, odd));
    put(10, even = NextEven256<0x10>(even, odd));
    put(11, odd = NextOdd256(even, odd));
    put(12, even = NextEven256<0x20>(even, odd));
    put(13, odd = NextOdd256(even, odd));
    put(14, NextEven256<0x40>(even, odd));
}

// Round key r goes to the encryption schedule and, from the same register,
// to the decryption one (AESIMC on the middle keys): the AESIMCs fill the
// gaps in the expansion's chain instead of running after it.
template <std::uint32_t Rounds>
struct PutRoundKeys {
    std::uint32_t* enc;
    std::uint32_t* dec;
    KESTRUNE_AES_TARGET void operator()(std::uint32_t r, __m128i k) const noexcept {
        _mm_store_si128(reinterpret_cast<__m128i*>(enc) + r, k);
        _mm_store_si128(reinterpret_cast<__m128i*>(dec) + (Rounds - r), r == 0 || r == Rounds ? k : _mm_aesimc_si128(k));
    }
};

KESTRUNE_AES_TARGET void ExpandKey128(const std::uint8_t* key, std::uint32_t* enc, std::uint32_t* dec) noexcept {
    Expand128(key, PutRoundKeys<10>{enc, dec});
}

KESTRUNE_AES_TARGET void ExpandKey256(const std::uint8_t* key, std::uint32_t* enc, std::uint32_t* dec) noexcept {
    Expand256(key, PutRoundKeys<14>{enc, dec});
}

// The equivalent inverse cipher's round keys, in decryption order: the middle
// ones take one AESIMC each.
KESTRUNE_AES_TARGET void InverseRoundKeys(const std::uint32_t* enc, std::uint32_t* dec, std::uint32_t rounds) noexcept {
    const std::size_t last = 4 * rounds;
    _mm_store_si128(reinterpret_cast<__m128i*>(dec), _mm_load_si128(reinterpret_cast<const __m128i*>(enc + last)));
    _mm_store_si128(reinterpret_cast<__m128i*>(dec + last), _mm_load_si128(reinterpret_cast<const __m128i*>(enc)));
    for (std::size_t r = 1; r < rounds; ++r)
        _mm_store_si128(reinterpret_cast<__m128i*>(dec + 4 * r),
                        _mm_aesimc_si128(_mm_load_si128(reinterpret_cast<const __m128i*>(enc + last - 4 * r))));
}

// CBC encryption is one chain of dependent blocks: the chain never leaves
// its register, so each block costs the rounds' latency and nothing else.
// The middle rounds of eight blocks at once, each round key loaded once.
template <bool Encrypting>
KESTRUNE_AES_TARGET inline void MiddleRounds8(const __m128i* rk, std::uint32_t rounds, __m128i& b0, __m128i& b1,
                                              __m128i& b2, __m128i& b3, __m128i& b4, __m128i& b5, __m128i& b6,
                                              __m128i& b7) noexcept {
    for (std::uint32_t r = 1; r < rounds; ++r) {
        const __m128i k = _mm_load_si128(rk + r);
        b0 = Round<Encrypting>(b0, k), b1 = Round<Encrypting>(b1, k);
        b2 = Round<Encrypting>(b2, k), b3 = Round<Encrypting>(b3, k);
        b4 = Round<Encrypting>(b4, k), b5 = Round<Encrypting>(b5, k);
        b6 = Round<Encrypting>(b6, k), b7 = Round<Encrypting>(b7, k);
    }
}

template <bool Encrypting>
KESTRUNE_AES_TARGET void CryptHardware(const std::uint32_t* keys, std::uint32_t rounds, ConstBytes source,
                                       Bytes dest) noexcept {
    // The round keys are 16-byte aligned in the instance and are read in place.
    const auto* rk = reinterpret_cast<const __m128i*>(keys);
    const std::uint8_t* in = source.data();
    std::uint8_t* out = dest.data();
    std::size_t blocks = source.size() / 16;
    for (; blocks >= 8; blocks -= 8, in += 128, out += 128) {
        __m128i k = _mm_load_si128(rk);
        __m128i b0 = _mm_xor_si128(LoadBlock(in), k), b1 = _mm_xor_si128(LoadBlock(in + 16), k);
        __m128i b2 = _mm_xor_si128(LoadBlock(in + 32), k), b3 = _mm_xor_si128(LoadBlock(in + 48), k);
        __m128i b4 = _mm_xor_si128(LoadBlock(in + 64), k), b5 = _mm_xor_si128(LoadBlock(in + 80), k);
        __m128i b6 = _mm_xor_si128(LoadBlock(in + 96), k), b7 = _mm_xor_si128(LoadBlock(in + 112), k);
        MiddleRounds8<Encrypting>(rk, rounds, b0, b1, b2, b3, b4, b5, b6, b7);
        k = _mm_load_si128(rk + rounds);
        StoreBlock(out, LastRound<Encrypting>(b0, k)), StoreBlock(out + 16, LastRound<Encrypting>(b1, k));
        StoreBlock(out + 32, LastRound<Encrypting>(b2, k)), StoreBlock(out + 48, LastRound<Encrypting>(b3, k));
        StoreBlock(out + 64, LastRound<Encrypting>(b4, k)), StoreBlock(out + 80, LastRound<Encrypting>(b5, k));
        StoreBlock(out + 96, LastRound<Encrypting>(b6, k)), StoreBlock(out + 112, LastRound<Encrypting>(b7, k));
    }
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        __m128i x = _mm_xor_si128(LoadBlock(in), _mm_load_si128(rk));
        for (std::uint32_t r = 1; r < rounds; ++r) x = Round<Encrypting>(x, _mm_load_si128(rk + r));
        StoreBlock(out, LastRound<Encrypting>(x, _mm_load_si128(rk + rounds)));
    }
}

// The last round runs twice from the same state: once with the last round
// key for the output, once with that key combined with the first round key
// and the next plaintext for the next block's input, so no XOR lies on the
// chain between one block's rounds and the next's.
KESTRUNE_AES_TARGET void EncryptCBCHardware(const std::uint32_t* keys, std::uint32_t rounds, std::uint8_t* chain,
                                            ConstBytes source, Bytes dest) noexcept {
    if (source.empty()) return;
    const auto* rk = reinterpret_cast<const __m128i*>(keys);
    const __m128i first = _mm_load_si128(rk), last = _mm_load_si128(rk + rounds);
    const __m128i lastFirst = _mm_xor_si128(last, first);
    __m128i c = LoadBlock(chain);
    __m128i x = _mm_xor_si128(c, _mm_xor_si128(LoadBlock(source.data()), first));
    for (std::size_t off = 0; off < source.size(); off += 16) {
        for (std::uint32_t r = 1; r < rounds; ++r) x = _mm_aesenc_si128(x, _mm_load_si128(rk + r));
        c = _mm_aesenclast_si128(x, last);
        StoreBlock(dest.data() + off, c);
        if (off + 16 < source.size())
            x = _mm_aesenclast_si128(x, _mm_xor_si128(lastFirst, LoadBlock(source.data() + off + 16)));
    }
    StoreBlock(chain, c);
}

// Eight blocks are loaded before any is stored, so that in-place buffers
// keep the ciphertext each output needs. The previous ciphertext block is
// folded into the last round key: aesdeclast(x, k) ^ c = aesdeclast(x, k ^ c).
KESTRUNE_AES_TARGET void DecryptCBCHardware(const std::uint32_t* keys, std::uint32_t rounds, std::uint8_t* chain,
                                            ConstBytes source, Bytes dest) noexcept {
    const auto* rk = reinterpret_cast<const __m128i*>(keys);
    const __m128i first = _mm_load_si128(rk), last = _mm_load_si128(rk + rounds);
    const std::uint8_t* in = source.data();
    std::uint8_t* out = dest.data();
    std::size_t blocks = source.size() / 16;
    __m128i prev = LoadBlock(chain);
    for (; blocks >= 8; blocks -= 8, in += 128, out += 128) {
        const __m128i c0 = LoadBlock(in), c1 = LoadBlock(in + 16), c2 = LoadBlock(in + 32), c3 = LoadBlock(in + 48);
        const __m128i c4 = LoadBlock(in + 64), c5 = LoadBlock(in + 80), c6 = LoadBlock(in + 96), c7 = LoadBlock(in + 112);
        __m128i b0 = _mm_xor_si128(c0, first), b1 = _mm_xor_si128(c1, first);
        __m128i b2 = _mm_xor_si128(c2, first), b3 = _mm_xor_si128(c3, first);
        __m128i b4 = _mm_xor_si128(c4, first), b5 = _mm_xor_si128(c5, first);
        __m128i b6 = _mm_xor_si128(c6, first), b7 = _mm_xor_si128(c7, first);
        MiddleRounds8<false>(rk, rounds, b0, b1, b2, b3, b4, b5, b6, b7);
        StoreBlock(out, _mm_aesdeclast_si128(b0, _mm_xor_si128(last, prev)));
        StoreBlock(out + 16, _mm_aesdeclast_si128(b1, _mm_xor_si128(last, c0)));
        StoreBlock(out + 32, _mm_aesdeclast_si128(b2, _mm_xor_si128(last, c1)));
        StoreBlock(out + 48, _mm_aesdeclast_si128(b3, _mm_xor_si128(last, c2)));
        StoreBlock(out + 64, _mm_aesdeclast_si128(b4, _mm_xor_si128(last, c3)));
        StoreBlock(out + 80, _mm_aesdeclast_si128(b5, _mm_xor_si128(last, c4)));
        StoreBlock(out + 96, _mm_aesdeclast_si128(b6, _mm_xor_si128(last, c5)));
        StoreBlock(out + 112, _mm_aesdeclast_si128(b7, _mm_xor_si128(last, c6)));
        prev = c7;
    }
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        const __m128i c = LoadBlock(in);
        __m128i x = _mm_xor_si128(c, first);
        for (std::uint32_t r = 1; r < rounds; ++r) x = _mm_aesdec_si128(x, _mm_load_si128(rk + r));
        StoreBlock(out, _mm_aesdeclast_si128(x, _mm_xor_si128(last, prev)));
        prev = c;
    }
    StoreBlock(chain, prev);
}

// The counter, a big-endian 128-bit number, is held as two native halves;
// a counter block is their byte reversal. Eight counters are made in
// registers, encrypted and combined with the input in one pass, so no
// keystream ever reaches memory.
KESTRUNE_AES_TARGET void EncryptCTRHardware(const std::uint32_t* keys, std::uint32_t rounds, std::uint8_t* counter,
                                            ConstBytes source, Bytes dest) noexcept {
    const auto* rk = reinterpret_cast<const __m128i*>(keys);
    const __m128i first = _mm_load_si128(rk), last = _mm_load_si128(rk + rounds);
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    std::uint64_t high = LoadBE64(ConstBytes(counter, 8)), low = LoadBE64(ConstBytes(counter + 8, 8));
    // The counter block for (high, low); then the counter moves on by one.
    const auto next = [&]() KESTRUNE_AES_TARGET {
        const __m128i block = _mm_shuffle_epi8(
            _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low)), reverse);
        if (++low == 0) ++high;
        return block;
    };
    const std::uint8_t* in = source.data();
    std::uint8_t* out = dest.data();
    std::size_t blocks = source.size() / 16;
    for (; blocks >= 8; blocks -= 8, in += 128, out += 128) {
        __m128i b0, b1, b2, b3, b4, b5, b6, b7;
        if (low <= ~std::uint64_t{0} - 8) {
            // No carry into the high half within these eight: add in the register.
            const __m128i base = _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
            const auto plus = [&](int n) KESTRUNE_AES_TARGET {
                return _mm_xor_si128(_mm_shuffle_epi8(_mm_add_epi64(base, _mm_set_epi64x(0, n)), reverse), first);
            };
            b0 = plus(0), b1 = plus(1), b2 = plus(2), b3 = plus(3), b4 = plus(4), b5 = plus(5), b6 = plus(6);
            b7 = plus(7);
            low += 8;
        } else {
            b0 = _mm_xor_si128(next(), first), b1 = _mm_xor_si128(next(), first);
            b2 = _mm_xor_si128(next(), first), b3 = _mm_xor_si128(next(), first);
            b4 = _mm_xor_si128(next(), first), b5 = _mm_xor_si128(next(), first);
            b6 = _mm_xor_si128(next(), first), b7 = _mm_xor_si128(next(), first);
        }
        MiddleRounds8<true>(rk, rounds, b0, b1, b2, b3, b4, b5, b6, b7);
        // aesenclast(x, k) ^ p = aesenclast(x, k ^ p): the input joins the last round key.
        StoreBlock(out, _mm_aesenclast_si128(b0, _mm_xor_si128(last, LoadBlock(in))));
        StoreBlock(out + 16, _mm_aesenclast_si128(b1, _mm_xor_si128(last, LoadBlock(in + 16))));
        StoreBlock(out + 32, _mm_aesenclast_si128(b2, _mm_xor_si128(last, LoadBlock(in + 32))));
        StoreBlock(out + 48, _mm_aesenclast_si128(b3, _mm_xor_si128(last, LoadBlock(in + 48))));
        StoreBlock(out + 64, _mm_aesenclast_si128(b4, _mm_xor_si128(last, LoadBlock(in + 64))));
        StoreBlock(out + 80, _mm_aesenclast_si128(b5, _mm_xor_si128(last, LoadBlock(in + 80))));
        StoreBlock(out + 96, _mm_aesenclast_si128(b6, _mm_xor_si128(last, LoadBlock(in + 96))));
        StoreBlock(out + 112, _mm_aesenclast_si128(b7, _mm_xor_si128(last, LoadBlock(in + 112))));
    }
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        __m128i x = _mm_xor_si128(next(), first);
        for (std::uint32_t r = 1; r < rounds; ++r) x = _mm_aesenc_si128(x, _mm_load_si128(rk + r));
        StoreBlock(out, _mm_aesenclast_si128(x, _mm_xor_si128(last, LoadBlock(in))));
    }
    StoreBE64(Bytes(counter, 8), high);
    StoreBE64(Bytes(counter + 8, 8), low);
}

// CFB and OFB encryption are chains like CBC: the chaining value stays in a
// register. The plaintext joins CFB's last round key, as in CTR.
// CFB-8 encryption: the shift register never leaves its register, each
// ciphertext byte shifted in as the next block encryption starts.
KESTRUNE_AES_TARGET void EncryptCFB8Hardware(const std::uint32_t* keys, std::uint32_t rounds, std::uint8_t* chain,
                                             ConstBytes source, Bytes dest) noexcept {
    const auto* rk = reinterpret_cast<const __m128i*>(keys);
    const __m128i first = _mm_load_si128(rk), last = _mm_load_si128(rk + rounds);
    __m128i shift = LoadBlock(chain);
    for (std::size_t i = 0; i < source.size(); ++i) {
        __m128i x = _mm_xor_si128(shift, first);
        for (std::uint32_t r = 1; r < rounds; ++r) x = _mm_aesenc_si128(x, _mm_load_si128(rk + r));
        x = _mm_aesenclast_si128(x, last);
        const auto c = static_cast<std::uint8_t>(source[i] ^ static_cast<std::uint8_t>(_mm_cvtsi128_si32(x)));
        dest[i] = c;
        shift = _mm_insert_epi8(_mm_srli_si128(shift, 1), c, 15);
    }
    StoreBlock(chain, shift);
}

KESTRUNE_AES_TARGET void EncryptCFBHardware(const std::uint32_t* keys, std::uint32_t rounds, std::uint8_t* chain,
                                            ConstBytes source, Bytes dest) noexcept {
    if (source.empty()) return;
    const auto* rk = reinterpret_cast<const __m128i*>(keys);
    const __m128i first = _mm_load_si128(rk), last = _mm_load_si128(rk + rounds);
    __m128i c = LoadBlock(chain);
    __m128i x = _mm_xor_si128(c, first);
    for (std::size_t off = 0; off < source.size(); off += 16) {
        for (std::uint32_t r = 1; r < rounds; ++r) x = _mm_aesenc_si128(x, _mm_load_si128(rk + r));
        // As in CBC, the next input comes from the same state as the output.
        const __m128i k = _mm_xor_si128(last, LoadBlock(source.data() + off));
        c = _mm_aesenclast_si128(x, k);
        x = _mm_aesenclast_si128(x, _mm_xor_si128(k, first));
        StoreBlock(dest.data() + off, c);
    }
    StoreBlock(chain, c);
}

// OFB as CBC: the next input comes from the same state as the output,
// through the last round key combined with the first.
KESTRUNE_AES_TARGET void EncryptOFBHardware(const std::uint32_t* keys, std::uint32_t rounds, std::uint8_t* chain,
                                            ConstBytes source, Bytes dest) noexcept {
    const auto* rk = reinterpret_cast<const __m128i*>(keys);
    const __m128i first = _mm_load_si128(rk), last = _mm_load_si128(rk + rounds);
    const __m128i lastFirst = _mm_xor_si128(last, first);
    __m128i stream = LoadBlock(chain);
    __m128i x = _mm_xor_si128(stream, first);
    for (std::size_t off = 0; off < source.size(); off += 16) {
        for (std::uint32_t r = 1; r < rounds; ++r) x = _mm_aesenc_si128(x, _mm_load_si128(rk + r));
        stream = _mm_aesenclast_si128(x, last);
        x = _mm_aesenclast_si128(x, lastFirst);
        StoreBlock(dest.data() + off, _mm_xor_si128(stream, LoadBlock(source.data() + off)));
    }
    StoreBlock(chain, stream);
}

// CFB decryption encrypts the previous ciphertext blocks, all known: eight
// at a time like CBC decryption, the ciphertext joining the last round key.
// Every input is loaded before any output of the eight is stored.
KESTRUNE_AES_TARGET void DecryptCFBHardware(const std::uint32_t* keys, std::uint32_t rounds, std::uint8_t* chain,
                                            ConstBytes source, Bytes dest) noexcept {
    const auto* rk = reinterpret_cast<const __m128i*>(keys);
    const __m128i first = _mm_load_si128(rk), last = _mm_load_si128(rk + rounds);
    const std::uint8_t* in = source.data();
    std::uint8_t* out = dest.data();
    std::size_t blocks = source.size() / 16;
    __m128i prev = LoadBlock(chain);
    for (; blocks >= 8; blocks -= 8, in += 128, out += 128) {
        const __m128i c0 = LoadBlock(in), c1 = LoadBlock(in + 16), c2 = LoadBlock(in + 32), c3 = LoadBlock(in + 48);
        const __m128i c4 = LoadBlock(in + 64), c5 = LoadBlock(in + 80), c6 = LoadBlock(in + 96), c7 = LoadBlock(in + 112);
        __m128i b0 = _mm_xor_si128(prev, first), b1 = _mm_xor_si128(c0, first);
        __m128i b2 = _mm_xor_si128(c1, first), b3 = _mm_xor_si128(c2, first);
        __m128i b4 = _mm_xor_si128(c3, first), b5 = _mm_xor_si128(c4, first);
        __m128i b6 = _mm_xor_si128(c5, first), b7 = _mm_xor_si128(c6, first);
        MiddleRounds8<true>(rk, rounds, b0, b1, b2, b3, b4, b5, b6, b7);
        StoreBlock(out, _mm_aesenclast_si128(b0, _mm_xor_si128(last, c0)));
        StoreBlock(out + 16, _mm_aesenclast_si128(b1, _mm_xor_si128(last, c1)));
        StoreBlock(out + 32, _mm_aesenclast_si128(b2, _mm_xor_si128(last, c2)));
        StoreBlock(out + 48, _mm_aesenclast_si128(b3, _mm_xor_si128(last, c3)));
        StoreBlock(out + 64, _mm_aesenclast_si128(b4, _mm_xor_si128(last, c4)));
        StoreBlock(out + 80, _mm_aesenclast_si128(b5, _mm_xor_si128(last, c5)));
        StoreBlock(out + 96, _mm_aesenclast_si128(b6, _mm_xor_si128(last, c6)));
        StoreBlock(out + 112, _mm_aesenclast_si128(b7, _mm_xor_si128(last, c7)));
        prev = c7;
    }
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        const __m128i c = LoadBlock(in);
        __m128i x = _mm_xor_si128(prev, first);
        for (std::uint32_t r = 1; r < rounds; ++r) x = _mm_aesenc_si128(x, _mm_load_si128(rk + r));
        StoreBlock(out, _mm_aesenclast_si128(x, _mm_xor_si128(last, c)));
        prev = c;
    }
    StoreBlock(chain, prev);
}

// With VAES one instruction runs the round on two blocks, one in each half
// of a 256-bit register: twelve registers keep 24 blocks in flight. The
// functions take the groups of 24 and 16 and leave the rest of the blocks to
// the 128-bit paths above, after clearing the upper halves: those paths and
// the code that called are compiled without AVX, and legacy SSE
// instructions run several times slower while the upper halves hold data.
#define KESTRUNE_VAES_TARGET __attribute__((target("vaes,avx2,aes,sse4.1")))

KESTRUNE_VAES_TARGET inline __m256i Key2(const __m128i* rk, std::uint32_t r) noexcept {
    return _mm256_broadcastsi128_si256(_mm_load_si128(rk + r));
}

KESTRUNE_VAES_TARGET inline __m256i Load2(const std::uint8_t* p) noexcept {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

KESTRUNE_VAES_TARGET inline void Store2(std::uint8_t* p, __m256i x) noexcept {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), x);
}

// The round keys as the group reads them. Passed through an empty asm once
// per group, so that each key is broadcast by a load from the schedule:
// kept in xmm registers instead, the compiler broadcasts them with shuffles
// that take the ports the AES instructions need.
KESTRUNE_VAES_TARGET inline const __m128i* GroupKeys(const __m128i* rk) noexcept {
    asm("" : "+r"(rk));
    return rk;
}

// The middle rounds of a group, round 0 already applied, unrolled: the
// chains at the instruction's latency times its rate leave no slack for a
// loop's register moves.
template <bool Encrypting, std::uint32_t Rounds, std::size_t N>
KESTRUNE_VAES_TARGET inline void MiddleRounds(const __m128i* rk, __m256i (&b)[N]) noexcept {
#pragma GCC unroll 14
    for (std::uint32_t r = 1; r < Rounds; ++r) {
        const __m256i k = Key2(rk, r);
#pragma GCC unroll 12
        for (std::size_t i = 0; i < N; ++i)
            b[i] = Encrypting ? _mm256_aesenc_epi128(b[i], k) : _mm256_aesdec_epi128(b[i], k);
    }
}

// Runs f with the round count as a constant, so that each key size gets
// its own straight-line groups.
template <typename F>
KESTRUNE_VAES_TARGET inline void WithRounds(std::uint32_t rounds, F&& f) noexcept {
    if (rounds == 10) f(std::integral_constant<std::uint32_t, 10>{});
    else if (rounds == 12) f(std::integral_constant<std::uint32_t, 12>{});
    else f(std::integral_constant<std::uint32_t, 14>{});
}

// The modes below run groups of N registers (2N blocks): first twelve
// registers, which leave the instruction's pipeline room to fill the start
// and end of each group (eight, exactly its latency times its rate, left
// it idle there), then eight for the last sixteen to twenty-three blocks
// (a run of sixteen, as CFB-8 decryption hands over, among them). When 32
// to 39 blocks are left, two groups of sixteen do better than one of 24
// and eight blocks on the 128-bit path at half the rate. in, out and left
// move past what was done.
struct WideRun {
    const std::uint8_t* in;
    std::uint8_t* out;
    std::size_t left;  // bytes

    template <std::size_t N>
    bool Next() const noexcept {
        if constexpr (N == 12) return left >= 16 * 40 || (left >= 16 * 24 && left < 16 * 32);
        return left >= 32 * N;
    }
    template <std::size_t N>
    void Advance() noexcept { in += 32 * N, out += 32 * N, left -= 32 * N; }
};

template <bool Encrypting, std::uint32_t Rounds, std::size_t N>
KESTRUNE_VAES_TARGET inline void CryptGroups(const std::uint32_t* keys, WideRun& run) noexcept {
    for (; run.Next<N>(); run.Advance<N>()) {
        const __m128i* rk = GroupKeys(reinterpret_cast<const __m128i*>(keys));
        const __m256i first = Key2(rk, 0);
        __m256i b[N];
#pragma GCC unroll 12
        for (std::size_t i = 0; i < N; ++i) b[i] = _mm256_xor_si256(Load2(run.in + 32 * i), first);
        MiddleRounds<Encrypting, Rounds>(rk, b);
        const __m256i last = Key2(rk, Rounds);
#pragma GCC unroll 12
        for (std::size_t i = 0; i < N; ++i)
            Store2(run.out + 32 * i, Encrypting ? _mm256_aesenclast_epi128(b[i], last) : _mm256_aesdeclast_epi128(b[i], last));
    }
}

template <bool Encrypting>
KESTRUNE_VAES_TARGET void CryptWide(const std::uint32_t* keys, std::uint32_t rounds, ConstBytes source,
                                    Bytes dest) noexcept {
    WideRun run{source.data(), dest.data(), source.size()};
    WithRounds(rounds, [&](auto r) KESTRUNE_VAES_TARGET {
        CryptGroups<Encrypting, decltype(r)::value, 12>(keys, run);
        CryptGroups<Encrypting, decltype(r)::value, 8>(keys, run);
    });
    _mm256_zeroupper();
    CryptHardware<Encrypting>(keys, rounds, ConstBytes(run.in, run.left), Bytes(run.out, run.left));
}

// The ciphertext block before each pair: (chain, c0) for the first, then
// the unaligned pair that starts a block earlier.
KESTRUNE_VAES_TARGET inline __m256i PreviousPair(const std::uint8_t* in, std::size_t i, __m128i prev) noexcept {
    return i == 0 ? _mm256_inserti128_si256(_mm256_castsi128_si256(prev), LoadBlock(in), 1) : Load2(in + 32 * i - 16);
}

// Outputs are stored from the last pair back, so that in place the
// ciphertext each earlier pair still needs is not yet overwritten.
template <std::uint32_t Rounds, std::size_t N>
KESTRUNE_VAES_TARGET inline void DecryptCBCGroups(const std::uint32_t* keys, WideRun& run, __m128i& prev) noexcept {
    for (; run.Next<N>(); run.Advance<N>()) {
        const __m128i* rk = GroupKeys(reinterpret_cast<const __m128i*>(keys));
        const __m256i first = Key2(rk, 0);
        __m256i b[N];
#pragma GCC unroll 12
        for (std::size_t i = 0; i < N; ++i) b[i] = _mm256_xor_si256(Load2(run.in + 32 * i), first);
        const __m128i next = LoadBlock(run.in + 32 * N - 16);
        MiddleRounds<false, Rounds>(rk, b);
        const __m256i last = Key2(rk, Rounds);
#pragma GCC unroll 12
        for (std::size_t j = 0; j < N; ++j) {
            const std::size_t i = N - 1 - j;
            Store2(run.out + 32 * i,
                   _mm256_aesdeclast_epi128(b[i], _mm256_xor_si256(last, PreviousPair(run.in, i, prev))));
        }
        prev = next;
    }
}

KESTRUNE_VAES_TARGET void DecryptCBCWide(const std::uint32_t* keys, std::uint32_t rounds, std::uint8_t* chain,
                                         ConstBytes source, Bytes dest) noexcept {
    WideRun run{source.data(), dest.data(), source.size()};
    __m128i prev = LoadBlock(chain);
    WithRounds(rounds, [&](auto r) KESTRUNE_VAES_TARGET {
        DecryptCBCGroups<decltype(r)::value, 12>(keys, run, prev);
        DecryptCBCGroups<decltype(r)::value, 8>(keys, run, prev);
    });
    _mm256_zeroupper();
    StoreBlock(chain, prev);
    DecryptCBCHardware(keys, rounds, chain, ConstBytes(run.in, run.left), Bytes(run.out, run.left));
}

// The rounds after the first of N pairs, the last one folding in the run's
// input: the output is the keystream xor the input (CFB decryption, CTR).
template <std::uint32_t Rounds, std::size_t N>
KESTRUNE_VAES_TARGET inline void EncryptXoringInput(const __m128i* rk, __m256i (&b)[N], const WideRun& run) noexcept {
    MiddleRounds<true, Rounds>(rk, b);
    const __m256i last = Key2(rk, Rounds);
#pragma GCC unroll 12
    for (std::size_t i = 0; i < N; ++i)
        Store2(run.out + 32 * i, _mm256_aesenclast_epi128(b[i], _mm256_xor_si256(last, Load2(run.in + 32 * i))));
}

// The keystream inputs are loaded before the rounds; each output pair reads
// its own ciphertext just before it is stored over.
template <std::uint32_t Rounds, std::size_t N>
KESTRUNE_VAES_TARGET inline void DecryptCFBGroups(const std::uint32_t* keys, WideRun& run, __m128i& prev) noexcept {
    for (; run.Next<N>(); run.Advance<N>()) {
        const __m128i* rk = GroupKeys(reinterpret_cast<const __m128i*>(keys));
        const __m256i first = Key2(rk, 0);
        __m256i b[N];
#pragma GCC unroll 12
        for (std::size_t i = 0; i < N; ++i) b[i] = _mm256_xor_si256(PreviousPair(run.in, i, prev), first);
        prev = LoadBlock(run.in + 32 * N - 16);
        EncryptXoringInput<Rounds>(rk, b, run);
    }
}

KESTRUNE_VAES_TARGET void DecryptCFBWide(const std::uint32_t* keys, std::uint32_t rounds, std::uint8_t* chain,
                                         ConstBytes source, Bytes dest) noexcept {
    WideRun run{source.data(), dest.data(), source.size()};
    __m128i prev = LoadBlock(chain);
    WithRounds(rounds, [&](auto r) KESTRUNE_VAES_TARGET {
        DecryptCFBGroups<decltype(r)::value, 12>(keys, run, prev);
        DecryptCFBGroups<decltype(r)::value, 8>(keys, run, prev);
    });
    _mm256_zeroupper();
    StoreBlock(chain, prev);
    DecryptCFBHardware(keys, rounds, chain, ConstBytes(run.in, run.left), Bytes(run.out, run.left));
}

// The counter pairs stay in a register as native halves, (n, n + 1), the
// caller making sure the low half cannot carry in the run; low is n's low
// half. Where the counters' last byte takes every add of the group (most
// groups), the blocks are the pair's big-endian form plus 2i in that byte:
// one byte add each instead of an add and a byte shuffle, which competes
// with the AES instructions for their ports.
template <std::uint32_t Rounds, std::size_t N>
KESTRUNE_VAES_TARGET inline void EncryptCTRGroups(const std::uint32_t* keys, WideRun& run, __m256i& pair,
                                                  std::uint64_t& low) noexcept {
    const __m256i reverse = _mm256_broadcastsi128_si256(_mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
    for (; run.Next<N>(); run.Advance<N>(), low += 2 * N) {
        const __m128i* rk = GroupKeys(reinterpret_cast<const __m128i*>(keys));
        const __m256i first = Key2(rk, 0);
        __m256i b[N];
        if ((low & 0xFF) <= 0x100 - 2 * N) {
            const __m256i bigEndian = _mm256_shuffle_epi8(pair, reverse);
#pragma GCC unroll 12
            for (std::size_t i = 0; i < N; ++i) {
                const auto n = static_cast<char>(2 * i);
                const __m256i plus = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, n, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                      0, 0, 0, 0, 0, 0, n);
                b[i] = _mm256_xor_si256(_mm256_add_epi8(bigEndian, plus), first);
            }
        } else {
#pragma GCC unroll 12
            for (std::size_t i = 0; i < N; ++i) {
                const auto n = static_cast<long long>(2 * i);
                b[i] = _mm256_xor_si256(_mm256_shuffle_epi8(_mm256_add_epi64(pair, _mm256_set_epi64x(0, n, 0, n)), reverse),
                                        first);
            }
        }
        pair = _mm256_add_epi64(pair, _mm256_set_epi64x(0, 2 * N, 0, 2 * N));
        EncryptXoringInput<Rounds>(rk, b, run);
    }
}

// Runs in which no carry reaches the high half of the counter go through
// the groups; sixteen blocks that cross a carry go to the 128-bit path.
KESTRUNE_VAES_TARGET void EncryptCTRWide(const std::uint32_t* keys, std::uint32_t rounds, std::uint8_t* counter,
                                         ConstBytes source, Bytes dest) noexcept {
    WideRun run{source.data(), dest.data(), source.size()};
    WithRounds(rounds, [&](auto r) KESTRUNE_VAES_TARGET {
        constexpr std::uint32_t Rounds = decltype(r)::value;
        while (run.Next<8>()) {
            const std::uint64_t high = LoadBE64(ConstBytes(counter, 8)), low = LoadBE64(ConstBytes(counter + 8, 8));
            // Counters left before the low half carries.
            const std::uint64_t room = ~std::uint64_t{0} - low;
            if (room < 16) {
                _mm256_zeroupper();
                EncryptCTRHardware(keys, rounds, counter, ConstBytes(run.in, 256), Bytes(run.out, 256));
                run.Advance<8>();
                continue;
            }
            const auto blocks = static_cast<std::size_t>(std::min<std::uint64_t>(run.left / 16, room));
            WideRun part{run.in, run.out, 16 * blocks};
            __m256i pair = _mm256_add_epi64(
                _mm256_set_epi64x(static_cast<long long>(high), static_cast<long long>(low), static_cast<long long>(high),
                                  static_cast<long long>(low)),
                _mm256_set_epi64x(0, 1, 0, 0));
            std::uint64_t next = low;
            EncryptCTRGroups<Rounds, 12>(keys, part, pair, next);
            EncryptCTRGroups<Rounds, 8>(keys, part, pair, next);
            const std::size_t done = 16 * blocks - part.left;
            StoreBE64(Bytes(counter + 8, 8), next);
            run.in += done, run.out += done, run.left -= done;
        }
    });
    _mm256_zeroupper();
    EncryptCTRHardware(keys, rounds, counter, ConstBytes(run.in, run.left), Bytes(run.out, run.left));
}

// Zero-fills both round-key schedules in 32-byte stores. A rekey writes
// the schedules twice, wiped then expanded, and the stores rather than the
// arithmetic bounded it: half as many to wipe shortened the whole rekey by
// a tenth. As in SecureFill, the barrier keeps the stores.
template <std::size_t N>
KESTRUNE_VAES_TARGET inline void ZeroWide(std::uint32_t* keys) noexcept {
    auto* bytes = reinterpret_cast<std::uint8_t*>(keys);
#pragma GCC unroll 8
    for (std::size_t i = 0; i + 32 <= N; i += 32) Store2(bytes + i, _mm256_setzero_si256());
    if constexpr (N % 32 != 0) _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + N - 16), _mm_setzero_si128());
}

KESTRUNE_VAES_TARGET void WipeSchedulesWide(std::uint32_t* enc, std::uint32_t* dec, std::uint32_t rounds) noexcept {
    WithRounds(rounds, [&](auto r) KESTRUNE_VAES_TARGET {
        ZeroWide<16 * (decltype(r)::value + 1)>(enc);
        ZeroWide<16 * (decltype(r)::value + 1)>(dec);
    });
    _mm256_zeroupper();
    __asm__ __volatile__("" : : "r"(enc), "r"(dec) : "memory");
}

// The same round keys stored in pairs, one 32-byte store for two keys in
// each schedule, for the reason the wipe above gives. Key r completes the
// encryption pair (r - 1, r) when r is odd and the decryption pair
// (Rounds - r, Rounds - r + 1) when r is even.
template <std::uint32_t Rounds>
struct PutRoundKeyPairs {
    std::uint32_t* enc;
    std::uint32_t* dec;
    __m128i previous = _mm_setzero_si128();
    KESTRUNE_VAES_TARGET void operator()(std::uint32_t r, __m128i k) noexcept {
        auto* e = reinterpret_cast<__m128i*>(enc);
        auto* d = reinterpret_cast<__m128i*>(dec);
        if (r % 2 == 1) Store2(reinterpret_cast<std::uint8_t*>(e + r - 1), _mm256_set_m128i(k, previous));
        if (r == Rounds) _mm_store_si128(e + r, k);
        if (r == 0) _mm_store_si128(d + Rounds, k);
        if (r % 2 == 0 && r > 0)
            Store2(reinterpret_cast<std::uint8_t*>(d + Rounds - r),
                   _mm256_set_m128i(_mm_aesimc_si128(previous), r == Rounds ? k : _mm_aesimc_si128(k)));
        previous = k;
    }
};

KESTRUNE_VAES_TARGET void ExpandKeyWide(const std::uint8_t* key, std::uint32_t rounds, std::uint32_t* enc,
                                        std::uint32_t* dec) noexcept {
    if (rounds == 10) Expand128(key, PutRoundKeyPairs<10>{enc, dec});
    else Expand256(key, PutRoundKeyPairs<14>{enc, dec});
    _mm256_zeroupper();
}
#endif

}  // namespace

namespace {
// The AES path also shuffles bytes (SSSE3) and is compiled for SSE4.1; the
// wide path adds VAES and AVX2.
std::uint8_t UsablePath() noexcept {
#ifdef KESTRUNE_AESNI
    using F = CpuFeature;
    // One read of the allowed set per keying.
    const CpuFeatures::Mask on = CpuFeatures::Enabled();
    const auto has = [on](CpuFeatures::Mask need) { return (on & need) == need; };
    if (!has(CpuFeatures::Of(F::AesNi, F::Ssse3, F::Sse41))) return TKC_rijndael::PathPortable;
    return has(CpuFeatures::Of(F::Vaes, F::Avx2)) ? TKC_rijndael::PathVaes : TKC_rijndael::PathAesNi;
#else
    return TKC_rijndael::PathPortable;
#endif
}
}  // namespace

std::string_view TKC_rijndael::Provider() const noexcept {
    switch (IsInitialized() ? Path : UsablePath()) {
    case PathVaes: return "vaes";
    case PathAesNi: return "aesni";
    default: return "portable";
    }
}

void TKC_rijndael::WipeKeys() noexcept {
    if (RoundCount == 0) return;
    const std::size_t roundKeys = RoundCount + 1;
    if (Path == PathPortable) {
        SecureFill(SlicedKeys.data(), 8 * roundKeys * sizeof(std::uint64_t), 0);
#ifdef KESTRUNE_AESNI
    } else if (Path == PathVaes) {
        WipeSchedulesWide(EncKeys.data(), DecKeys.data(), RoundCount);
#endif
    } else {
        SecureFill(EncKeys.data(), 4 * roundKeys * sizeof(std::uint32_t), 0);
        SecureFill(DecKeys.data(), 4 * roundKeys * sizeof(std::uint32_t), 0);
    }
    RoundCount = 0, Path = PathPortable;
}

void TKC_rijndael::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    // A schedule built again without a wipe (ExpandKey) may go to the other
    // store or be shorter: the old one goes first.
    WipeKeys();
    const std::size_t n = keyBits / 8;
    const std::size_t nk = n <= 16 ? 4 : n <= 24 ? 6 : 8;
    RoundCount = static_cast<std::uint32_t>(nk + 6);
    const std::size_t words = 4 * (RoundCount + 1);
    Path = UsablePath();
#ifdef KESTRUNE_AESNI
    const auto expand = [&](const std::uint8_t* bytes) {
        if (Path == PathVaes) return ExpandKeyWide(bytes, RoundCount, EncKeys.data(), DecKeys.data());
        nk == 4 ? ExpandKey128(bytes, EncKeys.data(), DecKeys.data()) : ExpandKey256(bytes, EncKeys.data(), DecKeys.data());
    };
    // A key of exactly 128 or 256 bits expands from the caller's bytes.
    if (Path != PathPortable && n == 4 * nk && nk != 6) return expand(key.data());
#endif
    // Whole key bytes, zero-filled to 16, 24 or 32 bytes.
    std::array<std::uint8_t, 32> padded{};
    std::copy_n(key.begin(), n, padded.begin());
#ifdef KESTRUNE_AESNI
    if (Path != PathPortable && nk != 6) {
        expand(padded.data());
        SecureZero(padded);
        return;
    }
#endif
    for (std::size_t i = 0; i < nk; ++i) EncKeys[i] = LoadLE32(ConstBytes(padded).subspan(4 * i));
    SecureZero(padded);
    // Each word depends on the one before: it stays in a register, and k,
    // i mod nk, is kept by counting (a division per word, or a reload of
    // the word just stored, cost more than the rest of the expansion).
    std::uint32_t previous = EncKeys[nk - 1];
    for (std::size_t i = nk, k = 0, round = 0; i < words; ++i) {
        std::uint32_t t = previous;
        if (k == 0)
            t = SubWord(Ror32(t, 8)) ^ tables::RijndaelRcon[round++];  // RotWord moves byte 1 to row 0
        else if (nk == 8 && k == 4)
            t = SubWord(t);
        previous = EncKeys[i] = EncKeys[i - nk] ^ t;
        if (++k == nk) k = 0;
    }
#ifdef KESTRUNE_AESNI
    if (Path != PathPortable) {
        InverseRoundKeys(EncKeys.data(), DecKeys.data(), RoundCount);
        return;
    }
#endif
    // Both directions run on the sliced encryption keys (the inverse cipher
    // takes them in reverse order); no word keys are kept.
    SliceRoundKeys(EncKeys.data(), RoundCount, SlicedKeys.data());
    SecureFill(EncKeys.data(), 4 * (RoundCount + 1) * sizeof(std::uint32_t), 0);
}

void TKC_rijndael::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
#ifdef KESTRUNE_AESNI
    if (Path == PathVaes) return CryptWide<true>(EncKeys.data(), RoundCount, source, dest);
    if (Path == PathAesNi) return CryptHardware<true>(EncKeys.data(), RoundCount, source, dest);
#endif
    CryptSliced<true>(SlicedKeys.data(), RoundCount, source, dest);
}

void TKC_rijndael::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
#ifdef KESTRUNE_AESNI
    if (Path == PathVaes) return CryptWide<false>(DecKeys.data(), RoundCount, source, dest);
    if (Path == PathAesNi) return CryptHardware<false>(DecKeys.data(), RoundCount, source, dest);
#endif
    CryptSliced<false>(SlicedKeys.data(), RoundCount, source, dest);
}

void TKC_rijndael::EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
#ifdef KESTRUNE_AESNI
    if (Path != PathPortable) return EncryptCBCHardware(EncKeys.data(), RoundCount, chain.data(), source, dest);
#endif
    TKC_blockcipher128::EncryptCBCBlocks(chain, source, dest);
}

void TKC_rijndael::DecryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
#ifdef KESTRUNE_AESNI
    if (Path == PathVaes) return DecryptCBCWide(DecKeys.data(), RoundCount, chain.data(), source, dest);
    if (Path == PathAesNi) return DecryptCBCHardware(DecKeys.data(), RoundCount, chain.data(), source, dest);
#endif
    TKC_blockcipher128::DecryptCBCBlocks(chain, source, dest);
}

void TKC_rijndael::EncryptCTRBlocks(Block& counter, ConstBytes source, Bytes dest) const noexcept {
#ifdef KESTRUNE_AESNI
    if (Path == PathVaes) return EncryptCTRWide(EncKeys.data(), RoundCount, counter.data(), source, dest);
    if (Path == PathAesNi) return EncryptCTRHardware(EncKeys.data(), RoundCount, counter.data(), source, dest);
#endif
    TKC_blockcipher128::EncryptCTRBlocks(counter, source, dest);
}

void TKC_rijndael::EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
#ifdef KESTRUNE_AESNI
    if (Path != PathPortable) return EncryptCFBHardware(EncKeys.data(), RoundCount, chain.data(), source, dest);
#endif
    TKC_blockcipher128::EncryptCFBBlocks(chain, source, dest);
}

void TKC_rijndael::DecryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
#ifdef KESTRUNE_AESNI
    if (Path == PathVaes) return DecryptCFBWide(EncKeys.data(), RoundCount, chain.data(), source, dest);
    if (Path == PathAesNi) return DecryptCFBHardware(EncKeys.data(), RoundCount, chain.data(), source, dest);
#endif
    TKC_blockcipher128::DecryptCFBBlocks(chain, source, dest);
}

void TKC_rijndael::EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
#ifdef KESTRUNE_AESNI
    if (Path != PathPortable) return EncryptOFBHardware(EncKeys.data(), RoundCount, chain.data(), source, dest);
#endif
    TKC_blockcipher128::EncryptOFBBlocks(chain, source, dest);
}

void TKC_rijndael::EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept {
#ifdef KESTRUNE_AESNI
    if (Path != PathPortable) return EncryptCFB8Hardware(EncKeys.data(), RoundCount, chain.data(), source, dest);
#endif
    TKC_blockcipher128::EncryptCFB8Bytes(chain, source, dest);
}

bool TKC_rijndael::SelfTest() {
    TKC_rijndael cipher;
    const bool k128 = CheckBlockVector(cipher, tables::RijndaelSelfTestKey1, tables::RijndaelSelfTestPlain1,
                                       tables::RijndaelSelfTestCipher1);
    const bool k192 = CheckBlockVector(cipher, tables::RijndaelSelfTestKey2, tables::RijndaelSelfTestPlain2,
                                       tables::RijndaelSelfTestCipher2);
    const bool k256 = CheckBlockVector(cipher, tables::RijndaelSelfTestKey3, tables::RijndaelSelfTestPlain3,
                                       tables::RijndaelSelfTestCipher3);
    return k128 && k192 && k256;
}

}  // namespace kestrune
