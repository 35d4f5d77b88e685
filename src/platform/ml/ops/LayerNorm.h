#pragma once
// Layer normalisation with learned scale and shift.

#include "platform/ml/WeightBuffer.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::ml {

class WeightFile;

struct LayerNorm {
    WeightBuffer<float> gamma;
    WeightBuffer<float> beta;

    /// Reads "<name>.weight" and "<name>.bias" of `width` values.
    static LayerNorm load(const WeightFile& file, const std::string& name, int64_t width);

    /// y[rows, width] = norm(x[rows, width]); x and y may alias.
    void forward(const float* x, float* y, size_t rows) const;
};

} // namespace platform::ml
