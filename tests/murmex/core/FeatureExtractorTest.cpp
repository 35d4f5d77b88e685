#include "murmex/core/FeatureExtractor.h"

#include "murmex/base/WhisperError.h"
#include "murmex/core/audio/AudioProcessor.h"
#include "murmex/support/LogCapture.h"
#include "murmex/support/TinyWhisperModels.h"
#include "platform/ml/DictionaryFeatureProvider.h"
#include "platform/system/Cancellation.h"
#include "tessary_core/Logging.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

namespace murmex {
namespace {

using platform::ml::MultiArray;

MultiArray window() {
    std::vector<float> samples(480000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = float(0.3 * std::sin(2 * std::numbers::pi * 440 * i / 16000.0));
    return *AudioProcessing::padOrTrimAudio(samples, 0, 480000);
}

TEST(FeatureExtractor, SizesComeFromTheLoadedModelOnly) {
    FeatureExtractor extractor;
    EXPECT_FALSE(extractor.melCount());
    EXPECT_FALSE(extractor.windowSamples());
    extractor.loadModel(testing::tinyWhisperModels().melSpectrogram,
                        platform::ml::ComputeUnits::cpuOnly, false);
    const auto& description = extractor.model()->description();
    EXPECT_EQ(extractor.windowSamples(),
              description.input("audio")->multiArrayConstraint->shape[0]);
    EXPECT_EQ(extractor.windowSamples(), 480000);
    EXPECT_EQ(extractor.melCount(),
              description.output("melspectrogram_features")->multiArrayConstraint->shape[1]);
    EXPECT_EQ(extractor.melCount(), 80);
    extractor.unloadModel();
    EXPECT_FALSE(extractor.melCount());
    EXPECT_FALSE(extractor.windowSamples());
}

TEST(FeatureExtractor, GivesTheRuntimeOutputUnchanged) {
    FeatureExtractor extractor;
    extractor.loadModel(testing::tinyWhisperModels().melSpectrogram,
                        platform::ml::ComputeUnits::cpuOnly, false);
    const MultiArray audio = window();
    testing::LogCapture log;
    const auto result = extractor.logMelSpectrogram(AudioProcessorOutputType(audio));
    ASSERT_TRUE(result);
    const auto* mel = std::any_cast<MultiArray>(&*result);
    ASSERT_TRUE(mel);
    EXPECT_TRUE(log.contains("ExtractAudioFeatures"));

    platform::ml::DictionaryFeatureProvider input;
    input.set("audio", audio);
    const auto direct = extractor.model()
                            ->prediction(input)
                            ->featureValue("melspectrogram_features")
                            ->multiArrayValue();
    ASSERT_EQ(mel->shape(), direct->shape());
    EXPECT_EQ(mel->dataType(), direct->dataType());
    EXPECT_EQ(mel->toFloatVector(), direct->toFloatVector());
}

TEST(FeatureExtractor, RefusesWhatItCannotRun) {
    FeatureExtractor extractor;
    // The input kind is checked first, even without a model.
    for (const AudioProcessorOutputType& wrong :
         {AudioProcessorOutputType(), AudioProcessorOutputType(3.5f),
          AudioProcessorOutputType(std::vector<float>(10))}) {
        try {
            extractor.logMelSpectrogram(wrong);
            ADD_FAILURE() << "accepted";
        } catch (const WhisperError& error) {
            EXPECT_EQ(error, WhisperError::audioProcessingFailed(
                                 "FeatureExtractor input must be MLMultiArray"));
        }
    }
    try {
        extractor.logMelSpectrogram(AudioProcessorOutputType(window()));
        ADD_FAILURE() << "ran without a model";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error, WhisperError::modelsUnavailable("Models are unavailable"));
    }

    // A cancelled task stops before the prediction and marks no interval.
    extractor.loadModel(testing::tinyWhisperModels().melSpectrogram,
                        platform::ml::ComputeUnits::cpuOnly, false);
    std::stop_source stop;
    stop.request_stop();
    platform::system::CancellationScope scope(stop.get_token());
    testing::LogCapture log;
    EXPECT_THROW(extractor.logMelSpectrogram(AudioProcessorOutputType(window())),
                 platform::system::CancellationError);
    EXPECT_FALSE(log.contains("ExtractAudioFeatures"));
}

} // namespace
} // namespace murmex
