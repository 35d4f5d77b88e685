#pragma once
// Splitting a long recording into chunks no longer than one model window, so
// they can be transcribed as recordings of their own, and moving the chunks'
// results back onto the whole recording's time line.

#include "murmex/records/AudioChunk.h"
#include "murmex/records/DecodingOptions.h"
#include "murmex/records/TranscriptionResult.h"
#include "platform/system/Outcome.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace murmex {

class AudioChunking {
public:
    virtual ~AudioChunking() = default;

    /// The chunks of 16 kHz mono `audioArray`, in order, none longer than
    /// `maxChunkLength` samples. The options' clip times choose the audio to
    /// chunk. Throws WhisperError.
    virtual std::vector<AudioChunk>
    chunkAll(std::span<const float> audioArray, int64_t maxChunkLength,
             const std::optional<DecodingOptions>& decodeOptions) = 0;

    /// The results of every chunk that was transcribed (one outcome per
    /// chunk, in chunk order), chunk by chunk, with their times moved by the
    /// chunk's offset: each segment's `seek` by the offset in samples, its
    /// start and end and its words' by the offset in seconds, and the
    /// result's seek time set to the offset in seconds. The results are
    /// changed in place and returned. A failed chunk is logged at debug level
    /// ("Error transcribing chunk <i>: <error>") and left out. Throws
    /// WhisperError when there are fewer chunks than outcomes.
    static std::vector<TranscriptionResult> updateSeekOffsetsForResults(
        std::vector<platform::system::Outcome<std::vector<TranscriptionResult>>>& chunkedResults,
        const std::vector<AudioChunk>& audioChunks);
};

} // namespace murmex
