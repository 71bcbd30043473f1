// The man page and the shell completions as the build writes them: the page
// renders without a warning and has the sections written by hand; each
// shell loads its completion, which offers the commands and every name of
// the catalogues, whatever the catalogue holds when the test is built.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/algorithms.h"
#include "object/KCcatalogue.h"

namespace {

struct TShellRun {
    int status = -1;
    std::string out;  // standard output and standard error
};

// Runs command with sh; paths reach it through the environment, not quoted into it.
TShellRun Shell(const std::string& command) {
    TShellRun run;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return run;
    for (char buffer[4096]; const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe);) run.out.append(buffer, n);
    run.status = ::pclose(pipe);
    return run;
}

std::set<std::string> Lines(const std::string& text) {
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.insert(line.substr(0, line.find('\t')));
    return lines;
}

// The names a completion offers for a row: lower case, hyphens for spaces.
std::string CompletionName(std::string_view name) {
    std::string word;
    for (char c : name) word.push_back(c == ' ' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return word;
}

std::vector<std::string> DigestNames() {
    std::vector<std::string> names;
    for (const auto& row : kestrune::DigestCatalogue()) names.push_back(CompletionName(row.name));
    return names;
}
std::vector<std::string> CipherNames() {
    std::vector<std::string> names;
    for (const auto& row : kestrune::CipherCatalogue()) {
        names.push_back(CompletionName(row.name));
        for (const auto& alias : kestrune::cli::CipherAliases(row.code)) names.push_back(alias);
    }
    return names;
}
std::vector<std::string> ModeNames() {
    std::vector<std::string> names;
    for (std::int32_t mode = 0; !kestrune::cli::ModeName(mode).empty(); ++mode)
        names.emplace_back(kestrune::cli::ModeName(mode));
    return names;
}

const std::vector<std::string> Commands = {"hash-string", "hash-file", "encrypt-string", "decrypt-string", "encrypt-file",
                                           "decrypt-file", "gen-password", "list", "selftest", "batch", "call",
                                           "register", "unregister", "help", "upgrade", "age-decrypt"};

void ExpectAll(const std::set<std::string>& offered, const std::vector<std::string>& wanted, const std::string& what) {
    for (const auto& name : wanted) EXPECT_TRUE(offered.contains(name)) << what << " does not offer " << name;
}

#ifdef KESTRUNE_MAN_PAGE
TEST(ManPage, RendersWithoutWarningsAndHasEverySection) {
    ::setenv("KESTRUNE_MAN_PAGE", KESTRUNE_MAN_PAGE, 1);
    const TShellRun warnings = Shell("MANWIDTH=80 man --warnings -l \"$KESTRUNE_MAN_PAGE\" >/dev/null");
    EXPECT_EQ(warnings.status, 0) << warnings.out;
    EXPECT_EQ(warnings.out, "");
    const TShellRun page = Shell("MANWIDTH=80 man -l \"$KESTRUNE_MAN_PAGE\"");
    ASSERT_EQ(page.status, 0) << page.out;
    for (const char* text : {"NAME", "SYNOPSIS", "EXIT STATUS", "ENVIRONMENT", "FILES", "EXAMPLES", "SEE ALSO",
                             "KESTRUNE_PASSWORD", "--version", "Example:"})
        EXPECT_NE(page.out.find(text), std::string::npos) << text;
    for (const auto& command : Commands) EXPECT_NE(page.out.find("kestrune " + command), std::string::npos) << command;
}
#endif

class Completion : public testing::Test {
protected:
    void SetUp() override { ::setenv("KESTRUNE_COMPLETIONS", KESTRUNE_COMPLETIONS_DIR, 1); }
};

// The bash function driven as bash drives it, with COMP_WORDS and COMP_CWORD.
std::set<std::string> Bash(const std::string& words) {
    const TShellRun run = Shell("bash --norc --noprofile -c 'source \"$KESTRUNE_COMPLETIONS/kestrune.bash\" && "
                                "COMP_WORDS=(" + words + ") && COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && _kestrune && "
                                "printf \"%s\\n\" \"${COMPREPLY[@]}\"'");
    EXPECT_EQ(run.status, 0) << words << ": " << run.out;
    return Lines(run.out);
}

TEST_F(Completion, BashOffersCommandsOptionsAndNames) {
    ExpectAll(Bash("kestrune \"\""), Commands, "bash, commands");
    ExpectAll(Bash("kestrune hash-file --hash \"\""), DigestNames(), "bash, --hash");
    ExpectAll(Bash("kestrune encrypt-file --cipher \"\""), CipherNames(), "bash, --cipher");
    ExpectAll(Bash("kestrune decrypt-file --mode \"\""), ModeNames(), "bash, --mode");
    ExpectAll(Bash("kestrune hash-string --hash = \"\""), DigestNames(), "bash, --hash=");
    EXPECT_EQ(Bash("kestrune hash-string --hash Sha-5"), std::set<std::string>{"sha-512"});
    EXPECT_EQ(Bash("kestrune list --"), (std::set<std::string>{"--help", "--json"}));
    // The mode is no option of the string commands.
    const auto options = Bash("kestrune encrypt-string --");
    EXPECT_TRUE(options.contains("--password-file"));
    EXPECT_FALSE(options.contains("--mode"));
    EXPECT_TRUE(Bash("kestrune encrypt-file --mode").contains("--mode"));
    ExpectAll(Bash("kestrune help \"\""), Commands, "bash, help");
}

TEST_F(Completion, ZshLoadsWithCompinitAndRegistersTheFunction) {
    const TShellRun run = Shell(
        "zsh -f -c 'fpath=(\"$KESTRUNE_COMPLETIONS\" $fpath); autoload -Uz compinit; compinit -u -D; "
        "print -r -- $_comps[kestrune]; autoload +X _kestrune && (( $+functions[_kestrune] )) && print loaded'");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out, "_kestrune\nloaded\n");
}

// Types a command line into an interactive zsh and collects what the
// completion system would add for its last word.
std::set<std::string> Zsh(const std::string& line) {
    ::setenv("KESTRUNE_LINE", line.c_str(), 1);
    const TShellRun run = Shell("zsh -f " KESTRUNE_TEST_SOURCE_DIR "/completion_zpty.zsh");
    EXPECT_EQ(run.status, 0) << line << ": " << run.out;
    std::set<std::string> offered;
    for (const auto& entry : Lines(run.out))
        if (entry.starts_with("OFFERED ")) offered.insert(entry.substr(8));
    return offered;
}

TEST_F(Completion, ZshOffersCommandsAndNames) {
    ExpectAll(Zsh("kestrune "), Commands, "zsh, commands");
    ExpectAll(Zsh("kestrune hash-file --hash "), DigestNames(), "zsh, --hash");
    ExpectAll(Zsh("kestrune encrypt-file --cipher "), CipherNames(), "zsh, --cipher");
    ExpectAll(Zsh("kestrune encrypt-file --mode "), ModeNames(), "zsh, --mode");
}

std::set<std::string> Fish(const std::string& line) {
    ::setenv("KESTRUNE_LINE", line.c_str(), 1);
    const TShellRun run =
        Shell("fish --no-config -c 'source \"$KESTRUNE_COMPLETIONS/kestrune.fish\"; complete -C \"$KESTRUNE_LINE\"'");
    EXPECT_EQ(run.status, 0) << line << ": " << run.out;
    return Lines(run.out);
}

TEST_F(Completion, FishOffersCommandsOptionsAndNames) {
    ExpectAll(Fish("kestrune "), Commands, "fish, commands");
    ExpectAll(Fish("kestrune hash-file --hash "), DigestNames(), "fish, --hash");
    ExpectAll(Fish("kestrune encrypt-string --cipher "), CipherNames(), "fish, --cipher");
    ExpectAll(Fish("kestrune decrypt-file --mode "), ModeNames(), "fish, --mode");
    EXPECT_FALSE(Fish("kestrune encrypt-string --").contains("--mode"));
    EXPECT_TRUE(Fish("kestrune encrypt-file --").contains("--mode"));
}

}  // namespace
