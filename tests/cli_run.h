// Runs a bash script with the built tool as $K, in a session of its own (so
// without a terminal), and captures what it writes.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace kestrune::testing_cli {

struct TRun {
    int status = -1;
    std::string out, err;
};

inline std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The null-ended array of C strings that posix_spawn takes; the strings stay
// owned by the vector.
inline std::vector<char*> CStrings(std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (auto& s : strings) p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

// script runs in dir, with standard input from /dev/null; the captures go
// to dir/.out and dir/.err.
inline TRun RunShell(const std::filesystem::path& dir, const std::string& script) {
    const auto out = dir / ".out", err = dir / ".err";
    std::vector<std::string> env = {std::string("K=") + KESTRUNE_TOOL, "ASAN_OPTIONS=verify_asan_link_order=0"};
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "K=", 2) != 0 && std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0) env.emplace_back(*e);
    std::vector<std::string> argv = {"/bin/bash", "-c", "cd '" + dir.string() + "' && " + script};
    auto argp = CStrings(argv), envp = CStrings(env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    TRun run;
    const int spawned = posix_spawn(&pid, argp[0], &actions, &attributes, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) return run;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = Slurp(out);
    run.err = Slurp(err);
    return run;
}

}  // namespace kestrune::testing_cli
