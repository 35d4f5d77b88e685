#include "murmex/core/FeatureExtractor.h"

#include "murmex/base/EngineSignposts.h"
#include "murmex/base/WhisperError.h"
#include "murmex/core/FeatureDimension.h"
#include "murmex/core/ModelFeatureProviders.h"
#include "murmex/core/SingleFeaturePrediction.h"

namespace murmex {

std::optional<int> FeatureExtractor::melCount() const {
    const auto loaded = model();
    return loaded ? featureDimension(loaded->description().output("melspectrogram_features"), 1)
                  : std::nullopt;
}

std::optional<int> FeatureExtractor::windowSamples() const {
    const auto loaded = model();
    return loaded ? featureDimension(loaded->description().input("audio"), 0) : std::nullopt;
}

std::optional<FeatureExtractorOutputType>
FeatureExtractor::logMelSpectrogram(const AudioProcessorOutputType& audio) {
    const auto* array = std::any_cast<platform::ml::MultiArray>(&audio);
    if (!array)
        throw WhisperError::audioProcessingFailed("FeatureExtractor input must be MLMultiArray");
    const auto loaded = model();
    if (!loaded) throw WhisperError::modelsUnavailable("Models are unavailable");
    // The caller's array goes to the model as it is: a handle, not a copy.
    auto features =
        predictSingleFeature(*loaded, MelSpectrogramInput(*array), "melspectrogram_features",
                             "ExtractAudioFeatures", Signposts::FeatureExtractor::signposter());
    if (!features) return std::nullopt;
    return FeatureExtractorOutputType(std::move(*features));
}

} // namespace murmex
