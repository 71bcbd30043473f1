// HAVAL differs from the published HAVAL-256/5 only in its pad byte. With the
// published byte 0x01 the same compression and trailer must give the
// published values, which checks both independently of our own three values.
#include <gtest/gtest.h>

#include "hashes/KChaval.h"
#include "tests/vectors.h"

namespace kestrune {
namespace {

class PublishedHaval : public TKC_haval {
public:
    PublishedHaval() noexcept : TKC_haval(0x01) {}
};

std::string Digest(TKC_hash& hash, const std::vector<std::uint8_t>& message, std::size_t pieceSize) {
    hash.Init();
    for (std::size_t off = 0; off < message.size(); off += pieceSize)
        hash.Update(ConstBytes(message).subspan(off, std::min(pieceSize, message.size() - off)));
    std::vector<std::uint8_t> digest(32);
    hash.Final(digest);
    return test::ToHex(digest);
}

TEST(Haval, PadByte01GivesThePublishedDigests) {
    const auto records = test::RecordsFor("haval.vec", "HAVAL-256/5", {"computed"});
    ASSERT_EQ(records.size(), 6u);
    PublishedHaval published;
    TKC_haval ours;
    for (const auto& rec : records) {
        const auto message = rec.Bytes("In");
        const auto expected = test::ToHex(rec.Bytes("Out"));
        for (std::size_t pieceSize : {std::max<std::size_t>(message.size(), 1), std::size_t{1}, std::size_t{7}})
            EXPECT_EQ(Digest(published, message, pieceSize), expected) << rec.Where() << " piece size " << pieceSize;
        EXPECT_NE(Digest(ours, message, 64), expected) << rec.Where() << ": our pad byte is 0x80";
    }
}

}  // namespace
}  // namespace kestrune
