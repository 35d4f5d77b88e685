#include "platform/ml/kernels/HalfGemv.h"

#include "platform/ml/kernels/Activation.h"
#include "platform/ml/kernels/Avx512.h"
#include "platform/ml/kernels/Convert.h"
#include "platform/ml/kernels/CpuFeatures.h"
#include "platform/ml/kernels/ThreadPool.h"
#include "platform/system/Float16.h"

#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace platform::ml::kernels {

using platform::system::Float16;

namespace {

// Rows are handed out in blocks of this many: a block's results fill whole
// cache lines of y, so two threads never write the same line.
constexpr size_t kBlockRows = 16;
// A thread's share should take well over the cost of handing it out.
constexpr size_t kMinimumChunkBytes = size_t{32} << 10;
// Chunks per thread: more evens out threads that start late on a busy
// machine, fewer keeps each thread on one long run of rows.
constexpr size_t kChunksPerThread = 2;

// out[r] = row r of A · x for `rows` rows.
using RowsKernel = void (*)(const uint16_t* a, size_t stride, size_t rows, size_t n, const float* x,
                            float* out);

void rowsScalar(const uint16_t* a, size_t stride, size_t rows, size_t n, const float* x,
                float* out) {
    for (size_t r = 0; r < rows; ++r) {
        const uint16_t* w = a + r * stride;
        float sum = 0;
        for (size_t j = 0; j < n; ++j)
            sum += x[j] * Float16::toFloat(w[j]);
        out[r] = sum;
    }
}

#if defined(__x86_64__)
__attribute__((target("avx2,fma,f16c"))) inline __m256 load8(const uint16_t* p) {
    return _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

__attribute__((target("avx2,fma,f16c"))) inline float sum8(__m256 v) {
    __m128 low = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
    low = _mm_add_ps(low, _mm_movehl_ps(low, low));
    low = _mm_add_ss(low, _mm_movehdup_ps(low));
    return _mm_cvtss_f32(low);
}

// One row at a time, front to back, with four independent sums.
__attribute__((target("avx2,fma,f16c"))) void
rowsAvx2(const uint16_t* a, size_t stride, size_t rows, size_t n, const float* x, float* out) {
    for (size_t r = 0; r < rows; ++r) {
        const uint16_t* w = a + r * stride;
        __m256 s0 = _mm256_setzero_ps(), s1 = _mm256_setzero_ps(), s2 = _mm256_setzero_ps(),
               s3 = _mm256_setzero_ps();
        size_t j = 0;
        for (; j + 32 <= n; j += 32) {
            s0 = _mm256_fmadd_ps(load8(w + j), _mm256_loadu_ps(x + j), s0);
            s1 = _mm256_fmadd_ps(load8(w + j + 8), _mm256_loadu_ps(x + j + 8), s1);
            s2 = _mm256_fmadd_ps(load8(w + j + 16), _mm256_loadu_ps(x + j + 16), s2);
            s3 = _mm256_fmadd_ps(load8(w + j + 24), _mm256_loadu_ps(x + j + 24), s3);
        }
        for (; j + 8 <= n; j += 8)
            s0 = _mm256_fmadd_ps(load8(w + j), _mm256_loadu_ps(x + j), s0);
        float sum = sum8(_mm256_add_ps(_mm256_add_ps(s0, s1), _mm256_add_ps(s2, s3)));
        for (; j < n; ++j)
            sum += x[j] * Float16::toFloat(w[j]);
        out[r] = sum;
    }
}

__attribute__((target("avx512f"))) void rowsAvx512(const uint16_t* a, size_t stride, size_t rows,
                                                   size_t n, const float* x, float* out) {
    for (size_t r = 0; r < rows; ++r) {
        const uint16_t* w = a + r * stride;
        __m512 s0 = _mm512_setzero_ps(), s1 = _mm512_setzero_ps(), s2 = _mm512_setzero_ps(),
               s3 = _mm512_setzero_ps();
        size_t j = 0;
        for (; j + 64 <= n; j += 64) {
            s0 = _mm512_fmadd_ps(loadHalves16(w + j), _mm512_loadu_ps(x + j), s0);
            s1 = _mm512_fmadd_ps(loadHalves16(w + j + 16), _mm512_loadu_ps(x + j + 16), s1);
            s2 = _mm512_fmadd_ps(loadHalves16(w + j + 32), _mm512_loadu_ps(x + j + 32), s2);
            s3 = _mm512_fmadd_ps(loadHalves16(w + j + 48), _mm512_loadu_ps(x + j + 48), s3);
        }
        for (; j + 16 <= n; j += 16)
            s0 = _mm512_fmadd_ps(loadHalves16(w + j), _mm512_loadu_ps(x + j), s0);
        float sum = sum16(_mm512_add_ps(_mm512_add_ps(s0, s1), _mm512_add_ps(s2, s3)));
        for (; j < n; ++j)
            sum += x[j] * Float16::toFloat(w[j]);
        out[r] = sum;
    }
}
#endif

RowsKernel rowsKernel() {
#if defined(__x86_64__)
    switch (vectorLevel()) {
    case VectorLevel::avx512:
        return rowsAvx512;
    case VectorLevel::avx2:
        return rowsAvx2;
    case VectorLevel::scalar:
        break;
    }
#endif
    return rowsScalar;
}

// Rows [first, first + count) of one product, count at most kBlockRows.
void runBlock(RowsKernel kernel, const HalfProduct& p, size_t first, size_t count) {
    float values[kBlockRows];
    kernel(p.weights + first * p.stride, p.stride, count, p.columns, p.x, values);
    for (size_t i = 0; i < count; ++i) {
        float v = values[i];
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
void runBlocks(RowsKernel kernel, std::span<const HalfProduct> products, size_t begin, size_t end) {
    size_t base = 0;
    for (const HalfProduct& p : products) {
        const size_t blocks = blocksOf(p);
        const size_t from = std::max(begin, base), to = std::min(end, base + blocks);
        for (size_t b = from; b < to; ++b) {
            const size_t first = (b - base) * kBlockRows;
            runBlock(kernel, p, first, std::min(kBlockRows, p.rows - first));
        }
        base += blocks;
        if (base >= end) break;
    }
}

} // namespace

void gemvHalf(std::span<const HalfProduct> products) {
    const RowsKernel kernel = rowsKernel();
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
    if (chunks <= 1) return runBlocks(kernel, products, 0, blocks);
    pool.parallelChunks(blocks, chunks,
                        [&](size_t begin, size_t end) { runBlocks(kernel, products, begin, end); });
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
