#include "murmex/base/WhisperError.h"
#include "murmex/core/audio/EnergyVAD.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>

namespace murmex {
namespace {

/// Samples whose frames of 1,600 are loud exactly where `speech` says.
std::vector<float> framesOf(const std::vector<bool>& speech, size_t frameLength = 1600) {
    std::vector<float> samples;
    for (bool loud : speech)
        samples.insert(samples.end(), frameLength, loud ? 0.5f : 0.0f);
    return samples;
}

TEST(EnergyVAD, FramesTileTheSamplesAndReachIntoTheNextByTheOverlap) {
    const EnergyVAD vad;
    EXPECT_EQ(vad.voiceActivity(std::vector<float>(1600, 0.5f)).size(), 1u);
    // 1601 samples: a second frame of one sample.
    std::vector<float> oneMore(1601, 0.0f);
    oneMore.back() = 0.5f;
    EXPECT_EQ(vad.voiceActivity(oneMore), (std::vector<bool>{false, true}));
    EXPECT_TRUE(vad.voiceActivity({}).empty());
    // Silence is never speech, not even with threshold 0; the threshold itself is silence.
    EXPECT_EQ(EnergyVAD(16000, 1600, 0, 0.0f).voiceActivity(std::vector<float>(3200)),
              (std::vector<bool>{false, false}));
    EXPECT_EQ(EnergyVAD(16000, 1600, 0, 0.5f).voiceActivity(std::vector<float>(1600, 0.5f)),
              (std::vector<bool>{false}));
    // With an overlap of 400, frame 0 hears samples up to 1999.
    std::vector<float> late(3200, 0.0f);
    std::fill(late.begin() + 1990, late.begin() + 2000, 0.9f);
    EXPECT_EQ(EnergyVAD(16000, 1600, 400, 0.02f).voiceActivity(late),
              (std::vector<bool>{true, true}));
    EXPECT_EQ(vad.voiceActivity(late), (std::vector<bool>{false, true}));
}

TEST(EnergyVAD, LongestSilenceIsTheFirstOfTheLongestRuns) {
    const EnergyVAD vad;
    struct Case {
        std::vector<bool> decisions;
        std::optional<IndexRange> longest;
    };
    const Case cases[] = {
        {{false, false, true, false, false}, IndexRange{0, 2}},
        {{true, false, false, false}, IndexRange{1, 4}},
        {{true, true}, std::nullopt},
        {{}, std::nullopt},
        {{false, true, false, false, true, false, false, false}, IndexRange{5, 8}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(vad.findLongestSilence(c.decisions), c.longest);
}

TEST(EnergyVAD, ActiveChunksAndTheirTimes) {
    const EnergyVAD vad;
    const std::vector<float> samples = framesOf({false, true, true, false, true});
    const std::vector<IndexRange> expected = {{1600, 4800}, {6400, 8000}};
    EXPECT_EQ(vad.calculateActiveChunks(samples), expected);
    // A last frame cut short ends with the samples.
    std::vector<float> cut(samples.begin(), samples.end() - 100);
    EXPECT_EQ(vad.calculateActiveChunks(cut).back(), (IndexRange{6400, 7900}));
    EXPECT_EQ(vad.calculateNonSilentSeekClips(samples),
              (std::vector<SeekClip>{{1600, 4800}, {6400, 8000}}));
    EXPECT_EQ(vad.calculateSeekTimestamps(samples),
              (std::vector<SeekTimestamp>{{0.1f, 0.3f}, {0.4f, 0.5f}}));
    EXPECT_EQ(vad.voiceActivityClipTimestamps(samples),
              (std::vector<float>{0.1f, 0.3f, 0.4f, 0.5f}));
    EXPECT_EQ(vad.voiceActivityIndexToAudioSampleIndex(5), 8000);
    EXPECT_FLOAT_EQ(vad.voiceActivityIndexToSeconds(5), 0.5f);
    EXPECT_EQ(vad.voiceActivityAsync(samples), vad.voiceActivity(samples));
}

TEST(EnergyVAD, GeometryInSecondsAndDetectorsThatCannotBeBuilt) {
    const EnergyVAD seconds = EnergyVAD::withSeconds(16000, 0.1f, 0.0f, 0.02f);
    EXPECT_EQ(seconds.frameLengthSamples(), 1600);
    EXPECT_EQ(seconds.frameOverlapSamples(), 0);
    EXPECT_EQ(EnergyVAD::withSeconds(16000, 0.025f, 0.01f).frameOverlapSamples(), 160);
    const EnergyVAD defaults;
    EXPECT_EQ(defaults.sampleRate(), 16000);
    EXPECT_EQ(defaults.frameLengthSamples(), 1600);
    EXPECT_FLOAT_EQ(defaults.energyThreshold(), 0.02f);
    for (auto make : std::vector<std::function<void()>>{
             [] { EnergyVAD(16000, 0); }, [] { EnergyVAD(16000, -1600); },
             [] { EnergyVAD(0, 1600); }, [] { EnergyVAD(16000, 1600, -1); },
             [] { EnergyVAD::withSeconds(16000, 0.00001f); },
             [] { EnergyVAD::withSeconds(16000, std::nanf("")); }}) {
        try {
            make();
            ADD_FAILURE() << "built";
        } catch (const WhisperError& error) {
            EXPECT_EQ(error.kind(), WhisperError::Kind::initializationError);
        }
    }
}

} // namespace
} // namespace murmex
