// chunk_bench: transcribes one long recording twice, with the window loop and
// with voice-activity chunking (chunks transcribed side by side), and reports
// the wall time of both, the chunks, and how far their words agree.
//
//   chunk_bench [--preset base] [--seconds 600] [--work DIR]
//               [--models DIR --tokenizer DIR] [--audio FILE] [--workers N]
//               [--threads N]
//
// By default the recording is synthetic phrases with pauses and the model is
// a generated one (so the words are those of random weights and are not
// expected to agree); --models/--tokenizer name a real model folder and
// --audio a real recording, and then the two transcripts should hold the
// same words. Fallback and the first-token test are off. --threads sets the
// model runtime's thread count (default: the processors this process may use).

#include "BenchEngine.h"
#include "murmex/base/Extensions.h"
#include "murmex/core/Murmex.h"
#include "murmex/core/audio/AudioProcessor.h"
#include "platform/ml/Runtime.h"

#include <chrono>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> words(const std::vector<murmex::TranscriptionResult>& results) {
    std::string text;
    for (const auto& result : results)
        text += result.text() + " ";
    std::stringstream in(murmex::normalized(text));
    std::vector<std::string> list;
    for (std::string word; in >> word;)
        list.push_back(word);
    return list;
}

/// Length of the longest common subsequence of two word lists.
size_t commonWords(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    std::vector<size_t> row(b.size() + 1, 0);
    for (const std::string& word : a) {
        size_t diagonal = 0;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = word == b[j - 1] ? diagonal + 1 : std::max(row[j], row[j - 1]);
            diagonal = above;
        }
    }
    return row[b.size()];
}

} // namespace

int main(int argc, char** argv) {
    std::string preset = "base";
    double seconds = 600;
    fs::path work = "/tmp/zv-chunk-bench";
    fs::path models, tokenizer, audio;
    int workers = 16;
    int threads = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (arg == "--preset")
            preset = next();
        else if (arg == "--seconds")
            seconds = std::atof(next().c_str());
        else if (arg == "--work")
            work = next();
        else if (arg == "--models")
            models = next();
        else if (arg == "--tokenizer")
            tokenizer = next();
        else if (arg == "--audio")
            audio = next();
        else if (arg == "--workers")
            workers = std::atoi(next().c_str());
        else if (arg == "--threads")
            threads = std::atoi(next().c_str());
        else {
            std::fprintf(stderr, "usage: chunk_bench [--preset P] [--seconds S] [--work DIR] "
                                 "[--models DIR --tokenizer DIR] [--audio FILE] [--workers N] "
                                 "[--threads N]\n");
            return 2;
        }
    }
    if (threads > 0) platform::ml::Runtime::setThreadCount(threads);
    fs::create_directories(work);
    murmex::MurmexConfig config;
    if (models.empty()) {
        config = zvbench::generatedModel(preset, work);
    } else {
        config.modelFolder = models.string();
        config.tokenizerFolder = tokenizer.string();
        config.logLevel = tessary::Logging::LogLevel::error;
        config.load = true;
        config.download = false;
    }
    std::vector<float> samples;
    if (audio.empty()) {
        samples = zvbench::syntheticSpeech(seconds, 77, true);
    } else {
        samples = murmex::AudioProcessor::loadAudioAsFloatArray(audio.string());
        seconds = double(samples.size()) / 16000;
    }
    auto engine = murmex::Murmex::create(config);
    murmex::DecodingOptions options;
    options.language = "ru";
    options.temperatureFallbackCount = 0;
    options.firstTokenLogProbThreshold = std::nullopt;
    options.concurrentWorkerCount = workers;

    auto timed = [&](const murmex::DecodingOptions& run) {
        const auto start = std::chrono::steady_clock::now();
        auto results = engine->transcribeAudioArray(samples, run);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return std::pair{std::move(results), wall};
    };
    std::printf("%.0f s of %s on the %s model, %d runtime threads\n", seconds,
                audio.empty() ? "synthetic phrases with pauses" : audio.c_str(),
                models.empty() ? ("generated " + preset).c_str() : models.c_str(),
                platform::ml::Runtime::threadCount());
    const auto [windowed, windowWall] = timed(options);
    std::printf("window loop: wall %7.2f s (real-time factor %.3f), %.0f windows\n", windowWall,
                windowWall / seconds, windowed.at(0).timings().totalEncodingRuns);
    murmex::DecodingOptions chunking = options;
    chunking.chunkingStrategy = murmex::ChunkingStrategy::vad;
    const auto [chunked, chunkWall] = timed(chunking);
    std::printf("vad chunks:  wall %7.2f s (real-time factor %.3f), %zu chunks, %d workers\n",
                chunkWall, chunkWall / seconds, chunked.size(), workers);
    std::printf("peak memory: %.1f MB\n", zvbench::peakMemoryMb());

    const auto windowWords = words(windowed);
    const auto chunkWords = words(chunked);
    const size_t common = commonWords(windowWords, chunkWords);
    std::printf("words: window loop %zu, chunked %zu, in common (in order) %zu: %s\n",
                windowWords.size(), chunkWords.size(), common,
                common == windowWords.size() && common == chunkWords.size() ? "the same words"
                                                                            : "they differ");
    return 0;
}
