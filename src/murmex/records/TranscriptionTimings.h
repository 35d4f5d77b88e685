#pragma once
// How long each stage of one transcription took and how often it ran.
// Durations are seconds; counts are whole numbers held as doubles; the two
// points in time are absolute seconds on one clock of the caller's choice.
// A default value is all zeros except the two start points (the largest
// finite double, "not yet") and `inputAudioSeconds` (0.001, so that the real
// time factor never divides by zero).

#include "murmex/base/JsonCodingFwd.h"

#include <limits>
#include <string>
#include <string_view>

namespace murmex {

struct TranscriptionTimings {
    double pipelineStart = std::numeric_limits<double>::max();
    double firstTokenTime = std::numeric_limits<double>::max();
    double inputAudioSeconds = 0.001;
    double modelLoading = 0;
    double prewarmLoadTime = 0;
    double encoderLoadTime = 0;
    double decoderLoadTime = 0;
    double encoderSpecializationTime = 0;
    double decoderSpecializationTime = 0;
    double tokenizerLoadTime = 0;
    double audioLoading = 0;
    double audioProcessing = 0;
    double logmels = 0;
    double encoding = 0;
    double prefill = 0;
    double decodingInit = 0;
    double decodingLoop = 0;
    double decodingPredictions = 0;
    double decodingFiltering = 0;
    double decodingSampling = 0;
    double decodingFallback = 0;
    double decodingWindowing = 0;
    double decodingKvCaching = 0;
    double decodingWordTimestamps = 0;
    double decodingNonPrediction = 0;
    double totalAudioProcessingRuns = 0;
    double totalLogmelRuns = 0;
    double totalEncodingRuns = 0;
    double totalDecodingLoops = 0;
    double totalKVUpdateRuns = 0;
    double totalTimestampAlignmentRuns = 0;
    double totalDecodingFallbacks = 0;
    double totalDecodingWindows = 0;
    double fullPipeline = 0;

    /// Plain divisions: a zero divisor gives infinity or NaN, never an error.
    double tokensPerSecond() const { return totalDecodingLoops / fullPipeline; }
    double realTimeFactor() const { return fullPipeline / inputAudioSeconds; }
    double speedFactor() const { return inputAudioSeconds / fullPipeline; }

    /// Adds the token-loop figures of one decoded window, as the text decoder
    /// reports them: prediction, filtering, sampling, cache and other step
    /// time, loop and cache-update counts; the first-token time becomes the
    /// earlier of the two. The window's own loop time is left out, since a run
    /// measures its whole loop itself.
    void addDecodingTimings(const TranscriptionTimings& window);

    friend bool operator==(const TranscriptionTimings&, const TranscriptionTimings&) = default;

    /// An object with all 34 field names as keys; all are required when reading.
    std::string toJson(bool pretty = false) const;
    static TranscriptionTimings fromJson(std::string_view text);
    yyjson_mut_val* toJsonValue(json::Writer& writer) const;
    static TranscriptionTimings fromJsonValue(yyjson_val* value);
};

} // namespace murmex
