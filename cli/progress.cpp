#include "progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kestrune::cli {
namespace {

// Quick operations leave no trace on a terminal; redraws at most ten a second.
constexpr auto Delay = std::chrono::milliseconds(300);
constexpr auto Interval = std::chrono::milliseconds(100);

constexpr std::size_t MinBar = 10, MaxBar = 50;

// Columns of UTF-8 text, one per code point.
std::size_t Columns(std::string_view text) noexcept {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The first or the last `columns` code points.
std::string_view Head(std::string_view text, std::size_t columns) noexcept {
    std::size_t i = 0;
    for (std::size_t seen = 0; i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == columns) break;
    return text.substr(0, i);
}

std::string_view Tail(std::string_view text, std::size_t columns) noexcept {
    const std::size_t total = Columns(text);
    if (total <= columns) return text;
    return text.substr(Head(text, total - columns).size());
}

// A long path keeps its end, where the file's own name is.
std::string Shortened(std::string_view label, std::size_t columns) {
    if (Columns(label) <= columns) return std::string(label);
    if (columns <= 3) return std::string(Head("...", columns));
    return "..." + std::string(Tail(label, columns - 3));
}

// Control characters in a file name would move the cursor.
std::string Printable(std::string_view text) {
    std::string printable(text);
    for (char& c : printable)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return printable;
}

std::string Padded(std::string text, std::size_t columns, bool right = true) {
    const std::string pad(columns > text.size() ? columns - text.size() : 0, ' ');
    return right ? pad + text : text + pad;
}

std::size_t TerminalWidth() noexcept {
    winsize size{};
    if (::isatty(STDERR_FILENO) && ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    if (const char* columns = std::getenv("COLUMNS")) {
        const long value = std::strtol(columns, nullptr, 10);
        if (value > 0 && value < 10000) return static_cast<std::size_t>(value);
    }
    return 80;
}

}  // namespace

TProgressMode ProgressModeFor(bool forced, bool quiet) noexcept {
    if (quiet) return TProgressMode::Off;
    return forced ? TProgressMode::Forced : TProgressMode::Auto;
}

std::string SizeText(std::uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    static constexpr const char* Units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    // 1023.96 KiB would print as "1024.0 KiB".
    while (value >= 1023.95 && unit + 1 < std::size(Units)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, Units[unit]);
    return text;
}

std::string RateText(std::uint64_t bytes, double seconds) {
    if (!(seconds > 0)) return "--";
    const double rate = static_cast<double>(bytes) / seconds;
    // A huge count over a tiny time is beyond what 64 bits hold.
    const std::uint64_t perSecond = rate >= 0x1p64 ? UINT64_MAX : static_cast<std::uint64_t>(rate);
    return SizeText(perSecond) + "/s";
}

std::string EtaText(std::uint64_t remaining, double bytesPerSecond) {
    constexpr double Most = 99 * 3600 + 59 * 60 + 59;
    if (remaining == 0) return "0:00";
    if (!(bytesPerSecond > 0)) return "--:--";
    const double seconds = std::ceil(static_cast<double>(remaining) / bytesPerSecond);
    if (!(seconds <= Most)) return "--:--";
    const auto total = static_cast<unsigned>(seconds);
    const unsigned hours = total / 3600, minutes = total / 60 % 60, secs = total % 60;
    char text[16];
    if (hours > 0)
        std::snprintf(text, sizeof text, "%u:%02u:%02u", hours, minutes, secs);
    else
        std::snprintf(text, sizeof text, "%u:%02u", minutes, secs);
    return text;
}

std::string ProgressLine(std::string_view label, std::uint64_t done, std::optional<std::uint64_t> size, double seconds,
                         std::size_t width) {
    const std::size_t room = width > 1 ? width - 1 : 0;
    const std::string name = Printable(label);
    const std::string rate = RateText(done, seconds);
    // A file that delivers more than its size said (/proc) has no known end.
    if (!size || done > *size) {
        const std::string stats = " " + SizeText(done) + "  " + rate;
        return Shortened(name, room > Columns(stats) ? room - Columns(stats) : 0) + std::string(Head(stats, room));
    }
    const double fraction = *size == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(*size);
    // Never 100% before the last byte.
    const int percent = done == *size ? 100 : std::min(99, static_cast<int>(fraction * 100));
    char percentText[16];
    std::snprintf(percentText, sizeof percentText, "%3d%%", percent);
    const double elapsedRate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    // Fields padded to their usual widest ("999.9 MiB", "999.9 MiB/s", "59:59"),
    // so that the bar keeps its width from one redraw to the next.
    const std::string stats = Padded(SizeText(done), 9) + " / " + SizeText(*size) + "  " + Padded(rate, 11) +
                              "  ETA " + Padded(EtaText(*size - done, elapsedRate), 5, false);
    // name, percentage, [bar,] stats: one space apart.
    const std::size_t fixed = 1 + 4 + 1 + Columns(stats);
    const auto spare = [room](std::size_t used) { return room > used ? room - used : 0; };
    // The name gives way to a short bar, down to a third of the line.
    const std::size_t labelColumns =
        std::min(Columns(name), std::max(spare(fixed + MinBar + 3), room / 3));
    std::string bar;
    if (const std::size_t left = spare(fixed + labelColumns); left >= MinBar + 3) {
        const std::size_t barWidth = std::min(left - 3, MaxBar);
        const auto filled = static_cast<std::size_t>(fraction * static_cast<double>(barWidth));
        bar = "[" + std::string(filled, '#') + std::string(barWidth - filled, '.') + "] ";
    }
    const std::string line = Shortened(name, labelColumns) + " " + percentText + " " + bar + stats;
    return std::string(Head(line, room));
}

TProgress::TProgress(TProgressMode mode, std::string label, TKC_sourcefile& source)
    : source_(&source),
      mode_(mode == TProgressMode::Auto && !::isatty(STDERR_FILENO) ? TProgressMode::Off : mode),
      label_(std::move(label)),
      size_(source.IsStream() ? std::nullopt : std::optional(source.Size())),
      start_(Clock::now()),
      width_(mode_ == TProgressMode::Off ? 80 : TerminalWidth()) {
    if (mode_ != TProgressMode::Off) source.SetObserver(this);
}

TProgress::~TProgress() { Finish(); }

void TProgress::BytesRead(std::size_t count) noexcept {
    done_ += count;
    const auto now = Clock::now();
    if (shown_ ? now - lastDraw_ < Interval : mode_ == TProgressMode::Auto && now - start_ < Delay) return;
    Draw(now);
}

void TProgress::Draw(Clock::time_point now) noexcept {
    try {
        const std::string line =
            "\r" + ProgressLine(label_, done_, size_, std::chrono::duration<double>(now - start_).count(), width_) +
            "\033[K";
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
        shown_ = true;
        lastDraw_ = now;
    } catch (...) {
        // Out of memory for a line of text: the work goes on without it.
    }
}

void TProgress::Finish() noexcept {
    if (mode_ == TProgressMode::Off) return;
    source_->SetObserver(nullptr);
    if (shown_ || mode_ == TProgressMode::Forced) {
        Draw(Clock::now());
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    mode_ = TProgressMode::Off;
}

}  // namespace kestrune::cli
