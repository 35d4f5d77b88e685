#include "platform/ml/ops/Linear.h"

#include "platform/ml/WeightFile.h"
#include "platform/ml/kernels/Blas.h"

namespace platform::ml {

Linear Linear::load(const WeightFile& file, const std::string& name, int64_t out, int64_t in, bool withBias) {
    Linear layer;
    layer.in = in;
    layer.out = out;
    layer.weight = file.floats(name + ".weight", {out, in});
    if (withBias) layer.bias = file.floats(name + ".bias", {out});
    return layer;
}

void Linear::forward(const float* x, size_t rows, float* y) const {
    const size_t o = static_cast<size_t>(out), i = static_cast<size_t>(in);
    if (rows == 1) {
        kernels::gemv(o, i, 1.0f, weight.data(), i, x, 0.0f, y);
    } else {
        kernels::gemm(false, true, rows, o, i, 1.0f, x, i, weight.data(), i, 0.0f, y, o);
    }
    if (!bias.empty()) addBiasRows(y, rows, o, bias.data());
}

void Linear::forwardAccumulate(const float* x, size_t rows, float* y) const {
    const size_t o = static_cast<size_t>(out), i = static_cast<size_t>(in);
    if (rows == 1) {
        kernels::gemv(o, i, 1.0f, weight.data(), i, x, 1.0f, y);
    } else {
        kernels::gemm(false, true, rows, o, i, 1.0f, x, i, weight.data(), i, 1.0f, y, o);
    }
    if (!bias.empty()) addBiasRows(y, rows, o, bias.data());
}

void addBiasRows(float* y, size_t rows, size_t columns, const float* bias) {
    for (size_t r = 0; r < rows; ++r) {
        float* row = y + r * columns;
        for (size_t c = 0; c < columns; ++c) row[c] += bias[c];
    }
}

}  // namespace platform::ml
