#pragma once
// One pre-norm transformer block of the audio encoder:
// x += attn(ln(x)); x += fc2(gelu(fc1(ln(x)))).

#include "platform/ml/layers/MultiHeadAttention.h"
#include "platform/ml/ops/LayerNorm.h"
#include "platform/ml/ops/Linear.h"

#include <string>

namespace platform::ml {

struct EncoderLayer {
    LayerNorm attnLn;
    MultiHeadAttention attn;
    LayerNorm mlpLn;
    Linear fc1, fc2;

    static EncoderLayer load(const WeightFile& file, const std::string& prefix, int64_t width,
                             int64_t heads);

    /// Transforms x[rows, width] in place.
    void forward(float* x, size_t rows, Workspace& workspace) const;
};

} // namespace platform::ml
