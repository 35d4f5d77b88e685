#pragma once
// Cuts a long recording at silences: each chunk ends in the middle of the
// longest silence of the second half of its window, or at the window's end
// when that half holds no silence.
//
// No audio of a clip range is lost. A chunk's last `windowPadding` samples
// never start a window of their own when it is transcribed, so no cut leaves
// less than the padding (and a frame) before the end of the clip: a cut that
// would is moved back, into the longest silence before that point, or made
// there. The last chunk then always reaches the clip's end.

#include "murmex/core/audio/AudioChunking.h"
#include "murmex/core/audio/VoiceActivityDetector.h"

#include <memory>

namespace murmex {

class VADAudioChunker : public AudioChunking {
public:
    /// `windowPadding` samples at the end of a clip range never start a
    /// chunk; without a detector the default energy detector is used.
    explicit VADAudioChunker(int64_t windowPadding = 16000,
                             std::shared_ptr<const VoiceActivityDetector> vad = nullptr);

    int64_t windowPadding() const { return windowPadding_; }
    const VoiceActivityDetector& vad() const { return *vad_; }

    /// Throws WhisperError::audioProcessingFailed "startIndex is outside the
    /// buffer size" for a clip range that starts past the audio, and for a
    /// longest chunk that is not positive.
    std::vector<AudioChunk> chunkAll(std::span<const float> audioArray, int64_t maxChunkLength,
                                     const std::optional<DecodingOptions>& decodeOptions) override;

private:
    int64_t windowPadding_;
    std::shared_ptr<const VoiceActivityDetector> vad_;
};

} // namespace murmex
