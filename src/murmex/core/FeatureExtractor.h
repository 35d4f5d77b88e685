#pragma once
// The default mel-spectrogram stage: runs the "MelSpectrogram" model on one
// window ("audio" in, "melspectrogram_features" out). The stage holds nothing
// but its model, so several windows may be predicted through it at once.

#include "murmex/core/FeatureExtracting.h"
#include "murmex/core/WhisperMLModel.h"

#include <memory>

namespace murmex {

class FeatureExtractor : public FeatureExtracting, public LockedWhisperMLModel {
public:
    FeatureExtractor() = default;

    /// Dimension 1 of the shape of the output "melspectrogram_features".
    std::optional<int> melCount() const override;
    /// Dimension 0 of the shape of the input "audio".
    std::optional<int> windowSamples() const override;

    /// Throws WhisperError::audioProcessingFailed "FeatureExtractor input must
    /// be MLMultiArray" for anything but a platform::ml::MultiArray,
    /// WhisperError::modelsUnavailable without a model, CancellationError
    /// when the running task is cancelled, and prediction errors unchanged.
    /// Nothing (with an error line) when the model gives no such output.
    std::optional<FeatureExtractorOutputType>
    logMelSpectrogram(const AudioProcessorOutputType& audio) override;
};

} // namespace murmex
