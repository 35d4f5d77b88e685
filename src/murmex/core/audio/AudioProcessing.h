#pragma once
// The audio front end as the transcription engine reaches it: turning a
// stretch of samples into the fixed-length input of one model window, and
// stopping any capture the processor runs. AudioProcessor is the default
// implementation; callers may hand in their own.

#include "murmex/base/Constants.h"
#include "platform/audio/PcmBuffer.h"
#include "platform/ml/MultiArray.h"

#include <any>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace murmex {

/// The result of padOrTrim: a value of any type. The default processor makes
/// a platform::ml::MultiArray, which is what the feature extractor accepts.
using AudioProcessorOutputType = std::any;

class AudioProcessing {
public:
    virtual ~AudioProcessing() = default;

    /// The samples from `startAt` on, cut or zero-padded to `toLength`, as the
    /// model input of one window; nothing when `startAt` lies outside the
    /// samples.
    virtual std::optional<AudioProcessorOutputType>
    padOrTrim(std::span<const float> audioArray, int64_t startAt, int64_t toLength) = 0;

    /// Stops any microphone capture of the processor; harmless when none runs.
    virtual void stopRecording() = 0;

    /// Shared implementation of padOrTrim: a float32 multi-array of shape
    /// [toLength] holding the samples from `startAt` on, zero-padded.
    /// Nothing (with an error line in the log) when `startAt` is negative or
    /// not below the sample count, when `toLength` is not positive, or when
    /// the array cannot be made. `saveSegment` is not used.
    static std::optional<platform::ml::MultiArray>
    padOrTrimAudio(std::span<const float> audioArray, int64_t startAt = 0,
                   int64_t toLength = Constants::defaultWindowSamples, bool saveSegment = false);

    /// The whole file at `path` as a 16 kHz mono buffer, all channels summed.
    /// Blocks the calling thread; throws WhisperError::loadAudioFailed.
    static std::shared_ptr<platform::audio::PcmBuffer> loadAudioAsync(const std::string& path);
};

} // namespace murmex
