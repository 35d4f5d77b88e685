#include "murmex/output/TranscriptionUtilities.h"

#include "murmex/base/Constants.h"
#include "murmex/base/Extensions.h"

#include <algorithm>
#include <cmath>
#include <fmt/format.h>
#include <limits>

namespace murmex {

TranscriptionSegment
TranscriptionUtilities::updateSegmentTimings(const TranscriptionSegment& segment, float seekTime) {
    TranscriptionSegment moved = segment;
    const float samples = seekTime * static_cast<float>(Constants::sampleRate);
    // Out-of-range shifts saturate instead of overflowing the sample count.
    const double clamped =
        std::clamp(static_cast<double>(std::trunc(std::isnan(samples) ? 0.0f : samples)),
                   static_cast<double>(std::numeric_limits<int>::min()),
                   static_cast<double>(std::numeric_limits<int>::max()));
    const double seek = std::clamp(static_cast<double>(moved.seek) + clamped,
                                   static_cast<double>(std::numeric_limits<int>::min()),
                                   static_cast<double>(std::numeric_limits<int>::max()));
    moved.seek = static_cast<int>(seek);
    moved.start += seekTime;
    moved.end += seekTime;
    if (moved.words) {
        for (auto& word : *moved.words) {
            word.start += seekTime;
            word.end += seekTime;
        }
    }
    return moved;
}

std::vector<std::string>
TranscriptionUtilities::formatSegments(const std::vector<TranscriptionSegment>& segments,
                                       bool withTimestamps) {
    std::vector<std::string> lines;
    lines.reserve(segments.size());
    for (const auto& segment : segments) {
        lines.push_back(withTimestamps ? fmt::format("[{:.2f} --> {:.2f}] {}", segment.start,
                                                     segment.end, segment.text)
                                       : segment.text);
    }
    return lines;
}

namespace {

size_t commonPrefixLength(const std::vector<WordTiming>& first,
                          const std::vector<WordTiming>& second) {
    size_t length = 0;
    while (length < first.size() && length < second.size() &&
           normalized(first[length].word) == normalized(second[length].word)) {
        ++length;
    }
    return length;
}

} // namespace

std::vector<WordTiming>
TranscriptionUtilities::findLongestCommonPrefix(const std::vector<WordTiming>& first,
                                                const std::vector<WordTiming>& second) {
    const size_t length = commonPrefixLength(first, second);
    return {second.begin(), second.begin() + static_cast<std::ptrdiff_t>(length)};
}

std::vector<WordTiming>
TranscriptionUtilities::findLongestDifferentSuffix(const std::vector<WordTiming>& first,
                                                   const std::vector<WordTiming>& second) {
    const size_t length = commonPrefixLength(first, second);
    return {second.begin() + static_cast<std::ptrdiff_t>(length), second.end()};
}

namespace {

TranscriptionTimings mergedTimings(const std::vector<TranscriptionTimings>& all) {
    TranscriptionTimings merged;
    if (all.empty()) {
        merged.pipelineStart = 0;
        merged.firstTokenTime = 0;
        merged.inputAudioSeconds = 0;
        return merged;
    }
    auto smallest = [&](double TranscriptionTimings::*field) {
        double value = all.front().*field;
        for (const auto& t : all)
            value = std::min(value, t.*field);
        return value;
    };
    auto largest = [&](double TranscriptionTimings::*field) {
        double value = all.front().*field;
        for (const auto& t : all)
            value = std::max(value, t.*field);
        return value;
    };
    auto sum = [&](double TranscriptionTimings::*field) {
        double value = 0;
        for (const auto& t : all)
            value += t.*field;
        return value;
    };

    merged.pipelineStart = smallest(&TranscriptionTimings::pipelineStart);
    merged.firstTokenTime = smallest(&TranscriptionTimings::firstTokenTime);
    for (auto field :
         {&TranscriptionTimings::modelLoading, &TranscriptionTimings::prewarmLoadTime,
          &TranscriptionTimings::encoderLoadTime, &TranscriptionTimings::decoderLoadTime,
          &TranscriptionTimings::tokenizerLoadTime}) {
        merged.*field = largest(field);
    }
    merged.encoderSpecializationTime = 0;
    merged.decoderSpecializationTime = 0;
    for (auto field : {&TranscriptionTimings::inputAudioSeconds,
                       &TranscriptionTimings::audioLoading,
                       &TranscriptionTimings::audioProcessing,
                       &TranscriptionTimings::logmels,
                       &TranscriptionTimings::encoding,
                       &TranscriptionTimings::prefill,
                       &TranscriptionTimings::decodingInit,
                       &TranscriptionTimings::decodingLoop,
                       &TranscriptionTimings::decodingPredictions,
                       &TranscriptionTimings::decodingFiltering,
                       &TranscriptionTimings::decodingSampling,
                       &TranscriptionTimings::decodingFallback,
                       &TranscriptionTimings::decodingWindowing,
                       &TranscriptionTimings::decodingKvCaching,
                       &TranscriptionTimings::decodingWordTimestamps,
                       &TranscriptionTimings::decodingNonPrediction,
                       &TranscriptionTimings::totalAudioProcessingRuns,
                       &TranscriptionTimings::totalLogmelRuns,
                       &TranscriptionTimings::totalEncodingRuns,
                       &TranscriptionTimings::totalDecodingLoops,
                       &TranscriptionTimings::totalKVUpdateRuns,
                       &TranscriptionTimings::totalTimestampAlignmentRuns,
                       &TranscriptionTimings::totalDecodingFallbacks,
                       &TranscriptionTimings::totalDecodingWindows}) {
        merged.*field = sum(field);
    }
    // Runs that overlapped in time count once: the wall-clock span is the
    // bound when it is shorter than the summed durations.
    double latestEnd = all.front().pipelineStart + all.front().fullPipeline;
    for (const auto& t : all)
        latestEnd = std::max(latestEnd, t.pipelineStart + t.fullPipeline);
    merged.fullPipeline =
        std::min(sum(&TranscriptionTimings::fullPipeline), latestEnd - merged.pipelineStart);
    return merged;
}

} // namespace

std::shared_ptr<TranscriptionResult> TranscriptionUtilities::mergeTranscriptionResults(
    const std::vector<std::shared_ptr<TranscriptionResult>>& results,
    const std::optional<std::vector<WordTiming>>& confirmedWords) {
    std::string text;
    if (confirmedWords) {
        for (const auto& word : *confirmedWords)
            text += word.word;
    } else {
        for (size_t i = 0; i < results.size(); ++i) {
            if (i > 0) text += ' ';
            if (results[i]) text += results[i]->text();
        }
    }

    std::vector<TranscriptionSegment> segments;
    std::vector<TranscriptionTimings> timings;
    std::string language;
    int position = 0;
    for (const auto& result : results) {
        if (!result) continue;
        if (timings.empty()) language = result->language();
        const std::vector<TranscriptionSegment> own = result->segments();
        for (size_t i = 0; i < own.size(); ++i) {
            TranscriptionSegment segment = own[i];
            segment.id = position + static_cast<int>(i);
            segments.push_back(std::move(segment));
        }
        timings.push_back(result->timings());
        ++position;
    }
    if (timings.empty()) language = "en";
    return std::make_shared<TranscriptionResult>(std::move(text), std::move(segments),
                                                 std::move(language), mergedTimings(timings),
                                                 std::nullopt);
}

} // namespace murmex
