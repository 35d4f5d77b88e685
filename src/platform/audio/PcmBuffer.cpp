#include "platform/audio/PcmBuffer.h"

#include <new>

namespace platform::audio {

std::optional<PcmBuffer> PcmBuffer::make(const AudioFormat& format, uint32_t frameCapacity) {
    const uint64_t count = uint64_t(format.channelCount()) * frameCapacity;
    if (count > maxSampleCount) return std::nullopt;
    // Left uninitialised on purpose (see the header): large buffers come from
    // fresh pages that cost nothing until written.
    std::unique_ptr<float[]> data(new (std::nothrow) float[count == 0 ? 1 : count]);
    if (!data) return std::nullopt;
    return PcmBuffer(format, frameCapacity, std::move(data));
}

} // namespace platform::audio
