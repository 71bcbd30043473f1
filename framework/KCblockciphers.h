// Block ciphers over buffers of any length: the initial vector rule and the
// five chaining modes, written once for 64-bit and 128-bit blocks. A
// concrete cipher supplies its key schedule and a many-block primitive.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "KCcrypt.h"

namespace kestrune {

enum class TKC_ciphermode : std::uint8_t { cmCBC = 0, cmCFB8bit = 1, cmCFBblock = 2, cmOFB = 3, cmCTR = 4 };

inline constexpr bool IsCipherMode(std::int32_t value) noexcept { return value >= 0 && value <= 4; }

class TKC_blockcipher : public TKC_cipher {
public:
    TKC_ciphermode CipherMode = TKC_ciphermode::cmCBC;

    std::int32_t GetBlockSize() const noexcept { return Class().blockSize; }
    std::size_t GetBlockBytes() const noexcept { return static_cast<std::size_t>(GetBlockSize()) / 8; }

    // The members below take one block (GetBlockBytes()) per buffer and raise
    // EKC_blockcipher for a buffer of another size.

    // Builds the key schedule alone, under the key-size rules of Init; the
    // initialized state, the initial vector and the chaining value stay as
    // they are. A failure leaves the cipher wiped.
    virtual void ExpandKey(ConstBytes key, std::uint32_t keyBits) = 0;
    // Sets the initial vector and rewinds the chain to it.
    virtual void SetIV(ConstBytes iv) = 0;
    // Copies the current chaining value, not the initial vector.
    virtual void GetIV(Bytes dest) const = 0;
    // One block, no chaining; source and dest may be the same block.
    virtual void EncryptBlock(ConstBytes source, Bytes dest) = 0;
    virtual void DecryptBlock(ConstBytes source, Bytes dest) = 0;

    // Dispatch on CipherMode.
    void Encrypt(ConstBytes source, Bytes dest) override;
    void Decrypt(ConstBytes source, Bytes dest) override;

    virtual void EncryptCBC(ConstBytes source, Bytes dest) = 0;
    virtual void DecryptCBC(ConstBytes source, Bytes dest) = 0;
    virtual void EncryptCFB8bit(ConstBytes source, Bytes dest) = 0;
    virtual void DecryptCFB8bit(ConstBytes source, Bytes dest) = 0;
    virtual void EncryptCFBblock(ConstBytes source, Bytes dest) = 0;
    virtual void DecryptCFBblock(ConstBytes source, Bytes dest) = 0;
    virtual void EncryptOFB(ConstBytes source, Bytes dest) = 0;
    virtual void DecryptOFB(ConstBytes source, Bytes dest) = 0;
    virtual void EncryptCTR(ConstBytes source, Bytes dest) = 0;
    virtual void DecryptCTR(ConstBytes source, Bytes dest) = 0;

protected:
    // Strings always run in 8-bit cipher feedback, whatever CipherMode holds.
    void EncryptStringBytes(Bytes bytes) override { EncryptCFB8bit(bytes, bytes); }
    void DecryptStringBytes(Bytes bytes) override { DecryptCFB8bit(bytes, bytes); }
};

template <std::size_t BlockBytes>
class TKC_blockcipherN : public TKC_blockcipher {
public:
    using Block = std::array<std::uint8_t, BlockBytes>;
    static constexpr std::int32_t ClassBlockSize = static_cast<std::int32_t>(BlockBytes * 8);

    TKC_blockcipherN() noexcept { WipeChain(); }
    ~TKC_blockcipherN() override { WipeChain(); }

    // Keys the cipher; without an initial vector (an empty one) it becomes
    // E(zero block). An initial vector of another size than a block raises
    // EKC_blockcipher and changes nothing.
    void Init(ConstBytes key, std::uint32_t keyBits, ConstBytes iv = {}) override;
    void Wipe() noexcept override {
        WipeChain();
        TKC_blockcipher::Wipe();
    }
    void Reset() override;
    void ExpandKey(ConstBytes key, std::uint32_t keyBits) final;
    void SetIV(ConstBytes iv) final;
    void GetIV(Bytes dest) const final;
    void EncryptBlock(ConstBytes source, Bytes dest) final;
    void DecryptBlock(ConstBytes source, Bytes dest) final;

    void EncryptCBC(ConstBytes source, Bytes dest) override;
    void DecryptCBC(ConstBytes source, Bytes dest) override;
    void EncryptCFB8bit(ConstBytes source, Bytes dest) override;
    void DecryptCFB8bit(ConstBytes source, Bytes dest) override;
    void EncryptCFBblock(ConstBytes source, Bytes dest) override;
    void DecryptCFBblock(ConstBytes source, Bytes dest) override;
    void EncryptOFB(ConstBytes source, Bytes dest) override;
    void DecryptOFB(ConstBytes source, Bytes dest) override { EncryptOFB(source, dest); }
    void EncryptCTR(ConstBytes source, Bytes dest) override;
    void DecryptCTR(ConstBytes source, Bytes dest) override { EncryptCTR(source, dest); }

protected:
    // Builds the key schedule from the first keyBits bits of key; called by
    // Init and ExpandKey after the size check. May raise "Invalid key size".
    virtual void ScheduleKey(ConstBytes key, std::uint32_t keyBits) = 0;
    // Transform whole blocks (sizes equal, a multiple of BlockBytes). Source
    // and dest are either the same memory or do not overlap.
    virtual void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept = 0;
    virtual void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept = 0;
    // The parallel and the latency-bound modes over whole blocks (sizes
    // equal, a multiple of BlockBytes; source and dest the same memory or
    // disjoint). chain is the chaining value, read and left updated: the
    // previous ciphertext block for CBC, the next counter for CTR. Partial
    // blocks and the state between calls stay with the framework. The
    // defaults run on EncryptBlocks/DecryptBlocks; a cipher with a faster
    // fused path (one pass, no call per block) overrides them.
    virtual void EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept;
    virtual void DecryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept;
    virtual void EncryptCTRBlocks(Block& counter, ConstBytes source, Bytes dest) const noexcept;
    // CFB-block and OFB likewise; chain is the previous ciphertext block for
    // CFB, the last keystream block for OFB.
    virtual void EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept;
    virtual void DecryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept;
    virtual void EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept;
    // CFB-8 encryption of any number of bytes (sizes equal; source and dest
    // the same memory or disjoint), chain the shift register: one block
    // encryption per byte, each waiting for the byte before, which every
    // string call runs. A cipher can keep the register and its keys in
    // registers across the bytes.
    virtual void EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept;

private:
    void WipeChain() noexcept {
        SecureFill(InitVector, 0xFF);
        SecureFill(ChainBlock, 0xFF);
    }
    void RequireInitialized() const;
    static void RequireBlock(std::size_t size) {
        if (size != BlockBytes) throw EKC_blockcipher(messages::NotOneBlock);
    }
    void EncryptChain() noexcept { EncryptBlocks(ChainBlock, ChainBlock); }
    // The keystream tail shared by CBC, CFB-block and OFB: CV := E(CV); xor.
    void KeystreamTail(ConstBytes source, Bytes dest) noexcept;

    Block InitVector;
    Block ChainBlock;
};

// One self-test vector: key the cipher without an initial vector, encrypt
// plain and compare with expected, Reset, decrypt in place and compare with
// plain, Wipe. Both comparisons always run.
template <std::size_t B>
bool CheckBlockVector(TKC_blockcipherN<B>& cipher, ConstBytes key, ConstBytes plain, ConstBytes expected) {
    if (plain.size() != B || expected.size() != B) return false;
    std::array<std::uint8_t, B> block;
    std::copy(plain.begin(), plain.end(), block.begin());
    cipher.Init(key, static_cast<std::uint32_t>(key.size() * 8));
    cipher.EncryptBlock(block, block);
    const bool encrypted = std::equal(block.begin(), block.end(), expected.begin());
    cipher.Reset();
    cipher.DecryptBlock(block, block);
    const bool decrypted = std::equal(block.begin(), block.end(), plain.begin());
    cipher.Wipe();
    return encrypted && decrypted;
}

// A self-test for a cipher variant that no published vector covers: key the
// cipher, require that encrypting plain changes it and that decrypting
// restores it, then Wipe.
template <std::size_t B>
bool CheckRoundTrip(TKC_blockcipherN<B>& cipher, ConstBytes key, ConstBytes plain) {
    if (plain.size() != B) return false;
    std::array<std::uint8_t, B> block;
    std::copy(plain.begin(), plain.end(), block.begin());
    cipher.Init(key, static_cast<std::uint32_t>(key.size() * 8));
    cipher.EncryptBlock(block, block);
    const bool changed = !std::equal(block.begin(), block.end(), plain.begin());
    cipher.DecryptBlock(block, block);
    const bool restored = std::equal(block.begin(), block.end(), plain.begin());
    cipher.Wipe();
    return changed && restored;
}

using TKC_blockcipher64 = TKC_blockcipherN<8>;
using TKC_blockcipher128 = TKC_blockcipherN<16>;

extern template class TKC_blockcipherN<8>;
extern template class TKC_blockcipherN<16>;

}  // namespace kestrune
