// The five chaining modes against a block-at-a-time model written from
// their definitions, for both block sizes, in place and not, whole and
// split across calls. A toy block function keeps the model independent of
// any real cipher.
#include <gtest/gtest.h>

#include <numeric>

#include "ciphers/KCblowfish.h"
#include "framework/KCblockciphers.h"

namespace kestrune {
namespace {

// Invertible, and mixes every byte into its neighbour so that block order
// and alignment mistakes show.
template <std::size_t B>
class ToyCipher final : public TKC_blockcipherN<B> {
public:
    static constexpr std::int32_t ClassId = 1000;
    static constexpr std::string_view ClassAlgorithm = "Toy";
    static constexpr std::int32_t ClassMaxKeySize = 64;
    static bool SelfTest() { return true; }
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<ToyCipher>; }

protected:
    void ScheduleKey(ConstBytes key, std::uint32_t) override { key_ = key[0]; }
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override {
        for (std::size_t off = 0; off < source.size(); off += B) {
            std::array<std::uint8_t, B> x;
            std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(off), B, x.begin());
            for (std::size_t i = 0; i < B; ++i) x[i] = static_cast<std::uint8_t>(x[i] + key_ + x[(i + B - 1) % B] * 3 + i);
            std::copy(x.begin(), x.end(), dest.begin() + static_cast<std::ptrdiff_t>(off));
        }
    }
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override {
        for (std::size_t off = 0; off < source.size(); off += B) {
            std::array<std::uint8_t, B> x;
            std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(off), B, x.begin());
            for (std::size_t i = B; i-- > 0;) x[i] = static_cast<std::uint8_t>(x[i] - key_ - x[(i + B - 1) % B] * 3 - i);
            std::copy(x.begin(), x.end(), dest.begin() + static_cast<std::ptrdiff_t>(off));
        }
    }

private:
    std::uint8_t key_ = 0;
};

template <std::size_t B>
struct Model {
    using Block = std::array<std::uint8_t, B>;
    ToyCipher<B>& cipher;
    Block cv;

    Block E(Block x) {
        cipher.EncryptBlock(x, x);
        return x;
    }
    Block D(Block x) {
        cipher.DecryptBlock(x, x);
        return x;
    }
    static Block At(const std::vector<std::uint8_t>& v, std::size_t off) {
        Block b;
        std::copy_n(v.begin() + static_cast<std::ptrdiff_t>(off), B, b.begin());
        return b;
    }
    void Tail(const std::vector<std::uint8_t>& in, std::vector<std::uint8_t>& out, std::size_t off) {
        cv = E(cv);
        for (std::size_t i = off; i < in.size(); ++i) out[i] = in[i] ^ cv[i - off];
    }

    std::vector<std::uint8_t> Run(TKC_ciphermode mode, bool encrypt, const std::vector<std::uint8_t>& in) {
        std::vector<std::uint8_t> out(in.size());
        const std::size_t whole = in.size() / B * B;
        if (mode == TKC_ciphermode::cmCFB8bit) {
            for (std::size_t i = 0; i < in.size(); ++i) {
                out[i] = in[i] ^ E(cv)[0];
                std::rotate(cv.begin(), cv.begin() + 1, cv.end());
                cv[B - 1] = encrypt ? out[i] : in[i];
            }
            return out;
        }
        for (std::size_t off = 0; off < whole; off += B) {
            Block p = At(in, off), c{};
            switch (mode) {
            case TKC_ciphermode::cmCBC:
                if (encrypt) {
                    for (std::size_t i = 0; i < B; ++i) p[i] ^= cv[i];
                    cv = c = E(p);
                } else {
                    c = D(p);
                    for (std::size_t i = 0; i < B; ++i) c[i] ^= cv[i];
                    cv = p;
                }
                break;
            case TKC_ciphermode::cmCFBblock:
                cv = E(cv);
                for (std::size_t i = 0; i < B; ++i) c[i] = p[i] ^ cv[i];
                cv = encrypt ? c : p;
                break;
            case TKC_ciphermode::cmOFB:
                cv = E(cv);
                for (std::size_t i = 0; i < B; ++i) c[i] = p[i] ^ cv[i];
                break;
            default: {  // CTR
                const Block t = E(cv);
                for (std::size_t i = B; i-- > 0 && ++cv[i] == 0;) {
                }
                for (std::size_t i = 0; i < B; ++i) c[i] = p[i] ^ t[i];
            }
            }
            std::copy(c.begin(), c.end(), out.begin() + static_cast<std::ptrdiff_t>(off));
        }
        if (whole < in.size()) {
            if (mode == TKC_ciphermode::cmCTR) {
                const Block t = E(cv);
                for (std::size_t i = B; i-- > 0 && ++cv[i] == 0;) {
                }
                for (std::size_t i = whole; i < in.size(); ++i) out[i] = in[i] ^ t[i - whole];
            } else {
                Tail(in, out, whole);
            }
        }
        return out;
    }
};

template <typename T>
class Modes : public testing::Test {};
using BlockSizes = testing::Types<std::integral_constant<std::size_t, 8>, std::integral_constant<std::size_t, 16>>;
TYPED_TEST_SUITE(Modes, BlockSizes);

constexpr TKC_ciphermode AllModes[] = {TKC_ciphermode::cmCBC, TKC_ciphermode::cmCFB8bit, TKC_ciphermode::cmCFBblock,
                                       TKC_ciphermode::cmOFB, TKC_ciphermode::cmCTR};

TYPED_TEST(Modes, MatchModelWholeSplitAndInPlace) {
    constexpr std::size_t B = TypeParam::value;
    const std::uint8_t key[] = {0x5C};
    std::vector<std::uint8_t> data(70 * B + 5);
    std::iota(data.begin(), data.end(), 1);
    for (auto mode : AllModes) {
        for (bool encrypt : {true, false}) {
            for (std::size_t length : {std::size_t{0}, std::size_t{1}, B - 1, B, B + 1, 2 * B + 3, 40 * B, data.size()}) {
                const std::vector<std::uint8_t> in(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
                ToyCipher<B> reference;
                reference.Init(key, 8);
                Model<B> model{reference, {}};
                reference.GetIV(model.cv);
                const auto expected = model.Run(mode, encrypt, in);

                ToyCipher<B> cipher;
                cipher.CipherMode = mode;
                cipher.Init(key, 8);
                std::vector<std::uint8_t> out(length);
                encrypt ? cipher.Encrypt(in, out) : cipher.Decrypt(in, out);
                EXPECT_EQ(out, expected) << "mode " << int(mode) << " length " << length;

                // In place, split at a block multiple: chaining runs across calls.
                cipher.Reset();
                std::vector<std::uint8_t> buf = in;
                const std::size_t split = length / 2 / B * B;
                const auto first = Bytes(buf).first(split), second = Bytes(buf).subspan(split);
                encrypt ? cipher.Encrypt(first, first) : cipher.Decrypt(first, first);
                encrypt ? cipher.Encrypt(second, second) : cipher.Decrypt(second, second);
                EXPECT_EQ(buf, expected) << "split, mode " << int(mode) << " length " << length;
            }
        }
    }
}

// CFB-8 decryption works on runs of bytes at once: every length up to
// three runs and a block, cut into two calls at every point, in place.
TYPED_TEST(Modes, Cfb8DecryptionMatchesModelAtEveryCut) {
    constexpr std::size_t B = TypeParam::value;
    const std::uint8_t key[] = {0x3A};
    for (std::size_t length = 0; length <= 3 * 16 + B + 1; ++length) {
        std::vector<std::uint8_t> in(length);
        std::iota(in.begin(), in.end(), static_cast<std::uint8_t>(length));
        ToyCipher<B> cipher;
        cipher.CipherMode = TKC_ciphermode::cmCFB8bit;
        cipher.Init(key, 8);
        Model<B> model{cipher, {}};
        cipher.GetIV(model.cv);
        const auto expected = model.Run(TKC_ciphermode::cmCFB8bit, false, in);
        for (std::size_t cut = 0; cut <= length; ++cut) {
            cipher.Reset();
            std::vector<std::uint8_t> buf = in;
            cipher.Decrypt(Bytes(buf).first(cut), Bytes(buf).first(cut));
            cipher.Decrypt(Bytes(buf).subspan(cut), Bytes(buf).subspan(cut));
            ASSERT_EQ(buf, expected) << "length " << length << " cut " << cut;
        }
    }
}

TYPED_TEST(Modes, InitialVectorIsEncryptedZeroBlockAndCounterWraps) {
    constexpr std::size_t B = TypeParam::value;
    const std::uint8_t key[] = {0x21};
    ToyCipher<B> cipher;
    cipher.Init(key, 8);
    std::array<std::uint8_t, B> iv{}, zero{};
    cipher.GetIV(iv);
    cipher.EncryptBlock(zero, zero);
    EXPECT_EQ(iv, zero);

    // A counter of all 0xFF bytes wraps to zero after one block.
    std::array<std::uint8_t, B> ones;
    ones.fill(0xFF);
    cipher.SetIV(ones);
    cipher.CipherMode = TKC_ciphermode::cmCTR;
    std::array<std::uint8_t, B> data{};
    cipher.Encrypt(data, data);
    std::array<std::uint8_t, B> counter;
    cipher.GetIV(counter);
    EXPECT_EQ(counter, (std::array<std::uint8_t, B>{}));
    // ...and one ending in 00FF carries into the byte before.
    ones.fill(0);
    ones[B - 1] = 0xFF;
    cipher.SetIV(ones);
    cipher.Encrypt(data, data);
    cipher.GetIV(counter);
    EXPECT_EQ(counter[B - 2], 1);
    EXPECT_EQ(counter[B - 1], 0);
}

TEST(Modes, UnkeyedCipherRaisesAndWriteNothing) {
    TKC_blowfish cipher;
    std::array<std::uint8_t, 8> block{};
    for (auto mode : AllModes) {
        cipher.CipherMode = mode;
        EXPECT_THROW(cipher.Encrypt({}, {}), EKC_blockcipher);
        EXPECT_THROW(cipher.Decrypt(block, block), EKC_blockcipher);
    }
    EXPECT_THROW(cipher.Reset(), EKC_blockcipher);
    EXPECT_THROW(cipher.GetIV(block), EKC_blockcipher);
    EXPECT_THROW(cipher.SetIV(block), EKC_blockcipher);
    EXPECT_EQ(block, (std::array<std::uint8_t, 8>{}));
}

TEST(Modes, StringsAlwaysUseCfb8WhateverTheMode) {
    const std::uint8_t key[] = {1, 2, 3, 4, 5, 6, 7, 8};
    TKC_blowfish a, b;
    a.CipherMode = TKC_ciphermode::cmCTR;
    b.CipherMode = TKC_ciphermode::cmCBC;
    a.Init(key, 64);
    b.Init(key, 64);
    const std::string text = "a string longer than one block";
    const std::string sealed = a.EncryptString(text);
    EXPECT_EQ(b.DecryptString(sealed), text);
    EXPECT_EQ(a.EncryptString(""), "");
    EXPECT_EQ(a.DecryptString(""), "");
}

TEST(KeySetup, SizeRuleAndPasswordDerivation) {
    TKC_blowfish cipher;
    const std::uint8_t key[56] = {};
    EXPECT_THROW(cipher.Init(key, 0), EKC_cipher);
    EXPECT_THROW(cipher.Init(key, 6), EKC_cipher);
    EXPECT_THROW(cipher.Init(key, 452), EKC_cipher);
    // 4 bits pass the size rule but hold no whole byte to cycle over.
    EXPECT_THROW(cipher.Init(key, 4), EKC_cipher);
    EXPECT_FALSE(cipher.IsInitialized());
    cipher.Init(key, 448);
    EXPECT_TRUE(cipher.IsInitialized());
    // A 12-bit key is the 8-bit key of its first byte.
    const std::uint8_t k12[] = {0x7A, 0x35};
    TKC_blowfish eight, twelve;
    eight.Init(k12, 8);
    twelve.Init(k12, 12);
    std::array<std::uint8_t, 8> x{}, y{};
    eight.EncryptBlock(x, x);
    twelve.EncryptBlock(y, y);
    EXPECT_EQ(x, y);
}

}  // namespace
}  // namespace kestrune

namespace kestrune {
namespace {

// A digest class without a valid size, so that key set-up fails inside
// the guarded region.
class OddDigest final : public TKC_hash {
public:
    static constexpr std::int32_t ClassId = 1001;
    static constexpr std::string_view ClassAlgorithm = "Odd";
    static constexpr std::int32_t ClassHashSize = -8;
    static bool SelfTest() { return false; }
    const TKC_hashclass& Class() const noexcept override { return HashClassOf<OddDigest>; }

protected:
    void Start() noexcept override {}
    void Absorb(ConstBytes) noexcept override {}
    void Finish(Bytes) noexcept override {}
};

TEST(KeySetup, PasswordFailureIsReportedAsAllocationFailureAndLeavesCipherUnkeyed) {
    TKC_blowfish cipher;
    const std::uint8_t key[8] = {};
    cipher.Init(key, 64);
    try {
        cipher.InitFromPassword("pw", HashClassOf<OddDigest>);
        FAIL() << "no failure";
    } catch (const EKC_cipher& e) {
        EXPECT_STREQ(e.what(), "Unable to allocate sufficient memory for hash digest");
    }
    EXPECT_FALSE(cipher.IsInitialized());
}

}  // namespace
}  // namespace kestrune
