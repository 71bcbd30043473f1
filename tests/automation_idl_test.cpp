// The committed type-library source is what the member table writes, so
// that the type library built from it on the platform describes the same
// members, DISPIDs and defaults that dispatch here follows.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "automation/KCidl.h"

namespace {

TEST(TypeLibrarySource, TheCommittedIdlIsWhatTheMemberTableWrites) {
    std::ifstream in(std::string(KESTRUNE_SOURCE_DIR) + "/automation/brindel_Kestrune.idl", std::ios::binary);
    ASSERT_TRUE(in) << "automation/brindel_Kestrune.idl is missing";
    const std::string committed{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::ostringstream written;
    kestrune::automation::WriteIdl(written);
    EXPECT_EQ(committed, written.str()) << "run kestrune_idl > automation/brindel_Kestrune.idl";
}

}  // namespace
