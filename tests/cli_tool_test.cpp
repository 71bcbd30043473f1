// The built kestrune tool, run as a user runs it: round trips through
// strings and files, exit statuses, the password never shown, batch mode.
#include <gtest/gtest.h>

#include "cli_run.h"

#include <fcntl.h>
#include <sys/file.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/algorithms.h"
#include "cli/version.h"
#include "object/KCcatalogue.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct TRun {
    int status = -1;
    std::string out, err;
};

using kestrune::testing_cli::Slurp;

class Tool : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kestrune-tool-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs the tool in a new session, so that it has no terminal to prompt
    // on, with the given input and password variable (none if empty).
    TRun Run(const std::vector<std::string>& args, const std::string& input = "", const std::string& password = "") {
        const fs::path in = dir / "stdin", out = output.empty() ? dir / "stdout" : output, err = dir / "stderr";
        std::ofstream(in, std::ios::binary) << input;
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e)
            if (std::strncmp(*e, "KESTRUNE_PASSWORD=", 18) != 0) env.emplace_back(*e);
        if (!password.empty()) env.push_back("KESTRUNE_PASSWORD=" + password);
        std::vector<std::string> argv = launcher;
        argv.push_back(KESTRUNE_TOOL);
        argv.insert(argv.end(), args.begin(), args.end());
        auto argp = kestrune::testing_cli::CStrings(argv), envp = kestrune::testing_cli::CStrings(env);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | (output.empty() ? O_TRUNC : 0), 0600);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        pid_t pid = 0;
        TRun run;
        const int spawned = posix_spawn(&pid, argp[0], &actions, &attributes, argp.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        EXPECT_EQ(spawned, 0) << std::strerror(spawned);
        if (spawned != 0) return run;
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (output.empty()) run.out = Slurp(out);
        run.err = Slurp(err);
        return run;
    }

    fs::path dir;
    fs::path output;                    // standard output, when not a file of dir
    std::vector<std::string> launcher;  // runs the tool, when not run directly
};

TEST_F(Tool, StringRoundTripWithThePasswordFromTheEnvironment) {
    const std::string secret = "correct horse";
    const TRun encrypted = Run({"encrypt-string", "Grüße aus Köln", "--mode", "ofb"}, "", secret);
    ASSERT_EQ(encrypted.status, 0) << encrypted.err;
    ASSERT_TRUE(encrypted.out.ends_with('\n'));
    // The output, fed back through standard input, decrypts.
    const TRun decrypted = Run({"decrypt-string", "-"}, encrypted.out, secret);
    ASSERT_EQ(decrypted.status, 0) << decrypted.err;
    EXPECT_EQ(decrypted.out, "Grüße aus Köln\n");
    // Another password gives other text, not an error.
    const TRun wrong = Run({"decrypt-string", "-"}, encrypted.out, "incorrect horse");
    EXPECT_EQ(wrong.status, 0);
    EXPECT_NE(wrong.out, decrypted.out);
    // The same result through the other password sources.
    const fs::path file = dir / "password";
    std::ofstream(file) << secret << "\n";
    EXPECT_EQ(Run({"decrypt-string", "-", "--password-file", file.string()}, encrypted.out).out, decrypted.out);
    EXPECT_EQ(Run({"decrypt-string", "-", "--password", secret}, encrypted.out).out, decrypted.out);
    // A variable named on the command line wins over the default one.
    EXPECT_NE(Run({"decrypt-string", "-", "--password-env", "HOME"}, encrypted.out, secret).out, decrypted.out);
    // Empty in, empty out, and that is no failure.
    const TRun empty = Run({"decrypt-string", ""}, "", secret);
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "\n");
}

TEST_F(Tool, FileRoundTripRestoresEveryByte) {
    const fs::path plain = dir / "plain.bin", cipher = dir / "cipher.bin", back = dir / "back.bin";
    std::string content;
    for (int i = 0; i < 20000; ++i) content.push_back(static_cast<char>(i * 7 + i / 256));
    std::ofstream(plain, std::ios::binary) << content;
    for (const char* mode : {"cbc", "cfb8", "cfbblock", "ofb", "ctr"}) {
        const TRun encrypted = Run({"encrypt-file", plain.string(), cipher.string(), "--mode", mode}, "", "pw");
        ASSERT_EQ(encrypted.status, 0) << mode << encrypted.err;
        EXPECT_TRUE(encrypted.out.empty());
        EXPECT_EQ(fs::file_size(cipher), content.size());
        EXPECT_NE(Slurp(cipher), content);
        ASSERT_EQ(Run({"decrypt-file", cipher.string(), back.string(), "--mode", mode}, "", "pw").status, 0) << mode;
        EXPECT_EQ(Slurp(back), content) << mode;
    }
    // Hashing a file agrees with hashing the same bytes as text.
    std::ofstream(plain, std::ios::binary | std::ios::trunc) << "abc";
    EXPECT_EQ(Run({"hash-file", plain.string(), "--hash", "md4"}).out, Run({"hash-string", "abc", "--hash", "MD4"}).out);
}

TEST_F(Tool, FailuresExitNonZeroWithAMessageAndNeverShowThePassword) {
    const std::string secret = "s3cret-value";
    const std::string missing = (dir / "missing").string();
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"encrypt-file", missing, (dir / "out").string(), "--password", secret},
                                               {"decrypt-file", missing, (dir / "out").string(), "--password", secret},
                                               {"hash-file", missing}}) {
        const TRun run = Run(args);
        EXPECT_EQ(run.status, 1) << args[0];
        EXPECT_NE(run.err.find(missing), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find(secret), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty());
    }
    EXPECT_FALSE(fs::exists(dir / "out"));
    // No password anywhere and no terminal to ask on.
    const TRun noPassword = Run({"encrypt-string", "text"});
    EXPECT_EQ(noPassword.status, 1);
    EXPECT_NE(noPassword.err.find("no password"), std::string::npos);
    // Wrong usage.
    EXPECT_EQ(Run({"hash-string", "x", "--hash", "nonesuch"}).status, 2);
    EXPECT_EQ(Run({"encrypt-file", "--mode", "7", "a", "b"}).status, 2);
    EXPECT_EQ(Run({"encrypt-string", "x", "--password", "a", "--password-env", "B"}).status, 2);
    EXPECT_EQ(Run({}).status, 2);
    EXPECT_EQ(Run({"frobnicate"}).status, 2);
}

TEST_F(Tool, ArgumentsOutOfPlaceAreNamedButValuesAreNotShown) {
    const std::string secret = "S3cr3tPW";
    for (const auto& args : std::vector<std::vector<std::string>>{{"--password", secret, "encrypt-file", "a", "b"},
                                                                   {"--password=" + secret, "encrypt-file", "a", "b"},
                                                                   {"hash-string", "x", secret}}) {
        const TRun run = Run(args);
        EXPECT_EQ(run.status, 2) << args[0];
        EXPECT_EQ(run.err.find(secret), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(args[0] == "hash-string" ? "1 value" : "--password"), std::string::npos) << run.err;
    }
}

// The tool holds passwords: it allows no core file and no other process
// of the user into its memory, and binds every symbol at start so that
// its relocations are read-only.
TEST_F(Tool, TheProcessKeepsItsMemoryToItself) {
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_addclose(&actions, input[1]);
    char* argv[] = {const_cast<char*>(KESTRUNE_TOOL), const_cast<char*>("batch"), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ASSERT_EQ(::write(input[1], "\n", 1), 1);
    std::string limits;
    for (int tries = 0; tries < 200 && limits.find("Max core file size        0                    0") == std::string::npos;
         ++tries, ::usleep(10'000))
        limits = Slurp("/proc/" + std::to_string(pid) + "/limits");
    EXPECT_NE(limits.find("Max core file size        0                    0"), std::string::npos) << limits;
    if (::geteuid() != 0) {  // root may read any process's memory
        const int mem = ::open(("/proc/" + std::to_string(pid) + "/mem").c_str(), O_RDONLY);
        EXPECT_LT(mem, 0);
        if (mem >= 0) ::close(mem);
    }
    ::close(input[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);

    FILE* dynamic = ::popen(("readelf -d '" + std::string(KESTRUNE_TOOL) + "' 2>/dev/null").c_str(), "r");
    ASSERT_NE(dynamic, nullptr);
    std::string table;
    for (char buffer[4096]; const std::size_t n = std::fread(buffer, 1, sizeof buffer, dynamic);) table.append(buffer, n);
    if (::pclose(dynamic) != 0 && table.empty()) GTEST_SKIP() << "no readelf";
    EXPECT_TRUE(table.find("(BIND_NOW)") != std::string::npos || table.find("Flags: NOW") != std::string::npos) << table;
}

TEST_F(Tool, EveryCommandHasHelp) {
    for (const char* command : {"hash-string", "hash-file", "encrypt-string", "decrypt-string", "encrypt-file",
                                "decrypt-file", "gen-password", "list", "selftest", "batch", "call", "register",
                                "unregister"}) {
        const TRun run = Run({command, "--help"});
        EXPECT_EQ(run.status, 0) << command;
        EXPECT_NE(run.out.find("Usage"), std::string::npos) << command;
    }
    const TRun help = Run({"encrypt-string", "--help"});
    EXPECT_NE(help.out.find("process list"), std::string::npos);
}

TEST_F(Tool, VersionNamesTheReleaseAndTheCommit) {
    const TRun run = Run({"--version"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, kestrune::cli::VersionLine() + "\n");
    // The project's version, and the commit as git describe names it (unknown outside a checkout).
    const std::string head = "kestrune " KESTRUNE_PROJECT_VERSION " (";
    ASSERT_TRUE(run.out.starts_with(head) && run.out.ends_with(")\n")) << run.out;
    const std::string commit = run.out.substr(head.size(), run.out.size() - head.size() - 2);
    EXPECT_FALSE(commit.empty());
    EXPECT_EQ(commit.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._+/-"), std::string::npos)
        << commit;
}

TEST_F(Tool, HelpPagesEachHaveAnExampleAndOnlyTheirOwnNotes) {
    const TRun top = Run({"help"});
    EXPECT_EQ(top.status, 0);
    EXPECT_EQ(top.out, Run({"--help"}).out);
    EXPECT_EQ(top.out.find("--password-file"), std::string::npos) << top.out;
    const std::string all = Run({"help", "--all"}).out;
    for (const char* command : {"hash-string", "hash-file", "encrypt-string", "decrypt-string", "encrypt-file",
                                "decrypt-file", "gen-password", "list", "selftest", "batch", "call", "register",
                                "unregister", "help"}) {
        const TRun page = Run({"help", command});
        EXPECT_EQ(page.status, 0) << command;
        EXPECT_EQ(page.out, Run({command, "--help"}).out) << command;
        EXPECT_NE(page.out.find("Example:\n  $ "), std::string::npos) << page.out;
        const std::string_view name(command);
        const bool password = name.starts_with("encrypt") || name.starts_with("decrypt");
        EXPECT_EQ(page.out.find("KESTRUNE_PASSWORD") != std::string::npos, password) << page.out;
        EXPECT_EQ(page.out.find("--mode") != std::string::npos, name.ends_with("-file") && password) << page.out;
        EXPECT_NE(all.find("\nkestrune " + std::string(command) + ":\n"), std::string::npos) << command;
    }
    const TRun unknown = Run({"help", "hashstring"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("'hashstring'"), std::string::npos) << unknown.err;
    // The string commands still take the mode, which changes nothing for them.
    EXPECT_EQ(Run({"encrypt-string", "abc", "--mode", "ctr"}, "", "pw").out, Run({"encrypt-string", "abc"}, "", "pw").out);
}

TEST_F(Tool, ListAsJsonCarriesTheWholeCatalogue) {
    const TRun run = Run({"list", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto catalogue = nlohmann::json::parse(run.out);
    const auto digests = kestrune::DigestCatalogue();
    ASSERT_EQ(catalogue.at("digests").size(), digests.size());
    for (std::size_t i = 0; i < digests.size(); ++i) {
        const auto& entry = catalogue["digests"][i];
        EXPECT_EQ(entry.at("code"), digests[i].code);
        EXPECT_EQ(entry.at("name"), digests[i].name);
        EXPECT_EQ(entry.at("class"), kestrune::cli::DigestClassName(digests[i].code));
        EXPECT_EQ(entry.at("bits"), digests[i].algorithmClass.GetHashSize());
        EXPECT_EQ(entry.at("default"), digests[i].code == 0);
    }
    const auto ciphers = kestrune::CipherCatalogue();
    ASSERT_EQ(catalogue.at("ciphers").size(), ciphers.size());
    for (std::size_t i = 0; i < ciphers.size(); ++i) {
        const auto& entry = catalogue["ciphers"][i];
        EXPECT_EQ(entry.at("name"), ciphers[i].name);
        EXPECT_EQ(entry.at("max_key"), ciphers[i].algorithmClass.GetMaxKeySize());
        const int block = ciphers[i].algorithmClass.GetBlockSize();
        EXPECT_EQ(entry.at("block"), block < 0 ? nlohmann::json() : nlohmann::json(block)) << entry;
        EXPECT_EQ(entry.at("aliases"), nlohmann::json(kestrune::cli::CipherAliases(ciphers[i].code)));
    }
    EXPECT_EQ(catalogue["ciphers"][3].at("aliases"), nlohmann::json::array({"3des"}));
    EXPECT_EQ(catalogue.at("modes").size(), 5u);
    EXPECT_EQ(catalogue["modes"][4], nlohmann::json::parse(R"({"code": 4, "name": "ctr", "default": false})"));
}

TEST_F(Tool, BatchReadsAFileOrStandardInput) {
    const std::string requests = "{\"id\": 1, \"call\": \"HashSize\"}\n{\"id\": [2], \"get\": \"Nothing\"}\n";
    const fs::path file = dir / "requests.jsonl";
    std::ofstream(file) << requests;
    const TRun fromFile = Run({"batch", file.string()});
    EXPECT_EQ(fromFile.status, 0) << fromFile.err;
    EXPECT_TRUE(fromFile.out.starts_with("{\"id\":1,\"result\":128}\n{\"id\":[2],\"error\":")) << fromFile.out;
    EXPECT_EQ(Run({"batch"}, requests).out, fromFile.out);
    EXPECT_EQ(Run({"batch", "-"}, requests).out, fromFile.out);
    for (const fs::path& bad : {dir / "missing.jsonl", dir}) {
        const TRun run = Run({"batch", bad.string()}, requests);
        EXPECT_EQ(run.status, 1) << bad;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("kestrune: cannot read '" + bad.string() + "'"), std::string::npos) << run.err;
    }
}

TEST_F(Tool, SelfTestAndListReportEveryRow) {
    const TRun selfTest = Run({"selftest"});
    EXPECT_EQ(selfTest.status, 0) << selfTest.out << selfTest.err;
    EXPECT_NE(selfTest.out.find(" 0 failed"), std::string::npos);
    const TRun list = Run({"list"});
    EXPECT_EQ(list.status, 0);
    for (const char* name : {"MD5", "Tiger", "Triple DES", "XTEA", "Blowfish", "cfbblock"})
        EXPECT_NE(list.out.find(name), std::string::npos) << name;
}

TEST_F(Tool, EveryProcessStartsThePasswordSequenceAfresh) {
    const std::string requests =
        "{\"call\": \"GenPassword\"}\n\n{\"call\": \"GenPassword\", \"args\": [4, \"a0\"]}\nnot json\n";
    const TRun first = Run({"batch"}, requests), second = Run({"batch"}, requests);
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.out, second.out);
    std::istringstream lines(first.out);
    std::vector<std::string> answers;
    for (std::string line; std::getline(lines, line);) answers.push_back(line);
    ASSERT_EQ(answers.size(), 3u) << first.out;
    EXPECT_NE(answers[2].find("0x80070057"), std::string::npos);
    // gen-password is the same sequence as batch.
    const TRun generated = Run({"gen-password", "--count", "2"});
    std::istringstream passwords(generated.out);
    std::string password;
    std::getline(passwords, password);
    EXPECT_EQ(answers[0], "{\"result\":\"" + password + "\"}");
}

TEST_F(Tool, CallGoesThroughTheInterfaceAsAScriptDoes) {
    const TRun md4 = Run({"hash-string", "abc", "--hash", "MD4"});
    const TRun call = Run({"call", "hashstring", "abc", "1"});  // text "1" becomes the long 1
    EXPECT_EQ(call.status, 0) << call.err;
    EXPECT_EQ(call.out, md4.out);
    EXPECT_EQ(Run({"call", "HashSize", "-1"}).out, "128\n");
    EXPECT_EQ(Run({"call", "--put", "CipherAlgorithm=15", "MaxKeySize"}).out, "256\n");
    EXPECT_EQ(Run({"call", "--put", "HashAlgorithm=1", "--put", "CipherMode=3", "HashString", "abc"}).out, md4.out);
    const TRun nothing = Run({"call", "OnEndPage"});
    EXPECT_EQ(nothing.status, 0);
    EXPECT_EQ(nothing.out, "");
    const TRun sealed = Run({"call", "EncryptString", "Grüße", "pw"});
    EXPECT_EQ(Run({"call", "DecryptString", sealed.out.substr(0, sealed.out.size() - 1), "pw"}).out, "Grüße\n");
}

// Text becomes bytes in the site's code page on every command; the 1251
// bytes of "Пароль" are those of "Ïàðîëü" in 1252.
TEST_F(Tool, CodePageOptionConvertsTextAsTheSitesWindowsDid) {
    const std::string digest = Run({"hash-string", "\u00CF\u00E0\u00F0\u00EE\u00EB\u00FC"}).out;
    ASSERT_EQ(digest.size(), 33u);
    EXPECT_EQ(Run({"hash-string", "--codepage", "1251", "\u041F\u0430\u0440\u043E\u043B\u044C"}).out, digest);
    EXPECT_EQ(Run({"call", "--codepage", "1251", "HashString", "\u041F\u0430\u0440\u043E\u043B\u044C"}).out, digest);
    EXPECT_EQ(Run({"batch", "--codepage", "1251"}, "{\"call\":\"HashString\",\"args\":[\"\u041F\u0430\u0440\u043E\u043B\u044C\"]}\n").out,
              "{\"result\":\"" + digest.substr(0, 32) + "\"}\n");
    const std::string japanese = "\u65E5\u672C\u8A9E";
    const TRun sealed = Run({"encrypt-string", "--codepage", "932", japanese}, "", "pw");
    EXPECT_EQ(sealed.err, "");
    const std::string base64 = sealed.out.substr(0, sealed.out.size() - 1);
    EXPECT_EQ(Run({"decrypt-string", "--codepage", "932", base64}, "", "pw").out, japanese + "\n");
    EXPECT_NE(Run({"decrypt-string", base64}, "", "pw").out, japanese + "\n");
    // The length counts bytes: three double-byte characters take six.
    EXPECT_EQ(Run({"gen-password", "--codepage", "932", "-s", japanese, "-n", "6"}).out, japanese + "\n");
    EXPECT_EQ(Run({"hash-string", "--codepage", "1251", "\u0416\u65E5"}).err,
              "kestrune: warning: 1 character of the text has no equivalent in Windows-1251 and was replaced: "
              "'\u65E5' (U+65E5)\n");
    const TRun unsupported = Run({"hash-string", "--codepage", "65001", "x"});
    EXPECT_EQ(unsupported.status, 2);
    EXPECT_NE(unsupported.err.find("code page '65001' is not supported; the supported code pages are 874, 932, 936"),
              std::string::npos)
        << unsupported.err;
}

TEST_F(Tool, AFailedCallReportsStatusDescriptionAndSource) {
    const std::pair<std::vector<std::string>, std::string> failures[] = {
        {{"call", "HashSize", "seven"}, "0x80020005"},
        {{"call", "HashString"}, "0x8002000E"},
        {{"call", "Frobnicate"}, "0x80020006"},
        {{"call", "--put", "MaxKeySize=64", "HashSize"}, "0x80020003"},
        {{"call", "--put", "CipherMode=x", "HashSize"}, "0x80020005"},
    };
    for (const auto& [args, code] : failures) {
        const TRun run = Run(args);
        EXPECT_EQ(run.status, 1) << args[1];
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("kestrune: " + code + ": ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find("(source: kestrune call)"), std::string::npos) << run.err;
    }
    EXPECT_EQ(Run({"call"}).status, 2);
    EXPECT_EQ(Run({"call", "--put", "CipherMode", "HashSize"}).status, 2);
}

TEST_F(Tool, RegisterAndUnregisterWriteTheStore) {
    const fs::path store = dir / "HKEY_CLASSES_ROOT.reg";
    ::setenv("KESTRUNE_REGISTRY", store.c_str(), 1);
    const TRun registered = Run({"register"});
    const std::string entries = Slurp(store);
    const TRun unregistered = Run({"unregister"});
    const std::string left = Slurp(store);
    ::setenv("KESTRUNE_REGISTRY", (dir / "stdin" / "not-a-directory").c_str(), 1);
    const TRun failed = Run({"register"});
    ::unsetenv("KESTRUNE_REGISTRY");

    EXPECT_EQ(registered.status, 0) << registered.err;
    EXPECT_NE(entries.find("[CLSID\\{37F87091-2C4D-449A-BA80-279FF9C13719}\\InprocServer32]"), std::string::npos) << entries;
    EXPECT_EQ(unregistered.status, 0) << unregistered.err;
    EXPECT_EQ(left.find("Kestrune"), std::string::npos) << left;
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("0x80004005"), std::string::npos) << failed.err;
}

}  // namespace

namespace {

TEST_F(Tool, UsageErrorsSayWhatIsWrongAndWhatWasMeant) {
    const TRun typo = Run({"hashstring", "abc"});
    EXPECT_EQ(typo.status, 2);
    EXPECT_EQ(typo.err, "kestrune: unknown command 'hashstring': did you mean hash-string?\n");
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"gen-password", "-c", "-1"}, "'-1' is not a count: use a whole number from 0 to 2147483647"},
        {{"hash-string", "x", "--hash", "42"}, "unknown digest '42': use MD4, RIPEMD-128"},
        {{"encrypt-string", "x", "--cipher", "99"}, "or a code from 0 to 19; aes is Rijndael"},
        {{"encrypt-string", "x", "--cipher", "aes-256"}, "unknown cipher 'aes-256'"},
        {{}, "subcommand is required"},
        {{"list", "extra"}, "unexpected arguments: 1 value(s), not shown"},
    };
    for (const auto& [args, message] : refused) {
        const TRun run = Run(args);
        EXPECT_EQ(run.status, 2) << message;
        EXPECT_EQ(run.err.rfind("kestrune: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        EXPECT_LT(run.err.size(), 600u) << run.err;
    }
    // aes is Rijndael, in any case.
    const TRun rijndael = Run({"encrypt-string", "text", "--cipher", "15", "--password", "pw"});
    EXPECT_EQ(Run({"encrypt-string", "text", "--cipher", "AES", "--password", "pw"}).out, rijndael.out);
    EXPECT_NE(Run({"encrypt-string", "text", "--password", "pw"}).out, rijndael.out);
}

TEST_F(Tool, NoGarbageInOrOutWithoutAWord) {
    // Base64 that encrypt-string would not write is refused, unless --lenient.
    for (const char* text : {"PentbAA", "not base64!!"}) {
        const TRun run = Run({"decrypt-string", text}, "", "pw");
        EXPECT_EQ(run.status, 1) << text;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("kestrune: the text to decrypt is not Base64"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("--lenient"), std::string::npos) << run.err;
    }
    const TRun lenient = Run({"decrypt-string", "PentbAA", "--lenient"}, "", "pw");
    EXPECT_EQ(lenient.status, 0);
    EXPECT_GT(lenient.out.size(), 1u);  // the whole group decrypted, the rest dropped
    // An empty password is refused for every cipher command unless allowed.
    const fs::path emptyFile = dir / "empty";
    std::ofstream(emptyFile).flush();
    for (const auto& args : std::vector<std::vector<std::string>>{{"encrypt-string", "x", "--password", ""},
                                                                   {"decrypt-string", "eA==", "--password-file", emptyFile},
                                                                   {"encrypt-file", emptyFile, (dir / "out").string(), "--password", ""}}) {
        const TRun run = Run(args);
        EXPECT_EQ(run.status, 1) << args[0];
        EXPECT_NE(run.err.find(" is empty; --allow-empty-password uses it all the same"), std::string::npos) << run.err;
        auto allowed = args;
        allowed.push_back("--allow-empty-password");
        EXPECT_EQ(Run(allowed).status, 0) << args[0];
    }
    EXPECT_EQ(Run({"encrypt-string", "x"}, "", "").status, 1);  // KESTRUNE_PASSWORD unset: no password at all
    // Characters that the code page replaces are named.
    const TRun replaced = Run({"encrypt-string", "\u0100\u20ac\U0001F600"}, "", "pw");
    EXPECT_EQ(replaced.status, 0);
    EXPECT_EQ(replaced.err,
              "kestrune: warning: 2 characters of the text have no equivalent in Windows-1252 and were replaced: "
              "'\u0100' (U+0100), '\U0001F600' (U+1F600)\n");
    EXPECT_EQ(Run({"hash-string", "\u0100"}).err.find("kestrune: warning: 1 character of the text"), 0u);
    const TRun password = Run({"encrypt-string", "x", "--password", "p\u0100ss"});
    EXPECT_NE(password.err.find("1 character of the password has no equivalent"), std::string::npos) << password.err;
    EXPECT_EQ(password.err.find("\u0100"), std::string::npos) << password.err;
}

TEST_F(Tool, OutputThatCannotBeWrittenIsAFailure) {
    const fs::path plain = dir / "plain";
    std::ofstream(plain) << "some bytes";
    output = "/dev/full";
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"selftest"}, {"list"}, {"hash-string", "abc"}, {"hash-file", plain}, {"gen-password", "-c", "3"},
             {"--help"}, {"call", "HashSize"}, {"encrypt-string", "x", "--password", "pw"},
             {"encrypt-file", plain, "-", "--password", "pw"}}) {
        const TRun run = Run(args);
        EXPECT_EQ(run.status, 1) << args[0];
        EXPECT_NE(run.err.find("kestrune: "), std::string::npos) << args[0];
        EXPECT_TRUE(run.err.find("No space left on device") != std::string::npos ||
                    run.err.find("no space left on the device") != std::string::npos)
            << args[0] << ": " << run.err;
    }
    EXPECT_EQ(Run({"batch"}, "{\"call\": \"HashSize\"}\n").status, 1);
}

TEST_F(Tool, FileFailuresGiveTheCauseTheObjectFound) {
    const fs::path plain = dir / "plain", dest = dir / "dest";
    std::ofstream(plain) << "some bytes";
    std::ofstream(dest) << "precious";
    fs::permissions(dest, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    // Root writes any file: without its right to override file modes, it is refused as anybody is.
    if (::geteuid() == 0) {
        if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "root, and no setpriv to give up that right";
        launcher = {"/usr/bin/setpriv", "--bounding-set=-dac_override,-dac_read_search", "--"};
    }
    const TRun readOnly = Run({"encrypt-file", plain, dest, "--password", "pw"});
    EXPECT_EQ(readOnly.status, 1);
    EXPECT_EQ(readOnly.err, "kestrune: encryption failed: cannot write '" + dest.string() + "': permission denied\n");
    EXPECT_EQ(Slurp(dest), "precious");
    launcher.clear();
    const std::pair<std::vector<std::string>, std::string> failures[] = {
        {{"hash-file", dir}, "hashing failed: cannot read '" + dir.string() + "': it is a directory"},
        {{"encrypt-file", plain, plain, "--password", "pw"},
         "encryption failed: '" + plain.string() + "' and '" + plain.string() + "' are the same file"},
        {{"decrypt-file", plain, "/dev/full", "--password", "pw"},
         "decryption failed: cannot write '/dev/full': no space left on the device"},
    };
    for (const auto& [args, message] : failures) {
        const TRun run = Run(args);
        EXPECT_EQ(run.status, 1) << message;
        EXPECT_EQ(run.err, "kestrune: " + message + "\n");
    }
    // A file another process holds.
    const int fd = ::open(plain.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(Run({"hash-file", plain}).err, "kestrune: hashing failed: cannot read '" + plain.string() + "': in use by another process\n");
    ::close(fd);
}

}  // namespace
