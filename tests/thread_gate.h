// A meeting point for a fixed number of threads, reusable round after
// round. Made of a mutex and a condition variable because the C++20
// barrier and latch of the Windows cross compiler's library can lose a
// wake-up and leave a test hanging.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kestrune::test {

class TThreadGate {
public:
    explicit TThreadGate(int parties) noexcept : parties_(parties) {}

    // Returns once all parties of this round have arrived.
    void ArriveAndWait() {
        std::unique_lock lock(mutex_);
        const std::uint64_t round = round_;
        if (++arrived_ == parties_) {
            arrived_ = 0;
            ++round_;
            opened_.notify_all();
            return;
        }
        opened_.wait(lock, [&] { return round_ != round; });
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    const int parties_;
    int arrived_ = 0;
    std::uint64_t round_ = 0;
};

}  // namespace kestrune::test
