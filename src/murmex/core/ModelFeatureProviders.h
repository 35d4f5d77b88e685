#pragma once
// The named inputs and outputs of the engine's four models. Input classes
// hold their arrays in settable fields and answer a prediction's questions
// for them; output classes wrap a prediction's result and read each feature
// from it by name.

#include "platform/ml/FeatureProvider.h"
#include "platform/ml/MultiArray.h"

#include <memory>
#include <optional>
#include <set>
#include <string>

namespace murmex {

class MelSpectrogramInput : public platform::ml::FeatureProvider {
public:
    explicit MelSpectrogramInput(platform::ml::MultiArray audio) : audio(std::move(audio)) {}
    std::set<std::string> featureNames() const override;
    std::optional<platform::ml::FeatureValue> featureValue(const std::string& name) const override;

    platform::ml::MultiArray audio;
};

class AudioEncoderInput : public platform::ml::FeatureProvider {
public:
    explicit AudioEncoderInput(platform::ml::MultiArray melspectrogram_features)
        : melspectrogram_features(std::move(melspectrogram_features)) {}
    std::set<std::string> featureNames() const override;
    std::optional<platform::ml::FeatureValue> featureValue(const std::string& name) const override;

    platform::ml::MultiArray melspectrogram_features;
};

class TextDecoderInput : public platform::ml::FeatureProvider {
public:
    TextDecoderInput(platform::ml::MultiArray input_ids, platform::ml::MultiArray cache_length,
                     platform::ml::MultiArray key_cache, platform::ml::MultiArray value_cache,
                     platform::ml::MultiArray kv_cache_update_mask,
                     platform::ml::MultiArray encoder_output_embeds,
                     platform::ml::MultiArray decoder_key_padding_mask)
        : input_ids(std::move(input_ids)), cache_length(std::move(cache_length)),
          key_cache(std::move(key_cache)), value_cache(std::move(value_cache)),
          kv_cache_update_mask(std::move(kv_cache_update_mask)),
          encoder_output_embeds(std::move(encoder_output_embeds)),
          decoder_key_padding_mask(std::move(decoder_key_padding_mask)) {}
    std::set<std::string> featureNames() const override;
    std::optional<platform::ml::FeatureValue> featureValue(const std::string& name) const override;

    platform::ml::MultiArray input_ids;
    platform::ml::MultiArray cache_length;
    platform::ml::MultiArray key_cache;
    platform::ml::MultiArray value_cache;
    platform::ml::MultiArray kv_cache_update_mask;
    platform::ml::MultiArray encoder_output_embeds;
    platform::ml::MultiArray decoder_key_padding_mask;
};

class TextDecoderCachePrefillInput : public platform::ml::FeatureProvider {
public:
    TextDecoderCachePrefillInput(platform::ml::MultiArray task, platform::ml::MultiArray language)
        : task(std::move(task)), language(std::move(language)) {}
    std::set<std::string> featureNames() const override;
    std::optional<platform::ml::FeatureValue> featureValue(const std::string& name) const override;

    platform::ml::MultiArray task;
    platform::ml::MultiArray language;
};

/// Shared part of the output classes: the wrapped provider and typed reads.
class ModelOutputFeatures : public platform::ml::FeatureProvider {
public:
    explicit ModelOutputFeatures(std::shared_ptr<const platform::ml::FeatureProvider> provider)
        : provider_(std::move(provider)) {}
    std::set<std::string> featureNames() const override { return provider_->featureNames(); }
    std::optional<platform::ml::FeatureValue> featureValue(const std::string& name) const override {
        return provider_->featureValue(name);
    }
    const std::shared_ptr<const platform::ml::FeatureProvider>& provider() const {
        return provider_;
    }

protected:
    /// The named feature's array; throws platform::ml::ModelError when the
    /// result lacks it or holds something else.
    platform::ml::MultiArray requiredArray(const std::string& name) const;
    std::optional<platform::ml::MultiArray> optionalArray(const std::string& name) const;

private:
    std::shared_ptr<const platform::ml::FeatureProvider> provider_;
};

class MelSpectrogramOutput : public ModelOutputFeatures {
public:
    using ModelOutputFeatures::ModelOutputFeatures;
    explicit MelSpectrogramOutput(platform::ml::MultiArray melspectrogram_features);
    platform::ml::MultiArray melspectrogramFeatures() const {
        return requiredArray("melspectrogram_features");
    }
};

class AudioEncoderOutput : public ModelOutputFeatures {
public:
    using ModelOutputFeatures::ModelOutputFeatures;
    explicit AudioEncoderOutput(platform::ml::MultiArray encoder_output_embeds);
    platform::ml::MultiArray encoder_output_embeds() const {
        return requiredArray("encoder_output_embeds");
    }
};

class TextDecoderOutput : public ModelOutputFeatures {
public:
    using ModelOutputFeatures::ModelOutputFeatures;
    /// Keeps the first three arrays; the index of the largest logit is not stored.
    TextDecoderOutput(platform::ml::MultiArray logits, platform::ml::MultiArray key_cache_updates,
                      platform::ml::MultiArray value_cache_updates,
                      platform::ml::MultiArray logits_max_index);
    platform::ml::MultiArray logits() const { return requiredArray("logits"); }
    platform::ml::MultiArray key_cache_updates() const {
        return requiredArray("key_cache_updates");
    }
    platform::ml::MultiArray value_cache_updates() const {
        return requiredArray("value_cache_updates");
    }
    /// Absent when the model has no alignment heads.
    std::optional<platform::ml::MultiArray> alignment_heads_weights() const {
        return optionalArray("alignment_heads_weights");
    }
};

class TextDecoderCachePrefillOutput : public ModelOutputFeatures {
public:
    using ModelOutputFeatures::ModelOutputFeatures;
    TextDecoderCachePrefillOutput(platform::ml::MultiArray key_cache_prefill,
                                  platform::ml::MultiArray value_cache_prefill);
    platform::ml::MultiArray key_cache_prefill() const {
        return requiredArray("key_cache_prefill");
    }
    platform::ml::MultiArray value_cache_prefill() const {
        return requiredArray("value_cache_prefill");
    }
};

} // namespace murmex
