#pragma once
// Reworking finished transcription results: moving a segment in time,
// formatting segments as lines, comparing word lists (for confirming words in
// live transcription) and merging several results into one.

#include "murmex/records/TranscriptionResult.h"
#include "murmex/records/TranscriptionSegment.h"
#include "murmex/records/WordTiming.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace murmex {

struct TranscriptionUtilities {
    /// A copy moved by `seekTime` seconds: seek grows by seekTime × 16000
    /// samples (cut toward zero), start, end and every word's times by seekTime.
    static TranscriptionSegment updateSegmentTimings(const TranscriptionSegment& segment,
                                                     float seekTime);

    /// "[1.50 --> 3.25] " + text with timestamps, the text alone without.
    static std::vector<std::string>
    formatSegments(const std::vector<TranscriptionSegment>& segments, bool withTimestamps = true);

    /// The leading words of `second` on which both lists agree, compared after
    /// normalizing (case, hyphens, punctuation, blanks).
    static std::vector<WordTiming> findLongestCommonPrefix(const std::vector<WordTiming>& first,
                                                           const std::vector<WordTiming>& second);

    /// The words of `second` after that common prefix.
    static std::vector<WordTiming>
    findLongestDifferentSuffix(const std::vector<WordTiming>& first,
                               const std::vector<WordTiming>& second);

    /// One new result from a list in which null entries stand for absent
    /// results: texts joined with a blank (or the confirmed words run
    /// together), segments renumbered, the first language, timings combined.
    static std::shared_ptr<TranscriptionResult> mergeTranscriptionResults(
        const std::vector<std::shared_ptr<TranscriptionResult>>& results,
        const std::optional<std::vector<WordTiming>>& confirmedWords = std::nullopt);
};

inline TranscriptionSegment updateSegmentTimings(const TranscriptionSegment& segment,
                                                 float seekTime) {
    return TranscriptionUtilities::updateSegmentTimings(segment, seekTime);
}
inline std::vector<std::string> formatSegments(const std::vector<TranscriptionSegment>& segments,
                                               bool withTimestamps = true) {
    return TranscriptionUtilities::formatSegments(segments, withTimestamps);
}
inline std::vector<WordTiming> findLongestCommonPrefix(const std::vector<WordTiming>& first,
                                                       const std::vector<WordTiming>& second) {
    return TranscriptionUtilities::findLongestCommonPrefix(first, second);
}
inline std::vector<WordTiming> findLongestDifferentSuffix(const std::vector<WordTiming>& first,
                                                          const std::vector<WordTiming>& second) {
    return TranscriptionUtilities::findLongestDifferentSuffix(first, second);
}
inline std::shared_ptr<TranscriptionResult> mergeTranscriptionResults(
    const std::vector<std::shared_ptr<TranscriptionResult>>& results,
    const std::optional<std::vector<WordTiming>>& confirmedWords = std::nullopt) {
    return TranscriptionUtilities::mergeTranscriptionResults(results, confirmedWords);
}

} // namespace murmex
