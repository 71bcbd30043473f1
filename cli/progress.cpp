#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace kestrune::cli {
namespace {

using Clock = std::chrono::steady_clock;

// Quick operations show nothing.
constexpr auto Delay = std::chrono::milliseconds(300);
constexpr auto Tick = std::chrono::milliseconds(125);

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

std::string SizeText(std::uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    static constexpr const char* Units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(Units)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, Units[unit]);
    return text;
}

TProgress::TProgress(std::string activity, std::string done, std::string name, std::optional<std::uint64_t> size)
    : activity_(std::move(activity)),
      done_(std::move(done)),
      subject_(size ? std::move(name) + " (" + SizeText(*size) + ")" : std::move(name)),
      size_(size),
      start_(Clock::now()) {
    if (::isatty(STDERR_FILENO)) display_ = std::jthread([this](std::stop_token stop) { Show(stop); });
}

TProgress::~TProgress() { Finish(false); }

void TProgress::Show(std::stop_token stop) {
    static constexpr char Spinner[] = {'|', '/', '-', '\\'};
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, stop, Delay, [] { return false; });
    for (std::size_t turn = 0; !stop.stop_requested(); ++turn) {
        std::fprintf(stderr, "\r%s %s %c %.1f s", activity_.c_str(), subject_.c_str(), Spinner[turn % 4],
                     Seconds(Clock::now() - start_));
        std::fflush(stderr);
        shown_ = true;
        wake_.wait_for(lock, stop, Tick, [] { return false; });
    }
}

void TProgress::Finish(bool succeeded) {
    if (!display_.joinable()) return;
    display_.request_stop();
    display_.join();
    if (!shown_) return;
    const double seconds = Seconds(Clock::now() - start_);
    if (succeeded && size_)
        std::fprintf(stderr, "\r\033[K%s %s in %.1f s, %s/s\n", done_.c_str(), subject_.c_str(), seconds,
                     SizeText(static_cast<std::uint64_t>(static_cast<double>(*size_) / seconds)).c_str());
    else if (succeeded)
        std::fprintf(stderr, "\r\033[K%s %s in %.1f s\n", done_.c_str(), subject_.c_str(), seconds);
    else
        std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
}

}  // namespace kestrune::cli
