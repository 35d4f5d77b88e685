#pragma once
// One pre-norm transformer block of the text decoder, run for a single token
// against a key-value cache that the caller keeps:
// x += self_attn(ln(x)); x += cross_attn(ln(x), encoder); x += mlp(ln(x)).

#include "platform/ml/layers/MultiHeadAttention.h"
#include "platform/ml/ops/LayerNorm.h"
#include "platform/ml/ops/Linear.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform::ml {

/// The caller's cache as one layer sees it.
struct DecoderCacheView {
    const uint16_t* keys = nullptr;   // [width][positions] half floats
    const uint16_t* values = nullptr; // [width][positions] half floats
    size_t positions = 0;
    const float* padding = nullptr;   // [positions], added to the attention scores
    const uint8_t* replace = nullptr; // [positions], 1 where this token's key and value stand in
};

/// Cross-attention keys and values of one encoder output, [width][frames]
/// half floats each: a head's rows are then contiguous runs over the frames.
struct CrossAttentionMemory {
    const uint16_t* keys = nullptr;
    const uint16_t* values = nullptr;
    size_t frames = 0;
};

struct DecoderLayer {
    LayerNorm attnLn;
    MultiHeadAttention attn;
    LayerNorm crossLn;
    MultiHeadAttention crossAttn;
    LayerNorm mlpLn;
    Linear fc1, fc2;

    static DecoderLayer load(const WeightFile& file, const std::string& prefix, int64_t width,
                             int64_t heads);

    /// Projects an encoder output laid out [width][frames] into this layer's
    /// cross-attention keys and values ([width][frames] half floats).
    /// `scratch` holds width·frames floats, `weightScratch` width·width.
    void crossKeysValues(const float* encoder, size_t frames, float* scratch, float* weightScratch,
                         uint16_t* keys, uint16_t* values) const;

    /// Runs one token x[width] in place. Writes the token's key and value,
    /// rounded to half precision, into newKey/newValue [width]; the rounded
    /// values are also what the token itself attends with, so that a later
    /// step reading them back from the cache sees the same numbers. For each
    /// head listed in `alignmentHeads`, adds its cross-attention weights to
    /// alignment[frames].
    void step(float* x, const DecoderCacheView& cache, const CrossAttentionMemory& memory,
              uint16_t* newKey, uint16_t* newValue, const std::vector<int64_t>& alignmentHeads,
              float* alignment, Workspace& workspace) const;
};

} // namespace platform::ml
