#pragma once
// The shape of PCM audio as the audio layer exchanges it: a sample rate and a
// channel count. Samples are always 32-bit floats, one plane per channel
// (non-interleaved), which is the processing format of every file and buffer.

#include <cmath>
#include <cstdint>
#include <optional>

namespace platform::audio {

class AudioFormat {
public:
    /// Most channels a format may carry; files with more are refused.
    static constexpr uint32_t maxChannelCount = 64;
    /// Highest sample rate a format may carry.
    static constexpr double maxSampleRate = 1'536'000.0;

    /// The standard format (32-bit float, non-interleaved) for a rate and a
    /// channel count, or nothing when either is out of range.
    static std::optional<AudioFormat> standard(double sampleRate, uint32_t channelCount) {
        if (!std::isfinite(sampleRate) || sampleRate <= 0.0 || sampleRate > maxSampleRate)
            return std::nullopt;
        if (channelCount == 0 || channelCount > maxChannelCount) return std::nullopt;
        return AudioFormat(sampleRate, channelCount);
    }

    double sampleRate() const { return sampleRate_; }
    uint32_t channelCount() const { return channelCount_; }

    friend bool operator==(const AudioFormat&, const AudioFormat&) = default;

private:
    AudioFormat(double sampleRate, uint32_t channelCount)
        : sampleRate_(sampleRate), channelCount_(channelCount) {}

    double sampleRate_;
    uint32_t channelCount_;
};

} // namespace platform::audio
