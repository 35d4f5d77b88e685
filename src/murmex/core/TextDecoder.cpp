#include "murmex/core/TextDecoder.h"

#include "murmex/base/Constants.h"
#include "murmex/base/Extensions.h"
#include "murmex/base/TextUtilities.h"
#include "murmex/base/WhisperError.h"
#include "murmex/core/ModelFeatureProviders.h"
#include "murmex/core/text/GreedyTokenSampler.h"
#include "murmex/core/text/SuppressBlankFilter.h"
#include "murmex/core/text/SuppressTokensFilter.h"
#include "murmex/core/text/TimestampRulesFilter.h"
#include "murmex/records/DecodingFallback.h"
#include "platform/system/Cancellation.h"
#include "platform/system/Uuid.h"
#include "tessary_core/FloatExtensions.h"
#include "tessary_core/Logging.h"
#include "tessary_core/MLUtilities.h"
#include "tessary_core/ModelDimensions.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <fmt/format.h>
#include <limits>
#include <numeric>
#include <thread>

namespace murmex {

using platform::ml::MultiArray;
using platform::system::Uuid;
using tessary::Logging;

namespace {

// Steps write cache positions i and i + 1, so a window of the 224-token
// context runs at most 223 steps.
constexpr int kMaxSteps = Constants::maxTokenContext - 1;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Wall-clock seconds since the Unix epoch: the clock of the pipeline start
// that the time to first token is measured from.
double absoluteTime() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::vector<int> tokensBelow(const std::vector<int>& tokens, int limit) {
    std::vector<int> kept;
    for (int token : tokens) {
        if (token < limit) kept.push_back(token);
    }
    return kept;
}

// The rows of the alignment matrix from `firstRow` on, sharing its storage.
MultiArray alignmentRowsFrom(const MultiArray& alignment, int64_t firstRow) {
    if (firstRow <= 0 || alignment.shape().size() != 2 || firstRow >= alignment.shape()[0])
        return alignment;
    auto owner = std::make_shared<MultiArray>(alignment);
    const auto* base =
        static_cast<const char*>(owner->rawData()) +
        firstRow * alignment.strides()[0] * static_cast<int64_t>(elementSize(alignment.dataType()));
    return MultiArray::wrapping(owner, const_cast<char*>(base),
                                {alignment.shape()[0] - firstRow, alignment.shape()[1]},
                                alignment.dataType(), alignment.strides());
}

} // namespace

// Runs progress callbacks off the token loop, one at a time and in order. A
// false answer stores the window's stop flag, which the loop reads at its
// next stop check. Reports still queued when the decoder goes away are
// dropped; a running callback is waited for.
class TextDecoder::ProgressReporter {
public:
    explicit ProgressReporter(std::shared_ptr<tessary::EarlyStopActor> actor)
        : actor_(std::move(actor)) {}

    ~ProgressReporter() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            queue_.clear();
        }
        wake_.notify_all();
        if (worker_.joinable()) worker_.join();
    }

    void report(DecodingCallback callback, TranscriptionProgress progress, Uuid windowId,
                bool earlyPromptPosition) {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        if (!worker_.joinable()) worker_ = std::thread([this] { run(); });
        queue_.push_back(
            Job{std::move(callback), std::move(progress), windowId, earlyPromptPosition});
        wake_.notify_one();
    }

private:
    struct Job {
        DecodingCallback callback;
        TranscriptionProgress progress;
        Uuid windowId;
        bool earlyPromptPosition;
    };

    void run() {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
                if (stopping_) return;
                job = std::move(queue_.front());
                queue_.pop_front();
            }
            std::optional<bool> answer;
            try {
                answer = job.callback(job.progress);
            } catch (...) {
                // A failing callback must not take the decoder down.
                Logging::error("Progress callback failed");
            }
            if (answer == false && !job.earlyPromptPosition) {
                Logging::debug("Early stopping");
                actor_->set(true, job.windowId);
            }
        }
    }

    std::shared_ptr<tessary::EarlyStopActor> actor_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> queue_;
    bool stopping_ = false;
    std::thread worker_;
};

TextDecoder::TextDecoder()
    : earlyStopActor_(std::make_shared<tessary::EarlyStopActor>()),
      progressReporter_(std::make_unique<ProgressReporter>(earlyStopActor_)) {}

TextDecoder::~TextDecoder() = default;

void TextDecoder::unloadModel() {
    setModel(nullptr);
    prefillData_.set(nullptr);
    languageLogitsFilter_.set(nullptr);
}

std::shared_ptr<WhisperTokenizer> TextDecoder::tokenizer() const {
    return tokenizer_.get();
}

void TextDecoder::setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer) {
    tokenizer_.set(std::move(tokenizer));
}

std::shared_ptr<WhisperMLModel> TextDecoder::prefillData() const {
    return prefillData_.get();
}

void TextDecoder::setPrefillData(std::shared_ptr<WhisperMLModel> prefillData) {
    prefillData_.set(std::move(prefillData));
}

bool TextDecoder::isModelMultilingual() const {
    return isModelMultilingual_.get();
}

void TextDecoder::setIsModelMultilingual(bool multilingual) {
    isModelMultilingual_.set(multilingual);
}

std::optional<LogitsFilterList> TextDecoder::logitsFilters() const {
    return logitsFilters_.get();
}

void TextDecoder::setLogitsFilters(std::optional<LogitsFilterList> filters) {
    logitsFilters_.set(std::move(filters));
}

bool TextDecoder::supportsWordTimestamps() const {
    return tessary::ModelDimensions::getModelOutputDimension(model(), "alignment_heads_weights", 0)
        .has_value();
}

std::optional<int> TextDecoder::logitsSize() const {
    return tessary::ModelDimensions::getModelOutputDimension(model(), "logits", 2);
}

std::optional<int> TextDecoder::kvCacheEmbedDim() const {
    return tessary::ModelDimensions::getModelInputDimension(model(), "key_cache", 1);
}

std::optional<int> TextDecoder::kvCacheMaxSequenceLength() const {
    return tessary::ModelDimensions::getModelInputDimension(model(), "key_cache", 3);
}

std::optional<int> TextDecoder::windowSize() const {
    return tessary::ModelDimensions::getModelInputDimension(model(), "encoder_output_embeds", 3);
}

std::optional<int> TextDecoder::embedSize() const {
    return tessary::ModelDimensions::getModelInputDimension(model(), "encoder_output_embeds", 1);
}

std::optional<TextDecoderMLMultiArrayOutputType>
TextDecoder::predictLogits(const TextDecoderMLMultiArrayInputType& input) {
    auto loaded = model();
    if (!loaded) return TextDecoderMLMultiArrayOutputType{};

    const TextDecoderInput features(input.inputIds, input.cacheLength, input.keyCache,
                                    input.valueCache, input.kvCacheUpdateMask,
                                    input.encoderOutputEmbeds, input.decoderKeyPaddingMask);
    platform::system::checkCancellation();
    const auto output = tessary::asyncPrediction(*loaded, features);

    auto array = [&](const char* name) -> std::optional<MultiArray> {
        auto value = output->featureValue(name);
        return value ? value->multiArrayValue() : std::nullopt;
    };
    TextDecoderMLMultiArrayOutputType result;
    result.logits = array("logits");
    result.cache = DecodingCache{array("key_cache_updates"), array("value_cache_updates"),
                                 array("alignment_heads_weights")};
    return result;
}

LogitsFilterList TextDecoder::createLogitsFilters(const DecodingOptions& options,
                                                  int /*prefilledIndex*/, int initialPromptIndex,
                                                  const WhisperTokenizer& tokenizer) const {
    const SpecialTokens& special = tokenizer.specialTokens();
    LogitsFilterList filters = logitsFilters().value_or(LogitsFilterList{});
    if (options.suppressBlank) {
        // The first sampled token sits right behind the prompt.
        filters.push_back(std::make_shared<SuppressBlankFilter>(special, initialPromptIndex));
    }
    if (!options.supressTokens.empty()) {
        std::vector<int> suppressed;
        for (int token : options.supressTokens) {
            if (token >= 0 && token < special.specialTokenBegin) suppressed.push_back(token);
        }
        filters.push_back(std::make_shared<SuppressTokensFilter>(std::move(suppressed)));
    }
    if (!options.withoutTimestamps) {
        std::optional<int> maxInitialTimestampIndex;
        if (options.maxInitialTimestamp && std::isfinite(*options.maxInitialTimestamp)) {
            const double steps = std::trunc(static_cast<double>(*options.maxInitialTimestamp) /
                                            Constants::secondsPerTimeToken);
            maxInitialTimestampIndex = static_cast<int>(std::clamp(steps, -1.0, 1.0e6));
        }
        filters.push_back(std::make_shared<TimestampRulesFilter>(
            special, initialPromptIndex, maxInitialTimestampIndex, isModelMultilingual()));
    }
    return filters;
}

void TextDecoder::debugCaches(const DecodingInputs& inputs, int /*tokenIndex*/,
                              int prefillSize) const {
    if (!Logging::isEnabled(Logging::LogLevel::debug)) return;
    Logging::debug("--------------- DECODER INPUTS DEBUG ---------------");
    Logging::debug(fmt::format("Cache Length: {:2.0f} Input Token: {:4.0f}",
                               inputs.cacheLength.value(0), inputs.inputIds.value(0)));
    Logging::debug("Key Cache | Val Cache | Align Cache | Update Mask | Decoder Mask | Position");
    // Only positions every array really has; the alignment row length comes
    // from its shape.
    const int64_t positions =
        std::min<int64_t>({static_cast<int64_t>(prefillSize) + 4, Constants::maxTokenContext,
                           inputs.kvCacheUpdateMask.count(), inputs.decoderKeyPaddingMask.count(),
                           inputs.keyCache.count(), inputs.valueCache.count()});
    const auto& alignmentShape = inputs.alignmentWeights.shape();
    const int64_t rowLength = alignmentShape.size() == 2 ? alignmentShape[1] : 0;
    const int64_t alignmentRows = alignmentShape.size() == 2 ? alignmentShape[0] : 0;
    for (int64_t i = 0; i < positions; ++i) {
        const double alignment =
            i < alignmentRows && rowLength > 0 ? inputs.alignmentWeights.value(i * rowLength) : 0;
        Logging::debug(fmt::format("{:9.6f} | {:9.6f} | {:9.6f} | {:11.0f} | {:12.0f} | {}",
                                   static_cast<float>(inputs.keyCache.value(i)),
                                   static_cast<float>(inputs.valueCache.value(i)),
                                   static_cast<float>(alignment), inputs.kvCacheUpdateMask.value(i),
                                   inputs.decoderKeyPaddingMask.value(i), i));
    }
}

std::shared_ptr<LanguageLogitsFilter> TextDecoder::languageFilter(const WhisperTokenizer& tokenizer,
                                                                  int logitsDim) {
    // Windows decoded at the same time share the one filter; it is built once.
    return languageLogitsFilter_.modify([&](std::shared_ptr<LanguageLogitsFilter>& filter) {
        if (!filter) {
            filter =
                std::make_shared<LanguageLogitsFilter>(tokenizer.allLanguageTokens(), logitsDim, 0);
        }
        return filter;
    });
}

namespace {

// Where the token loop of one window starts and stops.
struct LoopBounds {
    // First cache position the loop writes: behind a prefilled prompt, or 0.
    int prefilledIndex = 0;
    int promptLength = 0;
    // Without a prefilled cache the loop feeds the prompt itself. Samples
    // taken while the prompt is still being fed are thrown away, so the first
    // sample that counts (for the first-token test, the end tests and the
    // time to first token) is the one taken at the last prompt position,
    // exactly where a prefilled decode starts sampling.
    int firstKeptIndex = 0;
    int stepLimit = 0;
};

LoopBounds loopBounds(const DecodingInputs& inputs, const DecodingOptions& options) {
    LoopBounds bounds;
    bounds.prefilledIndex = std::max(0, static_cast<int>(inputs.cacheLength.value(0)));
    bounds.promptLength = static_cast<int>(inputs.initialPrompt.size());
    bounds.firstKeptIndex = std::max(bounds.prefilledIndex, bounds.promptLength - 1);
    // Each step writes cache positions i and i + 1, which both masks and the
    // caches must hold.
    const int64_t cachePositions =
        std::min({inputs.kvCacheUpdateMask.count(), inputs.decoderKeyPaddingMask.count(),
                  inputs.keyCache.shape().size() == 4 ? inputs.keyCache.shape()[3] : 0});
    bounds.stepLimit = static_cast<int>(std::min<int64_t>(
        {options.sampleLength, kMaxSteps, std::max<int64_t>(cachePositions - 1, 0)}));
    return bounds;
}

// The tokens of one window as the loop grows them (the prompt first), and the
// window's own figures, reported with every step and with the result.
struct TokenLoop {
    std::vector<int> tokens;
    std::vector<float> logProbs;
    TranscriptionTimings timings;
    bool firstTokenLogProbTooLow = false;
    bool hasAlignment = false;
};

// One sampled token, and whether the window ends at it: the sampler completed
// the window, its first kept token is too unlikely, or the context is full.
// A token that does not end the window has been appended to it.
struct NextToken {
    int token = 0;
    bool endsWindow = false;
};

NextToken sampleNextToken(MultiArray logits, const LogitsFilterList& filters,
                          TokenSampling& sampler, const DecodingOptions& options, bool isFirstKept,
                          TokenLoop& loop, std::chrono::steady_clock::time_point filteringStart) {
    for (const auto& filter : filters)
        logits = filter->filterLogits(logits, loop.tokens);
    loop.timings.decodingFiltering += secondsSince(filteringStart);

    const auto samplingStart = std::chrono::steady_clock::now();
    const SamplingResult sample = sampler.update(loop.tokens, logits, loop.logProbs);
    const NextToken next{sample.tokens.back(), sample.completed};
    const float logProb = sample.logProbs.back();
    loop.timings.decodingSampling += secondsSince(samplingStart);

    if (isFirstKept && options.firstTokenLogProbThreshold &&
        logProb < *options.firstTokenLogProbThreshold) {
        loop.firstTokenLogProbTooLow = true;
    }
    if (next.endsWindow || loop.firstTokenLogProbTooLow ||
        loop.tokens.size() > static_cast<size_t>(Constants::maxTokenContext - 2)) {
        return {next.token, true};
    }
    loop.tokens.push_back(next.token);
    loop.logProbs.push_back(logProb);
    return next;
}

// Stores one step's keys and values at cache position `index` and opens the
// next position.
void storeStepCache(DecodingInputs& inputs, const std::optional<DecodingCache>& stepCache,
                    int index, TokenLoop& loop) {
    if (!stepCache || !stepCache->keyCache || !stepCache->valueCache) {
        throw WhisperError::decodingFailed("Invalid model output");
    }
    const auto start = std::chrono::steady_clock::now();
    TextDecoding::updateKVCache(inputs.keyCache, *stepCache->keyCache, inputs.valueCache,
                                *stepCache->valueCache, index);
    inputs.decoderKeyPaddingMask.data<uint16_t>()[index + 1] = 0;
    auto* updateMask = inputs.kvCacheUpdateMask.data<int32_t>();
    updateMask[index] = 0;
    updateMask[index + 1] = 1;
    if (stepCache->alignmentWeights) {
        TextDecoding::updateAlignmentWeights(inputs.alignmentWeights, *stepCache->alignmentWeights,
                                             index);
        loop.hasAlignment = true;
    }
    loop.timings.decodingKvCaching += secondsSince(start);
    loop.timings.totalKVUpdateRuns += 1;
}

float meanOf(const std::vector<float>& values) {
    return std::accumulate(values.begin(), values.end(), 0.0f) / static_cast<float>(values.size());
}

// What a progress callback hears after a step: the window so far.
TranscriptionProgress stepProgress(const TokenLoop& loop, const WhisperTokenizer& tokenizer,
                                   const DecodingOptions& options) {
    TranscriptionProgress progress;
    progress.timings = loop.timings;
    progress.text =
        tokenizer.decode(options.skipSpecialTokens
                             ? tokensBelow(loop.tokens, tokenizer.specialTokens().specialTokenBegin)
                             : loop.tokens);
    progress.tokens = loop.tokens;
    progress.avgLogprob = meanOf(loop.logProbs);
    progress.compressionRatio = TextUtilities::compressionRatio(loop.tokens);
    return progress;
}

// The window's language: the one the options name, else the first language
// token among the window's tokens (with its log-probability), else English.
void setWindowLanguage(DecodingResult& result, const std::vector<float>& tokenProbs,
                       const DecodingOptions& options, const WhisperTokenizer& tokenizer) {
    if (options.language) {
        result.language = *options.language;
        result.languageProbs = {{*options.language, 0.0f}};
        return;
    }
    result.language = "en";
    result.languageProbs = {{"en", 0.0f}};
    const auto& languageTokens = tokenizer.allLanguageTokens();
    for (size_t k = 0; k < result.tokens.size(); ++k) {
        if (languageTokens.count(result.tokens[k])) {
            result.language = trimmingSpecialTokenCharacters(tokenizer.decode({result.tokens[k]}));
            result.languageProbs = {{result.language, tokenProbs[k]}};
            return;
        }
    }
}

// The result of a finished loop: the window's tokens from its
// start-of-transcript token to its end token, their text, quality measures,
// cache and figures, and the verdict on a retry.
DecodingResult windowResult(TokenLoop& loop, const DecodingInputs& inputs, TokenSampling& sampler,
                            const DecodingOptions& options, const WhisperTokenizer& tokenizer) {
    const SpecialTokens& special = tokenizer.specialTokens();
    // The window starts at the start-of-transcript token: a previous-text
    // prompt in front of it is not part of the result.
    const auto sot =
        std::find(loop.tokens.begin(), loop.tokens.end(), special.startOfTranscriptToken);
    const auto sotIndex = sot == loop.tokens.end() ? 0 : sot - loop.tokens.begin();
    DecodingCache cache{inputs.keyCache, inputs.valueCache, std::nullopt};
    if (loop.hasAlignment)
        cache.alignmentWeights = alignmentRowsFrom(inputs.alignmentWeights, sotIndex);

    const SamplingResult finalized = sampler.finalize(loop.tokens, loop.logProbs);
    auto windowEnd =
        std::find(finalized.tokens.begin() + sotIndex, finalized.tokens.end(), special.endToken);
    if (windowEnd != finalized.tokens.end()) ++windowEnd;
    DecodingResult result;
    result.tokens.assign(finalized.tokens.begin() + sotIndex, windowEnd);
    const std::vector<float> tokenProbs(finalized.logProbs.begin() + sotIndex,
                                        finalized.logProbs.begin() + sotIndex +
                                            static_cast<std::ptrdiff_t>(result.tokens.size()));

    result.avgLogProb = tokenProbs.empty() ? 0.0f : meanOf(tokenProbs);
    for (size_t k = 0; k < result.tokens.size(); ++k)
        result.tokenLogProbs.push_back({{result.tokens[k], tokenProbs[k]}});
    result.compressionRatio =
        TextUtilities::compressionRatio(tokensBelow(result.tokens, special.specialTokenBegin));
    result.temperature = options.temperature;
    if (auto* greedy = dynamic_cast<GreedyTokenSampler*>(&sampler)) {
        result.temperature = tessary::rounded(static_cast<float>(greedy->temperature), 3);
    }
    setWindowLanguage(result, tokenProbs, options, tokenizer);
    result.text = tokenizer.decode(result.tokens);
    TESSARY_LOG(debug, "Completed window: " + result.text);
    // No no-speech estimate is made here: the window reports 0.
    result.noSpeechProb = 0.0f;
    result.cache = cache;
    result.fallback =
        DecodingFallback::decide(options, loop.firstTokenLogProbTooLow, result.noSpeechProb,
                                 result.compressionRatio, result.avgLogProb);
    result.timings = loop.timings;
    return result;
}

} // namespace

DecodingResult TextDecoder::decodeText(const MultiArray& encoderOutput, DecodingInputs& inputs,
                                       TokenSampling& sampler, const DecodingOptions& options,
                                       const DecodingCallback& callback) {
    const std::shared_ptr<WhisperTokenizer> tokenizer = this->tokenizer();
    if (!tokenizer) throw WhisperError::tokenizerUnavailable("Tokenizer is unavailable");
    if (inputs.initialPrompt.empty())
        throw WhisperError::prepareDecoderInputsFailed("The initial prompt is empty");

    const LoopBounds bounds = loopBounds(inputs, options);
    const std::vector<int> initialPrompt = inputs.initialPrompt;
    TokenLoop loop;
    loop.tokens = initialPrompt;
    loop.logProbs.assign(initialPrompt.size(), 0.0f);
    int nextToken = initialPrompt.back();
    const LogitsFilterList filters =
        createLogitsFilters(options, bounds.prefilledIndex, bounds.promptLength, *tokenizer);

    Logging::debug("Running main loop for a maximum of", bounds.stepLimit,
                   "iterations, starting at index", bounds.prefilledIndex);
    const Uuid windowId = Uuid::random();
    earlyStopActor_->set(false, windowId);

    for (int i = bounds.prefilledIndex; i < bounds.stepLimit; ++i) {
        const auto stepStart = std::chrono::steady_clock::now();
        if (i < bounds.promptLength) {
            nextToken = initialPrompt[static_cast<size_t>(i)];
            TESSARY_LOG(debug, "Forcing prompt tokenIndex: " + std::to_string(i) +
                                   ", token: " + std::to_string(nextToken) +
                                   ", text: " + tokenizer->decode({nextToken}));
        }
        inputs.inputIds.data<int32_t>()[0] = nextToken;
        inputs.cacheLength.data<int32_t>()[0] = i;
        if (i <= bounds.prefilledIndex + 3) debugCaches(inputs, i, bounds.prefilledIndex);

        const auto predictionStart = std::chrono::steady_clock::now();
        const std::optional<TextDecoderMLMultiArrayOutputType> output =
            predictLogits(TextDecoderMLMultiArrayInputType{
                inputs.inputIds, inputs.cacheLength, inputs.keyCache, inputs.valueCache,
                inputs.kvCacheUpdateMask, encoderOutput, inputs.decoderKeyPaddingMask});
        if (!output || !output->logits)
            throw WhisperError::decodingLogitsFailed("Unable to decode logits");
        loop.timings.decodingPredictions += secondsSince(predictionStart);
        const auto nonPredictionStart = std::chrono::steady_clock::now();

        if (i >= bounds.firstKeptIndex) {
            const NextToken next =
                sampleNextToken(*output->logits, filters, sampler, options,
                                i == bounds.firstKeptIndex, loop, nonPredictionStart);
            TESSARY_LOG(debug, "Predicted next tokenIndex: " + std::to_string(i + 1) +
                                   ", token: " + std::to_string(next.token) +
                                   ", text: " + tokenizer->decode({next.token}));
            if (next.endsWindow) {
                loop.timings.totalDecodingLoops += 1;
                loop.timings.decodingNonPrediction += secondsSince(nonPredictionStart);
                loop.timings.decodingLoop += secondsSince(stepStart);
                break;
            }
            nextToken = next.token;
        }

        storeStepCache(inputs, output->cache, i, loop);
        if (callback) {
            progressReporter_->report(callback, stepProgress(loop, *tokenizer, options), windowId,
                                      i < bounds.promptLength - 1);
        }
        loop.timings.decodingNonPrediction += secondsSince(nonPredictionStart);
        loop.timings.decodingLoop += secondsSince(stepStart);
        loop.timings.totalDecodingLoops += 1;

        if (i == bounds.firstKeptIndex) {
            loop.timings.firstTokenTime = absoluteTime();
            Logging::debug("Found first token at:", loop.timings.firstTokenTime);
        }
        if (earlyStopActor_->get(windowId)) break;
    }
    inputs.kvCacheUpdateMask.markModified();
    inputs.decoderKeyPaddingMask.markModified();

    if (!earlyStopActor_->remove(windowId)) {
        TESSARY_LOG(error, "Early stop flag not found for window:", windowId.uuidString());
    }
    return windowResult(loop, inputs, sampler, options, *tokenizer);
}

DecodingResult TextDecoder::detectLanguage(const MultiArray& encoderOutput, DecodingInputs& inputs,
                                           TokenSampling& sampler,
                                           const DecodingOptions& /*options*/,
                                           platform::system::Float16 /*temperature*/) {
    const std::shared_ptr<WhisperTokenizer> tokenizer = this->tokenizer();
    if (!tokenizer) throw WhisperError::tokenizerUnavailable("Tokenizer is unavailable");
    const std::optional<int> vocabulary = logitsSize();
    if (!vocabulary) throw WhisperError::modelsUnavailable("Failed to read logits size from model");

    const SpecialTokens& special = tokenizer->specialTokens();
    const std::vector<int> tokens{special.startOfTranscriptToken};
    const std::vector<float> logProbs{0.0f};
    const std::shared_ptr<LanguageLogitsFilter> filter = languageFilter(*tokenizer, *vocabulary);

    inputs.inputIds.data<int32_t>()[0] = special.startOfTranscriptToken;
    inputs.cacheLength.data<int32_t>()[0] = 0;
    const auto start = std::chrono::steady_clock::now();
    Logging::debug("Detecting language...");

    const auto output = predictLogits(TextDecoderMLMultiArrayInputType{
        inputs.inputIds, inputs.cacheLength, inputs.keyCache, inputs.valueCache,
        inputs.kvCacheUpdateMask, encoderOutput, inputs.decoderKeyPaddingMask});
    if (!output || !output->logits) {
        Logging::error("Unable to decode logits");
        throw WhisperError::decodingLogitsFailed("Unable to decode logits from the model output");
    }
    const double predictionTime = secondsSince(start);

    const MultiArray logits = filter->filterLogits(*output->logits, tokens);
    const auto samplingStart = std::chrono::steady_clock::now();
    const SamplingResult sample = sampler.update(tokens, logits, logProbs);
    const double samplingTime = secondsSince(samplingStart);

    DecodingResult result;
    const auto& languageTokens = tokenizer->allLanguageTokens();
    for (size_t k = 0; k < sample.tokens.size() && k < sample.logProbs.size(); ++k) {
        if (languageTokens.count(sample.tokens[k])) {
            result.languageProbs[trimmingSpecialTokenCharacters(
                tokenizer->decode({sample.tokens[k]}))] = sample.logProbs[k];
        }
    }
    const std::string code =
        trimmingSpecialTokenCharacters(tokenizer->decode({sample.tokens.back()}));
    if (Constants::languageCodes().count(code)) {
        Logging::debug("Detected language:", code);
        result.language = code;
    } else {
        Logging::error("Detected language", code, "is not supported, defaulting to en");
        result.language = "en";
    }
    TranscriptionTimings timings;
    timings.decodingPredictions = predictionTime;
    timings.decodingSampling = samplingTime;
    result.timings = timings;
    return result;
}

} // namespace murmex
