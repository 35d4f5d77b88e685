#include "murmex/records/TranscriptionTimings.h"

#include "murmex/base/JsonCoding.h"

#include <algorithm>
#include <array>
#include <utility>

namespace murmex {

namespace {

using Field = double TranscriptionTimings::*;

// Every field with its JSON key, in declaration order.
constexpr std::array<std::pair<const char*, Field>, 34> kFields{{
    {"pipelineStart", &TranscriptionTimings::pipelineStart},
    {"firstTokenTime", &TranscriptionTimings::firstTokenTime},
    {"inputAudioSeconds", &TranscriptionTimings::inputAudioSeconds},
    {"modelLoading", &TranscriptionTimings::modelLoading},
    {"prewarmLoadTime", &TranscriptionTimings::prewarmLoadTime},
    {"encoderLoadTime", &TranscriptionTimings::encoderLoadTime},
    {"decoderLoadTime", &TranscriptionTimings::decoderLoadTime},
    {"encoderSpecializationTime", &TranscriptionTimings::encoderSpecializationTime},
    {"decoderSpecializationTime", &TranscriptionTimings::decoderSpecializationTime},
    {"tokenizerLoadTime", &TranscriptionTimings::tokenizerLoadTime},
    {"audioLoading", &TranscriptionTimings::audioLoading},
    {"audioProcessing", &TranscriptionTimings::audioProcessing},
    {"logmels", &TranscriptionTimings::logmels},
    {"encoding", &TranscriptionTimings::encoding},
    {"prefill", &TranscriptionTimings::prefill},
    {"decodingInit", &TranscriptionTimings::decodingInit},
    {"decodingLoop", &TranscriptionTimings::decodingLoop},
    {"decodingPredictions", &TranscriptionTimings::decodingPredictions},
    {"decodingFiltering", &TranscriptionTimings::decodingFiltering},
    {"decodingSampling", &TranscriptionTimings::decodingSampling},
    {"decodingFallback", &TranscriptionTimings::decodingFallback},
    {"decodingWindowing", &TranscriptionTimings::decodingWindowing},
    {"decodingKvCaching", &TranscriptionTimings::decodingKvCaching},
    {"decodingWordTimestamps", &TranscriptionTimings::decodingWordTimestamps},
    {"decodingNonPrediction", &TranscriptionTimings::decodingNonPrediction},
    {"totalAudioProcessingRuns", &TranscriptionTimings::totalAudioProcessingRuns},
    {"totalLogmelRuns", &TranscriptionTimings::totalLogmelRuns},
    {"totalEncodingRuns", &TranscriptionTimings::totalEncodingRuns},
    {"totalDecodingLoops", &TranscriptionTimings::totalDecodingLoops},
    {"totalKVUpdateRuns", &TranscriptionTimings::totalKVUpdateRuns},
    {"totalTimestampAlignmentRuns", &TranscriptionTimings::totalTimestampAlignmentRuns},
    {"totalDecodingFallbacks", &TranscriptionTimings::totalDecodingFallbacks},
    {"totalDecodingWindows", &TranscriptionTimings::totalDecodingWindows},
    {"fullPipeline", &TranscriptionTimings::fullPipeline},
}};

} // namespace

void TranscriptionTimings::addDecodingTimings(const TranscriptionTimings& window) {
    firstTokenTime = std::min(firstTokenTime, window.firstTokenTime);
    for (Field field :
         {&TranscriptionTimings::decodingPredictions, &TranscriptionTimings::decodingFiltering,
          &TranscriptionTimings::decodingSampling, &TranscriptionTimings::decodingKvCaching,
          &TranscriptionTimings::decodingNonPrediction, &TranscriptionTimings::totalDecodingLoops,
          &TranscriptionTimings::totalKVUpdateRuns}) {
        this->*field += window.*field;
    }
}

yyjson_mut_val* TranscriptionTimings::toJsonValue(json::Writer& writer) const {
    yyjson_mut_val* object = writer.object();
    for (const auto& [key, field] : kFields)
        writer.add(object, key, writer.number(this->*field));
    return object;
}

TranscriptionTimings TranscriptionTimings::fromJsonValue(yyjson_val* value) {
    json::expectObject(value, "timings");
    TranscriptionTimings timings;
    for (const auto& [key, field] : kFields)
        timings.*field = json::toDouble(json::member(value, key), key);
    return timings;
}

std::string TranscriptionTimings::toJson(bool pretty) const {
    return json::encodeDocument(*this, pretty);
}

TranscriptionTimings TranscriptionTimings::fromJson(std::string_view text) {
    return json::decodeDocument<TranscriptionTimings>(text);
}

} // namespace murmex
