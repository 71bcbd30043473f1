// Progress of a file operation on standard error, when that is a terminal.
// The object handles a file in one call, so this shows that the work goes on
// (a spinner and the elapsed time, from a second thread) rather than how far
// it has come; operations that end quickly leave no trace.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace kestrune::cli {

class TProgress {
public:
    // activity: "Encrypting", done: "Encrypted"; size in bytes, unknown for a stream.
    TProgress(std::string activity, std::string done, std::string name, std::optional<std::uint64_t> size);
    ~TProgress();
    TProgress(const TProgress&) = delete;
    TProgress& operator=(const TProgress&) = delete;

    // Stops the display; a summary line follows if the display was shown
    // and the operation succeeded.
    void Finish(bool succeeded);

private:
    void Show(std::stop_token stop);

    std::string activity_, done_, subject_;
    std::optional<std::uint64_t> size_;
    std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    bool shown_ = false;
    std::jthread display_;
};

// 1536 -> "1.5 KiB".
std::string SizeText(std::uint64_t bytes);

}  // namespace kestrune::cli
