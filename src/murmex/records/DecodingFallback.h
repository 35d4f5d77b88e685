#pragma once
// The verdict on a decoded window: whether it must be decoded again at the
// next temperature, and which test decided.

#include <optional>
#include <string>

namespace murmex {

struct DecodingOptions;

struct DecodingFallback {
    bool needsFallback = false;
    /// "firstTokenLogProbThreshold", "silence", "compressionRatioThreshold" or "logProbThreshold".
    std::string fallbackReason;

    /// Applies the quality tests in order and stops at the first that fires:
    /// a too-unlikely first token (retry); no-speech probability above its
    /// threshold (silence: no retry, but reported); compression ratio above
    /// its threshold (retry); average log-probability below its threshold
    /// (retry). Absent thresholds skip their test; comparisons are strict, so
    /// NaN never fires. Absent when no test fires.
    static std::optional<DecodingFallback> decide(const DecodingOptions& options,
                                                  bool isFirstTokenLogProbTooLow,
                                                  float noSpeechProb, float compressionRatio,
                                                  float avgLogProb);
};

} // namespace murmex
