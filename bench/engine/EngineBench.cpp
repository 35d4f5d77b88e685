// engine_bench: times what `halvex-zovuruv --transcribe <file>` does, on a
// generated model of a published size, with temperature fallback and the
// first-token confidence test off so that every window is decoded exactly
// once, as far as the random weights take it.
//
//   engine_bench [--preset base|large-v3-turbo|test] [--seconds 60] [--work DIR]
//                [--runs N] [--threads N] [--tokens FILE] [--models DIR]
//
// The model is generated once per preset into DIR (default
// /tmp/zv-engine-bench) by the zv-model-gen tool and reused by later runs;
// --models names a folder of models generated already (such as ml_bench
// --keep-models writes, DIR/<preset>), linked in instead of a second copy.
// Reports the engine load time, the wall time of each transcription, its
// real-time factor, the peak resident memory of the process (getrusage
// ru_maxrss) and the most threads seen while it ran. --threads sets the
// model runtime's thread count (default: the processors this process may
// use); --tokens writes each segment's tokens and their log-probabilities,
// one line per segment, so that two builds can be compared.

#include "fixtures/tokenizer/WhisperTokenizerFolder.h"
#include "halvex_zovuruv/Transcriber.h"
#include "murmex/core/Murmex.h"
#include "murmex/core/MurmexConfig.h"
#include "platform/ml/Runtime.h"
#include "platform/system/ChildProcess.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

double seconds(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

/// 16 kHz mono 16-bit PCM: a slowly gliding tone with seeded noise.
void writeWav(const fs::path& path, double lengthSeconds) {
    const uint32_t rate = 16000;
    const auto count = static_cast<uint32_t>(lengthSeconds * rate);
    std::string data;
    data.reserve(count * 2);
    uint32_t state = 2024;
    for (uint32_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        const double t = static_cast<double>(i) / rate;
        const double noise = (static_cast<double>(state >> 8) / (1 << 24) - 0.5) * 0.05;
        const double value = 0.3 * std::sin(2 * M_PI * (220.0 + 40.0 * std::sin(t)) * t) + noise;
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
    const auto size = static_cast<uint32_t>(data.size());
    std::ofstream(path, std::ios::binary)
        << "RIFF" << u32(36 + size) << "WAVE"
        << "fmt " << u32(16) << u16(1) << u16(1) << u32(rate) << u32(rate * 2) << u16(2) << u16(16)
        << "data" << u32(size) << data;
}

/// Threads of this process right now, from /proc.
int threadCount() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
    }
    return 0;
}

/// Keeps the most threads seen, sampling every few milliseconds.
class ThreadSampler {
public:
    ThreadSampler()
        : thread_([this] {
              while (!stop_) {
                  peak_ = std::max(peak_.load(), threadCount() - 1); // not counting the sampler
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
              }
          }) {}
    ~ThreadSampler() {
        stop_ = true;
        thread_.join();
    }
    int peak() const { return peak_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> peak_{0};
    std::thread thread_;
};

} // namespace

int main(int argc, char** argv) {
    std::string preset = "base";
    double lengthSeconds = 60;
    fs::path work = "/tmp/zv-engine-bench";
    int runs = 1;
    int threadCount = 0;
    fs::path tokensFile;
    fs::path models;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (arg == "--preset")
            preset = next();
        else if (arg == "--seconds")
            lengthSeconds = std::atof(next().c_str());
        else if (arg == "--work")
            work = next();
        else if (arg == "--runs")
            runs = std::max(1, std::atoi(next().c_str()));
        else if (arg == "--threads")
            threadCount = std::max(1, std::atoi(next().c_str()));
        else if (arg == "--tokens")
            tokensFile = next();
        else if (arg == "--models")
            models = next();
        else {
            std::fprintf(stderr, "usage: engine_bench [--preset base|large-v3-turbo|test] "
                                 "[--seconds S] [--work DIR] "
                                 "[--runs N] [--threads N] [--tokens FILE] [--models DIR]\n");
            return 2;
        }
    }

    // The application's layout under a data folder of this preset's own.
    const fs::path dataHome = work / preset;
    ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    const fs::path modelFolder = halvex::Transcriber::modelFolder();
    if (!models.empty() && !fs::exists(modelFolder)) {
        fs::create_directories(modelFolder.parent_path());
        fs::create_directory_symlink(fs::absolute(models), modelFolder);
    }
    if (!fs::exists(modelFolder / "TextDecoder.mlmodelc")) {
        std::fprintf(stderr, "generating the %s model into %s\n", preset.c_str(),
                     modelFolder.c_str());
        auto exit = platform::system::runProcess(
            ZV_MODEL_GEN, {"--out", modelFolder.string(), "--preset", preset});
        if (!exit.success()) {
            std::fprintf(stderr, "zv-model-gen failed\n");
            return 1;
        }
    }
    zv::testing::WhisperTokenizerOptions tokenizerOptions;
    tokenizerOptions.largeV3 = preset.rfind("large-v3", 0) == 0;
    zv::testing::writeWhisperTokenizerFolder(halvex::Transcriber::tokenizerFolder(),
                                             tokenizerOptions);
    const fs::path wav =
        work / ("audio-" + std::to_string(static_cast<int>(lengthSeconds)) + "s.wav");
    if (!fs::exists(wav)) writeWav(wav, lengthSeconds);

    if (threadCount > 0) platform::ml::Runtime::setThreadCount(threadCount);
    ThreadSampler threads;
    murmex::MurmexConfig config = halvex::Transcriber::engineConfig();
    config.logLevel =
        tessary::Logging::LogLevel::error; // keep the per-window lines out of the timing
    auto start = std::chrono::steady_clock::now();
    auto engine = murmex::Murmex::create(config);
    const double load = seconds(start);

    murmex::DecodingOptions options;
    options.language = "ru";
    options.temperatureFallbackCount = 0;
    // Random weights never make a confident first token; with this test on,
    // every window would stop after its first step.
    options.firstTokenLogProbThreshold = std::nullopt;
    std::printf("preset %s, %.0f s of audio, fallback and first-token test off, %d runtime "
                "threads\n",
                preset.c_str(), lengthSeconds, platform::ml::Runtime::threadCount());
    std::printf("engine load: %.2f s\n", load);
    for (int run = 0; run < runs; ++run) {
        start = std::chrono::steady_clock::now();
        auto results = engine->transcribeAudioPath(wav.string(), options);
        std::string text;
        for (const auto& result : results)
            text += result.text();
        text = halvex::Transcriber::cleanup(text);
        const double wall = seconds(start);
        const auto timings = results.at(0).timings();
        size_t tokens = 0;
        for (const auto& segment : results.at(0).segments())
            tokens += segment.tokens.size();
        std::printf("run %d: wall %.2f s, real-time factor %.3f, windows %.0f, decoder steps %.0f, "
                    "tokens %zu, "
                    "encoding %.2f s, decoding predictions %.2f s, transcript %zu bytes\n",
                    run + 1, wall, wall / lengthSeconds, timings.totalEncodingRuns,
                    timings.totalDecodingLoops, tokens, timings.encoding,
                    timings.decodingPredictions, text.size());
        if (!tokensFile.empty() && run == 0) {
            std::ofstream out(tokensFile);
            for (const auto& result : results) {
                for (const auto& segment : result.segments()) {
                    for (size_t i = 0; i < segment.tokens.size(); ++i) {
                        out << segment.tokens[i];
                        if (i < segment.tokenLogProbs.size()) {
                            auto chosen = segment.tokenLogProbs[i].find(segment.tokens[i]);
                            if (chosen != segment.tokenLogProbs[i].end())
                                out << ':' << chosen->second;
                        }
                        out << ' ';
                    }
                    out << "avg " << segment.avgLogprob << '\n';
                }
            }
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak resident memory: %.1f MB, peak threads: %d\n", usage.ru_maxrss / 1024.0,
                threads.peak());
    return 0;
}
