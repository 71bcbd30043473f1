// RC4: the published key streams, and this system's rule that every Encrypt
// or Decrypt call restarts the counters i and j while the permutation runs on.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <string>
#include <vector>

#include "ciphers/KCrc4.h"
#include "framework/KCblockciphers.h"
#include "hashes/KCmd5.h"
#include "tests/memory_stream.h"
#include "tests/vectors.h"

namespace kestrune {
namespace {

using ByteVector = std::vector<std::uint8_t>;

// A plain RC4 written from the algorithm, for key sizes and call patterns
// that no published vector covers.
struct ModelRc4 {
    std::array<std::uint8_t, 256> s{};

    ModelRc4(const ByteVector& key, std::size_t keyBytes) {
        std::iota(s.begin(), s.end(), 0);
        std::uint8_t j = 0;
        for (std::size_t i = 0; i < 256; ++i) {
            j = static_cast<std::uint8_t>(j + s[i] + key[i % keyBytes]);
            std::swap(s[i], s[j]);
        }
    }
    // One call: i and j start at 0.
    ByteVector KeyStream(std::size_t n) {
        ByteVector out(n);
        std::uint8_t i = 0, j = 0;
        for (auto& b : out) {
            ++i;
            j = static_cast<std::uint8_t>(j + s[i]);
            std::swap(s[i], s[j]);
            b = s[static_cast<std::uint8_t>(s[i] + s[j])];
        }
        return out;
    }
};

ByteVector Pattern(std::size_t n, std::uint8_t mul = 31, std::uint8_t add = 7) {
    ByteVector v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * mul + add);
    return v;
}

ByteVector Xor(ByteVector a, const ByteVector& b) {
    for (std::size_t i = 0; i < a.size(); ++i) a[i] ^= b[i];
    return a;
}

ByteVector Encrypted(TKC_rc4& cipher, ByteVector data) {
    cipher.Encrypt(data, data);
    return data;
}

using test::MemoryStream;

TEST(RC4, PublishedKeyStreamsInOneCall) {
    const auto records = test::RecordsFor("rc4.vec", "RC4");
    ASSERT_FALSE(records.empty());
    TKC_rc4 cipher;
    for (const auto& rec : records) {
        const auto key = rec.Bytes("Key");
        const auto in = rec.Bytes("In");
        const auto skip = static_cast<std::size_t>(rec.Number("Skip", 0));
        ByteVector data(skip);
        data.insert(data.end(), in.begin(), in.end());
        cipher.Init(key, static_cast<std::uint32_t>(key.size() * 8));
        cipher.Encrypt(data, data);
        EXPECT_EQ(test::ToHex({data.begin() + static_cast<std::ptrdiff_t>(skip), data.end()}),
                  test::ToHex(rec.Bytes("Out")))
            << rec.Where();
        cipher.Reset();
        cipher.Decrypt(data, data);
        EXPECT_TRUE(std::all_of(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(skip),
                                [](std::uint8_t b) { return b == 0; }))
            << rec.Where();
        EXPECT_EQ(test::ToHex({data.begin() + static_cast<std::ptrdiff_t>(skip), data.end()}), test::ToHex(in))
            << rec.Where();
    }
}

TEST(RC4, SelfTestAndUnkeyedUse) {
    const auto& cls = CipherClassOf<TKC_rc4>;
    EXPECT_EQ(cls.GetBlockSize(), -1);
    EXPECT_TRUE(cls.SelfTest());
    TKC_rc4 cipher;
    ByteVector data(4);
    cipher.Init(Pattern(8), 64);
    cipher.Wipe();
    for (int op = 0; op < 3; ++op) {
        try {
            if (op == 0) cipher.Encrypt(data, data);
            if (op == 1) cipher.Decrypt(data, data);
            if (op == 2) cipher.Reset();
            FAIL() << "operation " << op << " ran unkeyed";
        } catch (const EKC_blockcipher&) {
            FAIL() << "RC4 raised the block-cipher exception";
        } catch (const EKC_cipher& e) {
            EXPECT_STREQ(e.what(), "Cipher not initialized");
        }
    }
    EXPECT_EQ(data, ByteVector(4));
}

TEST(RC4, KeySizesFromFourTo2048Bits) {
    TKC_rc4 cipher;
    const auto key = Pattern(300);
    // The base rule, and 4 bits: no whole byte to cycle over.
    for (std::uint32_t bits : {0u, 4u, 6u, 2052u}) {
        cipher.Init(key, 64);
        try {
            cipher.Init(key, bits);
            FAIL() << bits << "-bit key accepted";
        } catch (const EKC_cipher& e) {
            EXPECT_STREQ(e.what(), "Invalid key size");
        }
        EXPECT_FALSE(cipher.IsInitialized()) << bits;
    }
    // 12 bits use one whole byte.
    cipher.Init(key, 12);
    const auto twelve = Encrypted(cipher, ByteVector(32));
    cipher.Init(key, 8);
    EXPECT_EQ(twelve, Encrypted(cipher, ByteVector(32)));
    // 2048 bits fill the key array exactly once.
    cipher.Init(key, 2048);
    EXPECT_EQ(Encrypted(cipher, ByteVector(600)), ModelRc4(key, 256).KeyStream(600));
    // 40 bits cycle their five bytes over the key array.
    ByteVector cycled(256);
    for (std::size_t i = 0; i < cycled.size(); ++i) cycled[i] = key[i % 5];
    cipher.Init(key, 40);
    const auto forty = Encrypted(cipher, ByteVector(100));
    EXPECT_EQ(forty, ModelRc4(key, 5).KeyStream(100));
    cipher.Init(cycled, 2048);
    EXPECT_EQ(Encrypted(cipher, ByteVector(100)), forty);
}

// The key schedule patches the swap that writes the entry it has already
// read for the next step (j = i + 1), about once per key: many keys of every
// length from 1 to 64 bytes take that path often.
TEST(RC4, KeySchedulesOfManyKeysMatchTheModel) {
    TKC_rc4 cipher;
    for (std::size_t keyBytes = 1; keyBytes <= 64; ++keyBytes) {
        for (std::uint8_t seed = 0; seed < 4; ++seed) {
            const auto key = Pattern(keyBytes, static_cast<std::uint8_t>(2 * keyBytes + 1), seed);
            cipher.Init(key, static_cast<std::uint32_t>(8 * keyBytes));
            EXPECT_EQ(Encrypted(cipher, ByteVector(40)), ModelRc4(key, keyBytes).KeyStream(40))
                << keyBytes << " bytes, seed " << int{seed};
        }
    }
}

TEST(RC4, EachCallRestartsTheCountersOnTheRunningPermutation) {
    const auto key = Pattern(16, 17, 3);
    TKC_rc4 cipher;
    cipher.Init(key, 128);
    const auto whole = Encrypted(cipher, ByteVector(10));
    cipher.Reset();
    const auto first = Encrypted(cipher, ByteVector(5));
    const auto second = Encrypted(cipher, ByteVector(5));
    EXPECT_EQ(first, ByteVector(whole.begin(), whole.begin() + 5));
    ModelRc4 model(key, 16);
    model.KeyStream(5);
    EXPECT_EQ(second, model.KeyStream(5));
    EXPECT_NE(second, ByteVector(whole.begin() + 5, whole.end()));

    // Lengths around the runs of 8 (from i = 8) and of 64 (from i = 64) and
    // the wrap of i, every call checked against the model.
    cipher.Reset();
    ModelRc4 running(key, 16);
    for (std::size_t n : {0u, 1u, 7u, 8u, 15u, 62u, 63u, 64u, 71u, 100u, 126u, 127u, 128u, 255u, 256u, 257u, 319u, 320u, 1000u}) {
        const auto data = Pattern(n);
        EXPECT_EQ(Encrypted(cipher, data), Xor(data, running.KeyStream(n))) << n;
    }
}

TEST(RC4, ResetReturnsToThePermutationAfterKeySetUpAndIVIsIgnored) {
    const auto key = Pattern(7);
    const auto text = Pattern(77, 5, 1);
    TKC_rc4 cipher;
    cipher.Init(key, 56);
    const auto first = Encrypted(cipher, text);
    EXPECT_NE(Encrypted(cipher, text), first);
    cipher.Reset();
    EXPECT_EQ(Encrypted(cipher, text), first);
    ByteVector back(first.size());  // destination separate from source
    cipher.Reset();
    cipher.Decrypt(first, back);
    EXPECT_EQ(back, text);

    TKC_rc4 withIV;
    withIV.Init(key, 56, Pattern(8, 3, 9));
    EXPECT_EQ(Encrypted(withIV, text), first);
}

TEST(RC4, StringsRoundTrip) {
    TKC_rc4 cipher;
    cipher.InitFromPassword("secret", HashClassOf<TKC_md5>);
    const std::string text = "The quick brown fox jumps over the lazy dog";
    const auto encoded = cipher.EncryptString(text);
    EXPECT_NE(encoded, text);
    EXPECT_EQ(cipher.EncryptString(""), "");

    TKC_rc4 other;  // a second instance with the same password starts where the first did
    other.InitFromPassword("secret", HashClassOf<TKC_md5>);
    EXPECT_EQ(other.DecryptString(encoded), text);
    cipher.Reset();
    EXPECT_EQ(cipher.DecryptString(encoded), text);
    EXPECT_EQ(cipher.DecryptString(""), "");
}

// Streams go through Encrypt once per 8192-byte piece, so the 8193rd byte is
// covered by a key stream that restarts i = j = 0 on the permutation left
// after 8192 steps.
TEST(RC4, StreamsRestartTheCountersAtEveryPiece) {
    const auto key = Pattern(16, 11, 2);
    const auto plain = Pattern(StreamPieceSize + 1, 3, 5);
    TKC_rc4 cipher;
    cipher.Init(key, 128);
    MemoryStream source(plain), encrypted;
    EXPECT_EQ(cipher.EncryptStream(source, encrypted, plain.size()), plain.size());
    ASSERT_EQ(encrypted.data.size(), plain.size());

    ModelRc4 model(key, 16);
    const auto firstPiece = model.KeyStream(StreamPieceSize);
    const auto restarted = model.KeyStream(1);
    EXPECT_EQ(ByteVector(encrypted.data.begin(), encrypted.data.end() - 1),
              Xor(ByteVector(plain.begin(), plain.end() - 1), firstPiece));
    EXPECT_EQ(encrypted.data.back(), plain.back() ^ restarted[0]);

    cipher.Reset();
    MemoryStream decrypted;
    EXPECT_EQ(cipher.DecryptStream(encrypted, decrypted, encrypted.data.size()), plain.size());
    EXPECT_EQ(decrypted.data, plain);
}

// A larger buffer reads and writes runs of pieces, but the cipher sees the
// same pieces: with RC4, which restarts at each, any other cut would show.
TEST(RC4, StreamsThroughALargerBufferKeepThePieces) {
    const auto key = Pattern(16, 11, 2);
    const auto plain = Pattern(5 * StreamPieceSize + 7, 3, 5);
    TKC_rc4 cipher;
    for (const std::uint64_t size : {std::uint64_t{plain.size()}, StreamToEnd}) {
        cipher.Init(key, 128);
        MemoryStream source(plain), byPiece;
        cipher.EncryptStream(source, byPiece, size);
        cipher.Init(key, 128);
        MemoryStream again(plain), byRun;
        ByteVector run(2 * StreamPieceSize);
        EXPECT_EQ(cipher.EncryptStream(again, byRun, size, run), plain.size());
        EXPECT_EQ(byRun.data, byPiece.data);
        EXPECT_EQ(run, ByteVector(run.size()));  // wiped
    }
    ByteVector odd(StreamPieceSize + 1);
    MemoryStream source(plain), dest;
    EXPECT_THROW(cipher.EncryptStream(source, dest, StreamToEnd, odd), EKC_cipher);
}

}  // namespace
}  // namespace kestrune
