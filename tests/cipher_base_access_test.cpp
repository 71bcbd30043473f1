// Code that knows a cipher only by its class reference drives it through
// TKC_cipher / TKC_blockcipher: every member must answer there exactly as
// the concrete class answers when called by name.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "ciphers/KCblowfish.h"
#include "ciphers/KCcast128.h"
#include "ciphers/KCcast256.h"
#include "ciphers/KCdes.h"
#include "ciphers/KCice.h"
#include "ciphers/KCidea.h"
#include "ciphers/KCmars.h"
#include "ciphers/KCmisty1.h"
#include "ciphers/KCrc2.h"
#include "ciphers/KCrc4.h"
#include "ciphers/KCrc5.h"
#include "ciphers/KCrc6.h"
#include "ciphers/KCrijndael.h"
#include "ciphers/KCserpent.h"
#include "ciphers/KCtea.h"
#include "ciphers/KCtwofish.h"
#include "ciphers/KCxtea.h"
#include "hashes/KCsha256.h"

namespace kestrune {
namespace {

using ByteVector = std::vector<std::uint8_t>;

ByteVector Counting(std::size_t n, std::uint8_t start) {
    ByteVector v(n);
    std::iota(v.begin(), v.end(), start);
    return v;
}

template <typename Cipher>
class BaseAccess : public ::testing::Test {};

using AllCiphers = ::testing::Types<TKC_blowfish, TKC_cast128, TKC_cast256, TKC_des, TKC_3des, TKC_ice, TKC_thinice,
                                    TKC_ice2, TKC_idea, TKC_mars, TKC_misty1, TKC_rc2, TKC_rc4, TKC_rc5, TKC_rc6,
                                    TKC_rijndael, TKC_serpent, TKC_tea, TKC_twofish, TKC_xtea>;
TYPED_TEST_SUITE(BaseAccess, AllCiphers);

TYPED_TEST(BaseAccess, ClassReferenceAnswersAndMakesTheClass) {
    const TKC_cipherclass& cls = CipherClassOf<TypeParam>;
    EXPECT_EQ(cls.GetId(), TypeParam::ClassId);
    EXPECT_EQ(cls.GetAlgorithm(), TypeParam::ClassAlgorithm);
    EXPECT_EQ(cls.GetMaxKeySize(), TypeParam::ClassMaxKeySize);
    EXPECT_EQ(cls.GetBlockSize(), TypeParam::ClassBlockSize);
    EXPECT_TRUE(cls.SelfTest());

    const std::unique_ptr<TKC_cipher> cipher = cls.Create();
    ASSERT_NE(dynamic_cast<TypeParam*>(cipher.get()), nullptr);
    EXPECT_EQ(&cipher->Class(), &cls);
    EXPECT_EQ(cipher->GetId(), cls.GetId());
    EXPECT_EQ(cipher->GetAlgorithm(), cls.GetAlgorithm());
    EXPECT_EQ(cipher->GetMaxKeySize(), cls.GetMaxKeySize());
    EXPECT_FALSE(cipher->IsInitialized());
    auto* block = dynamic_cast<TKC_blockcipher*>(cipher.get());
    ASSERT_EQ(block != nullptr, cls.GetBlockSize() > 0);
    if (block) {
        EXPECT_EQ(block->GetBlockSize(), cls.GetBlockSize());
        EXPECT_EQ(block->GetBlockBytes() * 8, static_cast<std::size_t>(cls.GetBlockSize()));
        EXPECT_EQ(block->CipherMode, TKC_ciphermode::cmCBC);
    }
}

// The cipher-level members, for stream and block ciphers alike.
TYPED_TEST(BaseAccess, CipherMembersMatchTheConcreteClass) {
    const std::unique_ptr<TKC_cipher> base = CipherClassOf<TypeParam>.Create();
    TypeParam named;
    const auto keyBits = static_cast<std::uint32_t>(std::min(TypeParam::ClassMaxKeySize, 128));
    const ByteVector key = Counting(keyBits / 8, 1), plain = Counting(37, 100);

    base->Init(key, keyBits);
    named.Init(key, keyBits);
    EXPECT_TRUE(base->IsInitialized());
    EXPECT_EQ(base->Provider(), named.Provider());
    ByteVector a(plain.size()), b(plain.size());
    base->Encrypt(plain, a);
    named.Encrypt(plain, b);
    EXPECT_EQ(a, b);
    base->Reset();
    named.Reset();
    base->Decrypt(a, a);
    named.Decrypt(b, b);
    EXPECT_EQ(a, plain);
    EXPECT_EQ(b, plain);

    base->InitFromPassword("password", HashClassOf<TKC_sha256>);
    named.InitFromPassword("password", HashClassOf<TKC_sha256>);
    const std::string text = "through the base";
    const std::string sealed = base->EncryptString(text);
    EXPECT_EQ(sealed, named.EncryptString(text));
    base->Reset();
    EXPECT_EQ(base->DecryptString(sealed), text);

    base->Wipe();
    EXPECT_FALSE(base->IsInitialized());
    EXPECT_THROW(base->Encrypt(plain, a), EKC_cipher);
}

// The string members over the caller's buffers answer as the string
// members do (block ciphers in CFB-8 whatever the mode), decrypt where the
// Base64 was, and refuse an output without room before touching anything.
TYPED_TEST(BaseAccess, TextMembersGiveTheStringAnswers) {
    TypeParam cipher;
    if constexpr (TypeParam::ClassBlockSize > 0) cipher.CipherMode = TKC_ciphermode::cmCTR;
    cipher.InitFromPassword("password", HashClassOf<TKC_sha256>);
    const std::string text = "over the caller's buffers, 47 bytes in all here";
    const std::string sealed = cipher.EncryptString(text);
    for (const std::size_t size : {0, 1, 2, 3, 47}) {
        cipher.Reset();
        std::string bytes = text.substr(0, size), base64(Base64EncodedSize(size) + 2, '#');
        const std::size_t written = cipher.EncryptText(Bytes(reinterpret_cast<std::uint8_t*>(bytes.data()), size), base64);
        EXPECT_EQ(base64.substr(0, written), EncodeBase64String(DecodeBase64String(sealed).substr(0, size))) << size;
        EXPECT_EQ(base64.substr(written), "##");
        cipher.Reset();
        std::string buffer = base64.substr(0, written);
        const auto inPlace = Bytes(reinterpret_cast<std::uint8_t*>(buffer.data()), buffer.size());
        EXPECT_EQ(buffer.substr(0, cipher.DecryptText(buffer, inPlace)), text.substr(0, size));
    }
    cipher.Reset();
    std::string bytes = text, base64(Base64EncodedSize(text.size()) - 1, '#');
    EXPECT_THROW(cipher.EncryptText(Bytes(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()), base64), EKC_cipher);
    EXPECT_EQ(bytes, text);
    ByteVector out(sealed.size() / 4 * 3 - 1, 0);
    EXPECT_THROW(cipher.DecryptText(sealed, out), EKC_cipher);
    EXPECT_EQ(out, ByteVector(out.size(), 0));
    cipher.Reset();
    EXPECT_EQ(cipher.DecryptString(sealed), text) << "the refused calls left the cipher where it was";
}

// The block-cipher members: block size, key schedule, IV, one block, every mode.
TYPED_TEST(BaseAccess, BlockMembersMatchTheConcreteClass) {
    if constexpr (TypeParam::ClassBlockSize > 0) {
        const std::unique_ptr<TKC_cipher> owner = CipherClassOf<TypeParam>.Create();
        TKC_blockcipher& base = dynamic_cast<TKC_blockcipher&>(*owner);
        TypeParam named;
        const std::size_t B = base.GetBlockBytes();
        const auto keyBits = static_cast<std::uint32_t>(std::min(TypeParam::ClassMaxKeySize, 128));
        const ByteVector key = Counting(keyBits / 8, 7), iv = Counting(B, 0xA0), plain = Counting(3 * B + 5, 0x30);

        base.Init(key, keyBits, iv);
        named.Init(key, keyBits, iv);
        ByteVector x(B), y(B);
        base.GetIV(x);
        EXPECT_EQ(x, iv);

        const ByteVector block = Counting(B, 0x55);
        base.EncryptBlock(block, x);
        named.EncryptBlock(block, y);
        EXPECT_EQ(x, y);
        base.DecryptBlock(x, x);
        EXPECT_EQ(x, block);

        using Mode = void (TKC_blockcipher::*)(ConstBytes, Bytes);
        const struct {
            TKC_ciphermode mode;
            Mode encrypt, decrypt;
        } modes[] = {
            {TKC_ciphermode::cmCBC, &TKC_blockcipher::EncryptCBC, &TKC_blockcipher::DecryptCBC},
            {TKC_ciphermode::cmCFB8bit, &TKC_blockcipher::EncryptCFB8bit, &TKC_blockcipher::DecryptCFB8bit},
            {TKC_ciphermode::cmCFBblock, &TKC_blockcipher::EncryptCFBblock, &TKC_blockcipher::DecryptCFBblock},
            {TKC_ciphermode::cmOFB, &TKC_blockcipher::EncryptOFB, &TKC_blockcipher::DecryptOFB},
            {TKC_ciphermode::cmCTR, &TKC_blockcipher::EncryptCTR, &TKC_blockcipher::DecryptCTR},
        };
        for (const auto& m : modes) {
            SCOPED_TRACE(static_cast<int>(m.mode));
            ByteVector viaMember(plain.size()), viaMode(plain.size()), viaNamed(plain.size());
            base.SetIV(iv);
            (base.*m.encrypt)(plain, viaMember);
            base.SetIV(iv);
            base.CipherMode = m.mode;
            base.Encrypt(plain, viaMode);
            named.SetIV(iv);
            named.CipherMode = m.mode;
            named.Encrypt(plain, viaNamed);
            EXPECT_EQ(viaMember, viaNamed);
            EXPECT_EQ(viaMode, viaNamed);
            base.GetIV(x);
            named.GetIV(y);
            EXPECT_EQ(x, y) << "chaining value after the call";
            base.SetIV(iv);
            (base.*m.decrypt)(viaMember, viaMember);
            EXPECT_EQ(viaMember, plain);
        }

        // A new schedule under the same chain: the IV stays, blocks follow the new key.
        const ByteVector other = Counting(keyBits / 8, 0xC3);
        base.SetIV(iv);
        named.SetIV(iv);
        base.ExpandKey(other, keyBits);
        named.ExpandKey(other, keyBits);
        base.GetIV(x);
        EXPECT_EQ(x, iv);
        base.EncryptBlock(block, x);
        named.EncryptBlock(block, y);
        EXPECT_EQ(x, y);
        TypeParam fresh;
        fresh.Init(other, keyBits, iv);
        fresh.EncryptBlock(block, y);
        EXPECT_EQ(x, y);

        base.Wipe();
        EXPECT_THROW(base.EncryptBlock(block, x), EKC_blockcipher);
        EXPECT_THROW(base.GetIV(x), EKC_blockcipher);
    }
}

}  // namespace
}  // namespace kestrune
