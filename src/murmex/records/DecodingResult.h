#pragma once
// What the text decoder returns for one 30-second window (and language
// detection for its probe): the tokens and text, their log-probabilities,
// the window's quality measures, the decoder cache, the timings and the
// fallback verdict.

#include "murmex/records/DecodingCache.h"
#include "murmex/records/DecodingFallback.h"
#include "murmex/records/TranscriptionTimings.h"

#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace murmex {

struct DecodingResult {
    std::string language;
    /// Probability per language code (filled by language detection).
    std::unordered_map<std::string, float> languageProbs;
    std::vector<int> tokens;
    /// Per decoded token, a map from token id to its log-probability.
    std::vector<std::map<int, float>> tokenLogProbs;
    std::string text;
    float avgLogProb = 0;
    float noSpeechProb = 0;
    float temperature = 0;
    float compressionRatio = 0;
    std::optional<DecodingCache> cache = std::nullopt;
    std::optional<TranscriptionTimings> timings = std::nullopt;
    std::optional<DecodingFallback> fallback = std::nullopt;

    /// Empty texts and lists, zero measures, no cache, timings or verdict.
    static DecodingResult emptyResults() { return DecodingResult{}; }
};

} // namespace murmex
