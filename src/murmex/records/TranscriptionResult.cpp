#include "murmex/records/TranscriptionResult.h"

#include "murmex/base/JsonCoding.h"
#include "platform/text/NumberText.h"
#include "tessary_core/Logging.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace murmex {

namespace {

// printf-style "%.<n>f" of one number; NaN prints as "nan" whatever its sign
// bit, so the report reads the same on every processor.
std::string fixed(double value, int decimals) {
    if (std::isnan(value)) return "nan";
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

} // namespace

TranscriptionResult::TranscriptionResult(std::string text,
                                         std::vector<TranscriptionSegment> segments,
                                         std::string language, TranscriptionTimings timings,
                                         std::optional<float> seekTime)
    : text_(std::move(text)), segments_(std::move(segments)), language_(std::move(language)),
      timings_(std::move(timings)), seekTime_(seekTime) {}

std::vector<WordTiming> TranscriptionResult::allWords() const {
    return segments_.read([](const std::vector<TranscriptionSegment>& segments) {
        std::vector<WordTiming> words;
        for (const TranscriptionSegment& segment : segments) {
            if (segment.words)
                words.insert(words.end(), segment.words->begin(), segment.words->end());
        }
        return words;
    });
}

void TranscriptionResult::logSegments() const {
    if (!tessary::Logging::isEnabled(tessary::Logging::LogLevel::debug)) return;
    std::vector<TranscriptionSegment> current = segments();
    for (size_t i = 0; i < current.size(); ++i) {
        const TranscriptionSegment& segment = current[i];
        TESSARY_LOG(debug, "[Segment " + std::to_string(i) + "] [" + fixed(segment.start, 2) +
                               " --> " + fixed(segment.end, 2) + "] " + segment.text);
    }
}

void TranscriptionResult::logTimings() const {
    if (!tessary::Logging::isEnabled(tessary::Logging::LogLevel::info)) return;
    TESSARY_LOG(info, timingReport());
}

std::string TranscriptionResult::timingReport() const {
    const TranscriptionTimings t = timings();
    size_t totalTokens = segments_.read([](const std::vector<TranscriptionSegment>& segments) {
        size_t count = 0;
        for (const TranscriptionSegment& segment : segments)
            count += segment.tokens.size();
        return count;
    });

    const double total = std::max(t.decodingLoop, t.fullPipeline) * 1000;
    auto stage = [total](double time, double runs) {
        return tessary::Logging::formatTimeWithPercentage(time, runs, total);
    };
    auto seconds = [](double value) { return fixed(value, 2) + " seconds"; };
    const double realTimeFactor = t.fullPipeline / t.inputAudioSeconds;

    std::string report = "---- Transcription Timings ----";
    auto line = [&report](const char* label, const std::string& value) {
        report += '\n';
        report += label;
        report += value;
    };
    line("Audio Load:          ", stage(t.audioLoading, 1));
    line("Audio Processing:    ", stage(t.audioProcessing, t.totalAudioProcessingRuns));
    line("Mels:                ", stage(t.logmels, t.totalLogmelRuns));
    line("Encoding:            ", stage(t.encoding, t.totalEncodingRuns));
    line("Matrices Init:       ", stage(t.decodingInit, 1));
    line("Prefill:             ", stage(t.prefill, 1));
    line("Decoding:            ", stage(t.decodingPredictions, t.totalDecodingLoops));
    line("Non-inference:       ", stage(t.decodingNonPrediction, t.totalDecodingLoops));
    line("- Logit Filtering:   ", stage(t.decodingFiltering, t.totalDecodingLoops));
    line("- Sampling:          ", stage(t.decodingSampling, t.totalDecodingLoops));
    line("- Kv Caching:        ", stage(t.decodingKvCaching, t.totalKVUpdateRuns));
    line("- Word Timestamps:   ", stage(t.decodingWordTimestamps, t.totalTimestampAlignmentRuns));
    line("- Windowing:         ",
         stage(t.decodingWindowing - t.decodingWordTimestamps, t.totalDecodingWindows));
    line("Fallbacks:           ", stage(t.decodingFallback, t.totalDecodingFallbacks));
    line("Decoding Full Loop:  ", stage(t.decodingLoop, t.totalDecodingLoops));
    line("-------------------------------", "");
    line("Model Load Time:               ", seconds(t.modelLoading));
    line("- Prewarm:                     ", seconds(t.prewarmLoadTime));
    line("- Encoder:                     ", seconds(t.encoderLoadTime));
    line("- Decoder:                     ", seconds(t.decoderLoadTime));
    line("- Tokenizer:                   ", seconds(t.tokenizerLoadTime));
    line("Inference Duration (Global):   ", seconds(t.fullPipeline));
    line("- Decoding Loop (Avg/window):  ", seconds(t.decodingLoop / t.totalAudioProcessingRuns));
    line("- Audio Windows:               ", fixed(t.totalAudioProcessingRuns, 2));
    line("Time to first token:           ", seconds(t.firstTokenTime - t.pipelineStart));
    line("Total Tokens:                  ", std::to_string(totalTokens));
    line("Tokens per Second:             ",
         fixed(t.totalDecodingLoops / t.fullPipeline, 2) + " tok/s");
    line("Real Time Factor:              ", fixed(realTimeFactor, 3));
    line("Speed Factor:                  ", fixed(1 / realTimeFactor, 3));
    line("Fallbacks:                     ", platform::text::shortestText(t.totalDecodingFallbacks));
    return report;
}

TranscriptionResultStruct TranscriptionResult::toStruct() const {
    return TranscriptionResultStruct{text(), segments(), language(), timings(), seekTime()};
}

yyjson_mut_val* TranscriptionResult::toJsonValue(json::Writer& writer) const {
    return toStruct().toJsonValue(writer, true);
}

TranscriptionResult TranscriptionResult::fromJsonValue(yyjson_val* value) {
    TranscriptionResultStruct plain = TranscriptionResultStruct::fromJsonValue(value, true);
    return TranscriptionResult(std::move(plain.text), std::move(plain.segments),
                               std::move(plain.language), plain.timings, plain.seekTime);
}

std::string TranscriptionResult::toJson(bool pretty) const {
    return json::encodeDocument(*this, pretty);
}

TranscriptionResult TranscriptionResult::fromJson(std::string_view text) {
    return json::decodeDocument<TranscriptionResult>(text);
}

} // namespace murmex
