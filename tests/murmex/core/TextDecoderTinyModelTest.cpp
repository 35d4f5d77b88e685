// The decoder against a real (tiny, randomly weighted) model run by the
// model runtime: shapes, the cache round trip and the step limits hold
// whatever tokens the random weights produce.

#include "model_gen/ModelGenerator.h"
#include "murmex/core/TextDecoder.h"
#include "murmex/core/text/GreedyTokenSampler.h"
#include "murmex/core/text/SegmentSeeker.h"
#include "murmex/support/ScriptedTokenizer.h"
#include "platform/ml/Model.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <thread>
#include <unistd.h>

using namespace murmex;
using murmex::testing::ScriptedTokenizer;
using platform::ml::ElementType;
using platform::ml::MultiArray;
using platform::system::Float16;

namespace {

class TinyModel : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new std::filesystem::path(std::filesystem::temp_directory_path() /
                                            ("zv-decoder-tiny-" + std::to_string(::getpid())));
        modelgen::GeneratorOptions options;
        options.dimensions = modelgen::tinyTestDimensions();
        options.melSpectrogram = false;
        options.audioEncoder = false;
        options.prefill = platform::ml::WhisperPrefillSizes{};
        models_ = new modelgen::GeneratedModels(modelgen::generateWhisperModels(*folder_, options));
    }

    static void TearDownTestSuite() {
        std::error_code ignored;
        std::filesystem::remove_all(*folder_, ignored);
        delete models_;
        delete folder_;
    }

    void SetUp() override {
        decoder_ = std::make_shared<TextDecoder>();
        decoder_->loadModel(models_->textDecoder, platform::ml::ComputeUnits::cpuOnly, false);
        decoder_->setTokenizer(
            std::make_shared<ScriptedTokenizer>(ScriptedTokenizer::whisperLayout()));
        decoder_->setIsModelMultilingual(true);
    }

    static MultiArray encoderOutput(uint32_t seed) {
        MultiArray output({1, 16, 1, 1500}, ElementType::float16);
        std::mt19937 random(seed);
        std::normal_distribution<float> normal(0.0f, 1.0f);
        auto* values = output.data<Float16>();
        for (int64_t i = 0; i < output.count(); ++i)
            values[i] = Float16(normal(random));
        return output;
    }

    DecodingResult decode(DecodingInputs& inputs, const DecodingOptions& options,
                          uint32_t seed = 7) {
        GreedyTokenSampler sampler(Float16(options.temperature), special().endToken, options);
        return decoder_->decodeText(encoderOutput(seed), inputs, sampler, options, {});
    }

    const SpecialTokens& special() const { return decoder_->tokenizer()->specialTokens(); }

    static std::filesystem::path* folder_;
    static modelgen::GeneratedModels* models_;
    std::shared_ptr<TextDecoder> decoder_;
};

std::filesystem::path* TinyModel::folder_ = nullptr;
modelgen::GeneratedModels* TinyModel::models_ = nullptr;

// Keeps a window going until its step limit.
struct NoEnd : LogitsFiltering {
    explicit NoEnd(int end) : end(end) {}
    platform::ml::MultiArray filterLogits(platform::ml::MultiArray logits,
                                          const std::vector<int>&) override {
        logits.setValue(end, -INFINITY);
        return logits;
    }
    int end;
};

} // namespace

TEST_F(TinyModel, DimensionsComeFromTheLoadedModel) {
    EXPECT_EQ(decoder_->logitsSize(), 51865);
    EXPECT_EQ(decoder_->kvCacheEmbedDim(), 2 * 16);
    EXPECT_EQ(decoder_->kvCacheMaxSequenceLength(), 224);
    EXPECT_EQ(decoder_->windowSize(), 1500);
    EXPECT_EQ(decoder_->embedSize(), 16);
    EXPECT_TRUE(decoder_->supportsWordTimestamps());
    decoder_->unloadModel();
    EXPECT_FALSE(decoder_->logitsSize());
}

TEST_F(TinyModel, DecodingRunsToTheSampleLength) {
    decoder_->setLogitsFilters(LogitsFilterList{std::make_shared<NoEnd>(special().endToken)});
    DecodingOptions options{
        .language = "en", .sampleLength = 20, .firstTokenLogProbThreshold = std::nullopt};
    auto inputs = decoder_->prefillDecoderInputs(
        decoder_->prepareDecoderInputs({special().startOfTranscriptToken}), options);
    DecodingResult result = decode(*inputs, options);
    // Steps 0-19; the samples of steps 3-19 are kept.
    ASSERT_EQ(result.tokens.size(), 4u + 17u + 1u);
    EXPECT_EQ(result.tokens.back(), special().endToken);
    EXPECT_EQ(result.timings->totalDecodingLoops, 20);
    EXPECT_EQ(result.timings->totalKVUpdateRuns, 20);
    EXPECT_GT(result.timings->decodingPredictions, 0);
    ASSERT_TRUE(result.cache && result.cache->alignmentWeights);
    EXPECT_EQ(result.cache->alignmentWeights->shape(), (std::vector<int64_t>{224, 1500}));
    // Positions 0-19 hold keys now; the rest of the cache is untouched.
    double written = 0, untouched = 0;
    for (int c = 0; c < 32; ++c) {
        written += std::abs(inputs->keyCache.valueAt({0, c, 0, 19}));
        untouched += std::abs(inputs->keyCache.valueAt({0, c, 0, 20}));
    }
    EXPECT_GT(written, 0);
    EXPECT_EQ(untouched, 0);

    // The same window decodes to the same tokens at temperature 0.
    inputs->reset(0, 224);
    EXPECT_EQ(decode(*inputs, options).tokens, result.tokens);
}

TEST_F(TinyModel, DefaultWindowEndsWithinTheContext) {
    DecodingOptions options{.language = "ru", .firstTokenLogProbThreshold = std::nullopt};
    auto inputs = decoder_->prefillDecoderInputs(
        decoder_->prepareDecoderInputs({special().startOfTranscriptToken}), options);
    DecodingResult result = decode(*inputs, options, 11);
    ASSERT_GE(result.tokens.size(), 5u);
    EXPECT_LE(result.tokens.size(), 224u);
    EXPECT_EQ(result.tokens.front(), special().startOfTranscriptToken);
    EXPECT_EQ(result.tokens[1], 50263);
    EXPECT_EQ(result.tokens.back(), special().endToken);
    EXPECT_EQ(result.language, "ru");
    EXPECT_LE(result.timings->totalDecodingLoops, 223);
}

TEST_F(TinyModel, PrefillModelFillsTheCache) {
    auto prefill = std::make_shared<TextDecoderContextPrefill>();
    prefill->loadModel(models_->textDecoderContextPrefill, platform::ml::ComputeUnits::cpuOnly,
                       false);
    decoder_->setPrefillData(prefill);
    DecodingOptions options{
        .language = "en", .sampleLength = 12, .firstTokenLogProbThreshold = std::nullopt};
    auto inputs = decoder_->prefillDecoderInputs(
        decoder_->prepareDecoderInputs({special().startOfTranscriptToken}), options);
    EXPECT_EQ(inputs->cacheLength.value(0), 3);
    EXPECT_EQ(inputs->kvCacheUpdateMask.value(3), 1);
    EXPECT_EQ(inputs->kvCacheUpdateMask.value(2), 0);
    EXPECT_EQ(inputs->decoderKeyPaddingMask.value(3), 0);
    EXPECT_EQ(inputs->decoderKeyPaddingMask.value(4), -10000);
    EXPECT_EQ(inputs->keyCache.valueAt({0, 5, 0, 1}),
              inputs->prefillKeyCache.valueAt({0, 5, 0, 1}));

    decoder_->setLogitsFilters(LogitsFilterList{std::make_shared<NoEnd>(special().endToken)});
    DecodingResult result = decode(*inputs, options);
    EXPECT_EQ(result.timings->totalDecodingLoops, 12 - 3);
    EXPECT_EQ(result.tokens.size(), 4u + 9u + 1u);

    // Previous-text tokens turn the prefill off: the loop feeds the prompt.
    DecodingOptions withPrompt{.language = "en", .promptTokens = std::vector<int>{100, 200}};
    auto promptInputs = decoder_->prefillDecoderInputs(
        decoder_->prepareDecoderInputs({special().startOfTranscriptToken}), withPrompt);
    EXPECT_EQ(promptInputs->cacheLength.value(0), 0);
}

TEST_F(TinyModel, LanguageDetectionPicksALanguageToken) {
    auto inputs = decoder_->prepareDecoderInputs({special().startOfTranscriptToken});
    GreedyTokenSampler sampler(Float16(0.0f), special().endToken, DecodingOptions{});
    DecodingResult result =
        decoder_->detectLanguage(encoderOutput(3), *inputs, sampler, {}, Float16(0.0f));
    EXPECT_TRUE(result.language == "en" || result.language == "ru") << result.language;
    EXPECT_EQ(result.languageProbs.size(), 1u);
    EXPECT_EQ(inputs->cacheLength.value(0), 0);
}

TEST_F(TinyModel, WordTimestampsFromTheModelsAlignment) {
    decoder_->setLogitsFilters(LogitsFilterList{std::make_shared<NoEnd>(special().endToken)});
    DecodingOptions options{.language = "en",
                            .sampleLength = 40,
                            .wordTimestamps = true,
                            .firstTokenLogProbThreshold = std::nullopt};
    auto inputs = decoder_->prefillDecoderInputs(
        decoder_->prepareDecoderInputs({special().startOfTranscriptToken}), options);
    DecodingResult result = decode(*inputs, options, 5);
    ScriptedTokenizer tokenizer = ScriptedTokenizer::whisperLayout();
    SegmentSeeker seeker;
    auto [seek, segments] =
        seeker.findSeekPointAndSegments(result, options, 0, 0, 480000, 16000,
                                        special().timeTokenBegin, special().endToken, tokenizer);
    ASSERT_TRUE(segments);
    auto timed = seeker.addWordTimestamps(*segments, *result.cache->alignmentWeights, tokenizer, 0,
                                          480000, "\"'([{-", "\"'.,!?:)]}", 0.0f, options, {});
    ASSERT_TRUE(timed);
    ASSERT_EQ(timed->size(), segments->size());
    size_t words = 0;
    for (const auto& segment : *timed) {
        ASSERT_TRUE(segment.words);
        for (const auto& word : *segment.words) {
            EXPECT_LE(word.start, word.end);
            EXPECT_GE(word.start, 0.0f);
            EXPECT_LE(word.end, 30.0f);
            for (int token : word.tokens)
                EXPECT_LT(token, special().specialTokenBegin);
            ++words;
        }
    }
    EXPECT_GT(words, 0u);
}

TEST_F(TinyModel, WindowsDecodedAtOnceShareOneDecoder) {
    // Language detection builds its filter on first use; windows decoding
    // at the same time each keep their own stop flag.
    DecodingOptions options{
        .language = "en", .sampleLength = 30, .firstTokenLogProbThreshold = std::nullopt};
    auto single = decoder_->prefillDecoderInputs(
        decoder_->prepareDecoderInputs({special().startOfTranscriptToken}), options);
    const std::vector<int> expectedTokens = decode(*single, options).tokens;
    auto probe = decoder_->prepareDecoderInputs({special().startOfTranscriptToken});
    GreedyTokenSampler probeSampler(Float16(0.0f), special().endToken, DecodingOptions{});
    const std::string expectedLanguage =
        decoder_->detectLanguage(encoderOutput(3), *probe, probeSampler, {}, Float16(0.0f))
            .language;
    decoder_->unloadModel();
    decoder_->loadModel(models_->textDecoder, platform::ml::ComputeUnits::cpuOnly, false);

    std::vector<std::vector<int>> tokens(4);
    std::vector<std::string> languages(4);
    std::vector<std::thread> workers;
    for (size_t w = 0; w < 4; ++w) {
        workers.emplace_back([&, w] {
            auto inputs = decoder_->prepareDecoderInputs({special().startOfTranscriptToken});
            GreedyTokenSampler sampler(Float16(0.0f), special().endToken, DecodingOptions{});
            languages[w] =
                decoder_->detectLanguage(encoderOutput(3), *inputs, sampler, {}, Float16(0.0f))
                    .language;
            inputs = decoder_->prefillDecoderInputs(inputs, options);
            tokens[w] = decode(*inputs, options).tokens;
        });
    }
    for (auto& worker : workers)
        worker.join();
    for (size_t w = 0; w < 4; ++w) {
        EXPECT_EQ(languages[w], expectedLanguage);
        EXPECT_EQ(tokens[w], expectedTokens);
    }
}
