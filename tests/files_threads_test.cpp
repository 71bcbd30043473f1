// File operations from several threads at once, as objects in several
// apartments run them: each thread's round trip is whole, and a source that
// every thread hashes at once gives every one the same digest. And the
// stream operations that read and write on a second thread.
#include "tests/files_test.h"

#include <array>
#include <cstdint>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "ciphers/KCrc4.h"
#include "tests/memory_stream.h"
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

using test::MemoryStream;

std::vector<std::uint8_t> Content(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
    return bytes;
}

constexpr std::size_t RunBytes = 2 * StreamPieceSize;

// Two threads make the same reads, pieces and writes as one with a buffer
// of one run: RC4 restarts at every piece, so any other cut would show.
// Sizes cut the runs and the ring of slots; a source that delivers little
// per read is still read to the size given.
TEST(StreamThreads, TwoGiveTheSameBytesAndReadsAsOne) {
    const std::vector<std::uint8_t> key(16, 7);
    for (const std::size_t length :
         {std::size_t{0}, std::size_t{1}, RunBytes - 1, RunBytes, RunBytes + 1, StreamRuns * RunBytes, 7 * RunBytes + 5}) {
        for (const std::uint64_t size : {std::uint64_t{length}, StreamToEnd}) {
            for (const std::size_t most : {SIZE_MAX, std::size_t{5000}}) {
                std::vector<std::uint8_t> one(RunBytes), two(StreamRuns * RunBytes);
                TKC_rc4 cipher;
                cipher.Init(key, 128);
                MemoryStream source(Content(length), most), byOne;
                const auto deliveredByOne = cipher.EncryptStream(source, byOne, size, one);
                cipher.Init(key, 128);
                MemoryStream again(Content(length), most), byTwo;
                EXPECT_EQ(cipher.EncryptStream(again, byTwo, size, two, StreamThreads::Two), deliveredByOne);
                EXPECT_EQ(byTwo.data, byOne.data) << length << " " << most;
                EXPECT_EQ(std::make_pair(again.reads, byTwo.writes), std::make_pair(source.reads, byOne.writes));
                EXPECT_EQ(two, std::vector<std::uint8_t>(two.size()));  // wiped
            }
        }
    }
    MemoryStream source(Content(100)), dest;
    std::vector<std::uint8_t> notThreeRuns(2 * StreamPieceSize);
    TKC_rc4 cipher;
    cipher.Init(std::vector<std::uint8_t>(16, 7), 128);
    EXPECT_THROW(cipher.EncryptStream(source, dest, StreamToEnd, notThreeRuns, StreamThreads::Two), EKC_cipher);
}

// A read or a write that raises, on either thread, and a cipher that raises
// end the operation with that error: nothing more is read or written after
// a failed read or write, nothing hangs, and the buffer is wiped.
TEST(StreamThreads, FailuresOnEitherThreadReachTheCaller) {
    const std::vector<std::uint8_t> key(16, 7);
    for (const std::size_t failAt : {std::size_t{1}, std::size_t{4}}) {
        for (const bool reading : {true, false}) {
            std::vector<std::uint8_t> buffer(StreamRuns * RunBytes);
            MemoryStream source(Content(20 * RunBytes)), dest;
            (reading ? source : dest).failAt = failAt;
            TKC_rc4 cipher;
            cipher.Init(key, 128);
            EXPECT_THROW(cipher.EncryptStream(source, dest, StreamToEnd, buffer, StreamThreads::Two),
                         std::runtime_error);
            EXPECT_EQ(reading ? source.reads : dest.writes, failAt + 1);
            EXPECT_EQ(buffer, std::vector<std::uint8_t>(buffer.size()));
        }
    }
    // A cipher used before Init raises at the first run, while reads go on.
    std::vector<std::uint8_t> buffer(StreamRuns * RunBytes);
    MemoryStream source(Content(20 * RunBytes)), dest;
    TKC_rc4 cipher;
    EXPECT_THROW(cipher.EncryptStream(source, dest, StreamToEnd, buffer, StreamThreads::Two), EKC_cipher);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(buffer.size()));
}

}  // namespace
}  // namespace kestrune
