#include "halvex_zovuruv/core/Log.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using halvex::Log;

namespace {
std::string readAll(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct TempDir {
    fs::path path = fs::temp_directory_path() / ("zv-log-" + std::to_string(::getpid()));
    TempDir() { fs::create_directories(path); }
    ~TempDir() { fs::remove_all(path); }
};
} // namespace

TEST(Log, LinesCarryTimestampAndMessageVerbatim) {
    TempDir dir;
    fs::path file = dir.path / "log.txt";
    Log::writeTo(file, "recording started");
    Log::writeTo(file, "");
    Log::writeTo(file, "transcribed in 1.00s: \"a\nb\"");
    std::string text = readAll(file);
    std::regex expected(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ recording started\n)"
                        R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ \n)"
                        R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ transcribed in 1.00s: "a\nb"\n)");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
    EXPECT_EQ(Log::url(), fs::path("/tmp/halvex-zovuruv.log"));
}

TEST(Log, FileIsPrivateAndSymlinksAreNotFollowed) {
    TempDir dir;
    fs::path file = dir.path / "log.txt";
    Log::writeTo(file, "x");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600);

    fs::path victim = dir.path / "victim.txt";
    { std::ofstream(victim) << "keep"; }
    fs::path link = dir.path / "link.txt";
    fs::create_symlink(victim, link);
    Log::writeTo(link, "should not land");
    EXPECT_EQ(readAll(victim), "keep");
}

TEST(Log, ConcurrentWritersKeepWholeLines) {
    TempDir dir;
    fs::path file = dir.path / "log.txt";
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i)
                Log::writeTo(file, "thread " + std::to_string(t) + " line");
        });
    }
    for (auto& th : threads)
        th.join();
    std::istringstream lines(readAll(file));
    std::string line;
    int count = 0;
    std::regex shape(R"(\S+Z thread \d line)");
    while (std::getline(lines, line)) {
        ++count;
        ASSERT_TRUE(std::regex_match(line, shape)) << line;
    }
    EXPECT_EQ(count, 1600);
}
