#include "murmex/core/audio/VADAudioChunker.h"

#include "murmex/base/Constants.h"
#include "murmex/base/WhisperError.h"
#include "murmex/core/audio/EnergyVAD.h"
#include "platform/system/Outcome.h"
#include "tessary_core/Logging.h"

#include <algorithm>
#include <exception>
#include <fmt/format.h>
#include <limits>

namespace murmex {

namespace {

using tessary::Logging;

} // namespace

VADAudioChunker::VADAudioChunker(int64_t windowPadding,
                                 std::shared_ptr<const VoiceActivityDetector> vad)
    : windowPadding_(windowPadding), vad_(vad ? std::move(vad) : std::make_shared<EnergyVAD>()) {}

std::vector<AudioChunk>
VADAudioChunker::chunkAll(std::span<const float> audioArray, int64_t maxChunkLength,
                          const std::optional<DecodingOptions>& decodeOptions) {
    const auto n = int64_t(audioArray.size());
    const int64_t longest = maxChunkLength;
    if (n <= longest) return {AudioChunk{0, {audioArray.begin(), audioArray.end()}}};
    if (longest <= 0) {
        throw WhisperError::audioProcessingFailed("Chunks must hold at least one sample, got " +
                                                  std::to_string(longest));
    }
    const DecodingOptions options = decodeOptions.value_or(DecodingOptions{});
    const int64_t frameLength = vad_->frameLengthSamples();
    const int64_t padding = std::max<int64_t>(windowPadding_, 0);

    std::vector<AudioChunk> chunks;
    auto append = [&](int64_t start, int64_t end) {
        if (Logging::isEnabled(Logging::LogLevel::debug)) {
            Logging::debug(fmt::format("Found chunk from {:.2f} to {:.2f}",
                                       float(start) / float(Constants::sampleRate),
                                       float(end) / float(Constants::sampleRate)));
        }
        chunks.push_back({start, {audioArray.begin() + start, audioArray.begin() + end}});
    };

    for (const auto& [clipStart, clipEnd] : options.prepareSeekClips(n)) {
        int64_t startIndex = std::max<int64_t>(clipStart, 0);
        // A clip may name an end past the audio; the audio ends there.
        const int64_t end = std::min(clipEnd, n);
        if (startIndex >= n && startIndex < clipEnd - padding)
            throw WhisperError::audioProcessingFailed("startIndex is outside the buffer size");
        while (startIndex < end - padding) {
            int64_t chunkEnd = end;
            if (startIndex + longest < end) {
                // The cut must leave more than the padding (plus a frame) after
                // it: audio within the padding of the end never starts a window,
                // so a shorter last piece would never be transcribed.
                const int64_t latest = std::min(startIndex + longest, end - padding - frameLength);
                const int64_t windowEnd = std::max(latest, startIndex + 1);
                chunkEnd = windowEnd;
                // Only the second half of the window is searched for a silence.
                const int64_t middle = startIndex + (startIndex + longest - startIndex) / 2;
                if (middle < windowEnd) {
                    const std::vector<bool> decisions = vad_->voiceActivity(
                        audioArray.subspan(size_t(middle), size_t(windowEnd - middle)));
                    if (const auto silence = vad_->findLongestSilence(decisions)) {
                        const int64_t frame =
                            silence->startIndex + (silence->endIndex - silence->startIndex) / 2;
                        chunkEnd = middle + frame * frameLength;
                    }
                }
                // A cut that would not move forward becomes a hard cut.
                if (chunkEnd <= startIndex || chunkEnd > windowEnd) chunkEnd = windowEnd;
            }
            append(startIndex, chunkEnd);
            startIndex = chunkEnd;
        }
        // A clip no longer than the padding is a chunk of its own too.
        if (startIndex < end) append(startIndex, end);
    }
    return chunks;
}

std::vector<TranscriptionResult> AudioChunking::updateSeekOffsetsForResults(
    std::vector<platform::system::Outcome<std::vector<TranscriptionResult>>>& chunkedResults,
    const std::vector<AudioChunk>& audioChunks) {
    if (audioChunks.size() < chunkedResults.size()) {
        throw WhisperError::transcriptionFailed(
            "The number of audio chunks and chunk results must be balanced.");
    }
    std::vector<TranscriptionResult> merged;
    for (size_t i = 0; i < chunkedResults.size(); ++i) {
        auto& outcome = chunkedResults[i];
        if (!outcome.ok()) {
            Logging::debug(Logging::Separator{""}, "Error transcribing chunk ", i, ": ",
                           platform::system::describeError(outcome.error()));
            continue;
        }
        // Samples move by the whole offset; seconds by the offset over the rate.
        const int64_t offset = audioChunks[i].seekOffsetIndex;
        const float seconds = float(offset) / float(Constants::sampleRate);
        for (TranscriptionResult& result : outcome.get()) {
            std::vector<TranscriptionSegment> segments = result.segments();
            for (TranscriptionSegment& segment : segments) {
                segment.seek = int(std::clamp<int64_t>(int64_t(segment.seek) + offset,
                                                       std::numeric_limits<int>::min(),
                                                       std::numeric_limits<int>::max()));
                segment.start += seconds;
                segment.end += seconds;
                if (segment.words) {
                    for (WordTiming& word : *segment.words) {
                        word.start += seconds;
                        word.end += seconds;
                    }
                }
            }
            result.setSeekTime(seconds);
            result.setSegments(std::move(segments));
            merged.push_back(result);
        }
    }
    return merged;
}

} // namespace murmex
