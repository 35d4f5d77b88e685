// Cost of writing and reading a long transcription result as JSON and SRT:
// one hour of speech, 720 segments of 5 seconds with 12 timed words each.

#include "murmex/output/WriteSRT.h"
#include "murmex/records/TranscriptionResult.h"

#include <benchmark/benchmark.h>
#include <filesystem>

using namespace murmex;

namespace {

TranscriptionResult hourLongResult() {
    std::vector<TranscriptionSegment> segments;
    for (int s = 0; s < 720; ++s) {
        TranscriptionSegment segment;
        segment.id = s;
        segment.seek = s / 6 * 480000;
        segment.start = s * 5.0f;
        segment.end = segment.start + 4.9f;
        segment.text = " the quick brown fox jumps over the lazy dog and runs far away";
        segment.avgLogprob = -0.21f;
        segment.compressionRatio = 1.7f;
        segment.noSpeechProb = 0.01f;
        std::vector<WordTiming> words;
        for (int w = 0; w < 12; ++w) {
            int token = 400 + w;
            segment.tokens.push_back(token);
            segment.tokenLogProbs.push_back({{token, -0.05f * w}});
            words.push_back({" word",
                             {token},
                             segment.start + 0.4f * w,
                             segment.start + 0.4f * w + 0.35f,
                             0.93f});
        }
        segment.words = std::move(words);
        segments.push_back(std::move(segment));
    }
    return TranscriptionResult("", std::move(segments), "en", {});
}

void BM_EncodeResultJson(benchmark::State& state) {
    TranscriptionResult result = hourLongResult();
    size_t bytes = 0;
    for (auto _ : state) {
        std::string json = result.toJson(true);
        bytes = json.size();
        benchmark::DoNotOptimize(json);
    }
    state.SetBytesProcessed(int64_t(bytes) * state.iterations());
}
BENCHMARK(BM_EncodeResultJson)->Unit(benchmark::kMillisecond);

void BM_DecodeResultJson(benchmark::State& state) {
    std::string json = hourLongResult().toJson();
    for (auto _ : state)
        benchmark::DoNotOptimize(TranscriptionResult::fromJson(json));
    state.SetBytesProcessed(int64_t(json.size()) * state.iterations());
}
BENCHMARK(BM_DecodeResultJson)->Unit(benchmark::kMillisecond);

void BM_WriteSrtFile(benchmark::State& state) {
    TranscriptionResult result = hourLongResult();
    auto folder = std::filesystem::temp_directory_path();
    WriteSRT writer(folder.string());
    for (auto _ : state)
        benchmark::DoNotOptimize(writer.write(result, "records-bench"));
    std::filesystem::remove(folder / "records-bench.srt");
}
BENCHMARK(BM_WriteSrtFile)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
