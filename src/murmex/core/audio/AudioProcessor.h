#pragma once
// The default audio front end: audio files of any rate and channel count
// turned into 16 kHz mono 32-bit float samples, a stretch of samples turned
// into the fixed-length input of one model window, and live capture from an
// input device with a loudness record for every captured buffer.
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
//
// Live capture runs through platform::audio::AudioCapture: buffers of a
// tenth of a second (minBufferLength frames at 16 kHz) are converted to
// 16 kHz mono on the capture's converter thread, which then meters them,
// appends them to the samples and hands them to the buffer callback. The
// samples and records are guarded by one lock, so a reader always sees a
// buffer's samples together with its record. Linux has no per-application
// microphone permission: recording is allowed when an input device exists.

#include "murmex/core/audio/AudioInputConfig.h"
#include "murmex/core/audio/AudioProcessing.h"
#include "platform/audio/AudioCapture.h"
#include "platform/audio/AudioConverter.h"
#include "platform/audio/AudioFile.h"
#include "platform/audio/CaptureBackend.h"
#include "platform/audio/PcmBuffer.h"
#include "platform/system/BitmapImage.h"
#include "platform/system/Outcome.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace murmex {

/// An input device: the capture backend's number for it and its name.
struct AudioDevice {
    DeviceID id = 0;
    std::string name;
    friend bool operator==(const AudioDevice&, const AudioDevice&) = default;
};

/// The loudness of one captured buffer.
struct AudioEnergy {
    /// Loudness relative to the quietest of the previous 20 buffers, 0...1.
    float rel = 0;
    /// Root mean square of the samples.
    float avg = 0;
    /// Largest and smallest absolute sample.
    float max = 0;
    float min = 0;
    friend bool operator==(const AudioEnergy&, const AudioEnergy&) = default;
};

class AudioProcessor : public AudioProcessing {
public:
    using ChannelMode = AudioInputConfig::ChannelMode;
    using PcmBuffer = platform::audio::PcmBuffer;
    using PcmBufferRef = std::shared_ptr<PcmBuffer>;
    using AudioFile = platform::audio::AudioFile;
    using AudioConverter = platform::audio::AudioConverter;

    /// Seconds of audio loadAudioAsFloatArray reads per stretch.
    static constexpr double floatArrayStretchSeconds = 600.0;

    /// Captures through the machine's capture backend.
    AudioProcessor();
    /// Captures through `backend` (tests hand in their own).
    explicit AudioProcessor(std::shared_ptr<platform::audio::CaptureBackend> backend);
    /// Stops any capture first. Must not run inside the processor's own
    /// buffer callback.
    ~AudioProcessor() override;
    AudioProcessor(const AudioProcessor&) = delete;
    AudioProcessor& operator=(const AudioProcessor&) = delete;

    /// What padOrTrimAudio returns for the same arguments.
    std::optional<AudioProcessorOutputType> padOrTrim(std::span<const float> audioArray,
                                                      int64_t startAt, int64_t toLength) override;

    // Live capture.

    std::vector<float> audioSamples() const override;
    size_t audioSampleCount() const override;
    /// A negative count keeps nothing.
    void purgeAudioSamples(int64_t keepingLast) override;
    std::vector<AudioEnergy> audioEnergy() const;
    std::vector<float> relativeEnergy() const override;
    /// Factor of the progress-log period (see minBufferLength); default 20.
    int relativeEnergyWindow() const override { return relativeEnergyWindow_; }
    void setRelativeEnergyWindow(int window) override { relativeEnergyWindow_ = window; }
    /// Frames per captured buffer at 16 kHz (default 1,600, a tenth of a
    /// second); used from the next start. The debug line "Current audio
    /// size: ..." is written whenever the sample count reaches a multiple of
    /// minBufferLength x relativeEnergyWindow (never when that is not
    /// positive).
    int minBufferLength() const { return minBufferLength_; }
    void setMinBufferLength(int frames) { minBufferLength_ = frames; }
    AudioBufferCallback audioBufferCallback() const;
    void setAudioBufferCallback(AudioBufferCallback callback);
    /// While true, captured buffers are replaced by silence (still metered
    /// and delivered).
    bool isInputSuppressed() const { return isInputSuppressed_; }
    void setInputSuppressed(bool suppressed) { isInputSuppressed_ = suppressed; }
    /// Whether a capture runs or is paused.
    bool isRecording() const;
    /// Where this processor captures from.
    const std::shared_ptr<platform::audio::CaptureBackend>& captureBackend() const {
        return backend_;
    }

    /// Throws the capture backend's SystemError when the device cannot be
    /// opened or started, and WhisperError::audioProcessingFailed when
    /// minBufferLength is not a usable frame count. A device that does not
    /// exist is logged and replaced by the default input.
    void startRecordingLive(std::optional<DeviceID> inputDeviceID = std::nullopt,
                            AudioBufferCallback callback = {}) override;
    std::pair<AudioSampleStream, AudioSampleStream::Continuation>
    startStreamingRecordingLive(std::optional<DeviceID> inputDeviceID = std::nullopt) override;
    void pauseRecording() override;
    void stopRecording() override;
    void resumeRecordingLive(std::optional<DeviceID> inputDeviceID = std::nullopt,
                             AudioBufferCallback callback = {}) override;

    // Devices and permission.

    /// The input devices, in the system's order; logged and empty when the
    /// backend cannot list them.
    static std::vector<AudioDevice>
    getAudioDevices(platform::audio::CaptureBackend& backend = systemBackend());
    /// Linux has no audio session to set up: does nothing.
    void setupAudioSessionForDevice() {}
    /// Whether recording is allowed: there is no per-application microphone
    /// permission on Linux, so it is whether a default input device exists
    /// ("Microphone access denied" is logged when none does).
    static bool requestRecordPermission(platform::audio::CaptureBackend& backend = systemBackend());

    // Loudness helpers (no state; any thread).

    /// Root mean square; 0 for no samples.
    static float calculateAverageEnergy(std::span<const float> signal);
    struct Energy {
        float avg = 0, max = 0, min = 0;
    };
    /// Root mean square and the largest and smallest absolute value; zeros
    /// for no samples.
    static Energy calculateEnergy(std::span<const float> signal);
    /// The level of the samples in decibels, placed between the reference
    /// level (-60 dB without a reference) and full scale: 0...1.
    static float calculateRelativeEnergy(std::span<const float> signal,
                                         std::optional<float> reference);
    /// Whether any of the recent relative energies (one per tenth of a
    /// second) within `nextBufferInSeconds`, leaving out the newest ten when
    /// there are more than twenty, is above `silenceThreshold`.
    static bool isVoiceDetected(std::span<const float> energy, float nextBufferInSeconds,
                                float silenceThreshold);
    /// For chunk i, whether the root mean square of the samples from
    /// i x frameLengthSamples to frameLengthSamples + frameOverlapSamples
    /// further (cut at the end) is above `energyThreshold`. Chunks that start
    /// past the end are silent; a negative count gives none.
    static std::vector<bool> calculateVoiceActivityInChunks(std::span<const float> signal,
                                                            int64_t chunkCount,
                                                            int64_t frameLengthSamples,
                                                            int64_t frameOverlapSamples,
                                                            float energyThreshold);
    /// The stretches of speech found by an energy detector with the default
    /// settings (16 kHz, frames of 1,600 samples, no overlap, threshold 0.02).
    static std::vector<std::pair<int64_t, int64_t>>
    calculateNonSilentChunks(std::span<const float> signal);
    /// The samples' bytes as the pixels of a width x height image, one sample
    /// a pixel (blue, green, red, alpha). Nothing when there are fewer
    /// samples than pixels or the size is not positive and finite.
    static std::optional<platform::system::BitmapImage>
    createWaveformImage(std::span<const float> samples, double width, double height);

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

private:
    struct Liveness;

    static platform::audio::CaptureBackend& systemBackend();
    std::unique_ptr<platform::audio::AudioCapture> setupEngine(std::optional<DeviceID> device);
    void replaceEngine(std::unique_ptr<platform::audio::AudioCapture> engine);
    void processBuffer(std::vector<float> samples);

    std::shared_ptr<platform::audio::CaptureBackend> backend_;
    // Lets buffers still draining after a stop find out that the processor is gone.
    std::shared_ptr<Liveness> liveness_;

    // The capture and the device it was started on; taken out under the
    // lock and stopped outside it.
    mutable std::mutex engineMutex_;
    std::unique_ptr<platform::audio::AudioCapture> audioEngine_;
    std::optional<DeviceID> lastInputDevice_;

    // What the capture thread appends and consumers read.
    mutable std::mutex samplesMutex_;
    std::vector<float> audioSamples_;
    std::vector<AudioEnergy> audioEnergy_;
    AudioBufferCallback audioBufferCallback_;

    std::atomic<int> relativeEnergyWindow_{20};
    std::atomic<int> minBufferLength_{1600};
    std::atomic<bool> isInputSuppressed_{false};
};

} // namespace murmex
