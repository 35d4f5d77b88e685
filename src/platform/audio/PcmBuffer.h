#pragma once
// A block of PCM audio in memory: a format, a fixed frame capacity and the
// number of frames currently held. Each channel is one contiguous plane of
// 32-bit floats.
//
// Storage is reserved once, when the buffer is made, and left uninitialised:
// only frames below frameLength() hold meaningful samples. Memory pages that
// are never written are never touched, so a buffer sized from a file's stated
// length costs real memory only for the audio actually put into it.

#include "platform/audio/AudioFormat.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace platform::audio {

class PcmBuffer {
public:
    /// Most samples (frames times channels) one buffer may hold: 16 GiB.
    static constexpr uint64_t maxSampleCount = uint64_t(1) << 32;

    /// A buffer of `format` with room for `frameCapacity` frames (0 allowed),
    /// or nothing when it would exceed maxSampleCount or the memory cannot be
    /// had.
    static std::optional<PcmBuffer> make(const AudioFormat& format, uint32_t frameCapacity);

    PcmBuffer(PcmBuffer&&) noexcept = default;
    PcmBuffer& operator=(PcmBuffer&&) noexcept = default;

    const AudioFormat& format() const { return format_; }
    uint32_t frameCapacity() const { return frameCapacity_; }
    uint32_t frameLength() const { return frameLength_; }
    /// Sets the number of valid frames; values above the capacity are clamped.
    void setFrameLength(uint32_t frames) {
        frameLength_ = frames < frameCapacity_ ? frames : frameCapacity_;
    }

    /// The plane of channel `channel` (below the format's channel count).
    float* channel(uint32_t channel) { return data_.get() + size_t(channel) * frameCapacity_; }
    const float* channel(uint32_t channel) const {
        return data_.get() + size_t(channel) * frameCapacity_;
    }

private:
    PcmBuffer(const AudioFormat& format, uint32_t frameCapacity, std::unique_ptr<float[]> data)
        : format_(format), frameCapacity_(frameCapacity), data_(std::move(data)) {}

    AudioFormat format_;
    uint32_t frameCapacity_ = 0;
    uint32_t frameLength_ = 0;
    std::unique_ptr<float[]> data_;
};

} // namespace platform::audio
