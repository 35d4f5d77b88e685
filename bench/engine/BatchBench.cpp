// batch_bench: transcribes a batch of recordings on a generated model with
// 1, 2, 4 and 8 workers, and each recording on its own one after another,
// every configuration in a process of its own; reports wall time, audio
// seconds transcribed per second and peak memory, and whether each batch gave
// exactly the tokens of the one-by-one run.
//
//   batch_bench [--preset base] [--files 16] [--seconds 60] [--workers 1,2,4,8]
//               [--threads N] [--work DIR]
//
// Fallback and the first-token test are off, so every window is decoded once
// as far as the random weights take it. The model and the recordings are
// written once into DIR (default /tmp/zv-batch-bench) and reused. --threads
// sets the model runtime's thread count (default: the processors this
// process may use).

#include "BenchEngine.h"
#include "murmex/core/Murmex.h"
#include "platform/ml/Runtime.h"
#include "platform/system/ChildProcess.h"

#include <chrono>
#include <cstdlib>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::vector<int> parseList(const std::string& text) {
    std::vector<int> values;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
        values.push_back(std::atoi(item.c_str()));
    return values;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

/// One configuration: "one" transcribes the files one after another, a number
/// is the batch's worker count. Writes the tokens to `tokensFile`.
int runConfiguration(const std::string& run, const std::string& preset, const fs::path& work,
                     const std::vector<std::string>& paths, double seconds,
                     const fs::path& tokensFile) {
    auto engine = murmex::Murmex::create(zvbench::generatedModel(preset, work));
    murmex::DecodingOptions options;
    options.language = "ru";
    options.temperatureFallbackCount = 0;
    options.firstTokenLogProbThreshold = std::nullopt;
    const double loaded = zvbench::peakMemoryMb();
    const auto start = std::chrono::steady_clock::now();
    std::string tokens;
    if (run == "one") {
        for (const std::string& path : paths)
            tokens += zvbench::tokenLines(engine->transcribeAudioPath(path, options));
    } else {
        options.concurrentWorkerCount = std::atoi(run.c_str());
        for (auto& outcome : engine->transcribeWithResults(paths, options))
            tokens += zvbench::tokenLines(outcome.get());
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::ofstream(tokensFile) << tokens;
    std::printf("%-12s wall %7.2f s, %6.1f audio seconds per second, peak memory %7.1f MB "
                "(%.1f MB after loading)\n",
                (run == "one" ? std::string("one by one") : run + " workers").c_str(), wall,
                seconds * double(paths.size()) / wall, zvbench::peakMemoryMb(), loaded);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string preset = "base";
    int files = 16;
    double seconds = 60;
    std::vector<int> workers = {1, 2, 4, 8};
    fs::path work = "/tmp/zv-batch-bench";
    int threads = 0;
    std::string run;
    fs::path tokensFile;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (arg == "--preset")
            preset = next();
        else if (arg == "--files")
            files = std::max(1, std::atoi(next().c_str()));
        else if (arg == "--seconds")
            seconds = std::atof(next().c_str());
        else if (arg == "--workers")
            workers = parseList(next());
        else if (arg == "--threads")
            threads = std::atoi(next().c_str());
        else if (arg == "--work")
            work = next();
        else if (arg == "--run")
            run = next();
        else if (arg == "--tokens")
            tokensFile = next();
        else {
            std::fprintf(stderr, "usage: batch_bench [--preset P] [--files N] [--seconds S] "
                                 "[--workers 1,2,4,8] [--threads N] [--work DIR]\n");
            return 2;
        }
    }
    if (threads > 0) platform::ml::Runtime::setThreadCount(threads);
    fs::create_directories(work);
    std::vector<std::string> paths;
    for (int f = 0; f < files; ++f) {
        const fs::path path = work / ("recording-" + std::to_string(int(seconds)) + "s-" +
                                      std::to_string(f) + ".wav");
        if (!fs::exists(path))
            zvbench::writeWav(path, zvbench::syntheticSpeech(seconds, uint32_t(1000 + f), true));
        paths.push_back(path.string());
    }
    if (!run.empty()) return runConfiguration(run, preset, work, paths, seconds, tokensFile);

    zvbench::generatedModel(preset, work); // once, before the timed processes
    std::printf("%d recordings of %.0f s on the generated %s model, %d runtime threads\n", files,
                seconds, preset.c_str(), platform::ml::Runtime::threadCount());
    std::fflush(stdout);
    std::vector<std::string> runs = {"one"};
    for (int w : workers)
        runs.push_back(std::to_string(w));
    std::string reference;
    for (const std::string& configuration : runs) {
        const fs::path tokens = work / ("tokens-" + configuration + ".txt");
        const auto exit = platform::system::runProcess(
            argv[0],
            {"--run", configuration, "--tokens", tokens.string(), "--preset", preset, "--files",
             std::to_string(files), "--seconds", std::to_string(seconds), "--threads",
             std::to_string(platform::ml::Runtime::threadCount()), "--work", work.string()},
            false);
        if (!exit.success()) {
            std::fprintf(stderr, "the %s run failed\n", configuration.c_str());
            return 1;
        }
        const std::string produced = readFile(tokens);
        if (configuration == "one")
            reference = produced;
        else
            std::printf("             tokens %s the one-by-one run\n",
                        produced == reference ? "identical to" : "DIFFER from");
        std::fflush(stdout);
    }
    return 0;
}
