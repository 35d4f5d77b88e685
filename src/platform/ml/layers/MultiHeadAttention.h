#pragma once
// Multi-head attention with Whisper's projections: query, key (no bias),
// value and output, all [width, width].

#include "platform/ml/ops/Linear.h"

#include <cstdint>
#include <string>

namespace platform::ml {

class WeightFile;
class Workspace;

struct MultiHeadAttention {
    int64_t width = 0;
    int64_t heads = 0;
    Linear query, key, value, out;

    static MultiHeadAttention load(const WeightFile& file, const std::string& name, int64_t width,
                                   int64_t heads);

    int64_t headWidth() const { return width / heads; }

    /// Unmasked self-attention over `rows` positions of h[rows, width]; the
    /// projected result is added to residual[rows, width].
    void selfAttendAll(const float* h, size_t rows, float* residual, Workspace& workspace) const;
};

} // namespace platform::ml
