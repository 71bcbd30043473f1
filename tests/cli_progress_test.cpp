// The progress line's pieces at their edges (no bytes, no time, unknown
// and huge sizes, narrow terminals), and the bar as the built tool draws it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "cli/progress.h"
#include "cli_run.h"

namespace kestrune::cli {
namespace {

using testing_cli::RunShell;
using testing_cli::TRun;

std::size_t Columns(const std::string& text) {
    std::size_t columns = 0;
    for (char c : text) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return columns;
}

TEST(ProgressText, SizesRatesAndTimesAtTheirEdges) {
    const std::pair<std::uint64_t, const char*> sizes[] = {
        {0, "0 bytes"},         {1, "1 byte"},       {1023, "1023 bytes"},          {1024, "1.0 KiB"},
        {1048575, "1.0 MiB"},   {1536, "1.5 KiB"},   {5ull << 40, "5.0 TiB"},      {UINT64_MAX, "16.0 EiB"},
    };
    for (const auto& [bytes, text] : sizes) EXPECT_EQ(SizeText(bytes), text) << bytes;

    EXPECT_EQ(RateText(0, 0), "--");
    EXPECT_EQ(RateText(1 << 20, 0), "--");
    EXPECT_EQ(RateText(0, 2), "0 bytes/s");
    EXPECT_EQ(RateText(3 << 20, 2), "1.5 MiB/s");
    EXPECT_EQ(RateText(UINT64_MAX, 1e-9), "16.0 EiB/s");  // beyond 64 bits per second

    const std::tuple<std::uint64_t, double, const char*> etas[] = {
        {0, 100, "0:00"},          {0, 0, "0:00"},    {1, 100, "0:01"},  // a part of a second left counts as one
        {700, 100, "0:07"},        {372300, 100, "1:02:03"},
        {100, 0, "--:--"},         {100, -1, "--:--"},   {UINT64_MAX, 1, "--:--"},
        {UINT64_MAX, 1e300, "0:01"},
    };
    for (const auto& [remaining, rate, text] : etas) EXPECT_EQ(EtaText(remaining, rate), text) << remaining << " " << rate;
}

TEST(ProgressText, LinesFitTheTerminalAndSayWhatIsKnown) {
    // Known size: percentage, bar, bytes of the whole, rate and time left.
    const std::string half = ProgressLine("big.iso", 50 << 20, 100 << 20, 2, 80);
    EXPECT_EQ(half, "big.iso  50% [#########.........]  50.0 MiB / 100.0 MiB   25.0 MiB/s  ETA 0:02 ");
    // Never 100% before the end; an empty file is complete at once.
    EXPECT_NE(ProgressLine("f", 999, 1000, 1, 80).find(" 99% "), std::string::npos);
    EXPECT_NE(ProgressLine("f", 0, 0, 0, 80).find("100% ["), std::string::npos);
    EXPECT_NE(ProgressLine("f", 0, 0, 0, 80).find("ETA 0:00"), std::string::npos);
    EXPECT_NE(ProgressLine("f", 1, 2, 0, 80).find("--  ETA --:--"), std::string::npos);  // no time yet, no rate
    // The bar keeps its width while the numbers change.
    EXPECT_EQ(ProgressLine("f", 1 << 20, 1 << 30, 0.5, 80).find(']'), ProgressLine("f", 1 << 29, 1 << 30, 200, 80).find(']'));
    // Unknown size, or more than the size said (/proc): bytes and rate only.
    EXPECT_EQ(ProgressLine("standard input", 3 << 20, std::nullopt, 2, 80), "standard input 3.0 MiB  1.5 MiB/s");
    EXPECT_EQ(ProgressLine("cpuinfo", 2048, 0, 1, 80), "cpuinfo 2.0 KiB  2.0 KiB/s");
    // Huge sizes stay on the line.
    EXPECT_NE(ProgressLine("f", UINT64_MAX / 4, UINT64_MAX, 1, 80).find(" 25% "), std::string::npos);
    EXPECT_NE(ProgressLine("f", UINT64_MAX - 1, UINT64_MAX, 1, 80).find(" 99% "), std::string::npos);

    // Every width, a long and a control-character name: at most width - 1
    // columns, the name's end kept, nothing that moves the cursor.
    const std::string longName = "/very/long/directory/path/leading/to/the/file/named/Grüße-archive.tar";
    for (std::size_t width = 0; width <= 160; ++width) {
        for (const auto& size : {std::optional<std::uint64_t>(1 << 30), std::optional<std::uint64_t>()}) {
            const std::string line = ProgressLine(longName, 1 << 29, size, 3, width);
            EXPECT_LE(Columns(line), width == 0 ? 0 : width - 1) << width << line;
            if (width >= 80) {
                EXPECT_NE(line.find("archive.tar"), std::string::npos) << width << line;
            }
            if (width >= 100 && size) {
                EXPECT_NE(line.find("..."), std::string::npos) << line;
            }
        }
        const std::string line = ProgressLine("new\nline\r\033[2J", 1, 2, 1, width);
        EXPECT_EQ(line.find_first_of("\n\r\033"), std::string::npos) << width;
    }
    EXPECT_NE(ProgressLine(longName, 1, 2, 1, 200).find(longName), std::string::npos);
}

class ToolProgress : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kestrune-progress-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    TRun Shell(const std::string& script) const { return RunShell(dir, script); }
    void Write(const char* leaf, const std::string& content) const {
        std::ofstream(dir / leaf, std::ios::binary) << content;
    }
    std::filesystem::path dir;
};

TEST_F(ToolProgress, ShowsWhatWasReadAndIsClearedAtTheEnd) {
    Write("a b", "first");
    Write("big", std::string(3 << 20, 'x'));
    const char* clear = "\r\033[K";
    const auto lastFrame = [](const std::string& err) {
        const auto end = err.rfind("\033[K\r\033[K");
        if (end == std::string::npos) return std::string();
        const auto start = err.rfind('\r', end - 1) + 1;
        return err.substr(start, end - start);
    };
    // Known size: the final state is the whole file, then the line is cleared.
    const TRun hashed = Shell("$K hash-file --progress big");
    ASSERT_EQ(hashed.status, 0) << hashed.err;
    EXPECT_EQ(hashed.out, Shell("$K hash-file big").out);
    EXPECT_TRUE(hashed.err.ends_with(clear));
    const std::string final = lastFrame(hashed.err);
    EXPECT_TRUE(final.starts_with("big 100% [#")) << final;
    EXPECT_NE(final.find("]   3.0 MiB / 3.0 MiB  "), std::string::npos) << final;
    EXPECT_NE(final.find("/s  ETA 0:00"), std::string::npos) << final;
    // A stream: bytes and rate only.
    const std::string streamed = lastFrame(Shell("$K hash-file --progress - < big").err);
    EXPECT_TRUE(streamed.starts_with("standard input 3.0 MiB  ")) << streamed;
    EXPECT_EQ(streamed.find('%'), std::string::npos);
    // Several files, encryption and decryption.
    EXPECT_TRUE(lastFrame(Shell("$K hash-file --progress 'a b' big").err).starts_with("[2/2] big 100% "));
    for (const char* command : {"encrypt-file", "decrypt-file"}) {
        const TRun run = Shell(std::string("KESTRUNE_PASSWORD=pw $K ") + command + " --progress big out");
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(lastFrame(run.err).starts_with("big 100% [")) << command << run.err;
    }
    // Silent without a terminal, and with --quiet.
    EXPECT_EQ(Shell("$K hash-file big").err, "");
    EXPECT_EQ(Shell("$K hash-file big 'a b' -q").err, "");
    EXPECT_EQ(Shell("$K hash-file big --progress --quiet").status, 2);

    // On a terminal by default, once the work takes a while (here a stream
    // that ends half a second late); never with --quiet or --check --status.
    // (script runs the command with $SHELL, which may be a plain sh: no bash
    // syntax in it.)
    const auto slow = [](const std::string& command) {
        return "script -qec \"(cat big; sleep 0.5) | $K " + command + "\" /dev/null";
    };
    const TRun terminal = Shell(slow("hash-file -"));
    EXPECT_NE(terminal.out.find("\rstandard input 3.0 MiB  "), std::string::npos) << terminal.out;
    EXPECT_NE(terminal.out.find("\033[K\r\033[K"), std::string::npos) << terminal.out;
    ASSERT_EQ(Shell("$K hash-file --format sum - < big > list").status, 0);
    for (const char* silent : {"hash-file -q -", "hash-file -c list --status"}) {
        const TRun run = Shell(slow(silent));
        EXPECT_EQ(run.out.find('\033'), std::string::npos) << silent << run.out;
    }

    // Redraws at most ten a second: far fewer than the reads of a large file.
    Write("large", std::string(32 << 20, 'y'));
    const auto start = std::chrono::steady_clock::now();
    const TRun large = Shell("$K hash-file --progress large");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(large.status, 0);
    const auto frames = static_cast<double>(std::count(large.err.begin(), large.err.end(), '%'));
    EXPECT_LE(frames, seconds * 10 + 2) << seconds;
}

}  // namespace
}  // namespace kestrune::cli
