#pragma once
// The audio front end as the transcription engine reaches it: turning a
// stretch of samples into the fixed-length input of one model window, and
// live capture from an input device (the samples since the start, one
// loudness record per captured buffer, start, pause, resume and stop).
// AudioProcessor is the default implementation; callers may hand in their
// own.

#include "murmex/base/Constants.h"
#include "platform/audio/PcmBuffer.h"
#include "platform/ml/MultiArray.h"
#include "platform/system/AsyncStream.h"

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace murmex {

/// The result of padOrTrim: a value of any type. The default processor makes
/// a platform::ml::MultiArray, which is what the feature extractor accepts.
using AudioProcessorOutputType = std::any;

/// The capture backend's number of an input device (see AudioProcessor::getAudioDevices).
using DeviceID = uint32_t;

/// Receives every captured buffer as 16 kHz mono samples.
using AudioBufferCallback = std::function<void(const std::vector<float>&)>;

/// The captured buffers of startStreamingRecordingLive, and its producer side.
using AudioSampleStream = platform::system::AsyncStream<std::vector<float>>;

class AudioProcessing {
public:
    virtual ~AudioProcessing() = default;

    /// Every 16 kHz mono sample captured since the last start.
    virtual std::vector<float> audioSamples() const = 0;
    /// How many samples audioSamples() holds, without copying them.
    virtual size_t audioSampleCount() const { return audioSamples().size(); }
    /// Keeps only the newest `keepingLast` samples (all when there are not
    /// more); the loudness records stay.
    virtual void purgeAudioSamples(int64_t keepingLast) = 0;
    /// The relative loudness (0...1) of every captured buffer, in order.
    virtual std::vector<float> relativeEnergy() const = 0;
    virtual int relativeEnergyWindow() const = 0;
    virtual void setRelativeEnergyWindow(int window) = 0;

    /// Starts capturing from the device (the default input when absent),
    /// clearing the samples and loudness records; `callback` receives every
    /// buffer. Throws when capture cannot start.
    virtual void startRecordingLive(std::optional<DeviceID> inputDeviceID = std::nullopt,
                                    AudioBufferCallback callback = {}) = 0;
    /// Starts capturing and returns the buffers as a stream; a failure to
    /// start finishes the stream with the error. Ending the stream from
    /// either side stops the capture.
    virtual std::pair<AudioSampleStream, AudioSampleStream::Continuation>
    startStreamingRecordingLive(std::optional<DeviceID> inputDeviceID = std::nullopt) = 0;
    /// Pauses a running capture; nothing otherwise.
    virtual void pauseRecording() = 0;
    /// Stops any capture; the samples and records stay readable.
    virtual void stopRecording() = 0;
    /// Carries on the same recording: restarts a paused capture on the same
    /// device, or starts capturing from another device without clearing.
    /// A given callback replaces the current one. Throws when capture cannot
    /// start.
    virtual void resumeRecordingLive(std::optional<DeviceID> inputDeviceID = std::nullopt,
                                     AudioBufferCallback callback = {}) = 0;

    /// The samples from `startAt` on, cut or zero-padded to `toLength`, as the
    /// model input of one window; nothing when `startAt` lies outside the
    /// samples.
    virtual std::optional<AudioProcessorOutputType>
    padOrTrim(std::span<const float> audioArray, int64_t startAt, int64_t toLength) = 0;

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
