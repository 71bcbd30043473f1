// RC4: the stream cipher, with keys of 8 to 2048 bits. Its counters restart
// at every Encrypt or Decrypt call while the permutation runs on.
#pragma once

#include <array>

#include "../framework/KCconst.h"
#include "../framework/KCcrypt.h"

namespace kestrune {

class TKC_rc4 final : public TKC_cipher {
public:
    static constexpr std::int32_t ClassId = ids::RC4;
    static constexpr std::string_view ClassAlgorithm = "RC4";
    static constexpr std::int32_t ClassMaxKeySize = 2048;
    static constexpr std::int32_t ClassBlockSize = -1;  // a stream cipher
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_rc4>; }


    TKC_rc4() noexcept = default;
    TKC_rc4(const TKC_rc4&) = delete;
    TKC_rc4& operator=(const TKC_rc4&) = delete;
    ~TKC_rc4() override { WipePermutations(); }

    // The initial vector is accepted and ignored.
    void Init(ConstBytes key, std::uint32_t keyBits, ConstBytes iv = {}) override;
    void Wipe() noexcept override {
        WipePermutations();
        TKC_cipher::Wipe();
    }
    // Back to the permutation as it stood right after key set-up.
    void Reset() override;
    // Both run the key stream from i = j = 0 over the current permutation.
    void Encrypt(ConstBytes source, Bytes dest) override;
    void Decrypt(ConstBytes source, Bytes dest) override { Encrypt(source, dest); }

private:
    void RequireInitialized() const;
    void Widen() noexcept;   // the saved permutation into the running one
    void Narrow() noexcept;  // the running permutation into the saved one

    // Both permutations hold key material only while the cipher is keyed
    // (keying marks it first, every unkeying wipes): they are filled with
    // 0xFF then, not also when an instance is made and destroyed, which cost
    // a string call 2.5 KB of stores.
    void WipePermutations() noexcept {
        if (!IsInitialized()) return;
        SecureFill(Permutation, 0xFF);
        SecureFill(SavedPermutation, 0xFF);
        SecureFill(RunKeystream, 0);
    }

    // Entries are byte values; held in words, which the key-stream loop
    // reads and writes faster than bytes.
    std::array<std::uint32_t, 256> Permutation;
    // As it stood after key set-up, one byte per entry.
    std::array<std::uint8_t, 256> SavedPermutation;
    // A run's key stream on its way out. On the stack it could fall on the
    // entries' addresses modulo 4 KiB, and loads of entries then waited on
    // its stores (a fifth slower, in some processes and not others); here it
    // lies beside them.
    std::array<std::uint64_t, 8> RunKeystream;
};

}  // namespace kestrune
