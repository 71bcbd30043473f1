// The tool's file commands over streams (standard input and output, pipes,
// FIFOs, /proc), interrupted runs, and file systems whose locks or
// temporary files behave otherwise (through a fault-injection shim).
#include <gtest/gtest.h>

#include "cli_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace {

namespace fs = std::filesystem;

using kestrune::testing_cli::Slurp;

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 31 + 7);
    return s;
}

class ToolFiles : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kestrune-toolfiles-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    // Starts argv in its own session with the password in the environment,
    // standard output to the file "stdout" of the directory.
    pid_t Start(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {}) {
        std::vector<std::string> env = {"KESTRUNE_PASSWORD=pw", std::string("KESTRUNE=") + KESTRUNE_TOOL,
                                        "ASAN_OPTIONS=verify_asan_link_order=0"};
        for (char** e = environ; *e != nullptr; ++e)
            if (std::strncmp(*e, "KESTRUNE", 8) != 0 && std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0) env.emplace_back(*e);
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        std::vector<std::string> argv = args;
        auto argp = kestrune::testing_cli::CStrings(argv), envp = kestrune::testing_cli::CStrings(env);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, (dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, argp[0], &actions, &attributes, argp.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        return pid;
    }

    static int Wait(pid_t pid) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // A bash script run in the directory; $KESTRUNE is the tool.
    int Shell(const std::string& script, const std::vector<std::string>& extraEnv = {}) {
        return Wait(Start({"/bin/bash", "-c", "cd '" + dir.string() + "' && " + script}, extraEnv));
    }
    std::string Out() const { return Slurp(dir / "stdout"); }
    void Write(const std::string& leaf, const std::string& content) const {
        std::ofstream(dir / leaf, std::ios::binary) << content;
    }
    std::vector<std::string> Leaves() const {
        std::vector<std::string> leaves;
        for (const auto& entry : fs::directory_iterator(dir)) leaves.push_back(entry.path().filename().string());
        std::sort(leaves.begin(), leaves.end());
        return leaves;
    }

    fs::path dir;
};

TEST_F(ToolFiles, StreamsGiveWhatTheFileGives) {
    // A partial last block in every mode, through a cipher of each block size.
    Write("plain", Pattern(20011));
    Write("text", "The quick brown fox");
    ASSERT_EQ(Shell("$KESTRUNE hash-file text --hash sha256 > file.digest"), 0);
    const std::string digest = Slurp(dir / "file.digest");
    for (const char* source : {"- < text", "- < <(cat text)", "/dev/stdin < <(cat text)", "<(cat text)"}) {
        ASSERT_EQ(Shell(std::string("$KESTRUNE hash-file --hash sha256 ") + source), 0) << source;
        EXPECT_EQ(Out(), digest) << source;
    }
    ASSERT_EQ(Shell("mkfifo fifo && (cat text > fifo &) && $KESTRUNE hash-file --hash sha256 fifo && rm fifo"), 0);
    EXPECT_EQ(Out(), digest);

    for (const char* cipher : {"Blowfish", "Rijndael", "RC4"}) {
        for (const char* mode : {"cbc", "cfb8", "cfbblock", "ofb", "ctr"}) {
            const std::string options = std::string(" --cipher ") + cipher + " --mode " + mode;
            ASSERT_EQ(Shell("$KESTRUNE encrypt-file" + options + " plain sealed"), 0);
            const std::string sealed = Slurp(dir / "sealed");
            for (const char* files : {" - - < plain", " <(cat plain) /dev/stdout", " /dev/stdin streamed < <(cat plain) && cat streamed"}) {
                ASSERT_EQ(Shell("$KESTRUNE encrypt-file" + options + files), 0) << files;
                EXPECT_EQ(Out(), sealed) << files << options;
            }
            ASSERT_EQ(Shell("cat sealed | $KESTRUNE decrypt-file" + options + " - -"), 0);
            EXPECT_EQ(Out(), Pattern(20011)) << options;
        }
    }
    // A pseudo file whose size says 0, by its path and as a stream.
    for (const char* source : {"/proc/self/status", "- < /proc/self/status"}) {
        ASSERT_EQ(Shell(std::string("$KESTRUNE encrypt-file ") + source + " sealed && $KESTRUNE decrypt-file sealed -"), 0);
        EXPECT_TRUE(Out().starts_with("Name:\t")) << source;
    }
}

TEST_F(ToolFiles, InterruptedRunsLeaveNothing) {
    // The source is a FIFO fed by the test, so the run is surely in the
    // middle of its work when the signal comes. With the file system's
    // unnamed files nothing is ever named, not even after SIGKILL; without
    // them, the named temporary file is removed on the way out.
    Write("dest", "precious");
    for (const bool unnamed : {true, false}) {
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
            if (!unnamed && signal == SIGKILL) continue;
            ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
            std::vector<std::string> env;
            if (!unnamed) env = {std::string("LD_PRELOAD=") + KESTRUNE_FAULT_SHIM, "KESTRUNE_FAULT_TMPFILE=1"};
            const pid_t tool = Start({KESTRUNE_TOOL, "encrypt-file", (dir / "fifo").string(), (dir / "dest").string()}, env);
            const int writer = ::open((dir / "fifo").c_str(), O_WRONLY);
            ASSERT_GE(writer, 0);
            const std::string piece = Pattern(65536);
            for (int i = 0; i < 16; ++i) ASSERT_EQ(::write(writer, piece.data(), piece.size()), 65536);
            // The run has read most of it: its new file holds data by now.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!unnamed && Leaves().size() < 4 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (!unnamed) {
                EXPECT_EQ(Leaves().size(), 4u) << "no named temporary file";
            }
            ::kill(tool, signal);
            EXPECT_EQ(Wait(tool), 128 + signal);
            ::close(writer);
            ::unlink((dir / "fifo").c_str());
            EXPECT_EQ(Leaves(), (std::vector<std::string>{"dest", "stdout"})) << "signal " << signal;
            EXPECT_EQ(Slurp(dir / "dest"), "precious");
        }
    }
}

TEST_F(ToolFiles, LocksWorkWhereFlockIsRefusedAsOnNfs) {
    // The shim refuses flock as NFS does; the fallback locks must still keep
    // others out: a source written by another holder, a destination read.
    const std::string plain = (dir / "plain").string(), dest = (dir / "dest").string();
    Write("plain", Pattern(1000));
    Write("dest", "precious");
    for (const int error : {EBADF, ENOLCK, EOPNOTSUPP}) {
        const std::vector<std::string> env = {std::string("LD_PRELOAD=") + KESTRUNE_FAULT_SHIM,
                                              "KESTRUNE_FAULT_FLOCK=" + std::to_string(error)};
        EXPECT_EQ(Wait(Start({KESTRUNE_TOOL, "hash-file", plain}, env)), 0) << error;
        EXPECT_EQ(Wait(Start({KESTRUNE_TOOL, "encrypt-file", plain, dest}, env)), 0) << error;
        for (const auto& [held, type] : {std::pair{plain, F_WRLCK}, std::pair{dest, F_RDLCK}}) {
            const int fd = ::open(held.c_str(), type == F_WRLCK ? O_RDWR : O_RDONLY);
            ASSERT_GE(fd, 0);
            struct flock range {};
            range.l_type = static_cast<short>(type);
            range.l_whence = SEEK_SET;
            ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &range), 0);
            Write("dest", "precious");
            EXPECT_EQ(Wait(Start({KESTRUNE_TOOL, "encrypt-file", plain, dest}, env)), 1) << held << " " << error;
            EXPECT_EQ(Slurp(dest), "precious");
            ::close(fd);
        }
    }
}

}  // namespace
