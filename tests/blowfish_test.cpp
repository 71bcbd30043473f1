// Blowfish against OpenSSL's, over every whole-byte key length: single
// blocks and the many-block paths of the modes (eight blocks interleaved).
#include <gtest/gtest.h>
#include <openssl/blowfish.h>

#include "ciphers/KCblowfish.h"
#include "tests/block_oracle.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace kestrune {
namespace {

TEST(Blowfish, EveryWholeByteKeyLengthMatchesOpenSsl) {
    const auto key = test::RandomBytes(56, 31);
    for (std::size_t bytes = 1; bytes <= key.size(); ++bytes) {
        TKC_blowfish ours;
        ours.Init(key, static_cast<std::uint32_t>(8 * bytes));
        BF_KEY ks;
        BF_set_key(&ks, static_cast<int>(bytes), key.data());
        auto run = [&ks](const test::Block8& in, int enc) {
            test::Block8 out;
            BF_ecb_encrypt(in.data(), out.data(), &ks, enc);
            return out;
        };
        test::ExpectMatchesReference(
            ours, [&](const test::Block8& b) { return run(b, BF_ENCRYPT); },
            [&](const test::Block8& b) { return run(b, BF_DECRYPT); }, std::to_string(8 * bytes) + "-bit key");
    }
}

}  // namespace
}  // namespace kestrune
