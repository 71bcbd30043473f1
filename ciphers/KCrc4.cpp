#include "KCrc4.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "KCrc4_tables.inc"

namespace kestrune {
namespace {

// Key-stream bytes produced per round of the main loop.
constexpr std::size_t RunLength = 64;

}  // namespace

void TKC_rc4::RequireInitialized() const {
    if (!IsInitialized()) throw EKC_cipher(messages::CipherNotInitialized);
}

void TKC_rc4::Init(ConstBytes key, std::uint32_t keyBits, ConstBytes iv) {
    TKC_cipher::Init(key, keyBits, iv);
    // A 4-bit key passes the base check but has no whole byte to cycle over.
    const std::size_t keyBytes = keyBits / 8;
    if (keyBytes == 0) {
        Wipe();
        throw EKC_cipher(messages::InvalidKeySize);
    }
    // The key schedule runs on the word entries the key stream reads, then
    // narrows them into the saved bytes. On bytes it took a third longer:
    // with four entries to a word, a load waits behind an earlier swap's
    // store to a neighbouring entry far more often.
    std::uint32_t* const s = Permutation.data();
    for (std::uint32_t i = 0; i < 256; ++i) s[i] = i;
    // As in the key stream, j is never reduced, and the next entry is read
    // before this step's swap, so that j's chain does not wait for the
    // stores; a swap that wrote that entry (j = i + 1) is patched with a
    // branch.
    std::uint32_t j = 0, next = s[0];
    for (std::size_t i = 0; i < 256;) {
        // One pass over the key, or the steps left: one bound per loop.
        const std::size_t steps = std::min(keyBytes, 256 - i);
        for (std::size_t k = 0; k < steps; ++k, ++i) {
            const std::uint32_t t = next;
            j += t + key[k];
            std::uint32_t* const sj = s + (j & 0xFF);
            const std::uint32_t u = *sj;
            const std::uint32_t following = (i + 1) & 0xFF;
            next = s[following];
            s[i] = u;
            *sj = t;
            if ((j & 0xFF) == following) [[unlikely]] {
                next = t;
                __asm__("" : "+r"(next));
            }
        }
    }
    Narrow();
}

void TKC_rc4::Narrow() noexcept {
    // Through a local run, as in Widen: the compiler packs it in registers.
    for (std::size_t i = 0; i < 256; i += 16) {
        std::uint8_t run[16];
        for (std::size_t k = 0; k < 16; ++k) run[k] = static_cast<std::uint8_t>(Permutation[i + k]);
        std::memcpy(SavedPermutation.data() + i, run, sizeof run);
    }
}

void TKC_rc4::Widen() noexcept {
    // Through a local run, which no store can change: the compiler widens it in registers.
    for (std::size_t i = 0; i < 256; i += 16) {
        std::uint8_t run[16];
        std::memcpy(run, SavedPermutation.data() + i, sizeof run);
        for (std::size_t k = 0; k < 16; ++k) Permutation[i + k] = run[k];
    }
}

void TKC_rc4::Reset() {
    RequireInitialized();
    Widen();
}

void TKC_rc4::Encrypt(ConstBytes source, Bytes dest) {
    RequireInitialized();
    if (source.size() != dest.size()) throw EKC_cipher(messages::BufferSizesDiffer);
    std::uint32_t* const s = Permutation.data();
    const std::uint8_t* in = source.data();
    std::uint8_t* out = dest.data();
    const std::size_t n = source.size();

    // The chain from one step to the next is j += s[i]. Two things keep it
    // short: j is never reduced (only its low byte indexes, and 2^32 is a
    // multiple of 256), and the next index's entry is read before this
    // step's swap, so it does not wait for the stores. The rare case where j
    // lands on that index (the swap just wrote it) is patched with a branch,
    // not a data dependence.
    std::uint32_t i = 1, j = 0, next = s[1];
    const auto step = [&](std::uint32_t* si, std::uint32_t* sNext) noexcept -> std::uint8_t {
        const std::uint32_t t = next;
        j += t;
        std::uint32_t* const sj = s + (j & 0xFF);
        const std::uint32_t u = *sj;
        const std::uint32_t ahead = *sNext;
        *si = u;
        *sj = t;
        next = ahead;
        if (sj == sNext) [[unlikely]] {
            next = t;
            // Keeps this a branch: a conditional move would put the compare
            // back on the chain of j.
            __asm__("" : "+r"(next));
        }
        return static_cast<std::uint8_t>(s[(t + u) & 0xFF]);
    };

    // L steps written out from k, with i a multiple of L: within the run
    // the indices are fixed offsets that do not wrap; the last one's next
    // entry may wrap to 0.
    std::size_t k = 0;
    const auto run = [&]<std::size_t L>(std::integral_constant<std::size_t, L>) __attribute__((always_inline)) {
        std::uint32_t* const base = s + i;
        std::uint32_t* const after = s + ((i + L) & 0xFF);
        auto& keystream = RunKeystream;
        keystream = {};
        [&]<std::size_t... B>(std::index_sequence<B...>) {
            ((keystream[B / 8] |= std::uint64_t{step(base + B, B + 1 == L ? after : base + B + 1)} << (8 * (B % 8))), ...);
        }(std::make_index_sequence<L>{});
        for (std::size_t w = 0; w < L / 8; ++w)
            StoreLE64(Bytes(out + k + 8 * w, 8), LoadLE64(ConstBytes(in + k + 8 * w, 8)) ^ keystream[w]);
        k += L;
        i = (i + L) & 0xFF;
    };
    constexpr std::integral_constant<std::size_t, 8> Short;
    constexpr std::integral_constant<std::size_t, RunLength> Long;
    // Every call starts at i = 1: single steps to i = 8 and short runs to
    // i = RunLength, so that a short text (most string calls) takes few
    // single steps; long runs after that, and the same down again at the end.
    for (; k < n && i % Short != 0; ++k, i = (i + 1) & 0xFF) out[k] = in[k] ^ step(s + i, s + ((i + 1) & 0xFF));
    while (n - k >= Short && i % Long != 0) run(Short);
    while (n - k >= Long) run(Long);
    while (n - k >= Short) run(Short);
    for (; k < n; ++k, i = (i + 1) & 0xFF) out[k] = in[k] ^ step(s + i, s + ((i + 1) & 0xFF));
}

bool TKC_rc4::SelfTest() {
    TKC_rc4 cipher;
    const auto& plain = tables::RC4SelfTestPlain;
    cipher.Init(tables::RC4SelfTestKey, static_cast<std::uint32_t>(tables::RC4SelfTestKey.size() * 8));
    std::array<std::uint8_t, plain.size()> data = plain;
    cipher.Encrypt(data, data);
    const bool encrypted = data == tables::RC4SelfTestCipher;
    cipher.Reset();
    cipher.Decrypt(data, data);
    const bool decrypted = data == plain;
    cipher.Wipe();
    return encrypted && decrypted;
}

}  // namespace kestrune
