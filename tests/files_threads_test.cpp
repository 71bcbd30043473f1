// File operations from several threads at once, as objects in several
// apartments run them: each thread's round trip is whole, and a source that
// every thread hashes at once gives every one the same digest.
#include "tests/files_test.h"

#include <array>
#include <thread>
#include <vector>

#include "tests/thread_gate.h"

namespace kestrune {
namespace {

TEST_F(Files, ConcurrentOperationsEachCompleteWhole) {
    constexpr int Threads = 4;
    Write("shared", Pattern(300'000));
    const std::u16string expected = k.HashFile(Name("shared"));
    test::TThreadGate start(Threads);
    std::array<bool, Threads> passed{};
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            const TKestrune own;
            const std::string leaf = "plain" + std::to_string(t);
            Write(leaf, Pattern(100'000 + static_cast<std::size_t>(t)));
            start.ArriveAndWait();
            bool ok = own.EncryptFile(Name(leaf), Name(leaf + ".enc"), u"pw") == 0 &&
                      own.DecryptFile(Name(leaf + ".enc"), Name(leaf + ".back"), u"pw") == 0;
            // The shared source may be held by another thread's hash for a moment: a refusal is an answer, a wrong digest is not.
            for (int tries = 0; tries < 100; ++tries)
                if (const auto digest = own.HashFile(Name("shared")); !digest.empty()) {
                    ok = ok && digest == expected;
                    break;
                }
            passed[static_cast<std::size_t>(t)] = ok && Read(leaf + ".back") == Read(leaf);
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < Threads; ++t) EXPECT_TRUE(passed[static_cast<std::size_t>(t)]) << t;
}

}  // namespace
}  // namespace kestrune
