#include "platform/ml/whisper/WhisperLayout.h"

namespace platform::ml {

namespace {

FeatureDescription feature(const char* name, std::vector<int64_t> shape, ElementType type,
                           bool optional = false) {
    FeatureDescription description;
    description.name = name;
    description.type = FeatureType::multiArray;
    description.isOptional = optional;
    description.multiArrayConstraint = MultiArrayConstraint{std::move(shape), type};
    return description;
}

using WeightList = std::vector<std::pair<std::string, std::vector<int64_t>>>;

void addLinear(WeightList& list, const std::string& name, int64_t out, int64_t in,
               bool bias = true) {
    list.push_back({name + ".weight", {out, in}});
    if (bias) list.push_back({name + ".bias", {out}});
}

void addNorm(WeightList& list, const std::string& name, int64_t width) {
    list.push_back({name + ".weight", {width}});
    list.push_back({name + ".bias", {width}});
}

void addAttention(WeightList& list, const std::string& name, int64_t width) {
    addLinear(list, name + ".query", width, width);
    addLinear(list, name + ".key", width, width, false);
    addLinear(list, name + ".value", width, width);
    addLinear(list, name + ".out", width, width);
}

void addMlp(WeightList& list, const std::string& prefix, int64_t width) {
    addNorm(list, prefix + ".mlp_ln", width);
    addLinear(list, prefix + ".mlp.fc1", 4 * width, width);
    addLinear(list, prefix + ".mlp.fc2", width, 4 * width);
}

} // namespace

std::string_view WhisperLayout::kindName(WhisperStage stage) {
    switch (stage) {
    case WhisperStage::melSpectrogram:
        return "MelSpectrogram";
    case WhisperStage::audioEncoder:
        return "AudioEncoder";
    case WhisperStage::textDecoder:
        return "TextDecoder";
    case WhisperStage::textDecoderContextPrefill:
        return "TextDecoderContextPrefill";
    }
    return "";
}

std::optional<WhisperStage> WhisperLayout::stageForKind(std::string_view kind) {
    for (WhisperStage stage :
         {WhisperStage::melSpectrogram, WhisperStage::audioEncoder, WhisperStage::textDecoder,
          WhisperStage::textDecoderContextPrefill}) {
        if (kindName(stage) == kind) return stage;
    }
    return std::nullopt;
}

std::vector<FeatureDescription>
WhisperLayout::inputs(WhisperStage stage, const WhisperDimensions& dims, const PrefillSizes&) {
    const int64_t e = dims.kvCacheEmbedDim(), s = dims.kvCacheLength;
    switch (stage) {
    case WhisperStage::melSpectrogram:
        return {feature(kAudio, {dims.nSamples()}, ElementType::float32)};
    case WhisperStage::audioEncoder:
        return {feature(kMelFeatures, {1, dims.nMels, 1, dims.nFrames()}, ElementType::float16)};
    case WhisperStage::textDecoder:
        return {
            feature(kInputIds, {1}, ElementType::int32),
            feature(kCacheLength, {1}, ElementType::int32),
            feature(kKeyCache, {1, e, 1, s}, ElementType::float16),
            feature(kValueCache, {1, e, 1, s}, ElementType::float16),
            feature(kUpdateMask, {1, s}, ElementType::int32),
            feature(kEncoderOutput, {1, dims.nAudioState, 1, dims.nAudioCtx}, ElementType::float16),
            feature(kPaddingMask, {1, s}, ElementType::float16)};
    case WhisperStage::textDecoderContextPrefill:
        return {feature(kTask, {1}, ElementType::int32),
                feature(kLanguage, {1}, ElementType::int32)};
    }
    return {};
}

std::vector<FeatureDescription> WhisperLayout::outputs(WhisperStage stage,
                                                       const WhisperDimensions& dims,
                                                       const PrefillSizes& prefill) {
    const int64_t e = dims.kvCacheEmbedDim();
    switch (stage) {
    case WhisperStage::melSpectrogram:
        return {feature(kMelFeatures, {1, dims.nMels, 1, dims.nFrames()}, ElementType::float16)};
    case WhisperStage::audioEncoder:
        return {feature(kEncoderOutput, {1, dims.nAudioState, 1, dims.nAudioCtx},
                        ElementType::float16)};
    case WhisperStage::textDecoder: {
        std::vector<FeatureDescription> list = {
            feature(kLogits, {1, 1, dims.nVocab}, ElementType::float16),
            feature(kKeyCacheUpdates, {1, e, 1, 1}, ElementType::float16),
            feature(kValueCacheUpdates, {1, e, 1, 1}, ElementType::float16)};
        if (!dims.alignmentHeads.empty()) {
            list.push_back(feature(kAlignmentWeights, {1, dims.nAudioCtx}, ElementType::float16));
        }
        return list;
    }
    case WhisperStage::textDecoderContextPrefill:
        return {feature(kKeyCachePrefill, {1, e, 1, prefill.length}, ElementType::float16),
                feature(kValueCachePrefill, {1, e, 1, prefill.length}, ElementType::float16)};
    }
    return {};
}

std::vector<std::pair<std::string, std::vector<int64_t>>>
WhisperLayout::weights(WhisperStage stage, const WhisperDimensions& dims,
                       const PrefillSizes& prefill) {
    WeightList list;
    switch (stage) {
    case WhisperStage::melSpectrogram:
        list.push_back({"mel_filters", {dims.nMels, WhisperDimensions::kFrequencyBins}});
        break;
    case WhisperStage::audioEncoder: {
        const int64_t d = dims.nAudioState;
        list.push_back({"conv1.weight", {d, dims.nMels, 3}});
        list.push_back({"conv1.bias", {d}});
        list.push_back({"conv2.weight", {d, d, 3}});
        list.push_back({"conv2.bias", {d}});
        list.push_back({"positional_embedding", {dims.nAudioCtx, d}});
        for (int64_t i = 0; i < dims.nAudioLayer; ++i) {
            std::string prefix = "layers." + std::to_string(i);
            addNorm(list, prefix + ".attn_ln", d);
            addAttention(list, prefix + ".attn", d);
            addMlp(list, prefix, d);
        }
        addNorm(list, "ln_post", d);
        break;
    }
    case WhisperStage::textDecoder: {
        const int64_t d = dims.nTextState;
        list.push_back({"token_embedding", {dims.nVocab, d}});
        list.push_back({"positional_embedding", {dims.nTextCtx, d}});
        for (int64_t i = 0; i < dims.nTextLayer; ++i) {
            std::string prefix = "layers." + std::to_string(i);
            addNorm(list, prefix + ".attn_ln", d);
            addAttention(list, prefix + ".attn", d);
            addNorm(list, prefix + ".cross_attn_ln", d);
            addAttention(list, prefix + ".cross_attn", d);
            addMlp(list, prefix, d);
        }
        addNorm(list, "ln", d);
        break;
    }
    case WhisperStage::textDecoderContextPrefill: {
        const int64_t e = dims.kvCacheEmbedDim();
        list.push_back({"key_cache_prefill", {2, prefill.languages, e, prefill.length}});
        list.push_back({"value_cache_prefill", {2, prefill.languages, e, prefill.length}});
        break;
    }
    }
    return list;
}

ModelManifest WhisperLayout::manifest(WhisperStage stage, const WhisperDimensions& dims,
                                      ElementType weightType, const PrefillSizes& prefill) {
    ModelManifest manifest;
    manifest.kind = std::string(kindName(stage));
    manifest.inputs = inputs(stage, dims, prefill);
    manifest.outputs = outputs(stage, dims, prefill);
    dims.writeTo(manifest);
    if (stage == WhisperStage::textDecoderContextPrefill) {
        manifest.hyperParameters["prefill_first_language_token"] = {prefill.firstLanguageToken};
        manifest.hyperParameters["prefill_languages"] = {prefill.languages};
        manifest.hyperParameters["prefill_length"] = {prefill.length};
    }
    for (auto& [name, shape] : weights(stage, dims, prefill)) {
        WeightEntry entry;
        entry.name = name;
        entry.shape = shape;
        entry.dataType = stage == WhisperStage::melSpectrogram ? ElementType::float32 : weightType;
        manifest.weights.push_back(std::move(entry));
    }
    return manifest;
}

} // namespace platform::ml
