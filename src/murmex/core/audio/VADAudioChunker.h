#pragma once
// Cuts a long recording at silences: each chunk ends in the middle of the
// longest silence of the second half of its window, or at the window's end
// when that half holds no silence.
//
// No audio of a clip range is lost: the window padding at the end of a clip
// never starts a cut of its own, and a tail shorter than it that is left after
// the last cut becomes a chunk of its own (the last chunk, already one window
// long, cannot take it).

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
