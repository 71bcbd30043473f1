// CAST-256, RC5 and RC6 against Crypto++ (libgcrypt has none of them) in
// every mode over many blocks, on every path this processor has: the
// published vectors cover one block, and the many-block groups and the
// serial modes' chaining in registers would otherwise be checked only
// against each other.
#include <cryptopp/cast.h>
#include <cryptopp/modes.h>
#include <cryptopp/rc5.h>
#include <cryptopp/rc6.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ciphers/KCcast256.h"
#include "ciphers/KCrc5.h"
#include "ciphers/KCrc6.h"
#include "tests/block_oracle.h"
#include "tests/cpu_paths.h"

namespace kestrune {
namespace {

using Data = std::vector<std::uint8_t>;

template <typename Mode>
Data Run(const Data& key, const Data& iv, const Data& data, int rounds, int feedbackBytes = 0) {
    Mode mode;
    auto params = CryptoPP::MakeParameters(CryptoPP::Name::IV(), CryptoPP::ConstByteArrayParameter(iv.data(), iv.size()));
    if (feedbackBytes) params(CryptoPP::Name::FeedbackSize(), feedbackBytes);
    if (rounds) params(CryptoPP::Name::Rounds(), rounds);
    mode.SetKey(key.data(), key.size(), params);
    Data out(data.size());
    mode.ProcessData(out.data(), data.data(), data.size());
    return out;
}

template <typename C>
Data CryptoppEncrypt(TKC_ciphermode m, const Data& key, const Data& iv, const Data& data, int rounds) {
    switch (m) {
    case TKC_ciphermode::cmCBC: return Run<typename CryptoPP::CBC_Mode<C>::Encryption>(key, iv, data, rounds);
    case TKC_ciphermode::cmCFB8bit: return Run<typename CryptoPP::CFB_Mode<C>::Encryption>(key, iv, data, rounds, 1);
    case TKC_ciphermode::cmCFBblock: return Run<typename CryptoPP::CFB_Mode<C>::Encryption>(key, iv, data, rounds);
    case TKC_ciphermode::cmOFB: return Run<typename CryptoPP::OFB_Mode<C>::Encryption>(key, iv, data, rounds);
    case TKC_ciphermode::cmCTR: return Run<typename CryptoPP::CTR_Mode<C>::Encryption>(key, iv, data, rounds);
    }
    return {};
}

// 149 whole blocks (CBC in the reference takes no partial block): sets of
// sixty-four, groups of every lane width and a rest in one call; cut after
// five blocks, the sets and groups fall elsewhere in each call.
template <typename Ours, typename Theirs>
void ExpectCryptoppAnswers(int rounds = 0) {
    const auto block = static_cast<std::size_t>(Ours().GetBlockSize() / 8);
    const auto data = test::RandomBytes(block * 149, 71);
    const auto iv = test::RandomBytes(block, 72);
    for (const auto& path : test::CpuPathsOf([] { return Ours().Provider(); })) {
        const CpuFeatures::Restriction only(path.allowed);
        for (const std::size_t keyBytes : {16u, 32u}) {
            const auto key = test::RandomBytes(keyBytes, 73);
            for (int mode = 0; mode <= 4; ++mode) {
                const auto m = static_cast<TKC_ciphermode>(mode);
                const auto expected = CryptoppEncrypt<Theirs>(m, key, iv, data, rounds);
                for (const std::size_t cut : {std::size_t{0}, block * 5}) {
                    const auto where = path.provider + ", " + std::to_string(8 * keyBytes) + "-bit key, mode " +
                                       std::to_string(mode) + ", cut " + std::to_string(cut);
                    Ours ours;
                    ours.CipherMode = m;
                    ours.Init(key, static_cast<std::uint32_t>(8 * keyBytes), iv);
                    auto buffer = data;
                    ours.Encrypt(ConstBytes(buffer).first(cut), Bytes(buffer).first(cut));
                    ours.Encrypt(ConstBytes(buffer).subspan(cut), Bytes(buffer).subspan(cut));
                    EXPECT_EQ(test::ToHex(buffer), test::ToHex(expected)) << where;
                    ours.Reset();
                    ours.Decrypt(ConstBytes(buffer).first(cut), Bytes(buffer).first(cut));
                    ours.Decrypt(ConstBytes(buffer).subspan(cut), Bytes(buffer).subspan(cut));
                    EXPECT_EQ(buffer, data) << where << " decrypting";
                }
            }
        }
    }
}

TEST(Cast256, EveryModeMatchesCryptoppOverManyBlocksOnEveryPath) { ExpectCryptoppAnswers<TKC_cast256, CryptoPP::CAST256>(); }

TEST(RC6, EveryModeMatchesCryptoppOverManyBlocksOnEveryPath) { ExpectCryptoppAnswers<TKC_rc6, CryptoPP::RC6>(); }

// RC5-32 with 12 rounds; Crypto++ takes 16 unless told.
TEST(RC5, EveryModeMatchesCryptoppOverManyBlocksOnEveryPath) { ExpectCryptoppAnswers<TKC_rc5, CryptoPP::RC5>(12); }

}  // namespace
}  // namespace kestrune
