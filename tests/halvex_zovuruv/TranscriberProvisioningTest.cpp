#include "halvex_zovuruv/Transcriber.h"
#include "platform/system/ChildProcess.h"
#include "platform/system/SystemError.h"
#include "support/LocalHttpServer.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using halvex::Transcriber;
using platform::system::SystemError;

namespace {

const char* kModel = "corvanemodel/openai_whisper-large-v3-v20240930_turbo_632MB";

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

/// Builds a tar.gz whose entries are the files given (relative path -> text),
/// recorded as owned by `owner` when given.
std::string makeArchive(const fs::path& work,
                        const std::vector<std::pair<std::string, std::string>>& files,
                        std::optional<int> owner = std::nullopt) {
    fs::path root = work / "archive-root";
    fs::remove_all(root);
    fs::create_directories(root);
    for (const auto& [rel, text] : files) {
        fs::create_directories((root / rel).parent_path());
        std::ofstream(root / rel) << text;
    }
    fs::path archive = work / "out.tar.gz";
    std::vector<std::string> args = {"czf", archive.string(), "-C", root.string()};
    if (owner) {
        args.push_back("--owner=" + std::to_string(*owner));
        args.push_back("--group=" + std::to_string(*owner));
    }
    for (const auto& entry : fs::directory_iterator(root))
        args.push_back(entry.path().filename().string());
    EXPECT_TRUE(platform::system::runProcess("/usr/bin/tar", args).success());
    return readFile(archive);
}

class Provisioning : public ::testing::Test {
protected:
    void SetUp() override {
        work = fs::temp_directory_path() / ("zv-provision-" + std::to_string(::getpid()));
        fs::remove_all(work);
        fs::create_directories(work / "data");
        ::setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);
        ::setenv("HALVEX_ZOVURUV_MODEL_URL", server.url("/model.tar.gz").c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("HALVEX_ZOVURUV_MODEL_URL");
        ::unsetenv("XDG_DATA_HOME");
        fs::remove_all(work);
    }
    /// Everything left in the base folder, as relative paths.
    std::vector<std::string> leftovers() {
        std::vector<std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(Transcriber::baseDir()))
            out.push_back(fs::relative(e.path(), Transcriber::baseDir()).string());
        std::sort(out.begin(), out.end());
        return out;
    }
    zvtest::LocalHttpServer server;
    fs::path work;
};

} // namespace

TEST_F(Provisioning, FirstRunDownloadsAndUnpacksSecondRunStaysOffline) {
    server.setRoute("/model.tar.gz", 200,
                    makeArchive(work, {{std::string(kModel) + "/model.json", "{}"},
                                       {"corvanetok/tokenizer.json", "tok"}}));
    EXPECT_EQ(Transcriber::baseDir(), work / "data" / "Corvane Zovuruv");
    Transcriber::ensureModelDownloaded();
    EXPECT_EQ(server.requestCount(), 1);
    EXPECT_EQ(readFile(Transcriber::modelFolder() / "model.json"), "{}");
    EXPECT_EQ(readFile(Transcriber::tokenizerFolder() / "tokenizer.json"), "tok");
    EXPECT_EQ(leftovers(),
              (std::vector<std::string>{"corvanemodel", kModel, std::string(kModel) + "/model.json",
                                        "corvanetok", "corvanetok/tokenizer.json"}));

    Transcriber::ensureModelDownloaded();
    EXPECT_EQ(server.requestCount(), 1);
}

TEST_F(Provisioning, ServerErrorIsReportedAndLeavesNothing) {
    server.setRoute("/model.tar.gz", 404, "missing");
    try {
        Transcriber::ensureModelDownloaded();
        FAIL() << "expected an error";
    } catch (const SystemError& e) {
        EXPECT_EQ(e.domain(), "CorvaneZovuruv");
        EXPECT_EQ(e.code(), 404);
        EXPECT_EQ(e.localizedDescription(), "Сервер модели вернул HTTP 404");
    }
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(Provisioning, ArchivesWithoutTheModelNeverCountAsInstalled) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"no model folder", makeArchive(work, {{"corvanetok/tokenizer.json", "tok"}})},
        {"not an archive", "this is not gzip data"},
    };
    for (const auto& [name, body] : cases) {
        server.setRoute("/model.tar.gz", 200, body);
        try {
            Transcriber::ensureModelDownloaded();
            FAIL() << name;
        } catch (const SystemError& e) {
            EXPECT_EQ(e.code(), -1) << name;
            EXPECT_EQ(e.localizedDescription(), "Модель распознавания не распаковалась") << name;
        }
        EXPECT_TRUE(leftovers().empty()) << name;
    }
}

TEST_F(Provisioning, UnpackedFilesBelongToTheUserNotToTheArchivesOwner) {
    server.setRoute("/model.tar.gz", 200,
                    makeArchive(work,
                                {{std::string(kModel) + "/model.json", "{}"},
                                 {"corvanetok/tokenizer.json", "tok"}},
                                54321));
    Transcriber::ensureModelDownloaded();
    for (const fs::path& file : {Transcriber::modelFolder() / "model.json",
                                 Transcriber::tokenizerFolder() / "tokenizer.json"}) {
        struct stat info {};
        ASSERT_EQ(::stat(file.c_str(), &info), 0) << file;
        EXPECT_EQ(info.st_uid, ::getuid()) << file;
        EXPECT_EQ(info.st_gid, ::getgid()) << file;
    }
}

TEST_F(Provisioning, DownloadsRunningAtOnceEachInstallOrKeepAWholeModel) {
    // The command line and the tray application may provision together;
    // neither may unpack the other's half-written archive.
    std::string big(4 << 20, 'x');
    for (size_t i = 0; i < big.size(); i += 7)
        big[i] = char('a' + i % 26);
    server.setRoute("/model.tar.gz", 200,
                    makeArchive(work, {{std::string(kModel) + "/weights.bin", big},
                                       {"corvanetok/tokenizer.json", "tok"}}));
    std::vector<std::string> failures(4);
    std::vector<std::thread> runs;
    for (size_t i = 0; i < failures.size(); ++i)
        runs.emplace_back([&, i] {
            try {
                Transcriber::ensureModelDownloaded();
            } catch (const std::exception& e) {
                failures[i] = e.what();
            }
        });
    for (auto& run : runs)
        run.join();
    for (const auto& failure : failures)
        EXPECT_EQ(failure, "");
    EXPECT_EQ(readFile(Transcriber::modelFolder() / "weights.bin"), big);
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"corvanemodel", kModel,
                                                     std::string(kModel) + "/weights.bin",
                                                     "corvanetok", "corvanetok/tokenizer.json"}));
}

TEST(TranscriberCleanup, RemovesMarkersAndTrims) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"<|startoftranscript|><|ru|> Привет <|endoftext|>", "Привет"},
        {"<|startoftranscript|><|ru|> Привет мир<|endoftext|>", "Привет мир"},
        {"  <|0.00|> <|1.00|>\n", ""},
        {"a <|x|> b", "a  b"},
        {"keep <| this", "keep <| this"},
        {"\u00A0\u3000text\u2003", "text"},
        {"<|multi\nline|>x", "x"},
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(Transcriber::cleanup(input), expected) << input;
}
