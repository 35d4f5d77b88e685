#pragma once
// The audio-encoder stage as the engine reaches it: one log-mel spectrogram
// in, the encoder embedding the text decoder reads out. AudioEncoder is the
// default.

#include "murmex/core/FeatureExtracting.h"

#include <any>
#include <optional>

namespace murmex {

/// The result of the encoder stage: a value of any type. The default stage
/// makes a platform::ml::MultiArray, handed unchanged to the text decoder.
using AudioEncoderOutputType = std::any;

class AudioEncoding {
public:
    virtual ~AudioEncoding() = default;

    /// Width of the encoder embedding; absent while no model is loaded.
    virtual std::optional<int> embedSize() const = 0;

    /// The embedding of one spectrogram (the result of logMelSpectrogram).
    /// May block; throws on failure.
    virtual std::optional<AudioEncoderOutputType>
    encodeFeatures(const FeatureExtractorOutputType& features) = 0;
};

} // namespace murmex
