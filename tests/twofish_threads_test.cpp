// Twofish's shared MDS table is built by whichever thread constructs the
// first instance; threads that construct theirs meanwhile must wait for it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ciphers/KCtwofish.h"
#include "tests/vectors.h"

namespace kestrune {
namespace {

TEST(TwofishThreads, ConcurrentFirstConstructionsAllEncryptCorrectly) {
    const auto records = test::RecordsFor("twofish.vec", "Twofish");
    ASSERT_GE(records.size(), 8u);
    constexpr int Threads = 8;
    std::atomic<int> waiting{Threads};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            // Start together, so the constructions race for the table.
            waiting.fetch_sub(1);
            while (waiting.load() > 0) std::this_thread::yield();
            TKC_twofish cipher;
            for (int round = 0; round < 20; ++round) {
                const auto& rec = records[static_cast<std::size_t>(t * 7 + round) % records.size()];
                const auto key = rec.Bytes("Key"), plain = rec.Bytes("In");
                std::array<std::uint8_t, 16> block;
                std::copy(plain.begin(), plain.end(), block.begin());
                cipher.Init(key, static_cast<std::uint32_t>(key.size() * 8));
                cipher.EncryptBlock(block, block);
                if (test::ToHex({block.begin(), block.end()}) != rec.fields.at("Out")) failures.fetch_add(1);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace kestrune
