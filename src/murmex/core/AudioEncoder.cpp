#include "murmex/core/AudioEncoder.h"

#include "murmex/base/EngineSignposts.h"
#include "murmex/base/WhisperError.h"
#include "murmex/core/FeatureDimension.h"
#include "murmex/core/ModelFeatureProviders.h"
#include "murmex/core/SingleFeaturePrediction.h"

namespace murmex {

std::optional<int> AudioEncoder::embedSize() const {
    const auto loaded = model();
    return loaded ? featureDimension(loaded->description().output("encoder_output_embeds"), 1)
                  : std::nullopt;
}

std::optional<int> AudioEncoder::sequenceLength() const {
    const auto loaded = model();
    return loaded ? featureDimension(loaded->description().output("encoder_output_embeds"), 3)
                  : std::nullopt;
}

std::optional<AudioEncoderOutputType>
AudioEncoder::encodeFeatures(const FeatureExtractorOutputType& features) {
    const auto* array = std::any_cast<platform::ml::MultiArray>(&features);
    if (!array)
        throw WhisperError::audioProcessingFailed("AudioEncoder input must be MLMultiArray");
    auto embedding = encodeFeatures(*array);
    if (!embedding) return std::nullopt;
    return AudioEncoderOutputType(std::move(*embedding));
}

std::optional<platform::ml::MultiArray>
AudioEncoder::encodeFeatures(const platform::ml::MultiArray& features) {
    const auto loaded = model();
    if (!loaded) throw WhisperError::modelsUnavailable("Models are unavailable");
    // The caller's array goes to the model as it is: a handle, not a copy.
    return predictSingleFeature(*loaded, AudioEncoderInput(features), "encoder_output_embeds",
                                "EncodeAudio", Signposts::AudioEncoding::signposter());
}

} // namespace murmex
