#include "murmex/core/ModelFeatureProviders.h"
#include "platform/ml/DictionaryFeatureProvider.h"
#include "platform/ml/ModelError.h"

#include <gtest/gtest.h>

using platform::ml::ElementType;
using platform::ml::MultiArray;

namespace {

MultiArray array(std::vector<int64_t> shape, ElementType type = ElementType::float16) {
    return MultiArray(std::move(shape), type);
}

TEST(FeatureProvidersTest, InputsAnswerExactlyTheirOwnNames) {
    MultiArray ids = array({1}, ElementType::int32);
    murmex::TextDecoderInput input(ids, array({1}, ElementType::int32), array({1, 8, 1, 4}),
                                   array({1, 8, 1, 4}), array({1, 4}, ElementType::int32),
                                   array({1, 8, 1, 10}), array({1, 4}));
    EXPECT_EQ(input.featureNames(),
              (std::set<std::string>{"input_ids", "cache_length", "key_cache", "value_cache",
                                     "kv_cache_update_mask", "encoder_output_embeds",
                                     "decoder_key_padding_mask"}));
    EXPECT_FALSE(input.featureValue("logits"));
    auto value = input.featureValue("input_ids");
    ASSERT_TRUE(value);
    EXPECT_TRUE(value->multiArrayValue()->sharesStorageWith(ids));

    murmex::MelSpectrogramInput mel(array({480000}, ElementType::float32));
    EXPECT_FALSE(mel.featureValue("Audio"));
    MultiArray replacement = array({480000}, ElementType::float32);
    mel.audio = replacement;
    EXPECT_TRUE(mel.featureValue("audio")->multiArrayValue()->sharesStorageWith(replacement));

    murmex::TextDecoderCachePrefillInput prefill(array({1}, ElementType::int32),
                                                 array({1}, ElementType::int32));
    EXPECT_EQ(prefill.featureNames(), (std::set<std::string>{"task", "language"}));
    murmex::AudioEncoderInput encoder(array({1, 80, 1, 3000}));
    EXPECT_TRUE(encoder.featureValue("melspectrogram_features"));
}

TEST(FeatureProvidersTest, DecoderOutputKeepsThreeFeaturesAndOptionalAlignment) {
    MultiArray logits = array({1, 1, 5});
    murmex::TextDecoderOutput output(logits, array({1, 8, 1, 1}), array({1, 8, 1, 1}),
                                     array({1}, ElementType::int32));
    EXPECT_EQ(output.featureNames(),
              (std::set<std::string>{"logits", "key_cache_updates", "value_cache_updates"}));
    EXPECT_TRUE(output.logits().sharesStorageWith(logits));
    EXPECT_FALSE(output.alignment_heads_weights());

    auto provider = std::make_shared<platform::ml::DictionaryFeatureProvider>();
    provider->set("logits", logits);
    provider->set("alignment_heads_weights", array({1, 1500}));
    murmex::TextDecoderOutput wrapped(provider);
    ASSERT_TRUE(wrapped.alignment_heads_weights());
    EXPECT_EQ(wrapped.alignment_heads_weights()->shape(), (std::vector<int64_t>{1, 1500}));
    // A result without a required feature is reported, not read past.
    EXPECT_THROW(wrapped.key_cache_updates(), platform::ml::ModelError);
}

TEST(FeatureProvidersTest, StageOutputsWrapTheirArrays) {
    murmex::MelSpectrogramOutput mel(array({1, 80, 1, 3000}));
    EXPECT_EQ(mel.melspectrogramFeatures().shape(), (std::vector<int64_t>{1, 80, 1, 3000}));
    murmex::AudioEncoderOutput encoder(array({1, 384, 1, 1500}));
    EXPECT_EQ(encoder.encoder_output_embeds().shape()[1], 384);
    murmex::TextDecoderCachePrefillOutput prefill(array({1, 8, 1, 3}), array({1, 8, 1, 3}));
    EXPECT_EQ(prefill.featureNames(),
              (std::set<std::string>{"key_cache_prefill", "value_cache_prefill"}));
    EXPECT_EQ(prefill.value_cache_prefill().shape()[3], 3);
}

} // namespace
