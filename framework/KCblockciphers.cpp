#include "KCblockciphers.h"

#include <algorithm>
#include <cstring>

namespace kestrune {
namespace {

// Whole blocks handed to the cipher per call in the modes that allow it,
// so that a cipher with a many-block primitive can use it: sixty-four
// 128-bit blocks, the widest paths' set.
constexpr std::size_t BatchBytes = 1024;

void RequireSameSize(ConstBytes source, Bytes dest) {
    if (source.size() != dest.size()) throw EKC_blockcipher(messages::BufferSizesDiffer);
}

// The serial modes (CBC, CFB-block and OFB encryption) run at the cipher's
// latency, one block after another. They move blocks in 32-bit words, the
// size in which the ciphers load and store them, so that the processor can
// forward each store straight to the next load; byte-wise copies through
// ChainBlock stalled the chain at every block.
template <std::size_t B>
using Words = std::array<std::uint32_t, B / 4>;

// Left alone, the compiler merges the word moves into one vector move,
// which cannot be forwarded from the cipher's word stores. The empty asm
// pins each word to a general register, which keeps the moves word-sized.
template <std::size_t B>
Words<B> LoadWords(const std::uint8_t* p) noexcept {
    Words<B> w;
    for (std::size_t i = 0; i < B / 4; ++i) {
        std::memcpy(&w[i], p + 4 * i, 4);
        __asm__("" : "+r"(w[i]));
    }
    return w;
}

template <std::size_t B>
void StoreWords(std::uint8_t* p, Words<B> w) noexcept {
    for (std::size_t i = 0; i < B / 4; ++i) {
        __asm__("" : "+r"(w[i]));
        std::memcpy(p + 4 * i, &w[i], 4);
    }
}

template <std::size_t N>
std::array<std::uint32_t, N> Xor(std::array<std::uint32_t, N> a, const std::array<std::uint32_t, N>& b) noexcept {
    for (std::size_t i = 0; i < N; ++i) a[i] ^= b[i];
    return a;
}

// The counter of CTR: one big-endian number of the block's width; a carry
// out of the first byte is dropped. The carry runs through every byte
// without a branch: a counter derived from the key is as secret as the key.
template <std::size_t B>
void IncrementCounter(std::array<std::uint8_t, B>& counter) noexcept {
    unsigned carry = 1;
    for (std::size_t i = B; i-- > 0;) {
        carry += counter[i];
        counter[i] = static_cast<std::uint8_t>(carry);
        carry >>= 8;
    }
}

}  // namespace

void TKC_blockcipher::Encrypt(ConstBytes source, Bytes dest) {
    switch (CipherMode) {
    case TKC_ciphermode::cmCBC: return EncryptCBC(source, dest);
    case TKC_ciphermode::cmCFB8bit: return EncryptCFB8bit(source, dest);
    case TKC_ciphermode::cmCFBblock: return EncryptCFBblock(source, dest);
    case TKC_ciphermode::cmOFB: return EncryptOFB(source, dest);
    case TKC_ciphermode::cmCTR: return EncryptCTR(source, dest);
    }
}

void TKC_blockcipher::Decrypt(ConstBytes source, Bytes dest) {
    switch (CipherMode) {
    case TKC_ciphermode::cmCBC: return DecryptCBC(source, dest);
    case TKC_ciphermode::cmCFB8bit: return DecryptCFB8bit(source, dest);
    case TKC_ciphermode::cmCFBblock: return DecryptCFBblock(source, dest);
    case TKC_ciphermode::cmOFB: return DecryptOFB(source, dest);
    case TKC_ciphermode::cmCTR: return DecryptCTR(source, dest);
    }
}

template <std::size_t B>
void TKC_blockcipherN<B>::RequireInitialized() const {
    if (!IsInitialized()) throw EKC_blockcipher(messages::CipherNotInitialized);
}

template <std::size_t B>
void TKC_blockcipherN<B>::Init(ConstBytes key, std::uint32_t keyBits, ConstBytes iv) {
    // Checked first, so that a wrong one cannot pass for "no initial vector".
    if (!iv.empty() && iv.size() != B) throw EKC_blockcipher(messages::InvalidIVSize);
    TKC_cipher::Init(key, keyBits, iv);
    try {
        ScheduleKey(key, keyBits);
    } catch (...) {
        Wipe();
        throw;
    }
    if (!iv.empty()) {
        std::copy_n(iv.begin(), B, InitVector.begin());
    } else {
        InitVector.fill(0);
        EncryptBlocks(InitVector, InitVector);
    }
    ChainBlock = InitVector;
}

template <std::size_t B>
void TKC_blockcipherN<B>::ExpandKey(ConstBytes key, std::uint32_t keyBits) {
    try {
        CheckKeySize(key, keyBits);
        ScheduleKey(key, keyBits);
    } catch (...) {
        Wipe();
        throw;
    }
}

template <std::size_t B>
void TKC_blockcipherN<B>::Reset() {
    RequireInitialized();
    ChainBlock = InitVector;
}

template <std::size_t B>
void TKC_blockcipherN<B>::SetIV(ConstBytes iv) {
    RequireInitialized();
    if (iv.size() != B) throw EKC_blockcipher(messages::InvalidIVSize);
    std::copy(iv.begin(), iv.end(), InitVector.begin());
    ChainBlock = InitVector;
}

template <std::size_t B>
void TKC_blockcipherN<B>::GetIV(Bytes dest) const {
    RequireInitialized();
    RequireBlock(dest.size());
    std::copy(ChainBlock.begin(), ChainBlock.end(), dest.begin());
}

template <std::size_t B>
void TKC_blockcipherN<B>::EncryptBlock(ConstBytes source, Bytes dest) {
    RequireInitialized();
    RequireBlock(source.size());
    RequireBlock(dest.size());
    Block block;
    std::copy(source.begin(), source.end(), block.begin());
    EncryptBlocks(block, block);
    std::copy(block.begin(), block.end(), dest.begin());
}

template <std::size_t B>
void TKC_blockcipherN<B>::DecryptBlock(ConstBytes source, Bytes dest) {
    RequireInitialized();
    RequireBlock(source.size());
    RequireBlock(dest.size());
    Block block;
    std::copy(source.begin(), source.end(), block.begin());
    DecryptBlocks(block, block);
    std::copy(block.begin(), block.end(), dest.begin());
}

template <std::size_t B>
void TKC_blockcipherN<B>::KeystreamTail(ConstBytes source, Bytes dest) noexcept {
    EncryptChain();
    XorTo(dest, source, ChainBlock);
}

template <std::size_t B>
void TKC_blockcipherN<B>::EncryptCBC(ConstBytes source, Bytes dest) {
    RequireInitialized();
    RequireSameSize(source, dest);
    const std::size_t whole = source.size() / B * B;
    EncryptCBCBlocks(ChainBlock, source.first(whole), dest.first(whole));
    if (whole < source.size()) KeystreamTail(source.subspan(whole), dest.subspan(whole));
}

template <std::size_t B>
void TKC_blockcipherN<B>::EncryptCBCBlocks(Block& chainBlock, ConstBytes source, Bytes dest) const noexcept {
    // Each block is combined and encrypted in place in the destination.
    auto chain = LoadWords<B>(chainBlock.data());
    for (std::size_t off = 0; off < source.size(); off += B) {
        std::uint8_t* out = dest.data() + off;
        StoreWords<B>(out, Xor(LoadWords<B>(source.data() + off), chain));
        EncryptBlocks(ConstBytes(out, B), Bytes(out, B));
        chain = LoadWords<B>(out);
    }
    StoreWords<B>(chainBlock.data(), chain);
}

template <std::size_t B>
void TKC_blockcipherN<B>::DecryptCBC(ConstBytes source, Bytes dest) {
    RequireInitialized();
    RequireSameSize(source, dest);
    const std::size_t whole = source.size() / B * B;
    DecryptCBCBlocks(ChainBlock, source.first(whole), dest.first(whole));
    if (whole < source.size()) KeystreamTail(source.subspan(whole), dest.subspan(whole));
}

template <std::size_t B>
void TKC_blockcipherN<B>::DecryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    std::array<std::uint8_t, BatchBytes> saved;
    for (std::size_t off = 0; off < source.size(); off += BatchBytes) {
        const std::size_t n = std::min(BatchBytes, source.size() - off);
        const auto cipherText = Bytes(saved).first(n);
        std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(off), n, cipherText.begin());
        const auto out = dest.subspan(off, n);
        DecryptBlocks(cipherText, out);
        XorInto(out.first(B), chain);
        for (std::size_t b = B; b < n; b += B) XorInto(out.subspan(b, B), cipherText.subspan(b - B, B));
        std::memcpy(chain.data(), cipherText.data() + n - B, B);
    }
    SecureFill(saved, 0);
}

template <std::size_t B>
void TKC_blockcipherN<B>::EncryptCFB8bit(ConstBytes source, Bytes dest) {
    RequireInitialized();
    RequireSameSize(source, dest);
    EncryptCFB8Bytes(ChainBlock, source, dest);
}

template <std::size_t B>
void TKC_blockcipherN<B>::EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    // The shift register lives in big-endian 64-bit words and goes to the
    // block in whole-word stores: shifted a byte at a time in memory, its
    // next load spanned several smaller stores and waited for them.
    Block keystream;
    std::uint64_t hi = LoadBE64(ConstBytes(chain).first(8));
    std::uint64_t lo = B == 16 ? LoadBE64(ConstBytes(chain).subspan(8, 8)) : 0;
    for (std::size_t i = 0; i < source.size(); ++i) {
        EncryptBlocks(chain, keystream);
        const std::uint8_t c = source[i] ^ keystream[0];
        dest[i] = c;
        if constexpr (B == 16) {
            hi = (hi << 8) | (lo >> 56), lo = (lo << 8) | c;
            StoreBE64(Bytes(chain).first(8), hi);
            StoreBE64(Bytes(chain).subspan(8, 8), lo);
        } else {
            hi = (hi << 8) | c;
            StoreBE64(Bytes(chain).first(8), hi);
        }
    }
    SecureFill(keystream, 0);
}

// The register that byte i is decrypted with holds the B bytes before it
// in (chain, ciphertext), all known in advance: the block encryptions of a
// run of bytes are independent, and go to the cipher together so that its
// many-block path keeps several in flight.
template <std::size_t B>
void TKC_blockcipherN<B>::DecryptCFB8bit(ConstBytes source, Bytes dest) {
    RequireInitialized();
    RequireSameSize(source, dest);
    // Sixty-four bytes a run: with sixteen, the widest many-block paths ran
    // a quarter full (measured: Serpent's AVX-512 path 53 -> 147 MiB/s).
    constexpr std::size_t Run = 64;
    // The chaining value followed by the run's ciphertext, read before any
    // output of the run is written (source and dest may be the same).
    std::array<std::uint8_t, B + Run> window;
    std::array<std::uint8_t, B * Run> keystream;
    for (std::size_t off = 0; off < source.size(); off += Run) {
        const std::size_t n = std::min(Run, source.size() - off);
        std::copy(ChainBlock.begin(), ChainBlock.end(), window.begin());
        std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(off), n, window.begin() + B);
        for (std::size_t j = 0; j < n; ++j) std::memcpy(keystream.data() + B * j, window.data() + j, B);
        const auto ks = Bytes(keystream).first(B * n);
        EncryptBlocks(ks, ks);
        for (std::size_t j = 0; j < n; ++j) dest[off + j] = window[B + j] ^ keystream[B * j];
        std::memcpy(ChainBlock.data(), window.data() + n, B);
    }
    SecureFill(keystream, 0);
}

template <std::size_t B>
void TKC_blockcipherN<B>::EncryptCFBblock(ConstBytes source, Bytes dest) {
    RequireInitialized();
    RequireSameSize(source, dest);
    const std::size_t whole = source.size() / B * B;
    EncryptCFBBlocks(ChainBlock, source.first(whole), dest.first(whole));
    if (whole < source.size()) KeystreamTail(source.subspan(whole), dest.subspan(whole));
}

template <std::size_t B>
void TKC_blockcipherN<B>::EncryptCFBBlocks(Block& chainBlock, ConstBytes source, Bytes dest) const noexcept {
    // E(CV) is computed in the destination block, after its source is read.
    auto chain = LoadWords<B>(chainBlock.data());
    for (std::size_t off = 0; off < source.size(); off += B) {
        std::uint8_t* out = dest.data() + off;
        const auto plain = LoadWords<B>(source.data() + off);
        StoreWords<B>(out, chain);
        EncryptBlocks(ConstBytes(out, B), Bytes(out, B));
        chain = Xor(LoadWords<B>(out), plain);
        StoreWords<B>(out, chain);
    }
    StoreWords<B>(chainBlock.data(), chain);
}

template <std::size_t B>
void TKC_blockcipherN<B>::DecryptCFBblock(ConstBytes source, Bytes dest) {
    RequireInitialized();
    RequireSameSize(source, dest);
    const std::size_t whole = source.size() / B * B;
    DecryptCFBBlocks(ChainBlock, source.first(whole), dest.first(whole));
    if (whole < source.size()) KeystreamTail(source.subspan(whole), dest.subspan(whole));
}

template <std::size_t B>
void TKC_blockcipherN<B>::DecryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    std::array<std::uint8_t, BatchBytes> keystream;
    for (std::size_t off = 0; off < source.size(); off += BatchBytes) {
        const std::size_t n = std::min(BatchBytes, source.size() - off);
        const auto ks = Bytes(keystream).first(n);
        // The keystream inputs are the previous ciphertext blocks; take them
        // before the output overwrites them.
        std::copy(chain.begin(), chain.end(), ks.begin());
        std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(off), n - B, ks.begin() + B);
        std::memcpy(chain.data(), source.data() + off + n - B, B);
        EncryptBlocks(ks, ks);
        XorTo(dest.subspan(off, n), source.subspan(off, n), ks);
    }
    SecureFill(keystream, 0);
}

template <std::size_t B>
void TKC_blockcipherN<B>::EncryptOFB(ConstBytes source, Bytes dest) {
    RequireInitialized();
    RequireSameSize(source, dest);
    const std::size_t whole = source.size() / B * B;
    EncryptOFBBlocks(ChainBlock, source.first(whole), dest.first(whole));
    if (whole < source.size()) KeystreamTail(source.subspan(whole), dest.subspan(whole));
}

template <std::size_t B>
void TKC_blockcipherN<B>::EncryptOFBBlocks(Block& chainBlock, ConstBytes source, Bytes dest) const noexcept {
    auto chain = LoadWords<B>(chainBlock.data());
    for (std::size_t off = 0; off < source.size(); off += B) {
        std::uint8_t* out = dest.data() + off;
        const auto input = LoadWords<B>(source.data() + off);
        StoreWords<B>(out, chain);
        EncryptBlocks(ConstBytes(out, B), Bytes(out, B));
        chain = LoadWords<B>(out);
        StoreWords<B>(out, Xor(chain, input));
    }
    StoreWords<B>(chainBlock.data(), chain);
}

template <std::size_t B>
void TKC_blockcipherN<B>::EncryptCTR(ConstBytes source, Bytes dest) {
    RequireInitialized();
    RequireSameSize(source, dest);
    const std::size_t whole = source.size() / B * B;
    EncryptCTRBlocks(ChainBlock, source.first(whole), dest.first(whole));
    if (whole < source.size()) {
        // A partial block uses up its whole counter value.
        Block keystream = ChainBlock;
        EncryptBlocks(keystream, keystream);
        IncrementCounter(ChainBlock);
        for (std::size_t i = whole; i < source.size(); ++i) dest[i] = source[i] ^ keystream[i - whole];
        SecureFill(keystream, 0);
    }
}

template <std::size_t B>
void TKC_blockcipherN<B>::EncryptCTRBlocks(Block& counterBlock, ConstBytes source, Bytes dest) const noexcept {
    std::array<std::uint8_t, BatchBytes> keystream;
    for (std::size_t off = 0; off < source.size(); off += BatchBytes) {
        const std::size_t n = std::min(BatchBytes, source.size() - off);
        const auto ks = Bytes(keystream).first(n);
        // The counter stays in big-endian 64-bit words for the batch, so that
        // no counter block is read back just after one of its bytes changed.
        std::array<std::uint64_t, B / 8> counter;
        for (std::size_t w = 0; w < B / 8; ++w) counter[w] = LoadBE64(ConstBytes(counterBlock).subspan(8 * w));
        for (std::size_t b = 0; b < n; b += B) {
            for (std::size_t w = 0; w < B / 8; ++w) StoreBE64(ks.subspan(b + 8 * w), counter[w]);
            // IncrementCounter, a word at a time.
            std::uint64_t carry = 1;
            for (std::size_t w = B / 8; w-- > 0;) {
                counter[w] += carry;
                carry = counter[w] < carry;
            }
        }
        for (std::size_t w = 0; w < B / 8; ++w) StoreBE64(Bytes(counterBlock).subspan(8 * w), counter[w]);
        EncryptBlocks(ks, ks);
        XorTo(dest.subspan(off, n), source.subspan(off, n), ks);
    }
    SecureFill(keystream, 0);
}

template class TKC_blockcipherN<8>;
template class TKC_blockcipherN<16>;

}  // namespace kestrune
