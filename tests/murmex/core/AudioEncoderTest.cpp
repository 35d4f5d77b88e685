#include "murmex/core/AudioEncoder.h"

#include "murmex/base/WhisperError.h"
#include "murmex/core/FeatureExtractor.h"
#include "murmex/core/audio/AudioProcessor.h"
#include "murmex/support/TinyWhisperModels.h"
#include "platform/ml/DictionaryFeatureProvider.h"
#include "platform/system/Cancellation.h"

#include <gtest/gtest.h>
#include <random>

namespace murmex {
namespace {

using platform::ml::MultiArray;

/// The spectrogram of one window of noise, made by the tiny mel model.
MultiArray spectrogram() {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<float> samples(300000);
    for (float& sample : samples)
        sample = noise(random);
    FeatureExtractor extractor;
    extractor.loadModel(testing::tinyWhisperModels().melSpectrogram,
                        platform::ml::ComputeUnits::cpuOnly, false);
    AudioProcessor processor;
    auto mel =
        extractor.logMelSpectrogram(*processor.padOrTrim(samples, 0, *extractor.windowSamples()));
    return std::any_cast<MultiArray>(*mel);
}

TEST(AudioEncoder, SizesComeFromTheLoadedModelOnly) {
    AudioEncoder encoder;
    EXPECT_FALSE(encoder.embedSize());
    EXPECT_FALSE(encoder.sequenceLength());
    encoder.loadModel(testing::tinyWhisperModels().audioEncoder,
                      platform::ml::ComputeUnits::cpuOnly, false);
    const auto& shape =
        encoder.model()->description().output("encoder_output_embeds")->multiArrayConstraint->shape;
    ASSERT_EQ(shape.size(), 4u);
    EXPECT_EQ(encoder.embedSize(), shape[1]);
    EXPECT_EQ(encoder.embedSize(), 16);
    EXPECT_EQ(encoder.sequenceLength(), shape[3]);
    EXPECT_EQ(encoder.sequenceLength(), 1500);
    encoder.unloadModel();
    EXPECT_FALSE(encoder.embedSize());
    EXPECT_FALSE(encoder.sequenceLength());
}

TEST(AudioEncoder, GivesTheRuntimeOutputUnchanged) {
    AudioEncoder encoder;
    encoder.loadModel(testing::tinyWhisperModels().audioEncoder,
                      platform::ml::ComputeUnits::cpuOnly, false);
    const MultiArray mel = spectrogram();
    const auto result = encoder.encodeFeatures(FeatureExtractorOutputType(mel));
    ASSERT_TRUE(result);
    const auto* embedding = std::any_cast<MultiArray>(&*result);
    ASSERT_TRUE(embedding);

    platform::ml::DictionaryFeatureProvider input;
    input.set("melspectrogram_features", mel);
    const auto direct = encoder.model()
                            ->prediction(input)
                            ->featureValue("encoder_output_embeds")
                            ->multiArrayValue();
    ASSERT_EQ(embedding->shape(), direct->shape());
    EXPECT_EQ(embedding->dataType(), direct->dataType());
    EXPECT_EQ(embedding->toFloatVector(), direct->toFloatVector());
    // The multi-array form gives the same.
    EXPECT_EQ(encoder.encodeFeatures(mel)->toFloatVector(), direct->toFloatVector());
}

TEST(AudioEncoder, RefusesWhatItCannotRun) {
    AudioEncoder encoder;
    try {
        encoder.encodeFeatures(FeatureExtractorOutputType(std::string("mel")));
        ADD_FAILURE() << "accepted";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error,
                  WhisperError::audioProcessingFailed("AudioEncoder input must be MLMultiArray"));
    }
    const MultiArray mel = spectrogram();
    try {
        encoder.encodeFeatures(FeatureExtractorOutputType(mel));
        ADD_FAILURE() << "ran without a model";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error, WhisperError::modelsUnavailable("Models are unavailable"));
    }
    encoder.loadModel(testing::tinyWhisperModels().audioEncoder,
                      platform::ml::ComputeUnits::cpuOnly, false);
    std::stop_source stop;
    stop.request_stop();
    platform::system::CancellationScope scope(stop.get_token());
    EXPECT_THROW(encoder.encodeFeatures(mel), platform::system::CancellationError);
}

} // namespace
} // namespace murmex
