// Wrong usage: the nearest command for a mistyped one, the prefix on the
// parser's messages, counts, and output that cannot be written.
#include <gtest/gtest.h>

#include <vector>

#include "cli/usage.h"

namespace kestrune::cli {
namespace {

TEST(Usage, AMistypedCommandSuggestsTheNearestOnly) {
    const std::vector<std::string> names = {"hash-string", "hash-file", "encrypt-string", "decrypt-string",
                                            "encrypt-file", "decrypt-file", "gen-password", "list", "selftest"};
    const std::pair<const char*, const char*> cases[] = {
        {"hashstring", "hash-string"},     {"HashFile", "hash-file"},  {"encrpyt-file", "encrypt-file"},
        {"self-test", "selftest"},         {"lsit", "list"},           {"genpassword", "gen-password"},
        {"decrypt-strings", "decrypt-string"}, {"gen", "gen-password"},
    };
    for (const auto& [typed, meant] : cases) EXPECT_EQ(NearestName(typed, names), meant) << typed;
    // Nothing near, or two as near.
    for (const char* typed : {"frobnicate", "x", "encrypt", "hash"}) EXPECT_EQ(NearestName(typed, names), std::nullopt) << typed;
}

TEST(Usage, UnknownCommandsAreToldAndKnownOnesPass) {
    CLI::App app("test", "kestrune");
    app.add_subcommand("hash-string", "");
    app.add_subcommand("list", "");
    const auto unknown = [&](std::vector<const char*> args) {
        args.insert(args.begin(), "kestrune");
        return UnknownCommand(app, static_cast<int>(args.size()), args.data());
    };
    EXPECT_EQ(unknown({"hashstring", "abc"}), "kestrune: unknown command 'hashstring': did you mean hash-string?\n");
    EXPECT_EQ(unknown({"frobnicate"}), "kestrune: unknown command 'frobnicate'\nRun with --help for the list of commands.\n");
    EXPECT_EQ(unknown({"list"}), std::nullopt);
    EXPECT_EQ(unknown({}), std::nullopt);
    // Options are the parser's: a misplaced --password must not be echoed as a command.
    EXPECT_EQ(unknown({"--password", "secret", "list"}), std::nullopt);
}

TEST(Usage, ParserMessagesCarryThePrefixAndCountsArePlain) {
    CLI::App app("test", "kestrune");
    int count = 0;
    app.add_option("-c,--count", count)->check(CountRange());
    for (const char* bad : {"-1", "x", "2147483648", "1.5"}) {
        const char* argv[] = {"kestrune", "-c", bad};
        try {
            app.parse(3, argv);
            ADD_FAILURE() << bad;
        } catch (const CLI::ParseError& e) {
            const std::string message = UsageMessage(&app, e);
            EXPECT_EQ(message.rfind("kestrune: ", 0), 0u) << message;
            EXPECT_NE(message.find("use a whole number from 0 to 2147483647"), std::string::npos) << message;
            EXPECT_LT(message.size(), 200u) << message;
        }
    }
}

}  // namespace
}  // namespace kestrune::cli
