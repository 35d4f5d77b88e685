#pragma once
// The default audio-encoder stage: runs the "AudioEncoder" model on one
// spectrogram ("melspectrogram_features" in, "encoder_output_embeds" out).
// The stage holds nothing but its model, so several windows may be encoded
// through it at once.

#include "murmex/core/AudioEncoding.h"
#include "murmex/core/WhisperMLModel.h"
#include "platform/ml/MultiArray.h"

#include <memory>

namespace murmex {

class AudioEncoder : public AudioEncoding, public LockedWhisperMLModel {
public:
    AudioEncoder() = default;

    /// Dimension 1 of the shape of the output "encoder_output_embeds".
    std::optional<int> embedSize() const override;
    /// Dimension 3 of the same shape: the length of the output sequence.
    std::optional<int> sequenceLength() const;

    /// Throws WhisperError::audioProcessingFailed "AudioEncoder input must be
    /// MLMultiArray" for anything but a platform::ml::MultiArray; otherwise
    /// the multi-array form below.
    std::optional<AudioEncoderOutputType>
    encodeFeatures(const FeatureExtractorOutputType& features) override;

    /// Throws WhisperError::modelsUnavailable without a model,
    /// CancellationError when the running task is cancelled, and prediction
    /// errors unchanged. Nothing (with an error line) when the model gives no
    /// such output.
    virtual std::optional<platform::ml::MultiArray>
    encodeFeatures(const platform::ml::MultiArray& features);
};

} // namespace murmex
