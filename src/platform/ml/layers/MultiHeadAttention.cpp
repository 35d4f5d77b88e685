#include "platform/ml/layers/MultiHeadAttention.h"

#include "platform/ml/kernels/Activation.h"
#include "platform/ml/kernels/Blas.h"
#include "platform/ml/kernels/ThreadPool.h"
#include "platform/ml/ops/Workspace.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace platform::ml {

MultiHeadAttention MultiHeadAttention::load(const WeightFile& file, const std::string& name,
                                            int64_t width, int64_t heads) {
    MultiHeadAttention attention;
    attention.width = width;
    attention.heads = heads;
    attention.query = Linear::load(file, name + ".query", width, width);
    attention.key = Linear::load(file, name + ".key", width, width, false);
    attention.value = Linear::load(file, name + ".value", width, width);
    attention.out = Linear::load(file, name + ".out", width, width);
    return attention;
}

void MultiHeadAttention::selfAttendAll(const float* h, size_t rows, float* residual,
                                       Workspace& workspace) const {
    const size_t d = static_cast<size_t>(width);
    const size_t dh = static_cast<size_t>(headWidth());
    float* q = workspace.floats(rows * d);
    float* k = workspace.floats(rows * d);
    float* v = workspace.floats(rows * d);
    float* o = workspace.floats(rows * d);
    query.forward(h, rows, q);
    key.forward(h, rows, k);
    value.forward(h, rows, v);
    const float scale = 1.0f / std::sqrt(static_cast<float>(dh));
    // Blocks of query rows per head, so that a block's scores stay in cache;
    // every thread works through blocks with its own score buffer.
    constexpr size_t kBlock = 64;
    const size_t blocks = (rows + kBlock - 1) / kBlock;
    const size_t tasks = static_cast<size_t>(heads) * blocks;
    auto& pool = kernels::ThreadPool::shared();
    const size_t slots = static_cast<size_t>(pool.threadCount());
    float* scores = workspace.floats(slots * kBlock * rows);
    std::atomic<size_t> next{0};
    pool.parallelFor(slots, 1, [&](size_t begin, size_t end) {
        for (size_t slot = begin; slot < end; ++slot) {
            float* s = scores + slot * kBlock * rows;
            for (size_t task = next++; task < tasks; task = next++) {
                const size_t column = (task / blocks) * dh;
                const size_t first = (task % blocks) * kBlock;
                const size_t count = std::min(kBlock, rows - first);
                kernels::gemmSerial(false, true, count, rows, dh, scale, q + first * d + column, d,
                                    k + column, d, 0.0f, s, rows);
                kernels::softmaxRows(s, count, rows, rows);
                kernels::gemmSerial(false, false, count, dh, rows, 1.0f, s, rows, v + column, d,
                                    0.0f, o + first * d + column, d);
            }
        }
    });
    out.forwardAccumulate(o, rows, residual);
}

} // namespace platform::ml
