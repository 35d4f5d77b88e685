#pragma once
// A voice-activity detector cuts 16 kHz mono samples into frames of a fixed
// length and decides for each whether it holds speech. The base class fixes
// the frame geometry and searches the decisions (stretches of speech, the
// longest silence); a subclass supplies the decision itself. EnergyVAD is
// the one built in.
//
// Frame i starts at sample i x frameLengthSamples; its decision may look
// frameOverlapSamples further. Detectors are immutable and may be shared.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace murmex {

/// A stretch of sample or frame indices, the end not included.
struct IndexRange {
    int64_t startIndex = 0;
    int64_t endIndex = 0;
    friend bool operator==(const IndexRange&, const IndexRange&) = default;
};

/// A stretch of samples to transcribe.
struct SeekClip {
    int64_t start = 0;
    int64_t end = 0;
    friend bool operator==(const SeekClip&, const SeekClip&) = default;
};

/// The same stretch in seconds.
struct SeekTimestamp {
    float startTime = 0;
    float endTime = 0;
    friend bool operator==(const SeekTimestamp&, const SeekTimestamp&) = default;
};

class VoiceActivityDetector {
public:
    /// Throws WhisperError::initializationError when the rate or the frame
    /// length is not positive or the overlap is negative.
    VoiceActivityDetector(int64_t sampleRate, int64_t frameLengthSamples,
                          int64_t frameOverlapSamples = 0);
    virtual ~VoiceActivityDetector() = default;

    int64_t sampleRate() const { return sampleRate_; }
    int64_t frameLengthSamples() const { return frameLengthSamples_; }
    int64_t frameOverlapSamples() const { return frameOverlapSamples_; }

    /// One decision per frame: ceil(samples / frameLengthSamples) of them.
    virtual std::vector<bool> voiceActivity(std::span<const float> waveform) const = 0;
    /// The same; blocks the calling thread.
    virtual std::vector<bool> voiceActivityAsync(std::span<const float> waveform) const;

    /// The sample ranges of consecutive speech frames, in order; the last one
    /// ends at the end of the samples at most.
    virtual std::vector<IndexRange> calculateActiveChunks(std::span<const float> waveform) const;

    /// The first sample of a frame.
    virtual int64_t voiceActivityIndexToAudioSampleIndex(int64_t voiceActivityIndex) const;
    /// The start time of a frame in seconds.
    virtual float voiceActivityIndexToSeconds(int64_t voiceActivityIndex) const;

    /// The frame range of the longest run of silent frames (the first of
    /// equally long runs); nothing when no frame is silent.
    virtual std::optional<IndexRange> findLongestSilence(const std::vector<bool>& vadResult) const;

    /// The active stretches as clip timestamps for decoding options: start
    /// and end seconds of each stretch, one after the other.
    virtual std::vector<float> voiceActivityClipTimestamps(std::span<const float> waveform) const;
    /// The active stretches as sample ranges.
    virtual std::vector<SeekClip>
    calculateNonSilentSeekClips(std::span<const float> waveform) const;
    /// The active stretches in seconds.
    virtual std::vector<SeekTimestamp>
    calculateSeekTimestamps(std::span<const float> waveform) const;

private:
    int64_t sampleRate_;
    int64_t frameLengthSamples_;
    int64_t frameOverlapSamples_;
};

} // namespace murmex
