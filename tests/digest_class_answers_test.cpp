// The class-level answers callers see without an instance: identifiers,
// names and sizes are part of what users store and compare.
#include <gtest/gtest.h>

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

struct Answers {
    const TKC_hashclass* digestClass;
    std::int32_t id;
    const char* algorithm;
    std::int32_t hashSize;
};

TEST(DigestClassAnswers, IdsNamesAndSizes) {
    const Answers expected[] = {
        {&HashClassOf<TKC_sha1>, 2, "SHA1", 160},
        {&HashClassOf<TKC_ripemd160>, 10, "RipeMD-160", 160},
        {&HashClassOf<TKC_haval>, 14, "Haval (256bit, 5 passes)", 256},
        {&HashClassOf<TKC_md5>, 16, "MD5", 128},
        {&HashClassOf<TKC_md4>, 17, "MD4", 128},
        {&HashClassOf<TKC_tiger>, 18, "Tiger", 192},
        {&HashClassOf<TKC_ripemd128>, 27, "RipeMD-128", 128},
        {&HashClassOf<TKC_sha256>, 28, "SHA256", 256},
        {&HashClassOf<TKC_sha384>, 29, "SHA384", 384},
        {&HashClassOf<TKC_sha512>, 30, "SHA512", 512},
    };
    for (const auto& e : expected) {
        EXPECT_EQ(e.digestClass->GetId(), e.id) << e.algorithm;
        EXPECT_EQ(e.digestClass->GetAlgorithm(), e.algorithm) << e.id;
        EXPECT_EQ(e.digestClass->GetHashSize(), e.hashSize) << e.algorithm;
        const auto hash = e.digestClass->Create();
        EXPECT_EQ(hash->GetAlgorithm(), e.algorithm);
        EXPECT_EQ(hash->DigestBytes() * 8, static_cast<std::size_t>(e.hashSize));
    }
}

}  // namespace
}  // namespace kestrune
