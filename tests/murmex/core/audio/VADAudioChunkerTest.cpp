#include "murmex/core/audio/VADAudioChunker.h"

#include "murmex/base/WhisperError.h"
#include "murmex/core/audio/EnergyVAD.h"
#include "murmex/support/LogCapture.h"

#include <gtest/gtest.h>
#include <mutex>
#include <random>

namespace murmex {
namespace {

/// Loud noise ("speech") with silences at the given second ranges.
std::vector<float> speechWithSilences(double seconds,
                                      const std::vector<std::pair<double, double>>& silences) {
    std::vector<float> samples(size_t(seconds * 16000));
    std::mt19937 random(3);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    for (float& sample : samples)
        sample = noise(random);
    for (auto [from, to] : silences)
        std::fill(samples.begin() + int64_t(from * 16000), samples.begin() + int64_t(to * 16000),
                  0.0f);
    return samples;
}

/// The default energy detector, remembering which spans it was asked about.
class RecordingVAD : public EnergyVAD {
public:
    std::vector<bool> voiceActivity(std::span<const float> waveform) const override {
        std::lock_guard lock(mutex);
        spans.push_back(waveform.size());
        return EnergyVAD::voiceActivity(waveform);
    }
    mutable std::mutex mutex;
    mutable std::vector<size_t> spans;
};

/// Chunk offsets and ends.
std::vector<std::pair<int64_t, int64_t>> bounds(const std::vector<AudioChunk>& chunks) {
    std::vector<std::pair<int64_t, int64_t>> result;
    for (const AudioChunk& chunk : chunks)
        result.emplace_back(chunk.seekOffsetIndex,
                            chunk.seekOffsetIndex + int64_t(chunk.audioSamples.size()));
    return result;
}

TEST(VADAudioChunker, AudioOfOneWindowIsOneChunkWithoutDetection) {
    auto vad = std::make_shared<RecordingVAD>();
    VADAudioChunker chunker(16000, vad);
    const auto samples = speechWithSilences(30, {});
    const auto chunks = chunker.chunkAll(samples, 480000, std::nullopt);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].seekOffsetIndex, 0);
    EXPECT_EQ(chunks[0].audioSamples, samples);
    EXPECT_TRUE(vad->spans.empty());
}

TEST(VADAudioChunker, CutsFallInTheMiddleOfTheLongestSilenceOfTheWindowsSecondHalf) {
    auto vad = std::make_shared<RecordingVAD>();
    VADAudioChunker chunker(16000, vad);
    // A short pause at 20 s and a longer one at 25 s; the cut goes into the
    // longer one: frames 100 to 110 of the second half, the middle frame 105.
    const auto samples = speechWithSilences(100, {{20.0, 20.3}, {25.0, 26.0}, {60.0, 61.0}});
    testing::LogCapture log;
    const auto chunks = chunker.chunkAll(samples, 480000, std::nullopt);
    ASSERT_GE(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].seekOffsetIndex, 0);
    EXPECT_EQ(chunks[0].audioSamples.size(), 240000u + 105 * 1600);
    EXPECT_EQ(vad->spans.front(), 240000u); // samples 240,000 to 480,000
    EXPECT_TRUE(log.contains("Found chunk from 0.00 to 25.50"));
    // Chunks follow one another without gap or overlap and cover everything.
    int64_t next = 0;
    for (const auto& [start, end] : bounds(chunks)) {
        EXPECT_EQ(start, next);
        EXPECT_LE(end - start, 480000);
        next = end;
    }
    EXPECT_EQ(next, int64_t(samples.size()));
}

TEST(VADAudioChunker, WindowsWithoutSilenceAreCutHardAndNoTailIsLeftTooShortToTranscribe) {
    VADAudioChunker chunker;
    using Bounds = std::vector<std::pair<int64_t, int64_t>>;
    // Speech with no silence: a hard cut at the window's end.
    EXPECT_EQ(bounds(chunker.chunkAll(speechWithSilences(70, {}), 480000, std::nullopt)),
              (Bounds{{0, 480000}, {480000, 960000}, {960000, 1120000}}));
    // 480,001 samples: a cut at the window's end would leave one sample,
    // which no window would ever start at; the cut moves back so the last
    // chunk holds more than a second (and a frame).
    std::vector<float> justOver = speechWithSilences(30, {});
    justOver.push_back(0.25f);
    EXPECT_EQ(bounds(chunker.chunkAll(justOver, 480000, std::nullopt)),
              (Bounds{{0, 462401}, {462401, 480001}}));
    // A silence in the last second cannot take the cut either; one before it can.
    EXPECT_EQ(
        bounds(chunker.chunkAll(speechWithSilences(30.5, {{29.6, 29.8}}), 480000, std::nullopt)),
        (Bounds{{0, 470400}, {470400, 488000}}));
    const auto earlier =
        bounds(chunker.chunkAll(speechWithSilences(30.5, {{28.0, 28.5}}), 480000, std::nullopt));
    ASSERT_EQ(earlier.size(), 2u);
    EXPECT_GE(earlier[0].second, 448000);
    EXPECT_LT(earlier[0].second, 456000);
    EXPECT_EQ(earlier[1].second, 488000);
}

TEST(VADAudioChunker, ClipTimesChooseTheAudioAndAClipPastTheEndFails) {
    VADAudioChunker chunker;
    const auto samples = speechWithSilences(70, {});
    DecodingOptions options;
    options.clipTimestamps = {10.0f, 50.0f};
    EXPECT_EQ(bounds(chunker.chunkAll(samples, 480000, options)),
              (std::vector<std::pair<int64_t, int64_t>>{{160000, 640000}, {640000, 800000}}));
    options.clipTimestamps = {60.0f, 200.0f}; // the end lies beyond the audio
    EXPECT_EQ(bounds(chunker.chunkAll(samples, 480000, options)),
              (std::vector<std::pair<int64_t, int64_t>>{{960000, 1120000}}));
    options.clipTimestamps = {80.0f, 90.0f};
    try {
        chunker.chunkAll(samples, 480000, options);
        ADD_FAILURE() << "no error";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error,
                  WhisperError::audioProcessingFailed("startIndex is outside the buffer size"));
    }
    EXPECT_THROW(chunker.chunkAll(samples, 0, std::nullopt), WhisperError);
}

TranscriptionResult resultWithSegment(int seek, float start, float end) {
    TranscriptionSegment segment;
    segment.seek = seek;
    segment.start = start;
    segment.end = end;
    segment.words = std::vector<WordTiming>{{"hi", {1}, start, end, 0.9f}};
    return TranscriptionResult("hi", {segment}, "ru", TranscriptionTimings{});
}

TEST(VADAudioChunker, ResultsMoveByTheirChunksOffsetAndFailedChunksAreLeftOut) {
    using Outcome = platform::system::Outcome<std::vector<TranscriptionResult>>;
    std::vector<AudioChunk> chunks = {{0, {}}, {400000, {}}, {480000, {}}};
    std::vector<Outcome> outcomes;
    outcomes.emplace_back(std::vector{resultWithSegment(0, 1.0f, 2.0f)});
    outcomes.emplace_back(std::make_exception_ptr(WhisperError::transcriptionFailed("broken")));
    outcomes.emplace_back(std::vector{resultWithSegment(1600, 0.5f, 1.5f)});
    testing::LogCapture log;
    const auto merged = AudioChunking::updateSeekOffsetsForResults(outcomes, chunks);
    ASSERT_EQ(merged.size(), 2u);
    EXPECT_TRUE(log.contains("Error transcribing chunk 1: broken"));
    EXPECT_EQ(merged[0].seekTime(), 0.0f);
    EXPECT_EQ(merged[0].segments()[0].start, 1.0f);
    // A chunk at 480,000 samples: 30 seconds later, seek 480,000 further.
    EXPECT_EQ(merged[1].seekTime(), 30.0f);
    const TranscriptionSegment shifted = merged[1].segments()[0];
    EXPECT_EQ(shifted.seek, 481600);
    EXPECT_FLOAT_EQ(shifted.start, 30.5f);
    EXPECT_FLOAT_EQ(shifted.end, 31.5f);
    EXPECT_FLOAT_EQ((*shifted.words)[0].start, 30.5f);
    EXPECT_FLOAT_EQ((*shifted.words)[0].end, 31.5f);
    // The results handed in were changed in place.
    EXPECT_EQ(outcomes[2].get()[0].seekTime(), 30.0f);

    std::vector<Outcome> none;
    EXPECT_TRUE(AudioChunking::updateSeekOffsetsForResults(none, chunks).empty());
    chunks.resize(1);
    EXPECT_THROW(AudioChunking::updateSeekOffsetsForResults(outcomes, chunks), WhisperError);
}

} // namespace
} // namespace murmex
