#include "platform/ml/layers/DecoderLayer.h"

#include "platform/ml/kernels/Activation.h"
#include "platform/ml/kernels/Blas.h"
#include "platform/ml/kernels/Convert.h"
#include "platform/ml/kernels/ThreadPool.h"
#include "platform/ml/kernels/VectorOps.h"
#include "platform/ml/ops/Workspace.h"

#include <algorithm>
#include <cmath>

namespace platform::ml {

DecoderLayer DecoderLayer::load(const WeightFile& file, const std::string& prefix, int64_t width,
                                int64_t heads) {
    DecoderLayer layer;
    layer.attnLn = LayerNorm::load(file, prefix + ".attn_ln", width);
    layer.attn = MultiHeadAttention::load(file, prefix + ".attn", width, heads);
    layer.crossLn = LayerNorm::load(file, prefix + ".cross_attn_ln", width);
    layer.crossAttn = MultiHeadAttention::load(file, prefix + ".cross_attn", width, heads);
    layer.mlpLn = LayerNorm::load(file, prefix + ".mlp_ln", width);
    layer.fc1 = Linear::load(file, prefix + ".mlp.fc1", 4 * width, width);
    layer.fc2 = Linear::load(file, prefix + ".mlp.fc2", width, 4 * width);
    return layer;
}

void DecoderLayer::crossKeysValues(const float* encoder, size_t frames, float* scratch,
                                   float* weightScratch, uint16_t* keys, uint16_t* values) const {
    const size_t d = static_cast<size_t>(crossAttn.width);
    // K = W_k · E and V = W_v · E + b_v with E = [width][frames].
    for (const Linear* projection : {&crossAttn.key, &crossAttn.value}) {
        kernels::gemm(false, false, d, frames, d, 1.0f, projection->wideWeight(weightScratch), d,
                      encoder, frames, 0.0f, scratch, frames);
        uint16_t* out = projection == &crossAttn.key ? keys : values;
        kernels::ThreadPool::shared().parallelFor(d, 16, [&](size_t begin, size_t end) {
            for (size_t c = begin; c < end; ++c) {
                float* row = scratch + c * frames;
                if (!projection->bias.empty()) {
                    for (size_t t = 0; t < frames; ++t)
                        row[t] += projection->bias[c];
                }
                kernels::floatToHalf(row, out + c * frames, frames);
            }
        });
    }
}

void DecoderLayer::step(float* x, const DecoderCacheView& cache, const CrossAttentionMemory& memory,
                        uint16_t* newKey, uint16_t* newValue,
                        const std::vector<int64_t>& alignmentHeads, float* alignment,
                        Workspace& workspace) const {
    const size_t d = static_cast<size_t>(attn.width);
    const size_t heads = static_cast<size_t>(attn.heads);
    const size_t dh = d / heads;
    const size_t s = cache.positions;
    const float scale = 1.0f / std::sqrt(static_cast<float>(dh));
    auto& pool = kernels::ThreadPool::shared();
    Workspace::Scope scope(workspace);

    float* h = workspace.floats(d);
    float* q = workspace.floats(d);
    float* k = workspace.floats(d);
    float* v = workspace.floats(d);
    float* o = workspace.floats(d);
    float* selfScores = workspace.floats(heads * s);

    // Self-attention over the cache, with this token's key and value in the
    // positions the update mask marks.
    attnLn.forward(x, h, 1);
    const LinearCall projections[] = {{&attn.query, h, q}, {&attn.key, h, k}, {&attn.value, h, v}};
    forwardVectors(projections);
    kernels::floatToHalf(k, newKey, d);
    kernels::floatToHalf(v, newValue, d);
    kernels::halfToFloat(newKey, k, d);
    kernels::halfToFloat(newValue, v, d);
    pool.parallelFor(heads, 1, [&](size_t begin, size_t end) {
        for (size_t head = begin; head < end; ++head) {
            const size_t first = head * dh;
            float* scores = selfScores + head * s;
            std::fill(scores, scores + s, 0.0f);
            for (size_t i = 0; i < dh; ++i)
                kernels::axpyHalf(q[first + i] * scale, cache.keys + (first + i) * s, scores, s);
            const float own = kernels::dot(q + first, k + first, dh) * scale;
            for (size_t j = 0; j < s; ++j) {
                if (cache.replace[j]) scores[j] = own;
                scores[j] += cache.padding[j];
            }
            kernels::softmaxRows(scores, 1, s, s);
            float ownWeight = 0.0f;
            for (size_t j = 0; j < s; ++j) {
                if (cache.replace[j]) {
                    ownWeight += scores[j];
                    scores[j] = 0.0f;
                }
            }
            for (size_t i = 0; i < dh; ++i) {
                o[first + i] = kernels::dotHalf(scores, cache.values + (first + i) * s, s) +
                               ownWeight * v[first + i];
            }
        }
    });
    const LinearCall selfOut[] = {{&attn.out, o, x, true}};
    forwardVectors(selfOut);

    // Cross-attention over the encoder output, one head per task.
    crossLn.forward(x, h, 1);
    const LinearCall crossQuery[] = {{&crossAttn.query, h, q}};
    forwardVectors(crossQuery);
    const size_t frames = memory.frames;
    float* crossScores = workspace.floats(heads * frames);
    pool.parallelFor(heads, 1, [&](size_t begin, size_t end) {
        for (size_t head = begin; head < end; ++head) {
            const size_t first = head * dh;
            float* row = crossScores + head * frames;
            std::fill(row, row + frames, 0.0f);
            for (size_t i = 0; i < dh; ++i) {
                kernels::axpyHalf(q[first + i] * scale, memory.keys + (first + i) * frames, row,
                                  frames);
            }
            kernels::softmaxRows(row, 1, frames, frames);
            for (size_t i = 0; i < dh; ++i)
                o[first + i] = kernels::dotHalf(row, memory.values + (first + i) * frames, frames);
        }
    });
    for (int64_t head : alignmentHeads) {
        const float* row = crossScores + static_cast<size_t>(head) * frames;
        for (size_t t = 0; t < frames; ++t)
            alignment[t] += row[t];
    }
    const LinearCall crossOut[] = {{&crossAttn.out, o, x, true}};
    forwardVectors(crossOut);

    // Feed-forward.
    mlpLn.forward(x, h, 1);
    float* hidden = workspace.floats(4 * d);
    const LinearCall expand[] = {{&fc1, h, hidden, false, true}};
    forwardVectors(expand);
    const LinearCall contract[] = {{&fc2, hidden, x, true}};
    forwardVectors(contract);
}

} // namespace platform::ml
