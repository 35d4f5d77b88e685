#include "platform/ml/layers/MultiHeadAttention.h"

#include "platform/ml/kernels/Activation.h"
#include "platform/ml/kernels/Blas.h"
#include "platform/ml/kernels/ThreadPool.h"
#include "platform/ml/ops/Workspace.h"

#include <cmath>

namespace platform::ml {

MultiHeadAttention MultiHeadAttention::load(const WeightFile& file, const std::string& name, int64_t width,
                                            int64_t heads) {
    MultiHeadAttention attention;
    attention.width = width;
    attention.heads = heads;
    attention.query = Linear::load(file, name + ".query", width, width);
    attention.key = Linear::load(file, name + ".key", width, width, false);
    attention.value = Linear::load(file, name + ".value", width, width);
    attention.out = Linear::load(file, name + ".out", width, width);
    return attention;
}

void MultiHeadAttention::selfAttendAll(const float* h, size_t rows, float* residual, Workspace& workspace) const {
    const size_t d = static_cast<size_t>(width);
    const size_t dh = static_cast<size_t>(headWidth());
    float* q = workspace.floats(rows * d);
    float* k = workspace.floats(rows * d);
    float* v = workspace.floats(rows * d);
    float* o = workspace.floats(rows * d);
    float* scores = workspace.floats(rows * rows);
    query.forward(h, rows, q);
    key.forward(h, rows, k);
    value.forward(h, rows, v);
    const float scale = 1.0f / std::sqrt(static_cast<float>(dh));
    for (int64_t head = 0; head < heads; ++head) {
        const size_t column = static_cast<size_t>(head) * dh;
        kernels::gemm(false, true, rows, rows, dh, scale, q + column, d, k + column, d, 0.0f, scores, rows);
        kernels::ThreadPool::shared().parallelFor(rows, 16, [&](size_t begin, size_t end) {
            kernels::softmaxRows(scores + begin * rows, end - begin, rows, rows);
        });
        kernels::gemm(false, false, rows, dh, rows, 1.0f, scores, rows, v + column, d, 0.0f, o + column, d);
    }
    out.forwardAccumulate(o, rows, residual);
}

}  // namespace platform::ml
