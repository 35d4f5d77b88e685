#include "platform/ml/whisper/TextDecoderStage.h"

#include "platform/ml/ModelError.h"
#include "platform/ml/WeightFile.h"
#include "platform/ml/kernels/Blas.h"
#include "platform/ml/kernels/Convert.h"
#include "platform/ml/kernels/HalfGemv.h"
#include "platform/ml/kernels/ThreadPool.h"
#include "platform/ml/whisper/WhisperLayout.h"

#include <algorithm>

namespace platform::ml {

struct TextDecoderStage::CrossMemory {
    // [layers][width][frames] half floats each, every element written by the
    // projection (so left uninitialised until then).
    std::unique_ptr<uint16_t[]> keys;
    std::unique_ptr<uint16_t[]> values;
};

TextDecoderStage::TextDecoderStage(const WhisperDimensions& dims, const WeightFile& weights)
    : dims_(dims),
      positions_(weights.floats("positional_embedding", {dims.nTextCtx, dims.nTextState})),
      ln_(LayerNorm::load(weights, "ln", dims.nTextState)),
      alignmentHeadsByLayer_(static_cast<size_t>(dims.nTextLayer)) {
    if (dims.nAudioState != dims.nTextState) {
        throw ModelError(ModelError::Kind::invalidFormat,
                         "Invalid model file " + weights.path().string() +
                             ": the decoder width differs from the encoder width");
    }
    const std::vector<int64_t> embeddingShape = {dims.nVocab, dims.nTextState};
    if (weights.entry("token_embedding", embeddingShape).dataType == ElementType::float16) {
        tokenEmbeddingHalf_ = weights.halves("token_embedding", embeddingShape);
    } else {
        tokenEmbedding_ = weights.floats("token_embedding", embeddingShape);
    }
    for (int64_t i = 0; i < dims.nTextLayer; ++i) {
        layers_.push_back(DecoderLayer::load(weights, "layers." + std::to_string(i),
                                             dims.nTextState, dims.nTextHead));
    }
    for (auto [layer, head] : dims.alignmentHeads)
        alignmentHeadsByLayer_[static_cast<size_t>(layer)].push_back(head);
}

std::shared_ptr<const TextDecoderStage::CrossMemory>
TextDecoderStage::crossMemory(const MultiArray& encoderOutput, bool allowCaching,
                              Workspace& workspace) const {
    const uint64_t storage = encoderOutput.storageIdentifier();
    const uint64_t version = encoderOutput.version();
    if (allowCaching) {
        std::lock_guard lock(crossMutex_);
        for (auto it = crossEntries_.begin(); it != crossEntries_.end(); ++it) {
            if (it->storage == storage && it->version == version) {
                crossEntries_.splice(crossEntries_.begin(), crossEntries_, it);
                return it->memory;
            }
        }
    }

    const size_t d = static_cast<size_t>(dims_.nTextState);
    const size_t frames = static_cast<size_t>(dims_.nAudioCtx);
    // The encoder output is already [width][frames].
    float* encoder = workspace.floats(d * frames);
    float* scratch = workspace.floats(d * frames);
    float* weightScratch = workspace.floats(d * d);
    kernels::halfToFloat(encoderOutput.data<uint16_t>(), encoder, d * frames);
    auto memory = std::make_shared<CrossMemory>();
    memory->keys.reset(new uint16_t[layers_.size() * frames * d]);
    memory->values.reset(new uint16_t[layers_.size() * frames * d]);
    for (size_t l = 0; l < layers_.size(); ++l) {
        layers_[l].crossKeysValues(encoder, frames, scratch, weightScratch,
                                   memory->keys.get() + l * frames * d,
                                   memory->values.get() + l * frames * d);
    }
    if (allowCaching) {
        std::lock_guard lock(crossMutex_);
        // Another prediction may have computed the same memory meanwhile.
        std::erase_if(crossEntries_, [&](const CrossEntry& e) {
            return e.storage == storage && e.version == version;
        });
        crossEntries_.push_front(CrossEntry{storage, version, memory});
        if (crossEntries_.size() > kCrossCacheCapacity) crossEntries_.pop_back();
    }
    return memory;
}

bool TextDecoderStage::Outputs::isFree() const {
    return logits.isUniquelyReferenced() && keyUpdates.isUniquelyReferenced() &&
           valueUpdates.isUniquelyReferenced() &&
           (!alignment.isValid() || alignment.isUniquelyReferenced());
}

TextDecoderStage::Outputs TextDecoderStage::takeOutputs() const {
    constexpr size_t kKept = 4;
    std::lock_guard lock(outputsMutex_);
    for (const Outputs& outputs : outputs_) {
        if (outputs.isFree()) return outputs;
    }
    Outputs outputs{MultiArray({1, 1, dims_.nVocab}, ElementType::float16),
                    MultiArray({1, dims_.kvCacheEmbedDim(), 1, 1}, ElementType::float16),
                    MultiArray({1, dims_.kvCacheEmbedDim(), 1, 1}, ElementType::float16),
                    dims_.alignmentHeads.empty()
                        ? MultiArray()
                        : MultiArray({1, dims_.nAudioCtx}, ElementType::float16)};
    if (outputs_.size() < kKept) outputs_.push_back(outputs);
    return outputs;
}

std::map<std::string, MultiArray>
TextDecoderStage::run(const std::map<std::string, MultiArray>& inputs,
                      const PredictionOptions& options) const {
    const int32_t token = inputs.at(WhisperLayout::kInputIds).data<int32_t>()[0];
    const int32_t position = inputs.at(WhisperLayout::kCacheLength).data<int32_t>()[0];
    if (token < 0 || token >= dims_.nVocab) {
        throw ModelError(ModelError::Kind::invalidInput,
                         "Input \"input_ids\" holds the token " + std::to_string(token) +
                             ", outside the vocabulary of " + std::to_string(dims_.nVocab));
    }
    if (position < 0 || position >= dims_.nTextCtx) {
        throw ModelError(ModelError::Kind::invalidInput,
                         "Input \"cache_length\" holds the position " + std::to_string(position) +
                             ", outside 0..<" + std::to_string(dims_.nTextCtx));
    }
    const MultiArray& keyCache = inputs.at(WhisperLayout::kKeyCache);
    const MultiArray& valueCache = inputs.at(WhisperLayout::kValueCache);
    const MultiArray& updateMask = inputs.at(WhisperLayout::kUpdateMask);
    const MultiArray& paddingMask = inputs.at(WhisperLayout::kPaddingMask);

    const size_t d = static_cast<size_t>(dims_.nTextState);
    const size_t s = static_cast<size_t>(dims_.kvCacheLength);
    const size_t frames = static_cast<size_t>(dims_.nAudioCtx);
    const size_t vocabulary = static_cast<size_t>(dims_.nVocab);
    auto workspace = workspaces_.acquire();
    auto memory =
        crossMemory(inputs.at(WhisperLayout::kEncoderOutput), options.allowCaching, *workspace);

    float* x = workspace->floats(d);
    if (tokenEmbeddingHalf_.empty()) {
        std::copy_n(tokenEmbedding_.data() + static_cast<size_t>(token) * d, d, x);
    } else {
        kernels::halfToFloat(tokenEmbeddingHalf_.data() + static_cast<size_t>(token) * d, x, d);
    }
    const float* place = positions_.data() + static_cast<size_t>(position) * d;
    for (size_t c = 0; c < d; ++c)
        x[c] += place[c];

    float* padding = workspace->floats(s);
    kernels::halfToFloat(paddingMask.data<uint16_t>(), padding, s);
    auto* replace = reinterpret_cast<uint8_t*>(workspace->floats(s / sizeof(float) + 1));
    const int32_t* mask = updateMask.data<int32_t>();
    for (size_t j = 0; j < s; ++j)
        replace[j] = mask[j] != 0;

    float* alignment = workspace->floats(frames);
    std::fill(alignment, alignment + frames, 0.0f);

    Outputs out = takeOutputs();
    MultiArray& keyUpdates = out.keyUpdates;
    MultiArray& valueUpdates = out.valueUpdates;
    uint16_t* newKeys = keyUpdates.data<uint16_t>();
    uint16_t* newValues = valueUpdates.data<uint16_t>();
    const uint16_t* keys = keyCache.data<uint16_t>();
    const uint16_t* values = valueCache.data<uint16_t>();

    for (size_t l = 0; l < layers_.size(); ++l) {
        DecoderCacheView view{keys + l * d * s, values + l * d * s, s, padding, replace};
        CrossAttentionMemory cross{memory->keys.get() + l * frames * d,
                                   memory->values.get() + l * frames * d, frames};
        layers_[l].step(x, view, cross, newKeys + l * d, newValues + l * d,
                        alignmentHeadsByLayer_[l], alignment, *workspace);
    }
    ln_.forward(x, x, 1);

    if (tokenEmbeddingHalf_.empty()) {
        float* logits = workspace->floats(vocabulary);
        kernels::gemv(vocabulary, d, 1.0f, tokenEmbedding_.data(), d, x, 0.0f, logits);
        kernels::floatToHalf(logits, out.logits.data<uint16_t>(), vocabulary);
    } else {
        // The logits are rounded to half precision as each thread computes them.
        kernels::HalfProduct logits;
        logits.weights = tokenEmbeddingHalf_.data();
        logits.rows = vocabulary;
        logits.columns = logits.stride = d;
        logits.x = x;
        logits.halfY = out.logits.data<uint16_t>();
        kernels::gemvHalf({&logits, 1});
    }

    std::map<std::string, MultiArray> outputs = {{WhisperLayout::kLogits, out.logits},
                                                 {WhisperLayout::kKeyCacheUpdates, keyUpdates},
                                                 {WhisperLayout::kValueCacheUpdates, valueUpdates}};
    if (!dims_.alignmentHeads.empty()) {
        const float scale = 1.0f / static_cast<float>(dims_.alignmentHeads.size());
        for (size_t t = 0; t < frames; ++t)
            alignment[t] *= scale;
        kernels::floatToHalf(alignment, out.alignment.data<uint16_t>(), frames);
        outputs.emplace(WhisperLayout::kAlignmentWeights, out.alignment);
    }
    return outputs;
}

} // namespace platform::ml
