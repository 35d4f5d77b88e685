#pragma once
// Whisper's text decoder, one token per prediction, with the key-value cache
// kept by the caller ("key_cache"/"value_cache" [1, layers·width, 1, S]).
// The token at "input_ids" sits at position "cache_length"; it attends to
// the cache positions the padding mask leaves open, with its own key and
// value standing in wherever "kv_cache_update_mask" is 1. Outputs are the
// logits [1, 1, vocabulary], the token's keys and values for every layer
// ([1, layers·width, 1, 1]) for the caller to write back, and, when the model
// names alignment heads, their averaged cross-attention [1, frames].
//
// Cross-attention keys and values depend only on the encoder output, so they
// are computed once per encoder output and reused by every later token of
// that window (a small cache keyed by the array's identity and version).

#include "platform/ml/layers/DecoderLayer.h"
#include "platform/ml/ops/LayerNorm.h"
#include "platform/ml/ops/Workspace.h"
#include "platform/ml/whisper/Stage.h"
#include "platform/ml/whisper/WhisperDimensions.h"

#include <list>
#include <memory>
#include <mutex>
#include <vector>

namespace platform::ml {

class TextDecoderStage : public Stage {
public:
    TextDecoderStage(const WhisperDimensions& dims, const WeightFile& weights);
    std::map<std::string, MultiArray> run(const std::map<std::string, MultiArray>& inputs,
                                          const PredictionOptions& options) const override;

    /// Encoder outputs whose cross-attention projections are kept at once.
    static constexpr size_t kCrossCacheCapacity = 4;

private:
    struct CrossMemory;
    std::shared_ptr<const CrossMemory> crossMemory(const MultiArray& encoderOutput,
                                                   bool allowCaching, Workspace& workspace) const;

    WhisperDimensions dims_;
    // [vocabulary, width], in the stored precision: read one row per token
    // and streamed once per token for the logits.
    WeightBuffer<float> tokenEmbedding_;
    WeightBuffer<uint16_t> tokenEmbeddingHalf_;
    WeightBuffer<float> positions_; // [n_text_ctx, width]
    std::vector<DecoderLayer> layers_;
    LayerNorm ln_;
    std::vector<std::vector<int64_t>> alignmentHeadsByLayer_;
    mutable WorkspacePool workspaces_;

    struct CrossEntry {
        uint64_t storage;
        uint64_t version;
        std::shared_ptr<const CrossMemory> memory;
    };
    mutable std::mutex crossMutex_;
    mutable std::list<CrossEntry> crossEntries_; // most recently used first

    // Output arrays of earlier predictions that no caller holds any more are
    // reused, so that steady decoding does not allocate.
    struct Outputs {
        MultiArray logits, keyUpdates, valueUpdates, alignment;
        bool isFree() const;
    };
    Outputs takeOutputs() const;
    mutable std::mutex outputsMutex_;
    mutable std::vector<Outputs> outputs_;
};

} // namespace platform::ml
