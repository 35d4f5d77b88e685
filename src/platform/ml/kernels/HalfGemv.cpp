#include "platform/ml/kernels/HalfGemv.h"

#include "platform/ml/kernels/Activation.h"
#include "platform/ml/kernels/Convert.h"
#include "platform/ml/kernels/ThreadPool.h"
#include "platform/ml/kernels/VectorOps.h"

#include <algorithm>

namespace platform::ml::kernels {

namespace {

// Rows are handed out in blocks of this many: a block's results fill whole
// cache lines of y, so two threads never write the same line.
constexpr size_t kBlockRows = 16;
// A thread's share should take well over the cost of handing it out.
constexpr size_t kMinimumChunkBytes = size_t{32} << 10;
// Chunks per thread: more evens out threads that start late on a busy
// machine, fewer keeps each thread on one long run of rows.
constexpr size_t kChunksPerThread = 2;

// Rows [first, first + count) of one product, count at most kBlockRows.
// Each row is one dot product read front to back: a single stream that the
// hardware prefetcher follows (rows taken together as interleaved streams
// read markedly slower).
void runBlock(DotHalfFunction dot, const HalfProduct& p, size_t first, size_t count) {
    float values[kBlockRows];
    for (size_t i = 0; i < count; ++i) {
        float v = dot(p.x, p.weights + (first + i) * p.stride, p.columns);
        if (p.accumulate) v = p.y[first + i] + v;
        if (p.bias) v += p.bias[first + i];
        values[i] = v;
    }
    if (p.gelu) gelu(values, count);
    if (p.halfY) {
        floatToHalf(values, p.halfY + first, count);
    } else {
        std::copy_n(values, count, p.y + first);
    }
}

size_t blocksOf(const HalfProduct& p) {
    return (p.rows + kBlockRows - 1) / kBlockRows;
}

// Runs the flat block range [begin, end) across the products.
void runBlocks(DotHalfFunction dot, std::span<const HalfProduct> products, size_t begin,
               size_t end) {
    size_t base = 0;
    for (const HalfProduct& p : products) {
        const size_t blocks = blocksOf(p);
        const size_t from = std::max(begin, base), to = std::min(end, base + blocks);
        for (size_t b = from; b < to; ++b) {
            const size_t first = (b - base) * kBlockRows;
            runBlock(dot, p, first, std::min(kBlockRows, p.rows - first));
        }
        base += blocks;
        if (base >= end) break;
    }
}

} // namespace

void gemvHalf(std::span<const HalfProduct> products) {
    const DotHalfFunction dot = dotHalfKernel();
    size_t blocks = 0, bytes = 0;
    for (const HalfProduct& p : products) {
        blocks += blocksOf(p);
        bytes += p.rows * p.columns * sizeof(uint16_t);
    }
    if (blocks == 0) return;
    ThreadPool& pool = ThreadPool::shared();
    const size_t chunks =
        std::min({blocks, static_cast<size_t>(pool.threadCount()) * kChunksPerThread,
                  bytes / kMinimumChunkBytes});
    if (chunks <= 1) return runBlocks(dot, products, 0, blocks);
    pool.parallelChunks(blocks, chunks,
                        [&](size_t begin, size_t end) { runBlocks(dot, products, begin, end); });
}

void gemvHalf(size_t m, size_t n, const uint16_t* a, size_t lda, const float* x, float* y,
              bool accumulate) {
    HalfProduct product;
    product.weights = a;
    product.rows = m;
    product.columns = n;
    product.stride = lda;
    product.x = x;
    product.y = y;
    product.accumulate = accumulate;
    gemvHalf(std::span<const HalfProduct>(&product, 1));
}

} // namespace platform::ml::kernels
