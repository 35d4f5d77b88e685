#include "platform/ml/whisper/WhisperDimensions.h"

#include "platform/ml/ModelError.h"

namespace platform::ml {

namespace {

struct Field {
    const char* name;
    int64_t WhisperDimensions::*member;
    int64_t maximum;
};

constexpr Field kFields[] = {
    {"n_mels", &WhisperDimensions::nMels, 1024},
    {"n_audio_ctx", &WhisperDimensions::nAudioCtx, 1 << 16},
    {"n_audio_state", &WhisperDimensions::nAudioState, 1 << 16},
    {"n_audio_head", &WhisperDimensions::nAudioHead, 1024},
    {"n_audio_layer", &WhisperDimensions::nAudioLayer, 1024},
    {"n_vocab", &WhisperDimensions::nVocab, 1 << 24},
    {"n_text_ctx", &WhisperDimensions::nTextCtx, 1 << 16},
    {"n_text_state", &WhisperDimensions::nTextState, 1 << 16},
    {"n_text_head", &WhisperDimensions::nTextHead, 1024},
    {"n_text_layer", &WhisperDimensions::nTextLayer, 1024},
    {"kv_cache_length", &WhisperDimensions::kvCacheLength, 1 << 16},
};

} // namespace

void WhisperDimensions::writeTo(ModelManifest& manifest) const {
    for (const Field& field : kFields)
        manifest.hyperParameters[field.name] = {this->*field.member};
    std::vector<int64_t> heads;
    for (auto [layer, head] : alignmentHeads) {
        heads.push_back(layer);
        heads.push_back(head);
    }
    if (!heads.empty()) manifest.hyperParameters["alignment_heads"] = heads;
}

WhisperDimensions WhisperDimensions::readFrom(const ModelManifest& manifest,
                                              const std::string& file) {
    auto fail = [&](const std::string& problem) -> ModelError {
        return ModelError(ModelError::Kind::invalidFormat,
                          "Invalid model file " + file + ": " + problem);
    };
    WhisperDimensions dims;
    for (const Field& field : kFields) {
        auto value = manifest.integer(field.name);
        if (!value) continue; // stages read only the sizes they need; checked below
        if (*value <= 0 || *value > field.maximum) {
            throw fail(std::string("hyper-parameter \"") + field.name + "\" is out of range");
        }
        dims.*field.member = *value;
    }
    if (dims.nAudioState % dims.nAudioHead != 0 || dims.nTextState % dims.nTextHead != 0) {
        throw fail("the model width is not a multiple of the head count");
    }
    if (dims.kvCacheLength > dims.nTextCtx)
        throw fail("\"kv_cache_length\" exceeds \"n_text_ctx\"");
    auto heads = manifest.hyperParameters.find("alignment_heads");
    if (heads != manifest.hyperParameters.end()) {
        if (heads->second.size() % 2 != 0)
            throw fail("\"alignment_heads\" must hold (layer, head) pairs");
        for (size_t i = 0; i < heads->second.size(); i += 2) {
            int64_t layer = heads->second[i], head = heads->second[i + 1];
            if (layer < 0 || layer >= dims.nTextLayer || head < 0 || head >= dims.nTextHead) {
                throw fail("\"alignment_heads\" names a layer or head the decoder does not have");
            }
            dims.alignmentHeads.emplace_back(layer, head);
        }
    }
    return dims;
}

} // namespace platform::ml
