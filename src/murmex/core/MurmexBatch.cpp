// The engine's batch operations (many inputs in one call, transcribed side by
// side) and its voice-activity path (one long recording cut at silences and
// transcribed as a batch of chunks).

#include "murmex/base/Constants.h"
#include "murmex/base/Extensions.h"
#include "murmex/base/WhisperError.h"
#include "murmex/core/Murmex.h"
#include "murmex/core/audio/AudioProcessor.h"
#include "murmex/core/audio/EnergyVAD.h"
#include "murmex/core/audio/VADAudioChunker.h"
#include "platform/ml/Runtime.h"
#include "platform/system/Cancellation.h"
#include "platform/system/MachineInfo.h"
#include "platform/system/WorkerGroup.h"
#include "platform/text/NumberText.h"
#include "tessary_core/Logging.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace murmex {

namespace {

using tessary::Logging;
using TranscriptionOutcome = Murmex::TranscriptionOutcome;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

TranscriptionOutcome failure(const WhisperError& error) {
    return TranscriptionOutcome(std::make_exception_ptr(error));
}

/// How many transcriptions of a batch may run at once when the options set no
/// worker count: one per processor this process may use, so that a long
/// recording's hundreds of chunks do not all hold their models' working
/// memory at the same time.
size_t unboundedBatchWidth() {
    return size_t(std::max(1, platform::system::MachineInfo::availableProcessorCount()));
}

} // namespace

std::vector<std::optional<std::vector<TranscriptionResult>>>
Murmex::transcribeAudioPaths(const std::vector<std::string>& audioPaths,
                             const std::optional<DecodingOptions>& decodeOptions,
                             const DecodingCallback& callback) {
    return toOptionalArrays(transcribeWithResults(audioPaths, decodeOptions, callback));
}

std::vector<TranscriptionOutcome>
Murmex::transcribeWithResults(const std::vector<std::string>& audioPaths,
                              const std::optional<DecodingOptions>& decodeOptions,
                              const DecodingCallback& callback) {
    if (transcriptionStateCallback) transcriptionStateCallback(TranscriptionState::convertingAudio);
    const double start = now();
    auto loads = AudioProcessor::loadAudioAt(audioPaths, audioInputConfig_.channelMode);
    std::vector<std::vector<float>> loaded;
    for (auto& load : loads) {
        if (load.ok()) loaded.push_back(std::move(load.get()));
    }
    const double elapsed = now() - start;
    currentTimings_.modify([&](TranscriptionTimings& timings) { timings.audioLoading = elapsed; });
    TESSARY_LOG(debug, "Total Audio Loading and Converting Time: " +
                           platform::text::shortestText(elapsed));

    if (transcriptionStateCallback) transcriptionStateCallback(TranscriptionState::transcribing);
    std::vector<TranscriptionOutcome> transcribed =
        transcribeWithResults(loaded, decodeOptions, callback);
    // Each loaded file takes the next outcome, in order.
    std::vector<TranscriptionOutcome> answer;
    answer.reserve(loads.size());
    size_t next = 0;
    for (auto& load : loads) {
        if (!load.ok()) {
            answer.emplace_back(load.error());
        } else if (next < transcribed.size()) {
            answer.push_back(std::move(transcribed[next++]));
        } else {
            answer.push_back(failure(
                WhisperError::transcriptionFailed("The file was loaded but not transcribed.")));
        }
    }
    if (transcriptionStateCallback) transcriptionStateCallback(TranscriptionState::finished);
    return answer;
}

std::vector<std::optional<std::vector<TranscriptionResult>>>
Murmex::transcribeAudioArrays(const std::vector<std::vector<float>>& audioArrays,
                              const std::optional<DecodingOptions>& decodeOptions,
                              const DecodingCallback& callback) {
    return toOptionalArrays(transcribeWithResults(audioArrays, decodeOptions, callback));
}

std::vector<TranscriptionOutcome>
Murmex::transcribeWithResults(const std::vector<std::vector<float>>& audioArrays,
                              const std::optional<DecodingOptions>& decodeOptions,
                              const DecodingCallback& callback) {
    const std::vector<std::optional<DecodingOptions>> options(audioArrays.size(), decodeOptions);
    return transcribeWithOptions(audioArrays, options, std::nullopt, callback);
}

std::vector<TranscriptionOutcome>
Murmex::transcribeWithOptions(const std::vector<std::vector<float>>& audioArrays,
                              const std::vector<std::optional<DecodingOptions>>& decodeOptionsArray,
                              const std::optional<std::vector<int64_t>>& seekOffsets,
                              const DecodingCallback& callback) {
    if (decodeOptionsArray.size() != audioArrays.size()) {
        return {failure(WhisperError::transcriptionFailed(
            "The number of audio arrays and decoding options must be balanced."))};
    }
    if (seekOffsets && seekOffsets->size() != audioArrays.size()) {
        return {failure(WhisperError::transcriptionFailed(
            "The number of audio arrays and seek offset indexes must be balanced."))};
    }
    // The largest count among the options; an absent options value counts 0.
    int workers = 0;
    if (!decodeOptionsArray.empty()) {
        workers = std::numeric_limits<int>::min();
        for (const auto& options : decodeOptionsArray)
            workers = std::max(workers, options ? options->concurrentWorkerCount : 0);
    }
    const size_t count = audioArrays.size();
    if (workers < 0) {
        // No batch size to split by: every array gets the refusal in its place.
        const WhisperError refused =
            WhisperError::transcriptionFailed("The concurrent worker count must not be negative.");
        return std::vector<TranscriptionOutcome>(count, failure(refused));
    }
    // One batch of everything when the count is 0; live workers stay capped.
    const size_t batchSize = workers == 0 ? std::max<size_t>(count, 1) : size_t(workers);
    const size_t width = workers == 0 ? unboundedBatchWidth() : size_t(workers);

    std::vector<TranscriptionOutcome> outcomes;
    outcomes.reserve(count);
    for (size_t first = 0; first < count; first += batchSize) {
        const size_t size = std::min(batchSize, count - first);
        platform::system::WorkerGroup group(std::min(size, width));
        // Transcriptions side by side share the runtime's threads: each
        // splitting its products over all of them would keep more threads
        // busy than there are processors, waiting on one another.
        const int share = std::max(1, platform::ml::Runtime::threadCount() / int(group.width()));
        auto batch = group.run(size, [&](size_t i) {
            platform::ml::Runtime::ThreadShare threads(share);
            const size_t k = first + i;
            // Without a caller callback there is no answer to give: no wrapper.
            DecodingCallback progress;
            if (callback) {
                progress = [&callback, k](const TranscriptionProgress& report) {
                    TranscriptionProgress copy = report;
                    copy.windowId = int(k);
                    return callback(copy);
                };
            }
            SegmentDiscoveryCallback segments = segmentDiscoveryCallback;
            if (seekOffsets) {
                const int64_t offset = (*seekOffsets)[k];
                segments = [this, offset](const std::vector<TranscriptionSegment>& found) {
                    std::vector<TranscriptionSegment> moved = found;
                    for (TranscriptionSegment& segment : moved) {
                        segment.seek = int(std::clamp<int64_t>(segment.seek + offset,
                                                               std::numeric_limits<int>::min(),
                                                               std::numeric_limits<int>::max()));
                    }
                    if (segmentDiscoveryCallback) segmentDiscoveryCallback(moved);
                };
            }
            return transcribeAudioArray(audioArrays[k], decodeOptionsArray[k], progress, segments);
        });
        for (auto& outcome : batch)
            outcomes.push_back(std::move(outcome));
    }
    return outcomes;
}

std::vector<TranscriptionResult> Murmex::transcribeInChunks(const std::vector<float>& audioArray,
                                                            const DecodingOptions& decodeOptions,
                                                            const DecodingCallback& callback,
                                                            int64_t windowLength) {
    std::shared_ptr<const VoiceActivityDetector> detector = voiceActivityDetector_;
    if (!detector) detector = std::make_shared<EnergyVAD>();
    VADAudioChunker chunker(Constants::sampleRate, detector);
    const std::vector<AudioChunk> chunks =
        chunker.chunkAll(audioArray, windowLength, decodeOptions);
    Logging::debug(Logging::Separator{""}, "Found ", chunks.size(), " VAD chunks");

    // The parent progress counts every chunk from the start, so that it does
    // not finish between two batches of chunks.
    const auto n = int64_t(chunks.size());
    const std::shared_ptr<platform::system::Progress> parent =
        runProgress_.modify([&](RunProgress& run) {
            if (run.progress->isFinished()) run = RunProgress();
            const int64_t total = run.progress->totalUnitCount();
            const int64_t counted = run.runs == 0 && run.reserved == 0 ? 0 : total;
            run.progress->setTotalUnitCount(std::max(total, counted + n));
            run.reserved += n;
            return run.progress;
        });

    DecodingOptions chunkOptions = decodeOptions;
    chunkOptions.clipTimestamps.clear();
    std::vector<std::vector<float>> samples;
    std::vector<int64_t> offsets;
    samples.reserve(chunks.size());
    for (const AudioChunk& chunk : chunks) {
        samples.push_back(chunk.audioSamples);
        offsets.push_back(chunk.seekOffsetIndex);
    }
    std::vector<TranscriptionOutcome> outcomes = transcribeWithOptions(
        samples, std::vector<std::optional<DecodingOptions>>(chunks.size(), chunkOptions), offsets,
        callback);

    // Units no chunk run took (a run failed before it started) are given back,
    // once nothing runs on the parent any more.
    runProgress_.modify([&](RunProgress& run) {
        if (run.progress != parent || run.runs != 0 || run.reserved == 0) return;
        run.progress->setTotalUnitCount(run.progress->totalUnitCount() - run.reserved);
        run.reserved = 0;
        if (run.progress->isFinished()) run = RunProgress();
    });

    // A cancelled call, or one whose every chunk failed, fails as a whole
    // rather than answering an empty transcript.
    platform::system::checkCancellation();
    const bool anySucceeded = std::any_of(outcomes.begin(), outcomes.end(),
                                          [](const TranscriptionOutcome& o) { return o.ok(); });
    if (!outcomes.empty() && !anySucceeded) {
        for (const auto& outcome : outcomes) {
            try {
                std::rethrow_exception(outcome.error());
            } catch (const platform::system::CancellationError&) {
                throw;
            } catch (...) {
            }
        }
        std::rethrow_exception(outcomes.front().error());
    }
    return AudioChunking::updateSeekOffsetsForResults(outcomes, chunks);
}

} // namespace murmex
