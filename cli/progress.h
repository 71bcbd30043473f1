// A progress bar for the file commands on standard error: percentage,
// bytes, rate and time left, drawn from the read path as the object reads
// the source, so it shows what has really been read. A stream of unknown
// length shows bytes and rate only. The line is cleared at the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "object/KCfiles.h"

namespace kestrune::cli {

enum class TProgressMode {
    Auto,    // shown when standard error is a terminal and the work takes a while
    Forced,  // --progress: shown from the first read, wherever standard error goes
    Off,     // --quiet
};

TProgressMode ProgressModeFor(bool forced, bool quiet) noexcept;

// Observes one source for as long as it lives.
class TProgress final : public ReadObserver {
public:
    // label names the source on the line.
    TProgress(TProgressMode mode, std::string label, TKC_sourcefile& source);
    ~TProgress();
    TProgress(const TProgress&) = delete;
    TProgress& operator=(const TProgress&) = delete;

    void BytesRead(std::size_t count) noexcept override;

    // Draws the final state if the bar is shown, then clears the line;
    // called before the command prints its result.
    void Finish() noexcept;

private:
    using Clock = std::chrono::steady_clock;
    void Draw(Clock::time_point now) noexcept;

    TKC_sourcefile* source_;
    TProgressMode mode_;
    std::string label_;
    std::optional<std::uint64_t> size_;
    std::uint64_t done_ = 0;
    Clock::time_point start_, lastDraw_;
    std::size_t width_ = 80;
    bool shown_ = false;
};

// The pieces of the line, apart from any terminal.

// 1536 -> "1.5 KiB"; up to EiB.
std::string SizeText(std::uint64_t bytes);
// Bytes per second, "--" before any time has passed.
std::string RateText(std::uint64_t bytes, double seconds);
// Time left at that rate: "0:07", "1:02:03"; "--:--" when it cannot be told
// (no rate yet, or more than 99 hours); "0:00" when nothing is left.
std::string EtaText(std::uint64_t remaining, double bytesPerSecond);
// One line of at most width - 1 columns (a full line would wrap on some
// terminals); the bar is left out when it would be too short.
std::string ProgressLine(std::string_view label, std::uint64_t done, std::optional<std::uint64_t> size, double seconds,
                         std::size_t width);

}  // namespace kestrune::cli
