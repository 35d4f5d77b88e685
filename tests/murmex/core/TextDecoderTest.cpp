#include "murmex/core/TextDecoder.h"

#include "murmex/base/WhisperError.h"
#include "murmex/core/text/GreedyTokenSampler.h"
#include "murmex/core/text/LogitsFiltering.h"
#include "murmex/support/ScriptedTokenizer.h"
#include "tessary_core/Logging.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <gtest/gtest.h>
#include <map>
#include <mutex>

using namespace murmex;
using murmex::testing::ScriptedTokenizer;
using platform::ml::ElementType;
using platform::ml::MultiArray;
using platform::system::Float16;

namespace {

constexpr int V = 100;
constexpr int E = 4;
constexpr int W = 10;
constexpr int T = ScriptedTokenizer::kTimeTokenBegin;
constexpr int kEnd = 10, kStart = 11, kEnglish = 12, kTranscribe = 13, kPrevious = 14,
              kRussian = 17;
constexpr int kHello = 0, kWorld = 1, kComma = 2;

// A text decoder whose model is a script: the logits of each step depend on
// the cache position (and, when asked, on the fed token), and every step
// returns key and value slices that record the position they belong to.
class ScriptedDecoder : public TextDecoder {
public:
    ScriptedDecoder() {
        setTokenizer(std::make_shared<ScriptedTokenizer>(V));
        setIsModelMultilingual(true);
    }

    // Preferred next token per cache position; anything else gets `otherwise`.
    std::map<int, int> preferred;
    int otherwise = kHello;
    // Full logits for a position, overriding `preferred`.
    std::map<int, std::vector<float>> logitsAt;
    bool withAlignment = true;
    bool withValueCache = true;
    bool withLogits = true;
    std::function<void(int position)> beforePrediction;

    std::vector<int> fedTokens;
    std::vector<int> fedPositions;

    std::optional<int> logitsSize() const override { return V; }
    std::optional<int> kvCacheEmbedDim() const override { return E; }
    std::optional<int> kvCacheMaxSequenceLength() const override { return 224; }
    std::optional<int> windowSize() const override { return W; }
    std::optional<int> embedSize() const override { return 8; }
    bool supportsWordTimestamps() const override { return withAlignment; }

    std::optional<TextDecoderMLMultiArrayOutputType>
    predictLogits(const TextDecoderMLMultiArrayInputType& input) override {
        const int position = static_cast<int>(input.cacheLength.value(0));
        if (beforePrediction) beforePrediction(position);
        fedTokens.push_back(static_cast<int>(input.inputIds.value(0)));
        fedPositions.push_back(position);

        TextDecoderMLMultiArrayOutputType output;
        if (withLogits) {
            MultiArray logits({1, 1, V}, ElementType::float16);
            if (auto scripted = logitsAt.find(position); scripted != logitsAt.end()) {
                for (int t = 0; t < V; ++t)
                    logits.setValue(t, scripted->second[static_cast<size_t>(t)]);
            } else {
                auto choice = preferred.find(position);
                logits.setValue(choice == preferred.end() ? otherwise : choice->second, 10.0);
            }
            output.logits = logits;
        }
        // The key slice is contiguous; the value slice leaves a gap between
        // channels, so it must be read through its own strides.
        MultiArray key({1, E, 1, 1}, ElementType::float16);
        MultiArray value({1, E, 1, 1}, ElementType::float16, {2 * E, 2, 1, 1});
        for (int c = 0; c < E; ++c) {
            key.setValueAt({0, c, 0, 0}, position + 1);
            value.setValueAt({0, c, 0, 0}, -(position + 1));
        }
        DecodingCache cache{key, std::nullopt, std::nullopt};
        if (withValueCache) cache.valueCache = value;
        if (withAlignment) {
            MultiArray alignment({1, W}, ElementType::float16);
            alignment.setValue(position % W, 1.0);
            cache.alignmentWeights = alignment;
        }
        output.cache = cache;
        return output;
    }
};

std::shared_ptr<DecodingInputs> preparedInputs(ScriptedDecoder& decoder,
                                               const DecodingOptions& options) {
    auto inputs = decoder.prepareDecoderInputs({kStart});
    return decoder.prefillDecoderInputs(inputs, options);
}

// The state a cache prefill of the first `positions` prompt tokens leaves.
void markPrefilled(DecodingInputs& inputs, int positions) {
    inputs.reset(positions, 224);
}

MultiArray encoderOutput() {
    return MultiArray({1, 8, 1, W}, ElementType::float16);
}

DecodingResult decode(ScriptedDecoder& decoder, DecodingInputs& inputs,
                      const DecodingOptions& options, TokenSampling* sampler = nullptr,
                      const DecodingCallback& callback = {}) {
    GreedyTokenSampler greedy(Float16(options.temperature), kEnd, options);
    return decoder.decodeText(encoderOutput(), inputs, sampler ? *sampler : greedy, options,
                              callback);
}

std::vector<float> flatLogits() {
    return std::vector<float>(V, 0.0f);
}

} // namespace

TEST(TextDecoder, NewDecoderDefaultsAndMissingModel) {
    TextDecoder decoder;
    ASSERT_TRUE(decoder.logitsFilters().has_value());
    EXPECT_TRUE(decoder.logitsFilters()->empty());
    EXPECT_FALSE(decoder.isModelMultilingual());
    EXPECT_FALSE(decoder.supportsWordTimestamps());
    EXPECT_FALSE(decoder.logitsSize());
    EXPECT_FALSE(decoder.kvCacheEmbedDim());
    auto output = decoder.predictLogits({});
    ASSERT_TRUE(output);
    EXPECT_FALSE(output->logits);
    EXPECT_FALSE(output->cache);
    try {
        decoder.prepareDecoderInputs({kStart});
        FAIL();
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.message(), "Unable to determine kvCacheEmbedDim");
    }
    try {
        DecodingInputs inputs = *ScriptedDecoder().prepareDecoderInputs({kStart});
        decoder.detectLanguage(
            encoderOutput(), inputs,
            *std::make_unique<GreedyTokenSampler>(Float16(0.0f), kEnd, DecodingOptions{}), {},
            Float16(0.0f));
        FAIL();
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.kind(), WhisperError::Kind::tokenizerUnavailable);
    }
}

TEST(TextDecoder, PreparedInputsOpenOnlyTheFirstPosition) {
    ScriptedDecoder decoder;
    auto inputs = decoder.prepareDecoderInputs({kStart});
    EXPECT_EQ(inputs->initialPrompt, std::vector<int>{kStart});
    EXPECT_EQ(inputs->keyCache.shape(), (std::vector<int64_t>{1, E, 1, 224}));
    EXPECT_EQ(inputs->alignmentWeights.shape(), (std::vector<int64_t>{224, W}));
    EXPECT_EQ(inputs->kvCacheUpdateMask.value(0), 1);
    EXPECT_EQ(inputs->kvCacheUpdateMask.value(1), 0);
    EXPECT_EQ(inputs->decoderKeyPaddingMask.value(0), 0);
    EXPECT_EQ(inputs->decoderKeyPaddingMask.value(1), -10000);
    EXPECT_EQ(inputs->decoderKeyPaddingMask.data<uint16_t>()[223], 0xF0E2);
}

TEST(TextDecoder, InitialPromptTable) {
    std::vector<int> longPrompt;
    for (int i = 0; i < 150; ++i)
        longPrompt.push_back(i % 12 - 1); // text, specials and a negative id
    struct Case {
        const char* name;
        bool multilingual;
        std::optional<DecodingOptions> options;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {"no options", true, std::nullopt, {kStart}},
        {"English-only model ignores language and task",
         false,
         DecodingOptions{.task = DecodingTask::translate, .language = "ru"},
         {kStart, T}},
        {"multilingual, Russian",
         true,
         DecodingOptions{.language = "ru"},
         {kStart, kRussian, kTranscribe, T}},
        {"without timestamps",
         true,
         DecodingOptions{.language = "ru", .withoutTimestamps = true},
         {kStart, kRussian, kTranscribe, 16}},
        {"translate",
         true,
         DecodingOptions{.task = DecodingTask::translate},
         {kStart, kEnglish, 18, T}},
        {"unknown language falls back to English",
         true,
         DecodingOptions{.language = "zz"},
         {kStart, kEnglish, kTranscribe, T}},
    };
    for (const auto& c : cases) {
        ScriptedDecoder decoder;
        decoder.setIsModelMultilingual(c.multilingual);
        auto inputs =
            decoder.prefillDecoderInputs(decoder.prepareDecoderInputs({kStart}), c.options);
        EXPECT_EQ(inputs->initialPrompt, c.expected) << c.name;
        EXPECT_EQ(inputs->cacheLength.value(0), 0) << c.name;
    }

    // Previous text: the last 111 ids count, special and negative ids are dropped.
    ScriptedDecoder decoder;
    auto inputs = decoder.prefillDecoderInputs(
        decoder.prepareDecoderInputs({kStart}),
        DecodingOptions{.language = "en", .promptTokens = longPrompt, .prefixTokens = longPrompt});
    std::vector<int> expected{kPrevious};
    for (size_t i = 150 - 111; i < 150; ++i) {
        if (longPrompt[i] >= 0 && longPrompt[i] < 10) expected.push_back(longPrompt[i]);
    }
    expected.insert(expected.end(), {kStart, kEnglish, kTranscribe, T});
    for (size_t i = 150 - 112; i < 150; ++i) {
        if (longPrompt[i] >= 0 && longPrompt[i] < 10) expected.push_back(longPrompt[i]);
    }
    EXPECT_EQ(inputs->initialPrompt, expected);
}

TEST(TextDecoder, GreedyLoopFeedsThePromptThenItsOwnTokens) {
    ScriptedDecoder decoder;
    // Samples taken while the prompt is fed are thrown away, even a timestamp
    // at the position of the prompt's own timestamp.
    decoder.preferred = {{0, kEnd},   {1, kEnd},   {2, T + 10}, {3, kHello},
                         {4, kWorld}, {5, T + 25}, {6, kEnd}};
    DecodingOptions options{.language = "en"};
    auto inputs = preparedInputs(decoder, options);
    DecodingResult result = decode(decoder, *inputs, options);

    EXPECT_EQ(decoder.fedTokens,
              (std::vector<int>{kStart, kEnglish, kTranscribe, T, kHello, kWorld, T + 25}));
    EXPECT_EQ(decoder.fedPositions, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(result.tokens,
              (std::vector<int>{kStart, kEnglish, kTranscribe, T, kHello, kWorld, T + 25, kEnd}));
    EXPECT_EQ(result.text,
              "<|startoftranscript|><|en|><|transcribe|><|0.00|> hello world<|0.50|><|endoftext|>");
    ASSERT_EQ(result.tokenLogProbs.size(), 8u);
    EXPECT_EQ(result.tokenLogProbs[0].at(kStart), 0.0f);
    EXPECT_LT(result.tokenLogProbs[4].at(kHello), 0.0f);
    EXPECT_GT(result.tokenLogProbs[4].at(kHello), -0.01f);
    EXPECT_FALSE(result.fallback);
    EXPECT_EQ(result.language, "en");
    EXPECT_FLOAT_EQ(result.temperature, 0.0f);
    EXPECT_EQ(result.noSpeechProb, 0.0f);
    ASSERT_TRUE(result.timings);
    EXPECT_EQ(result.timings->totalDecodingLoops, 7);
    EXPECT_EQ(result.timings->totalKVUpdateRuns, 6);
    EXPECT_LT(result.timings->firstTokenTime, std::numeric_limits<double>::max());

    // Each step's keys and values went to its own position, every channel,
    // the value slice read through its own strides.
    for (int p = 0; p < 6; ++p) {
        for (int c = 0; c < E; ++c) {
            EXPECT_EQ(inputs->keyCache.valueAt({0, c, 0, p}), p + 1) << p;
            EXPECT_EQ(inputs->valueCache.valueAt({0, c, 0, p}), -(p + 1)) << p;
        }
        EXPECT_EQ(inputs->alignmentWeights.valueAt({p + 1, p % W}), 1.0) << p;
    }
    EXPECT_EQ(inputs->keyCache.valueAt({0, 0, 0, 6}), 0);
    EXPECT_EQ(inputs->kvCacheUpdateMask.value(6), 1);
    EXPECT_EQ(inputs->kvCacheUpdateMask.value(5), 0);
    EXPECT_EQ(inputs->decoderKeyPaddingMask.value(6), 0);
    EXPECT_EQ(inputs->decoderKeyPaddingMask.value(7), -10000);
    ASSERT_TRUE(result.cache);
    EXPECT_TRUE(result.cache->keyCache->sharesStorageWith(inputs->keyCache));
    ASSERT_TRUE(result.cache->alignmentWeights);
}

TEST(TextDecoder, ProgressReportsCarryTheWindowFiguresSoFar) {
    ScriptedDecoder decoder;
    decoder.preferred = {{3, kHello}, {4, kWorld}, {5, T + 25}, {6, kEnd}};
    struct Report {
        double loops;
        double cacheUpdates;
        bool hasFirstToken;
    };
    std::mutex mutex;
    std::condition_variable reported;
    std::vector<Report> reports;
    DecodingCallback callback = [&](const TranscriptionProgress& progress) -> std::optional<bool> {
        std::lock_guard lock(mutex);
        reports.push_back({progress.timings.totalDecodingLoops, progress.timings.totalKVUpdateRuns,
                           progress.timings.firstTokenTime < std::numeric_limits<double>::max()});
        reported.notify_all();
        return std::nullopt;
    };
    DecodingOptions options{.language = "en"};
    auto inputs = preparedInputs(decoder, options);
    DecodingResult result = decode(decoder, *inputs, options, nullptr, callback);
    ASSERT_TRUE(result.timings);
    EXPECT_EQ(result.timings->totalDecodingLoops, 7);

    // Steps 0-5 report (step 6 ends the window): each after its own cache
    // update but before its own loop is counted; the first token, sampled at
    // the last position of the four-token prompt (step 3), is timed after
    // that step's report.
    std::unique_lock lock(mutex);
    reported.wait_for(lock, std::chrono::seconds(5), [&] { return reports.size() >= 6; });
    ASSERT_EQ(reports.size(), 6u);
    for (size_t k = 0; k < reports.size(); ++k) {
        EXPECT_EQ(reports[k].loops, static_cast<double>(k)) << k;
        EXPECT_EQ(reports[k].cacheUpdates, static_cast<double>(k + 1)) << k;
        EXPECT_EQ(reports[k].hasFirstToken, k >= 4) << k;
    }
}

TEST(TextDecoder, FeedingThePromptGivesTheSameTokensAsAPrefilledCache) {
    std::map<int, int> script{{0, kEnd},   {1, T + 3},  {2, T + 7},  {3, kHello},
                              {4, kComma}, {5, kWorld}, {6, T + 40}, {7, kEnd}};
    DecodingOptions options{.language = "ru"};

    ScriptedDecoder fed;
    fed.preferred = script;
    auto fedInputs = preparedInputs(fed, options);
    DecodingResult fromPrompt = decode(fed, *fedInputs, options);

    ScriptedDecoder prefilled;
    prefilled.preferred = script;
    auto prefilledInputs = preparedInputs(prefilled, options);
    markPrefilled(*prefilledInputs, 3);
    DecodingResult fromCache = decode(prefilled, *prefilledInputs, options);

    EXPECT_EQ(prefilled.fedPositions.front(), 3);
    EXPECT_EQ(fromPrompt.tokens, fromCache.tokens);
    EXPECT_EQ(fromPrompt.tokenLogProbs, fromCache.tokenLogProbs);
    EXPECT_EQ(fromPrompt.avgLogProb, fromCache.avgLogProb);
    EXPECT_EQ(fromPrompt.fallback.has_value(), fromCache.fallback.has_value());
    EXPECT_EQ(fromPrompt.tokens, (std::vector<int>{kStart, kRussian, kTranscribe, T, kHello, kComma,
                                                   kWorld, T + 40, kEnd}));
}

TEST(TextDecoder, FirstTokenTestJudgesTheFirstKeptSample) {
    DecodingOptions options{.language = "en"};
    // A flat distribution at a thrown-away prompt step is no verdict.
    ScriptedDecoder unsure;
    unsure.logitsAt[0] = flatLogits();
    unsure.preferred = {{3, kHello}, {4, kEnd}};
    auto inputs = preparedInputs(unsure, options);
    DecodingResult confident = decode(unsure, *inputs, options);
    EXPECT_FALSE(confident.fallback);
    EXPECT_EQ(confident.tokens.size(), 6u);

    // At the first kept step it ends the window with the verdict.
    ScriptedDecoder doubtful;
    doubtful.logitsAt[3] = flatLogits();
    doubtful.preferred = {{4, kWorld}, {5, kEnd}};
    auto doubtfulInputs = preparedInputs(doubtful, options);
    DecodingResult verdict = decode(doubtful, *doubtfulInputs, options);
    ASSERT_TRUE(verdict.fallback);
    EXPECT_TRUE(verdict.fallback->needsFallback);
    EXPECT_EQ(verdict.fallback->fallbackReason, "firstTokenLogProbThreshold");
    EXPECT_EQ(verdict.timings->totalDecodingLoops, 4);
    EXPECT_EQ(verdict.tokens, (std::vector<int>{kStart, kEnglish, kTranscribe, T, kEnd}));
}

TEST(TextDecoder, AnEndSampledWhileFeedingThePromptDoesNotEndTheWindow) {
    ScriptedDecoder decoder;
    decoder.preferred = {{0, kEnd}, {1, kEnd}, {2, kEnd}, {3, kWorld}, {4, kEnd}};
    DecodingOptions options{.language = "en"};
    auto inputs = preparedInputs(decoder, options);
    EXPECT_EQ(decode(decoder, *inputs, options).tokens,
              (std::vector<int>{kStart, kEnglish, kTranscribe, T, kWorld, kEnd}));
}

TEST(TextDecoder, QualityMeasuresForTheFallbackVerdict) {
    // The average log-probability counts the prompt from the start token and
    // the final end token, each at 0.
    ScriptedDecoder decoder;
    std::vector<float> twoWay(V, -INFINITY);
    twoWay[kHello] = 0;
    twoWay[kWorld] = 0; // ln(1/2) each
    decoder.logitsAt = {{3, twoWay}, {4, twoWay}};
    decoder.preferred = {{5, kEnd}};
    DecodingOptions options{.language = "en", .firstTokenLogProbThreshold = std::nullopt};
    auto inputs = preparedInputs(decoder, options);
    DecodingResult result = decode(decoder, *inputs, options);
    ASSERT_EQ(result.tokens.size(), 7u);
    EXPECT_NEAR(result.avgLogProb, 2 * std::log(0.5f) / 7, 1e-4);

    // A decoding loop compresses far too well and asks for a retry.
    ScriptedDecoder looping;
    looping.otherwise = kHello;
    DecodingOptions loopOptions{.language = "en", .withoutTimestamps = true};
    auto loopInputs = preparedInputs(looping, loopOptions);
    DecodingResult loop = decode(looping, *loopInputs, loopOptions);
    EXPECT_GT(loop.compressionRatio, 2.4f);
    ASSERT_TRUE(loop.fallback);
    EXPECT_EQ(loop.fallback->fallbackReason, "compressionRatioThreshold");
    EXPECT_TRUE(loop.fallback->needsFallback);
}

TEST(TextDecoder, TemperatureSamplingDrawsWithTheInjectedSource) {
    std::vector<float> twoWay(V, -INFINITY);
    twoWay[kHello] = std::log(3.0f);
    twoWay[kWorld] = 0; // hello 3/4, world 1/4
    for (auto [draw, expected] : {std::pair{0.1f, kHello}, std::pair{0.9f, kWorld}}) {
        ScriptedDecoder decoder;
        decoder.logitsAt = {{3, twoWay}};
        decoder.preferred = {{4, kEnd}};
        DecodingOptions options{.language = "en", .temperature = 0.2f, .withoutTimestamps = true};
        auto inputs = preparedInputs(decoder, options);
        GreedyTokenSampler sampler(Float16(1.0f), kEnd, options, [draw = draw] { return draw; });
        DecodingResult result = decode(decoder, *inputs, options, &sampler);
        ASSERT_EQ(result.tokens.size(), 6u);
        EXPECT_EQ(result.tokens[4], expected) << draw;
        // The sampler's own temperature is reported, rounded.
        EXPECT_FLOAT_EQ(result.temperature, 1.0f);
    }
    ScriptedDecoder decoder;
    decoder.preferred = {{3, kEnd}};
    DecodingOptions options{.language = "en"};
    auto inputs = preparedInputs(decoder, options);
    GreedyTokenSampler fallbackSampler(Float16(0.2f), kEnd, options);
    EXPECT_FLOAT_EQ(decode(decoder, *inputs, options, &fallbackSampler).temperature, 0.2f);
}

TEST(TextDecoder, StepLimits) {
    DecodingOptions options{.language = "en", .sampleLength = 10, .withoutTimestamps = true};
    ScriptedDecoder decoder;
    auto inputs = preparedInputs(decoder, options);
    markPrefilled(*inputs, 3);
    DecodingResult limited = decode(decoder, *inputs, options);
    EXPECT_EQ(decoder.fedPositions.size(), 7u);
    EXPECT_EQ(limited.tokens.size(), 4u + 7u + 1u);
    EXPECT_EQ(limited.tokens.back(), kEnd);

    // A step limit at the prefilled index runs no step at all.
    ScriptedDecoder idle;
    DecodingOptions none{.language = "en", .sampleLength = 3};
    auto idleInputs = preparedInputs(idle, none);
    markPrefilled(*idleInputs, 3);
    DecodingResult empty = decode(idle, *idleInputs, none);
    EXPECT_TRUE(idle.fedPositions.empty());
    EXPECT_EQ(empty.tokens, (std::vector<int>{kStart, kEnglish, kTranscribe, T, kEnd}));
    EXPECT_EQ(empty.timings->totalDecodingLoops, 0);
    EXPECT_EQ(empty.timings->firstTokenTime, std::numeric_limits<double>::max());
    EXPECT_FALSE(empty.cache->alignmentWeights);

    // The full context: 223 tokens, the next sample is not appended.
    ScriptedDecoder full;
    DecodingOptions fullOptions{
        .sampleLength = 224, .withoutTimestamps = true, .compressionRatioThreshold = std::nullopt};
    auto fullInputs = full.prepareDecoderInputs({kStart});
    DecodingResult all = decode(full, *fullInputs, fullOptions);
    EXPECT_EQ(all.tokens.size(), 224u);
    EXPECT_EQ(all.tokens.back(), kEnd);
    EXPECT_EQ(full.fedPositions.back(), 222);
}

TEST(TextDecoder, LanguageOfTheWindow) {
    ScriptedDecoder decoder;
    decoder.preferred = {{3, kHello}, {4, kEnd}};
    DecodingOptions russian{.language = "ru"};
    auto inputs = preparedInputs(decoder, russian);
    DecodingOptions unspecified;
    inputs->reset(0, 224);
    DecodingResult fromPrompt = decode(decoder, *inputs, unspecified);
    EXPECT_EQ(fromPrompt.language, "ru");
    EXPECT_EQ(fromPrompt.languageProbs, (std::unordered_map<std::string, float>{{"ru", 0.0f}}));

    inputs->reset(0, 224);
    DecodingResult requested = decode(decoder, *inputs, DecodingOptions{.language = "de"});
    EXPECT_EQ(requested.language, "de");
}

TEST(TextDecoder, PreviousTextStaysOutOfTheResultAndItsAlignmentRows) {
    ScriptedDecoder decoder;
    decoder.preferred = {{6, kHello}, {7, kEnd}};
    DecodingOptions options{.language = "en", .promptTokens = std::vector<int>{kWorld, kComma}};
    auto inputs = preparedInputs(decoder, options);
    ASSERT_EQ(inputs->initialPrompt,
              (std::vector<int>{kPrevious, kWorld, kComma, kStart, kEnglish, kTranscribe, T}));
    DecodingResult result = decode(decoder, *inputs, options);
    EXPECT_EQ(result.tokens, (std::vector<int>{kStart, kEnglish, kTranscribe, T, kHello, kEnd}));
    ASSERT_TRUE(result.cache && result.cache->alignmentWeights);
    const MultiArray& rows = *result.cache->alignmentWeights;
    EXPECT_EQ(rows.shape(), (std::vector<int64_t>{224 - 3, W}));
    // Row t of the result's weights is the row of the window's t-th token.
    for (int t = 1; t < 5; ++t) {
        for (int f = 0; f < W; ++f)
            EXPECT_EQ(rows.valueAt({t, f}), inputs->alignmentWeights.valueAt({t + 3, f}));
    }
    EXPECT_EQ(rows.valueAt({4, (4 + 3 - 1) % W}), 1.0);
}

TEST(TextDecoder, FiltersOfTheWindow) {
    // Blank suppression acts at the first sampled position; token
    // suppression ignores ids that are no token of the vocabulary.
    ScriptedDecoder decoder;
    std::vector<float> blankFirst(V, 0.0f);
    blankFirst[kEnd] = 9;
    blankFirst[7] = 8; // the blank
    blankFirst[kComma] = 7;
    blankFirst[kWorld] = 6;
    decoder.logitsAt = {{3, blankFirst}};
    decoder.preferred = {{4, kEnd}};
    DecodingOptions options{.language = "en",
                            .withoutTimestamps = true,
                            .suppressBlank = true,
                            .supressTokens = {-3, kComma, 5000, kEnd}};
    auto inputs = preparedInputs(decoder, options);
    DecodingResult result = decode(decoder, *inputs, options);
    EXPECT_EQ(result.tokens, (std::vector<int>{kStart, kEnglish, kTranscribe, 16, kWorld, kEnd}));

    auto filters = decoder.createLogitsFilters(options, 0, 4, ScriptedTokenizer(V));
    EXPECT_EQ(filters.size(), 2u);
}

TEST(TextDecoder, ConfiguredFiltersRunFirst) {
    struct NoHello : LogitsFiltering {
        MultiArray filterLogits(MultiArray logits, const std::vector<int>&) override {
            logits.setValue(kHello, -INFINITY);
            return logits;
        }
    };
    ScriptedDecoder decoder;
    decoder.setLogitsFilters(LogitsFilterList{std::make_shared<NoHello>()});
    std::vector<float> logits(V, 0.0f);
    logits[kHello] = 5;
    logits[kWorld] = 4;
    decoder.logitsAt = {{3, logits}};
    decoder.preferred = {{4, kEnd}};
    DecodingOptions options{.language = "en", .withoutTimestamps = true};
    auto inputs = preparedInputs(decoder, options);
    EXPECT_EQ(decode(decoder, *inputs, options).tokens[4], kWorld);
    EXPECT_EQ(decoder.createLogitsFilters(DecodingOptions{}, 0, 4, ScriptedTokenizer(V)).size(),
              2u);
}

TEST(TextDecoder, BrokenModelOutputs) {
    DecodingOptions options{.language = "en"};
    ScriptedDecoder noLogits;
    noLogits.withLogits = false;
    auto inputs = preparedInputs(noLogits, options);
    try {
        decode(noLogits, *inputs, options);
        FAIL();
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.kind(), WhisperError::Kind::decodingLogitsFailed);
        EXPECT_EQ(error.message(), "Unable to decode logits");
    }

    ScriptedDecoder noValues;
    noValues.withValueCache = false;
    auto valueInputs = preparedInputs(noValues, options);
    try {
        decode(noValues, *valueInputs, options);
        FAIL();
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.message(), "Invalid model output");
    }
}

TEST(TextDecoder, CallbackAnsweringFalseStopsTheWindowThroughItsFlag) {
    ScriptedDecoder decoder;
    decoder.otherwise = kHello;
    std::mutex mutex;
    std::condition_variable answered;
    int answers = 0;
    std::vector<size_t> reportedTokenCounts;
    // Each prediction waits until the report of the step before it has been
    // answered, so the stop request lands at a known step.
    decoder.beforePrediction = [&](int position) {
        std::unique_lock lock(mutex);
        answered.wait_for(lock, std::chrono::seconds(5), [&] { return answers >= position; });
    };
    DecodingCallback callback = [&](const TranscriptionProgress& progress) -> std::optional<bool> {
        std::lock_guard lock(mutex);
        reportedTokenCounts.push_back(progress.tokens.size());
        ++answers;
        answered.notify_all();
        return false;
    };
    DecodingOptions options{.language = "en", .withoutTimestamps = true};
    auto inputs = preparedInputs(decoder, options);
    DecodingResult result = decode(decoder, *inputs, options, nullptr, callback);
    // Steps 0-2 feed the prompt: their false answers (all in before step 3
    // runs) never stop the window. The answer to step 3 stores the stop flag
    // once its callback has returned: before step 4's stop check, or at the
    // latest before the report of step 4 is answered, which step 5 waits for.
    // So step 3, 4 or 5 is the last one.
    ASSERT_GE(decoder.fedPositions.size(), 4u);
    ASSERT_LE(decoder.fedPositions.size(), 6u);
    const size_t sampled = decoder.fedPositions.size() - 3;
    std::vector<int> expected{kStart, kEnglish, kTranscribe, 16};
    expected.insert(expected.end(), sampled, kHello);
    expected.push_back(kEnd);
    EXPECT_EQ(result.tokens, expected);
    std::lock_guard lock(mutex);
    ASSERT_GE(reportedTokenCounts.size(), 4u);
    EXPECT_EQ(reportedTokenCounts[0], 4u);
    EXPECT_EQ(reportedTokenCounts[3], 5u);
}

TEST(TextDecoder, LanguageDetection) {
    struct Case {
        int sampled;
        const char* language;
        const char* probabilityKey;
    };
    for (auto c : {Case{kRussian, "ru", "ru"}, Case{19, "en", "xx"}}) {
        ScriptedDecoder decoder;
        std::vector<float> logits(V, 0.0f);
        logits[kHello] = 50; // not a language: filtered out
        logits[c.sampled] = 5;
        decoder.logitsAt = {{0, logits}};
        auto inputs = decoder.prepareDecoderInputs({kStart});
        GreedyTokenSampler sampler(Float16(0.0f), kEnd, DecodingOptions{});
        DecodingResult result =
            decoder.detectLanguage(encoderOutput(), *inputs, sampler, {}, Float16(0.0f));
        EXPECT_EQ(result.language, c.language);
        ASSERT_EQ(result.languageProbs.size(), 1u);
        EXPECT_TRUE(result.languageProbs.count(c.probabilityKey));
        EXPECT_LT(result.languageProbs.at(c.probabilityKey), 0.0f);
        EXPECT_TRUE(result.tokens.empty());
        EXPECT_TRUE(result.text.empty());
        EXPECT_FALSE(result.cache);
        EXPECT_FALSE(result.fallback);
        // The detection writes no cache and leaves the inputs ready to decode.
        EXPECT_EQ(inputs->cacheLength.value(0), 0);
        EXPECT_EQ(inputs->inputIds.value(0), kStart);
        EXPECT_EQ(inputs->keyCache.valueAt({0, 0, 0, 0}), 0);
    }
}

TEST(TextDecoding, CacheSliceUpdates) {
    MultiArray key({1, 3, 1, 8}, ElementType::float16);
    MultiArray value({1, 3, 1, 8}, ElementType::float16);
    auto slice = [](int length, float base, std::vector<int64_t> strides = {}) {
        MultiArray s = strides.empty()
                           ? MultiArray({1, 3, 1, length}, ElementType::float16)
                           : MultiArray({1, 3, 1, length}, ElementType::float16, strides);
        for (int c = 0; c < 3; ++c) {
            for (int p = 0; p < length; ++p)
                s.setValueAt({0, c, 0, p}, base + 10 * c + p);
        }
        return s;
    };
    TextDecoding::updateKVCache(key, slice(1, 100), value, slice(1, 200, {12, 4, 1, 1}), 5);
    for (int c = 0; c < 3; ++c) {
        for (int p = 0; p < 8; ++p) {
            EXPECT_EQ(key.valueAt({0, c, 0, p}), p == 5 ? 100 + 10 * c : 0);
            EXPECT_EQ(value.valueAt({0, c, 0, p}), p == 5 ? 200 + 10 * c : 0);
        }
    }
    TextDecoding::updateKVCache(key, slice(3, 300), value, slice(3, 400), 0);
    EXPECT_EQ(key.valueAt({0, 2, 0, 2}), 322);
    EXPECT_EQ(value.valueAt({0, 1, 0, 1}), 411);
    EXPECT_EQ(key.valueAt({0, 0, 0, 3}), 0);

    // A cache laid out with gaps receives the values at its strided places.
    MultiArray strided({1, 3, 1, 8}, ElementType::float16, {48, 16, 8, 2});
    MultiArray stridedValue({1, 3, 1, 8}, ElementType::float16, {48, 16, 8, 2});
    TextDecoding::updateKVCache(strided, slice(1, 500), stridedValue, slice(1, 600), 7);
    EXPECT_EQ(strided.valueAt({0, 2, 0, 7}), 520);
    EXPECT_EQ(strided.data<uint16_t>()[2 * 16 + 7 * 2], Float16(520.0f).bits());
    EXPECT_EQ(stridedValue.valueAt({0, 1, 0, 7}), 610);

    // Slices reaching past the end of the cache are cut, never written beyond.
    TextDecoding::updateKVCache(key, slice(3, 700), value, slice(3, 800), 7);
    EXPECT_EQ(key.valueAt({0, 0, 0, 7}), 700);
    TextDecoding::updateKVCache(key, slice(1, 900), value, slice(1, 900), 8);
    TextDecoding::updateKVCache(key, slice(1, 900), value, slice(1, 900), -1);

    MultiArray alignment({4, 3}, ElementType::float16);
    MultiArray row({1, 3}, ElementType::float16);
    for (int j = 0; j < 3; ++j)
        row.setValue(j, j + 1);
    TextDecoding::updateAlignmentWeights(alignment, row, 0);
    TextDecoding::updateAlignmentWeights(alignment, row, 2);
    TextDecoding::updateAlignmentWeights(alignment, row, 3); // would be row 4: left out
    for (int j = 0; j < 3; ++j) {
        EXPECT_EQ(alignment.valueAt({0, j}), 0);
        EXPECT_EQ(alignment.valueAt({1, j}), j + 1);
        EXPECT_EQ(alignment.valueAt({2, j}), 0);
        EXPECT_EQ(alignment.valueAt({3, j}), j + 1);
    }
}

TEST(TextDecoder, CacheDumpStaysInsideTheArrays) {
    std::vector<std::string> lines;
    auto& logger = tessary::Logging::shared();
    const auto previousLevel = logger.logLevel();
    logger.setLoggingCallback([&](const std::string& line) { lines.push_back(line); });
    logger.setLogLevel(tessary::Logging::LogLevel::debug);

    ScriptedDecoder decoder;
    auto inputs = decoder.prepareDecoderInputs({kStart});
    decoder.debugCaches(*inputs, 0, 3);
    const size_t small = lines.size();
    lines.clear();
    decoder.debugCaches(*inputs, 0, 300);
    const size_t large = lines.size();
    lines.clear();
    // Arrays shorter than the dump: only their own positions are read.
    DecodingInputs tiny(
        {kStart}, MultiArray({1}, ElementType::int32), MultiArray({1}, ElementType::int32),
        MultiArray({1, 1, 1, 2}, ElementType::float16),
        MultiArray({1, 1, 1, 2}, ElementType::float16), MultiArray({2, 3}, ElementType::float16),
        MultiArray({1, 2}, ElementType::int32), MultiArray({1, 2}, ElementType::float16),
        MultiArray({1, 1, 1, 2}, ElementType::float16),
        MultiArray({1, 1, 1, 2}, ElementType::float16));
    decoder.debugCaches(tiny, 0, 300);
    const size_t bounded = lines.size();

    logger.setLoggingCallback({});
    logger.setLogLevel(previousLevel);
    EXPECT_EQ(small, 3u + 7u);
    EXPECT_EQ(large, 3u + 224u);
    EXPECT_EQ(bounded, 3u + 2u);
}
