#pragma once
// Everything one transcription call may set besides the audio: task and
// language, sampling and temperature fallback, forced and forbidden tokens,
// which stretches of the audio to decode, the quality thresholds, and how the
// work is split and parallelised.
//
// A plain aggregate: build it with designated initializers and every field
// you leave out takes its default, e.g.
//     DecodingOptions options{.language = "ru"};
// `detectLanguage` defaults to the negation of `usePrefillPrompt`.

#include "murmex/base/JsonCodingFwd.h"
#include "murmex/records/ChunkingStrategy.h"
#include "murmex/records/DecodingTask.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace murmex {

struct DecodingOptions {
    bool verbose = false;
    DecodingTask task = DecodingTask::transcribe;
    std::optional<std::string> language = std::nullopt;
    float temperature = 0.0f;
    float temperatureIncrementOnFallback = 0.2f;
    /// Retries after the first attempt; a window is tried at most this + 1 times.
    int temperatureFallbackCount = 5;
    int sampleLength = 224;
    int topK = 5;
    bool usePrefillPrompt = true;
    bool usePrefillCache = true;
    bool detectLanguage = !usePrefillPrompt;
    bool skipSpecialTokens = false;
    bool withoutTimestamps = false;
    bool wordTimestamps = false;
    std::optional<float> maxInitialTimestamp = std::nullopt;
    std::optional<int> maxWindowSeek = std::nullopt;
    /// Seconds; consecutive pairs are the start and end of the stretches to decode.
    std::vector<float> clipTimestamps = {};
    float windowClipTime = 1.0f;
    std::optional<std::vector<int>> promptTokens = std::nullopt;
    std::optional<std::vector<int>> prefixTokens = std::nullopt;
    bool suppressBlank = false;
    std::vector<int> supressTokens = {};
    std::optional<float> compressionRatioThreshold = 2.4f;
    std::optional<float> logProbThreshold = -1.0f;
    std::optional<float> firstTokenLogProbThreshold = -1.5f;
    std::optional<float> noSpeechThreshold = 0.6f;
    int concurrentWorkerCount = 16;
    std::optional<ChunkingStrategy> chunkingStrategy = std::nullopt;

    /// The clip ranges in samples: each clip time × 16000 rounded half away
    /// from zero ([0] when there are none), `contentFrames` appended to an odd
    /// list, then paired in order. Ranges are not validated. A clip time that
    /// is not a number counts as 0, and indices beyond ±2^62 are clamped there,
    /// so infinite or huge times cannot overflow the integer arithmetic of the
    /// consumers.
    std::vector<std::pair<std::int64_t, std::int64_t>>
    prepareSeekClips(std::int64_t contentFrames) const;

    /// The keyed JSON form: every non-optional field, optional fields only when
    /// present. Decoding requires every non-optional key and resolves nothing.
    std::string toJson(bool pretty = false) const;
    static DecodingOptions fromJson(std::string_view text);
    yyjson_mut_val* toJsonValue(json::Writer& writer) const;
    static DecodingOptions fromJsonValue(yyjson_val* value);
};

} // namespace murmex
