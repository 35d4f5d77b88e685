#pragma once
// Turns a decoded window into timed segments and the next seek position, and
// gives segments their word timings.

#include "murmex/core/WhisperTokenizer.h"
#include "murmex/records/DecodingOptions.h"
#include "murmex/records/DecodingResult.h"
#include "murmex/records/TranscriptionSegment.h"
#include "murmex/records/TranscriptionTimings.h"
#include "platform/ml/MultiArray.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace murmex {

class SegmentSeeking {
public:
    virtual ~SegmentSeeking() = default;

    /// The next seek (in samples) and the window's segments; no segment list
    /// when the window is skipped as silence. Never fails.
    virtual std::pair<int, std::optional<std::vector<TranscriptionSegment>>>
    findSeekPointAndSegments(const DecodingResult& decodingResult, const DecodingOptions& options,
                             int allSegmentsCount, int currentSeek, int segmentSize, int sampleRate,
                             int timeToken, int specialToken,
                             const WhisperTokenizer& tokenizer) = 0;

    /// The segments, same count and order, each with `words` set and its
    /// start and end possibly moved to its words. Throws WhisperError
    /// (segmentingFailed) for unusable alignment weights.
    virtual std::optional<std::vector<TranscriptionSegment>>
    addWordTimestamps(const std::vector<TranscriptionSegment>& segments,
                      const platform::ml::MultiArray& alignmentWeights,
                      const WhisperTokenizer& tokenizer, int seek, int segmentSize,
                      const std::string& prependPunctuations, const std::string& appendPunctuations,
                      float lastSpeechTimestamp, const DecodingOptions& options,
                      const TranscriptionTimings& timings) = 0;
};

} // namespace murmex
