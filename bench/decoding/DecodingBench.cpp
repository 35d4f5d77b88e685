#include "model_gen/ModelGenerator.h"
#include "murmex/base/TextUtilities.h"
#include "murmex/core/TextDecoder.h"
#include "murmex/core/text/GreedyTokenSampler.h"
#include "murmex/core/text/SegmentSeeker.h"
#include "murmex/core/text/TimestampRulesFilter.h"
#include "murmex/support/ScriptedTokenizer.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <random>
#include <unistd.h>

using namespace murmex;
using murmex::testing::ScriptedTokenizer;
using platform::ml::ElementType;
using platform::ml::MultiArray;
using platform::system::Float16;

namespace {

constexpr int64_t kVocabulary = 51865;

MultiArray randomLogits(uint32_t seed) {
    MultiArray logits({1, 1, kVocabulary}, ElementType::float16);
    std::mt19937 random(seed);
    std::normal_distribution<float> normal(0.0f, 3.0f);
    auto* values = logits.data<Float16>();
    for (int64_t i = 0; i < kVocabulary; ++i)
        values[i] = Float16(normal(random));
    return logits;
}

void BM_GreedySample(benchmark::State& state) {
    MultiArray logits = randomLogits(1);
    GreedyTokenSampler sampler(Float16(static_cast<float>(state.range(0)) / 10.0f), 50257,
                               DecodingOptions{});
    std::vector<int> tokens{50258, 50259, 50359, 50364};
    std::vector<float> logProbs(4, 0.0f);
    for (auto _ : state)
        benchmark::DoNotOptimize(sampler.update(tokens, logits, logProbs));
}
BENCHMARK(BM_GreedySample)->Arg(0)->Arg(5); // temperature 0 and 0.5

void BM_TimestampRules(benchmark::State& state) {
    const MultiArray source = randomLogits(2);
    ScriptedTokenizer tokenizer = ScriptedTokenizer::whisperLayout();
    TimestampRulesFilter filter(tokenizer.specialTokens(), 4, std::nullopt, true);
    std::vector<int> tokens{50258, 50259, 50359, 50364, 400, 500, 50400};
    MultiArray logits = source.copy();
    for (auto _ : state) {
        state.PauseTiming();
        logits = source.copy();
        state.ResumeTiming();
        benchmark::DoNotOptimize(filter.filterLogits(logits, tokens));
    }
}
BENCHMARK(BM_TimestampRules);

void BM_DynamicTimeWarping(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    std::vector<float> weights(static_cast<size_t>(rows) * 1500);
    std::mt19937 random(3);
    std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
    for (float& w : weights)
        w = uniform(random);
    for (auto _ : state)
        benchmark::DoNotOptimize(SegmentSeeker::dynamicTimeWarping(weights, rows, 1500));
}
BENCHMARK(BM_DynamicTimeWarping)->Arg(32)->Arg(224)->Unit(benchmark::kMillisecond);

void BM_CompressionRatio(benchmark::State& state) {
    std::vector<int> tokens;
    std::mt19937 random(4);
    for (int i = 0; i < 224; ++i)
        tokens.push_back(static_cast<int>(random() % 50257));
    for (auto _ : state)
        benchmark::DoNotOptimize(TextUtilities::compressionRatio(tokens));
}
BENCHMARK(BM_CompressionRatio);

// A whole window of 224 positions on the tiny model: dominated by the loop's
// own work (filters, sampling, cache copies), since the model is tiny.
struct NoEnd : LogitsFiltering {
    MultiArray filterLogits(MultiArray logits, const std::vector<int>&) override {
        logits.setValue(50257, -INFINITY);
        return logits;
    }
};

void BM_DecodeWindowTinyModel(benchmark::State& state) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("zv-decoding-bench-" + std::to_string(::getpid()));
    modelgen::GeneratorOptions options;
    options.dimensions = modelgen::tinyTestDimensions();
    options.melSpectrogram = false;
    options.audioEncoder = false;
    const auto models = modelgen::generateWhisperModels(folder, options);

    auto decoder = std::make_shared<TextDecoder>();
    decoder->loadModel(models.textDecoder, platform::ml::ComputeUnits::cpuOnly, false);
    decoder->setTokenizer(std::make_shared<ScriptedTokenizer>(ScriptedTokenizer::whisperLayout()));
    decoder->setIsModelMultilingual(true);
    decoder->setLogitsFilters(LogitsFilterList{std::make_shared<NoEnd>()});
    DecodingOptions decoding{.language = "en", .firstTokenLogProbThreshold = std::nullopt};
    auto inputs = decoder->prefillDecoderInputs(decoder->prepareDecoderInputs({50258}), decoding);
    MultiArray encoderOutput({1, 16, 1, 1500}, ElementType::float16);
    double predictions = 0, nonPrediction = 0, steps = 0;
    for (auto _ : state) {
        inputs->reset(0, 224);
        GreedyTokenSampler sampler(Float16(0.0f), 50257, decoding);
        DecodingResult result = decoder->decodeText(encoderOutput, *inputs, sampler, decoding, {});
        predictions += result.timings->decodingPredictions;
        nonPrediction += result.timings->decodingNonPrediction;
        steps += result.timings->totalDecodingLoops;
    }
    state.counters["steps/window"] = steps / static_cast<double>(state.iterations());
    state.counters["us/step model"] = 1e6 * predictions / steps;
    state.counters["us/step loop"] = 1e6 * nonPrediction / steps;
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}
BENCHMARK(BM_DecodeWindowTinyModel)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
