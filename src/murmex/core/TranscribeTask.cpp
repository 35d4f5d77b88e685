#include "murmex/core/TranscribeTask.h"

#include "murmex/base/Constants.h"
#include "murmex/base/EngineSignposts.h"
#include "murmex/base/WhisperError.h"
#include "murmex/core/audio/AudioProcessor.h"
#include "murmex/core/text/GreedyTokenSampler.h"
#include "platform/ml/MultiArray.h"
#include "platform/system/Cancellation.h"
#include "platform/text/NumberText.h"
#include "tessary_core/Logging.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fmt/format.h>
#include <limits>
#include <span>

namespace murmex {

namespace {

using platform::system::Float16;
using tessary::Logging;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double wallClock() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

/// Runs one stage of a window and adds its time and one run to the given
/// timing fields; a stage that throws adds nothing.
template <typename Stage> auto timedStage(double& seconds, double& runs, Stage&& stage) {
    const double start = now();
    auto output = stage();
    seconds += now() - start;
    runs += 1;
    return output;
}

/// Closes a signpost interval on every way out of a scope.
class SignpostScope {
public:
    explicit SignpostScope(std::string_view name)
        : name_(name),
          interval_(Signposts::beginSignpost(name, Signposts::TranscribeTask::signposter())) {}
    ~SignpostScope() {
        Signposts::endSignpost(name_, interval_, Signposts::TranscribeTask::signposter());
    }

private:
    std::string_view name_;
    platform::system::SignpostInterval interval_;
};

const platform::ml::MultiArray& encoderArray(const AudioEncoderOutputType& output) {
    if (const auto* array = std::any_cast<platform::ml::MultiArray>(&output)) return *array;
    throw WhisperError::transcriptionFailed("Encoder output is nil");
}

/// Trims blanks and tabs at both ends; line breaks stay.
std::string trimSpacesAndTabs(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return {};
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

/// Seconds from the start of the samples to a sample index.
float seconds(int64_t sample) {
    return static_cast<float>(sample) / static_cast<float>(Constants::sampleRate);
}

std::string ladderText(const std::vector<Float16>& ladder) {
    std::string text = "[";
    for (size_t i = 0; i < ladder.size(); ++i) {
        if (i) text += ", ";
        text += platform::text::shortestText(static_cast<float>(ladder[i]));
    }
    return text + "]";
}

std::string listText(const std::vector<std::pair<int64_t, int64_t>>& clips) {
    std::string out = "[";
    for (size_t i = 0; i < clips.size(); ++i) {
        if (i) out += ", ";
        out += fmt::format("({}, {})", clips[i].first, clips[i].second);
    }
    return out + "]";
}

} // namespace

struct TranscribeTask::RunState {
    std::shared_ptr<DecodingInputs> decoderInputs;
    int prefilledCacheSize = 0;
    std::optional<std::string> detectedLanguage;
    std::vector<TranscriptionSegment> segments;
    std::vector<int> tokens;
};

TranscribeTask::TranscribeTask(TranscriptionTimings currentTimings,
                               std::shared_ptr<platform::system::Progress> progress,
                               std::shared_ptr<AudioProcessing> audioProcessor,
                               std::shared_ptr<AudioEncoding> audioEncoder,
                               std::shared_ptr<FeatureExtracting> featureExtractor,
                               std::shared_ptr<SegmentSeeking> segmentSeeker,
                               std::shared_ptr<TextDecoding> textDecoder,
                               std::shared_ptr<WhisperTokenizer> tokenizer)
    : timings_(std::move(currentTimings)),
      progress_(progress ? std::move(progress) : platform::system::Progress::create()),
      audioEncoder_(std::move(audioEncoder)), featureExtractor_(std::move(featureExtractor)),
      segmentSeeker_(std::move(segmentSeeker)), textDecoder_(std::move(textDecoder)),
      audioProcessor_(std::move(audioProcessor)), tokenizer_(std::move(tokenizer)),
      windowCount_(static_cast<int64_t>(timings_.totalDecodingWindows)),
      fallbackCount_(static_cast<int64_t>(timings_.totalDecodingFallbacks)) {
    if (!audioProcessor_) audioProcessor_ = std::make_shared<AudioProcessor>();
}

void TranscribeTask::windowPreprocess(const AudioProcessorOutputType&, int64_t, int64_t) {}

std::vector<TranscriptionSegment>
TranscribeTask::windowPostProcess(int64_t, int64_t,
                                  std::vector<TranscriptionSegment> originalSegments) {
    return originalSegments;
}

const std::string& TranscribeTask::prependPunctuations() {
    static const std::string text(Constants::defaultPrependPunctuations);
    return text;
}

const std::string& TranscribeTask::appendPunctuations() {
    static const std::string text(Constants::defaultAppendPunctuations);
    return text;
}

std::vector<Float16> TranscribeTask::temperatureLadder(const DecodingOptions& options) {
    if (options.temperatureFallbackCount < 0) {
        throw WhisperError::decodingFailed("temperatureFallbackCount must be zero or more");
    }
    const Float16 start(options.temperature);
    const Float16 increment(options.temperatureIncrementOnFallback);
    std::vector<Float16> ladder;
    ladder.reserve(static_cast<size_t>(options.temperatureFallbackCount) + 1);
    for (int i = 0; i <= options.temperatureFallbackCount; ++i) {
        // Product and sum are each rounded to half precision, as the model
        // would compute them; a half times a half is exact in single precision.
        Float16 step(static_cast<float>(Float16(static_cast<float>(i))) *
                     static_cast<float>(increment));
        ladder.emplace_back(static_cast<float>(start) + static_cast<float>(step));
    }
    return ladder;
}

std::string TranscribeTask::promptText(const std::vector<int>& prompt) const {
    std::string out = "[";
    for (size_t i = 0; i < prompt.size(); ++i) {
        if (i) out += ", ";
        out += '"' + tokenizer_->convertIdToToken(prompt[i]).value_or("") + '"';
    }
    return out + "]";
}

void TranscribeTask::countWindow() {
    timings_.totalDecodingWindows += 1;
    windowCount_.store(static_cast<int64_t>(timings_.totalDecodingWindows));
}

void TranscribeTask::countFallback() {
    timings_.totalDecodingFallbacks += 1;
    fallbackCount_.store(static_cast<int64_t>(timings_.totalDecodingFallbacks));
}

DecodingCallback TranscribeTask::windowProgressCallback(const DecodingCallback& callback) {
    std::weak_ptr<TranscribeTask> weak = weak_from_this();
    // A task not owned by a shared pointer cannot be watched: report through
    // a plain pointer then, which lives as long as the run that calls back.
    TranscribeTask* self = weak.expired() ? this : nullptr;
    return [weak, self, callback](const TranscriptionProgress& progress) -> std::optional<bool> {
        if (!callback) return std::nullopt;
        std::shared_ptr<TranscribeTask> task = weak.lock();
        TranscribeTask* target = task ? task.get() : self;
        if (!target) return std::nullopt;
        TranscriptionProgress copy = progress;
        copy.windowId =
            static_cast<int>(target->windowCount_.load() - target->fallbackCount_.load());
        return callback(copy);
    };
}

TranscriptionResult TranscribeTask::run(const std::vector<float>& audioArray,
                                        const std::optional<DecodingOptions>& decodeOptions,
                                        const DecodingCallback& callback) {
    SignpostScope transcribeInterval("TranscribeAudio");
    timings_.pipelineStart = std::min(timings_.pipelineStart, wallClock());
    TESSARY_LOG(debug, "Starting pipeline at:", wallClock());

    DecodingOptions options = decodeOptions.value_or(DecodingOptions());
    options.verbose = Logging::shared().logLevel() != Logging::LogLevel::none;
    const int64_t windowClipSamples = clipSamples(options);
    const int64_t sampleCount = static_cast<int64_t>(audioArray.size());
    const double firstClip = options.clipTimestamps.empty() ? 0.0 : options.clipTimestamps.front();
    timings_.inputAudioSeconds =
        static_cast<double>(sampleCount) / Constants::sampleRate - firstClip;

    RunState state = prepareDecoder(options);
    const auto seekClips = this->seekClips(options, sampleCount);
    const double loopStart = now();

    for (const auto& [clipStart, clipEnd] : seekClips) {
        const int64_t clipBaseCount = progress_->completedUnitCount();
        const int64_t windowSamples =
            featureExtractor_->windowSamples().value_or(Constants::defaultWindowSamples);
        int64_t seek = clipStart;
        while (seek < clipEnd - windowClipSamples) {
            const int64_t segmentSize =
                std::min({clipEnd - seek, sampleCount - seek, windowSamples});
            if (segmentSize <= 0) break; // nothing left of the samples in this clip
            const int64_t windowEnd = seek + segmentSize;
            TESSARY_LOG(debug, fmt::format("Decoding Seek: {} ({:.2f}s)", seek, seconds(seek)));
            TESSARY_LOG(debug, fmt::format("Decoding Window Size: {} ({:.2f}s)", segmentSize,
                                           seconds(windowEnd) - seconds(seek)));

            const AudioEncoderOutputType encoded =
                encodeWindow(audioArray, seek, segmentSize, windowSamples);
            TESSARY_LOG(
                info, fmt::format("Decoding {:.2f}s - {:.2f}s", seconds(seek), seconds(windowEnd)));
            DecodingCallback windowCallback = windowProgressCallback(callback);
            platform::system::checkCancellation();
            DecodingResult decodingResult =
                decodeWithFallback(encoded, options, windowCallback, state);

            // Segments and the next seek.
            const double windowingStart = now();
            const auto& special = tokenizer_->specialTokens();
            auto [candidateSeek, segments] = segmentSeeker_->findSeekPointAndSegments(
                decodingResult, options, static_cast<int>(state.segments.size()),
                static_cast<int>(seek), static_cast<int>(segmentSize), Constants::sampleRate,
                special.timeTokenBegin, special.specialTokenBegin, *tokenizer_);
            int64_t newSeek = std::max<int64_t>(candidateSeek, seek);
            if (options.wordTimestamps && decodingResult.cache &&
                decodingResult.cache->alignmentWeights) {
                segments = addWordTimings(std::move(segments), *decodingResult.cache, seek,
                                          segmentSize, options, newSeek);
            }
            if (options.maxWindowSeek)
                newSeek = std::min<int64_t>(newSeek, seek + *options.maxWindowSeek);
            // A window that does not move the seek forward (a seeker answer at
            // the current position, or a cap of zero or less) would be decoded
            // again and again: go on at the end of this window instead.
            if (newSeek <= seek) newSeek = windowEnd;

            if (segments) {
                keepWindowSegments(seek, segmentSize, std::move(*segments), options, state);
                timings_.decodingWindowing += now() - windowingStart;
                countWindow();
                progress_->setCompletedUnitCount(clipBaseCount + std::min(clipEnd, newSeek) -
                                                 clipStart);
            }
            // Every window, silent or not, leaves the decoder at the prefilled
            // position so that the next one never decodes from stale state.
            state.decoderInputs->reset(state.prefilledCacheSize, options.sampleLength);
            seek = newSeek;
        }
    }

    progress_->setCompletedUnitCount(progress_->totalUnitCount());
    timings_.decodingLoop = now() - loopStart;
    timings_.fullPipeline = wallClock() - timings_.pipelineStart;
    return finalizeTranscriptionResult(state.tokens, std::move(state.segments),
                                       state.detectedLanguage, timings_);
}

int64_t TranscribeTask::clipSamples(const DecodingOptions& options) {
    // The clip time is cut from the end of every clip; a negative one would
    // reach past the clip's end and a non-finite one has no sample count.
    const float clipSeconds = options.windowClipTime * static_cast<float>(Constants::sampleRate);
    if (!std::isfinite(clipSeconds) || clipSeconds < 0 ||
        clipSeconds >= static_cast<float>(std::numeric_limits<int64_t>::max())) {
        throw WhisperError::transcriptionFailed(
            "windowClipTime must be a finite number of seconds, zero or more");
    }
    return static_cast<int64_t>(clipSeconds);
}

TranscribeTask::RunState TranscribeTask::prepareDecoder(const DecodingOptions& options) {
    RunState state;
    double start = now();
    state.decoderInputs =
        textDecoder_->prepareDecoderInputs({tokenizer_->specialTokens().startOfTranscriptToken});
    timings_.decodingInit = now() - start;
    Logging::debug("Decoder init time:", timings_.decodingInit);

    start = now();
    if (options.usePrefillPrompt) {
        state.decoderInputs = textDecoder_->prefillDecoderInputs(state.decoderInputs, options);
    }
    state.prefilledCacheSize = static_cast<int>(state.decoderInputs->cacheLength.value(0));
    timings_.prefill = now() - start;
    Logging::debug("Prefill time:", timings_.prefill);
    TESSARY_LOG(debug, "Prefill prompt: " + promptText(state.decoderInputs->initialPrompt));
    return state;
}

std::vector<std::pair<int64_t, int64_t>> TranscribeTask::seekClips(const DecodingOptions& options,
                                                                   int64_t sampleCount) {
    // Clip ranges, kept inside the samples so that no window starts past the
    // last sample.
    auto clips = options.prepareSeekClips(sampleCount);
    int64_t total = 0;
    for (auto& [clipStart, clipEnd] : clips) {
        clipStart = std::clamp<int64_t>(clipStart, 0, sampleCount);
        clipEnd = std::clamp<int64_t>(clipEnd, clipStart, sampleCount);
        total += clipEnd - clipStart;
    }
    TESSARY_LOG(debug, "Decoding seek clips: " + listText(clips));
    progress_->setTotalUnitCount(total);
    return clips;
}

AudioEncoderOutputType TranscribeTask::encodeWindow(const std::vector<float>& audioArray,
                                                    int64_t seek, int64_t segmentSize,
                                                    int64_t windowSamples) {
    const AudioProcessorOutputType window =
        timedStage(timings_.audioProcessing, timings_.totalAudioProcessingRuns, [&] {
            auto padded = audioProcessor_->padOrTrim(
                std::span(audioArray).subspan(size_t(seek), size_t(segmentSize)), 0, windowSamples);
            if (!padded) throw WhisperError::transcriptionFailed("Audio samples are nil");
            windowPreprocess(*padded, seek, segmentSize);
            return std::move(*padded);
        });
    platform::system::checkCancellation();

    const FeatureExtractorOutputType mel =
        timedStage(timings_.logmels, timings_.totalLogmelRuns, [&] {
            auto features = featureExtractor_->logMelSpectrogram(window);
            if (!features) throw WhisperError::transcriptionFailed("Mel output is nil");
            return std::move(*features);
        });
    platform::system::checkCancellation();

    return timedStage(timings_.encoding, timings_.totalEncodingRuns, [&] {
        auto encoded = audioEncoder_->encodeFeatures(mel);
        if (!encoded) throw WhisperError::transcriptionFailed("Encoder output is nil");
        return std::move(*encoded);
    });
}

std::optional<std::vector<TranscriptionSegment>>
TranscribeTask::addWordTimings(std::optional<std::vector<TranscriptionSegment>> segments,
                               const DecodingCache& cache, int64_t seek, int64_t segmentSize,
                               const DecodingOptions& options, int64_t& newSeek) {
    const double start = now();
    auto timed = segmentSeeker_->addWordTimestamps(
        segments.value_or(std::vector<TranscriptionSegment>{}), *cache.alignmentWeights,
        *tokenizer_, static_cast<int>(seek), static_cast<int>(segmentSize), prependPunctuations(),
        appendPunctuations(),
        static_cast<float>(static_cast<double>(seek) / static_cast<double>(Constants::sampleRate)),
        options, timings_);
    timings_.decodingWordTimestamps += now() - start;
    timings_.totalTimestampAlignmentRuns += 1;
    if (!timed) return std::nullopt;

    // Segments whose words leave them no time are dropped; the window ends
    // no earlier than the last word.
    std::vector<TranscriptionSegment> kept;
    for (auto& segment : *timed) {
        if (segment.start < segment.end) kept.push_back(std::move(segment));
    }
    if (!kept.empty()) {
        newSeek = std::max<int64_t>(
            newSeek,
            static_cast<int64_t>(kept.back().end * static_cast<float>(Constants::sampleRate)));
    }
    if (options.verbose && Logging::isEnabled(Logging::LogLevel::debug)) {
        Logging::debug("Word timestamps:");
        for (const auto& segment : kept) {
            for (const auto& word : segment.words.value_or(std::vector<WordTiming>{})) {
                Logging::debug(fmt::format("[{:.3g} -> {:.3g}] prob: {}, word: {}", word.start,
                                           word.end, platform::text::shortestText(word.probability),
                                           word.word));
            }
        }
    }
    return kept;
}

void TranscribeTask::keepWindowSegments(int64_t seek, int64_t segmentSize,
                                        std::vector<TranscriptionSegment> segments,
                                        const DecodingOptions& options, RunState& state) {
    auto processed = windowPostProcess(seek, segmentSize, std::move(segments));
    if (options.verbose && Logging::isEnabled(Logging::LogLevel::debug)) {
        Logging::debug("Segments for window:");
        for (const auto& segment : processed) {
            Logging::debug(
                fmt::format("[{:.2f} --> {:.2f}] {}", segment.start, segment.end, segment.text));
        }
    }
    if (segmentDiscoveryCallback_) segmentDiscoveryCallback_(processed);
    for (const auto& segment : processed)
        state.tokens.insert(state.tokens.end(), segment.tokens.begin(), segment.tokens.end());
    state.segments.insert(state.segments.end(), std::make_move_iterator(processed.begin()),
                          std::make_move_iterator(processed.end()));
}

DecodingResult TranscribeTask::decodeWithFallback(const AudioEncoderOutputType& encoderSegment,
                                                  const DecodingOptions& decodingOptions,
                                                  const DecodingCallback& callback,
                                                  RunState& state) {
    SignpostScope decodeInterval("Decode");
    const auto ladder = temperatureLadder(decodingOptions);
    TESSARY_LOG(debug, "Decoding with temperatures " + ladderText(ladder));
    const platform::ml::MultiArray& encoderOutput = encoderArray(encoderSegment);
    const auto& special = tokenizer_->specialTokens();

    std::optional<DecodingResult> decodingResult;
    for (size_t i = 0; i < ladder.size(); ++i) {
        const Float16 temperature = ladder[i];
        TESSARY_LOG(info, "Decoding Temperature:", static_cast<float>(temperature));
        const double tryStart = now();
        GreedyTokenSampler sampler(temperature, special.endToken, decodingOptions);
        DecodingOptions tryOptions = decodingOptions;

        if (textDecoder_->isModelMultilingual() && !decodingOptions.language &&
            decodingOptions.detectLanguage) {
            std::optional<DecodingResult> languageResult;
            try {
                languageResult = textDecoder_->detectLanguage(
                    encoderOutput, *state.decoderInputs, sampler, decodingOptions, temperature);
            } catch (const platform::system::CancellationError&) {
                throw;
            } catch (...) {
                languageResult.reset(); // a failed detection decodes without a language
            }
            if (languageResult) {
                tryOptions.language = languageResult->language;
                state.detectedLanguage = languageResult->language;
            } else {
                tryOptions.language.reset();
                state.detectedLanguage.reset();
            }
            if (decodingOptions.usePrefillPrompt) {
                state.decoderInputs =
                    textDecoder_->prefillDecoderInputs(state.decoderInputs, tryOptions);
            }
            TESSARY_LOG(debug, "Prefill prompt updated to: " +
                                   promptText(state.decoderInputs->initialPrompt));
            if (languageResult && languageResult->timings) {
                timings_.decodingPredictions += languageResult->timings->decodingPredictions;
                timings_.decodingSampling += languageResult->timings->decodingSampling;
            }
        }

        DecodingResult result = textDecoder_->decodeText(encoderOutput, *state.decoderInputs,
                                                         sampler, tryOptions, callback);
        if (!state.detectedLanguage) state.detectedLanguage = result.language;
        if (result.timings) timings_.addDecodingTimings(*result.timings);
        const bool needsFallback = result.fallback && result.fallback->needsFallback;
        const std::string reason =
            result.fallback ? result.fallback->fallbackReason : std::string();
        decodingResult = std::move(result);
        if (!needsFallback) break;

        timings_.decodingFallback += now() - tryStart;
        countFallback();
        state.decoderInputs->reset(state.prefilledCacheSize, decodingOptions.sampleLength);
        TESSARY_LOG(info, fmt::format("Fallback #{} ({})", i + 1, reason));
    }
    if (!decodingResult) throw WhisperError::decodingFailed("Decoding failed");
    return std::move(*decodingResult);
}

TranscriptionResult TranscribeTask::finalizeTranscriptionResult(
    const std::vector<int>& tokens, std::vector<TranscriptionSegment> segments,
    const std::optional<std::string>& language, const TranscriptionTimings& timings) {
    const int specialTokenBegin = tokenizer_->specialTokens().specialTokenBegin;
    std::vector<int> textTokens;
    textTokens.reserve(tokens.size());
    for (int token : tokens) {
        if (token < specialTokenBegin) textTokens.push_back(token);
    }
    std::string text = trimSpacesAndTabs(tokenizer_->decode(textTokens));
    return TranscriptionResult(std::move(text), std::move(segments), language.value_or("en"),
                               timings, std::nullopt);
}

} // namespace murmex
