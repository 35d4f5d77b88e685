#pragma once
// The mel-spectrogram stage as the engine reaches it: one padded window of
// audio in, its log-mel spectrogram out. FeatureExtractor is the default.

#include "murmex/core/audio/AudioProcessing.h"

#include <any>
#include <optional>

namespace murmex {

/// The result of the mel stage: a value of any type. The default stage makes
/// a platform::ml::MultiArray, which is what the audio encoder accepts.
using FeatureExtractorOutputType = std::any;

class FeatureExtracting {
public:
    virtual ~FeatureExtracting() = default;

    /// Mel bins per frame; absent while no model is loaded.
    virtual std::optional<int> melCount() const = 0;
    /// Audio samples the model takes per window; absent while no model is
    /// loaded (the engine then uses 480,000).
    virtual std::optional<int> windowSamples() const = 0;

    /// The log-mel spectrogram of one window (the result of padOrTrim). May
    /// block; throws on failure.
    virtual std::optional<FeatureExtractorOutputType>
    logMelSpectrogram(const AudioProcessorOutputType& audio) = 0;
};

} // namespace murmex
