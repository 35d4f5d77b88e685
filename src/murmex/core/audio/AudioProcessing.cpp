#include "murmex/core/audio/AudioProcessing.h"

#include "murmex/core/audio/AudioProcessor.h"
#include "tessary_core/Logging.h"

#include <algorithm>
#include <exception>

namespace murmex {

std::optional<platform::ml::MultiArray>
AudioProcessing::padOrTrimAudio(std::span<const float> audioArray, int64_t startAt,
                                int64_t toLength, bool /*saveSegment*/) {
    using tessary::Logging;
    if (startAt < 0 || startAt >= int64_t(audioArray.size())) {
        Logging::error("startIndex is outside the buffer size");
        return std::nullopt;
    }
    if (toLength <= 0) {
        TESSARY_LOG(error, "Window length must be positive, got " + std::to_string(toLength));
        return std::nullopt;
    }
    const int64_t end =
        std::min<int64_t>(startAt + std::min<int64_t>(toLength, int64_t(audioArray.size())),
                          int64_t(audioArray.size()));
    try {
        // A new array is zero-filled, so only the samples need copying.
        platform::ml::MultiArray window({toLength}, platform::ml::ElementType::float32);
        std::copy(audioArray.begin() + startAt, audioArray.begin() + end, window.data<float>());
        return window;
    } catch (const std::exception&) {
        // Out of memory or a length the array type refuses.
    }
    TESSARY_LOG(error, "Unable to create a window of " + std::to_string(toLength) + " samples");
    return std::nullopt;
}

std::shared_ptr<platform::audio::PcmBuffer>
AudioProcessing::loadAudioAsync(const std::string& path) {
    return AudioProcessor::loadAudio(path, AudioProcessor::ChannelMode::sumChannels(), 0.0,
                                     std::nullopt, std::nullopt);
}

} // namespace murmex
