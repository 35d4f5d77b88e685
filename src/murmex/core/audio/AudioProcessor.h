#pragma once
// The default audio front end: audio files of any rate and channel count
// turned into 16 kHz mono 32-bit float samples, and a stretch of samples
// turned into the fixed-length input of one model window.
//
// Every file operation is a static function that keeps no state and may run
// on any thread; the reading itself is platform::audio::AudioFileReader's
// (pieces of 1,323,000 frames by default, each down-mixed before its rate is
// converted, one converter over all pieces and, in loadAudioAsFloatArray,
// over all its 600-second stretches). Buffers are shared handles: an
// operation may hand back the very buffer it was given (convertToMono of a
// mono buffer), and convertBufferToArray clears the buffer it reads.
//
// Reader failures reach the caller as WhisperError::loadAudioFailed carrying
// the reader's reason.

#include "murmex/core/audio/AudioInputConfig.h"
#include "murmex/core/audio/AudioProcessing.h"
#include "platform/audio/AudioConverter.h"
#include "platform/audio/AudioFile.h"
#include "platform/audio/PcmBuffer.h"
#include "platform/system/Outcome.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace murmex {

class AudioProcessor : public AudioProcessing {
public:
    using ChannelMode = AudioInputConfig::ChannelMode;
    using PcmBuffer = platform::audio::PcmBuffer;
    using PcmBufferRef = std::shared_ptr<PcmBuffer>;
    using AudioFile = platform::audio::AudioFile;
    using AudioConverter = platform::audio::AudioConverter;

    /// Seconds of audio loadAudioAsFloatArray reads per stretch.
    static constexpr double floatArrayStretchSeconds = 600.0;

    AudioProcessor() = default;
    ~AudioProcessor() override;

    /// What padOrTrimAudio returns for the same arguments.
    std::optional<AudioProcessorOutputType> padOrTrim(std::span<const float> audioArray,
                                                      int64_t startAt, int64_t toLength) override;
    /// This processor captures nothing itself, so there is nothing to stop.
    void stopRecording() override;

    /// The time range of the file at `path` as a 16 kHz mono buffer. Throws
    /// WhisperError::loadAudioFailed when there is no file there ("Resource
    /// path does not exist <path>"), when it cannot be opened as audio, when
    /// the times are out of range, or when it cannot be read or converted.
    static PcmBufferRef loadAudio(const std::string& path,
                                  const ChannelMode& channelMode = ChannelMode::sumChannels(),
                                  std::optional<double> startTime = std::nullopt,
                                  std::optional<double> endTime = std::nullopt,
                                  std::optional<uint32_t> maxReadFrameSize = std::nullopt);

    /// The same for an open file. startTime must be finite and not negative,
    /// endTime finite and not before startTime; the end is clamped to the
    /// file's length.
    static PcmBufferRef loadAudio(AudioFile& file,
                                  const ChannelMode& channelMode = ChannelMode::sumChannels(),
                                  std::optional<double> startTime = std::nullopt,
                                  std::optional<double> endTime = std::nullopt,
                                  std::optional<uint32_t> maxReadFrameSize = std::nullopt);

    /// Converts `frameCount` frames (the whole file when absent) from the
    /// file's read position on, in pieces of `maxReadFrameSize` frames, each
    /// down-mixed with `channelMode`. Nothing, with the reason as an error
    /// line in the log, when a step fails.
    static PcmBufferRef resampleAudio(AudioFile& file, double toSampleRate, uint32_t channelCount,
                                      const ChannelMode& channelMode,
                                      std::optional<int64_t> frameCount, uint32_t maxReadFrameSize);

    /// Converts a whole buffer to the standard format of the given rate and
    /// channel count. Nothing, with an error line in the log, on failure.
    static PcmBufferRef resampleAudio(const PcmBuffer& buffer, double toSampleRate,
                                      uint32_t channelCount);

    /// Runs `converter` over `buffer` once: every frame is handed over exactly
    /// once and the converter keeps its filter state for the next buffer of
    /// the same stream. The result holds what the converter gives for this
    /// buffer, at most its rate-scaled length (rounded to the nearest frame,
    /// at least 1); an empty buffer ends the stream and yields what the
    /// converter still held. Throws WhisperError::audioProcessingFailed.
    static PcmBufferRef resampleBuffer(const PcmBuffer& buffer, AudioConverter& converter);

    /// One channel made from a float buffer as `mode` says; the buffer itself
    /// when it has one channel already. Nothing on failure.
    static PcmBufferRef convertToMono(const PcmBufferRef& buffer, const ChannelMode& mode);

    /// The samples of channel 0, copied `chunkSize` samples at a time (one
    /// piece when chunkSize is below 1); each piece copied is cleared in the
    /// buffer, which holds silence afterwards.
    static std::vector<float> convertBufferToArray(PcmBuffer& buffer, int chunkSize = 1024);

    /// The file's time range as 16 kHz mono samples, read in 600-second
    /// stretches. An empty list when the start is not before the end. Throws
    /// WhisperError::loadAudioFailed.
    static std::vector<float>
    loadAudioAsFloatArray(const std::string& path,
                          const ChannelMode& channelMode = ChannelMode::sumChannels(),
                          std::optional<double> startTime = std::nullopt,
                          std::optional<double> endTime = std::nullopt);

    /// Loads every file in parallel; one result per path, in path order. A
    /// file that fails does not stop the others.
    static std::vector<platform::system::Outcome<std::vector<float>>>
    loadAudioAt(const std::vector<std::string>& paths,
                const ChannelMode& channelMode = ChannelMode::sumChannels());
};

} // namespace murmex
