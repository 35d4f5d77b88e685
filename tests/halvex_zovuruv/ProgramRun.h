#pragma once
// Runs the built halvex-zovuruv program as a child process, with the test's
// environment, and captures its output streams.

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace zvtest {

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

/// Runs the built program with the arguments, the test's environment, and
/// its output streams captured into files in `scratch`.
inline ProgramRun runProgram(const std::vector<std::string>& arguments,
                             const std::filesystem::path& scratch) {
    const std::filesystem::path program =
        std::filesystem::path(ZV_BINARY_DIR) / "src" / "halvex_zovuruv" / "halvex-zovuruv";
    const std::filesystem::path outFile = scratch / "stdout.txt", errFile = scratch / "stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<std::string> all{program.string()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ProgramRun run;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        ADD_FAILURE() << "cannot start " << program;
        return run;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = readFile(outFile);
    run.err = readFile(errFile);
    return run;
}

} // namespace zvtest
