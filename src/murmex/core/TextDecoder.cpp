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
#include "platform/system/NumberText.h"
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

std::shared_ptr<platform::ml::Model> TextDecoder::model() const {
    std::lock_guard lock(mutex_);
    return model_;
}

void TextDecoder::setModel(std::shared_ptr<platform::ml::Model> model) {
    std::lock_guard lock(mutex_);
    model_ = std::move(model);
}

void TextDecoder::unloadModel() {
    std::lock_guard lock(mutex_);
    model_.reset();
    prefillData_.reset();
    languageLogitsFilter_.reset();
}

std::shared_ptr<WhisperTokenizer> TextDecoder::tokenizer() const {
    std::lock_guard lock(mutex_);
    return tokenizer_;
}

void TextDecoder::setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer) {
    std::lock_guard lock(mutex_);
    tokenizer_ = std::move(tokenizer);
}

std::shared_ptr<WhisperMLModel> TextDecoder::prefillData() const {
    std::lock_guard lock(mutex_);
    return prefillData_;
}

void TextDecoder::setPrefillData(std::shared_ptr<WhisperMLModel> prefillData) {
    std::lock_guard lock(mutex_);
    prefillData_ = std::move(prefillData);
}

bool TextDecoder::isModelMultilingual() const {
    std::lock_guard lock(mutex_);
    return isModelMultilingual_;
}

void TextDecoder::setIsModelMultilingual(bool multilingual) {
    std::lock_guard lock(mutex_);
    isModelMultilingual_ = multilingual;
}

std::optional<LogitsFilterList> TextDecoder::logitsFilters() const {
    std::lock_guard lock(mutex_);
    return logitsFilters_;
}

void TextDecoder::setLogitsFilters(std::optional<LogitsFilterList> filters) {
    std::lock_guard lock(mutex_);
    logitsFilters_ = std::move(filters);
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
    std::lock_guard lock(mutex_);
    if (!languageLogitsFilter_) {
        languageLogitsFilter_ =
            std::make_shared<LanguageLogitsFilter>(tokenizer.allLanguageTokens(), logitsDim, 0);
    }
    return languageLogitsFilter_;
}

DecodingResult TextDecoder::decodeText(const MultiArray& encoderOutput, DecodingInputs& inputs,
                                       TokenSampling& sampler, const DecodingOptions& options,
                                       const DecodingCallback& callback) {
    const std::shared_ptr<WhisperTokenizer> tokenizer = this->tokenizer();
    if (!tokenizer) throw WhisperError::tokenizerUnavailable("Tokenizer is unavailable");
    const SpecialTokens& special = tokenizer->specialTokens();
    if (inputs.initialPrompt.empty())
        throw WhisperError::prepareDecoderInputsFailed("The initial prompt is empty");

    const int prefilledIndex = std::max(0, static_cast<int>(inputs.cacheLength.value(0)));
    const std::vector<int> initialPrompt = inputs.initialPrompt;
    const int promptLength = static_cast<int>(initialPrompt.size());
    std::vector<int> currentTokens = initialPrompt;
    std::vector<float> logProbs(initialPrompt.size(), 0.0f);
    int nextToken = initialPrompt.back();
    // Each step writes cache positions i and i + 1, which both masks and the
    // caches must hold.
    const int64_t cachePositions =
        std::min({inputs.kvCacheUpdateMask.count(), inputs.decoderKeyPaddingMask.count(),
                  inputs.keyCache.shape().size() == 4 ? inputs.keyCache.shape()[3] : 0});
    const int stepLimit = static_cast<int>(std::min<int64_t>(
        {options.sampleLength, kMaxSteps, std::max<int64_t>(cachePositions - 1, 0)}));
    // Without a prefilled cache the loop feeds the prompt itself. Samples
    // taken while the prompt is still being fed are thrown away, so the first
    // sample that counts (for the first-token test, the end tests and the
    // time to first token) is the one taken at the last prompt position,
    // exactly where a prefilled decode starts sampling.
    const int firstKeptIndex = std::max(prefilledIndex, promptLength - 1);
    const LogitsFilterList filters =
        createLogitsFilters(options, prefilledIndex, promptLength, *tokenizer);

    Logging::debug("Running main loop for a maximum of " + std::to_string(stepLimit) +
                   " iterations, starting at index " + std::to_string(prefilledIndex));
    const Uuid windowId = Uuid::random();
    earlyStopActor_->set(false, windowId);

    bool isFirstTokenLogProbTooLow = false;
    bool hasAlignment = false;
    double firstTokenTime = std::numeric_limits<double>::max();
    double loopTime = 0, predictionTime = 0, filteringTime = 0, samplingTime = 0, kvCachingTime = 0,
           nonPredictionTime = 0, loopCount = 0, kvUpdateCount = 0;

    auto* updateMask = inputs.kvCacheUpdateMask.data<int32_t>();
    auto* paddingMask = inputs.decoderKeyPaddingMask.data<uint16_t>();

    for (int i = prefilledIndex; i < stepLimit; ++i) {
        const auto stepStart = std::chrono::steady_clock::now();
        if (i < promptLength) {
            nextToken = initialPrompt[static_cast<size_t>(i)];
            if (Logging::isEnabled(Logging::LogLevel::debug)) {
                Logging::debug("Forcing prompt tokenIndex: " + std::to_string(i) +
                               ", token: " + std::to_string(nextToken) +
                               ", text: " + tokenizer->decode({nextToken}));
            }
        }
        inputs.inputIds.data<int32_t>()[0] = nextToken;
        inputs.cacheLength.data<int32_t>()[0] = i;
        if (i <= prefilledIndex + 3) debugCaches(inputs, i, prefilledIndex);

        const auto predictionStart = std::chrono::steady_clock::now();
        const std::optional<TextDecoderMLMultiArrayOutputType> output =
            predictLogits(TextDecoderMLMultiArrayInputType{
                inputs.inputIds, inputs.cacheLength, inputs.keyCache, inputs.valueCache,
                inputs.kvCacheUpdateMask, encoderOutput, inputs.decoderKeyPaddingMask});
        if (!output || !output->logits)
            throw WhisperError::decodingLogitsFailed("Unable to decode logits");
        predictionTime += secondsSince(predictionStart);
        const auto nonPredictionStart = std::chrono::steady_clock::now();

        if (i >= firstKeptIndex) {
            MultiArray logits = *output->logits;
            for (const auto& filter : filters)
                logits = filter->filterLogits(logits, currentTokens);
            filteringTime += secondsSince(nonPredictionStart);

            const auto samplingStart = std::chrono::steady_clock::now();
            SamplingResult sample = sampler.update(currentTokens, logits, logProbs);
            const int token = sample.tokens.back();
            const float logProb = sample.logProbs.back();
            if (Logging::isEnabled(Logging::LogLevel::debug)) {
                Logging::debug("Predicted next tokenIndex: " + std::to_string(i + 1) + ", token: " +
                               std::to_string(token) + ", text: " + tokenizer->decode({token}));
            }
            samplingTime += secondsSince(samplingStart);

            if (i == firstKeptIndex && options.firstTokenLogProbThreshold &&
                logProb < *options.firstTokenLogProbThreshold) {
                isFirstTokenLogProbTooLow = true;
            }
            if (sample.completed || isFirstTokenLogProbTooLow || currentTokens.size() > 222) {
                loopCount += 1;
                nonPredictionTime += secondsSince(nonPredictionStart);
                loopTime += secondsSince(stepStart);
                break;
            }
            currentTokens.push_back(token);
            logProbs.push_back(logProb);
            nextToken = token;
        }

        // Store this step's keys and values and open the next position.
        if (!output->cache || !output->cache->keyCache || !output->cache->valueCache) {
            throw WhisperError::decodingFailed("Invalid model output");
        }
        const auto cacheStart = std::chrono::steady_clock::now();
        updateKVCache(inputs.keyCache, *output->cache->keyCache, inputs.valueCache,
                      *output->cache->valueCache, i);
        paddingMask[i + 1] = 0;
        updateMask[i] = 0;
        updateMask[i + 1] = 1;
        if (output->cache->alignmentWeights) {
            updateAlignmentWeights(inputs.alignmentWeights, *output->cache->alignmentWeights, i);
            hasAlignment = true;
        }
        kvCachingTime += secondsSince(cacheStart);

        if (callback) {
            TranscriptionProgress progress;
            progress.timings.firstTokenTime = firstTokenTime;
            progress.timings.decodingPredictions = predictionTime;
            progress.timings.decodingFiltering = filteringTime;
            progress.timings.decodingSampling = samplingTime;
            progress.timings.decodingKvCaching = kvCachingTime;
            progress.timings.decodingLoop = loopTime;
            progress.timings.decodingNonPrediction = nonPredictionTime;
            progress.timings.totalDecodingLoops = loopCount;
            progress.timings.totalKVUpdateRuns = kvUpdateCount + 1;
            progress.text = tokenizer->decode(
                options.skipSpecialTokens ? tokensBelow(currentTokens, special.specialTokenBegin)
                                          : currentTokens);
            progress.tokens = currentTokens;
            progress.avgLogprob = std::accumulate(logProbs.begin(), logProbs.end(), 0.0f) /
                                  static_cast<float>(logProbs.size());
            progress.compressionRatio = TextUtilities::compressionRatio(currentTokens);
            progressReporter_->report(callback, std::move(progress), windowId,
                                      i < promptLength - 1);
        }

        nonPredictionTime += secondsSince(nonPredictionStart);
        loopTime += secondsSince(stepStart);
        loopCount += 1;
        kvUpdateCount += 1;

        if (i == firstKeptIndex) {
            firstTokenTime = absoluteTime();
            if (Logging::isEnabled(Logging::LogLevel::debug)) {
                Logging::debug("Found first token at: " +
                               platform::system::shortestText(firstTokenTime));
            }
        }
        if (earlyStopActor_->get(windowId)) break;
    }
    inputs.kvCacheUpdateMask.markModified();
    inputs.decoderKeyPaddingMask.markModified();

    if (!earlyStopActor_->remove(windowId)) {
        Logging::error("Early stop flag not found for window: " + windowId.uuidString());
    }

    // The window starts at the start-of-transcript token: a previous-text
    // prompt in front of it is not part of the result.
    const auto sot =
        std::find(currentTokens.begin(), currentTokens.end(), special.startOfTranscriptToken);
    const auto sotIndex = sot == currentTokens.end() ? 0 : sot - currentTokens.begin();
    DecodingCache cache{inputs.keyCache, inputs.valueCache, std::nullopt};
    if (hasAlignment) cache.alignmentWeights = alignmentRowsFrom(inputs.alignmentWeights, sotIndex);

    const SamplingResult finalized = sampler.finalize(currentTokens, logProbs);
    auto windowEnd =
        std::find(finalized.tokens.begin() + sotIndex, finalized.tokens.end(), special.endToken);
    if (windowEnd != finalized.tokens.end()) ++windowEnd;
    const std::vector<int> tokens(finalized.tokens.begin() + sotIndex, windowEnd);
    const std::vector<float> tokenProbs(finalized.logProbs.begin() + sotIndex,
                                        finalized.logProbs.begin() + sotIndex +
                                            static_cast<std::ptrdiff_t>(tokens.size()));

    DecodingResult result;
    result.tokens = tokens;
    result.avgLogProb = tokenProbs.empty()
                            ? 0.0f
                            : std::accumulate(tokenProbs.begin(), tokenProbs.end(), 0.0f) /
                                  static_cast<float>(tokenProbs.size());
    for (size_t k = 0; k < tokens.size(); ++k)
        result.tokenLogProbs.push_back({{tokens[k], tokenProbs[k]}});
    result.compressionRatio =
        TextUtilities::compressionRatio(tokensBelow(tokens, special.specialTokenBegin));
    result.temperature = options.temperature;
    if (auto* greedy = dynamic_cast<GreedyTokenSampler*>(&sampler)) {
        result.temperature = tessary::rounded(static_cast<float>(greedy->temperature), 3);
    }

    if (options.language) {
        result.language = *options.language;
        result.languageProbs = {{*options.language, 0.0f}};
    } else {
        result.language = "en";
        result.languageProbs = {{"en", 0.0f}};
        const auto& languageTokens = tokenizer->allLanguageTokens();
        for (size_t k = 0; k < tokens.size(); ++k) {
            if (languageTokens.count(tokens[k])) {
                result.language = trimmingSpecialTokenCharacters(tokenizer->decode({tokens[k]}));
                result.languageProbs = {{result.language, tokenProbs[k]}};
                break;
            }
        }
    }
    result.text = tokenizer->decode(tokens);
    Logging::debug("Completed window: " + result.text);
    // No no-speech estimate is made here: the window reports 0.
    result.noSpeechProb = 0.0f;
    result.cache = cache;
    result.fallback =
        DecodingFallback::decide(options, isFirstTokenLogProbTooLow, result.noSpeechProb,
                                 result.compressionRatio, result.avgLogProb);

    TranscriptionTimings timings;
    timings.firstTokenTime = firstTokenTime;
    timings.decodingLoop = loopTime;
    timings.decodingPredictions = predictionTime;
    timings.decodingFiltering = filteringTime;
    timings.decodingSampling = samplingTime;
    timings.decodingKvCaching = kvCachingTime;
    timings.decodingNonPrediction = nonPredictionTime;
    timings.totalDecodingLoops = loopCount;
    timings.totalKVUpdateRuns = kvUpdateCount;
    result.timings = timings;
    return result;
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
        Logging::debug("Detected language: " + code);
        result.language = code;
    } else {
        Logging::error("Detected language " + code + " is not supported, defaulting to en");
        result.language = "en";
    }
    TranscriptionTimings timings;
    timings.decodingPredictions = predictionTime;
    timings.decodingSampling = samplingTime;
    result.timings = timings;
    return result;
}

std::shared_ptr<platform::ml::Model> TextDecoderContextPrefill::model() const {
    std::lock_guard lock(mutex_);
    return model_;
}

void TextDecoderContextPrefill::setModel(std::shared_ptr<platform::ml::Model> model) {
    std::lock_guard lock(mutex_);
    model_ = std::move(model);
}

} // namespace murmex
