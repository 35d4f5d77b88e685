#pragma once
// One timed piece of a transcription: its text and tokens, where it lies, and
// the quality measures of the window it came from; optionally its words.

#include "murmex/base/JsonCodingFwd.h"
#include "murmex/records/WordTiming.h"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace murmex {

struct TranscriptionSegment {
    int id = 0;
    /// Seek position (in samples) of the window the segment came from.
    int seek = 0;
    float start = 0;
    float end = 0;
    std::string text;
    std::vector<int> tokens;
    /// Per token, a map from token id to its log-probability.
    std::vector<std::map<int, float>> tokenLogProbs;
    float temperature = 0;
    float avgLogprob = 0;
    float compressionRatio = 0;
    float noSpeechProb = 0;
    std::optional<std::vector<WordTiming>> words = std::nullopt;

    float duration() const { return end - start; }

    friend bool operator==(const TranscriptionSegment&, const TranscriptionSegment&) = default;

    /// The twelve field names as keys; "words" is left out when absent and may
    /// be missing when reading, every other key is required. Each map of
    /// `tokenLogProbs` is an object keyed by the decimal token id.
    std::string toJson(bool pretty = false) const;
    static TranscriptionSegment fromJson(std::string_view text);
    yyjson_mut_val* toJsonValue(json::Writer& writer) const;
    static TranscriptionSegment fromJsonValue(yyjson_val* value);
};

/// True when some segment of the list starts exactly where `segment` starts;
/// nothing else is compared.
bool containsSegment(const std::vector<TranscriptionSegment>& segments,
                     const TranscriptionSegment& segment);

} // namespace murmex

template <> struct std::hash<murmex::TranscriptionSegment> {
    std::size_t operator()(const murmex::TranscriptionSegment& segment) const noexcept;
};
