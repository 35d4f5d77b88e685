#pragma once
// A plain copy of a transcription result for storage: the same five fields
// as `TranscriptionResult`, held directly, without locks.

#include "murmex/base/JsonCodingFwd.h"
#include "murmex/records/TranscriptionSegment.h"
#include "murmex/records/TranscriptionTimings.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace murmex {

struct TranscriptionResultStruct {
    std::string text;
    std::vector<TranscriptionSegment> segments;
    std::string language;
    TranscriptionTimings timings;
    std::optional<float> seekTime = std::nullopt;

    /// Keys "text", "segments", "language", "timings", "seekTime"; "seekTime"
    /// is left out when absent and may be missing when reading.
    std::string toJson(bool pretty = false) const;
    static TranscriptionResultStruct fromJson(std::string_view text);
    yyjson_mut_val* toJsonValue(json::Writer& writer) const;
    static TranscriptionResultStruct fromJsonValue(yyjson_val* value);

    /// The shared coding of both result forms. With `seekTimeRequired`,
    /// an absent seek time is written as null, and reading requires the key
    /// (null reads as absent).
    yyjson_mut_val* toJsonValue(json::Writer& writer, bool seekTimeRequired) const;
    static TranscriptionResultStruct fromJsonValue(yyjson_val* value, bool seekTimeRequired);
};

} // namespace murmex
