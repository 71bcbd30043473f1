// The class-level answers of the 64-bit ciphers are part of the object's
// contract (scripts read Algorithm, Id and MaxKeySize): pin them.
#include <gtest/gtest.h>

#include "ciphers/KCcast128.h"
#include "ciphers/KCdes.h"
#include "ciphers/KCidea.h"
#include "ciphers/KCrc2.h"
#include "ciphers/KCrc5.h"

namespace kestrune {
namespace {

TEST(Ciphers64ClassAnswers, IdsNamesAndSizes) {
    struct Expected {
        const TKC_cipherclass* cls;
        std::int32_t id;
        const char* name;
        std::int32_t maxKeyBits;
    };
    const Expected all[] = {
        {&CipherClassOf<TKC_cast128>, 7, "Cast128", 128}, {&CipherClassOf<TKC_des>, 23, "DES", 64},
        {&CipherClassOf<TKC_3des>, 24, "3DES", 192},      {&CipherClassOf<TKC_idea>, 12, "IDEA", 128},
        {&CipherClassOf<TKC_rc2>, 1, "RC2", 1024},        {&CipherClassOf<TKC_rc5>, 3, "RC5", 2048},
    };
    for (const auto& e : all) {
        EXPECT_EQ(e.cls->GetId(), e.id) << e.name;
        EXPECT_EQ(e.cls->GetAlgorithm(), e.name);
        EXPECT_EQ(e.cls->GetMaxKeySize(), e.maxKeyBits) << e.name;
        EXPECT_EQ(e.cls->GetBlockSize(), 64) << e.name;
        auto cipher = e.cls->Create();
        EXPECT_EQ(cipher->GetAlgorithm(), e.name);
    }
}

}  // namespace
}  // namespace kestrune
