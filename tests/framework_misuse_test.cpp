// Misuse of the framework's sized buffers and keys raises the framework's
// own exceptions, never a silent fallback or a foreign exception type.
#include <gtest/gtest.h>

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
#include "hashes/KChaval.h"
#include "hashes/KCmd4.h"
#include "hashes/KCmd5.h"
#include "hashes/KCripemd128.h"
#include "hashes/KCripemd160.h"
#include "hashes/KCsha1.h"
#include "hashes/KCsha256.h"
#include "hashes/KCsha512.h"
#include "hashes/KCtiger.h"

namespace kestrune {
namespace {

using ByteVector = std::vector<std::uint8_t>;

// Runs call, which must raise Exception with the given message.
template <typename Exception, typename Call>
void ExpectRaise(Call call, const char* message) {
    try {
        call();
        ADD_FAILURE() << "nothing raised; expected \"" << message << '"';
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), message);
    }
}

// Per cipher: the smallest key the cipher accepts. Smaller keys raise
// "Invalid key size": the zero-filling ciphers accept any size the base rule
// does (4 bits and up); the others refuse sizes their key set-up cannot run
// with (no key byte or word to cycle over).
struct KeyFloor {
    const TKC_cipherclass* cls;
    std::uint32_t smallestBits;
};
const KeyFloor KeyFloors[] = {
    {&CipherClassOf<TKC_blowfish>, 8}, {&CipherClassOf<TKC_cast128>, 4}, {&CipherClassOf<TKC_cast256>, 4},
    {&CipherClassOf<TKC_des>, 4},      {&CipherClassOf<TKC_3des>, 4},    {&CipherClassOf<TKC_ice>, 4},
    {&CipherClassOf<TKC_thinice>, 4},  {&CipherClassOf<TKC_ice2>, 4},    {&CipherClassOf<TKC_idea>, 4},
    {&CipherClassOf<TKC_mars>, 32},    {&CipherClassOf<TKC_misty1>, 4},  {&CipherClassOf<TKC_rc2>, 8},
    {&CipherClassOf<TKC_rc4>, 8},      {&CipherClassOf<TKC_rc5>, 8},     {&CipherClassOf<TKC_rc6>, 8},
    {&CipherClassOf<TKC_rijndael>, 4}, {&CipherClassOf<TKC_serpent>, 4}, {&CipherClassOf<TKC_tea>, 4},
    {&CipherClassOf<TKC_twofish>, 4},  {&CipherClassOf<TKC_xtea>, 4},
};

TEST(KeySizes, SmallestAcceptedKeyPerCipher) {
    const ByteVector key(64, 0x5A);
    for (const auto& [cls, smallest] : KeyFloors) {
        SCOPED_TRACE(std::string(cls->GetAlgorithm()));
        auto cipher = cls->Create();
        cipher->Init(key, smallest);
        EXPECT_TRUE(cipher->IsInitialized());
        ByteVector data(11, 1);
        cipher->Encrypt(data, data);
        for (std::uint32_t bits = 0; bits < smallest; bits += 4) {
            ExpectRaise<EKC_cipher>([&] { cipher->Init(key, bits); }, "Invalid key size");
            EXPECT_FALSE(cipher->IsInitialized());
        }
        if (auto* block = dynamic_cast<TKC_blockcipher*>(cipher.get())) {
            block->Init(key, smallest);
            ExpectRaise<EKC_cipher>([&] { block->ExpandKey(key, smallest - 4); }, "Invalid key size");
            EXPECT_FALSE(block->IsInitialized()) << "a failed key schedule wipes";
        }
    }
}

TEST(KeySizes, ExpandKeyHoldsToTheKeyBuffer) {
    TKC_blowfish cipher;
    const ByteVector key(8, 1);
    // 72 bits asked of an 8-byte buffer: refused, not read past its end.
    ExpectRaise<EKC_cipher>([&] { cipher.ExpandKey(key, 72); }, "Invalid key size");
    ExpectRaise<EKC_cipher>([&] { cipher.Init(key, 72); }, "Invalid key size");
}

TEST(BlockMisuse, WrongSizedBuffersRaiseAndChangeNothing) {
    for (const auto& [cls, smallest] : KeyFloors) {
        if (cls->GetBlockSize() < 0) continue;
        SCOPED_TRACE(std::string(cls->GetAlgorithm()));
        auto owner = cls->Create();
        auto& cipher = dynamic_cast<TKC_blockcipher&>(*owner);
        const std::size_t B = cipher.GetBlockBytes();
        const ByteVector key(16, 3), iv(B, 9), shortIv(B - 1, 9), longIv(B + 1, 9);

        // An initial vector shorter than a block once passed for "no initial vector".
        ExpectRaise<EKC_blockcipher>([&] { cipher.Init(key, 64, shortIv); }, "Invalid initial vector size");
        ExpectRaise<EKC_blockcipher>([&] { cipher.Init(key, 64, longIv); }, "Invalid initial vector size");
        EXPECT_FALSE(cipher.IsInitialized());
        cipher.Init(key, 64, iv);
        ExpectRaise<EKC_blockcipher>([&] { cipher.SetIV(shortIv); }, "Invalid initial vector size");

        ByteVector chain(B), small(B - 1), large(B + 1);
        ExpectRaise<EKC_blockcipher>([&] { cipher.GetIV(small); }, "Buffer is not one block");
        ExpectRaise<EKC_blockcipher>([&] { cipher.EncryptBlock(large, chain); }, "Buffer is not one block");
        ExpectRaise<EKC_blockcipher>([&] { cipher.DecryptBlock(chain, small); }, "Buffer is not one block");
        for (int mode = 0; mode <= 4; ++mode) {
            cipher.CipherMode = static_cast<TKC_ciphermode>(mode);
            ExpectRaise<EKC_blockcipher>([&] { cipher.Encrypt(chain, large); }, "Source and destination sizes differ");
            ExpectRaise<EKC_blockcipher>([&] { cipher.Decrypt(large, chain); }, "Source and destination sizes differ");
        }
        cipher.GetIV(chain);
        EXPECT_EQ(chain, iv) << "the chain stays where it was";
    }
}

TEST(CipherMisuse, StreamCipherRaisesOnUnequalBuffers) {
    TKC_rc4 cipher;
    const ByteVector key(16, 3);
    cipher.Init(key, 128);
    ByteVector a(4), b(5);
    ExpectRaise<EKC_cipher>([&] { cipher.Encrypt(a, b); }, "Source and destination sizes differ");
    ExpectRaise<EKC_cipher>([&] { cipher.Decrypt(b, a); }, "Source and destination sizes differ");
}

TEST(HashMisuse, ShortDigestBufferRaisesAndKeepsTheMessage) {
    const TKC_hashclass* all[] = {&HashClassOf<TKC_md4>,       &HashClassOf<TKC_md5>,    &HashClassOf<TKC_ripemd128>,
                                  &HashClassOf<TKC_ripemd160>, &HashClassOf<TKC_sha1>,   &HashClassOf<TKC_sha256>,
                                  &HashClassOf<TKC_sha384>,    &HashClassOf<TKC_sha512>, &HashClassOf<TKC_haval>,
                                  &HashClassOf<TKC_tiger>};
    for (const TKC_hashclass* cls : all) {
        SCOPED_TRACE(std::string(cls->GetAlgorithm()));
        auto hash = cls->Create();
        hash->Init();
        hash->UpdateFromString("abc");
        ByteVector digest(hash->DigestBytes() - 1), whole(hash->DigestBytes()), expected(whole.size());
        ExpectRaise<EKC_hash>([&] { hash->Final(digest); }, "Digest buffer too small");
        // The message is still there: a right-sized buffer completes it.
        hash->Final(whole);
        hash->Init();
        hash->UpdateFromString("abc");
        hash->Final(expected);
        EXPECT_EQ(whole, expected);
    }
}

}  // namespace
}  // namespace kestrune
