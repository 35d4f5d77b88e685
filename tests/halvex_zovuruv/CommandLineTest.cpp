// The command-line road end to end: the built program, run as a child process
// against a tiny generated model under a temporary data folder.

#include "halvex_zovuruv/CommandLine.h"

#include "ProgramRun.h"
#include "fixtures/tokenizer/WhisperTokenizerFolder.h"
#include "halvex_zovuruv/Transcriber.h"
#include "model_gen/ModelGenerator.h"
#include "murmex/base/WhisperError.h"
#include "platform/system/ChildProcess.h"
#include "platform/system/SystemError.h"
#include "support/LocalHttpServer.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

using zvtest::lines;
using zvtest::ProgramRun;
using zvtest::readFile;
using zvtest::runProgram;

const char* kModel = "corvanemodel/openai_whisper-large-v3-v20240930_turbo_632MB";

/// A 16 kHz mono 16-bit PCM file: a tone with a little seeded noise.
void writeWav(const fs::path& path, double seconds) {
    const uint32_t rate = 16000;
    const auto count = static_cast<uint32_t>(seconds * rate);
    std::string data;
    uint32_t state = 12345;
    for (uint32_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(state >> 8) / (1 << 24) - 0.5) * 0.1;
        const double value = 0.4 * std::sin(2 * M_PI * 440.0 * i / rate) + noise;
        const auto sample = static_cast<int16_t>(std::lround(value * 32767));
        data.push_back(static_cast<char>(sample & 0xff));
        data.push_back(static_cast<char>((sample >> 8) & 0xff));
    }
    auto u32 = [](uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                           static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    };
    auto u16 = [](uint16_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8)};
    };
    std::string header = "RIFF" + u32(36 + static_cast<uint32_t>(data.size())) + "WAVE" + "fmt " +
                         u32(16) + u16(1) + u16(1) + u32(rate) + u32(rate * 2) + u16(2) + u16(16) +
                         "data" + u32(static_cast<uint32_t>(data.size()));
    std::ofstream(path, std::ios::binary) << header << data;
}

/// The tiny model and a tokenizer folder, laid out as the archive unpacks them.
void writeModelTree(const fs::path& base) {
    modelgen::GeneratorOptions options;
    options.dimensions = modelgen::tinyTestDimensions();
    options.seed = 7;
    modelgen::generateWhisperModels(base / kModel, options);
    zv::testing::writeWhisperTokenizerFolder(base / "corvanetok");
}

/// Lines of standard error that start with "ERROR: ".
std::vector<std::string> errorLines(const ProgramRun& run) {
    std::vector<std::string> out;
    for (const auto& line : lines(run.err)) {
        if (line.rfind("ERROR: ", 0) == 0) out.push_back(line);
    }
    return out;
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zv-cli-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(pattern.data()));
        work = pattern;
        fs::create_directories(work / "data");
        ::setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);
        ::setenv("HALVEX_ZOVURUV_MODEL_URL", server.url("/model.tar.gz").c_str(), 1);
        base = work / "data" / "Corvane Zovuruv";
        wav = work / "tone.wav";
        writeWav(wav, 3.0);
    }
    void TearDown() override {
        ::unsetenv("HALVEX_ZOVURUV_MODEL_URL");
        ::unsetenv("XDG_DATA_HOME");
        std::error_code ignored;
        fs::remove_all(work, ignored);
    }

    /// A tar.gz of the model tree (or whatever `fill` writes) in memory.
    std::string archiveOf(const std::function<void(const fs::path&)>& fill) {
        const fs::path root = work / "archive-root";
        fs::remove_all(root);
        fs::create_directories(root);
        fill(root);
        const fs::path archive = work / "model.tar.gz";
        std::vector<std::string> args = {"czf", archive.string(), "-C", root.string()};
        for (const auto& entry : fs::directory_iterator(root))
            args.push_back(entry.path().filename().string());
        EXPECT_TRUE(platform::system::runProcess("/usr/bin/tar", args).success());
        std::string bytes = readFile(archive);
        fs::remove_all(root);
        fs::remove(archive);
        return bytes;
    }

    void expectTranscript(const ProgramRun& run) {
        EXPECT_EQ(run.status, 0) << run.err;
        const auto out = lines(run.out);
        ASSERT_EQ(out.size(), 1u) << run.out;
        EXPECT_EQ(out[0].rfind("TRANSCRIPT: ", 0), 0u) << out[0];
        EXPECT_EQ(run.out.back(), '\n');
        EXPECT_TRUE(errorLines(run).empty()) << run.err;
    }

    zvtest::LocalHttpServer server;
    fs::path work, base, wav;
};

TEST_F(CommandLine, TranscribesALocalModelTheSameWayEveryTime) {
    writeModelTree(base);
    const ProgramRun first = runProgram({"--transcribe", wav.string()}, work);
    expectTranscript(first);
    const ProgramRun second =
        runProgram({"--transcribe", wav.string(), "ignored", "--transcribe", "also ignored"}, work);
    expectTranscript(second);
    EXPECT_EQ(first.out, second.out);
    EXPECT_EQ(server.requestCount(), 0); // the model was there: no download
}

TEST_F(CommandLine, FailuresPrintOneErrorLineAndNothingOnStandardOutput) {
    writeModelTree(base);
    const fs::path notAudio = work / "notes.txt";
    std::ofstream(notAudio) << "not audio at all";
    for (const fs::path& input : {work / "missing.wav", notAudio}) {
        const ProgramRun run = runProgram({"--transcribe", input.string()}, work);
        EXPECT_EQ(run.status, 1) << input;
        EXPECT_EQ(run.out, "") << input;
        EXPECT_EQ(errorLines(run).size(), 1u) << run.err;
    }
}

TEST_F(CommandLine, FirstRunDownloadsTheModelAndLaterRunsStayOffline) {
    server.setRoute("/model.tar.gz", 200, archiveOf(writeModelTree));
    const ProgramRun first = runProgram({"--transcribe", wav.string()}, work);
    expectTranscript(first);
    EXPECT_EQ(server.requestCount(), 1);
    EXPECT_TRUE(fs::is_directory(base / kModel));
    EXPECT_FALSE(fs::exists(base / "model.tar.gz"));

    const ProgramRun second = runProgram({"--transcribe", wav.string()}, work);
    expectTranscript(second);
    EXPECT_EQ(first.out, second.out);
    EXPECT_EQ(server.requestCount(), 1);
}

TEST_F(CommandLine, ProvisioningFailuresAreReportedAndLeaveNothingBehind) {
    struct Case {
        const char* name;
        int status;
        std::string body;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"server answers 404", 404, "missing",
         "ERROR: Error Domain=CorvaneZovuruv Code=404 \"Сервер модели вернул HTTP 404\""},
        {"archive without the model folder", 200, archiveOf([](const fs::path& root) {
             zv::testing::writeWhisperTokenizerFolder(root / "corvanetok");
         }),
         "ERROR: Error Domain=CorvaneZovuruv Code=-1 \"Модель распознавания не распаковалась\""},
    };
    for (const auto& c : cases) {
        server.setRoute("/model.tar.gz", c.status, c.body);
        const ProgramRun run = runProgram({"--transcribe", wav.string()}, work);
        EXPECT_EQ(run.status, 1) << c.name;
        EXPECT_EQ(run.out, "") << c.name;
        EXPECT_EQ(errorLines(run), std::vector<std::string>{c.error}) << c.name << "\n" << run.err;
        EXPECT_TRUE(fs::is_empty(base)) << c.name;
    }
}

TEST(CommandLineArguments, OnlyTheExactSwitchFollowedByAPathSelectsTheFileMode) {
    using Args = std::vector<std::string>;
    const std::vector<std::pair<Args, std::optional<std::string>>> cases = {
        {{"prog"}, std::nullopt},
        {{"prog", "--transcribe"}, std::nullopt},
        {{"prog", "--transcribe", "a.wav", "--transcribe", "b.wav"}, "a.wav"},
        {{"prog", "x", "--transcribe", "--transcribe"}, "--transcribe"},
        {{"prog", "--Transcribe", "a.wav"}, std::nullopt},
        {{"prog", "--transcribe=a.wav"}, std::nullopt},
        {{"prog", "--transcribe", ""}, ""},
    };
    for (const auto& [args, expected] : cases)
        EXPECT_EQ(halvex::transcribePathArgument(args), expected);
}

TEST(CommandLineArguments, ErrorsPrintInTheirDefaultTextualForm) {
    auto text = [](auto error) { return halvex::errorText(std::make_exception_ptr(error)); };
    EXPECT_EQ(
        text(platform::system::SystemError("CorvaneZovuruv", 404, "Сервер модели вернул HTTP 404")),
        "Error Domain=CorvaneZovuruv Code=404 \"Сервер модели вернул HTTP 404\"");
    EXPECT_EQ(text(murmex::WhisperError::loadAudioFailed("Resource path does not exist /x.wav")),
              "loadAudioFailed(\"Resource path does not exist /x.wav\")");
    EXPECT_EQ(text(std::runtime_error("plain")), "plain");
}

} // namespace
