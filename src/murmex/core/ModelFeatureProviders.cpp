#include "murmex/core/ModelFeatureProviders.h"

#include "platform/ml/DictionaryFeatureProvider.h"
#include "platform/ml/ModelError.h"

namespace murmex {

using platform::ml::DictionaryFeatureProvider;
using platform::ml::FeatureValue;
using platform::ml::MultiArray;

namespace {

// Looks `name` up among (feature name, array) pairs; exact comparison.
template <size_t N>
std::optional<FeatureValue> lookup(const std::string& name,
                                   const std::pair<const char*, const MultiArray*> (&features)[N]) {
    for (const auto& [featureName, array] : features) {
        if (name == featureName) return FeatureValue(*array);
    }
    return std::nullopt;
}

std::shared_ptr<const DictionaryFeatureProvider>
dictionaryOf(std::initializer_list<std::pair<const char*, MultiArray>> features) {
    auto provider = std::make_shared<DictionaryFeatureProvider>();
    for (const auto& [name, array] : features)
        provider->set(name, FeatureValue(array));
    return provider;
}

} // namespace

std::set<std::string> MelSpectrogramInput::featureNames() const {
    return {"audio"};
}
std::optional<FeatureValue> MelSpectrogramInput::featureValue(const std::string& name) const {
    const std::pair<const char*, const MultiArray*> features[] = {{"audio", &audio}};
    return lookup(name, features);
}

std::set<std::string> AudioEncoderInput::featureNames() const {
    return {"melspectrogram_features"};
}
std::optional<FeatureValue> AudioEncoderInput::featureValue(const std::string& name) const {
    const std::pair<const char*, const MultiArray*> features[] = {
        {"melspectrogram_features", &melspectrogram_features}};
    return lookup(name, features);
}

std::set<std::string> TextDecoderInput::featureNames() const {
    return {"input_ids",
            "cache_length",
            "key_cache",
            "value_cache",
            "kv_cache_update_mask",
            "encoder_output_embeds",
            "decoder_key_padding_mask"};
}
std::optional<FeatureValue> TextDecoderInput::featureValue(const std::string& name) const {
    const std::pair<const char*, const MultiArray*> features[] = {
        {"input_ids", &input_ids},
        {"cache_length", &cache_length},
        {"key_cache", &key_cache},
        {"value_cache", &value_cache},
        {"kv_cache_update_mask", &kv_cache_update_mask},
        {"encoder_output_embeds", &encoder_output_embeds},
        {"decoder_key_padding_mask", &decoder_key_padding_mask},
    };
    return lookup(name, features);
}

std::set<std::string> TextDecoderCachePrefillInput::featureNames() const {
    return {"task", "language"};
}
std::optional<FeatureValue>
TextDecoderCachePrefillInput::featureValue(const std::string& name) const {
    const std::pair<const char*, const MultiArray*> features[] = {{"task", &task},
                                                                  {"language", &language}};
    return lookup(name, features);
}

MultiArray ModelOutputFeatures::requiredArray(const std::string& name) const {
    if (auto array = optionalArray(name)) return *array;
    throw platform::ml::ModelError(platform::ml::ModelError::Kind::invalidFormat,
                                   "Model output \"" + name + "\" is missing or not a multi-array");
}

std::optional<MultiArray> ModelOutputFeatures::optionalArray(const std::string& name) const {
    std::optional<FeatureValue> value = provider_ ? provider_->featureValue(name) : std::nullopt;
    return value ? value->multiArrayValue() : std::nullopt;
}

MelSpectrogramOutput::MelSpectrogramOutput(MultiArray melspectrogram_features)
    : ModelOutputFeatures(
          dictionaryOf({{"melspectrogram_features", std::move(melspectrogram_features)}})) {}

AudioEncoderOutput::AudioEncoderOutput(MultiArray encoder_output_embeds)
    : ModelOutputFeatures(
          dictionaryOf({{"encoder_output_embeds", std::move(encoder_output_embeds)}})) {}

TextDecoderOutput::TextDecoderOutput(MultiArray logits, MultiArray key_cache_updates,
                                     MultiArray value_cache_updates, MultiArray)
    : ModelOutputFeatures(dictionaryOf({{"logits", std::move(logits)},
                                        {"key_cache_updates", std::move(key_cache_updates)},
                                        {"value_cache_updates", std::move(value_cache_updates)}})) {
}

TextDecoderCachePrefillOutput::TextDecoderCachePrefillOutput(MultiArray key_cache_prefill,
                                                             MultiArray value_cache_prefill)
    : ModelOutputFeatures(dictionaryOf({{"key_cache_prefill", std::move(key_cache_prefill)},
                                        {"value_cache_prefill", std::move(value_cache_prefill)}})) {
}

} // namespace murmex
