#include "murmex/core/audio/PcmBufferExtensions.h"

#include "tessary_core/Logging.h"

#include <algorithm>

namespace murmex {

bool appendContents(platform::audio::PcmBuffer& destination,
                    const platform::audio::PcmBuffer& source, int64_t startingFrame,
                    uint32_t frameCount) {
    using tessary::Logging;
    if (destination.format() != source.format()) {
        Logging::debug("Format mismatch");
        return false;
    }
    if (startingFrame < 0 || int64_t{source.frameLength()} < startingFrame + int64_t{frameCount}) {
        Logging::error("Insufficient audio in buffer");
        return false;
    }
    const uint32_t room = destination.frameCapacity() - destination.frameLength();
    if (frameCount > room) {
        Logging::debug("Insufficient space in buffer, reducing frame count to fit");
        frameCount = room;
    }
    for (uint32_t channel = 0; channel < source.format().channelCount(); ++channel) {
        const float* from = source.channel(channel) + startingFrame;
        std::copy(from, from + frameCount,
                  destination.channel(channel) + destination.frameLength());
    }
    destination.setFrameLength(destination.frameLength() + frameCount);
    return true;
}

} // namespace murmex
