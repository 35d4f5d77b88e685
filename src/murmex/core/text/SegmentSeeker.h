#pragma once
// The default segment seeker. Segments are cut where two timestamp tokens
// follow each other; word timings come from dynamic time warping of the
// decoder's cross-attention alignment weights. Stateless.

#include "murmex/core/text/SegmentSeeking.h"

namespace murmex {

class SegmentSeeker : public SegmentSeeking {
public:
    SegmentSeeker() = default;

    std::pair<int, std::optional<std::vector<TranscriptionSegment>>>
    findSeekPointAndSegments(const DecodingResult& decodingResult, const DecodingOptions& options,
                             int allSegmentsCount, int currentSeek, int segmentSize, int sampleRate,
                             int timeToken, int specialToken,
                             const WhisperTokenizer& tokenizer) override;

    std::optional<std::vector<TranscriptionSegment>>
    addWordTimestamps(const std::vector<TranscriptionSegment>& segments,
                      const platform::ml::MultiArray& alignmentWeights,
                      const WhisperTokenizer& tokenizer, int seek, int segmentSize,
                      const std::string& prependPunctuations, const std::string& appendPunctuations,
                      float lastSpeechTimestamp, const DecodingOptions& options,
                      const TranscriptionTimings& timings) override;

    struct AlignmentPath {
        std::vector<int> textIndices;
        std::vector<int> timeIndices;
    };

    /// The monotonic path through a [tokens, frames] weight matrix that
    /// maximises the summed weight. Throws WhisperError (segmentingFailed,
    /// "Invalid alignment matrix shape") unless the matrix is two-dimensional.
    AlignmentPath dynamicTimeWarping(const platform::ml::MultiArray& matrix) const;

    /// The path over a row-major [rows, columns] matrix.
    static AlignmentPath dynamicTimeWarping(const std::vector<float>& matrix, int rows,
                                            int columns);

    /// Word timings (relative to the window) of the tokens whose alignment rows
    /// form `matrix` ([tokens, frames], row-major).
    std::vector<WordTiming> findAlignment(const std::vector<int>& wordTokenIds,
                                          const std::vector<float>& matrix, int columns,
                                          const std::vector<float>& tokenLogProbs,
                                          const WhisperTokenizer& tokenizer) const;

    struct DurationConstraints {
        float median;
        float max;
    };
    /// The median positive word duration capped at 0.7 s, and twice that.
    DurationConstraints
    calculateWordDurationConstraints(const std::vector<WordTiming>& alignment) const;

    /// Shortens implausibly long sentence-end marks, and words right after one.
    std::vector<WordTiming> truncateLongWordsAtSentenceBoundaries(std::vector<WordTiming> alignment,
                                                                  float maxDuration) const;

    /// Joins opening marks to the word after them and closing marks to the
    /// word before them; chains of marks all end up in one word.
    std::vector<WordTiming> mergePunctuations(const std::vector<WordTiming>& alignment,
                                              const std::string& prepended,
                                              const std::string& appended) const;

    std::vector<TranscriptionSegment>
    updateSegmentsWithWordTimings(const std::vector<TranscriptionSegment>& segments,
                                  const std::vector<WordTiming>& mergedAlignment, int seek,
                                  float lastSpeechTimestamp, float constrainedMedianDuration,
                                  float maxDuration, const WhisperTokenizer& tokenizer) const;
};

} // namespace murmex
