// One Update of 512 MiB and more holds 2^32 bits and more: the bit count must
// not wrap at 32 bits. OpenSSL, fed the same buffer, is the reference; the
// three digests cover the big-endian 64- and 128-bit and the little-endian
// 64-bit length fields.
#include <gtest/gtest.h>
#include <openssl/md5.h>
#include <openssl/sha.h>

#include <algorithm>
#include <vector>

#include "hashes/KCmd5.h"
#include "hashes/KCsha256.h"
#include "hashes/KCsha512.h"
#include "tests/vectors.h"

namespace kestrune {
namespace {

// 512 MiB and 3 bytes, so that the length is not a multiple of a block either.
const std::vector<std::uint8_t>& LargeMessage() {
    static const std::vector<std::uint8_t> message = [] {
        // A 64 KiB pattern, then copies of what is already filled.
        std::vector<std::uint8_t> m((std::size_t{512} << 20) + 3);
        std::size_t filled = 65536;
        for (std::size_t i = 0; i < filled; ++i) m[i] = static_cast<std::uint8_t>(i ^ (i >> 11));
        for (; filled < m.size(); filled *= 2)
            std::copy_n(m.begin(), std::min(filled, m.size() - filled), m.begin() + static_cast<std::ptrdiff_t>(filled));
        return m;
    }();
    return message;
}

template <typename Digest>
std::string OneUpdate(const std::vector<std::uint8_t>& message) {
    Digest hash;
    hash.Init();
    hash.Update(message);
    std::vector<std::uint8_t> digest(hash.DigestBytes());
    hash.Final(digest);
    return test::ToHex(digest);
}

std::string Reference(unsigned char* (*reference)(const unsigned char*, std::size_t, unsigned char*),
                      const std::vector<std::uint8_t>& message, std::size_t size) {
    std::vector<std::uint8_t> digest(64);
    reference(message.data(), message.size(), digest.data());
    digest.resize(size);
    return test::ToHex(digest);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
TEST(DigestLargeUpdate, Sha256SingleUpdateOf512MiB) {
    EXPECT_EQ(OneUpdate<TKC_sha256>(LargeMessage()), Reference(&SHA256, LargeMessage(), 32));
}

TEST(DigestLargeUpdate, Sha512SingleUpdateOf512MiB) {
    EXPECT_EQ(OneUpdate<TKC_sha512>(LargeMessage()), Reference(&SHA512, LargeMessage(), 64));
}

TEST(DigestLargeUpdate, Md5SingleUpdateOf512MiB) {
    EXPECT_EQ(OneUpdate<TKC_md5>(LargeMessage()), Reference(&MD5, LargeMessage(), 16));
}
#pragma GCC diagnostic pop

}  // namespace
}  // namespace kestrune
