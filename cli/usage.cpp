#include "usage.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <limits>
#include <vector>

namespace kestrune::cli {
namespace {

// Lower case without hyphens, so that "HashString" meets "hash-string".
std::string Folded(std::string_view text) {
    std::string folded;
    for (char c : text)
        if (c != '-' && c != '_') folded.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return folded;
}

// Edits (insert, delete, replace, swap of neighbours) from a to b.
std::size_t Distance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

}  // namespace

std::string UsageMessage(const CLI::App* app, const CLI::Error& e) {
    std::string message;
    if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
        std::string names;
        std::size_t values = 0;
        for (const std::string& arg : app->remaining(true)) {
            if (arg.size() > 1 && arg.front() == '-')
                names += " " + arg.substr(0, arg.find('='));
            else
                ++values;
        }
        message = "unexpected arguments:" + names;
        if (values > 0) message += (names.empty() ? " " : " and ") + std::to_string(values) + " value(s), not shown";
    } else {
        message = e.what();
        if (!message.empty()) message[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(message[0])));
    }
    return "kestrune: " + message + "\nRun with --help for more information.\n";
}

std::optional<std::string> NearestName(std::string_view typed, std::span<const std::string> names) {
    const std::string wanted = Folded(typed);
    std::optional<std::string> best;
    std::size_t bestDistance = std::max<std::size_t>(2, wanted.size() / 3) + 1;
    for (const std::string& name : names) {
        const std::string folded = Folded(name);
        // A prefix of one name only is meant as that name ("enc" is not, "gen" is).
        std::size_t distance = Distance(wanted, folded);
        if (wanted.size() >= 3 && folded.starts_with(wanted)) distance = std::min<std::size_t>(distance, 1);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = name;
        } else if (distance == bestDistance) {
            best.reset();  // two as near: neither is the one meant
        }
    }
    return best;
}

std::optional<std::string> UnknownCommand(const CLI::App& app, int argc, const char* const* argv) {
    if (argc < 2 || argv[1][0] == '-' || argv[1][0] == '\0') return std::nullopt;
    const std::string typed = argv[1];
    std::vector<std::string> names;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
        if (command->check_name(typed)) return std::nullopt;
        names.push_back(command->get_name());
    }
    std::string message = "kestrune: unknown command '" + typed + "'";
    if (const auto nearest = NearestName(typed, names)) return message + ": did you mean " + *nearest + "?\n";
    return message + "\nRun with --help for the list of commands.\n";
}

CLI::Validator CountRange() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            std::int32_t value = 0;
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
            if (error == std::errc{} && end == text.data() + text.size() && value >= 0) return {};
            return "'" + text + "' is not a count: use a whole number from 0 to " +
                   std::to_string(std::numeric_limits<std::int32_t>::max());
        },
        "COUNT", "count");
}

int FinishOutput(int status) {
    // A write that failed earlier left its errno; later calls may have
    // changed it, so only an error that a write gives is taken as its cause.
    int error = errno;
    const bool failedBefore = !std::cout.good();
    errno = 0;
    if (std::cout.flush() && std::fflush(stdout) == 0) return status;
    if (!failedBefore || errno != 0) error = errno;
    static constexpr int WriteErrors[] = {ENOSPC, EDQUOT, EPIPE, EIO, EFBIG, EBADF};
    const bool known = std::find(std::begin(WriteErrors), std::end(WriteErrors), error) != std::end(WriteErrors);
    std::cerr << "kestrune: cannot write to standard output" << (known ? std::string(": ") + std::strerror(error) : "")
              << '\n';
    return ExitFailure;
}

}  // namespace kestrune::cli
